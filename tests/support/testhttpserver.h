#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// A small web server in the test process (http or https): answers GET requests on
// 127.0.0.1 from a table
// of paths. A response can stop at chosen body offsets until the test lets it go on
// (what a slow download looks like), announce more body than it sends and close, or be
// a redirect. Requests are recorded.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Response
    {
        int status = 200;
        QByteArray reason = "OK";
        QList<QByteArray> headers; // "Name: value" lines besides Content-Length
        QByteArray body;
        // Body offsets to stop at (0 is right after the header) until resume().
        QList<qsizetype> pauses;
        // Sends only this many body bytes, then closes (Content-Length stays the full size).
        qsizetype cutAt = -1;
        // Without Content-Length the body ends where the connection closes.
        bool announceLength = true;
        // The body is sent over and over, without Content-Length, as fast as the client
        // takes it, until the client closes the connection.
        bool endless = false;
    };

    // tls: speaks https with the test certificate of 127.0.0.1 (tests/support/data), which
    // the process must trust for clients to accept it (trustTestCertificate()).
    explicit TestHttpServer(bool tls = false);
    static void trustTestCertificate();
    ~TestHttpServer() override;

    quint16 port() const { return m_server->serverPort(); }
    // "http://127.0.0.1:PORT/"
    QString root() const;

    void set(const QByteArray &path, const Response &response) { m_table.insert(path, response); }
    void remove(const QByteArray &path) { m_table.remove(path); }
    void setBody(const QByteArray &path, const QByteArray &body,
                 const QList<QByteArray> &headers = {"Content-Type: application/octet-stream"});

    // Paths asked for, in order.
    QList<QByteArray> requests;
    // True while a response waits at one of its pauses.
    bool paused() const { return m_paused; }
    // Lets a paused response go on to its next pause or its end.
    void resume();

private:
    struct Transfer
    {
        QPointer<QTcpSocket> socket;
        QByteArray request;
        Response response;
        qsizetype sent = -1; // body bytes sent; -1 before the header
        int nextPause = 0;
    };

    void onReadyRead(QTcpSocket *socket);
    void pump(Transfer &t);
    void pumpEndless(Transfer &t);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls;
    QHash<QByteArray, Response> m_table;
    QList<Transfer *> m_transfers;
    bool m_paused = false;
};
