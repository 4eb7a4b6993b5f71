#include "ttestgame.h"

#include <QDateTime>
#include <QDir>

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TTestGame::TTestGame(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(200);
    connect(&m_retry, &QTimer::timeout, this, &TTestGame::connectToHost);
}

TTestGame::~TTestGame()
{
    if (m_lockHandle >= 0)
        ::close(m_lockHandle);
}

bool TTestGame::start()
{
    if (!m_options.recordPath.isEmpty()) {
        m_record.setFileName(m_options.recordPath);
        if (!m_record.open(QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "ostrel-testgame: cannot write %s\n",
                         qPrintable(m_options.recordPath));
            return false;
        }
    }
    record(QStringLiteral("start %1 %2 %3 %4")
               .arg(m_options.host ? QStringLiteral("host") : QStringLiteral("joiner"),
                    m_options.name, m_options.address.toString(), m_options.mode));
    takeRunningMarker();
    connectPresence();
    if (m_options.host) {
        connect(&m_listener, &QTcpServer::newConnection, this, &TTestGame::acceptPeer);
        // Every interface: the joiner's game comes from another machine.
        if (!m_listener.listen(QHostAddress::AnyIPv4, m_options.gamePort)) {
            fail(QStringLiteral("cannot listen on port %1: %2")
                     .arg(m_options.gamePort)
                     .arg(m_listener.errorString()));
            return false;
        }
        record(QStringLiteral("listening on %1").arg(m_options.gamePort));
    } else {
        m_connectDeadline = QDateTime::currentMSecsSinceEpoch() + m_options.connectPatienceMs;
        connectToHost();
    }
    return true;
}

void TTestGame::record(const QString &line)
{
    if (m_record.isOpen()) {
        m_record.write(line.toUtf8() + '\n');
        m_record.flush();
    }
    if (onRecord)
        onRecord(line);
}

void TTestGame::fail(const QString &why)
{
    record(QStringLiteral("error ") + why);
    std::fprintf(stderr, "ostrel-testgame: %s\n", qPrintable(why));
    finish(1);
}

void TTestGame::finish(int code)
{
    if (m_done)
        return;
    m_done = true;
    m_retry.stop();
    m_listener.close();
    record(QStringLiteral("end %1").arg(code));
    emit finished(code);
}

void TTestGame::takeRunningMarker()
{
    // The lobby's probe tries the same lock without waiting: held means a game runs. The
    // kernel drops the lock with the process, so a crashed game leaves nothing behind.
    QDir().mkpath(QFileInfo(m_options.lockPath).absolutePath());
    m_lockHandle = ::open(QFile::encodeName(m_options.lockPath).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockHandle < 0 || ::flock(m_lockHandle, LOCK_EX | LOCK_NB) != 0)
        record(QStringLiteral("running marker held by another game"));
}

void TTestGame::connectPresence()
{
    // The lobby knows the game runs while this connection stays open; a lobby that is not
    // there does not stop the game.
    connect(&m_presence, &QAbstractSocket::connected, this,
            [this] { record(QStringLiteral("presence connected")); });
    connect(&m_presence, &QAbstractSocket::errorOccurred, this,
            [this] { record(QStringLiteral("presence %1").arg(m_presence.errorString())); });
    m_presence.connectToHost(QHostAddress::LocalHost, m_options.presencePort);
}

void TTestGame::acceptPeer()
{
    QTcpSocket *socket = m_listener.nextPendingConnection();
    if (!socket)
        return;
    if (m_peer) {
        // One opponent per game.
        socket->deleteLater();
        return;
    }
    m_peer = socket;
    m_listener.close();
    record(QStringLiteral("peer %1").arg(socket->peerAddress().toString()));
    connect(m_peer, &QIODevice::readyRead, this, &TTestGame::readPeer);
    connect(m_peer, &QAbstractSocket::disconnected, this, [this] {
        if (!m_done)
            fail(QStringLiteral("the joiner left before the exchange ended"));
    });
}

void TTestGame::connectToHost()
{
    if (m_peer) {
        m_peer->deleteLater();
        m_peer = nullptr;
    }
    m_peer = new QTcpSocket(this);
    connect(m_peer, &QAbstractSocket::connected, this, [this] {
        record(QStringLiteral("peer %1").arg(m_peer->peerAddress().toString()));
        sendLine("HELLO from " + m_options.name.toUtf8());
        sendBlock();
    });
    connect(m_peer, &QIODevice::readyRead, this, &TTestGame::readPeer);
    connect(m_peer, &QAbstractSocket::errorOccurred, this, [this] {
        if (m_done)
            return;
        if (m_said) {
            // The host closing after GOODBYE is how a finished game ends.
            if (m_peer->error() == QAbstractSocket::RemoteHostClosedError)
                finish(0);
            else
                fail(m_peer->errorString());
            return;
        }
        if (QDateTime::currentMSecsSinceEpoch() < m_connectDeadline)
            m_retry.start();
        else
            fail(QStringLiteral("cannot reach the host's game: ") + m_peer->errorString());
    });
    m_peer->connectToHost(m_options.address, m_options.gamePort);
}

void TTestGame::sendLine(const QByteArray &line)
{
    record(QStringLiteral("> ") + QString::fromUtf8(line));
    m_peer->write(line + '\n');
}

void TTestGame::readPeer()
{
    while (m_peer) {
        if (m_blockPending > 0) {
            if (m_peer->bytesAvailable() < m_blockPending)
                break;
            const QByteArray block = m_peer->read(m_blockPending);
            m_blockPending = 0;
            handleBlock(block);
            continue;
        }
        if (!m_peer->canReadLine())
            break;
        QByteArray line = m_peer->readLine();
        line.chop(1);
        record(QStringLiteral("< ") + QString::fromUtf8(line));
        handleLine(line);
    }
    // A peer that never ends its line must not grow the buffer without bound.
    if (m_peer && m_blockPending == 0 && m_peer->bytesAvailable() > 4096)
        fail(QStringLiteral("the peer sent an overlong line"));
}

namespace {

// Every byte value, the line feed and the relay's own words among them.
QByteArray testBlock()
{
    QByteArray block;
    for (int round = 0; round < 4; ++round)
        for (int i = 0; i < 256; ++i)
            block.append(static_cast<char>(round % 2 ? 255 - i : i));
    return block + "OPEN" + "CLOSE" + "|\n\x15\x01";
}

} // namespace

void TTestGame::sendBlock()
{
    const QByteArray block = testBlock();
    sendLine("BLOCK " + QByteArray::number(block.size()));
    m_peer->write(block);
}

void TTestGame::handleBlock(const QByteArray &block)
{
    record(block == testBlock() ? QStringLiteral("< block intact")
                                : QStringLiteral("< block corrupt"));
    const QByteArray me = m_options.name.toUtf8();
    if (m_options.host) {
        sendLine("WELCOME " + m_joiner + " from " + me);
        sendBlock();
    } else if (m_said) {
        sendLine("GOODBYE from " + me);
    }
}

void TTestGame::handleLine(const QByteArray &line)
{
    if (line.startsWith("BLOCK ")) {
        const qint64 size = line.mid(6).toLongLong();
        if (size <= 0 || size > 4096)
            fail(QStringLiteral("the peer announced a block of %1 bytes").arg(size));
        else
            m_blockPending = size;
        return;
    }
    if (m_options.host) {
        if (line.startsWith("HELLO from ")) {
            // The welcome follows the joiner's block.
            m_joiner = line.mid(11);
        } else if (line.startsWith("GOODBYE from ")) {
            // Over before the connection goes: closing it reports the disconnect at once.
            finish(0);
            m_peer->disconnectFromHost();
        }
        return;
    }
    // The goodbye follows the host's block.
    if (line.startsWith("WELCOME "))
        m_said = true;
}
