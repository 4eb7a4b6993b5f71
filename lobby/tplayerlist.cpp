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
