#include "tflattree.h"

#include "tflattreeaccessible.h"
#include "tquietscrollbar.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

TFlatTree::TFlatTree(TFlatTreeModel *model, QWidget *parent)
    : QAbstractItemView(parent), m_model(model)
{
    m_model->setParent(this);
    // A screen reader sees a tree of the shown nodes.
    static const bool readable = (QAccessible::installFactory(&TFlatTreeAccessible::create), true);
    Q_UNUSED(readable);
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical, this));
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(m_model, &TFlatTreeModel::expansionChanged, this, &TFlatTree::expansionChanged);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TFlatTree::rowsRemovedDone);
}

int TFlatTree::rowHeight() const
{
    if (m_rowHeight > 0)
        return m_rowHeight;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // Measured on the first node, as a tree of uniform rows does; kept once there is one.
    const QModelIndex first = m_model->index(0, 0);
    const int height = qMax(1, itemDelegate()->sizeHint(option, first).height());
    if (first.isValid())
        m_rowHeight = height;
    return height;
}

int TFlatTree::indentOf(const QModelIndex &index) const
{
    const int indentation = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
    return indentation * (m_model->depth(index) + (m_rootDecorated ? 1 : 0));
}

void TFlatTree::setRootIsDecorated(bool decorated)
{
    if (m_rootDecorated == decorated)
        return;
    m_rootDecorated = decorated;
    viewport()->update();
}

int TFlatTree::firstShownRow() const
{
    return verticalOffset() / rowHeight();
}

int TFlatTree::lastShownRow() const
{
    return (verticalOffset() + viewport()->height() - 1) / rowHeight();
}

void TFlatTree::setExpanded(const QModelIndex &index, bool expanded)
{
    m_model->setExpanded(index, expanded);
}

QRect TFlatTree::visualRect(const QModelIndex &index) const
{
    const int row = index.model() == m_model ? m_model->flatRow(index) : -1;
    if (row < 0)
        return {};
    const int height = rowHeight();
    const int x = indentOf(index);
    return {x, row * height - verticalOffset(), qMax(0, viewport()->width() - x), height};
}

QModelIndex TFlatTree::indexAt(const QPoint &point) const
{
    const int y = point.y() + verticalOffset();
    if (y < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    return m_model->atFlatRow(y / rowHeight());
}

QModelIndex TFlatTree::markAt(const QPoint &point) const
{
    const QModelIndex index = indexAt(point);
    if (!index.isValid() || !m_model->hasChildren(index) ||
        (!m_rootDecorated && !index.parent().isValid()))
        return {};
    const int end = indentOf(index);
    const int indentation = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
    return point.x() >= end - indentation && point.x() < end ? index : QModelIndex();
}

void TFlatTree::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != m_model)
        return;
    // A node inside a closed one is shown by opening its ancestors.
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        setExpanded(parent, true);
    updateGeometries();
    const int height = rowHeight();
    const int top = m_model->flatRow(index) * height;
    const int shown = viewport()->height();
    int value = verticalOffset();
    switch (hint) {
    case PositionAtTop:
        value = top;
        break;
    case PositionAtBottom:
        value = top + height - shown;
        break;
    case PositionAtCenter:
        value = top - (shown - height) / 2;
        break;
    case EnsureVisible:
        if (top < value)
            value = top;
        else if (top + height > value + shown)
            value = top + height - shown;
        break;
    }
    verticalScrollBar()->setValue(value);
}

QModelIndex TFlatTree::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = m_model->shownRows();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return m_model->atFlatRow(0);
    int row = m_model->flatRow(current);
    const int page = qMax(1, viewport()->height() / rowHeight());
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
        // Closes an open node, or goes up to its parent.
        if (isExpanded(current) && m_model->hasChildren(current)) {
            setExpanded(current, false);
            return current;
        }
        return current.parent().isValid() ? current.parent() : current;
    case MoveRight:
        // Opens a closed node, or goes down to its first child.
        if (!m_model->hasChildren(current))
            return current;
        if (!isExpanded(current)) {
            setExpanded(current, true);
            return current;
        }
        return m_model->index(0, 0, current);
    }
    return m_model->atFlatRow(qBound(0, row, rows - 1));
}

void TFlatTree::keyboardSearch(const QString &search)
{
    if (search.isEmpty() || m_model->rowCount() == 0)
        return;
    const bool going =
        m_searchTime.isValid() && m_searchTime.elapsed() < QApplication::keyboardInputInterval();
    m_searchTime.restart();
    m_search = going ? m_search + search : search;
    // The same letter again steps to the next node starting with it.
    const bool repeated = m_search.size() > 1 && m_search.count(m_search.at(0)) == m_search.size();
    const QString wanted = repeated ? m_search.left(1) : m_search;
    QModelIndex start = currentIndex();
    if (!start.isValid() || !going || repeated) {
        start = start.isValid() ? m_model->nextShown(start) : QModelIndex();
        if (!start.isValid())
            start = m_model->atFlatRow(0);
    }
    const int rows = m_model->shownRows();
    QModelIndex index = start;
    for (int i = 0; i < rows; ++i) {
        if (m_model->text(index).startsWith(wanted, Qt::CaseInsensitive)) {
            setCurrentIndex(index);
            return;
        }
        index = m_model->nextShown(index);
        if (!index.isValid())
            index = m_model->atFlatRow(0);
    }
}

int TFlatTree::horizontalOffset() const
{
    return 0;
}

int TFlatTree::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool TFlatTree::isIndexHidden(const QModelIndex &index) const
{
    return m_model->flatRow(index) < 0;
}

void TFlatTree::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const int height = rowHeight();
    const int rows = m_model->shownRows();
    const int first = qMax(0, (area.top() + verticalOffset()) / height);
    const int last = qMin(rows - 1, (area.bottom() + verticalOffset()) / height);
    QItemSelection selection;
    QModelIndex index = m_model->atFlatRow(first);
    for (int row = first; row <= last && index.isValid(); ++row) {
        selection.select(index, index);
        index = m_model->nextShown(index);
    }
    selectionModel()->select(selection, command);
}

QRegion TFlatTree::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (range.model() != m_model)
            continue;
        // Only what is on screen matters; a range is a single node here as a rule.
        for (int row = range.top(); row <= range.bottom(); ++row) {
            const QRect rect = visualRect(m_model->index(row, 0, range.parent()));
            if (rect.isValid())
                region += QRect(0, rect.top(), viewport()->width(), rect.height());
            if (rect.top() > viewport()->height())
                break;
        }
    }
    return region;
}

void TFlatTree::updateGeometries()
{
    const int height = rowHeight();
    const int shown = viewport()->height();
    const qint64 content = qint64(m_model->shownRows()) * height;
    QScrollBar *bar = verticalScrollBar();
    bar->setSingleStep(height);
    bar->setPageStep(shown);
    bar->setRange(0, static_cast<int>(std::clamp<qint64>(content - shown, 0, INT_MAX)));
    QAbstractItemView::updateGeometries();
}

void TFlatTree::doItemsLayout()
{
    // Called again when the delegate, the style or the font changes.
    m_rowHeight = 0;
    QAbstractItemView::doItemsLayout();
}

void TFlatTree::reset()
{
    m_rowHeight = 0;
    m_removedFirst = -1;
    QAbstractItemView::reset();
}

void TFlatTree::scrollContentsBy(int dx, int dy)
{
    if (!m_keepingPlace)
        QAbstractItemView::scrollContentsBy(dx, dy);
}

void TFlatTree::repaintRow(const QModelIndex &index)
{
    const QRect rect = visualRect(index);
    if (rect.isValid() && rect.bottom() >= 0 && rect.top() < viewport()->height())
        viewport()->update(QRect(0, rect.top(), viewport()->width(), rect.height()));
}

void TFlatTree::rowsShifted(int first, int count)
{
    const int height = rowHeight();
    const int before = verticalOffset();
    const int top = before / height;
    // Rows that came or went wholly above the rows in sight: the scroll bar follows them,
    // so that the rows the user looks at stay where they are and nothing is drawn again.
    const bool above = count > 0 ? first < top : first - count <= top;
    if (above && before > 0) {
        m_keepingPlace = true;
        updateGeometries();
        verticalScrollBar()->setValue(before + count * height);
        m_keepingPlace = false;
        if (verticalOffset() != before + count * height)
            viewport()->update();
        return;
    }
    updateGeometries();
    if (verticalOffset() != before) {
        viewport()->update();
        return;
    }
    // The rows from the change down moved; those above it did not.
    const int y = first * height - before;
    if (y < viewport()->height())
        viewport()->update(QRect(0, qMax(0, y), viewport()->width(), viewport()->height()));
}

void TFlatTree::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    // A node that had no children gets its branch mark.
    if (parent.isValid() && m_model->rowCount(parent) == end - start + 1)
        repaintRow(parent);
    const int first = m_model->flatRow(m_model->index(start, 0, parent));
    if (first < 0) {
        updateGeometries();
        return;
    }
    int count = 0;
    for (int row = start; row <= end; ++row)
        count += m_model->shownRowsOf(m_model->index(row, 0, parent));
    rowsShifted(first, count);
}

void TFlatTree::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    m_removedFirst = m_model->flatRow(m_model->index(start, 0, parent));
    m_removedCount = 0;
    for (int row = start; m_removedFirst >= 0 && row <= end; ++row)
        m_removedCount += m_model->shownRowsOf(m_model->index(row, 0, parent));
    // A node losing its last child loses its branch mark.
    if (parent.isValid() && m_model->rowCount(parent) == end - start + 1)
        repaintRow(parent);
}

void TFlatTree::rowsRemovedDone()
{
    if (m_removedFirst >= 0)
        rowsShifted(m_removedFirst, -m_removedCount);
    else
        updateGeometries();
    m_removedFirst = -1;
}

void TFlatTree::expansionChanged(const QModelIndex &index, bool open)
{
    const int row = m_model->flatRow(index);
    if (row >= 0) {
        repaintRow(index);
        const int rows = m_model->rowsUnder(index);
        if (rows > 0)
            rowsShifted(row + 1, open ? rows : -rows);
    }
    // The current node does not stay hidden inside a closed one.
    if (!open) {
        for (QModelIndex p = currentIndex().parent(); p.isValid(); p = p.parent()) {
            if (p == index) {
                setCurrentIndex(index);
                break;
            }
        }
    }
    if (open)
        emit expanded(index);
    else
        emit collapsed(index);
}

// A screen reader is told which node took the focus or the selection, by its place among
// the shown nodes.
void TFlatTree::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(m_model->flatRow(current));
        QAccessible::updateAccessibility(&event);
    }
    repaintRow(previous);
    repaintRow(current);
    QAbstractItemView::currentChanged(current, previous);
}

void TFlatTree::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    if (QAccessible::isActive()) {
        const auto tell = [this](const QItemSelection &nodes, QAccessible::Event kind) {
            if (nodes.isEmpty())
                return;
            QAccessibleEvent event(this, kind);
            event.setChild(m_model->flatRow(nodes.first().topLeft()));
            QAccessible::updateAccessibility(&event);
        };
        tell(selected, QAccessible::SelectionAdd);
        tell(deselected, QAccessible::SelectionRemove);
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

void TFlatTree::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const QRect area = event->rect();
    const int offset = verticalOffset();
    const int first = qMax(0, (area.top() + offset) / height);
    const int last = (area.bottom() + offset) / height;
    const int indentation = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
    const int width = viewport()->width();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State base = option.state;
    const QModelIndex current = currentIndex();
    const bool focus = hasFocus() || viewport()->hasFocus();
    // The branch marks are drawn as a tree view draws them, with an item's option.
    QStyleOptionViewItem mark;
    initViewItemOption(&mark);
    QStyle::State markBase = QStyle::State_Item;
    if (isEnabled())
        markBase |= QStyle::State_Enabled;
    if (window()->isActiveWindow())
        markBase |= QStyle::State_Active;
    QModelIndex index = m_model->atFlatRow(first);
    for (int row = first; row <= last && index.isValid(); ++row) {
        const int y = row * height - offset;
        const int depth = m_model->depth(index) + (m_rootDecorated ? 0 : -1);
        const bool children = m_model->hasChildren(index);
        if (depth >= 0) {
            mark.rect = QRect(indentation * depth, y, indentation, height);
            mark.state = markBase;
            if (index.row() + 1 < m_model->rowCount(index.parent()))
                mark.state |= QStyle::State_Sibling;
            if (children)
                mark.state |= QStyle::State_Children;
            if (children && isExpanded(index))
                mark.state |= QStyle::State_Open;
            style()->drawPrimitive(QStyle::PE_IndicatorBranch, &mark, &painter, this);
        }

        const int x = indentation * (depth + 1);
        option.rect = QRect(x, y, qMax(0, width - x), height);
        option.state = base;
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        if (children)
            option.state |= QStyle::State_Children;
        if (children && isExpanded(index))
            option.state |= QStyle::State_Open;
        itemDelegate()->paint(&painter, option, index);
        index = m_model->nextShown(index);
    }
}

void TFlatTree::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && event->modifiers() == Qt::NoModifier) {
        switch (event->key()) {
        case Qt::Key_Plus:
            setExpanded(current, true);
            return;
        case Qt::Key_Minus:
            setExpanded(current, false);
            return;
        case Qt::Key_Asterisk: {
            // The node and everything under it.
            QList<QModelIndex> open{current};
            while (!open.isEmpty()) {
                const QModelIndex node = open.takeLast();
                setExpanded(node, true);
                for (int row = 0; row < m_model->rowCount(node); ++row) {
                    const QModelIndex child = m_model->index(row, 0, node);
                    if (m_model->hasChildren(child))
                        open << child;
                }
            }
            return;
        }
        default:
            break;
        }
    }
    QAbstractItemView::keyPressEvent(event);
}

void TFlatTree::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex mark = markAt(event->position().toPoint());
    if (mark.isValid() && event->button() == Qt::LeftButton) {
        setExpanded(mark, !isExpanded(mark));
        return;
    }
    QAbstractItemView::mousePressEvent(event);
}

void TFlatTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (markAt(event->position().toPoint()).isValid()) {
        mousePressEvent(event);
        return;
    }
    // A double click activates the node (a room is entered, a game joined) and, unless
    // told otherwise, opens or closes it.
    bool clicked = false;
    const QMetaObject::Connection watch =
        connect(this, &QAbstractItemView::doubleClicked, this, [&clicked] { clicked = true; });
    const QPersistentModelIndex index(indexAt(event->position().toPoint()));
    QAbstractItemView::mouseDoubleClickEvent(event);
    disconnect(watch);
    if (clicked && m_expandsOnDoubleClick && event->button() == Qt::LeftButton && index.isValid() &&
        m_model->hasChildren(index))
        setExpanded(index, !isExpanded(index));
}
