#include "lobby.h"

#include "platform.h"

#include "tsock.h"

// Hosting and joining games, invitations and the game-presence listener.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::button_hostClick() {}

void Tlobby::button_privateClick() {}

void Tlobby::button_ladderClick() {}

void Tlobby::joinit(const QByteArray &) {}

void Tlobby::JoinGame1Click() {}

void Tlobby::orvexJOINReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::orvexIPTJReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::orvexIGNOReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::orvexInviteReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::orvexAddGame(const QByteArray &) {}

void Tlobby::orvexDeletegame(const QByteArray &) {}

void Tlobby::orvexServerError(const QByteArray &) {}

void Tlobby::InviteToJoin1Click() {}

void Tlobby::startGameListener()
{
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
        platform::Platform::instance().messageBox(
            QStringLiteral("Check to make sure there is only One Ostrel Lobby Open"));
    }
}

void Tlobby::Sock11AutoAccept(TSock *NewSock)
{
    // A game of ours runs while it is connected: the listener rests until the game's
    // connection ends.
    try {
        Sock11->setListen(false);
    } catch (const ESockException &) {
    }
    NewSock->OnDisconnect = [this, NewSock](QObject *) {
        NewSock->deleteLater();
        startGameListener();
    };
}
