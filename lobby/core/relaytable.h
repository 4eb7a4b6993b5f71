#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>

class TSock;

// Lobby Assisted Hosting: a game that cannot accept connections is reached through the
// lobby server. On the joiner's machine the lobby stands in for the host's game (it
// listens where the game would connect: slot 0); on the host's machine it connects to
// the host's game once per remote joiner (slots 1 to 10). Bytes travel as DATASEND
// payloads between the two lobbies; the table hands each one out through datasend()
// and takes the ones that arrive through received().
class RelayTable : public QObject
{
    Q_OBJECT
public:
    static constexpr int kJoinerSlot = 0;
    static constexpr int kFirstHostSlot = 1;
    static constexpr int kLastHostSlot = 10;
    static constexpr int kSlotCount = kLastHostSlot + 1;
    // Bytes for a connection to the host's game that is still being made wait up to this
    // much; a joiner that sends more meanwhile has its relay ended.
    static constexpr qsizetype kMaxWaiting = 256 * 1024;

    struct Slot
    {
        QPointer<TSock> socket;
        QByteArray peer; // the lobby at the other end; empty when free
        bool active = false;
        qsizetype waiting = 0; // bytes handed on before the connection was up
    };

    // `port` is where games talk to each other on this machine.
    explicit RelayTable(const QString &port, QObject *parent = nullptr);
    ~RelayTable() override;

    const Slot &slot(int index) const { return m_slots.at(index); }
    // The stand-in listener for the joiner's own game.
    TSock *gamesock() const { return m_gamesock; }

    // A relayed join of `host`'s game: slot 0 takes the host as its peer and the
    // stand-in listener starts for our game. Throws ESockException when the port
    // cannot be listened on; the table is then as before.
    void startJoining(const QByteArray &host);
    // The relayed join is over (the game ended, the join was refused): the listener
    // stops and slot 0 forgets its peer, telling it when a connection was still up.
    void stopJoining();
    // OPEN is honoured only while the user hosts a game with assisted hosting on. Turning
    // it off ends the connections to the host's game.
    void setHosting(bool assisted);
    bool hosting() const { return m_hosting; }

    // The text of a DATASEND from the server: "peer|payload".
    void received(const QByteArray &text);
    // The player has left the server: their connections end without a word to them.
    void peerLeft(const QByteArray &peer);
    // The server connection is gone: every relay ends and the games see their
    // connections close; nobody is told over the wire.
    void reset();

    // The stand-in listener's and the slot sockets' events.
    void gamesockAccept();
    void tempSockRead(TSock *Sender);
    void tempsockInfo(TSock *Sender, int SocketInfo, const QString &Msg);
    void tempsockDisconnect(TSock *Sender);
    void tempsockError(TSock *Sender, int Error, int Code, const QString &Msg);

signals:
    // A DATASEND payload to send: "peer|payload".
    void datasend(const QByteArray &payload);
    // Handling a relay socket's event failed with this text; the table itself goes on.
    // What the user sees of it is the owner's decision.
    void failed(const QString &text);

private:
    void openHostSlot(const QByteArray &from);
    void routeData(const QByteArray &from, const QByteArray &bytes);
    // Ends the slot's relay: frees the socket, tells the peer when `tell`.
    void endSlot(int index, bool tell);
    int slotOf(TSock *sock) const;
    void release(TSock *sock);
    void attach(TSock *sock, int index);
    void stopListener();

    QString m_port;
    TSock *m_gamesock = nullptr;
    std::array<Slot, kSlotCount> m_slots;
    bool m_hosting = false;
};
