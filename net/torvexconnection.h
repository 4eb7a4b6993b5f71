#pragma once

#include "lineframer.h"
#include "torvexserverstats.h"
#include "torvexuser.h"
#include "wirekeyword.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QTimer>

#include <memory>

class QTcpSocket;
class TSocketThread;

// The client's connection to the lobby server: frames and scrambles the line protocol,
// keeps the logged-in user's record, the room the server last confirmed and the server
// statistics, and turns every received line into one typed signal. It shows nothing to the
// user: errors and the question of an untrusted certificate go to its owner as signals
// with the facts, and the owner decides what the user sees.
class TOrvexConnection : public QObject
{
    Q_OBJECT
public:
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
    // A moderator's order (REBOOT, SILENCE, UNSILENCE, BOOT) from the named user, with
    // the fields it takes (the player, the minutes of a silence); each field ends in "|".
    void SendAdmin(const QByteArray &name, ostrel::WireKeyword order,
                   const QList<QByteArray> &fields = {});
    // Queues a line, scrambled; dropped while not Active.
    void SendLine(const QByteArray &line);

    // Handles one received line, already unscrambled and split at its first "|".
    virtual void ProcessCommand(const QByteArray &Rest, const QByteArray &Keyword);

    // Four dot-separated parts that each convert to an integer; no range check.
    static bool IsIPAddress(const QString &text);

    // The body of the read notification: frames, unscrambles and dispatches a chunk of
    // received bytes. Public so that benchmarks can drive the receive path without a peer.
    void receiveChunk(const char *data, qsizetype size);

    // The WinSock number that picks the user's message for a socket error.
    static int winsockCode(QAbstractSocket::SocketError error, bool connecting);

    // The form pins are shown in: upper-case hex pairs separated by colons.
    static QString displayFingerprint(const QByteArray &pin);

    // The owner's answer to OnCertificateQuestion. Trusted, the certificate is pinned
    // (OnStorePin) and the connect starts again. Answers false when the question no longer
    // stands (the attempt was given up, or another began while the user thought).
    bool AnswerCertificate(bool trust);

signals:
    void OnAddSubject(const QByteArray &Text);
    void OnAddUser(const QByteArray &Text);
    void OnAddGame(const QByteArray &Text);
    void OnAddAssisted(const QByteArray &Text);
    void OnDeletegame(const QByteArray &Text);
    void OnBeginSubject();
    void OnChatReceived(const QByteArray &Text, const QByteArray &Id);
    void OnGhatReceived(const QByteArray &Text, const QByteArray &Id);
    void OnPmesReceived(const QByteArray &Text, const QByteArray &Id);
    void OnDatasendReceived(const QByteArray &Text, const QByteArray &Id);
    void OnInviteReceived(const QByteArray &Text, const QByteArray &Id);
    void OnIPTJReceived(const QByteArray &Text, const QByteArray &Id);
    void OnIGNOReceived(const QByteArray &Text, const QByteArray &Id);
    void OnJOINReceived(const QByteArray &Text, const QByteArray &Id);
    void OnConnected();
    void OnCustomMessage(const QByteArray &MessageType, const QByteArray &MessageText);
    void OnDataReceived(const QByteArray &Text, const QByteArray &Id);
    void OnDisconnected();
    void OnJoinSubject(const QByteArray &Text);
    void OnLoginFailed(const QByteArray &Text);
    void OnLoginSuccess(ostrel::TOrvexUser *AUser);
    void OnRemoveSubject(const QByteArray &Text);
    void OnGRemoveUser(const QByteArray &Text);
    void OnRenamedUser(const QByteArray &Text);
    void OnNewSuccess(const QByteArray &Text);
    void OnRemoveUser(const QByteArray &Text);
    void OnServerError(const QByteArray &Text);
    void Onallusers(const QByteArray &Text);
    void Onfinished(const QByteArray &Text);
    void Oncroom(const QByteArray &Text);
    void OnLcroom(const QByteArray &Text);
    void OnServerStatus(ostrel::TOrvexServerStats *ServerStats);
    void OnShout(const QByteArray &Text);
    void OnNews(const QByteArray &Text);
    void OnGames(const QByteArray &Text);
    // Every received line, unscrambled, before it is handled.
    void OnStringRead(const QByteArray &Line);
    void OnUserInfo(ostrel::TOrvexUser *AUser);
    // A socket error: the WinSock number, the message the user would be told, and a text
    // for the general error display (empty when there is none). The owner decides whether
    // the user hears of it: a lost connection about to be tried again need not be told.
    void OnSocketError(int Code, const QString &Message, const QString &ErrorText);
    // A received line could not be handled (its text); the lines after it still are.
    void OnLineError(const QString &Message);
    // Asks for the certificate pin kept for a server ("host:port"): a slot connected
    // directly writes the lower-case hex SHA-256 of the certificate the user chose to
    // trust to *Pin, or leaves it empty. Unanswered, no certificate outside the system's
    // trust is accepted.
    void OnReadPin(const QString &Server, QByteArray *Pin);
    // The user trusted a certificate (AnswerCertificate): keep its pin for the server.
    // Unkept, the next connect asks again.
    void OnStorePin(const QString &Server, const QByteArray &Pin);
    // The server offers a certificate that neither the system nor a pin trusts (Offered
    // is its pin, Reasons what the system holds against it). The connect waits for
    // AnswerCertificate; without an answer it stays given up.
    void OnCertificateQuestion(const QString &Server, const QByteArray &Offered,
                               const QString &Reasons);
    // The server's certificate is not the one the user pinned for it: not connected. The
    // owner should not try that server again by itself.
    void OnCertificateChanged(const QString &Server, const QByteArray &Pinned,
                              const QByteArray &Offered);

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
    // Reports a changed certificate, or asks about an unknown one.
    void refuse(Trust trust);
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
    // The open certificate question: the attempt it belongs to (0: none) and the pin
    // offered.
    int m_questionAttempt = 0;
    QByteArray m_questionPin;
    bool m_active = false;
    bool m_loggedIn = false;
    bool m_closing = false;
    bool m_dropAfterRead = false;
    int m_readDepth = 0;
    bool m_resumeQueued = false;
};
