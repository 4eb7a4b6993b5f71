#include "tplayerlistmodel.h"

#include <algorithm>

namespace {

// Up to this many waiting entries are inserted row by row; more are merged.
constexpr qsizetype kRowByRow = 16;

} // namespace

int TPlayerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

QVariant TPlayerListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_entries.at(index.row());
    return {};
}

QString TPlayerListModel::nameOf(const QString &entry)
{
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    return colon < 0 ? entry : entry.left(colon);
}

bool TPlayerListModel::lessThan(const QString &a, const QString &b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

int TPlayerListModel::lowerBound(const QString &entry) const
{
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), entry, lessThan);
    return static_cast<int>(it - m_entries.begin());
}

const QString &TPlayerListModel::entry(int row)
{
    place();
    return m_entries.at(row);
}

int TPlayerListModel::findName(const QString &name)
{
    place();
    const auto found = m_byName.constFind(name);
    if (found == m_byName.constEnd())
        return -1;
    const int row = lowerBound(*found);
    return row < m_entries.size() && m_entries.at(row) == *found ? row : -1;
}

void TPlayerListModel::removePlaced(const QString &entry)
{
    const int row = lowerBound(entry);
    if (row >= m_entries.size() || m_entries.at(row) != entry)
        return;
    beginRemoveRows({}, row, row);
    m_entries.removeAt(row);
    endRemoveRows();
}

void TPlayerListModel::insert(const QString &entry)
{
    const QString name = nameOf(entry);
    const auto old = m_byName.constFind(name);
    if (old != m_byName.constEnd()) {
        if (*old == entry)
            return;
        // A new entry of a listed player (another hat, a game hosted) almost always
        // sorts where the old one stood: changing the row in place keeps the selection
        // and the scroll position on that player, where taking the row out would move
        // the selection to the neighbour below.
        if (!m_pending.contains(name)) {
            const int row = lowerBound(*old);
            if (row < m_entries.size() && m_entries.at(row) == *old &&
                (row == 0 || lessThan(m_entries.at(row - 1), entry)) &&
                (row + 1 == m_entries.size() || lessThan(entry, m_entries.at(row + 1)))) {
                m_entries[row] = entry;
                m_byName.insert(name, entry);
                emit dataChanged(index(row, 0), index(row, 0));
                return;
            }
            removePlaced(*old);
        }
    }
    m_byName.insert(name, entry);
    m_pending.insert(name, entry);
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
    const QString entry = *found;
    m_byName.erase(found);
    if (m_pending.remove(name) == 0)
        removePlaced(entry);
    return true;
}

void TPlayerListModel::clear()
{
    m_pending.clear();
    m_byName.clear();
    if (m_entries.isEmpty())
        return;
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

void TPlayerListModel::place()
{
    m_placeQueued = false;
    if (m_pending.isEmpty())
        return;
    QList<QString> batch = m_pending.values();
    m_pending.clear();
    std::sort(batch.begin(), batch.end(), lessThan);
    if (batch.size() <= kRowByRow) {
        for (const QString &entry : batch) {
            const int row = lowerBound(entry);
            beginInsertRows({}, row, row);
            m_entries.insert(row, entry);
            endInsertRows();
        }
        return;
    }
    QList<QString> merged;
    merged.reserve(m_entries.size() + batch.size());
    std::merge(m_entries.begin(), m_entries.end(), batch.begin(), batch.end(),
               std::back_inserter(merged), lessThan);
    beginResetModel();
    m_entries.swap(merged);
    endResetModel();
}
