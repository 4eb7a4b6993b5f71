#pragma once

#include "tflattree.h"
#include "tgamestreemodel.h"

// The games hosted in the room with their players, drawn by a TFlatTree so that a
// player joining or leaving a game lays nothing out again. Games show their players at
// all times: no branch marks are drawn, and a double click (which joins the game) does
// not fold the game's players away.
class TGamesTree final : public TFlatTree
{
    Q_OBJECT
public:
    explicit TGamesTree(QWidget *parent = nullptr);

    TGamesTreeModel *games() const { return m_games; }
    void clear() { m_games->clear(); }

private:
    TGamesTreeModel *m_games;
};
