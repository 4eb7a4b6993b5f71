#pragma once

#include "esockexception.h"
#include "tsockstream.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <array>
#include <cstdint>

#include <netinet/in.h>

enum TSocketType { stStream, stDatagram };

enum TLineBreak { lbCRLF, lbCR, lbLF, lbSmart };

// The kind of an OnInfo report; SocketInfoText gives its word.
enum TSocketInfo : int {
    siLookup = 0,
    siConnect = 1,
    siClose = 2,
    siListen = 3,
    siReceive = 4,
    siSend = 5,
    siAccept = 6,
    siError = 7,
};

// The kind of an OnError report.
enum TSocketError : int {
    // The system reported an error on the connection; Code is its WinSock number.
    seSocket = 0,
    // Handling one of the socket's events raised; Code is 0 and Msg what was raised.
    seRaised = 1,
};

// The lobby's own TCP/UDP socket for local traffic: the game-presence listener, the
// relay listener and the relay connections. One IPv4 socket handle, either non-blocking
// (readiness arrives on the Qt event loop of the socket's thread and is turned into the
// events below; received stream bytes are buffered as they arrive) or blocking (calls
// wait on the socket, a receive for at most BlockingTimeout seconds).
//
// Errors carry the WinSock numbers ("Error #10061 (WSAECONNREFUSED)"). Operations raise
// ESockException; Close never raises. Events are Qt signals, so any number of listeners
// may hear each one. The socket itself never shows anything to the user: an error goes to
// its listeners as OnError with the facts, and its owner decides what the user sees. A
// listener may close the socket inside any of its signals, and delete it inside any that
// the event loop brought: the socket checks that it still exists after each one before it
// goes on, and stays silent once it is gone. Inside the reports of a call the owner made
// itself (the lookups of Open and setListen) use deleteLater.
//
// Accepted connections are new TSock objects whose QObject parent is the listener; their
// OnRead, OnWrite, OnDisconnect, OnInfo and OnError are passed on as the listener's own
// (with the accepted socket as Sender), so whoever listens to the listener also hears
// from them. A blocking listener emits OnAutoAccept on a thread of its own (TSockThread):
// connect to it with Qt::DirectConnection, or the handler runs later on the listener's
// thread instead, where a blocking call would stop the event loop.
class TSock : public QObject
{
    Q_OBJECT
public:
    // Largest read (and datagram) taken from the socket at once.
    static constexpr int kBufferSize = 32768;
    static constexpr int kListenBacklog = 5;

    explicit TSock(QObject *parent = nullptr);
    ~TSock() override;

    // Properties
    TSocketType SocketType() const { return m_socketType; }
    void setSocketType(TSocketType value);
    QString HostName() const { return m_hostName; }
    void setHostName(const QString &value);
    QString PortName() const { return m_portName; }
    void setPortName(const QString &value);
    bool Blocking() const { return m_blocking; }
    void setBlocking(bool value);
    bool AutoAccept() const { return m_autoAccept; }
    void setAutoAccept(bool value) { m_autoAccept = value; }
    bool Listen() const { return m_listen; }
    void setListen(bool value);
    TLineBreak LineBreak() const { return m_lineBreak; }
    void setLineBreak(TLineBreak value) { m_lineBreak = value; }
    int BlockingTimeout() const { return m_blockingTimeout; }
    void setBlockingTimeout(int value) { m_blockingTimeout = value; }
    // A number for the owner's use (the relay keeps its slot number here).
    int Tag() const { return m_tag; }
    void setTag(int value) { m_tag = value; }

    bool Connected() const { return m_connected; }
    // The platform handle, -1 when closed.
    int SocketHandle() const { return m_handle; }
    // The local port the handle is bound to (host order), 0 without one. Lets an owner
    // listen on PortName "0" and learn the port the system chose.
    quint16 LocalPort() const;
    TSockStream *Stream() { return &m_stream; }

    // Operations
    bool Open();
    bool Close();
    bool Send(const QByteArray &Value);
    QByteArray Receive() { return ReceiveCount(-1); }
    QByteArray ReceiveCount(int Count);
    bool SendDatagram(const QByteArray &Value, const QString &Host);
    QByteArray ReceiveDatagram(QString &Host);
    bool Accept(TSock *&NewSock);
    // An IPv4 address in network byte order.
    in_addr_t HostLookup(const QString &Name);
    // A port in network byte order.
    in_port_t PortLookup(const QString &Name);

    static QString ErrorName(int Code);
    // "Lookup", "Connect", "Close", "Listen", "Receive", "Send", "Accept", "Error".
    static QString SocketInfoText(TSocketInfo SocketInfo);

signals:
    void OnConnect(TSock *Sender);
    void OnDisconnect(TSock *Sender);
    void OnInfo(TSock *Sender, TSocketInfo SocketInfo, const QString &Msg);
    void OnRead(TSock *Sender, int Count);
    void OnWrite(TSock *Sender);
    // A connection waits on a listener that does not accept by itself: call Accept.
    void OnAccept(TSock *Sender);
    // A listener with AutoAccept took a connection: NewSock, a child of the listener.
    void OnAutoAccept(TSock *Sender, TSock *NewSock);
    // Follows OnInfo(siError) for an error of the system, and reports what handling an
    // event raised. Nothing else is done about it here: the owner decides what the user
    // sees, and whether the socket is closed.
    void OnError(TSock *Sender, TSocketError Error, int Code, const QString &Msg);

private:
    friend class TSockStream;
    friend class TSockThread;

    TSock(TSock *listener, int handle, const sockaddr_in &peer);

    // Each returns whether the socket still exists after its listeners heard the report.
    bool info(TSocketInfo code, const QString &msg);
    bool reportError(int winsockCode);
    void reportRaised(const QString &msg);
    // OnInfo then OnConnect; returns whether the socket still exists and is connected.
    bool announceConnected(const QString &how);
    void attachHandle(int handle);
    // Closes the handle without any report; returns whether the platform closed it cleanly.
    bool releaseHandle();
    void setupNotifications();
    void updateWriteNotifier();
    bool setNonBlocking(bool on);
    bool waitReadable(int timeoutSeconds);
    void acceptPending();
    void readPending();
    void writeReady();
    void exceptionPending();
    void connectFinished();
    void peerClosed();
    void reportImmediateConnectError(quint64 generation, int winsockCode);
    TSock *createAccepted(int handle, const sockaddr_in &peer);
    template <typename Handler> void guarded(Handler handler);

    qsizetype incomingSize() const { return m_incoming.size() - m_incomingPos; }
    QByteArray takeIncoming(qsizetype count);
    void unreceive(const QByteArray &data);
    qsizetype outgoingSize() const { return m_outgoing.size() - m_outgoingPos; }
    void dropOutgoing(qsizetype count);

    TSocketType m_socketType = stStream;
    QString m_hostName;
    QString m_portName;
    bool m_blocking = false;
    bool m_autoAccept = false;
    bool m_listen = false;
    TLineBreak m_lineBreak = lbSmart;
    int m_blockingTimeout = 0;
    int m_tag = 0;

    int m_handle = -1;
    // Counts handles, so that a late report for a closed handle is recognised as stale.
    quint64 m_generation = 0;
    bool m_connected = false;
    bool m_connecting = false;
    // A listener's pending connection or a datagram was announced and not yet taken;
    // the read notifier rests until Accept or ReceiveDatagram takes it.
    bool m_readArmed = true;
    sockaddr_in m_target{};
    sockaddr_in m_remote{};

    // Unread bytes are m_incoming from m_incomingPos on, unsent ones m_outgoing from
    // m_outgoingPos on: taking from the front moves an index instead of the bytes.
    QByteArray m_incoming;
    qsizetype m_incomingPos = 0;
    QByteArray m_outgoing;
    qsizetype m_outgoingPos = 0;
    std::array<char, kBufferSize> m_buffer;

    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    QSocketNotifier m_exceptionNotifier{QSocketNotifier::Exception};
    TSockStream m_stream{this};
};
