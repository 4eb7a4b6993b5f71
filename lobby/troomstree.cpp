#include "troomstree.h"

TRoomsTree::TRoomsTree(QWidget *parent)
    : TFlatTree(new TRoomsTreeModel, parent), m_rooms(static_cast<TRoomsTreeModel *>(nodes()))
{
}
