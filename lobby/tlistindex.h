#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QAbstractItemModel;

// A case-insensitive index of the texts of a list model, kept up to date from the
// model's own change signals (also for changes made by code that knows nothing of the
// index), so that "is this text in the list" never scans the list.
class TListIndex final : public QObject
{
    Q_OBJECT
public:
    explicit TListIndex(QAbstractItemModel *model, QObject *parent = nullptr);

    bool contains(const QString &text) const { return m_counts.contains(text.toCaseFolded()); }

private:
    void add(int first, int last, int delta);
    void rebuild();

    QAbstractItemModel *m_model;
    QHash<QString, int> m_counts;
};
