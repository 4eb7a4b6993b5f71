#include "fakelobbyserver.h"

#include "encryptit.h"

#include <QDeadlineTimer>
#include <QTest>

FakeLobbyServer::FakeLobbyServer(bool scrambled, QObject *parent)
    : QObject(parent), m_scrambled(scrambled)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_clientCount;
            m_client = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool FakeLobbyServer::waitForClient(int timeoutMs)
{
    return QTest::qWaitFor([this]() { return !m_client.isNull(); }, timeoutMs);
}

QByteArray FakeLobbyServer::scramble(const QByteArray &line) const
{
    if (!m_scrambled)
        return line;
    QByteArray out = line;
    ostrel::ScrambleInPlace(out.data(), static_cast<std::size_t>(out.size()), ostrel::kWireKey);
    return out;
}

void FakeLobbyServer::send(const QByteArray &line)
{
    sendRaw(scramble(line) + '\n');
}

void FakeLobbyServer::sendRaw(const QByteArray &bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
}

void FakeLobbyServer::closeClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}

void FakeLobbyServer::readFrom(QTcpSocket *socket)
{
    QByteArray &pending = m_pending[socket];
    pending += socket->readAll();
    qsizetype feed;
    while ((feed = pending.indexOf('\n')) >= 0) {
        QByteArray line = scramble(pending.left(feed));
        pending.remove(0, feed + 1);
        m_lines << line;
        if (onLine)
            onLine(line);
    }
}

int FakeLobbyServer::waitForLine(const std::function<bool(const QByteArray &)> &match,
                                 int timeoutMs, int from)
{
    int found = -1;
    (void)QTest::qWaitFor(
        [&]() {
            for (int i = from; i < m_lines.size(); ++i) {
                if (match(m_lines[i])) {
                    found = i;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

int FakeLobbyServer::waitForLine(const QByteArray &exact, int timeoutMs, int from)
{
    return waitForLine([&exact](const QByteArray &line) { return line == exact; }, timeoutMs,
                       from);
}

bool FakeLobbyServer::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor([this]() { return !m_client; }, timeoutMs);
}
