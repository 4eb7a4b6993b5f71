// A game downloaded the way a player does it: the real server's catalogue, the generated
// site behind lighttpd, the download window of a real lobby, the installer run, and the
// lobby then finding the game and starting it when hosting.
#include "control.h"
#include "e2esupport.h"
#include "recordingplatform.h"
#include "tchatpane.h"
#include "tdownload.h"
#include "tflatbutton.h"
#include "thttpcli.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DownloadE2E : public EndToEndTest
{
};

TEST_F(DownloadE2E, AGameDownloadedThroughTheWindowIsInstalledAndHosted)
{
    if (!SiteWebServer::lighttpdInstalled())
        GTEST_SKIP() << "lighttpd is not installed (bash scripts/deps.sh installs it)";
    qunsetenv("OSTREL_REGISTRY");
    ASSERT_TRUE(startServer({"alice"}));
    SiteWebServer site;
    ASSERT_TRUE(site.start(QStringLiteral(OSTREL_SITE_DIR))) << site.failure().toStdString();

    E2EPlayer alice;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice"),
                            [&](Tlobby *lobby) { lobby->setSiteRoot(site.rootUrl()); }));
    Tlobby *lobby = alice.lobby;
    // The catalogue comes from the server after the login.
    QAction *item = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            item = control<QMenu>(lobby, "popup_download")
                       ->findChild<QAction *>(QStringLiteral("get_Plumbrix"));
            return item != nullptr;
        },
        10000));
    EXPECT_FALSE(lobby->checkregistry("Plumbrix"));
    EXPECT_EQ(lobby->updateMark("Plumbrix"), 2);

    item->trigger();
    Tdownload *download = alice.windows->download();
    ASSERT_TRUE(download->isVisible());
    EXPECT_EQ(download->label_gamename->text(), QStringLiteral("Plumbrix"));
    QTest::mouseClick(download->getbutton, Qt::LeftButton);

    // The download window asked the shell to run the installer; the test is the shell.
    ASSERT_EQ(seam.programs.size(), 1u) << download->infolabel3->text().toStdString();
    const RecordingPlatform::Program installer = seam.programs[0];
    EXPECT_EQ(installer.arguments, (QStringList{"/SP-", "/silent", "/noicons"}));
    EXPECT_TRUE(download->infolabel->text().startsWith(QLatin1String("Received ")));
    EXPECT_FALSE(download->isVisible());
    QProcess run;
    run.start(installer.program, installer.arguments);
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    ASSERT_TRUE(lobby->checkregistry("Plumbrix"));
    const QString program = QFile::decodeName(lobby->hostingSession().program());
    EXPECT_TRUE(program.startsWith(alice.data.path()));
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_EQ(lobby->updateMark("Plumbrix"), 0) << "installed at the catalogue's version";
    // The lobby saw the installer's record and says so in the general chat.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TChatPane>(lobby, "listbox_alerts")
                ->toPlainText()
                .contains(QStringLiteral("Plumbrix is installed."));
        },
        5000))
        << control<TChatPane>(lobby, "listbox_alerts")->toPlainText().toStdString();

    // Hosting it now starts the installed game, without offering another download.
    ASSERT_TRUE(enterRoom(lobby, QStringLiteral("Plumbrix")));
    clickButton(lobby, "button_host");
    EXPECT_TRUE(seam.questions.isEmpty()) << seam.questions.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(seam.programs.size(), 2u);
    EXPECT_EQ(seam.programs[1].program, program);
}

} // namespace
