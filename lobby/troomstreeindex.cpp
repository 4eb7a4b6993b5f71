#include "troomstreeindex.h"

#include <QTreeWidget>

TRoomsTreeIndex::TRoomsTreeIndex(QTreeWidget *tree) : QObject(tree)
{
    connect(tree->model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_rooms.clear();
        m_players.clear();
    });
}

void TRoomsTreeIndex::addRoom(const QString &text, QTreeWidgetItem *node)
{
    if (!m_rooms.contains(text))
        m_rooms.insert(text, node);
}
