#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>

// A scripted lobby server on a loopback port, inside the test process. It speaks the
// scrambled line protocol: lines it sends are scrambled and ended with a line feed, and
// lines it receives are cut at line feeds and unscrambled before they are recorded.
class FakeLobbyServer : public QObject
{
    Q_OBJECT
public:
    explicit FakeLobbyServer(bool scrambled = true, QObject *parent = nullptr);
    // The same server inside TLS: clients count once their handshake is done.
    explicit FakeLobbyServer(const QSslConfiguration &tls, QObject *parent = nullptr);
    // The certificate and key of tests/support/data (self-signed, 127.0.0.1 and localhost).
    static QSslConfiguration testTlsConfiguration();

    quint16 port() const { return m_server->serverPort(); }

    // Waits until a client is connected (the newest one is the current one).
    bool waitForClient(int timeoutMs = 5000);
    // Sends one line (scrambled, line feed appended) to the current client.
    void send(const QByteArray &line);
    // Sends raw bytes as they are: for split lines and framing tests.
    void sendRaw(const QByteArray &bytes);
    // Scrambles without a terminator, so that tests can build chunks by hand.
    QByteArray scramble(const QByteArray &line) const;
    void closeClient();

    // Every line received so far from all clients, unscrambled, in order.
    const QList<QByteArray> &lines() const { return m_lines; }
    void clearLines() { m_lines.clear(); }
    // Waits until a received line satisfies the predicate (counting from index `from`);
    // returns its index or -1 on timeout.
    int waitForLine(const std::function<bool(const QByteArray &)> &match, int timeoutMs = 5000,
                    int from = 0);
    int waitForLine(const QByteArray &exact, int timeoutMs = 5000, int from = 0);
    bool waitForDisconnect(int timeoutMs = 5000);
    int clientCount() const { return m_clientCount; }

    // Called for each received line after it is recorded: lets a test answer LOGIN and
    // the like automatically.
    std::function<void(const QByteArray &)> onLine;

private:
    void listen();
    void readFrom(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    QPointer<QTcpSocket> m_client;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<QByteArray> m_lines;
    bool m_scrambled;
    int m_clientCount = 0;
};
