#pragma once

#include "ehttpexception.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QIODevice;
class QNetworkAccessManager;

// An HTTP client with a synchronous GET: Get() returns once the transfer has ended,
// while the event loop keeps running (the window stays responsive and Abort() can be
// pressed). The body is written to RcvdStream as it arrives; events report header
// lines, the start of the body and each chunk. Redirects are followed, a few at most,
// and never from https to http. Get() raises EHttpException unless the whole document
// arrived with a 2xx status.
class THttpCli : public QObject
{
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit THttpCli(QObject *parent = nullptr);
    ~THttpCli() override;

    const QString &URL() const { return m_url; }
    void setURL(const QString &url) { m_url = url; }

    // Where the body goes; not owned. Without one the body is counted and dropped.
    QIODevice *RcvdStream = nullptr;
    QString Agent = QStringLiteral("Mozilla/3.0 (compatible)");
    QString Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    int MaxRedirects = 5;
    // A transfer with no progress for this long fails.
    int TimeoutMs = 60000;
    // A body longer than this fails the transfer (0: no limit), as soon as its announced
    // length says so or once that many bytes have come.
    qint64 MaxBodyBytes = 0;
    // What the reply may hold before the event loop hands it on: a link faster than the
    // receiver then waits instead of filling memory.
    qint64 ReadBufferBytes = 1024 * 1024;

    // Body bytes received in the current (or last) transfer.
    qint64 RcvdCount() const { return m_rcvdCount; }
    int StatusCode() const { return m_statusCode; }
    // The response's status line and header lines, as received.
    const QList<QByteArray> &RcvdHeader() const { return m_header; }
    bool Busy() const { return m_reply != nullptr; }

    void Get();
    // Ends a running GET, which then raises EHttpException (Aborted). Nothing otherwise.
    void Abort();

    TNotifyEvent OnHeaderData;
    TNotifyEvent OnDocBegin;
    TNotifyEvent OnDocData;

private:
    void headersArrived();
    void bodyArrived();
    void fail(const QString &message, EHttpException::Code code);

    QNetworkAccessManager *m_nam;
    QPointer<QNetworkReply> m_reply;
    QString m_url;
    qint64 m_rcvdCount = 0;
    int m_statusCode = 0;
    QList<QByteArray> m_header;
    bool m_headersSeen = false;
    bool m_docBegun = false;
    bool m_aborted = false;
    // Set when this client ended the transfer itself (limit, stream), with why.
    QString m_failure;
    EHttpException::Code m_failureCode = EHttpException::Failed;
};
