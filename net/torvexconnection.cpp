#include "torvexconnection.h"

#include "encryptit.h"
#include "orvexutils.h"
#include "tsocketthread.h"
#include "wirekeyword.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <exception>
#include <string_view>
#include <utility>

namespace {

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

using ostrel::WireKeyword;

// A line for the server, as the bytes SendLine takes.
template <typename... Fields> QByteArray wireBytes(WireKeyword keyword, const Fields &...fields)
{
    return bytes(ostrel::wireLine(keyword, fields...));
}

} // namespace

TOrvexConnection::TOrvexConnection(QObject *parent)
    : QObject(parent), m_serverStats(std::make_unique<ostrel::TOrvexServerStats>())
{
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(kConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, &TOrvexConnection::connectTimedOut);
    useSocket(false);
}

void TOrvexConnection::useSocket(bool secure)
{
    if (m_socket && (qobject_cast<QSslSocket *>(m_socket) != nullptr) == secure)
        return;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    // Plain connections keep a plain socket: QSslSocket reports reads differently even
    // when it does not encrypt.
    QSslSocket *tls = secure ? new QSslSocket(this) : nullptr;
    m_socket = tls ? tls : new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::disconnected, this, &TOrvexConnection::socketDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TOrvexConnection::socketError);
    if (tls) {
        // Over TLS the connection counts as made once the handshake is done: nothing may
        // be sent before the server's certificate is trusted.
        connect(tls, &QSslSocket::encrypted, this, &TOrvexConnection::socketEncrypted);
        connect(tls, &QSslSocket::sslErrors, this, &TOrvexConnection::socketSslErrors);
        // Read from the event loop, not from inside the notification: QSslSocket learns
        // of new bytes from its inner socket's readyRead, which is not emitted again while
        // a slot of ours still runs in it. A line handler that opens a modal box would
        // otherwise stop the lines behind it (PING above all) until the box closes.
        connect(tls, &QSslSocket::readyRead, this, &TOrvexConnection::socketReadyRead,
                Qt::QueuedConnection);
    } else {
        connect(m_socket, &QTcpSocket::connected, this, &TOrvexConnection::socketConnected);
        // channelReadyRead, unlike readyRead, is emitted again while a slot of ours still
        // runs: a line handler that opens a modal box keeps the lines behind it (PING
        // above all) flowing through the box's event loop.
        connect(m_socket, &QTcpSocket::channelReadyRead, this, &TOrvexConnection::socketReadyRead);
    }
}

TOrvexConnection::~TOrvexConnection()
{
    // Tearing down is not a loss of connection: no events from here on.
    m_socket->disconnect(this);
    m_socket->abort();
    if (m_sendThread)
        m_sendThread->Terminate();
}

void TOrvexConnection::setActive(bool value)
{
    if (value == m_active)
        return;
    m_closing = !value;
    m_loggedIn = false;
    if (value) {
        // A previous attempt may still be under way; the socket keeps it.
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            return;
        startConnect();
    } else {
        ++m_attempt;
        // Closing is immediate, as the disconnect is reported before this returns; what
        // the socket already holds is pushed out first.
        m_socket->flush();
        m_socket->abort();
        if (m_active)
            socketDisconnected();
    }
}

void TOrvexConnection::startConnect()
{
    ++m_attempt;
    m_trust = Trust::Undecided;
    useSocket(m_secure);
    m_connectTimer.start();
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket)) {
        tls->connectToHostEncrypted(m_host, static_cast<quint16>(m_port), peerName());
    } else if (IsIPAddress(m_host)) {
        m_socket->connectToHost(QHostAddress(m_host), static_cast<quint16>(m_port));
    } else {
        m_socket->connectToHost(m_host, static_cast<quint16>(m_port));
    }
}

void TOrvexConnection::CancelConnect()
{
    // Also voids a certificate question still open: its answer must not connect.
    ++m_attempt;
    if (m_active || m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_connectTimer.stop();
    m_socket->abort();
}

void TOrvexConnection::setHost(const QString &value)
{
    if (!m_active)
        m_host = value;
}

void TOrvexConnection::setPort(int value)
{
    if (!m_active)
        m_port = value;
}

void TOrvexConnection::setSecure(bool value)
{
    if (!m_active)
        m_secure = value;
}

void TOrvexConnection::setServerName(const QString &value)
{
    if (!m_active)
        m_serverName = value;
}

QString TOrvexConnection::peerName() const
{
    return m_serverName.isEmpty() ? m_host : m_serverName;
}

QString TOrvexConnection::serverKey() const
{
    return peerName().toLower() + QLatin1Char(':') + QString::number(m_port);
}

QString TOrvexConnection::displayFingerprint(const QByteArray &pin)
{
    return QString::fromLatin1(QByteArray::fromHex(pin).toHex(':').toUpper());
}

void TOrvexConnection::setSubjectCode(const QString &value)
{
    if (!m_active)
        m_subjectCode = value;
}

QHostAddress TOrvexConnection::LocalAddress() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState ? m_socket->localAddress()
                                                                : QHostAddress();
}

bool TOrvexConnection::IsIPAddress(const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    std::string_view rest = view(utf8);
    for (int i = 0; i < 3; ++i) {
        const auto part = ostrel::ExtractToken(rest, '.');
        if (rest.empty() || !ostrel::ParseInt32(part))
            return false;
    }
    return ostrel::ParseInt32(rest).has_value();
}

int TOrvexConnection::winsockCode(QAbstractSocket::SocketError error, bool connecting)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        // While connecting this is an unreachable or silent host; afterwards the
        // connection was torn down under us.
        return connecting ? 10060 : 10053;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::TemporaryError:
        return 10035;
    default:
        return 10022; // WSAEINVAL: nothing closer exists for the rest
    }
}

void TOrvexConnection::socketConnected()
{
    m_connectTimer.stop();
    m_active = true;
    m_framer.clear();
    // The pacer already gathers lines per tick; relayed game lines leave one by one and
    // must not wait for the server to acknowledge the one before.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_sendThread)
        m_sendThread->Terminate();
    m_sendThread = new TSocketThread(m_socket, this);
    emit OnConnected();
}

void TOrvexConnection::socketDisconnected()
{
    if (!m_active)
        return;
    if (m_sendThread) {
        m_sendThread->Terminate();
        m_sendThread = nullptr;
    }
    m_active = false;
    if (!m_closing)
        emit OnDisconnected();
}

QByteArray TOrvexConnection::readPin() const
{
    QByteArray pin;
    emit const_cast<TOrvexConnection *>(this)->OnReadPin(serverKey(), &pin);
    return pin.trimmed().toLower();
}

void TOrvexConnection::socketSslErrors(const QList<QSslError> &errors)
{
    auto *tls = qobject_cast<QSslSocket *>(m_socket);
    const QSslCertificate certificate = tls ? tls->peerCertificate() : QSslCertificate();
    if (certificate.isNull())
        return;
    const QByteArray offered = certificate.digest(QCryptographicHash::Sha256).toHex();
    const QByteArray pinned = readPin();
    if (!pinned.isEmpty() && pinned == offered) {
        // The very certificate the user trusted: whatever the system holds against it
        // (self-signed, issued to another name) was known when it was pinned.
        tls->ignoreSslErrors(errors);
        return;
    }
    // Left unignored, the errors fail the handshake; the error that follows tells the
    // user or asks. No box opens here: the handshake is in the middle of its work.
    m_trust = pinned.isEmpty() ? Trust::Unknown : Trust::Changed;
    m_offeredPin = offered;
    m_pinnedPin = pinned;
    m_trustReasons = describe(errors);
}

QString TOrvexConnection::describe(const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &e : errors)
        reasons << e.errorString();
    reasons.removeDuplicates();
    return reasons.join(QStringLiteral("; "));
}

void TOrvexConnection::socketEncrypted()
{
    // Checked once more with the handshake done: a resumed TLS session skips the
    // certificate check, and with it the errors that the pin is compared on.
    auto *tls = qobject_cast<QSslSocket *>(m_socket);
    const QSslCertificate certificate = tls->peerCertificate();
    const QByteArray offered = certificate.isNull()
                                   ? QByteArray()
                                   : certificate.digest(QCryptographicHash::Sha256).toHex();
    const QByteArray pinned = readPin();
    if (!offered.isEmpty() && offered == pinned) {
        socketConnected();
        return;
    }
    QList<QSslCertificate> chain = tls->peerCertificateChain();
    if (chain.isEmpty() && !certificate.isNull())
        chain << certificate;
    const QList<QSslError> errors = chain.isEmpty()
                                        ? QList<QSslError>{QSslError(QSslError::NoPeerCertificate)}
                                        : QSslCertificate::verify(chain, peerName());
    if (errors.isEmpty()) {
        socketConnected();
        return;
    }
    m_offeredPin = offered;
    m_pinnedPin = pinned;
    m_trustReasons = describe(errors);
    const Trust trust = pinned.isEmpty() ? Trust::Unknown : Trust::Changed;
    m_trust = Trust::Undecided;
    m_socket->abort();
    refuse(trust);
}

void TOrvexConnection::refuse(Trust trust)
{
    m_connectTimer.stop();
    // Reported from the event loop rather than from inside the socket's signal: the owner
    // may open a box.
    QTimer::singleShot(0, this,
                       [this, trust, offered = m_offeredPin, pinned = m_pinnedPin,
                        reasons = m_trustReasons, attempt = m_attempt] {
                           if (attempt != m_attempt || m_active)
                               return;
                           if (trust == Trust::Changed) {
                               emit OnCertificateChanged(serverKey(), pinned, offered);
                               return;
                           }
                           m_questionAttempt = attempt;
                           m_questionPin = offered;
                           emit OnCertificateQuestion(serverKey(), offered, reasons);
                       });
}

bool TOrvexConnection::AnswerCertificate(bool trust)
{
    const int asked = std::exchange(m_questionAttempt, 0);
    // The user may have given up the login, or started another, while the box was open.
    if (asked == 0 || asked != m_attempt || m_active)
        return false;
    if (trust) {
        emit OnStorePin(serverKey(), m_questionPin);
        startConnect();
    }
    return true;
}

void TOrvexConnection::reportSecureFailure(const QString &detail)
{
    // Reported like any failed connect, so that the owner's reconnect try goes on.
    emit OnSocketError(
        10060,
        QStringLiteral("Unable to set up an encrypted connection to %1 (%2). The server may not "
                       "accept encrypted connections on this port.")
            .arg(serverKey(), detail),
        QString());
}

void TOrvexConnection::socketError(QAbstractSocket::SocketError error)
{
    if (!m_active && m_trust != Trust::Undecided) {
        // The handshake stopped at a certificate that is not trusted.
        refuse(std::exchange(m_trust, Trust::Undecided));
        return;
    }
    // A server that closes during the handshake, or answers in something other than TLS,
    // most likely does not speak TLS on this port.
    if (m_secure && !m_active &&
        (error == QAbstractSocket::SslHandshakeFailedError ||
         error == QAbstractSocket::SslInternalError ||
         error == QAbstractSocket::SslInvalidUserDataError ||
         error == QAbstractSocket::RemoteHostClosedError)) {
        m_connectTimer.stop();
        reportSecureFailure(m_socket->errorString());
        return;
    }
    // A peer that closes is reported as a disconnect, not as an error: Qt cannot tell an
    // orderly close from a reset, and a close by request is not a loss either.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    const bool connecting = !m_active;
    if (connecting)
        m_connectTimer.stop();
    reportError(winsockCode(error, connecting), m_socket->errorString());
}

void TOrvexConnection::connectTimedOut()
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    m_socket->abort();
    reportError(10060, QStringLiteral("connection timed out"));
}

void TOrvexConnection::reportError(int code, const QString &detail)
{
    switch (code) {
    case 10061:
    case 10060:
        emit OnSocketError(code, QStringLiteral("Unable to Connect, Please try again later!"),
                           QString());
        return;
    case 10054:
    case 10053:
        emit OnSocketError(code, QStringLiteral("Connection to Server has been lost."), QString());
        return;
    default:
        // The number alone for the user; what the socket layer said for the error display.
        emit OnSocketError(code, QStringLiteral("Error Code ") + QString::number(code),
                           QStringLiteral("Socket error %1: %2").arg(code).arg(detail));
        return;
    }
}

void TOrvexConnection::socketReadyRead()
{
    // Every box that a line opens nests one more read; past the limit the bytes wait in
    // the socket (and the peer's send window) until a box closes and its level reads on.
    if (m_readDepth >= kMaxNestedReads)
        return;
    QPointer<TOrvexConnection> alive(this);
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray chunk = m_socket->readAll();
        receiveChunk(chunk.constData(), chunk.size());
        if (!alive || m_readDepth >= kMaxNestedReads)
            return;
    }
}

void TOrvexConnection::receiveChunk(const char *data, qsizetype size)
{
    const bool overflow = !m_framer.append(std::string_view(data, static_cast<std::size_t>(size)));
    QPointer<TOrvexConnection> alive(this);
    dispatchLines();
    if (!alive)
        return;
    if (overflow && m_framer.overflowed()) {
        // A line without end: treat the peer like a lost connection. The socket is shut
        // before the box opens, so nothing more piles up while the user reads it.
        m_framer.clear();
        m_socket->abort();
        socketDisconnected();
        if (alive)
            reportError(10053, QStringLiteral("line without end"));
    }
}

void TOrvexConnection::dispatchLines()
{
    if (m_readDepth >= kMaxNestedReads)
        return;
    QPointer<TOrvexConnection> alive(this);
    ++m_readDepth;
    std::string_view line;
    while (m_framer.nextLine(line)) {
        // Should this line's handler open a box, the lines queued behind it go on inside
        // the box's event loop rather than waiting for it to close.
        if (!m_resumeQueued) {
            m_resumeQueued = true;
            QMetaObject::invokeMethod(this, &TOrvexConnection::resumeLines, Qt::QueuedConnection);
        }
        // The view dies with the next append, which a handler may cause; copy it first.
        handleLine(bytes(line));
        if (!alive)
            return;
        // A handler closed the connection: the rest belongs to a session that ended.
        if (m_closing && !m_active) {
            m_framer.clear();
            break;
        }
    }
    --m_readDepth;
}

void TOrvexConnection::resumeLines()
{
    m_resumeQueued = false;
    QPointer<TOrvexConnection> alive(this);
    dispatchLines();
    if (alive && m_socket->bytesAvailable() > 0)
        socketReadyRead();
}

void TOrvexConnection::handleLine(QByteArray line)
{
    try {
        ostrel::ScrambleInPlace(line.data(), static_cast<std::size_t>(line.size()),
                                ostrel::kWireKey);
        emit OnStringRead(line);
        std::string_view rest = view(line);
        const auto keyword = ostrel::ExtractToken(rest, '|');
        ProcessCommand(bytes(rest), bytes(keyword));
    } catch (const std::exception &e) {
        emit OnLineError(QString::fromUtf8(e.what()));
    } catch (...) {
        emit OnLineError(QStringLiteral("Unexpected error"));
    }
}

void TOrvexConnection::ProcessCommand(const QByteArray &Rest, const QByteArray &Keyword)
{
    const auto keyword = ostrel::wireKeyword(view(Keyword));
    if (!keyword)
        return;
    std::string_view rest = view(Rest);
    auto firstField = [&Rest]() {
        std::string_view r = view(Rest);
        return bytes(ostrel::ExtractToken(r, '|'));
    };

    switch (*keyword) {
    case WireKeyword::LOGIN: {
        const auto status = ostrel::ExtractToken(rest, '|');
        if (ostrel::wireKeyword(status) == WireKeyword::SUCCESS) {
            m_loggedIn = true;
            m_user = std::make_unique<ostrel::TOrvexUser>();
            m_user->LoadFromString(rest);
            emit OnLoginSuccess(m_user.get());
        } else {
            emit OnLoginFailed(bytes(rest));
        }
        break;
    }
    case WireKeyword::NEWSUCCESS:
        emit OnNewSuccess(Rest);
        break;
    case WireKeyword::DATASEND:
        emit OnDatasendReceived(Rest, QByteArray());
        break;
    case WireKeyword::SEND: {
        const QByteArray party = bytes(ostrel::ExtractToken(rest, '|'));
        const auto type = ostrel::wireKeyword(ostrel::ExtractToken(rest, '|'));
        const QByteArray payload = bytes(rest);
        void (TOrvexConnection::*event)(const QByteArray &, const QByteArray &) = nullptr;
        if (type) {
            switch (*type) {
            case WireKeyword::CHAT:
                event = &TOrvexConnection::OnChatReceived;
                break;
            case WireKeyword::GHAT:
                event = &TOrvexConnection::OnGhatReceived;
                break;
            case WireKeyword::PMES:
                event = &TOrvexConnection::OnPmesReceived;
                break;
            case WireKeyword::INVITE:
                event = &TOrvexConnection::OnInviteReceived;
                break;
            case WireKeyword::IPTJ:
                event = &TOrvexConnection::OnIPTJReceived;
                break;
            case WireKeyword::IGNO:
                event = &TOrvexConnection::OnIGNOReceived;
                break;
            case WireKeyword::JOIN:
                event = &TOrvexConnection::OnJOINReceived;
                break;
            case WireKeyword::DATA:
                event = &TOrvexConnection::OnDataReceived;
                break;
            default:
                break;
            }
        }
        if (event)
            emit(this->*event)(payload, party);
        break;
    }
    case WireKeyword::PING:
        SendLine(wireBytes(WireKeyword::PING, ""));
        break;
    case WireKeyword::SUBJECTS:
        while (!rest.empty()) {
            const auto room = ostrel::ExtractToken(rest, '|');
            if (room.empty())
                break;
            emit OnAddSubject(bytes(room));
        }
        break;
    case WireKeyword::ADDSUBJECT:
        emit OnAddSubject(firstField());
        break;
    case WireKeyword::REMOVESUBJECT:
        emit OnRemoveSubject(firstField());
        break;
    case WireKeyword::JOINSUBJECT:
        m_currentSubject = bytes(ostrel::ExtractToken(rest, '|'));
        emit OnJoinSubject(m_currentSubject);
        while (!rest.empty()) {
            const auto entry = ostrel::ExtractToken(rest, '|');
            if (entry.empty())
                break;
            emit OnAddUser(bytes(entry));
        }
        break;
    case WireKeyword::ADDGUEST:
        emit OnAddUser(Rest);
        break;
    case WireKeyword::ADDGAME:
        emit OnAddGame(firstField());
        break;
    case WireKeyword::DELETEGAME:
        emit OnDeletegame(firstField());
        break;
    case WireKeyword::REMOVEGUEST:
        emit OnRemoveUser(Rest);
        break;
    case WireKeyword::GREMOVEGUEST:
        emit OnGRemoveUser(Rest);
        break;
    case WireKeyword::BEGINSUBJECT:
        emit OnBeginSubject();
        break;
    case WireKeyword::SERVERSTATS:
        m_serverStats->LoadFromString(ostrel::ExtractToken(rest, '|'));
        emit OnServerStatus(m_serverStats.get());
        break;
    case WireKeyword::RENAMED:
        emit OnRenamedUser(Rest);
        break;
    case WireKeyword::USERINFO: {
        auto record = std::make_unique<ostrel::TOrvexUser>();
        record->LoadFromString(ostrel::ExtractToken(rest, '|'));
        ostrel::TOrvexUser *handed = record.get();
        if (m_user && m_user->UserName == record->UserName)
            m_user = std::move(record);
        emit OnUserInfo(handed);
        break;
    }
    case WireKeyword::SHOUT:
        emit OnShout(firstField());
        break;
    case WireKeyword::NEWS:
        emit OnNews(Rest);
        break;
    case WireKeyword::GAMES:
        emit OnGames(Rest);
        break;
    case WireKeyword::ERROR:
        emit OnServerError(Rest);
        break;
    case WireKeyword::ALLUSERS:
        emit Onallusers(Rest);
        break;
    case WireKeyword::FINISHED:
        emit Onfinished(Rest);
        break;
    case WireKeyword::CROOM:
        emit Oncroom(Rest);
        break;
    case WireKeyword::LCROOM:
        emit OnLcroom(Rest);
        break;
    case WireKeyword::CUSTOM: {
        const QByteArray type = bytes(ostrel::ExtractToken(rest, '|'));
        emit OnCustomMessage(type, bytes(rest));
        break;
    }
    default:
        // Words the server never starts a line with: ignored, as any unknown line.
        break;
    }
}

void TOrvexConnection::SendLine(const QByteArray &line)
{
    queueLine(line, false);
}

void TOrvexConnection::queueLine(const QByteArray &line, bool now)
{
    if (!m_active || !m_sendThread)
        return;
    try {
        QByteArray copy = line;
        ostrel::ScrambleInPlace(copy.data(), static_cast<std::size_t>(copy.size()),
                                ostrel::kWireKey);
        copy.append('\n');
        if (now)
            m_sendThread->SendNow(copy);
        else
            m_sendThread->Enqueue(copy);
    } catch (...) {
        // A line that cannot be queued is lost, as one queued when the connection drops.
    }
}

void TOrvexConnection::Login(const QByteArray &name, const QByteArray &password)
{
    SendLine(wireBytes(WireKeyword::LOGIN, view(name), ostrel::kWireRevision, view(password)));
}

void TOrvexConnection::LoginNew(const QByteArray &name, const QByteArray &record)
{
    SendLine(wireBytes(WireKeyword::LOGINNEW, view(name), ostrel::kWireRevision, view(record)));
}

void TOrvexConnection::JoinSubject(const QByteArray &room)
{
    if (room != m_currentSubject)
        SendLine(wireBytes(WireKeyword::JOINSUBJECT, view(room)));
}

void TOrvexConnection::RequestUserInfo(const QByteArray &name)
{
    SendLine(wireBytes(WireKeyword::USERINFO, view(name), ""));
}

void TOrvexConnection::UserUpdate()
{
    if (!m_user)
        return;
    SendLine(wireBytes(WireKeyword::USERUPDATE, m_user->UserName, m_user->SaveToString(), ""));
}

void TOrvexConnection::SendChat(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::CHAT, view(payload)));
}
void TOrvexConnection::SendGhat(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::GHAT, view(payload)));
}
void TOrvexConnection::SendPmes(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::PMES, view(payload)));
}
void TOrvexConnection::SendDatasend(const QByteArray &payload)
{
    // Relayed game bytes leave as soon as the game hands them over: the pacer's tick
    // would add its delay at both lobbies, and the server already bounds their rate.
    queueLine(wireBytes(WireKeyword::SEND, WireKeyword::DATASEND, view(payload)), true);
}
void TOrvexConnection::SendIPTJ(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::IPTJ, view(payload)));
}
void TOrvexConnection::SendIGNO(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::IGNO, view(payload)));
}
void TOrvexConnection::SendJoin(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::SEND, WireKeyword::JOIN, view(payload)));
}
void TOrvexConnection::SendInvite(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::INVITE, view(payload)));
}
void TOrvexConnection::MakePrivate(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::PRIVATE, view(payload)));
}
void TOrvexConnection::AddGame(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::ADDGAME, view(payload)));
}
void TOrvexConnection::AddAssisted(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::ADDASSISTED, view(payload)));
}
void TOrvexConnection::DeleteGame(const QByteArray &payload)
{
    SendLine(wireBytes(WireKeyword::DELETEGAME, view(payload)));
}
void TOrvexConnection::SendAdmin(const QByteArray &name, WireKeyword order,
                                 const QList<QByteArray> &fields)
{
    QByteArray line = wireBytes(WireKeyword::HADMIN, ostrel::kWireAdminCode, view(name), order, "");
    for (const QByteArray &field : fields)
        line += field + '|';
    SendLine(line);
}
