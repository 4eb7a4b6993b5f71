#pragma once

#include "tflattreemodel.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

// The rooms tree's nodes: categories at the top, the game rooms under them and the
// players under their room. Siblings are kept sorted by their text (letter case ignored,
// then with case) and placed by binary search; rooms and players are found by hashes.
// Which nodes are expanded lives here too, so that a node's row in the flat list of
// shown nodes follows from the counts of the nodes before it: a player's place is its
// row in its room, a room's is found by adding the shown rows of the rooms before it.
// Finding a flat row therefore costs a walk over the categories and rooms, never over
// the players.
//
// Player moves are gathered and carried out once control returns to the event loop (or
// when a look-up needs them): the latest room of each player wins, and entering a room
// lists thousands of players in one message, which are then placed in one pass.
class TRoomsTreeModel final : public TFlatTreeModel
{
    Q_OBJECT
public:
    // The node's picture number: 0 a category, 1 a player, 2 and up a room's picture.
    static constexpr int PictureRole = Qt::UserRole + 1;
    static constexpr int kCategoryPicture = 0;
    static constexpr int kPlayerPicture = 1;

    explicit TRoomsTreeModel(QObject *parent = nullptr);
    ~TRoomsTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The pictures drawn beside the nodes, by picture number.
    void setPictures(const QList<QPixmap> &pictures);

    void clear();
    // A category at the top (its text is shown bold).
    QModelIndex addCategory(const QString &text);
    // A room under a category. The first room made with a text is the one found by it.
    QModelIndex addRoom(const QModelIndex &category, const QString &text, int picture);
    QModelIndex category(const QString &text) const;
    QModelIndex room(const QString &text) const;
    // The player's node (moves still waiting are carried out first), or an invalid index.
    QModelIndex player(const QString &name);
    // Puts the player under the room (an empty or unknown room takes the player out).
    void queueMove(const QString &name, const QString &room);
    // Carries out the waiting moves now.
    void place();

    QString text(const QModelIndex &index) const override;
    int picture(const QModelIndex &index) const;

    bool isExpanded(const QModelIndex &index) const override;
    void setExpanded(const QModelIndex &index, bool expanded) override;
    int depth(const QModelIndex &index) const override;
    int shownRows() const override;
    int flatRow(const QModelIndex &index) const override;
    QModelIndex atFlatRow(int row) const override;
    QModelIndex nextShown(const QModelIndex &index) const override;
    int shownRowsOf(const QModelIndex &index) const override;
    int rowsUnder(const QModelIndex &index) const override;

    // The order of siblings.
    static bool textLess(const QString &a, const QString &b);

private:
    struct Node
    {
        QString text;
        int picture = 0;
        bool expanded = false;
        Node *parent = nullptr;
        QList<Node *> children;
    };

    static int shownOf(const Node *node);
    static void destroy(Node *node);
    int rowOf(const Node *node) const;
    QModelIndex indexOf(Node *node) const;
    const QList<Node *> &siblingsOf(const Node *node) const;
    Node *nodeOf(const QModelIndex &index) const;
    // Inserts a node at its sorted place under parent (nullptr for the top).
    QModelIndex insertSorted(Node *parent, Node *node);
    void removePlayer(Node *node);
    void arrive(Node *room, QList<Node *> nodes);

    QList<Node *> m_categories;
    QHash<QString, Node *> m_rooms;
    QHash<QString, Node *> m_players;
    QHash<QString, QString> m_moves;
    bool m_placeQueued = false;
    QList<QIcon> m_icons;
};
