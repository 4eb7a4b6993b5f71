// Two real lobbies exchange private messages through the real server binary on loopback:
// both ways with the tray and mail-button alerts and the log, then with messages turned
// off on both sides, where the automatic answers must not start an endless exchange.
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "lobby.h"
#include "recordingplatform.h"
#include "tanimatedbutton.h"
#include "tchatlog.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One player's lobby; every private message it receives is recorded before the lobby
// handles it.
struct Player : E2EPlayer
{
    QList<QByteArray> received;

    bool login(const ServerProcess &server, const QString &name)
    {
        return E2EPlayer::login(server, name, [this](Tlobby *l) {
            QObject::connect(l->connection(), &TOrvexConnection::OnPmesReceived, l,
                             [this](const QByteArray &t) { received << t; });
        });
    }

    void write(Tprivatemessageto *writer, const QString &text)
    {
        QTest::keyClicks(writer->findChild<QPlainTextEdit *>(QStringLiteral("memo_message")), text);
        writer->findChild<QPushButton *>(QStringLiteral("button_send"))->click();
    }

    // Waits for the alerts of a pending message from `sender`.
    bool alerted(const QString &sender)
    {
        return QTest::qWaitFor(
            [&] {
                return lobby->trayblink() != 0 &&
                       control<TAnimatedButton>(lobby, "button_mail")->isVisibleTo(lobby) &&
                       // The hint's first line names the sender; the second counts.
                       control<QSystemTrayIcon>(lobby, "systrayicon")
                               ->toolTip()
                               .section(QLatin1Char('\n'), 0, 0) == sender;
            },
            5000);
    }

    QStringList log() const
    {
        return documentLines(control<Tchatlog>(lobby, "chatlog")
                                 ->findChild<TChatPane *>(QStringLiteral("log"))
                                 ->document());
    }
};

class PrivateMessagesEndToEnd : public EndToEndTest
{
};

TEST_F(PrivateMessagesEndToEnd, TwoPlayersExchangeMessagesAndTurnedOffAnswersDoNotLoop)
{
    ASSERT_TRUE(startServer({"alice", "bob"}));

    Player alice;
    Player bob;
    ASSERT_TRUE(alice.login(*server, QStringLiteral("alice")));
    ASSERT_TRUE(bob.login(*server, QStringLiteral("bob")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return alice.lobby->findlbname(QStringLiteral("bob"),
                                           control<TPlayerList>(alice.lobby, "lbnames")) >= 0;
        },
        5000));

    // alice writes to bob from the players list.
    ASSERT_TRUE(
        doubleClickPlayer(control<TPlayerList>(alice.lobby, "lbnames"), QStringLiteral("bob")));
    QPointer<Tprivatemessageto> toBob = openWindow<Tprivatemessageto>(QStringLiteral("pmto"));
    ASSERT_TRUE(toBob);
    alice.write(toBob, QStringLiteral("hello bob"));

    // bob is alerted, opens it from the mail button and replies.
    ASSERT_TRUE(bob.alerted(QStringLiteral("alice")));
    EXPECT_TRUE(documentLines(control<TChatPane>(bob.lobby, "listbox_alerts")->document())
                    .contains("alice sent you a PM"));
    EXPECT_TRUE(seam.sounds.contains(QStringLiteral("PRIVATE")));
    control<TAnimatedButton>(bob.lobby, "button_mail")->click();
    QPointer<Tprivatemessagefrom> fromAlice =
        openWindow<Tprivatemessagefrom>(QStringLiteral("pmfrom"));
    ASSERT_TRUE(fromAlice);
    const QStringList shown = documentLines(
        fromAlice->findChild<TChatPane *>(QStringLiteral("memo_message"))->document());
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].startsWith("At ") && shown[0].endsWith(" alice wrote: "));
    EXPECT_EQ(shown[1], " hello bob");
    fromAlice->findChild<QPushButton *>(QStringLiteral("button_reply"))->click();
    QPointer<Tprivatemessageto> toAlice = openWindow<Tprivatemessageto>(QStringLiteral("pmto"));
    ASSERT_TRUE(toAlice);
    EXPECT_EQ(toAlice->recipient(), "alice");
    bob.write(toAlice, QStringLiteral("hello alice"));

    // alice opens the answer from the tray.
    ASSERT_TRUE(alice.alerted(QStringLiteral("bob")));
    emit control<QSystemTrayIcon>(alice.lobby, "systrayicon")->activated(QSystemTrayIcon::Trigger);
    QPointer<Tprivatemessagefrom> fromBob =
        openWindow<Tprivatemessagefrom>(QStringLiteral("pmfrom"));
    ASSERT_TRUE(fromBob);
    EXPECT_EQ(fromBob->sender(), "bob");
    fromBob->close();
    for (Player *p : {&alice, &bob})
        EXPECT_TRUE(QTest::qWaitFor([&] { return p->lobby->trayblink() == 0; }, 5000));

    // Each log holds what its player wrote and read.
    const QStringList aliceLog = alice.log();
    ASSERT_EQ(aliceLog.size(), 4);
    EXPECT_TRUE(aliceLog[0].endsWith("  You wrote to bob : "));
    EXPECT_EQ(aliceLog[1], "hello bob");
    EXPECT_TRUE(aliceLog[2].endsWith(" bob wrote: "));
    EXPECT_EQ(aliceLog[3], "hello alice");
    const QStringList bobLog = bob.log();
    ASSERT_EQ(bobLog.size(), 4);
    EXPECT_TRUE(bobLog[0].endsWith(" alice wrote: "));
    EXPECT_EQ(bobLog[1], "hello bob");
    EXPECT_TRUE(bobLog[2].endsWith("  You wrote to alice : "));
    EXPECT_EQ(bobLog[3], "hello alice");

    // Both turn messages off: bob answers alice once, alice does not answer the answer.
    alice.received.clear();
    bob.received.clear();
    control<QAction>(alice.lobby, "TurnOffPrivateMessages1")->trigger();
    control<QAction>(bob.lobby, "TurnOffPrivateMessages1")->trigger();
    alice.lobby->createtomessage("bob");
    alice.write(openWindow<Tprivatemessageto>(QStringLiteral("pmto")), QStringLiteral("there?"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return alice.received.size() == 1; }, 5000));
    EXPECT_EQ(alice.received[0], "I have PRIVATE MESSAGES turned off. Please try back later!");
    // A later message overtakes nothing on the one connection: once bob has it, any
    // answer alice might have sent would have arrived before it.
    control<QAction>(alice.lobby, "TurnOffPrivateMessages1")->trigger();
    alice.lobby->createtomessage("bob");
    alice.write(openWindow<Tprivatemessageto>(QStringLiteral("pmto")), QStringLiteral("end"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bob.received.size() >= 2; }, 5000));
    ASSERT_EQ(bob.received.size(), 2);
    EXPECT_TRUE(bob.received[0].endsWith("+there?"));
    EXPECT_TRUE(bob.received[1].endsWith("+end"));
    EXPECT_EQ(bob.lobby->pendingMessages().count(), 0);

    for (Player *p : {&alice, &bob})
        p->lobby->connection()->setActive(false);
}

} // namespace
