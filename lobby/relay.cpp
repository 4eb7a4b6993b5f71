#include "lobby.h"

#include "tsock.h"

// Lobby Assisted Hosting: relaying a game's traffic through the lobby server.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexDatasendReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::startJoinerRelay(const QByteArray &) {}

void Tlobby::stopRelayListener() {}

void Tlobby::LobbyAssistedHosting1Click() {}

void Tlobby::clearRelaySlots() {}

void Tlobby::RestoreSockets1Click()
{
    try {
        Sock11->setListen(false);
    } catch (const ESockException &) {
    }
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
    }
}
