#include "reconnector.h"

#include "orvexutils.h"
#include "wirekeyword.h"

#include <QTimer>

#include <string_view>
#include <utility>

Reconnector::Reconnector(QObject *parent)
    : QObject(parent), m_retryTimer(new QTimer(this)), m_countdownTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        m_countdownTimer->stop();
        emit attemptDue();
    });
    m_countdownTimer->setInterval(1000);
    m_countdownTimer->setTimerType(Qt::PreciseTimer);
    connect(m_countdownTimer, &QTimer::timeout, this, [this] { emit countdown(secondsLeft()); });
}

bool Reconnector::loggedIn(const QByteArray &name, const QByteArray &password)
{
    m_name = name;
    m_password = password;
    const bool backAgain = m_reconnecting;
    m_reconnecting = false;
    m_attemptRunning = false;
    stopTimers();
    m_policy.reset();
    return backAgain;
}

void Reconnector::lineRead(const QByteArray &line)
{
    std::string_view rest(line.constData(), static_cast<std::size_t>(line.size()));
    m_lastLineWasError =
        ostrel::wireKeyword(ostrel::ExtractToken(rest, '|')) == ostrel::WireKeyword::ERROR;
    m_lastLineClock.start();
}

bool Reconnector::serverGaveReason() const
{
    return m_lastLineWasError && m_lastLineClock.isValid() &&
           m_lastLineClock.elapsed() < kReasonWindowMs;
}

void Reconnector::connected()
{
    m_lastLineWasError = false;
}

bool Reconnector::retriesAfterLoss(bool wanted, bool sessionLoggedIn) const
{
    return wanted && hasLogin() && (sessionLoggedIn || m_reconnecting) && !serverGaveReason();
}

bool Reconnector::swallowsSocketError(bool wanted, bool sessionLost) const
{
    // While trying, the countdown tells; a loss that is about to be tried again is told by
    // it too: a box would only wait there, stale, after the lobby has logged in again.
    return m_reconnecting || (sessionLost && wanted && hasLogin() && !serverGaveReason());
}

void Reconnector::schedule()
{
    m_reconnecting = true;
    m_attemptRunning = false;
    const std::chrono::milliseconds wait = m_policy.nextDelay();
    m_retryDeadline.setRemainingTime(wait);
    m_retryTimer->start(wait);
    m_countdownTimer->start();
    emit countdown(secondsLeft());
}

int Reconnector::secondsLeft() const
{
    const qint64 left = qMax<qint64>(0, m_retryDeadline.remainingTime());
    // Rounded to the nearest second: the ticks come about a second apart, not exactly.
    return int(qMax<qint64>(1, (left + 500) / 1000));
}

bool Reconnector::beginAttempt()
{
    if (!m_reconnecting || m_attemptRunning)
        return false;
    stopTimers();
    m_attemptRunning = true;
    return true;
}

bool Reconnector::stop()
{
    stopTimers();
    m_rejoinRoom.clear();
    m_keptChatRoom.clear();
    m_policy.reset();
    const bool wasTrying = m_attemptRunning;
    m_reconnecting = false;
    m_attemptRunning = false;
    return wasTrying;
}

void Reconnector::keepRoom(const QByteArray &room)
{
    m_rejoinRoom = room;
    m_keptChatRoom = room;
}

QByteArray Reconnector::takeRejoinRoom()
{
    return std::exchange(m_rejoinRoom, QByteArray());
}

void Reconnector::stopTimers()
{
    m_retryTimer->stop();
    m_countdownTimer->stop();
}
