#pragma once

#include "tflattreemodel.h"

#include <QHash>
#include <QList>
#include <QString>

// The games hosted in a room, each with the players in it. Games and the players of a
// game are kept sorted by their text (compared with letter case) and placed by binary
// search; games and players are found by hashes. A game is shown open when it is made.
// A node's row among the shown nodes follows from the counts of the games before it, so
// finding it costs a walk over the games, never over the players.
class TGamesTreeModel final : public TFlatTreeModel
{
    Q_OBJECT
public:
    explicit TGamesTreeModel(QObject *parent = nullptr);
    ~TGamesTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void clear();
    // A game of that text (open) at its place; the game already listed under it if any.
    QModelIndex addGame(const QString &text);
    // Puts the player under the game, taking it out of the game it was in.
    QModelIndex addPlayer(const QModelIndex &game, const QString &name);
    QModelIndex game(const QString &text) const;
    QModelIndex player(const QString &name) const;
    // The game of that text, else the player of that name, else an invalid index.
    QModelIndex find(const QString &text) const;
    // Takes the node away: a game goes with its players.
    void remove(const QModelIndex &index);
    // Takes away the game and the player of that text, where listed.
    void removeText(const QString &text);

    QString text(const QModelIndex &index) const override;
    bool isExpanded(const QModelIndex &index) const override;
    void setExpanded(const QModelIndex &index, bool expanded) override;
    int depth(const QModelIndex &index) const override;
    int shownRows() const override;
    int flatRow(const QModelIndex &index) const override;
    QModelIndex atFlatRow(int row) const override;
    QModelIndex nextShown(const QModelIndex &index) const override;
    int shownRowsOf(const QModelIndex &index) const override;
    int rowsUnder(const QModelIndex &index) const override;

private:
    struct Node
    {
        QString text;
        bool expanded = false;
        Node *parent = nullptr;
        QList<Node *> children;
    };

    static int shownOf(const Node *node);
    int rowOf(const Node *node) const;
    QModelIndex indexOf(Node *node) const;
    const QList<Node *> &siblingsOf(const Node *node) const;
    Node *nodeOf(const QModelIndex &index) const;
    QModelIndex insertSorted(Node *parent, Node *node);
    void destroy(Node *node);

    QList<Node *> m_games;
    QHash<QString, Node *> m_gamesByText;
    QHash<QString, Node *> m_players;
};
