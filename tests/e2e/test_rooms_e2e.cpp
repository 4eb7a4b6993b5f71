// Two real lobbies against the real server binary on loopback: they see each other in
// the players list and in the rooms tree, follow each other between rooms, and the
// friends and ignore lists come back after the program starts again.
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "lobby.h"
#include "recordingplatform.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "wireclient.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The room a player is shown under in the rooms tree, or an empty text.
QString roomInTree(Tlobby *lobby, const QString &player)
{
    const QModelIndex node = lobby->FindSubjectTreeNode(player);
    return Tlobby::nodePicture(node) == 1 ? node.parent().data().toString() : QString();
}

} // namespace

class RoomsEndToEnd : public EndToEndTest
{
};

TEST_F(RoomsEndToEnd, PlayersSeeEachOtherMoveBetweenRoomsAndKeepTheirLists)
{
    ASSERT_TRUE(startServer({"alice", "bob"}));

    E2EPlayer alice;
    E2EPlayer bob;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice")));
    // Arrivals right after entering a room are not announced: wait for the quiet period.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alice.lobby->quietJoin(); }, 5000));
    ASSERT_TRUE(bob.login(*server, QStringLiteral("bob")));

    // Both in the players list of both, the catalogue in the tree.
    for (E2EPlayer *p : {&alice, &bob}) {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return control<TPlayerList>(p->lobby, "lbnames")->entries()->contains("alice") &&
                       control<TPlayerList>(p->lobby, "lbnames")->entries()->contains("bob");
            },
            5000));
        EXPECT_EQ(control<QLabel>(p->lobby, "label_playerslist")->text(), "Players Online(2)");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return p->lobby->FindSubjectTreeNode("Wordsmith").isValid(); }, 5000));
    }
    EXPECT_EQ(alice.lobby->findplayergame("bob", control<TPlayerList>(alice.lobby, "lbnames")),
              "Lobby Chat");
    // Notices are written at the end of the event loop turn that brought them.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TChatPane>(alice.lobby, "listbox_alerts")
                ->toPlainText()
                .contains("bob has connected.");
        },
        2000));

    // alice enters a room: bob sees her there, in his tree and his list.
    ASSERT_TRUE(enterRoom(alice.lobby, QStringLiteral("Wordsmith")));
    EXPECT_TRUE(control<QLabel>(alice.lobby, "label_status")->text() ==
                "You are in the Wordsmith Lobby");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return roomInTree(bob.lobby, QStringLiteral("alice")) == "Wordsmith"; }, 5000));
    EXPECT_EQ(bob.lobby->findplayergame("alice", control<TPlayerList>(bob.lobby, "lbnames")),
              "Wordsmith");

    // bob follows her there through his friends list.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alice.lobby->quietJoin(); }, 5000));
    ASSERT_TRUE(clickPlayer(control<TPlayerList>(bob.lobby, "lbnames"), QStringLiteral("alice")));
    control<QAction>(bob.lobby, "AddFriend1")->trigger();
    QListWidget *bobsFriends = control<QListWidget>(bob.lobby, "listbox_friends");
    ASSERT_EQ(listLines(bobsFriends), QStringList{"0alice"});
    ASSERT_TRUE(clickIndex(bobsFriends, bobsFriends->model()->index(0, 0)));
    control<QAction>(bob.lobby, "JoinSameGameLobby1")->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return control<QLabel>(bob.lobby, "label_gamename")->text() == "Wordsmith"; }, 5000));
    EXPECT_EQ(control<TPlayerList>(bob.lobby, "listbox_gameroom")->entries()->entryOf("alice"),
              "alice:1:Wordsmith:[]");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TPlayerList>(alice.lobby, "listbox_gameroom")
                ->entries()
                ->contains("bob");
        },
        5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TChatPane>(alice.lobby, "mainchat_gameroom")
                ->toPlainText()
                .contains("bob has joined the room.");
        },
        2000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return roomInTree(alice.lobby, QStringLiteral("bob")) == "Wordsmith"; }, 5000));

    // alice goes on to another room; bob's room list and tree follow.
    ASSERT_TRUE(enterRoom(alice.lobby, QStringLiteral("Dicebound")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !control<TPlayerList>(bob.lobby, "listbox_gameroom")
                        ->entries()
                        ->contains("alice");
        },
        5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TChatPane>(bob.lobby, "mainchat_gameroom")
                ->toPlainText()
                .contains("alice has left the room.");
        },
        2000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return roomInTree(bob.lobby, QStringLiteral("alice")) == "Dicebound"; }, 5000));
    EXPECT_EQ(control<QLabel>(bob.lobby, "label_gamelist")->text(), "Players in Lobby(1)");

    // Back to the general lobby: no longer in the tree.
    control<TFlatButton>(alice.lobby, "button_leavegameroom")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return bob.lobby->findplayergame("alice", control<TPlayerList>(bob.lobby, "lbnames")) ==
                   "Lobby Chat";
        },
        5000));
    EXPECT_TRUE(roomInTree(bob.lobby, QStringLiteral("alice")).isEmpty());
    EXPECT_FALSE(control<TFlatPanel>(alice.lobby, "panel_gameroom")->isVisible());

    // alice keeps bob as a friend and ignores someone who drops by; both lists survive a
    // restart.
    TPlayerList *players = control<TPlayerList>(alice.lobby, "lbnames");
    ASSERT_TRUE(clickPlayer(players, QStringLiteral("bob")));
    control<QAction>(alice.lobby, "AddFriend1")->trigger();
    ASSERT_TRUE(createAccount(*server, "Mallory"));
    {
        WireClient mallory = logIn(server->port(), "Mallory");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return alice.lobby->findlbname(QStringLiteral("Mallory"), players) >= 0; },
            5000));
        ASSERT_TRUE(clickPlayer(players, QStringLiteral("Mallory")));
        control<QAction>(alice.lobby, "Ignore1")->trigger();
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alice.lobby->findlbname(QStringLiteral("Mallory"), players) < 0; }, 5000));
    EXPECT_EQ(listLines(control<QListWidget>(alice.lobby, "listbox_friends")), QStringList{"0bob"});
    alice.lobby->close();
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice")));
    EXPECT_EQ(listLines(control<QListWidget>(alice.lobby, "listbox_ignored")),
              QStringList{"mallory"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return listLines(control<QListWidget>(alice.lobby, "listbox_friends")) ==
                   QStringList{"0bob"};
        },
        5000));

    // bob leaves the server: alice's friend goes offline, and bob's own friend list kept
    // alice while she was away.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return listLines(control<QListWidget>(bob.lobby, "listbox_friends")) ==
                   QStringList{"0alice"};
        },
        5000));
    control<TFlatButton>(bob.lobby, "button_disconnect")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return listLines(control<QListWidget>(alice.lobby, "listbox_friends")) ==
                   QStringList{"1bob"};
        },
        5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<TChatPane>(alice.lobby, "listbox_alerts")
                ->toPlainText()
                .contains("bob has disconnected.");
        },
        2000));
    EXPECT_EQ(control<QLabel>(alice.lobby, "label_playerslist")->text(), "Players Online(1)");
}
