#include "tplayerlist.h"

#include "tquietscrollbar.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

TPlayerList::TPlayerList(QWidget *parent) : QListView(parent), m_model(new TPlayerListModel(this))
{
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical, this));
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TPlayerList::updateGeometries);
    // A merged batch is a reset of the model; the user keeps seeing the same players.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_topName = indexAt(QPoint(1, 1)).data(TPlayerListModel::NameRole).toString();
        m_currentName = currentIndex().data(TPlayerListModel::NameRole).toString();
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        const auto restore = [this](const QString &name) {
            const int row = name.isEmpty() ? -1 : m_model->findName(name);
            return row < 0 ? QModelIndex() : m_model->index(row, 0);
        };
        if (const QModelIndex current = restore(m_currentName); current.isValid())
            setCurrentIndex(current);
        if (const QModelIndex top = restore(m_topName); top.isValid())
            scrollTo(top, QAbstractItemView::PositionAtTop);
    });
}

int TPlayerList::rowHeight() const
{
    if (m_rowHeight <= 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        m_rowHeight = qMax(1, itemDelegate()->sizeHint(option, {}).height());
    }
    return m_rowHeight;
}

int TPlayerList::rowAt(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    return index.isValid() ? index.row() : -1;
}

int TPlayerList::lastShownRow() const
{
    return (verticalOffset() + viewport()->height() - 1) / rowHeight();
}

QRect TPlayerList::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != m_model)
        return {};
    const int height = rowHeight();
    return {0, index.row() * height - verticalOffset(), viewport()->width(), height};
}

QModelIndex TPlayerList::indexAt(const QPoint &point) const
{
    const int y = point.y() + verticalOffset();
    if (y < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return {};
    return m_model->index(y / rowHeight(), 0);
}

void TPlayerList::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != m_model)
        return;
    // The rows may have changed since the scroll bar was last set.
    updateGeometries();
    const int height = rowHeight();
    const int top = index.row() * height;
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

QModelIndex TPlayerList::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : -1;
    const int page = qMax(1, viewport()->height() / rowHeight());
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = row < 0 ? 0 : row - 1;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row = qMax(row, 0) + page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        return current;
    }
    return m_model->index(qBound(0, row, rows - 1), 0);
}

int TPlayerList::horizontalOffset() const
{
    return 0;
}

int TPlayerList::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool TPlayerList::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void TPlayerList::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const int rows = m_model->rowCount();
    const int top = area.top() + verticalOffset();
    const int bottom = area.bottom() + verticalOffset();
    if (rows == 0 || bottom < 0 || top >= rows * rowHeight()) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    const int first = qMax(0, top / rowHeight());
    const int last = qMin(rows - 1, bottom / rowHeight());
    selectionModel()->select(QItemSelection(m_model->index(first, 0), m_model->index(last, 0)),
                             command);
}

QRegion TPlayerList::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (range.model() != m_model)
            continue;
        const QRect first = visualRect(m_model->index(range.top(), 0));
        region += QRect(first.topLeft(), QSize(first.width(), range.height() * rowHeight()));
    }
    return region;
}

void TPlayerList::updateGeometries()
{
    const int height = rowHeight();
    const int shown = viewport()->height();
    // A view of this kind has no limit of its own; the scroll bar's values do.
    const qint64 content = qint64(m_model->rowCount()) * height;
    QScrollBar *bar = verticalScrollBar();
    bar->setSingleStep(height);
    bar->setPageStep(shown);
    bar->setRange(0, static_cast<int>(std::clamp<qint64>(content - shown, 0, INT_MAX)));
    QAbstractItemView::updateGeometries();
}

void TPlayerList::doItemsLayout()
{
    // Called again when the delegate or the font changes: the rows' height may change.
    m_rowHeight = 0;
    QAbstractItemView::doItemsLayout();
}

void TPlayerList::scrollContentsBy(int dx, int dy)
{
    QAbstractItemView::scrollContentsBy(dx, dy);
}

void TPlayerList::resizeEvent(QResizeEvent *event)
{
    QAbstractItemView::resizeEvent(event);
}

void TPlayerList::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                              const QList<int> &roles)
{
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

// A screen reader is told which row took the focus or the selection: the row number is
// the row's place among the list's children.
void TPlayerList::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current.row());
        QAccessible::updateAccessibility(&event);
    }
    QAbstractItemView::currentChanged(current, previous);
}

void TPlayerList::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    if (QAccessible::isActive()) {
        const auto tell = [this](const QItemSelection &rows, QAccessible::Event kind) {
            if (rows.isEmpty())
                return;
            QAccessibleEvent event(this, kind);
            event.setChild(rows.first().top());
            QAccessible::updateAccessibility(&event);
        };
        tell(selected, QAccessible::SelectionAdd);
        tell(deselected, QAccessible::SelectionRemove);
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

void TPlayerList::rowsMoved(int start)
{
    if (start > lastShownRow())
        return;
    // The rows above the change stay where they are.
    const int y = qMax(0, start * rowHeight() - verticalOffset());
    viewport()->update(QRect(0, y, viewport()->width(), viewport()->height() - y));
}

void TPlayerList::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    rowsMoved(start);
}

void TPlayerList::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    rowsMoved(start);
}

void TPlayerList::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int rows = m_model->rowCount();
    const int height = rowHeight();
    const QRect area = event->rect();
    const int first = qMax(0, (area.top() + verticalOffset()) / height);
    const int last = qMin(rows - 1, (area.bottom() + verticalOffset()) / height);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex current = currentIndex();
    const bool focus = hasFocus() || viewport()->hasFocus();
    const QStyle::State base = option.state;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_model->index(row, 0);
        option.rect = visualRect(index);
        option.state = base;
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        itemDelegate()->paint(&painter, option, index);
    }
}

void TPlayerList::mousePressEvent(QMouseEvent *event)
{
    emit mousePressed(event->position().toPoint(), event->button());
    QAbstractItemView::mousePressEvent(event);
}
