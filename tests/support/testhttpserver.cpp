#include "testhttpserver.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>

namespace {

QByteArray testData(const char *name)
{
    QFile file(QStringLiteral(OSTREL_TEST_DATA_DIR "/") + QLatin1String(name));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

void TestHttpServer::trustTestCertificate()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromData(testData("localhost-cert.pem")));
    QSslConfiguration::setDefaultConfiguration(config);
}

TestHttpServer::TestHttpServer(bool tls) : m_tls(tls)
{
    if (tls) {
        auto server = std::make_unique<QSslServer>();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(testData("localhost-cert.pem")));
        config.setPrivateKey(QSslKey(testData("localhost-key.pem"), QSsl::Ec));
        server->setSslConfiguration(config);
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    m_server->listen(QHostAddress::LocalHost, 0);
    // Ready once a TLS handshake is done; at once for plain connections.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            auto *t = new Transfer;
            t->socket = socket;
            m_transfers << t;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

TestHttpServer::~TestHttpServer()
{
    qDeleteAll(m_transfers);
}

QString TestHttpServer::root() const
{
    return QStringLiteral("%1://127.0.0.1:%2/").arg(m_tls ? "https" : "http").arg(port());
}

void TestHttpServer::setBody(const QByteArray &path, const QByteArray &body,
                             const QList<QByteArray> &headers)
{
    Response r;
    r.body = body;
    r.headers = headers;
    set(path, r);
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    for (Transfer *t : m_transfers) {
        if (t->socket != socket || t->sent >= 0)
            continue;
        t->request += socket->readAll();
        if (!t->request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = t->request.left(t->request.indexOf("\r\n")).split(' ');
        const QByteArray path = words.value(1);
        requests << path;
        if (m_table.contains(path)) {
            t->response = m_table.value(path);
        } else {
            t->response.status = 404;
            t->response.reason = "Not Found";
            t->response.body = "no such file";
        }
        pump(*t);
        return;
    }
}

void TestHttpServer::pump(Transfer &t)
{
    if (!t.socket)
        return;
    const Response &r = t.response;
    if (r.endless) {
        pumpEndless(t);
        return;
    }
    if (t.sent < 0) {
        QByteArray head = "HTTP/1.0 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
        if (r.announceLength)
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        for (const QByteArray &h : r.headers)
            head += h + "\r\n";
        head += "\r\n";
        t.socket->write(head);
        t.sent = 0;
    }
    while (t.sent < r.body.size() || t.sent == 0) {
        if (t.nextPause < r.pauses.size() && r.pauses.at(t.nextPause) <= t.sent) {
            ++t.nextPause;
            m_paused = true;
            t.socket->flush();
            return;
        }
        qsizetype end = r.body.size();
        if (t.nextPause < r.pauses.size())
            end = qMin(end, r.pauses.at(t.nextPause));
        if (r.cutAt >= 0)
            end = qMin(end, r.cutAt);
        if (end > t.sent) {
            t.socket->write(r.body.mid(t.sent, end - t.sent));
            t.sent = end;
        }
        if (r.cutAt >= 0 && t.sent >= r.cutAt)
            break;
        if (t.sent >= r.body.size())
            break;
    }
    t.socket->flush();
    t.socket->disconnectFromHost();
}

void TestHttpServer::pumpEndless(Transfer &t)
{
    if (t.response.body.isEmpty())
        t.response.body = "x";
    if (t.sent < 0) {
        QByteArray head =
            "HTTP/1.0 " + QByteArray::number(t.response.status) + ' ' + t.response.reason + "\r\n";
        for (const QByteArray &h : t.response.headers)
            head += h + "\r\n";
        t.socket->write(head + "\r\n");
        t.sent = 0;
        QTcpSocket *socket = t.socket;
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            for (Transfer *each : m_transfers) {
                if (each->socket == socket)
                    pumpEndless(*each);
            }
        });
    }
    // A little ahead of what the client has taken, so that the server's memory stays small.
    while (t.socket && t.socket->bytesToWrite() < 4 * t.response.body.size() &&
           t.socket->state() == QAbstractSocket::ConnectedState) {
        t.socket->write(t.response.body);
        t.sent += t.response.body.size();
    }
}

void TestHttpServer::resume()
{
    m_paused = false;
    for (Transfer *t : m_transfers) {
        if (t->socket && t->sent >= 0 && t->socket->state() == QAbstractSocket::ConnectedState &&
            (t->sent < t->response.body.size() || t->sent == 0))
            pump(*t);
    }
}
