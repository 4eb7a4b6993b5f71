// The lobby updating itself from a site: a lobby older than the catalogue's "vers:" line
// asks, hands over to the updater it carries and closes; the updater fetches the site's
// signed build, puts it in place of the installed lobby and starts it again.
#include "e2esupport.h"
#include "recordingplatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyExecutable(const QString &from, const QString &to)
{
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString versionOf(const QString &program)
{
    QProcess run;
    run.start(program, {QStringLiteral("--version")});
    if (!run.waitForFinished(20000))
        return QString();
    return QString::fromUtf8(run.readAllStandardOutput()).trimmed();
}

TEST(SelfUpdateE2E, AnOlderLobbyUpdatesItselfFromTheSiteAndComesBackAsTheNewBuild)
{
    if (!SiteWebServer::lighttpdInstalled())
        GTEST_SKIP() << "lighttpd is not installed (bash scripts/deps.sh installs it)";
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    // The player's installation: this build, in a folder of its own.
    const QString installed = work.filePath(QStringLiteral("install/ostrel-lobby"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(installed).path()));
    ASSERT_TRUE(copyExecutable(QStringLiteral(OSTREL_LOBBY_BINARY), installed));
    ASSERT_TRUE(versionOf(installed).endsWith(QLatin1String(" " OSTREL_OLD_VERSION)));

    // The site: the next build, signed with the site's key.
    const QString siteDir = work.filePath(QStringLiteral("site"));
    const QString published = siteDir + QStringLiteral("/lobby/ostrel-lobby");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(published).path()));
    ASSERT_TRUE(copyExecutable(QStringLiteral(OSTREL_NEXT_BINARY), published));
    ASSERT_EQ(QProcess::execute(QStringLiteral(OSTREL_SITETOOL),
                                {QStringLiteral("sign"), QStringLiteral(OSTREL_SITE_KEY_DIR),
                                 siteDir, QStringLiteral(OSTREL_NEXT_VERSION), published}),
              0);
    SiteWebServer site;
    ASSERT_TRUE(site.start(siteDir)) << site.failure().toStdString();

    // A server whose catalogue names the next version as current.
    const QString catalogue = work.filePath(QStringLiteral("catalogue.txt"));
    {
        QFile file(catalogue);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("game:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe\n"
                   "vers:" OSTREL_NEXT_VERSION ":" OSTREL_NEXT_VERSION ":\n");
    }
    QTemporaryDir serverData;
    ServerProcess server(serverData.path().toStdString(), {"--catalogue", catalogue.toStdString()});
    ASSERT_TRUE(createAccount(server, "alice"));

    RecordingPlatform seam;
    seam.defaultAnswer = true; // "Would you like to proceed with the update?"
    const QString updater = work.filePath(QStringLiteral("install/updater"));
    {
        E2EPlayer alice;
        ASSERT_TRUE(alice.login(server, QStringLiteral("alice"), [&](Tlobby *lobby) {
            lobby->setSiteRoot(site.rootUrl());
            // Started again, the lobby says which build it is and ends.
            lobby->setProgram(installed, {QStringLiteral("--version")});
        }));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seam.programs.empty(); }, 10000))
            << seam.questions.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(seam.questions,
                  QStringList{QStringLiteral("Halvane needs to be updated. It will close and "
                                             "install the new version. Would you like to proceed "
                                             "with the update?")});
        EXPECT_EQ(seam.programs[0].program, updater);
        EXPECT_FALSE(alice.lobby->isVisible());
    } // the lobby's process would end here: its instance lock goes

    // The test is the shell that starts the updater.
    QProcess run;
    run.start(updater, {});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray log = readAll(work.filePath(QStringLiteral("install/updater.log")));
    EXPECT_EQ(run.exitCode(), 0) << log.toStdString();
    EXPECT_EQ(readAll(installed), readAll(published));
    EXPECT_TRUE(versionOf(installed).endsWith(QLatin1String(" " OSTREL_NEXT_VERSION)));
    EXPECT_TRUE(log.contains("Started " + QFile::encodeName(installed))) << log.toStdString();
}

} // namespace
