#include "lobby.h"

#include "lobbysettings.h"
#include "relaycodec.h"
#include "textcodec.h"
#include "tpressfilter.h"
#include "tsock.h"

#include <QAction>
#include <QLabel>

// Lobby Assisted Hosting: a game that cannot accept connections is reached through the
// lobby server. On the joiner's machine the lobby stands in for the host's game (it
// listens where the game would connect); on the host's machine it connects to the
// host's game once per remote joiner. Bytes travel as DATASEND between the two lobbies.

namespace {

constexpr int kJoinerSlot = 0;
constexpr int kFirstHostSlot = 1;
constexpr int kLastHostSlot = 10;

// Where games talk to each other; tests and a second lobby on one machine move it.
QString gamePort()
{
    return qEnvironmentVariable("OSTREL_RELAY_PORT", QStringLiteral("7772"));
}

} // namespace

void Tlobby::wireRelay()
{
    gamesock = new TSock(this);
    gamesock->setObjectName(QStringLiteral("gamesock"));
    gamesock->setSocketType(stStream);
    // Only the user's own game connects to it.
    gamesock->setHostName(QStringLiteral("127.0.0.1"));
    gamesock->setPortName(gamePort());
    gamesock->setBlocking(false);
    gamesock->setAutoAccept(false);
    gamesock->OnAccept = [this](QObject *sender) { gamesockAccept(sender); };
    new TPressFilter(image_connection, [this](const QPoint &) { image_connectionClick(); });
}

void Tlobby::clearRelaySlots()
{
    for (int i = kFirstHostSlot; i <= kLastHostSlot; ++i) {
        relayslots[i].active = false;
        relayslots[i].peer.clear();
    }
}

void Tlobby::startJoinerRelay(const QByteArray &host)
{
    relayslots[kJoinerSlot].peer = host;
    gamesock->setListen(true);
}

void Tlobby::stopRelayListener()
{
    try {
        gamesock->setListen(false);
    } catch (const ESockException &) {
    }
}

namespace {

void attachSlot(Tlobby *lobby, TSock *sock, int slot)
{
    sock->setTag(slot);
    sock->OnDisconnect = [lobby](QObject *s) { lobby->tempsockDisconnect(s); };
    sock->OnRead = [lobby](QObject *s, int) { lobby->tempSockRead(s); };
    sock->OnInfo = [lobby](QObject *s, TSocketInfo info, const QString &msg) {
        lobby->tempsockInfo(s, info, msg);
    };
    lobby->relayslots[slot].socket = sock;
}

// A socket that no slot holds any more is silenced and freed.
void release(TSock *sock)
{
    if (!sock)
        return;
    sock->OnDisconnect = nullptr;
    sock->OnRead = nullptr;
    sock->OnInfo = nullptr;
    sock->Close();
    sock->deleteLater();
}

} // namespace

void Tlobby::gamesockAccept(QObject *)
{
    TSock *sock = nullptr;
    if (!gamesock->Accept(sock) || !sock)
        return;
    RelaySlot &slot = relayslots[kJoinerSlot];
    // A further connection of the game takes the slot over.
    if (slot.socket && slot.socket != sock)
        release(slot.socket);
    attachSlot(this, sock, kJoinerSlot);
    slot.active = true;
    orvex->SendDatasend(slot.peer + '|' + relaycodec::kOpen.toByteArray());
}

void Tlobby::orvexDatasendReceived(const QByteArray &text, const QByteArray &)
{
    const qsizetype bar = text.indexOf('|');
    const QByteArray from = bar < 0 ? text : text.left(bar);
    const QByteArrayView rest = bar < 0 ? QByteArrayView() : QByteArrayView(text).sliced(bar + 1);
    const relaycodec::Payload payload = relaycodec::decode(rest);

    switch (payload.kind) {
    case relaycodec::Kind::Open:
        for (int i = kFirstHostSlot; i <= kLastHostSlot; ++i) {
            RelaySlot &slot = relayslots[i];
            if (slot.active)
                continue;
            auto *sock = new TSock(this);
            sock->setSocketType(stStream);
            sock->setHostName(QStringLiteral("127.0.0.1"));
            sock->setPortName(gamePort());
            sock->setBlocking(false);
            TSock *previous = slot.socket;
            attachSlot(this, sock, i);
            try {
                sock->Open();
            } catch (...) {
                // The slot stays as it was.
                slot.socket = previous;
                release(sock);
                throw;
            }
            release(previous);
            slot.peer = from;
            slot.active = true;
            return;
        }
        // All ten in use: the joiner's lobby learns at once that its game gets no
        // partner, instead of waiting on a connection nobody serves.
        orvex->SendDatasend(from + '|' + relaycodec::kClose.toByteArray());
        return;
    case relaycodec::Kind::Close:
        for (RelaySlot &slot : relayslots) {
            if (slot.active && slot.peer == from && slot.socket)
                slot.socket->Close();
        }
        return;
    case relaycodec::Kind::Data:
        for (RelaySlot &slot : relayslots) {
            if (slot.peer != from)
                continue;
            if (slot.socket)
                slot.socket->Send(payload.bytes);
            return;
        }
        return;
    }
}

void Tlobby::tempSockRead(QObject *Sender)
{
    auto *sock = qobject_cast<TSock *>(Sender);
    if (!sock || sock->Tag() < 0 || sock->Tag() > kLastHostSlot)
        return;
    const RelaySlot &slot = relayslots[sock->Tag()];
    const QByteArray data = sock->Receive();
    if (slot.socket != sock || slot.peer.isEmpty())
        return;
    for (const QByteArray &piece : relaycodec::encodeData(data))
        orvex->SendDatasend(slot.peer + '|' + piece);
}

void Tlobby::tempsockInfo(QObject *Sender, int, const QString &Msg)
{
    if (Msg != QLatin1String("Socket Closed"))
        return;
    auto *sock = qobject_cast<TSock *>(Sender);
    if (!sock || sock->Tag() < 0 || sock->Tag() > kLastHostSlot)
        return;
    const int index = sock->Tag();
    RelaySlot &slot = relayslots[index];
    if (slot.socket != sock)
        return;
    if (!slot.peer.isEmpty())
        orvex->SendDatasend(slot.peer + '|' + relaycodec::kClose.toByteArray());
    slot.active = false;
    slot.peer.clear();
    slot.socket = nullptr;
    // Freed once closed, so a long session of many games leaves nothing behind.
    release(sock);
    if (index == kJoinerSlot)
        stopRelayListener();
}

void Tlobby::tempsockDisconnect(QObject *Sender)
{
    auto *sock = qobject_cast<TSock *>(Sender);
    if (!sock || sock->Tag() < 0 || sock->Tag() > kLastHostSlot)
        return;
    const RelaySlot &slot = relayslots[sock->Tag()];
    if (slot.active && slot.socket == sock)
        sock->Close();
}

void Tlobby::closeRelaySlotsOf(const QString &name)
{
    const QByteArray peer = encodeWireText(name);
    for (RelaySlot &slot : relayslots) {
        if (!slot.active || slot.peer != peer)
            continue;
        // The player has gone: nobody to tell.
        slot.peer.clear();
        if (slot.socket)
            slot.socket->Close();
    }
}

void Tlobby::LobbyAssistedHosting1Click()
{
    // The menu item is checkable: the menu has already turned it over.
    applyAssistedHosting();
}

void Tlobby::image_connectionClick()
{
    LobbyAssistedHosting1->toggle();
    applyAssistedHosting();
}

void Tlobby::applyAssistedHosting()
{
    const bool on = LobbyAssistedHosting1->isChecked();
    LobbySettings(settingspath).write("Assist", on ? "true" : "false");
    image_connection->setPixmap(imagelist_connection.value(on ? 1 : 0));
}

void Tlobby::RestoreSockets1Click()
{
    stopRelayListener();
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
    }
}
