#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QString>

#include <vector>

// The entries of a players list ("name:level:room:" or "name:level:room:[game]"), kept
// sorted by text without regard to letter case, one entry per player name. A name index
// beside the sorted rows makes every look-up, insertion and removal cost a hash probe
// and a binary search instead of a scan, and each change reports only the rows it
// touches, so views never rebuild the whole list.
class TPlayerListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    int count() const { return static_cast<int>(m_entries.size()); }
    const QString &entry(int row) const { return m_entries[static_cast<std::size_t>(row)]; }
    // The row of the player's entry (name compared exactly, with case) or -1.
    int findName(const QString &name) const;
    // The player's entry, or an empty text.
    QString entryOf(const QString &name) const { return m_byName.value(name); }
    // Adds the entry at its sorted place, replacing an entry of the same player; returns
    // its row.
    int insert(const QString &entry);
    bool removeName(const QString &name);
    void clear();

    // The text before the first ":".
    static QString nameOf(const QString &entry);
    // The list order: letter case ignored, then with case so that the order is total.
    static bool lessThan(const QString &a, const QString &b);

private:
    int lowerBound(const QString &entry) const;
    void removeRow(int row);

    std::vector<QString> m_entries;
    QHash<QString, QString> m_byName;
};
