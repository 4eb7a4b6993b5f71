#include "assets.h"
#include "control.h"
#include "lobbyfixture.h"
#include "toptions.h"
#include "tradiogroup.h"
#include "tswitch.h"

#include <QListWidget>
#include <QSet>
#include <QSystemTrayIcon>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

enum class Presence { Here, OtherWindow, Minimised };

const char *nameOf(Presence p)
{
    switch (p) {
    case Presence::Here:
        return "here";
    case Presence::OtherWindow:
        return "other window active";
    case Presence::Minimised:
        return "minimised";
    }
    return "";
}

class NotificationsTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("alice");
        // The alert step is driven by hand where a test needs it.
        control<QTimer>(lobby, "Timer1")->stop();
        m_elsewhere = std::make_unique<QWidget>();
        m_elsewhere->setWindowTitle(QStringLiteral("another program"));
        m_elsewhere->resize(200, 100);
    }
    void TearDown() override
    {
        m_elsewhere.reset();
        LobbyFixture::TearDown();
    }

    TOptions *options() const { return windows->options(); }

    void be(Presence presence)
    {
        if (lobby->isMinimized())
            lobby->showNormal();
        switch (presence) {
        case Presence::Here:
            m_elsewhere->hide();
            lobby->activateWindow();
            ASSERT_TRUE(QTest::qWaitFor([&] { return lobby->isActiveWindow(); }, 5000));
            break;
        case Presence::OtherWindow:
            m_elsewhere->show();
            m_elsewhere->activateWindow();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return QApplication::activeWindow() == m_elsewhere.get(); }, 5000));
            break;
        case Presence::Minimised:
            lobby->showMinimized();
            ASSERT_TRUE(QTest::qWaitFor([&] { return lobby->isMinimized(); }, 5000));
            break;
        }
    }

    QImage trayImage() const
    {
        return control<QSystemTrayIcon>(lobby, "systrayicon")
            ->icon()
            .pixmap(QSize(32, 32))
            .toImage();
    }

    std::unique_ptr<QWidget> m_elsewhere;
};

// Every event that notifies, with the option that governs it: each case sends one line
// from the server (n makes players unique, so every arrival is a new one).
struct Event
{
    const char *name;
    std::function<void(TOptions *, bool)> setSwitch;
    std::function<QByteArray(int)> line;
    std::function<QString(int)> summary;
    std::function<QString(int)> body;
    // Whether it waits for the user, so that the window asks for attention as well.
    bool urgent;
};

TEST_F(NotificationsTest, EachEventNotifiesOnlyWhileTheUserIsAwayAndItsOptionAllows)
{
    serverSends({"JOINSUBJECT|Plumbrix|"});
    lobby->Timer1Timer(); // the tick after a join ends its quiet

    auto toggle = [](TSwitch *TOptions::*control) {
        return [control](TOptions *o, bool on) { (o->*control)->setTag(on ? 1 : 0); };
    };
    const Event events[] = {
        {"private message", toggle(&TOptions::image_pmalert1),
         [](int) -> QByteArray {
             return "SEND|bob|PMES|1:00:00 PM+Look at <b>this</b> & that/r/second line";
         },
         [](int) { return QStringLiteral("Private message from bob"); },
         [](int) { return QStringLiteral("Look at <b>this</b> & that second line"); }, true},
        {"friend online", toggle(&TOptions::image_flashfriends1),
         [](int n) { return "ADDGUEST|friend" + QByteArray::number(n) + "+1+Lobby Chat+"; },
         [](int n) { return QStringLiteral("friend%1 is online").arg(n); },
         [](int n) { return QStringLiteral("Your friend friend%1 has connected.").arg(n); }, false},
        {"invitation", toggle(&TOptions::image_acceptinvites1),
         [](int) -> QByteArray { return "SEND|ann|INVITE|Plumbrix"; },
         [](int) { return QStringLiteral("Invitation from ann"); },
         [](int) { return QStringLiteral("ann invited you to join Plumbrix."); }, true},
        // Games have no switch of their own: the join/leave notices decide ("Show None"
        // against "Show All" for a host who is no friend).
        {"hosted game", [](TOptions *o, bool on) { o->radiogroup_show->setItemIndex(on ? 0 : 2); },
         [](int n) {
             const QByteArray host = "host" + QByteArray::number(n);
             return "ADDGUEST|" + host + "+1+Plumbrix+" + host + " - Plumbrix";
         },
         [](int n) { return QStringLiteral("host%1 is hosting a game").arg(n); },
         [](int n) { return QStringLiteral("host%1 - Plumbrix").arg(n); }, false},
    };

    int n = 0;
    for (const Event &event : events) {
        for (const Presence presence :
             {Presence::Here, Presence::OtherWindow, Presence::Minimised}) {
            for (const bool on : {true, false}) {
                ++n;
                SCOPED_TRACE(testing::Message() << event.name << ", " << nameOf(presence)
                                                << ", option " << (on ? "on" : "off"));
                control<QListWidget>(lobby, "listbox_friends")
                    ->addItem(QStringLiteral("1friend%1").arg(n));
                event.setSwitch(options(), on);
                be(presence);
                seam.notifications.clear();
                seam.attentionRequests = 0;

                serverSends({event.line(n)});
                EXPECT_EQ(seam.attentionRequests,
                          on && event.urgent && presence != Presence::Here ? 1 : 0);

                if (on && presence != Presence::Here) {
                    ASSERT_EQ(seam.notifications.size(), 1u);
                    EXPECT_EQ(seam.notifications[0].summary, event.summary(n));
                    EXPECT_EQ(seam.notifications[0].body, event.body(n));
                } else {
                    EXPECT_TRUE(seam.notifications.empty());
                }
                event.setSwitch(options(), true);
            }
        }
    }
}

TEST_F(NotificationsTest, NothingForRefusedIgnoredOrAlreadyPresentPlayersOrTheUsersOwnGame)
{
    be(Presence::OtherWindow);
    control<QListWidget>(lobby, "listbox_friends")->addItem(QStringLiteral("1amy"));

    // Refused automatically while private messages are turned off, and from an
    // ignored player.
    control<QAction>(lobby, "TurnOffPrivateMessages1")->setChecked(true);
    serverSends({"SEND|bob|PMES|1:00:00 PM+hello"});
    control<QAction>(lobby, "TurnOffPrivateMessages1")->setChecked(false);
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("carol"));
    serverSends({"SEND|Carol|PMES|1:00:00 PM+hello"});

    // Entering a room lists who is there and what they host: no news.
    serverSends({"JOINSUBJECT|Plumbrix|amy+1+Plumbrix+amy - Plumbrix|"});
    // The user's own game coming back from the server.
    lobby->Timer1Timer(); // the tick after a join ends its quiet
    serverSends({"ADDGUEST|alice+1+Plumbrix+alice - Plumbrix"});
    // A friend who was online already changes room.
    serverSends({"ADDGUEST|amy+1+Lobby Chat+"});

    EXPECT_TRUE(seam.notifications.empty());
    EXPECT_TRUE(lobby->pendingMessages().isEmpty());
}

TEST_F(NotificationsTest, LongMessagesAreCutToTheirFirstWords)
{
    be(Presence::Minimised);
    const QByteArray words = QByteArray("lorem ipsum ").repeated(20);
    serverSends({"SEND|bob|PMES|1:00:00 PM+" + words});
    ASSERT_EQ(seam.notifications.size(), 1u);
    const QString body = seam.notifications[0].body;
    EXPECT_LE(body.size(), 80);
    EXPECT_TRUE(body.endsWith(QChar(0x2026))) << body.toStdString();
    EXPECT_TRUE(QString::fromLatin1(words).startsWith(body.chopped(1)));
}

TEST_F(NotificationsTest, ClickingAMessageNotificationBringsTheLobbyBackAndOpensThatMessage)
{
    be(Presence::Minimised);
    serverSends({"SEND|carol|PMES|1:00:00 PM+first", "SEND|bob|PMES|1:00:01 PM+second"});
    ASSERT_EQ(seam.notifications.size(), 2u);
    ASSERT_TRUE(seam.notifications[1].onClick);

    seam.notifications[1].onClick();
    EXPECT_FALSE(lobby->isMinimized());
    EXPECT_TRUE(lobby->isVisible());
    ASSERT_EQ(lobby->pendingMessages().count(), 1);
    EXPECT_EQ(lobby->pendingMessages().at(0).senderName(), "carol");

    // Read meanwhile: the click only brings the lobby back.
    lobby->showaprivatemessage(0);
    lobby->showMinimized();
    seam.notifications[0].onClick();
    EXPECT_FALSE(lobby->isMinimized());
    EXPECT_EQ(lobby->messageWindowsOpened(), 2);
}

// While a message waits the tray blinks, but calmly: its picture changes every few ticks,
// each picture drawn once and handed on only when it changes, since every change is a
// message over the session bus to the desktop's tray.
TEST_F(NotificationsTest, TrayBlinksCalmlyWithPicturesDrawnOnce)
{
    serverSends({"SEND|bob|PMES|1:00:00 PM+one"});
    QList<qint64> shown;
    QStringList tips;
    for (int tick = 0; tick < 12; ++tick) { // six seconds of the half-second timer
        lobby->Timer1Timer();
        const qint64 key = control<QSystemTrayIcon>(lobby, "systrayicon")->icon().cacheKey();
        if (shown.isEmpty() || shown.last() != key)
            shown << key;
        const QString tip = control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip();
        if (tips.isEmpty() || tips.last() != tip)
            tips << tip;
    }
    EXPECT_GE(shown.size(), 3) << "it still blinks";
    EXPECT_LE(shown.size(), 5) << "at most a change every 1.5 s";
    // Two pictures, alternating: the same two icons each time.
    EXPECT_EQ(QSet<qint64>(shown.begin(), shown.end()).size(), 2);
    EXPECT_EQ(tips, QStringList{"bob\n1 private message waiting"});
}

TEST_F(NotificationsTest, TrayIconCountsTheWaitingMessages)
{
    const QImage plain = assets::trayIcon(0).pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(), "Ostrel Lobby");

    serverSends({"SEND|bob|PMES|1:00:00 PM+one"});
    const QImage one = trayImage();
    EXPECT_NE(one, plain);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              "Ostrel Lobby\n1 private message waiting");

    serverSends({"SEND|carol|PMES|1:00:00 PM+two"});
    const QImage two = trayImage();
    EXPECT_NE(two, one);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              "Ostrel Lobby\n2 private messages waiting");

    // Blinking keeps the count and names the first sender.
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 1);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              "bob\n2 private messages waiting");

    // The badge is drawn for high-density screens, not scaled up from the small picture.
    const QPixmap sharp =
        control<QSystemTrayIcon>(lobby, "systrayicon")->icon().pixmap(QSize(32, 32), 2.0);
    EXPECT_EQ(sharp.size(), QSize(64, 64));

    lobby->showaprivatemessage(0);
    lobby->showaprivatemessage(0);
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 0);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(), "Ostrel Lobby");
    EXPECT_EQ(trayImage(), plain);
}

} // namespace
