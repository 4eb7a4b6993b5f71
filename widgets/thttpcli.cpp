#include "thttpcli.h"

#include <QEventLoop>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

THttpCli::THttpCli(QObject *parent) : QObject(parent), m_nam(new QNetworkAccessManager(this))
{
    // The client talks to the site directly: no proxy from the environment slips in.
    m_nam->setProxy(QNetworkProxy::NoProxy);
}

THttpCli::~THttpCli()
{
    if (m_reply)
        m_reply->abort();
}

void THttpCli::Get()
{
    if (m_reply)
        throw EHttpException(QStringLiteral("A transfer is already running."),
                             EHttpException::Busy);
    const QUrl url(m_url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw EHttpException(QStringLiteral("Not a web address: ") + m_url,
                             EHttpException::BadAddress);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, Agent);
    request.setRawHeader("Accept", Accept.toLatin1());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setTransferTimeout(TimeoutMs);

    m_rcvdCount = 0;
    m_statusCode = 0;
    m_header.clear();
    m_headersSeen = false;
    m_docBegun = false;
    m_aborted = false;
    m_failure.clear();

    QNetworkReply *reply = m_nam->get(request);
    reply->setReadBufferSize(ReadBufferBytes);
    m_reply = reply;
    QEventLoop loop;
    connect(reply, &QNetworkReply::metaDataChanged, this, &THttpCli::headersArrived);
    connect(reply, &QIODevice::readyRead, this, &THttpCli::bodyArrived);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    QPointer<THttpCli> self(this);
    if (!reply->isFinished())
        loop.exec();
    // The owner may have gone while the loop ran (the program closing): touch nothing.
    if (!self)
        throw EHttpException(QStringLiteral("The transfer was ended."), EHttpException::Aborted);
    // The loop can also end before the transfer does, when the program quits: what arrived
    // until then is not the whole document, whether or not its length was announced.
    if (!reply->isFinished()) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
        m_reply = nullptr;
        throw EHttpException(QStringLiteral("The transfer was ended."), EHttpException::Aborted);
    }

    // Whatever arrived together with the end.
    if (reply->error() == QNetworkReply::NoError)
        bodyArrived();
    headersArrived();
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;

    if (m_aborted)
        throw EHttpException(QStringLiteral("The transfer was aborted."), EHttpException::Aborted);
    if (!m_failure.isEmpty())
        throw EHttpException(m_failure, m_failureCode);
    if (m_headersSeen && (m_statusCode < 200 || m_statusCode > 299))
        throw EHttpException(
            QStringLiteral("The server answered %1 %2")
                .arg(m_statusCode)
                .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()),
            EHttpException::HttpStatus);
    if (reply->error() == QNetworkReply::OperationCanceledError)
        throw EHttpException(QStringLiteral("The server stopped sending."), EHttpException::Failed);
    if (reply->error() != QNetworkReply::NoError)
        throw EHttpException(reply->errorString(), EHttpException::Failed);
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != m_rcvdCount)
        throw EHttpException(QStringLiteral("Only %1 of %2 bytes arrived.")
                                 .arg(m_rcvdCount)
                                 .arg(announced.toLongLong()),
                             EHttpException::Truncated);
}

void THttpCli::Abort()
{
    if (!m_reply)
        return;
    m_aborted = true;
    m_reply->abort();
}

void THttpCli::fail(const QString &message, EHttpException::Code code)
{
    m_failure = message;
    m_failureCode = code;
    if (m_reply)
        m_reply->abort();
}

void THttpCli::headersArrived()
{
    if (!m_reply || m_headersSeen)
        return;
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // No response at all (the connection failed): there is no header to report.
    if (!statusAttribute.isValid())
        return;
    const int status = statusAttribute.toInt();
    // A redirect about to be followed is not the document's header.
    if (status >= 300 && status < 400 && m_reply->hasRawHeader("Location"))
        return;
    m_headersSeen = true;
    m_statusCode = status;
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (MaxBodyBytes > 0 && status >= 200 && status <= 299 && announced.isValid() &&
        announced.toLongLong() > MaxBodyBytes) {
        fail(QStringLiteral("The document is larger than %1 bytes.").arg(MaxBodyBytes),
             EHttpException::TooLarge);
        return;
    }
    m_header.clear();
    m_header
        << "HTTP/1.1 " + QByteArray::number(status) + ' ' +
               m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toLatin1();
    for (const QNetworkReply::RawHeaderPair &pair : m_reply->rawHeaderPairs())
        m_header << pair.first + ": " + pair.second;
    for (qsizetype i = 0; i < m_header.size() && m_reply; ++i) {
        if (OnHeaderData)
            OnHeaderData(this);
    }
}

void THttpCli::bodyArrived()
{
    if (!m_reply)
        return;
    if (!m_headersSeen)
        headersArrived();
    const QByteArray chunk = m_reply->readAll();
    // The body of an error page is not the document asked for.
    if (chunk.isEmpty() || m_statusCode < 200 || m_statusCode > 299 || !m_failure.isEmpty())
        return;
    if (MaxBodyBytes > 0 && m_rcvdCount + chunk.size() > MaxBodyBytes) {
        fail(QStringLiteral("The document is larger than %1 bytes.").arg(MaxBodyBytes),
             EHttpException::TooLarge);
        return;
    }
    if (!m_docBegun) {
        m_docBegun = true;
        if (OnDocBegin)
            OnDocBegin(this);
        if (!m_reply)
            return;
    }
    if (RcvdStream && RcvdStream->write(chunk) != chunk.size()) {
        fail(QStringLiteral("The received data could not be stored: ") + RcvdStream->errorString(),
             EHttpException::StreamFailed);
        return;
    }
    m_rcvdCount += chunk.size();
    if (OnDocData)
        OnDocData(this);
}
