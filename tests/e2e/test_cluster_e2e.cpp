// Two real lobbies, each logged in to a different server node of one lobby (the nodes
// meet through a redis-server and share a PostgreSQL database, both the test's own): each
// sees the other in its players list, and a private message written in one window arrives
// in the other's.
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "lobby.h"
#include "postgrescluster.h"
#include "recordingplatform.h"
#include "redisserver.h"
#include "tanimatedbutton.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tplayerlist.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(ClusterEndToEnd, PlayersAtTwoNodesSeeEachOtherAndExchangeAMessage)
{
    RedisServer redis;
    if (!redis.usable())
        GTEST_SKIP() << "no Redis server: " << redis.why();
    PostgresCluster postgres;
    if (!postgres.usable())
        GTEST_SKIP() << "no PostgreSQL cluster: " << postgres.why();
    InitAssets();
    RecordingPlatform seam;
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

    const std::vector<std::string> cluster = {"--cluster",       redis.address(),
                                              "--accounts",      postgres.freshDatabase(),
                                              "--ping-interval", "0.6"};
    QTemporaryDir dataA;
    QTemporaryDir dataB;
    ServerProcess nodeA(dataA.path().toStdString(), cluster);
    ServerProcess nodeB(dataB.path().toStdString(), cluster);
    ASSERT_TRUE(createAccount(nodeA, "alice"));
    ASSERT_TRUE(createAccount(nodeA, "bob"));

    E2EPlayer alice;
    E2EPlayer bob;
    ASSERT_TRUE(alice.login(nodeA, QStringLiteral("alice")));
    ASSERT_TRUE(bob.login(nodeB, QStringLiteral("bob")));
    auto lists = [](E2EPlayer &player, const char *name) {
        return player.lobby->findlbname(QString::fromLatin1(name),
                                        control<TPlayerList>(player.lobby, "lbnames")) >= 0;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return lists(alice, "bob") && lists(bob, "alice"); }, 10000));

    ASSERT_TRUE(
        doubleClickPlayer(control<TPlayerList>(alice.lobby, "lbnames"), QStringLiteral("bob")));
    QPointer<Tprivatemessageto> toBob = openWindow<Tprivatemessageto>(QStringLiteral("pmto"));
    ASSERT_TRUE(toBob);
    QTest::keyClicks(toBob->findChild<QPlainTextEdit *>(QStringLiteral("memo_message")),
                     QStringLiteral("hello from node A"));
    toBob->findChild<QPushButton *>(QStringLiteral("button_send"))->click();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control<TAnimatedButton>(bob.lobby, "button_mail")->isVisibleTo(bob.lobby); },
        5000));
    control<TAnimatedButton>(bob.lobby, "button_mail")->click();
    QPointer<Tprivatemessagefrom> fromAlice =
        openWindow<Tprivatemessagefrom>(QStringLiteral("pmfrom"));
    ASSERT_TRUE(fromAlice);
    EXPECT_EQ(fromAlice->sender(), "alice");
    const QStringList shown = documentLines(
        fromAlice->findChild<TChatPane *>(QStringLiteral("memo_message"))->document());
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1], " hello from node A");
}

} // namespace
