#include "relaytable.h"

#include "relaycodec.h"
#include "tsock.h"

// A socket that no slot holds any more is silenced and freed.
void RelayTable::release(TSock *sock)
{
    if (!sock)
        return;
    sock->disconnect(this);
    sock->Close();
    sock->deleteLater();
}

RelayTable::RelayTable(const QString &port, QObject *parent) : QObject(parent), m_port(port)
{
    m_gamesock = new TSock(this);
    m_gamesock->setObjectName(QStringLiteral("gamesock"));
    m_gamesock->setSocketType(stStream);
    // Only the user's own game connects to it.
    m_gamesock->setHostName(QStringLiteral("127.0.0.1"));
    m_gamesock->setPortName(m_port);
    m_gamesock->setBlocking(false);
    m_gamesock->setAutoAccept(false);
    connect(m_gamesock, &TSock::OnAccept, this, &RelayTable::gamesockAccept);
    // Also hears the errors of the connection our game made to it, which the listener
    // passes on as its own.
    connect(m_gamesock, &TSock::OnError, this, &RelayTable::tempsockError);
}

RelayTable::~RelayTable()
{
    // The sockets are children and go with the table; none may call back meanwhile.
    for (Slot &slot : m_slots) {
        if (TSock *sock = slot.socket)
            sock->disconnect(this);
    }
    m_gamesock->disconnect(this);
}

void RelayTable::attach(TSock *sock, int index)
{
    sock->setTag(index);
    connect(sock, &TSock::OnDisconnect, this, &RelayTable::tempsockDisconnect);
    connect(sock, &TSock::OnRead, this, [this](TSock *s, int) { tempSockRead(s); });
    connect(sock, &TSock::OnInfo, this, &RelayTable::tempsockInfo);
    // One accepted by the stand-in listener reports its errors through the listener.
    if (sock->parent() != m_gamesock)
        connect(sock, &TSock::OnError, this, &RelayTable::tempsockError);
    m_slots[index].socket = sock;
}

int RelayTable::slotOf(TSock *sock) const
{
    if (!sock || sock->Tag() < 0 || sock->Tag() >= kSlotCount)
        return -1;
    return m_slots[sock->Tag()].socket == sock ? sock->Tag() : -1;
}

void RelayTable::startJoining(const QByteArray &host)
{
    // A relay of an earlier join still up ends here: slot 0 serves one join at a time.
    if (m_slots[kJoinerSlot].active)
        endSlot(kJoinerSlot, true);
    m_slots[kJoinerSlot].peer = host;
    try {
        m_gamesock->setListen(true);
    } catch (...) {
        // Nothing will ever connect: a peer kept here would take a later relay's bytes.
        m_slots[kJoinerSlot].peer.clear();
        throw;
    }
}

void RelayTable::stopListener()
{
    try {
        m_gamesock->setListen(false);
    } catch (const ESockException &) {
    }
}

void RelayTable::stopJoining()
{
    if (m_slots[kJoinerSlot].active) {
        endSlot(kJoinerSlot, true);
        return;
    }
    m_slots[kJoinerSlot].peer.clear();
    stopListener();
}

void RelayTable::setHosting(bool assisted)
{
    m_hosting = assisted;
    if (assisted)
        return;
    for (int i = kFirstHostSlot; i <= kLastHostSlot; ++i) {
        if (m_slots[i].active)
            endSlot(i, true);
    }
}

void RelayTable::gamesockAccept()
{
    TSock *sock = nullptr;
    if (!m_gamesock->Accept(sock) || !sock)
        return;
    // One connection per relayed join: once our game is in, no other program on this
    // machine may connect in its place.
    stopListener();
    Slot &slot = m_slots[kJoinerSlot];
    if (slot.active || slot.peer.isEmpty()) {
        release(sock);
        return;
    }
    attach(sock, kJoinerSlot);
    slot.active = true;
    emit datasend(slot.peer + '|' + relaycodec::kOpen.toByteArray());
}

void RelayTable::received(const QByteArray &text)
{
    const qsizetype bar = text.indexOf('|');
    const QByteArray from = bar < 0 ? text : text.left(bar);
    const QByteArrayView rest = bar < 0 ? QByteArrayView() : QByteArrayView(text).sliced(bar + 1);
    const relaycodec::Payload payload = relaycodec::decode(rest);

    switch (payload.kind) {
    case relaycodec::Kind::Open:
        // Only a game hosted through the relay is served; anyone else's game learns at
        // once that it gets no partner here.
        if (!m_hosting) {
            emit datasend(from + '|' + relaycodec::kClose.toByteArray());
            return;
        }
        openHostSlot(from);
        return;
    case relaycodec::Kind::Close:
        for (Slot &slot : m_slots) {
            if (slot.active && slot.peer == from && slot.socket)
                slot.socket->Close();
        }
        return;
    case relaycodec::Kind::Data:
        routeData(from, payload.bytes);
        return;
    }
}

void RelayTable::openHostSlot(const QByteArray &from)
{
    // One connection per joiner, however often it asks: the other slots stay free for
    // the other players.
    for (int i = kFirstHostSlot; i <= kLastHostSlot; ++i) {
        if (m_slots[i].active && m_slots[i].peer == from)
            return;
    }
    for (int i = kFirstHostSlot; i <= kLastHostSlot; ++i) {
        Slot &slot = m_slots[i];
        if (slot.active)
            continue;
        auto *sock = new TSock(this);
        sock->setSocketType(stStream);
        sock->setHostName(QStringLiteral("127.0.0.1"));
        sock->setPortName(m_port);
        sock->setBlocking(false);
        release(slot.socket);
        attach(sock, i);
        slot.peer = from;
        slot.active = true;
        slot.waiting = 0;
        try {
            sock->Open();
        } catch (const ESockException &) {
            endSlot(i, true);
        }
        return;
    }
    // All ten in use: the joiner's lobby learns at once that its game gets no partner,
    // instead of waiting on a connection nobody serves.
    emit datasend(from + '|' + relaycodec::kClose.toByteArray());
}

void RelayTable::routeData(const QByteArray &from, const QByteArray &bytes)
{
    // Only a connection that is up takes bytes: a slot that still names the peer but
    // relays nothing would swallow them.
    for (int i = 0; i < kSlotCount; ++i) {
        Slot &slot = m_slots[i];
        if (!slot.active || slot.peer != from || !slot.socket)
            continue;
        if (!slot.socket->Connected()) {
            // Bytes for a connection still being made wait, but only a little of them.
            slot.waiting += bytes.size();
            if (slot.waiting > kMaxWaiting) {
                endSlot(i, true);
                return;
            }
        }
        slot.socket->Send(bytes);
        return;
    }
}

void RelayTable::tempSockRead(TSock *sock)
{
    if (!sock || sock->Tag() < 0 || sock->Tag() >= kSlotCount)
        return;
    const Slot &slot = m_slots[sock->Tag()];
    const QByteArray data = sock->Receive();
    if (slot.socket != sock || slot.peer.isEmpty())
        return;
    for (const QByteArray &piece : relaycodec::encodeData(data))
        emit datasend(slot.peer + '|' + piece);
}

void RelayTable::tempsockInfo(TSock *Sender, int, const QString &Msg)
{
    const int index = slotOf(Sender);
    if (index >= 0 && Msg == QLatin1String("Socket Closed"))
        endSlot(index, true);
}

void RelayTable::tempsockError(TSock *Sender, int Error, int, const QString &Msg)
{
    if (Error == seRaised) {
        emit failed(Msg);
        return;
    }
    // A connection to the host's game that failed (nothing listens there) ends like a
    // closed one: the joiner hears CLOSE and the slot is free again.
    const int index = slotOf(Sender);
    if (index >= 0 && !m_slots[index].socket->Connected())
        endSlot(index, true);
}

void RelayTable::endSlot(int index, bool tell)
{
    Slot &slot = m_slots[index];
    TSock *sock = slot.socket;
    const QByteArray peer = slot.peer;
    slot.active = false;
    slot.peer.clear();
    slot.socket = nullptr;
    slot.waiting = 0;
    if (tell && !peer.isEmpty())
        emit datasend(peer + '|' + relaycodec::kClose.toByteArray());
    // Freed once closed, so a long session of many games leaves nothing behind.
    release(sock);
    if (index == kJoinerSlot)
        stopListener();
}

void RelayTable::tempsockDisconnect(TSock *Sender)
{
    const int index = slotOf(Sender);
    if (index >= 0 && m_slots[index].active)
        m_slots[index].socket->Close();
}

void RelayTable::peerLeft(const QByteArray &peer)
{
    // A host who leaves before our game reached the stand-in: there is nothing to wait for.
    if (!m_slots[kJoinerSlot].active && m_slots[kJoinerSlot].peer == peer)
        stopJoining();
    for (Slot &slot : m_slots) {
        if (!slot.active || slot.peer != peer)
            continue;
        // The player has gone: nobody to tell.
        slot.peer.clear();
        if (slot.socket)
            slot.socket->Close();
    }
}

void RelayTable::reset()
{
    m_hosting = false;
    for (int i = 0; i < kSlotCount; ++i)
        endSlot(i, false);
    stopListener();
}
