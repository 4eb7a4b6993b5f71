#pragma once

#include "lineframer.h"
#include "torvexserverstats.h"
#include "torvexuser.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;
class TSocketThread;

// The client's connection to the lobby server: frames and scrambles the line protocol,
// keeps the logged-in user's record, the room the server last confirmed and the server
// statistics, and turns every received line into one typed event. Events are plain
// callbacks that the owner assigns; an unassigned event is skipped.
class TOrvexConnection : public QObject
{
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;
    using TStringEvent = std::function<void(QObject *Sender, const QByteArray &Text)>;
    using TStringFromEvent =
        std::function<void(QObject *Sender, const QByteArray &Text, const QByteArray &Id)>;
    using TUserEvent = std::function<void(QObject *Sender, ostrel::TOrvexUser *AUser)>;
    using TStatusEvent =
        std::function<void(QObject *Sender, ostrel::TOrvexServerStats *ServerStats)>;
    using TCustomMessageEvent = std::function<void(QObject *Sender, const QByteArray &MessageType,
                                                   const QByteArray &MessageText)>;
    using TEncryptEvent = std::function<void(QObject *Sender, QByteArray &sMessage)>;
    // Answers true when the owner tells the user about the error itself, or has decided
    // the user need not hear of it; the component's own message is then left out.
    using TSocketErrorEvent = std::function<bool(QObject *Sender, int Code)>;
    // The certificate pin kept for a server ("host:port"): the lower-case hex SHA-256 of
    // the certificate the user chose to trust, or empty when there is none.
    using TReadPinEvent = std::function<QByteArray(QObject *Sender, const QString &Server)>;
    using TStorePinEvent =
        std::function<void(QObject *Sender, const QString &Server, const QByteArray &Pin)>;

    // A connect attempt that has not completed after this long counts as timed out.
    static constexpr int kConnectTimeoutMs = 30000;
    // How many reads may nest inside the modal boxes that line handlers open. Each box
    // opened while another is up nests deeper; the bound keeps a stream of box-opening
    // lines from growing the stack without limit.
    static constexpr int kMaxNestedReads = 8;

    explicit TOrvexConnection(QObject *parent = nullptr);
    ~TOrvexConnection() override;

    // Properties
    bool Active() const { return m_active; }
    void setActive(bool value);
    QString Host() const { return m_host; }
    void setHost(const QString &value);
    bool LoggedIn() const { return m_loggedIn; }
    int Port() const { return m_port; }
    void setPort(int value);
    QString SubjectCode() const { return m_subjectCode; }
    void setSubjectCode(const QString &value);
    // Speak the line protocol inside TLS. Lines are sent only once the handshake is done
    // and the server's certificate is trusted.
    bool Secure() const { return m_secure; }
    void setSecure(bool value);
    // The name the user gave for the server. Host may hold its resolved address; the
    // certificate is checked against this name, and pins are kept under it and the port.
    // Empty means Host.
    QString ServerName() const { return m_serverName; }
    void setServerName(const QString &value);
    // Gives up a connect attempt still under way, without a message or an event. Writing
    // Active false cannot do that: Active only turns true once the socket is connected.
    void CancelConnect();

    // State kept for the owner: the logged-in user (null before the first login), the
    // room of the last JOINSUBJECT received and the latest server statistics.
    ostrel::TOrvexUser *User() const { return m_user.get(); }
    QByteArray CurrentSubject() const { return m_currentSubject; }
    ostrel::TOrvexServerStats *ServerStats() const { return m_serverStats.get(); }
    // This end of the connection to the server (null while not connected): the address
    // of the interface through which other players reach this machine.
    QHostAddress LocalAddress() const;

    // Operations: each composes one line and passes it to SendLine.
    void Login(const QByteArray &name, const QByteArray &password);
    void LoginNew(const QByteArray &name, const QByteArray &record);
    void JoinSubject(const QByteArray &room);
    void RequestUserInfo(const QByteArray &name);
    void UserUpdate();
    void SendChat(const QByteArray &payload);
    void SendGhat(const QByteArray &payload);
    void SendPmes(const QByteArray &payload);
    void SendDatasend(const QByteArray &payload);
    void SendIPTJ(const QByteArray &payload);
    void SendIGNO(const QByteArray &payload);
    void SendJoin(const QByteArray &payload);
    void SendInvite(const QByteArray &payload);
    void MakePrivate(const QByteArray &payload);
    void AddGame(const QByteArray &payload);
    void AddAssisted(const QByteArray &payload);
    void DeleteGame(const QByteArray &payload);
    void SendAdmin(const QByteArray &payload);
    // Queues a line (scrambled through OnEncryptString); dropped while not Active.
    void SendLine(const QByteArray &line);

    // Handles one received line, already unscrambled and split at its first "|".
    virtual void ProcessCommand(const QByteArray &Rest, const QByteArray &Keyword);

    // Four dot-separated parts that each convert to an integer; no range check.
    static bool IsIPAddress(const QString &text);

    // The body of the read notification: frames, unscrambles and dispatches a chunk of
    // received bytes. Public so that benchmarks can drive the receive path without a peer.
    void receiveChunk(const char *data, qsizetype size);

    // Events
    TStringEvent OnAddSubject;
    TStringEvent OnAddUser;
    TStringEvent OnAddGame;
    TStringEvent OnAddAssisted;
    TStringEvent OnDeletegame;
    TNotifyEvent OnBeginSubject;
    TStringFromEvent OnChatReceived;
    TStringFromEvent OnGhatReceived;
    TStringFromEvent OnPmesReceived;
    TStringFromEvent OnDatasendReceived;
    TStringFromEvent OnInviteReceived;
    TStringFromEvent OnIPTJReceived;
    TStringFromEvent OnIGNOReceived;
    TStringFromEvent OnJOINReceived;
    TNotifyEvent OnConnected;
    TCustomMessageEvent OnCustomMessage;
    TStringFromEvent OnDataReceived;
    TEncryptEvent OnDecryptString;
    TNotifyEvent OnDisconnected;
    TEncryptEvent OnEncryptString;
    TStringEvent OnJoinSubject;
    TStringEvent OnLoginFailed;
    TUserEvent OnLoginSuccess;
    TStringEvent OnRemoveSubject;
    TStringEvent OnGRemoveUser;
    TStringEvent OnRenamedUser;
    TStringEvent OnNewSuccess;
    TStringEvent OnRemoveUser;
    TStringEvent OnServerError;
    TStringEvent Onallusers;
    TStringEvent Onfinished;
    TStringEvent Oncroom;
    TStringEvent OnLcroom;
    TStatusEvent OnServerStatus;
    TStringEvent OnShout;
    TStringEvent OnNews;
    TStringEvent OnGames;
    TStringEvent OnStringRead;
    TUserEvent OnUserInfo;
    // Raised before a socket error (the WinSock number) is shown to the user.
    TSocketErrorEvent OnSocketError;
    // Where pins are kept. Without OnReadPin no certificate outside the system's trust
    // is accepted; without OnStorePin a trusted one is used for this connection only.
    TReadPinEvent OnReadPin;
    TStorePinEvent OnStorePin;
    // Raised after a server's certificate was refused (changed, or not trusted by the
    // user) and the user was told; the owner should not try that server again by itself.
    TNotifyEvent OnCertificateRefused;

    // The WinSock number that picks the user's message for a socket error.
    static int winsockCode(QAbstractSocket::SocketError error, bool connecting);

    // The form pins are shown in: upper-case hex pairs separated by colons.
    static QString displayFingerprint(const QByteArray &pin);

private:
    enum class Trust { Undecided, Unknown, Changed };

    // Makes m_socket the kind of socket the next connection needs.
    void useSocket(bool secure);
    void startConnect();
    QString peerName() const;
    QString serverKey() const;
    QByteArray readPin() const;
    static QString describe(const QList<QSslError> &errors);
    void socketSslErrors(const QList<QSslError> &errors);
    // The handshake is done: the connection counts as made if the certificate is trusted.
    void socketEncrypted();
    // Tells the user of a changed certificate, or asks about an unknown one.
    void refuse(Trust trust);
    // Asks the user whether to trust the certificate the handshake was stopped at.
    void askTrust(const QByteArray &offered, const QString &reasons, int attempt);
    void reportChanged(const QByteArray &pinned, const QByteArray &offered);
    void reportSecureFailure(const QString &detail);
    void socketConnected();
    void socketDisconnected();
    void socketReadyRead();
    // Hands the complete lines in the framer to ProcessCommand, one nesting level deeper.
    void dispatchLines();
    // Carries on with waiting lines from inside a nested event loop.
    void resumeLines();
    void socketError(QAbstractSocket::SocketError error);
    void connectTimedOut();
    void reportError(int code, const QString &detail);
    void handleLine(QByteArray line);
    // Scrambles a line and hands it to the pacer, to wait for its tick or, with now, to
    // leave at once when nothing waits ahead of it.
    void queueLine(const QByteArray &line, bool now);
    void raise(const TStringEvent &event, const QByteArray &text);

    QTcpSocket *m_socket = nullptr;
    QTimer m_connectTimer;
    ostrel::LineFramer m_framer;
    QPointer<TSocketThread> m_sendThread;
    std::unique_ptr<ostrel::TOrvexUser> m_user;
    std::unique_ptr<ostrel::TOrvexServerStats> m_serverStats;
    QByteArray m_currentSubject;
    QString m_host = QStringLiteral("localhost");
    QString m_subjectCode;
    QString m_serverName;
    int m_port = 0;
    bool m_secure = false;
    // What the last handshake's certificate check found, for the error that follows it.
    Trust m_trust = Trust::Undecided;
    QByteArray m_offeredPin;
    QByteArray m_pinnedPin;
    QString m_trustReasons;
    // Counts connect attempts, so that an answer to an old question starts nothing.
    int m_attempt = 0;
    bool m_active = false;
    bool m_loggedIn = false;
    bool m_closing = false;
    bool m_dropAfterRead = false;
    int m_readDepth = 0;
    bool m_resumeQueued = false;
};
