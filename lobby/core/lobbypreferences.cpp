#include "lobbypreferences.h"

const LobbyPreferences::Switch LobbyPreferences::kSwitches[10] = {
    {"Flashfriends1", &LobbyPreferences::flashFriends},
    {"Pmalert1", &LobbyPreferences::pmAlert},
    {"Pmsound1", &LobbyPreferences::pmSound},
    {"Sentwithenter1", &LobbyPreferences::sentWithEnter},
    {"Acceptinvites1", &LobbyPreferences::acceptInvites},
    {"Tourneyalert1", &LobbyPreferences::tourneyAlert},
    {"Lobbychat1", &LobbyPreferences::lobbyChat},
    {"Updates", &LobbyPreferences::updates},
    {"Pmlog", &LobbyPreferences::pmLog},
    {"Reconnect", &LobbyPreferences::reconnect},
};
