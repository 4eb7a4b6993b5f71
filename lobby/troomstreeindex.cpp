#include "troomstreeindex.h"

#include <QTreeWidget>

#include <utility>

TRoomsTreeIndex::TRoomsTreeIndex(QTreeWidget *tree) : QObject(tree)
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(kMoveDelayMs);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        if (m_placer)
            m_placer();
    });
    connect(tree->model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_rooms.clear();
        m_players.clear();
        m_moves.clear();
        m_delay.stop();
    });
}

void TRoomsTreeIndex::queueMove(const QString &name, const QString &room)
{
    m_moves.insert(name, room);
    if (!m_delay.isActive())
        m_delay.start();
}

QHash<QString, QString> TRoomsTreeIndex::takeMoves()
{
    m_delay.stop();
    return std::exchange(m_moves, {});
}

void TRoomsTreeIndex::addRoom(const QString &text, QTreeWidgetItem *node)
{
    if (!m_rooms.contains(text))
        m_rooms.insert(text, node);
}
