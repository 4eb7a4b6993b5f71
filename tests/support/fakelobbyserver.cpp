#include "fakelobbyserver.h"

#include "encryptit.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTest>

FakeLobbyServer::FakeLobbyServer(bool scrambled, QObject *parent)
    : QObject(parent), m_server(std::make_unique<QTcpServer>()), m_scrambled(scrambled)
{
    listen();
}

FakeLobbyServer::FakeLobbyServer(const QSslConfiguration &tls, QObject *parent)
    : QObject(parent), m_scrambled(true)
{
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    m_server = std::move(server);
    listen();
}

QSslConfiguration FakeLobbyServer::testTlsConfiguration()
{
    auto data = [](const char *name) {
        QFile file(QStringLiteral(OSTREL_TEST_DATA_DIR "/") + QLatin1String(name));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate(data("localhost-cert.pem")));
    config.setPrivateKey(QSslKey(data("localhost-key.pem"), QSsl::Ec));
    return config;
}

void FakeLobbyServer::listen()
{
    m_server->listen(QHostAddress::LocalHost, 0);
    // Plain connections are pending at once, TLS ones once their handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this]() {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
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
    return waitForLine([&exact](const QByteArray &line) { return line == exact; }, timeoutMs, from);
}

bool FakeLobbyServer::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor([this]() { return !m_client; }, timeoutMs);
}
