#pragma once

#include "tcolor.h"

#include <QString>

// What the user chose in the options window. The settings class loads and saves it; the
// options window edits a copy and reports every change; the lobby reads its own copy.
struct LobbyPreferences
{
    // Join and leave notices: 0 everyone, 1 friends only, 2 nobody.
    int show = 0;
    bool flashFriends = true;
    bool pmAlert = true;
    bool pmSound = true;
    bool sentWithEnter = false;
    bool acceptInvites = true;
    bool tourneyAlert = false;
    bool lobbyChat = true;
    bool updates = true;
    bool pmLog = true;
    bool reconnect = true;
    TColor textColor{TColor::clBlack};
    TColor actionColor{TColor::clBlack};
    // As typed: a size that is not a number is kept but changes nothing.
    QString textSize = QStringLiteral("8");
    QString boxTextSize = QStringLiteral("8");
    QString textFont;

    // The on/off choices with their settings keys, in the order they are written.
    struct Switch
    {
        const char *key;
        bool LobbyPreferences::*value;
    };
    static const Switch kSwitches[10];

    bool operator==(const LobbyPreferences &) const = default;
};
