#include "tplayerlist.h"

#include <QMouseEvent>

TPlayerList::TPlayerList(QWidget *parent) : QListView(parent), m_model(new TPlayerListModel(this))
{
    setModel(m_model);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int TPlayerList::rowAt(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    return index.isValid() ? index.row() : -1;
}

void TPlayerList::mousePressEvent(QMouseEvent *event)
{
    emit mousePressed(event->position().toPoint(), event->button());
    QListView::mousePressEvent(event);
}
