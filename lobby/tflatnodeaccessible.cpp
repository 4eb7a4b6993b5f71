#include "tflatnodeaccessible.h"

#include "tflattree.h"

#include <QWidget>

TFlatNodeAccessible::TFlatNodeAccessible(TFlatTree *tree, const QModelIndex &node)
    : m_tree(tree), m_node(node)
{
}

bool TFlatNodeAccessible::isValid() const
{
    return m_tree && m_node.isValid();
}

QObject *TFlatNodeAccessible::object() const
{
    return nullptr;
}

QWindow *TFlatNodeAccessible::window() const
{
    return m_tree ? m_tree->window()->windowHandle() : nullptr;
}

QAccessibleInterface *TFlatNodeAccessible::focusChild() const
{
    return nullptr;
}

QAccessibleInterface *TFlatNodeAccessible::childAt(int, int) const
{
    return nullptr;
}

QAccessibleInterface *TFlatNodeAccessible::parent() const
{
    return m_tree ? QAccessible::queryAccessibleInterface(m_tree) : nullptr;
}

QAccessibleInterface *TFlatNodeAccessible::child(int) const
{
    return nullptr;
}

int TFlatNodeAccessible::childCount() const
{
    return 0;
}

int TFlatNodeAccessible::indexOfChild(const QAccessibleInterface *) const
{
    return -1;
}

QString TFlatNodeAccessible::text(QAccessible::Text t) const
{
    return isValid() && t == QAccessible::Name ? m_node.data().toString() : QString();
}

void TFlatNodeAccessible::setText(QAccessible::Text, const QString &) {}

QRect TFlatNodeAccessible::rect() const
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

QAccessible::Role TFlatNodeAccessible::role() const
{
    return QAccessible::TreeItem;
}

QAccessible::State TFlatNodeAccessible::state() const
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
    if (m_tree->nodes()->hasChildren(m_node)) {
        state.expandable = true;
        state.expanded = m_tree->isExpanded(m_node);
        state.collapsed = !state.expanded;
    }
    const QRect item = m_tree->visualRect(m_node);
    state.invisible = !item.isValid();
    state.offscreen = !item.isValid() || !m_tree->viewport()->rect().intersects(item);
    return state;
}
