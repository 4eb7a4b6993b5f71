// Two real lobbies against the real server binary on loopback: news at login, the
// lobby-wide chat, the room chat, and a moderator silencing and kicking a player.
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "gestures.h"
#include "lobby.h"
#include "recordingplatform.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tplayerlist.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

bool paneHas(const TChatPane *pane, const QString &line)
{
    return documentLines(pane->document()).contains(line);
}

// One player's lobby; what the server tells it besides the topic is recorded.
struct Player : E2EPlayer
{
    QList<QByteArray> serverErrors;
    QList<QByteArray> rooms;

    bool login(const ServerProcess &server, const QString &name)
    {
        return E2EPlayer::login(server, name, [this](Tlobby *l) {
            // Listen in on what the lobby is told, beside the lobby.
            QObject::connect(l->connection(), &TOrvexConnection::OnServerError, l,
                             [this](const QByteArray &t) { serverErrors << t; });
            QObject::connect(l->connection(), &TOrvexConnection::OnAddSubject, l,
                             [this](const QByteArray &t) { rooms << t; });
        });
    }
};

class ChatEndToEnd : public EndToEndTest
{
};

TEST_F(ChatEndToEnd, TwoPlayersChatAndAModeratorSilencesAndKicks)
{
    const QString newsFile = serverData.filePath(QStringLiteral("news.txt"));
    {
        QFile news(newsFile);
        ASSERT_TRUE(news.open(QIODevice::WriteOnly));
        news.write("Spring cup on Saturday\nBring a friend\n");
    }
    ASSERT_TRUE(startServer({"alice", "bob"}, {"--news", newsFile.toStdString()}));
    ASSERT_TRUE(server->setClass("alice", "H"));

    Player alice;
    Player bob;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice")));
    ASSERT_TRUE(bob.login(*server, QStringLiteral("bob")));

    // The news shows at login.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control<TFlatPanel>(bob.lobby, "panel_news")->isVisible(); }, 5000));
    EXPECT_EQ(control<TChatPane>(bob.lobby, "memo_news")->toPlainText(),
              "Spring cup on Saturday\nBring a friend");

    // The lobby-wide chat reaches everyone, its sender too.
    typeLine(control<QLineEdit>(alice.lobby, "mychat"), QStringLiteral("hello lobby"));
    for (Player *p : {&alice, &bob})
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return paneHas(control<TChatPane>(p->lobby, "listbox_alerts"),
                               QStringLiteral("alice: hello lobby"));
            },
            5000));

    // A room of the catalogue: the sender sees the line at once, the other member from the
    // server.
    QByteArray room;
    for (const QByteArray &r : alice.rooms)
        if (r != "Lobby Chat" && room.isEmpty())
            room = r;
    ASSERT_FALSE(room.isEmpty());
    ASSERT_TRUE(enterRoom(alice.lobby, QString::fromLatin1(room)));
    ASSERT_TRUE(enterRoom(bob.lobby, QString::fromLatin1(room)));
    typeLine(control<QLineEdit>(alice.lobby, "mychat_gameroom"), QStringLiteral("hello room"));
    EXPECT_TRUE(paneHas(control<TChatPane>(alice.lobby, "mainchat_gameroom"),
                        QStringLiteral("alice: hello room")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return paneHas(control<TChatPane>(bob.lobby, "mainchat_gameroom"),
                           QStringLiteral("alice: hello room"));
        },
        5000));

    // Silenced, bob's room chat is refused by the server and never reaches alice.
    ASSERT_TRUE(
        clickPlayer(control<TPlayerList>(alice.lobby, "listbox_gameroom"), QStringLiteral("bob")));
    control<QAction>(alice.lobby, "N5Minutes1")->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bob.serverErrors.contains("A moderator has silenced you for 5 minutes."); },
        5000));
    typeLine(control<QLineEdit>(bob.lobby, "mychat_gameroom"), QStringLiteral("am I heard"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QByteArray &e : bob.serverErrors)
                if (e.startsWith("You are silenced"))
                    return true;
            return false;
        },
        5000));
    control<QAction>(alice.lobby, "RemoveSilence1")->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bob.serverErrors.contains("A moderator has lifted your silence."); }, 5000));
    typeLine(control<QLineEdit>(bob.lobby, "mychat_gameroom"), QStringLiteral("back again"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return paneHas(control<TChatPane>(alice.lobby, "mainchat_gameroom"),
                           QStringLiteral("bob: back again"));
        },
        5000));
    EXPECT_FALSE(paneHas(control<TChatPane>(alice.lobby, "mainchat_gameroom"),
                         QStringLiteral("bob: am I heard")));

    // Kicked, bob is off the server.
    control<QAction>(alice.lobby, "Kick1")->trigger();
    EXPECT_TRUE(seam.messages.contains(QStringLiteral("You have booted bob off the server")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bob.lobby->connection()->Active(); }, 5000));
    EXPECT_EQ(control<QLabel>(bob.lobby, "label_status")->text(), "You are Disconnected.");
    EXPECT_TRUE(alice.lobby->connection()->Active());

    for (Player *p : {&alice, &bob})
        p->lobby->connection()->setActive(false);
}

} // namespace
