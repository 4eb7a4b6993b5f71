#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

// Room nodes by text and player nodes by name beside the rooms tree, so that a player
// entry never scans the tree. It lives as a child of the tree and forgets every node
// when the tree is emptied; being the tree's child, it outlives the tree's model while
// the window is destroyed.
class TRoomsTreeIndex final : public QObject
{
    Q_OBJECT
public:
    explicit TRoomsTreeIndex(QTreeWidget *tree);

    // The first room node made with that text, or nullptr.
    QTreeWidgetItem *room(const QString &text) const { return m_rooms.value(text); }
    QTreeWidgetItem *player(const QString &name) const { return m_players.value(name); }
    void addRoom(const QString &text, QTreeWidgetItem *node);
    void setPlayer(const QString &name, QTreeWidgetItem *node) { m_players.insert(name, node); }
    // Forgets the player's node and hands it over (nullptr when there is none).
    QTreeWidgetItem *takePlayer(const QString &name) { return m_players.take(name); }

    // Player nodes move in short batches: a tree view lays out every shown node again
    // after each change, so each pass over the event loop that changes the tree costs
    // as much as the whole tree. A move waits at most kMoveDelayMs; the latest room of
    // each player wins. An empty room takes the player out of the tree.
    static constexpr int kMoveDelayMs = 150;
    void queueMove(const QString &name, const QString &room);
    QHash<QString, QString> takeMoves();
    // Called when the delay is over.
    void setPlacer(std::function<void()> placer) { m_placer = std::move(placer); }

private:
    QHash<QString, QTreeWidgetItem *> m_rooms;
    QHash<QString, QTreeWidgetItem *> m_players;
    QHash<QString, QString> m_moves;
    QTimer m_delay;
    std::function<void()> m_placer;
};
