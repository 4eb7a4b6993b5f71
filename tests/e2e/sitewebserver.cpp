#include "sitewebserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QString findLighttpd()
{
    const QString inPath = QStandardPaths::findExecutable(QStringLiteral("lighttpd"));
    if (!inPath.isEmpty())
        return inPath;
    // A normal user's PATH often lacks the system folders.
    return QStandardPaths::findExecutable(
        QStringLiteral("lighttpd"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")});
}

// A port nothing listens on right now. Another process may take it before lighttpd
// does; start() then tries again with another one.
int freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

SiteWebServer::~SiteWebServer()
{
    stop();
}

bool SiteWebServer::lighttpdInstalled()
{
    return !findLighttpd().isEmpty();
}

QString SiteWebServer::rootUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

bool SiteWebServer::start(const QString &siteDir)
{
    stop();
    m_failure.clear();
    if (!m_dir.isValid()) {
        m_failure = QStringLiteral("no temporary folder for the web server");
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = freeLoopbackPort();
        if (port != 0 && startOnce(siteDir, port)) {
            m_port = port;
            return true;
        }
    }
    return false;
}

bool SiteWebServer::startOnce(const QString &siteDir, int port)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // serve.sh makes its configuration folder under TMPDIR: ours goes with this object.
    environment.insert(QStringLiteral("TMPDIR"), m_dir.path());
    const QString logs = m_dir.filePath(QStringLiteral("logs"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("bash"), {QStringLiteral(OSTREL_SITE_SERVE_SCRIPT), siteDir,
                                             QString::number(port), logs});
    if (!m_process.waitForStarted(5000)) {
        m_failure = QStringLiteral("cannot run serve.sh: ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        // Connected while the script still runs: lighttpd holds the port, not a stranger.
        if (probe.waitForConnected(500) && m_process.state() == QProcess::Running)
            return true;
        // Waits for the server's end, so a server that failed is seen at once.
        if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(50))
            break;
    }
    m_failure = QString::fromLocal8Bit(m_process.readAll());
    QFile log(logs + QStringLiteral("/error.log"));
    if (log.open(QIODevice::ReadOnly))
        m_failure += QString::fromLocal8Bit(log.readAll());
    stop();
    return false;
}

void SiteWebServer::stop()
{
    // serve.sh ends lighttpd and removes its configuration when it is ended.
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_port = 0;
}
