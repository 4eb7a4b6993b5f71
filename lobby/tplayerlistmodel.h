#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>

// The entries of a players list ("name:level:room:" or "name:level:room:[game]"), kept
// sorted by text without regard to letter case, one entry per player name. A name index
// beside the sorted rows answers every look-up by name with a hash probe. New entries
// are gathered and placed once the burst they came in has been handled: a room entry
// brings thousands of players in one message, and placing them one by one would move
// the rows after each of them every time. A few are inserted row by row; a large batch
// is merged in one pass and reported as a reset, after which the view keeps its place.
class TPlayerListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // What views see: the placed rows only, so that the rows and the signals sent so far
    // always agree.
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Every player listed, placed or not yet.
    int count() const { return static_cast<int>(m_entries.size() + m_pending.size()); }
    bool contains(const QString &name) const { return m_byName.contains(name); }
    // The player's entry, or an empty text.
    QString entryOf(const QString &name) const { return m_byName.value(name); }
    // Row look-ups place waiting entries first.
    const QString &entry(int row);
    // The row of the player's entry (name compared exactly, with case) or -1.
    int findName(const QString &name);
    // Adds the entry, replacing an entry of the same player.
    void insert(const QString &entry);
    bool removeName(const QString &name);
    void clear();
    // Places the waiting entries now (otherwise done once control returns to the
    // event loop).
    void place();

    // The text before the first ":".
    static QString nameOf(const QString &entry);
    // The list order: letter case ignored, then with case so that the order is total.
    static bool lessThan(const QString &a, const QString &b);

private:
    int lowerBound(const QString &entry) const;
    void removePlaced(const QString &entry);

    QList<QString> m_entries;
    QHash<QString, QString> m_byName;
    QHash<QString, QString> m_pending;
    bool m_placeQueued = false;
};
