#include "tplayerlistmodel.h"

#include <algorithm>

namespace {

// Up to this many waiting rows are inserted row by row; more are merged.
constexpr qsizetype kRowByRow = 16;

} // namespace

int TPlayerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant TPlayerListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const PlayerRow &player = m_rows.at(index.row())->player;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return player.caption();
    case NameRole:
        return player.name;
    default:
        return {};
    }
}

const PlayerRow *TPlayerListModel::find(const QString &name) const
{
    const auto found = m_byName.constFind(name);
    return found == m_byName.constEnd() ? nullptr : &(*found)->player;
}

QString TPlayerListModel::entryOf(const QString &name) const
{
    const PlayerRow *player = find(name);
    return player ? player->text() : QString();
}

bool TPlayerListModel::lessThan(const QString &a, const QString &b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

int TPlayerListModel::lowerBound(const QString &key) const
{
    const auto it =
        std::lower_bound(m_rows.begin(), m_rows.end(), key,
                         [](const RowPtr &row, const QString &k) { return lessThan(row->key, k); });
    return static_cast<int>(it - m_rows.begin());
}

int TPlayerListModel::rowOfKey(const QString &key) const
{
    const int row = lowerBound(key);
    return row < m_rows.size() && m_rows.at(row)->key == key ? row : -1;
}

QString TPlayerListModel::entry(int row)
{
    place();
    return m_rows.at(row)->key;
}

int TPlayerListModel::findName(const QString &name)
{
    place();
    const auto found = m_byName.constFind(name);
    return found == m_byName.constEnd() ? -1 : rowOfKey((*found)->key);
}

void TPlayerListModel::removePlaced(const QString &key)
{
    const int row = rowOfKey(key);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void TPlayerListModel::insert(const PlayerRow &player)
{
    RowPtr added = RowPtr::create(Row{player, player.text()});
    const auto old = m_byName.constFind(player.name);
    if (old != m_byName.constEnd()) {
        if ((*old)->player == player)
            return;
        // A new entry of a listed player (another hat, a game hosted) almost always
        // sorts where the old one stood: changing the row in place keeps the selection
        // and the scroll position on that player, where taking the row out would move
        // the selection to the neighbour below.
        if (!m_pending.contains(player.name)) {
            const int row = rowOfKey((*old)->key);
            if (row >= 0 && (row == 0 || rowLess(m_rows.at(row - 1), added)) &&
                (row + 1 == m_rows.size() || rowLess(added, m_rows.at(row + 1)))) {
                m_rows[row] = added;
                m_byName.insert(player.name, added);
                emit dataChanged(index(row, 0), index(row, 0));
                return;
            }
            removePlaced(QString((*old)->key));
        }
    }
    m_byName.insert(player.name, added);
    m_pending.insert(player.name, std::move(added));
    if (!m_placeQueued) {
        m_placeQueued = true;
        QMetaObject::invokeMethod(this, &TPlayerListModel::place, Qt::QueuedConnection);
    }
}

bool TPlayerListModel::removeName(const QString &name)
{
    const auto found = m_byName.constFind(name);
    if (found == m_byName.constEnd())
        return false;
    const QString key = (*found)->key;
    m_byName.erase(found);
    if (m_pending.remove(name) == 0)
        removePlaced(key);
    return true;
}

void TPlayerListModel::clear()
{
    m_pending.clear();
    m_byName.clear();
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void TPlayerListModel::place()
{
    m_placeQueued = false;
    if (m_pending.isEmpty())
        return;
    QList<RowPtr> batch = m_pending.values();
    m_pending.clear();
    std::sort(batch.begin(), batch.end(), rowLess);
    if (batch.size() <= kRowByRow) {
        for (RowPtr &row : batch) {
            const int at = lowerBound(row->key);
            beginInsertRows({}, at, at);
            m_rows.insert(at, std::move(row));
            endInsertRows();
        }
        return;
    }
    // Views read the rows they show before the reset: the rows move only after that.
    beginResetModel();
    QList<RowPtr> merged;
    merged.reserve(m_rows.size() + batch.size());
    std::merge(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(m_rows.end()),
               std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()),
               std::back_inserter(merged), rowLess);
    m_rows.swap(merged);
    endResetModel();
}
