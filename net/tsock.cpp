#include "tsock.h"

#include "tsockthread.h"
#include "winsockerror.h"

#include <QDeadlineTimer>
#include <QMetaMethod>
#include <QPointer>
#include <QTimer>

#include <mutex>
#include <unordered_map>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Game traffic through the lobby is small messages that a player waits for: none of them
// may sit in the socket until the peer acknowledges the one before.
void sendAtOnce(int handle)
{
    const int one = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Host names resolved once stay resolved for the life of the process. Sockets of
// TSockThread handlers may look up names too, hence the lock.
struct HostCache
{
    std::mutex mutex;
    std::unordered_map<QString, in_addr_t> entries;
};

HostCache &hostCache()
{
    static HostCache cache;
    return cache;
}

int lastWinsockError()
{
    return ostrel::winsockErrorFromErrno(errno);
}

QString errorText(int code)
{
    return QStringLiteral("Error #%1 (%2)").arg(code).arg(TSock::ErrorName(code));
}

bool wouldBlock(int e)
{
    return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS;
}

} // namespace

TSock::TSock(QObject *parent) : QObject(parent)
{
    m_target.sin_family = AF_INET;
    m_remote.sin_family = AF_INET;
    // Handlers run inside the socket's own event-loop callbacks, so an exception they
    // raise stops here and goes to the listeners as OnError instead of into Qt.
    connect(&m_readNotifier, &QSocketNotifier::activated, this,
            [this] { guarded([this] { m_listen ? acceptPending() : readPending(); }); });
    connect(&m_writeNotifier, &QSocketNotifier::activated, this,
            [this] { guarded([this] { writeReady(); }); });
    connect(&m_exceptionNotifier, &QSocketNotifier::activated, this,
            [this] { guarded([this] { exceptionPending(); }); });
}

TSock::TSock(TSock *listener, int handle, const sockaddr_in &peer) : TSock(listener)
{
    m_blocking = listener->m_blocking;
    m_blockingTimeout = listener->m_blockingTimeout;
    // Connected before anyone else can listen, so the listener's listeners hear first.
    connect(this, &TSock::OnRead, listener, &TSock::OnRead);
    connect(this, &TSock::OnWrite, listener, &TSock::OnWrite);
    connect(this, &TSock::OnDisconnect, listener, &TSock::OnDisconnect);
    connect(this, &TSock::OnInfo, listener, &TSock::OnInfo);
    connect(this, &TSock::OnError, listener, &TSock::OnError);
    // Describes the connection directly: these are facts about it, not requests to change
    // a connected socket, so they raise no "has no effect" reports.
    m_portName = listener->m_portName;
    m_hostName = QString::fromLatin1(inet_ntoa(peer.sin_addr));
    m_target = peer;
    m_remote = peer;
    m_connected = true;
    attachHandle(handle);
    setupNotifications();
}

TSock::~TSock()
{
    // The owner may be half destroyed by now, so a dying socket raises no events.
    releaseHandle();
}

template <typename Handler> void TSock::guarded(Handler handler)
{
    QPointer<TSock> self(this);
    QString failure;
    try {
        handler();
        return;
    } catch (const std::exception &e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = QStringLiteral("Unexpected socket error");
    }
    // A socket that its owner deleted on the way has nobody left to tell.
    if (self)
        reportRaised(failure);
}

bool TSock::info(TSocketInfo code, const QString &msg)
{
    QPointer<TSock> self(this);
    try {
        emit OnInfo(this, code, msg);
    } catch (...) {
        throw ESockException(QStringLiteral("Error here"));
    }
    return !self.isNull();
}

bool TSock::reportError(int winsockCode)
{
    const QString text = errorText(winsockCode);
    QPointer<TSock> self(this);
    if (!info(siError, text))
        return false;
    emit OnError(this, seSocket, winsockCode, text);
    return !self.isNull();
}

void TSock::reportRaised(const QString &msg)
{
    // This already runs at the top of an event: a listener that raises again has
    // nobody above it to tell.
    try {
        emit OnError(this, seRaised, 0, msg);
    } catch (...) {
    }
}

QString TSock::ErrorName(int Code)
{
    return QString::fromLatin1(ostrel::winsockErrorName(Code));
}

QString TSock::SocketInfoText(TSocketInfo SocketInfo)
{
    static const char *const words[] = {"Lookup",  "Connect", "Close",  "Listen",
                                        "Receive", "Send",    "Accept", "Error"};
    const int i = static_cast<int>(SocketInfo);
    return i >= 0 && i < 8 ? QString::fromLatin1(words[i]) : QString();
}

quint16 TSock::LocalPort() const
{
    if (m_handle < 0)
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(m_handle, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

void TSock::attachHandle(int handle)
{
    m_handle = handle;
    ++m_generation;
    m_readArmed = true;
    m_readNotifier.setSocket(handle);
    m_writeNotifier.setSocket(handle);
    m_exceptionNotifier.setSocket(handle);
    if (m_socketType == stStream) {
        // Urgent data then arrives in the normal byte stream instead of raising the
        // exception notifier again and again.
        const int on = 1;
        ::setsockopt(handle, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
    }
}

bool TSock::releaseHandle()
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_exceptionNotifier.setEnabled(false);
    const int handle = m_handle;
    m_handle = -1;
    ++m_generation;
    m_connecting = false;
    if (handle < 0)
        return false;
    // Linux releases the descriptor even when close() reports EINTR; never retry.
    return ::close(handle) == 0;
}

bool TSock::setNonBlocking(bool on)
{
    const int flags = ::fcntl(m_handle, F_GETFL);
    if (flags < 0)
        return false;
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return wanted == flags || ::fcntl(m_handle, F_SETFL, wanted) == 0;
}

void TSock::setupNotifications()
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_exceptionNotifier.setEnabled(false);
    if (m_handle < 0)
        return;
    if (m_listen) {
        // A listener always stays non-blocking: a pending connection is announced, and
        // Accept never waits.
        setNonBlocking(true);
        m_readNotifier.setEnabled(m_readArmed);
        return;
    }
    if (m_blocking) {
        setNonBlocking(false);
        return;
    }
    setNonBlocking(true);
    if (m_socketType == stDatagram) {
        m_readNotifier.setEnabled(m_readArmed);
        return;
    }
    if (m_connecting) {
        // The outcome of a non-blocking connect shows as writability; SO_ERROR tells
        // success from failure. Reading before that would swallow the error.
        m_writeNotifier.setEnabled(true);
        return;
    }
    if (!m_connected)
        return; // a failed connect: the handle is kept until Close but hears nothing
    m_readNotifier.setEnabled(true);
    m_exceptionNotifier.setEnabled(true);
    updateWriteNotifier();
}

void TSock::updateWriteNotifier()
{
    // Writability is level-triggered here, so the notifier runs only while bytes wait.
    const bool wanted = m_handle >= 0 && !m_blocking && !m_listen && m_socketType == stStream &&
                        (m_connecting || (m_connected && outgoingSize() > 0));
    if (m_writeNotifier.isEnabled() != wanted)
        m_writeNotifier.setEnabled(wanted);
}

void TSock::setSocketType(TSocketType value)
{
    if (m_listen)
        throw ESockException(
            QStringLiteral("SocketType - Can't Assign Socket Type While Listening"));
    if (m_connected)
        throw ESockException(
            QStringLiteral("SocketType - Can't Assign Socket Type While Connected"));
    m_socketType = value;
}

void TSock::setHostName(const QString &value)
{
    if (m_connected && m_socketType == stStream &&
        !info(siLookup, QStringLiteral("Setting HostName While Connected Has No Effect")))
        return;
    m_hostName = value;
    if (m_connected && m_socketType == stDatagram)
        m_target.sin_addr.s_addr = HostLookup(value);
}

void TSock::setPortName(const QString &value)
{
    if (m_connected &&
        !info(siLookup, QStringLiteral("Setting PortName While Connected Has No Effect")))
        return;
    m_portName = value;
}

void TSock::setBlocking(bool value)
{
    m_blocking = value;
    setupNotifications();
}

void TSock::setListen(bool value)
{
    if (m_handle >= 0 && !m_listen) {
        m_listen = false;
        throw ESockException(QStringLiteral("Listen - Socket Already In Use"));
    }
    if (m_socketType == stDatagram && value) {
        m_listen = false;
        throw ESockException(QStringLiteral("Listen - Cannot Listen On A Datagram Socket"));
    }
    const bool wasListening = m_listen;
    m_listen = value;
    if (!value) {
        // Listen already reads false, so Close reports "Socket Closed" first.
        QPointer<TSock> self(this);
        Close();
        if (self)
            info(siListen, QStringLiteral("Listening Stopped"));
        return;
    }
    if (wasListening) {
        info(siListen, QStringLiteral("Listening Already Running"));
        return;
    }

    // Listen reads false until the socket really listens, so any failure leaves it false.
    m_listen = false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = PortLookup(m_portName);
    // Any local address unless the owner names one: the lobby's listeners only ever
    // serve programs on this machine and may restrict themselves to 127.0.0.1.
    addr.sin_addr.s_addr = m_hostName.isEmpty() ? htonl(INADDR_ANY) : HostLookup(m_hostName);
    m_target = addr;

    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle < 0)
        throw ESockException(QStringLiteral("Listen - Error Binding Socket"));
    // A restarted lobby must get its port back at once, not after TIME_WAIT runs out.
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // A failed bind or listen releases the handle, so that a later attempt (the user's
    // "Restore Socket") can try again instead of finding the socket "Already In Use".
    if (::bind(handle, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(handle);
        throw ESockException(QStringLiteral("Listen - Error Binding Socket"));
    }
    if (::listen(handle, kListenBacklog) != 0) {
        ::close(handle);
        throw ESockException(QStringLiteral("Listen - Error Starting Listen"));
    }
    attachHandle(handle);
    m_listen = true;
    setupNotifications();
    info(siListen, QStringLiteral("Listening Started"));
}

bool TSock::Open()
{
    if (m_handle >= 0)
        return m_connected;

    // Names are resolved before the handle exists, so a failed lookup leaves no handle.
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = PortLookup(m_portName);
    target.sin_addr.s_addr = HostLookup(m_socketType == stStream ? m_hostName : QString());
    m_target = target;

    const int kind = m_socketType == stStream ? SOCK_STREAM : SOCK_DGRAM;
    const int handle = ::socket(AF_INET, kind | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (handle < 0) {
        reportError(lastWinsockError());
        return false;
    }
    const auto *address = reinterpret_cast<const sockaddr *>(&m_target);

    if (m_socketType == stDatagram) {
        // A datagram socket that cannot bind is released at once, as a failed listen is.
        if (::bind(handle, address, sizeof m_target) != 0) {
            ::close(handle);
            return false;
        }
        attachHandle(handle);
        m_connected = true;
        setupNotifications();
        return announceConnected(QStringLiteral("Datagram Socket Connected"));
    }

    attachHandle(handle);
    sendAtOnce(handle);
    if (m_blocking) {
        setNonBlocking(false);
        int rc = ::connect(handle, address, sizeof m_target);
        if (rc != 0 && errno == EINTR) {
            // An interrupted blocking connect goes on in the background; wait it out.
            pollfd pfd{handle, POLLOUT, 0};
            while (::poll(&pfd, 1, -1) < 0 && errno == EINTR) {
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
        }
        if (rc != 0) {
            if (info(siClose, QStringLiteral("Blocking Socket Can't Connect")))
                Close();
            return false;
        }
        m_connected = true;
        return announceConnected(QStringLiteral("Blocking Socket Connected"));
    }

    m_connecting = true;
    if (::connect(handle, address, sizeof m_target) != 0 && errno != EINPROGRESS) {
        // The outcome of a non-blocking connect is always an event, never a result of
        // Open, even when the system knows it at once.
        const int code = lastWinsockError();
        const quint64 generation = m_generation;
        m_connecting = false;
        QTimer::singleShot(0, this, [this, generation, code] {
            guarded([&] { reportImmediateConnectError(generation, code); });
        });
    }
    setupNotifications();
    return m_connected;
}

bool TSock::announceConnected(const QString &how)
{
    QPointer<TSock> self(this);
    if (!info(siConnect, how))
        return false;
    emit OnConnect(this);
    return self && m_connected;
}

void TSock::reportImmediateConnectError(quint64 generation, int winsockCode)
{
    if (generation == m_generation)
        reportError(winsockCode);
}

bool TSock::Close()
{
    const bool wasListening = m_listen;
    m_listen = false;
    const bool result = releaseHandle();
    m_connected = false;
    // Bytes meant for this connection must never reach a later one.
    m_outgoing.clear();
    m_outgoingPos = 0;
    // The report comes last: a listener may delete the socket while it hears it.
    if (!wasListening) {
        try {
            info(siClose, QStringLiteral("Socket Closed"));
        } catch (...) {
        }
    }
    return result;
}

bool TSock::Send(const QByteArray &Value)
{
    if (m_handle < 0)
        throw ESockException(QStringLiteral("Send - Socket Not Connected"));
    if (m_listen)
        throw ESockException(QStringLiteral("Send - Cannot Send On A Listener Socket"));
    if (m_socketType == stDatagram)
        return SendDatagram(Value, m_hostName);

    m_outgoing.append(Value);
    if (outgoingSize() == 0)
        return true;

    if (!m_blocking) {
        if (!info(siSend, QStringLiteral("Non-Blocking Outgoing Data")))
            return false;
        // Before the connect completes (or after it failed) the bytes wait; the
        // writable event after connecting sends them.
        if (m_connected && m_handle >= 0) {
            const ssize_t sent =
                ::send(m_handle, m_outgoing.constData() + m_outgoingPos,
                       static_cast<size_t>(outgoingSize()), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0)
                dropOutgoing(sent);
        }
        updateWriteNotifier();
        return true;
    }

    while (outgoingSize() > 0) {
        const ssize_t sent = ::send(m_handle, m_outgoing.constData() + m_outgoingPos,
                                    static_cast<size_t>(outgoingSize()), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (wouldBlock(errno)) {
                pollfd pfd{m_handle, POLLOUT, 0};
                ::poll(&pfd, 1, -1);
                continue;
            }
            info(siError, QStringLiteral("Socket Error On Send"));
            throw ESockException(QStringLiteral("Send - Socket Error"));
        }
        dropOutgoing(sent);
        if (!info(siSend, QStringLiteral("Blocking Outgoing Data")))
            return false;
    }
    m_outgoing.clear();
    m_outgoingPos = 0;
    return true;
}

void TSock::dropOutgoing(qsizetype count)
{
    m_outgoingPos += count;
    if (m_outgoingPos >= m_outgoing.size()) {
        m_outgoing.clear();
        m_outgoingPos = 0;
    } else if (m_outgoingPos > 65536 && m_outgoingPos > m_outgoing.size() / 2) {
        m_outgoing.remove(0, m_outgoingPos);
        m_outgoingPos = 0;
    }
}

QByteArray TSock::takeIncoming(qsizetype count)
{
    const qsizetype available = incomingSize();
    if (count < 0 || count >= available) {
        QByteArray all = m_incomingPos == 0 ? std::move(m_incoming) : m_incoming.mid(m_incomingPos);
        m_incoming = QByteArray();
        m_incomingPos = 0;
        return all;
    }
    QByteArray part = m_incoming.mid(m_incomingPos, count);
    m_incomingPos += count;
    if (m_incomingPos > 65536 && m_incomingPos > m_incoming.size() / 2) {
        m_incoming.remove(0, m_incomingPos);
        m_incomingPos = 0;
    }
    return part;
}

void TSock::unreceive(const QByteArray &data)
{
    m_incoming = data + m_incoming.mid(m_incomingPos);
    m_incomingPos = 0;
}

bool TSock::waitReadable(int timeoutSeconds)
{
    QDeadlineTimer deadline = timeoutSeconds < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                 : QDeadlineTimer(qint64(timeoutSeconds) * 1000);
    for (;;) {
        pollfd pfd{m_handle, POLLIN, 0};
        const qint64 remaining = deadline.remainingTime();
        const int timeout = remaining < 0 ? -1 : static_cast<int>(qMin<qint64>(remaining, INT_MAX));
        const int rc = ::poll(&pfd, 1, timeout);
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

QByteArray TSock::ReceiveCount(int Count)
{
    if (m_handle < 0 && incomingSize() == 0)
        throw ESockException(QStringLiteral("Receive - Socket Not Connected"));
    if (m_listen)
        throw ESockException(QStringLiteral("Receive - Cannot Receive On A Listener Socket"));
    const int readSize = (Count < 0 || Count > kBufferSize) ? kBufferSize : Count;

    if (m_socketType == stDatagram) {
        QString sender;
        return ReceiveDatagram(sender);
    }

    if (!m_blocking)
        return takeIncoming(Count < 0 ? -1 : Count);

    if (m_connected && m_handle >= 0 && readSize > 0 && waitReadable(m_blockingTimeout)) {
        if (!info(siReceive, QStringLiteral("Blocking Incoming Data")))
            return QByteArray();
        ssize_t got;
        do {
            got = ::recv(m_handle, m_buffer.data(), static_cast<size_t>(readSize), MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        if (got < 0 && !wouldBlock(errno)) {
            const int code = lastWinsockError();
            m_incoming.clear();
            m_incomingPos = 0;
            // The connection is gone: leave the connected state instead of keeping a dead
            // handle that reports itself connected.
            if (info(siError, QStringLiteral("Socket Error On Receive")))
                Close();
            throw ESockException(QStringLiteral("Receive - Socket Error ") + ErrorName(code));
        }
        if (got > 0) {
            m_incoming.append(m_buffer.data(), got);
        } else if (got == 0) {
            // What arrived before the end is still this call's result, even when a
            // listener deletes the socket on hearing of the end.
            const QByteArray rest = takeIncoming(-1);
            QPointer<TSock> self(this);
            if (info(siClose, QStringLiteral("Socket Disconnected On Receive"))) {
                Close();
                if (self)
                    emit OnDisconnect(this);
            }
            return rest;
        }
    }
    return takeIncoming(-1);
}

bool TSock::SendDatagram(const QByteArray &Value, const QString &Host)
{
    if (m_handle < 0)
        throw ESockException(QStringLiteral("SendDatagram - Socket Not Connected"));
    if (m_socketType == stStream)
        throw ESockException(
            QStringLiteral("SendDatagram - Datagram Send Not Supported On Stream Sockets"));
    setHostName(Host);
    if (Value.isEmpty())
        return true;
    const ssize_t sent =
        ::sendto(m_handle, Value.constData(), static_cast<size_t>(Value.size()), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr *>(&m_target), sizeof m_target);
    if (sent < 0) {
        // A datagram that did not leave is not reported as sent.
        reportError(lastWinsockError());
        return false;
    }
    return true;
}

QByteArray TSock::ReceiveDatagram(QString &Host)
{
    if (m_handle < 0)
        throw ESockException(QStringLiteral("ReceiveDatagram - Socket Not Connected"));
    if (m_socketType == stStream)
        throw ESockException(
            QStringLiteral("ReceiveDatagram - Datagram Receive Not Supported On Stream Sockets"));
    Host.clear();
    QByteArray result;
    if (waitReadable(m_blockingTimeout)) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t got;
        do {
            got = ::recvfrom(m_handle, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr *>(&from), &len);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            result = QByteArray(m_buffer.data(), got);
            m_remote = from;
            Host = QString::fromLatin1(inet_ntoa(from.sin_addr));
        }
    }
    // The next datagram is announced again only now that this one was taken.
    m_readArmed = true;
    setupNotifications();
    return result;
}

TSock *TSock::createAccepted(int handle, const sockaddr_in &peer)
{
    m_remote = peer;
    sendAtOnce(handle);
    return new TSock(this, handle, peer);
}

bool TSock::Accept(TSock *&NewSock)
{
    if (!m_listen)
        throw ESockException(QStringLiteral("Accept - Socket Not In Listening Mode"));
    if (m_blocking && !info(siAccept, QStringLiteral("Blocking Accept")))
        return false;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int handle;
    do {
        handle = ::accept4(m_handle, reinterpret_cast<sockaddr *>(&peer), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    m_readArmed = true;
    setupNotifications();
    if (handle < 0) {
        info(siAccept, QStringLiteral("Could Not Accept Connection"));
        return false;
    }
    NewSock = createAccepted(handle, peer);
    info(siAccept, QStringLiteral("Created New TSock Structure"));
    return true;
}

void TSock::acceptPending()
{
    if (!m_autoAccept || !isSignalConnected(QMetaMethod::fromSignal(&TSock::OnAutoAccept))) {
        // The application accepts; until it does, the pending connection is not
        // announced again.
        m_readArmed = false;
        m_readNotifier.setEnabled(false);
        emit OnAccept(this);
        return;
    }
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int handle;
    do {
        handle = ::accept4(m_handle, reinterpret_cast<sockaddr *>(&peer), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) {
        // Another accept took the connection first; nothing is waiting any more.
        if (wouldBlock(errno))
            return;
        info(siAccept, QStringLiteral("Could Not Accept Connection"));
        return;
    }
    TSock *newSock = createAccepted(handle, peer);
    if (m_blocking)
        new TSockThread(this, newSock);
    else
        emit OnAutoAccept(this, newSock);
}

void TSock::readPending()
{
    if (m_handle < 0)
        return;
    if (m_socketType == stDatagram) {
        m_readArmed = false;
        m_readNotifier.setEnabled(false);
        emit OnRead(this, static_cast<int>(incomingSize()));
        return;
    }
    const ssize_t got = ::recv(m_handle, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
    if (got > 0) {
        m_incoming.append(m_buffer.data(), got);
        QPointer<TSock> self(this);
        const quint64 generation = m_generation;
        info(siReceive, QStringLiteral("Non-Blocking Incoming Data"));
        if (self && generation == m_generation)
            emit OnRead(this, static_cast<int>(qMin<qsizetype>(incomingSize(), INT_MAX)));
        return;
    }
    if (got < 0) {
        if (errno == EINTR || wouldBlock(errno))
            return;
        // A reset connection is as closed as one the peer ended politely: after the
        // error report the socket goes through the same close, so its owner learns that
        // the connection is over.
        const int code = lastWinsockError();
        m_readNotifier.setEnabled(false);
        m_exceptionNotifier.setEnabled(false);
        QPointer<TSock> self(this);
        const quint64 generation = m_generation;
        reportError(code);
        if (!self || generation != m_generation)
            return;
    }
    peerClosed();
}

void TSock::peerClosed()
{
    // The end of the stream stays readable; quiet the notifiers so that a handler that
    // runs a nested event loop does not hear about the same close again.
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_exceptionNotifier.setEnabled(false);
    QPointer<TSock> self(this);
    const quint64 generation = m_generation;
    emit OnDisconnect(this);
    if (self && generation == m_generation)
        Close();
}

void TSock::writeReady()
{
    if (m_handle < 0)
        return;
    if (m_connecting) {
        connectFinished();
        return;
    }
    if (!m_connected)
        return;
    QPointer<TSock> self(this);
    const quint64 generation = m_generation;
    if (outgoingSize() > 0)
        Send(QByteArray());
    if (!self || generation != m_generation)
        return;
    info(siSend, QStringLiteral("Non-Blocking Outgoing Data"));
    if (self && generation == m_generation)
        emit OnWrite(this);
}

void TSock::connectFinished()
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err == 0) {
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        // Writable without an error but not connected yet: not the outcome, keep waiting.
        if (::getpeername(m_handle, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0 &&
            errno == ENOTCONN)
            return;
    }
    m_connecting = false;
    if (err != 0) {
        // The handle is kept (the owner closes it) but has nothing more to say.
        setupNotifications();
        reportError(ostrel::winsockErrorFromErrno(err));
        return;
    }
    m_connected = true;
    setupNotifications();
    QPointer<TSock> self(this);
    const quint64 generation = m_generation;
    info(siConnect, QStringLiteral("Non-Blocking Socket Connected"));
    if (!self || generation != m_generation)
        return;
    emit OnConnect(this);
    // A fresh connection can take data: what was sent while connecting leaves now.
    if (self && generation == m_generation && m_connected)
        writeReady();
}

void TSock::exceptionPending()
{
    if (m_handle < 0)
        return;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        reportError(ostrel::winsockErrorFromErrno(err));
        return;
    }
    // Urgent bytes are delivered inline; take them like any other.
    readPending();
}

in_addr_t TSock::HostLookup(const QString &Name)
{
    info(siLookup, QStringLiteral("Lookup Of Host ") + Name);
    if (Name.isEmpty())
        return htonl(INADDR_ANY);
    const QByteArray name = Name.toUtf8();
    if (name.front() >= '0' && name.front() <= '9') {
        in_addr addr{};
        if (::inet_aton(name.constData(), &addr) != 0)
            return addr.s_addr;
        // Not dotted text after all ("3dgames.example"): resolve it as a name.
    }
    HostCache &cache = hostCache();
    {
        std::lock_guard lock(cache.mutex);
        const auto it = cache.entries.find(Name);
        if (it != cache.entries.end())
            return it->second;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || found == nullptr) {
        if (found)
            ::freeaddrinfo(found);
        throw ESockException(QStringLiteral("Host Lookup - Could Not Find Host Entry"));
    }
    const in_addr_t address =
        reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    std::lock_guard lock(cache.mutex);
    cache.entries.emplace(Name, address);
    return address;
}

in_port_t TSock::PortLookup(const QString &Name)
{
    info(siLookup, QStringLiteral("Lookup Of Port ") + Name);
    const auto notFound = [] {
        return ESockException(QStringLiteral("Port Lookup - Could Not Find Service Entry"));
    };
    // An empty name names no port; binding or connecting to a port the system picks at
    // random would hide the mistake.
    if (Name.isEmpty())
        throw notFound();
    if (Name.front() >= u'0' && Name.front() <= u'9') {
        bool ok = false;
        const uint port = Name.toUInt(&ok);
        if (!ok || port > 65535)
            throw notFound();
        return htons(static_cast<uint16_t>(port));
    }
    const QByteArray name = Name.toUtf8();
    servent entry{};
    servent *result = nullptr;
    std::array<char, 4096> scratch;
    ::getservbyname_r(name.constData(), m_socketType == stDatagram ? "udp" : "tcp", &entry,
                      scratch.data(), scratch.size(), &result);
    if (result == nullptr)
        throw notFound();
    return static_cast<in_port_t>(result->s_port);
}
