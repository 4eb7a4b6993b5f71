#include "troomstreeaccessible.h"

#include "troomsnodeaccessible.h"
#include "troomstree.h"

TRoomsTreeAccessible::TRoomsTreeAccessible(TRoomsTree *tree)
    : QAccessibleWidget(tree, QAccessible::Tree)
{
}

TRoomsTreeAccessible::~TRoomsTreeAccessible()
{
    for (const Known &known : std::as_const(m_nodes))
        QAccessible::deleteAccessibleInterface(known.id);
}

QAccessibleInterface *TRoomsTreeAccessible::create(const QString &className, QObject *object)
{
    auto *tree = qobject_cast<TRoomsTree *>(object);
    return tree && className == QLatin1String("TRoomsTree") ? new TRoomsTreeAccessible(tree)
                                                            : nullptr;
}

TRoomsTree *TRoomsTreeAccessible::tree() const
{
    return static_cast<TRoomsTree *>(widget());
}

int TRoomsTreeAccessible::childCount() const
{
    return tree()->rooms()->shownRows();
}

QAccessibleInterface *TRoomsTreeAccessible::child(int index) const
{
    return nodeInterface(tree()->rooms()->atFlatRow(index));
}

QAccessibleInterface *TRoomsTreeAccessible::nodeInterface(const QModelIndex &node) const
{
    if (!node.isValid())
        return nullptr;
    const auto found = m_nodes.constFind(node.internalPointer());
    if (found != m_nodes.constEnd() && found->node == node)
        return QAccessible::accessibleInterface(found->id);
    if (found != m_nodes.constEnd())
        QAccessible::deleteAccessibleInterface(found->id);
    // Bounded by the nodes alive: those gone are let go whenever the table has doubled.
    if (m_nodes.size() >= m_sweepAt) {
        forgetGoneNodes();
        m_sweepAt = qMax<qsizetype>(128, 2 * m_nodes.size());
    }
    auto *made = new TRoomsNodeAccessible(tree(), node);
    m_nodes.insert(node.internalPointer(), {node, QAccessible::registerAccessibleInterface(made)});
    return made;
}

void TRoomsTreeAccessible::forgetGoneNodes() const
{
    for (auto it = m_nodes.begin(); it != m_nodes.end();) {
        if (it->node.isValid() && it->node.internalPointer() == it.key()) {
            ++it;
            continue;
        }
        QAccessible::deleteAccessibleInterface(it->id);
        it = m_nodes.erase(it);
    }
}

int TRoomsTreeAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const auto *node = dynamic_cast<const TRoomsNodeAccessible *>(child);
    return node && node->isValid() ? tree()->rooms()->flatRow(node->node()) : -1;
}

QAccessibleInterface *TRoomsTreeAccessible::childAt(int x, int y) const
{
    const QPoint at = tree()->viewport()->mapFromGlobal(QPoint(x, y));
    return nodeInterface(tree()->indexAt(at));
}

QAccessibleInterface *TRoomsTreeAccessible::focusChild() const
{
    if (!tree()->hasFocus())
        return nullptr;
    return nodeInterface(tree()->currentIndex());
}
