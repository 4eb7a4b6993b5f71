#include "tflattreeaccessible.h"

#include "tflatnodeaccessible.h"
#include "tflattree.h"

TFlatTreeAccessible::TFlatTreeAccessible(TFlatTree *tree)
    : QAccessibleWidget(tree, QAccessible::Tree)
{
}

TFlatTreeAccessible::~TFlatTreeAccessible()
{
    for (const Known &known : std::as_const(m_nodes))
        QAccessible::deleteAccessibleInterface(known.id);
}

QAccessibleInterface *TFlatTreeAccessible::create(const QString &className, QObject *object)
{
    // Asked for each class of the object from the most derived up: the views made from
    // TFlatTree are answered when it comes to their common class.
    auto *tree = qobject_cast<TFlatTree *>(object);
    return tree && className == QLatin1String("TFlatTree") ? new TFlatTreeAccessible(tree)
                                                           : nullptr;
}

TFlatTree *TFlatTreeAccessible::tree() const
{
    return static_cast<TFlatTree *>(widget());
}

int TFlatTreeAccessible::childCount() const
{
    return tree()->nodes()->shownRows();
}

QAccessibleInterface *TFlatTreeAccessible::child(int index) const
{
    return nodeInterface(tree()->nodes()->atFlatRow(index));
}

QAccessibleInterface *TFlatTreeAccessible::nodeInterface(const QModelIndex &node) const
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
    auto *made = new TFlatNodeAccessible(tree(), node);
    m_nodes.insert(node.internalPointer(), {node, QAccessible::registerAccessibleInterface(made)});
    return made;
}

void TFlatTreeAccessible::forgetGoneNodes() const
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

int TFlatTreeAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const auto *node = dynamic_cast<const TFlatNodeAccessible *>(child);
    return node && node->isValid() ? tree()->nodes()->flatRow(node->node()) : -1;
}

QAccessibleInterface *TFlatTreeAccessible::childAt(int x, int y) const
{
    const QPoint at = tree()->viewport()->mapFromGlobal(QPoint(x, y));
    return nodeInterface(tree()->indexAt(at));
}

QAccessibleInterface *TFlatTreeAccessible::focusChild() const
{
    if (!tree()->hasFocus())
        return nullptr;
    return nodeInterface(tree()->currentIndex());
}
