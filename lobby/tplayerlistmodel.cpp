#include "tplayerlistmodel.h"

#include <algorithm>

int TPlayerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant TPlayerListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return entry(index.row());
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

int TPlayerListModel::findName(const QString &name) const
{
    const auto found = m_byName.constFind(name);
    if (found == m_byName.constEnd())
        return -1;
    const int row = lowerBound(*found);
    return row < count() && entry(row) == *found ? row : -1;
}

void TPlayerListModel::removeRow(int row)
{
    beginRemoveRows({}, row, row);
    m_entries.erase(m_entries.begin() + row);
    endRemoveRows();
}

int TPlayerListModel::insert(const QString &entry)
{
    const QString name = nameOf(entry);
    const int old = findName(name);
    if (old >= 0) {
        if (m_entries[static_cast<std::size_t>(old)] == entry)
            return old;
        removeRow(old);
    }
    const int row = lowerBound(entry);
    beginInsertRows({}, row, row);
    m_entries.insert(m_entries.begin() + row, entry);
    m_byName.insert(name, entry);
    endInsertRows();
    return row;
}

bool TPlayerListModel::removeName(const QString &name)
{
    const int row = findName(name);
    if (row < 0)
        return false;
    m_byName.remove(name);
    removeRow(row);
    return true;
}

void TPlayerListModel::clear()
{
    if (m_entries.empty())
        return;
    beginResetModel();
    m_entries.clear();
    m_byName.clear();
    endResetModel();
}
