#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QIODevice;

// What the lobby's updater does once the lobby has handed over and closed: waits until
// the lobby has ended, fetches the current lobby build from the site, checks the site's
// signature of it (and that it is not older than the installed build), puts it in place of
// the installed program, checks that it starts and is the version it was signed as, and
// starts the lobby again (the old one when anything failed, so the player is never left
// without a lobby). A lobby that does not end is left alone.
class TUpdater
{
public:
    // The hand-over the lobby writes beside the updater ("updater.ini", section "Update").
    struct Job
    {
        QString site;          // site root, closing "/"
        QString program;       // the lobby program to replace and start again
        QString lock;          // the lobby's instance lock: free once it has ended
        QStringList arguments; // to start the lobby with again
    };

    // The site path of the lobby build, which its signature is made for.
    static constexpr const char *kSitePath = "lobby/ostrel-lobby";
    // The lobby's program name: the only program the updater replaces, beside itself.
    static constexpr const char *kLobbyName = "ostrel-lobby";

    // The job in folder's "updater.ini". Someone else able to write there could have put
    // a job of their own: the job is taken only from a regular file of the user's own
    // that no one else may write, in a folder no one else may write, and only when its
    // Program is the lobby in that folder. Nothing, with why, otherwise.
    static std::optional<Job> readJob(const QString &folder, QString *why = nullptr);
    // Writes lines as a new file at path (whatever was there, a link too, goes first).
    static bool writeLog(const QString &path, const QStringList &lines);

    explicit TUpdater(Job job) : m_job(std::move(job)) {}

    // Runs the whole update; true when the new build is in place. The lobby is started
    // again in either case. Messages go to log.
    bool run();
    const QStringList &log() const { return m_log; }

    int lockWaitMs = 30000;
    int transferTimeoutMs = 60000;
    // How long the new build has to answer --version.
    int versionWaitMs = 20000;
    // No lobby build is larger than this.
    qint64 maxBytes = qint64(512) << 20;

private:
    bool waitForLobbyToEnd();
    bool fetch(const QString &url, QIODevice *into, qint64 limit);
    bool replaceProgram();
    // The version program says it is (--version, ending by itself with success), or
    // nothing.
    std::optional<QString> versionOf(const QString &program);
    void restart();
    void note(const QString &text) { m_log << text; }

    Job m_job;
    QStringList m_log;
};
