#pragma once

#include "tflattreemodel.h"

#include <QAbstractItemView>
#include <QElapsedTimer>

// A tree view over its own TFlatTreeModel in which every row has the same height, so
// that a node's place on screen follows from its flat row number. A node coming or
// going costs the look-up of that number and a repaint of the rows in sight
// that moved; nothing else is laid out again, however many nodes are listed (a general
// tree view lays out every expanded node after each change). It draws the branch marks
// of the style, opens and closes nodes by mouse (the mark, a double click) and keyboard
// (Left and Right, + and -, *), activates a node on a double click or Enter, finds a
// node by typing its first letters and tells a screen reader about the node in focus.
class TFlatTree : public QAbstractItemView
{
    Q_OBJECT
public:
    // The view owns the model.
    explicit TFlatTree(TFlatTreeModel *model, QWidget *parent = nullptr);

    TFlatTreeModel *nodes() const { return m_model; }
    bool isExpanded(const QModelIndex &index) const { return m_model->isExpanded(index); }
    void setExpanded(const QModelIndex &index, bool expanded);
    int rowHeight() const;
    // Without branch marks beside the top nodes, which then start at the left edge.
    void setRootIsDecorated(bool decorated);
    bool rootIsDecorated() const { return m_rootDecorated; }
    // Whether a double click opens or closes the node as well as activating it.
    void setExpandsOnDoubleClick(bool expands) { m_expandsOnDoubleClick = expands; }
    // Where a row of that depth starts its picture and text.
    int indentOf(const QModelIndex &index) const;

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void keyboardSearch(const QString &search) override;
    void doItemsLayout() override;
    void reset() override;

signals:
    void expanded(const QModelIndex &index);
    void collapsed(const QModelIndex &index);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Rows that came (count > 0) or went (count < 0) at flat row first.
    void rowsShifted(int first, int count);
    void expansionChanged(const QModelIndex &index, bool expanded);
    void rowsRemovedDone();
    // Draws the node's row again, its branch mark too.
    void repaintRow(const QModelIndex &index);
    // The node whose branch mark is at the point, or an invalid index.
    QModelIndex markAt(const QPoint &point) const;
    int firstShownRow() const;
    int lastShownRow() const;

    TFlatTreeModel *m_model;
    bool m_rootDecorated = true;
    bool m_expandsOnDoubleClick = true;
    mutable int m_rowHeight = 0;
    // Rows about to be taken away, between the model's two signals.
    int m_removedFirst = -1;
    int m_removedCount = 0;
    // Set while the scroll bar follows rows that came or went above the rows in sight:
    // what is shown does not move, so nothing is scrolled or repainted.
    bool m_keepingPlace = false;
    QString m_search;
    QElapsedTimer m_searchTime;
};
