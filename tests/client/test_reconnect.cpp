#include "control.h"
#include "gestures.h"
#include "lobby.h"
#include "lobbyfixture.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"
#include "toptions.h"
#include "troomstree.h"
#include "tswitch.h"

#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kCountdown = QStringLiteral("Connection lost. Trying again in ");

// A lobby logged in as ann (password "secret") with one room, alpha, in its catalogue,
// against a fake server that answers each login as the real one does: success, the
// catalogue, then the lobby room. Room joins are confirmed.
class ReconnectTest : public LobbyFixture
{
protected:
    void acceptLogins()
    {
        server.onLine = [this](const QByteArray &line) {
            if (line.startsWith("LOGIN|")) {
                const QByteArray user = line.split('|').value(1);
                server.send("LOGIN|SUCCESS|" + recordOf(user.toStdString()));
                server.send("GAMES|game:Word:alpha:1.0:/a");
                server.send("JOINSUBJECT|Lobby Chat|" + user + "+1+Lobby Chat+");
            } else if (line.startsWith("JOINSUBJECT|")) {
                server.send(line + "|");
            }
        };
    }
    void refuseLogins()
    {
        server.onLine = [this](const QByteArray &line) {
            if (line.startsWith("LOGIN|"))
                server.send("LOGIN|FAILED|Wrong password");
        };
    }

    void login()
    {
        create();
        acceptLogins();
        showWithLogin([](TfrmConnectionInfo *d) {
            d->edtUserId->setText(QStringLiteral("ann"));
            d->edtPassword->setText(QStringLiteral("secret"));
            d->BitBtn2->click();
        });
        ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->currentRoom() == "Lobby Chat"; }, 5000));
    }

    // Logged in and placed in a room by the server, with no try left waiting.
    bool backIn() const
    {
        return lobby->connection()->LoggedIn() && !lobby->reconnecting() &&
               !lobby->currentRoom().isEmpty();
    }
    bool waitBackIn()
    {
        return QTest::qWaitFor([this] { return backIn(); }, 5000);
    }

    void enterAlpha()
    {
        const QModelIndex node = lobby->FindSubjectTreeNode(QStringLiteral("alpha"));
        ASSERT_TRUE(node.isValid());
        ASSERT_TRUE(doubleClickIndex(control<TRoomsTree>(lobby, "lbsubjects"), node));
        ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->currentRoom() == "alpha"; }, 5000));
    }

    bool showsCountdown() const
    {
        return control<QLabel>(lobby, "label_status")->text().startsWith(kCountdown);
    }
    bool waitCountdown()
    {
        return QTest::qWaitFor([this] { return showsCountdown(); }, 5000);
    }

    // What must not happen can only be watched for a while: past every wait the
    // schedule of the test would have used.
    bool noNewClientFor(int ms)
    {
        const int clients = server.clientCount();
        return !QTest::qWaitFor([&] { return server.clientCount() > clients; }, ms);
    }

    // Runs FormActivate as the window's activation does and tells whether the login
    // dialog came up (it is cancelled at once).
    bool activationShowsDialog()
    {
        bool shown = false;
        onModal<TfrmConnectionInfo>(
            [&](TfrmConnectionInfo *d) {
                shown = true;
                d->reject();
            },
            300);
        // The dialog runs modally inside this call, so once it returns the answer is in.
        lobby->FormActivate();
        waitModal(2000);
        return shown;
    }

    bool lossBoxShown() const
    {
        return seam.messages.contains(QStringLiteral("Connection to Server has been lost.")) ||
               seam.messages.contains(QStringLiteral("Unable to Connect, Please try again later!"));
    }
};

TEST_F(ReconnectTest, LostConnectionLogsInAgainWithTheSameLoginAndRejoinsTheRoom)
{
    login();
    enterAlpha();
    lobby->reconnectPolicy().setScale(0.5); // about a second, so the countdown is seen
    const int linesBefore = static_cast<int>(server.lines().size());

    server.closeClient();
    ASSERT_TRUE(waitCountdown()) << control<QLabel>(lobby, "label_status")->text().toStdString();
    // The disconnected state holds while the try waits.
    EXPECT_TRUE(lobby->currentRoom().isEmpty());
    EXPECT_EQ(control<TRoomsTree>(lobby, "lbsubjects")->rooms()->rowCount(), 0);
    EXPECT_FALSE(lobby->connection()->Active());
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    EXPECT_TRUE(lobby->reconnecting());

    const int login = server.waitForLine("LOGIN|ann|0121|secret", 5000, linesBefore);
    ASSERT_GE(login, 0);
    EXPECT_EQ(server.clientCount(), 2);
    ASSERT_GE(server.waitForLine("JOINSUBJECT|alpha", 5000, login), 0);
    ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->currentRoom() == "alpha"; }, 5000));
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(),
              QStringLiteral("You are in the alpha Lobby"));
    EXPECT_FALSE(lobby->reconnecting());
    EXPECT_EQ(lobby->reconnectPolicy().attempts(), 0);
    EXPECT_FALSE(lossBoxShown()) << seam.messages.join(QLatin1Char('|')).toStdString();

    // Back in the lobby room, a second loss brings the lobby back without a room join.
    const int lobbyJoin = static_cast<int>(server.lines().size());
    clickButton(lobby, "button_leavegameroom");
    ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->currentRoom() == "Lobby Chat"; }, 5000));
    server.closeClient();
    ASSERT_GE(server.waitForLine("LOGIN|ann|0121|secret", 5000, lobbyJoin + 1), 0);
    EXPECT_TRUE(waitBackIn());
    EXPECT_EQ(lobby->currentRoom(), "Lobby Chat");
    EXPECT_EQ(server.waitForLine("JOINSUBJECT|alpha", 200, lobbyJoin), -1);
}

TEST_F(ReconnectTest, TriesThatCannotConnectWaitLongerAndShowNoBox)
{
    login();
    lobby->reconnectPolicy().setScale(0.1);
    lobby->reconnectPolicy().setJitter(0);
    // A port that nobody listens on any more: the server is gone.
    quint16 deadPort = 0;
    {
        QTcpServer gone;
        ASSERT_TRUE(gone.listen(QHostAddress::LocalHost));
        deadPort = gone.serverPort();
    }
    server.closeClient();
    ASSERT_TRUE(waitCountdown());
    lobby->connection()->setPort(deadPort);
    ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->reconnectPolicy().attempts() >= 3; }, 5000));
    EXPECT_TRUE(lobby->reconnecting());
    EXPECT_FALSE(lossBoxShown()) << seam.messages.join(QLatin1Char('|')).toStdString();

    // The server is back: the next try gets in.
    lobby->connection()->setPort(server.port());
    EXPECT_TRUE(waitBackIn());
    EXPECT_FALSE(lossBoxShown());
}

TEST_F(ReconnectTest, NoLoginDialogWhileATryWaitsAndDisconnectStopsTheTries)
{
    login();
    lobby->reconnectPolicy().setJitter(0); // the real schedule: two seconds
    server.closeClient();
    ASSERT_TRUE(statusBecomes(QStringLiteral("Connection lost. Trying again in 2 s...")));
    EXPECT_FALSE(activationShowsDialog());
    // The countdown goes on by the second.
    ASSERT_TRUE(statusBecomes(QStringLiteral("Connection lost. Trying again in 1 s..."), 3000));

    control<TFlatButton>(lobby, "button_disconnect")->click();
    EXPECT_FALSE(lobby->reconnecting());
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(),
              QStringLiteral("You are Disconnected."));
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    EXPECT_TRUE(noNewClientFor(1500));
    // With the tries over, activation brings the dialog as before.
    EXPECT_TRUE(activationShowsDialog());
}

TEST_F(ReconnectTest, ConnectDuringTheWaitTriesAtOnce)
{
    login();
    lobby->reconnectPolicy().setJitter(0);
    lobby->reconnectPolicy().setScale(10); // twenty seconds: only Connect can be that fast
    const int linesBefore = static_cast<int>(server.lines().size());
    server.closeClient();
    ASSERT_TRUE(waitCountdown());
    control<TFlatButton>(lobby, "button_connect")->click();
    EXPECT_GE(server.waitForLine("LOGIN|ann|0121|secret", 5000, linesBefore), 0);
    EXPECT_TRUE(waitBackIn());
}

TEST_F(ReconnectTest, RefusedLoginOnATryIsNotTriedAgain)
{
    login();
    lobby->reconnectPolicy().setScale(0.05);
    refuseLogins();
    bool dialogAgain = false;
    onModal<TfrmConnectionInfo>([&](TfrmConnectionInfo *d) {
        dialogAgain = true;
        d->reject();
    });
    const int linesBefore = static_cast<int>(server.lines().size());
    server.closeClient();
    ASSERT_TRUE(waitModal());
    EXPECT_TRUE(dialogAgain);
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(), QStringLiteral("Log in Failed"));
    EXPECT_TRUE(seam.messages.contains(QStringLiteral("Wrong password")));
    EXPECT_FALSE(lobby->reconnecting());
    EXPECT_TRUE(noNewClientFor(1000));
    int logins = 0;
    for (qsizetype i = linesBefore; i < server.lines().size(); ++i)
        logins += server.lines()[i].startsWith("LOGIN|") ? 1 : 0;
    EXPECT_EQ(logins, 1);
}

// A close the server explains (a moderator's boot, a login elsewhere) is final, and so
// is every loss while the option is off.
TEST_F(ReconnectTest, NoTriesAfterAnExplainedCloseOrWithTheOptionOff)
{
    struct Case
    {
        const char *name;
        QByteArray reason; // sent just before the close; empty: none
        bool optionOn;
    };
    const Case cases[] = {
        {"booted", "ERROR|A moderator has removed you from the server.", true},
        {"logged in elsewhere", "ERROR|You have been logged off: your account logged in elsewhere.",
         true},
        {"option off", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.optionOn)
            writeSetting("Reconnect", "false");
        if (!windows)
            login();
        else
            showWithLogin([](TfrmConnectionInfo *d) { d->BitBtn2->click(); });
        ASSERT_TRUE(waitBackIn());
        EXPECT_EQ(windows->options()->image_reconnect->isOn(), c.optionOn);
        lobby->reconnectPolicy().setScale(0.05);
        seam.messages.clear();
        if (!c.reason.isEmpty())
            server.send(c.reason);
        server.closeClient();
        ASSERT_TRUE(statusBecomes(QStringLiteral("You are Disconnected.")));
        EXPECT_FALSE(lobby->reconnecting());
        EXPECT_TRUE(noNewClientFor(800));
        if (!c.reason.isEmpty()) {
            EXPECT_TRUE(seam.messages.contains(QString::fromLatin1(c.reason.mid(6))));
        }
    }
}

// A server that announces its restart: with the lobby about to log in again by itself no
// box waits on screen for a reconnection that makes it stale; the chat tells the story, and
// the room's conversation carries on.
TEST_F(ReconnectTest, AnnouncedRestartIsToldInTheChatAndTheRoomKeepsItsConversation)
{
    login();
    enterAlpha();
    lobby->reconnectPolicy().setScale(0.05);
    serverSends({"SEND|bob|CHAT|before the restart|clRed"});
    const QString shutdown = QStringLiteral(
        "The Server is going down for Maintenance. You can log back in in a few minutes!");

    serverSends({"SHOUT|rebootnow"});
    EXPECT_TRUE(control<QLabel>(lobby, "label_status")
                    ->text()
                    .contains(QStringLiteral("reconnects by itself")))
        << control<QLabel>(lobby, "label_status")->text().toStdString();
    server.closeClient();
    ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->reconnecting(); }, 5000));
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return backIn() && lobby->currentRoom() == "alpha"; }, 5000));

    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join('|').toStdString();
    const QString general = control<TChatPane>(lobby, "listbox_alerts")->toPlainText();
    const qsizetype told = general.indexOf(shutdown);
    const qsizetype lost = general.indexOf(QStringLiteral("Connection lost."));
    const qsizetype back = general.indexOf(QStringLiteral("Reconnected."));
    EXPECT_GE(told, 0) << general.toStdString();
    EXPECT_LT(told, lost);
    EXPECT_LT(lost, back);
    const QString room = control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText();
    const qsizetype before = room.indexOf(QStringLiteral("before the restart"));
    const qsizetype marker = room.indexOf(QStringLiteral("--- Connection lost ---"));
    const qsizetype again = room.indexOf(QStringLiteral("--- Reconnected ---"));
    EXPECT_GE(before, 0) << room.toStdString();
    EXPECT_LT(before, marker);
    EXPECT_LT(marker, again);

    // Without automatic reconnection nothing will follow, so the announcement is a box.
    windows->options()->image_reconnect->click();
    ASSERT_FALSE(windows->options()->image_reconnect->isOn());
    serverSends({"SHOUT|rebootnow"});
    EXPECT_EQ(seam.messages, QStringList{shutdown});
}

} // namespace
