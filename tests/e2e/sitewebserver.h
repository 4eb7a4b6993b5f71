#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The site served by a real lighttpd (through tools/site/serve.sh) on a free loopback
// port, stopped with the object. Its configuration and logs live in a temporary folder
// of its own, removed with it.
class SiteWebServer
{
public:
    SiteWebServer() = default;
    SiteWebServer(const SiteWebServer &) = delete;
    SiteWebServer &operator=(const SiteWebServer &) = delete;
    ~SiteWebServer();

    // Whether lighttpd is installed at all; without it start() cannot succeed.
    static bool lighttpdInstalled();

    // Serves siteDir; true once the server accepts connections (within a few seconds).
    bool start(const QString &siteDir);
    void stop();

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT/"
    QString rootUrl() const;
    // What went wrong when start() failed: the script's output and the server's log.
    QString failure() const { return m_failure; }
    // The temporary folder serve.sh runs in (its TMPDIR).
    QString runFolder() const { return m_dir.path(); }

private:
    bool startOnce(const QString &siteDir, int port);

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_failure;
};
