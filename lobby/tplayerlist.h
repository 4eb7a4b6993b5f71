#pragma once

#include "tplayerlistmodel.h"

#include <QListView>

// A players list: a view over its own TPlayerListModel, drawn by the lobby through an
// item delegate. It keeps the few list-box calls the rest of the lobby uses (count,
// clear, addItem) and reports every mouse press, whatever the button, so that the
// lobby can take the player under the mouse before a context menu opens.
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

signals:
    void mousePressed(const QPoint &pos, Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    TPlayerListModel *m_model;
    // Where the view stood before a large batch was merged: its top player and the
    // current one.
    QString m_topName;
    QString m_currentName;
};
