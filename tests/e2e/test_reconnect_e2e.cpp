// A server restart as players meet it: the lobby notices the lost connection, tries again
// by itself and, once the server is back on the same data, logs in and returns to the room
// it was in, where other players see it.
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "recordingplatform.h"
#include "tchatpane.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ReconnectE2E : public EndToEndTest
{
};

TEST_F(ReconnectE2E, AServerRestartBringsThePlayerBackIntoTheRoom)
{
    ASSERT_TRUE(startServer({"alice", "bob"}));

    E2EPlayer alice;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice")));
    Tlobby *lobby = alice.lobby;
    ASSERT_TRUE(enterRoom(lobby, QStringLiteral("Plumbrix")));

    // The server goes away (a clean stop, as an operator's restart does) and comes back on
    // the ports it had.
    ServerProcess::Setup again;
    again.listenPort = server->plainPort();
    again.tlsListenPort = server->tlsPort();
    EXPECT_EQ(server->terminate(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lobby->connection()->LoggedIn(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<QLabel>(lobby, "label_status")
                ->text()
                .startsWith(QLatin1String("Connection lost"));
        },
        3000))
        << control<QLabel>(lobby, "label_status")->text().toStdString();
    server = std::make_unique<ServerProcess>(serverData.path().toStdString(), again);

    ASSERT_TRUE(QTest::qWaitFor([&] { return lobby->connection()->LoggedIn(); }, 30000))
        << control<QLabel>(lobby, "label_status")->text().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return control<QLabel>(lobby, "label_gamename")->text() == QLatin1String("Plumbrix");
        },
        10000));
    // No box at all: the server's announcement of its stop, the loss and the return are
    // lines in the chat, so nothing is left waiting on screen after the lobby is back.
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join('|').toStdString();
    const QString general = control<TChatPane>(lobby, "listbox_alerts")->toPlainText();
    EXPECT_TRUE(general.contains(QStringLiteral(
        "The Server is going down for Maintenance. You can log back in in a few minutes!")))
        << general.toStdString();
    EXPECT_TRUE(general.contains(QStringLiteral("Connection lost.")));
    EXPECT_TRUE(general.contains(QStringLiteral("Reconnected.")));
    // The room's conversation from before the loss is still there, the return marked in it.
    const QString roomChat = control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText();
    EXPECT_TRUE(roomChat.contains(QStringLiteral("--- Connection lost ---")))
        << roomChat.toStdString();
    EXPECT_LT(roomChat.indexOf(QStringLiteral("You joined the Plumbrix")),
              roomChat.indexOf(QStringLiteral("--- Connection lost ---")));
    EXPECT_LT(roomChat.indexOf(QStringLiteral("--- Connection lost ---")),
              roomChat.indexOf(QStringLiteral("--- Reconnected ---")));

    // Another player, logging in after the restart, finds alice in that room.
    E2EPlayer bob;
    ASSERT_TRUE(bob.login(*server, QStringLiteral("bob")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QModelIndex node = bob.lobby->FindSubjectTreeNode(QStringLiteral("alice"));
            return node.parent().data().toString() == QLatin1String("Plumbrix");
        },
        10000));
}

} // namespace
