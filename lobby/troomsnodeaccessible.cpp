#include "troomsnodeaccessible.h"

#include "troomstree.h"

#include <QWidget>

TRoomsNodeAccessible::TRoomsNodeAccessible(TRoomsTree *tree, const QModelIndex &node)
    : m_tree(tree), m_node(node)
{
}

bool TRoomsNodeAccessible::isValid() const
{
    return m_tree && m_node.isValid();
}

QObject *TRoomsNodeAccessible::object() const
{
    return nullptr;
}

QWindow *TRoomsNodeAccessible::window() const
{
    return m_tree ? m_tree->window()->windowHandle() : nullptr;
}

QAccessibleInterface *TRoomsNodeAccessible::focusChild() const
{
    return nullptr;
}

QAccessibleInterface *TRoomsNodeAccessible::childAt(int, int) const
{
    return nullptr;
}

QAccessibleInterface *TRoomsNodeAccessible::parent() const
{
    return m_tree ? QAccessible::queryAccessibleInterface(m_tree) : nullptr;
}

QAccessibleInterface *TRoomsNodeAccessible::child(int) const
{
    return nullptr;
}

int TRoomsNodeAccessible::childCount() const
{
    return 0;
}

int TRoomsNodeAccessible::indexOfChild(const QAccessibleInterface *) const
{
    return -1;
}

QString TRoomsNodeAccessible::text(QAccessible::Text t) const
{
    return isValid() && t == QAccessible::Name ? m_node.data().toString() : QString();
}

void TRoomsNodeAccessible::setText(QAccessible::Text, const QString &) {}

QRect TRoomsNodeAccessible::rect() const
{
    if (!isValid())
        return {};
    const QRect item = m_tree->visualRect(m_node);
    if (!item.isValid())
        return {};
    // The whole row, its branch mark too.
    const QRect row(0, item.top(), m_tree->viewport()->width(), item.height());
    return QRect(m_tree->viewport()->mapToGlobal(row.topLeft()), row.size());
}

QAccessible::Role TRoomsNodeAccessible::role() const
{
    return QAccessible::TreeItem;
}

QAccessible::State TRoomsNodeAccessible::state() const
{
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    state.selectable = true;
    state.focusable = true;
    state.selected = m_tree->selectionModel()->isSelected(m_node);
    state.focused = m_tree->hasFocus() && m_tree->currentIndex() == m_node;
    if (m_tree->rooms()->hasChildren(m_node)) {
        state.expandable = true;
        state.expanded = m_tree->isExpanded(m_node);
        state.collapsed = !state.expanded;
    }
    const QRect item = m_tree->visualRect(m_node);
    state.invisible = !item.isValid();
    state.offscreen = !item.isValid() || !m_tree->viewport()->rect().intersects(item);
    return state;
}
