// A game's description read the way a player does it: the real server's catalogue, the
// generated site behind lighttpd, and "View Game Description" of a real lobby.
#include "control.h"
#include "e2esupport.h"
#include "recordingplatform.h"
#include "tgamedescription.h"
#include "thtmllite.h"
#include "troomstree.h"

#include <QAction>
#include <QLabel>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

QSize pictureSize(ThtmlLite *viewer, const QString &src)
{
    return viewer->document()
        ->resource(QTextDocument::ImageResource, QUrl(src))
        .value<QImage>()
        .size();
}

class GameDescriptionE2E : public EndToEndTest
{
};

TEST_F(GameDescriptionE2E, TheSitesPageShowsWithItsPictures)
{
    if (!SiteWebServer::lighttpdInstalled())
        GTEST_SKIP() << "lighttpd is not installed (bash scripts/deps.sh installs it)";
    ASSERT_TRUE(startServer({"alice"}));
    SiteWebServer site;
    ASSERT_TRUE(site.start(QStringLiteral(OSTREL_SITE_DIR))) << site.failure().toStdString();

    E2EPlayer alice;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice"),
                            [&](Tlobby *lobby) { lobby->setSiteRoot(site.rootUrl()); }));
    Tlobby *lobby = alice.lobby;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TRoomsTree>(lobby, "lbsubjects")
                ->rooms()
                ->room(QStringLiteral("ADULTPlumbrix"))
                .isValid();
        },
        10000));

    lobby->showGameDescription(QStringLiteral("ADULTPlumbrix"));
    Tgamedescription *window = alice.windows->gamedescription();
    ASSERT_TRUE(window->isVisible()) << seam.errors.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(window->label_gamename->text(), QStringLiteral("ADULTPlumbrix"));
    ThtmlLite *viewer = window->displayhtml;
    EXPECT_TRUE(viewer->toPlainText().contains(QLatin1String("Plumbrix is one of the card games")));

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->pendingPictures().isEmpty() && !window->busy(); }, 10000));
    EXPECT_EQ(pictureSize(viewer, QStringLiteral("images/box.jpg")), QSize(240, 160));
    EXPECT_EQ(pictureSize(viewer, QStringLiteral("/images/board.gif")), QSize(160, 160));
    EXPECT_TRUE(viewer->waitingImages().isEmpty());
    EXPECT_TRUE(seam.errors.isEmpty());
}

} // namespace
