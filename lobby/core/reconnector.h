#pragma once

#include "reconnectpolicy.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>

class QTimer;

// Getting back to the lobby server after a connection was lost without the user asking:
// the login that last succeeded, the waits between tries (ReconnectPolicy), the countdown
// to the next try, and the room to go back to once a try has logged in. It owns no
// connection: the window answers attemptDue by connecting and reports what happened.
class Reconnector : public QObject
{
    Q_OBJECT
public:
    explicit Reconnector(QObject *parent = nullptr);

    // The waits between tries; tests shrink them through its scale.
    ReconnectPolicy &policy() { return m_policy; }
    const ReconnectPolicy &policy() const { return m_policy; }

    // A login succeeded: a lost connection is tried again with these. Ends the tries and
    // starts the schedule over; true when it was a try that logged in.
    bool loggedIn(const QByteArray &name, const QByteArray &password);
    bool hasLogin() const { return !m_name.isEmpty(); }
    const QByteArray &name() const { return m_name; }
    const QByteArray &password() const { return m_password; }

    // Every line from the server, so that a close right after an ERROR counts as the
    // server's own decision to end the session (a boot, a login elsewhere, flooding).
    void lineRead(const QByteArray &line);
    bool serverGaveReason() const;
    // A new connection starts without the last session's error.
    void connected();

    // Whether a connection that just closed is tried again: the user wants it, a login
    // succeeded, the session had logged in (or was a try) and the server gave no reason.
    bool retriesAfterLoss(bool wanted, bool sessionLoggedIn) const;
    // Whether a socket error is left to the countdown instead of a box: while trying, or
    // when an established session was lost that is to be tried again.
    bool swallowsSocketError(bool wanted, bool sessionLost) const;

    // True from a loss until a try logs in or the tries stop.
    bool reconnecting() const { return m_reconnecting; }
    // True while a try connects, until it is connected or fails.
    bool attemptRunning() const { return m_attemptRunning; }
    // Waits the policy's next delay, then emits attemptDue; countdown ticks every second.
    void schedule();
    // The whole seconds (at least one) until the next try, rounded to the nearest.
    int secondsLeft() const;
    // Takes the waiting try now: false when none waits or one runs already.
    bool beginAttempt();
    // The try's connection is up; it logs in next.
    void attemptConnected() { m_attemptRunning = false; }
    // Ends the tries and forgets the room; true when a try was running (to be cancelled).
    bool stop();

    // The room to go back to after a loss, and the room whose conversation is kept until
    // the lobby is back in it (or goes elsewhere).
    void keepRoom(const QByteArray &room);
    const QByteArray &rejoinRoom() const { return m_rejoinRoom; }
    QByteArray takeRejoinRoom();
    const QByteArray &keptChatRoom() const { return m_keptChatRoom; }
    void clearKeptChatRoom() { m_keptChatRoom.clear(); }

    // How long after an ERROR line a close still counts as the server's reason.
    static constexpr int kReasonWindowMs = 10000;

signals:
    // The wait is over: the window connects with the stored login.
    void attemptDue();
    // Once a second while waiting, and at the start of a wait.
    void countdown(int secondsLeft);

private:
    void stopTimers();

    ReconnectPolicy m_policy;
    QTimer *m_retryTimer;
    QTimer *m_countdownTimer;
    QDeadlineTimer m_retryDeadline;
    bool m_reconnecting = false;
    bool m_attemptRunning = false;
    QByteArray m_name;
    QByteArray m_password;
    QByteArray m_rejoinRoom;
    QByteArray m_keptChatRoom;
    bool m_lastLineWasError = false;
    QElapsedTimer m_lastLineClock;
};
