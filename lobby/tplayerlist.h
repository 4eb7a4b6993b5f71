#pragma once

#include "tplayerlistmodel.h"

#include <QListView>

// A players list: a view over its own TPlayerListModel, drawn by the lobby through an
// item delegate. Every row has the same height, so a row's place follows from its
// number: a row that comes or goes costs only a repaint of what moved into sight,
// however many players are listed (a general list view lays all rows out again). It
// is a list view to the rest of the program (a screen reader, a style sheet) but does
// none of that view's layout: every call that would reach it is answered here. It
// keeps the few list-box calls the rest of the lobby uses (count, clear, addItem) and
// reports every mouse press, whatever the button, so that the lobby can take the player
// under the mouse before a context menu opens.
class TPlayerList final : public QListView
{
    Q_OBJECT
public:
    explicit TPlayerList(QWidget *parent = nullptr);

    TPlayerListModel *entries() const { return m_model; }
    int count() const { return m_model->count(); }
    void clear() { m_model->clear(); }
    void addItem(const PlayerRow &player) { m_model->insert(player); }
    QString itemText(int row) const { return m_model->entry(row); }
    // The row under a point of the viewport, or -1.
    int rowAt(const QPoint &pos) const;
    int rowHeight() const;

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void doItemsLayout() override;

signals:
    void mousePressed(const QPoint &pos, Qt::MouseButton button);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent *event) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // The last row drawn in the viewport (it may not exist).
    int lastShownRow() const;
    // Rows that came or went at row start: the rows in sight move when it lies above
    // their end.
    void rowsMoved(int start);

    TPlayerListModel *m_model;
    mutable int m_rowHeight = 0;
    // Where the view stood before a large batch was merged: its top player and the
    // current one.
    QString m_topName;
    QString m_currentName;
};
