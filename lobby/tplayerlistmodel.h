#pragma once

#include "playerrow.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSharedPointer>
#include <QString>

// The rows of a players list, one record per player name, kept sorted by their entry
// text ("name:level:room:" or "name:level:room:[game]") without regard to letter case.
// A name index beside the sorted rows answers every look-up by name with a hash probe.
// New rows are gathered and placed once the burst they came in has been handled: a room
// entry brings thousands of players in one message, and placing them one by one would
// move the rows after each of them every time. A few are inserted row by row; a large
// batch is merged in one pass and reported as a reset, after which the view keeps its
// place.
class TPlayerListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    // The player's name, for whoever holds only an index.
    static constexpr int NameRole = Qt::UserRole;

    using QAbstractListModel::QAbstractListModel;

    // What views see: the placed rows only, so that the rows and the signals sent so far
    // always agree. The display text is the row's caption.
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // The record behind a placed row.
    const PlayerRow &placed(int row) const { return m_rows.at(row)->player; }

    // Every player listed, placed or not yet.
    int count() const { return static_cast<int>(m_rows.size() + m_pending.size()); }
    bool contains(const QString &name) const { return m_byName.contains(name); }
    // The player's record, placed or not, or nullptr.
    const PlayerRow *find(const QString &name) const;
    // The player's entry text, or an empty text.
    QString entryOf(const QString &name) const;
    // Row look-ups place waiting rows first.
    QString entry(int row);
    // The row of the player (name compared exactly, with case) or -1.
    int findName(const QString &name);
    // Adds the row, replacing the row of the same player.
    void insert(const PlayerRow &player);
    bool removeName(const QString &name);
    void clear();
    // Places the waiting rows now (otherwise done once control returns to the event
    // loop).
    void place();

    // The list order: letter case ignored, then with case so that the order is total.
    static bool lessThan(const QString &a, const QString &b);

private:
    // A record with its sort key, made once: comparing keys is all a search does. The
    // rows are held by pointer, so that a row coming or going in a long list moves
    // pointers, not records; a pointer the list may move as plain bytes (a standard
    // shared pointer is moved one by one).
    struct Row
    {
        PlayerRow player;
        QString key;
    };
    using RowPtr = QSharedPointer<const Row>;
    static bool rowLess(const RowPtr &a, const RowPtr &b) { return lessThan(a->key, b->key); }

    int lowerBound(const QString &key) const;
    // The placed row of that key, or -1.
    int rowOfKey(const QString &key) const;
    void removePlaced(const QString &key);

    QList<RowPtr> m_rows;
    QHash<QString, RowPtr> m_byName;
    QHash<QString, RowPtr> m_pending;
    bool m_placeQueued = false;
};
