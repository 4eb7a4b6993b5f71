#pragma once

#include <QString>

struct PlayerEntry;

// One row of a players list, as decoded from the player's entry: the lists hold these
// records and draw from them, so that a name, room or game holding a ":" stays whole.
// The room list shows the game beside the name; the lobby list does not.
struct PlayerRow
{
    QString name;
    QString level;
    QString room;
    QString game;
    bool showsGame = false;

    // Each field is decoded on its own: a game text in a legacy code page must not
    // change how the player's name reads.
    static PlayerRow decode(const PlayerEntry &entry, bool showsGame);

    // "name:level:room:" in the lobby list, "name:level:room:[game]" in the room list:
    // the text the list is ordered by.
    QString text() const;
    // What the row shows after its pictures: the name, with the game in brackets when
    // the row shows a game.
    QString caption() const;
    // The level picture: a level that is not a number counts as 1, one beyond the
    // pictures draws the last one (last >= 0).
    int levelPicture(int last) const;

    bool operator==(const PlayerRow &other) const = default;
};
