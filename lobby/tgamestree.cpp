#include "tgamestree.h"

TGamesTree::TGamesTree(QWidget *parent)
    : TFlatTree(new TGamesTreeModel, parent), m_games(static_cast<TGamesTreeModel *>(nodes()))
{
    setRootIsDecorated(false);
    setExpandsOnDoubleClick(false);
}
