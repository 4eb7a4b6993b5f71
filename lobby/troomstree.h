#pragma once

#include "tflattree.h"
#include "troomstreemodel.h"

// The rooms tree: categories, their rooms and the players in each room, drawn by a
// TFlatTree so that a player coming or going lays nothing out again.
class TRoomsTree final : public TFlatTree
{
    Q_OBJECT
public:
    explicit TRoomsTree(QWidget *parent = nullptr);

    TRoomsTreeModel *rooms() const { return m_rooms; }
    void clear() { m_rooms->clear(); }

private:
    TRoomsTreeModel *m_rooms;
};
