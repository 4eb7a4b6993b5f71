#include "tgamestreemodel.h"

#include <QFont>

#include <algorithm>
#include <utility>

TGamesTreeModel::TGamesTreeModel(QObject *parent) : TFlatTreeModel(parent) {}

TGamesTreeModel::~TGamesTreeModel()
{
    for (Node *game : std::as_const(m_games))
        destroy(game);
}

void TGamesTreeModel::destroy(Node *node)
{
    for (Node *child : std::as_const(node->children))
        destroy(child);
    delete node;
}

TGamesTreeModel::Node *TGamesTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this ? static_cast<Node *>(index.internalPointer())
                                                    : nullptr;
}

const QList<TGamesTreeModel::Node *> &TGamesTreeModel::siblingsOf(const Node *node) const
{
    return node->parent ? node->parent->children : m_games;
}

int TGamesTreeModel::rowOf(const Node *node) const
{
    const QList<Node *> &siblings = siblingsOf(node);
    auto it = std::lower_bound(siblings.begin(), siblings.end(), node->text,
                               [](const Node *n, const QString &t) { return n->text < t; });
    for (; it != siblings.end() && (*it)->text == node->text; ++it) {
        if (*it == node)
            return static_cast<int>(it - siblings.begin());
    }
    return -1;
}

QModelIndex TGamesTreeModel::indexOf(Node *node) const
{
    return node ? createIndex(rowOf(node), 0, node) : QModelIndex();
}

QModelIndex TGamesTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    const Node *under = nodeOf(parent);
    if (parent.isValid() && !under)
        return {};
    const QList<Node *> &children = under ? under->children : m_games;
    return row < children.size() ? createIndex(row, 0, children.at(row)) : QModelIndex();
}

QModelIndex TGamesTreeModel::parent(const QModelIndex &child) const
{
    const Node *node = nodeOf(child);
    return node ? indexOf(node->parent) : QModelIndex();
}

int TGamesTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_games.size());
    const Node *node = nodeOf(parent);
    return node && parent.column() == 0 ? static_cast<int>(node->children.size()) : 0;
}

int TGamesTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool TGamesTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant TGamesTreeModel::data(const QModelIndex &index, int role) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return node->text;
    case Qt::FontRole:
        // A game's text is bold, its players' plain.
        if (!node->parent) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags TGamesTreeModel::flags(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return node->parent ? flags | Qt::ItemNeverHasChildren : flags;
}

void TGamesTreeModel::clear()
{
    m_gamesByText.clear();
    m_players.clear();
    if (m_games.isEmpty())
        return;
    beginResetModel();
    for (Node *game : std::as_const(m_games))
        destroy(game);
    m_games.clear();
    endResetModel();
}

QModelIndex TGamesTreeModel::insertSorted(Node *parent, Node *node)
{
    QList<Node *> &siblings = parent ? parent->children : m_games;
    const auto it = std::upper_bound(siblings.begin(), siblings.end(), node->text,
                                     [](const QString &t, const Node *n) { return t < n->text; });
    const int row = static_cast<int>(it - siblings.begin());
    beginInsertRows(indexOf(parent), row, row);
    node->parent = parent;
    siblings.insert(row, node);
    endInsertRows();
    return createIndex(row, 0, node);
}

QModelIndex TGamesTreeModel::addGame(const QString &text)
{
    if (Node *listed = m_gamesByText.value(text))
        return indexOf(listed);
    auto *node = new Node{text, true, nullptr, {}};
    m_gamesByText.insert(text, node);
    return insertSorted(nullptr, node);
}

QModelIndex TGamesTreeModel::addPlayer(const QModelIndex &game, const QString &name)
{
    Node *under = nodeOf(game);
    if (!under || under->parent)
        return {};
    if (Node *old = m_players.value(name)) {
        if (old->parent == under)
            return indexOf(old);
        remove(indexOf(old));
    }
    auto *node = new Node{name, false, nullptr, {}};
    m_players.insert(name, node);
    return insertSorted(under, node);
}

QModelIndex TGamesTreeModel::game(const QString &text) const
{
    return indexOf(m_gamesByText.value(text));
}

QModelIndex TGamesTreeModel::player(const QString &name) const
{
    return indexOf(m_players.value(name));
}

QModelIndex TGamesTreeModel::find(const QString &text) const
{
    const QModelIndex listed = game(text);
    return listed.isValid() ? listed : player(text);
}

void TGamesTreeModel::remove(const QModelIndex &index)
{
    Node *node = nodeOf(index);
    if (!node)
        return;
    const int row = rowOf(node);
    beginRemoveRows(indexOf(node->parent), row, row);
    if (node->parent) {
        node->parent->children.removeAt(row);
        m_players.remove(node->text);
    } else {
        m_games.removeAt(row);
        m_gamesByText.remove(node->text);
        for (const Node *player : std::as_const(node->children))
            m_players.remove(player->text);
    }
    endRemoveRows();
    destroy(node);
}

void TGamesTreeModel::removeText(const QString &text)
{
    remove(game(text));
    remove(player(text));
}

QString TGamesTreeModel::text(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? node->text : QString();
}

bool TGamesTreeModel::isExpanded(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node && node->expanded;
}

void TGamesTreeModel::setExpanded(const QModelIndex &index, bool expanded)
{
    Node *node = nodeOf(index);
    // Players have no rows of their own to show.
    if (!node || node->parent || node->expanded == expanded)
        return;
    node->expanded = expanded;
    emit expansionChanged(index, expanded);
}

int TGamesTreeModel::depth(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node && node->parent ? 1 : 0;
}

int TGamesTreeModel::shownOf(const Node *node)
{
    return node->expanded ? 1 + static_cast<int>(node->children.size()) : 1;
}

int TGamesTreeModel::shownRowsOf(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? shownOf(node) : 0;
}

int TGamesTreeModel::rowsUnder(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? static_cast<int>(node->children.size()) : 0;
}

int TGamesTreeModel::shownRows() const
{
    int shown = 0;
    for (const Node *game : m_games)
        shown += shownOf(game);
    return shown;
}

int TGamesTreeModel::flatRow(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return -1;
    const Node *game = node->parent ? node->parent : node;
    if (node->parent && !game->expanded)
        return -1;
    int flat = 0;
    for (const Node *before : m_games) {
        if (before == game)
            break;
        flat += shownOf(before);
    }
    return node->parent ? flat + 1 + index.row() : flat;
}

QModelIndex TGamesTreeModel::atFlatRow(int row) const
{
    if (row < 0)
        return {};
    for (int g = 0; g < m_games.size(); ++g) {
        Node *game = m_games.at(g);
        if (row == 0)
            return createIndex(g, 0, game);
        --row;
        if (!game->expanded)
            continue;
        if (row < game->children.size())
            return createIndex(row, 0, game->children.at(row));
        row -= static_cast<int>(game->children.size());
    }
    return {};
}

QModelIndex TGamesTreeModel::nextShown(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    if (node->expanded && !node->children.isEmpty())
        return createIndex(0, 0, node->children.first());
    const QList<Node *> &siblings = siblingsOf(node);
    if (index.row() + 1 < siblings.size())
        return createIndex(index.row() + 1, 0, siblings.at(index.row() + 1));
    if (!node->parent)
        return {};
    const int game = rowOf(node->parent);
    return game + 1 < m_games.size() ? createIndex(game + 1, 0, m_games.at(game + 1))
                                     : QModelIndex();
}
