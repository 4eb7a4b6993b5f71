#include "troomstreemodel.h"

#include <QFont>

#include <algorithm>
#include <utility>

namespace {

// Up to this many arrivals in one room are inserted one by one; more, when they are not
// few beside the room's players, are appended and merged in one pass.
constexpr qsizetype kOneByOne = 16;

} // namespace

TRoomsTreeModel::TRoomsTreeModel(QObject *parent) : TFlatTreeModel(parent) {}

TRoomsTreeModel::~TRoomsTreeModel()
{
    for (Node *category : std::as_const(m_categories))
        destroy(category);
}

void TRoomsTreeModel::destroy(Node *node)
{
    for (Node *child : std::as_const(node->children))
        destroy(child);
    delete node;
}

bool TRoomsTreeModel::textLess(const QString &a, const QString &b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

TRoomsTreeModel::Node *TRoomsTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() && index.model() == this ? static_cast<Node *>(index.internalPointer())
                                                    : nullptr;
}

const QList<TRoomsTreeModel::Node *> &TRoomsTreeModel::siblingsOf(const Node *node) const
{
    return node->parent ? node->parent->children : m_categories;
}

int TRoomsTreeModel::rowOf(const Node *node) const
{
    const QList<Node *> &siblings = siblingsOf(node);
    auto it =
        std::lower_bound(siblings.begin(), siblings.end(), node->text,
                         [](const Node *n, const QString &t) { return textLess(n->text, t); });
    for (; it != siblings.end() && (*it)->text == node->text; ++it) {
        if (*it == node)
            return static_cast<int>(it - siblings.begin());
    }
    // Only while a merged batch still stands at the end of its room, unsorted.
    return static_cast<int>(siblings.indexOf(node));
}

QModelIndex TRoomsTreeModel::indexOf(Node *node) const
{
    return node ? createIndex(rowOf(node), 0, node) : QModelIndex();
}

QModelIndex TRoomsTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    const Node *under = nodeOf(parent);
    if (parent.isValid() && !under)
        return {};
    const QList<Node *> &children = under ? under->children : m_categories;
    return row < children.size() ? createIndex(row, 0, children.at(row)) : QModelIndex();
}

QModelIndex TRoomsTreeModel::parent(const QModelIndex &child) const
{
    const Node *node = nodeOf(child);
    return node ? indexOf(node->parent) : QModelIndex();
}

int TRoomsTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_categories.size());
    const Node *node = nodeOf(parent);
    return node && parent.column() == 0 ? static_cast<int>(node->children.size()) : 0;
}

int TRoomsTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool TRoomsTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant TRoomsTreeModel::data(const QModelIndex &index, int role) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return node->text;
    case Qt::DecorationRole:
        return node->picture < m_icons.size() ? QVariant(m_icons.at(node->picture)) : QVariant();
    case Qt::FontRole:
        if (!node->parent) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case PictureRole:
        return node->picture;
    default:
        return {};
    }
}

Qt::ItemFlags TRoomsTreeModel::flags(const QModelIndex &index) const
{
    return nodeOf(index) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TRoomsTreeModel::setPictures(const QList<QPixmap> &pictures)
{
    m_icons.clear();
    for (const QPixmap &picture : pictures)
        m_icons << QIcon(picture);
    if (!m_categories.isEmpty())
        emit dataChanged(index(0, 0), index(static_cast<int>(m_categories.size()) - 1, 0),
                         {Qt::DecorationRole});
}

void TRoomsTreeModel::clear()
{
    m_moves.clear();
    m_rooms.clear();
    m_players.clear();
    if (m_categories.isEmpty())
        return;
    beginResetModel();
    for (Node *category : std::as_const(m_categories))
        destroy(category);
    m_categories.clear();
    endResetModel();
}

QModelIndex TRoomsTreeModel::insertSorted(Node *parent, Node *node)
{
    QList<Node *> &siblings = parent ? parent->children : m_categories;
    const auto it =
        std::upper_bound(siblings.begin(), siblings.end(), node->text,
                         [](const QString &t, const Node *n) { return textLess(t, n->text); });
    const int row = static_cast<int>(it - siblings.begin());
    beginInsertRows(indexOf(parent), row, row);
    node->parent = parent;
    siblings.insert(row, node);
    endInsertRows();
    return createIndex(row, 0, node);
}

QModelIndex TRoomsTreeModel::addCategory(const QString &text)
{
    return insertSorted(nullptr, new Node{text, kCategoryPicture, false, nullptr, {}});
}

QModelIndex TRoomsTreeModel::addRoom(const QModelIndex &category, const QString &text, int picture)
{
    Node *under = nodeOf(category);
    if (!under)
        return {};
    auto *node = new Node{text, picture, false, nullptr, {}};
    const QModelIndex added = insertSorted(under, node);
    if (!m_rooms.contains(text))
        m_rooms.insert(text, node);
    return added;
}

QModelIndex TRoomsTreeModel::category(const QString &text) const
{
    for (Node *node : m_categories) {
        if (node->text == text)
            return indexOf(node);
    }
    return {};
}

QModelIndex TRoomsTreeModel::room(const QString &text) const
{
    return indexOf(m_rooms.value(text));
}

QModelIndex TRoomsTreeModel::player(const QString &name)
{
    place();
    return indexOf(m_players.value(name));
}

QString TRoomsTreeModel::text(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? node->text : QString();
}

int TRoomsTreeModel::picture(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? node->picture : -1;
}

void TRoomsTreeModel::queueMove(const QString &name, const QString &room)
{
    m_moves.insert(name, room);
    if (!m_placeQueued) {
        m_placeQueued = true;
        QMetaObject::invokeMethod(this, &TRoomsTreeModel::place, Qt::QueuedConnection);
    }
}

void TRoomsTreeModel::place()
{
    m_placeQueued = false;
    if (m_moves.isEmpty())
        return;
    const QHash<QString, QString> moves = std::exchange(m_moves, {});
    QHash<Node *, QList<Node *>> arrivals;
    for (auto it = moves.cbegin(); it != moves.cend(); ++it) {
        Node *room = it.value().isEmpty() ? nullptr : m_rooms.value(it.value());
        Node *old = m_players.value(it.key());
        // Listed again where it is already (entering a room lists everyone in it).
        if (old && old->parent == room)
            continue;
        if (old) {
            m_players.remove(it.key());
            removePlayer(old);
        }
        if (!room)
            continue;
        auto *node = new Node{it.key(), kPlayerPicture, false, nullptr, {}};
        arrivals[room] << node;
        m_players.insert(it.key(), node);
    }
    for (auto it = arrivals.begin(); it != arrivals.end(); ++it)
        arrive(it.key(), std::move(it.value()));
}

void TRoomsTreeModel::removePlayer(Node *node)
{
    const int row = rowOf(node);
    beginRemoveRows(indexOf(node->parent), row, row);
    node->parent->children.removeAt(row);
    endRemoveRows();
    delete node;
}

void TRoomsTreeModel::arrive(Node *room, QList<Node *> nodes)
{
    const auto less = [](const Node *a, const Node *b) { return textLess(a->text, b->text); };
    std::sort(nodes.begin(), nodes.end(), less);
    QList<Node *> &players = room->children;
    const QModelIndex parent = indexOf(room);
    if (nodes.size() <= kOneByOne || nodes.size() * 32 < players.size()) {
        for (Node *node : std::as_const(nodes))
            insertSorted(room, node);
        return;
    }
    // Many at once: inserting each would shift the room's players every time. They are
    // appended in one go and then merged with the players already there.
    const int first = static_cast<int>(players.size());
    beginInsertRows(parent, first, first + static_cast<int>(nodes.size()) - 1);
    for (Node *node : std::as_const(nodes))
        node->parent = room;
    players.append(nodes);
    endInsertRows();
    if (first == 0)
        return;
    const QPersistentModelIndex kept(parent);
    emit layoutAboutToBeChanged({kept}, QAbstractItemModel::VerticalSortHint);
    std::inplace_merge(players.begin(), players.begin() + first, players.end(), less);
    // Whatever a view holds under the room (its current node, the selection) follows the
    // node to its new row.
    QModelIndexList from;
    QModelIndexList to;
    for (const QModelIndex &held : persistentIndexList()) {
        Node *node = nodeOf(held);
        if (node && node->parent == room) {
            from << held;
            to << createIndex(rowOf(node), 0, node);
        }
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({kept}, QAbstractItemModel::VerticalSortHint);
}

bool TRoomsTreeModel::isExpanded(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node && node->expanded;
}

void TRoomsTreeModel::setExpanded(const QModelIndex &index, bool expanded)
{
    Node *node = nodeOf(index);
    if (!node || node->expanded == expanded)
        return;
    node->expanded = expanded;
    emit expansionChanged(index, expanded);
}

int TRoomsTreeModel::depth(const QModelIndex &index) const
{
    int depth = 0;
    for (const Node *node = nodeOf(index); node && node->parent; node = node->parent)
        ++depth;
    return depth;
}

int TRoomsTreeModel::shownOf(const Node *node)
{
    if (!node->expanded || node->children.isEmpty())
        return 1;
    // A room's children are players, which have none.
    if (node->parent)
        return 1 + static_cast<int>(node->children.size());
    int shown = 1;
    for (const Node *child : node->children)
        shown += shownOf(child);
    return shown;
}

int TRoomsTreeModel::shownRowsOf(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node ? shownOf(node) : 0;
}

int TRoomsTreeModel::rowsUnder(const QModelIndex &index) const
{
    Node *node = nodeOf(index);
    if (!node)
        return 0;
    const bool expanded = std::exchange(node->expanded, true);
    const int rows = shownOf(node) - 1;
    node->expanded = expanded;
    return rows;
}

int TRoomsTreeModel::shownRows() const
{
    int shown = 0;
    for (const Node *category : m_categories)
        shown += shownOf(category);
    return shown;
}

int TRoomsTreeModel::flatRow(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return -1;
    int flat = 0;
    int row = index.row();
    while (node) {
        const Node *parent = node->parent;
        if (parent && !parent->expanded)
            return -1;
        if (parent && parent->parent) {
            // The players before this one take a row each.
            flat += row;
        } else {
            const QList<Node *> &siblings = siblingsOf(node);
            for (int i = 0; i < row; ++i)
                flat += shownOf(siblings.at(i));
        }
        if (parent) {
            flat += 1;
            row = rowOf(parent);
        }
        node = parent;
    }
    return flat;
}

QModelIndex TRoomsTreeModel::atFlatRow(int row) const
{
    if (row < 0)
        return {};
    for (int c = 0; c < m_categories.size(); ++c) {
        Node *category = m_categories.at(c);
        if (row == 0)
            return createIndex(c, 0, category);
        --row;
        if (!category->expanded)
            continue;
        for (int r = 0; r < category->children.size(); ++r) {
            Node *room = category->children.at(r);
            if (row == 0)
                return createIndex(r, 0, room);
            --row;
            if (!room->expanded)
                continue;
            if (row < room->children.size())
                return createIndex(row, 0, room->children.at(row));
            row -= static_cast<int>(room->children.size());
        }
    }
    return {};
}

QModelIndex TRoomsTreeModel::nextShown(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    if (node->expanded && !node->children.isEmpty())
        return createIndex(0, 0, node->children.first());
    int row = index.row();
    while (node) {
        const QList<Node *> &siblings = siblingsOf(node);
        if (row + 1 < siblings.size())
            return createIndex(row + 1, 0, siblings.at(row + 1));
        node = node->parent;
        if (node)
            row = rowOf(node);
    }
    return {};
}
