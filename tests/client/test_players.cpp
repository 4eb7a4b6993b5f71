#include "control.h"
#include "lobbyfixture.h"

#include "inifile.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tgamestree.h"
#include "toptions.h"
#include "tradiogroup.h"
#include "tswitch.h"
#include "widgettext.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTextBlock>

namespace {

struct Line
{
    QString text;
    QColor colour;
};

// The last line of a pane with the colour it is written in.
Line lastLine(const TChatPane *pane)
{
    for (QTextBlock b = pane->document()->lastBlock(); b.isValid(); b = b.previous()) {
        if (b.text().isEmpty())
            continue;
        return {b.text(), b.begin().fragment().charFormat().foreground().color()};
    }
    return {};
}

QStringList texts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

QStringList texts(const TPlayerList *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

} // namespace

class PlayersTest : public LobbyFixture
{
protected:
    void friends(const QStringList &names)
    {
        writeSetting("Friends", QByteArray::number(names.size() - 1));
        for (int i = 0; i < names.size(); ++i)
            IniFile(iniPath).WriteString("Friends", QByteArray::number(i), names[i].toUtf8());
    }

    // A mouse press on the row of a list, as the user picks a player.
    void press(QAbstractItemView *list, int row, Qt::MouseButton button = Qt::LeftButton)
    {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        ASSERT_TRUE(rect.isValid());
        QTest::mousePress(list->viewport(), button, {}, rect.center());
        QTest::mouseRelease(list->viewport(), button, {}, rect.center());
    }
    void pressNowhere(QAbstractItemView *list)
    {
        const QPoint below(5, list->viewport()->height() - 3);
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, below);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, below);
    }
    int rowOf(const TPlayerList *list, const QString &name)
    {
        return list->entries()->findName(name);
    }
};

TEST_F(PlayersTest, EntriesHeadingsAndTheListOrder)
{
    loginAs("ann");
    serverSends({"ADDGUEST|bob+3+Lobby Chat+", "ADDGUEST|Amy+2+Lobby Chat", "ADDGUEST|+1+alpha+",
                 "ADDGUEST|carl++Lobby Chat+"});
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "lbnames")),
              (QStringList{"Amy:2::", "bob:3:Lobby Chat:", "carl:1:Lobby Chat:"}));
    EXPECT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(3)");
    EXPECT_EQ(control<TPlayerList>(lobby, "listbox_gameroom")->count(), 0);
    EXPECT_EQ(lobby->findplayergame("bob", control<TPlayerList>(lobby, "lbnames")), "Lobby Chat");
    EXPECT_EQ(lobby->findlbname("Bob", control<TPlayerList>(lobby, "lbnames")),
              -1); // names compare with case

    // In a room: members of that room also go to the room list, with their game.
    serverSends({"JOINSUBJECT|alpha|dora+1+alpha+dora - alpha", "ADDGUEST|bob+3+alpha+"});
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "listbox_gameroom")),
              (QStringList{"bob:3:alpha:[]", "dora:1:alpha:[dora - alpha]"}));
    EXPECT_EQ(control<QLabel>(lobby, "label_gamelist")->text(), "Players in Lobby(2)");
    EXPECT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(4)");

    serverSends({"REMOVEGUEST|bob", "REMOVEGUEST|nobody"});
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "listbox_gameroom")),
              QStringList{"dora:1:alpha:[dora - alpha]"});
    EXPECT_EQ(control<QLabel>(lobby, "label_gamelist")->text(), "Players in Lobby(1)");
    serverSends({"GREMOVEGUEST|Amy", "GREMOVEGUEST|bob", "GREMOVEGUEST|carl", "REMOVEGUEST|dora",
                 "GREMOVEGUEST|dora"});
    EXPECT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(0)");
    EXPECT_EQ(control<QLabel>(lobby, "label_gamelist")->text(), "Players in Lobby(0)");
}

// Watches every event of the program for requests to lay out the children of a widget of
// one window by the widget's layout (a list laying out its own scroll bars is not one).
class LayoutRequests final : public QObject
{
public:
    explicit LayoutRequests(QWidget *window) : m_window(window)
    {
        QApplication::instance()->installEventFilter(this);
    }
    QStringList seen;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(object);
        if (event->type() == QEvent::LayoutRequest && widget && widget->layout() &&
            widget->window() == m_window)
            seen << (widget->objectName().isEmpty()
                         ? QString::fromLatin1(widget->metaObject()->className())
                         : widget->objectName());
        return false;
    }

private:
    QWidget *m_window;
};

// The headings count the players, whose number changes with everyone who comes or goes:
// a new count is drawn where the heading stands and lays nothing in the window out again,
// also when the count gains a digit.
TEST_F(PlayersTest, ANewCountInAHeadingLaysOutNothingElse)
{
    loginAs("ann");
    serverSends({"JOINSUBJECT|alpha|dora+1+alpha+"});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(lobby));
    QLabel *online = control<QLabel>(lobby, "label_playerslist");
    QLabel *room = control<QLabel>(lobby, "label_gamelist");
    // Whatever entering the room laid out is done.
    QTest::qWait(50);
    const QRect onlineAt = online->geometry();
    const QRect roomAt = room->geometry();
    LayoutRequests requests(lobby);
    for (int burst = 0; burst < 4; ++burst) {
        QList<QByteArray> lines;
        for (int i = 0; i < 30; ++i)
            lines << "ADDGUEST|p" + QByteArray::number(burst * 30 + i) + "+1+alpha+";
        serverSends(lines);
        QApplication::processEvents();
    }
    serverSends({"REMOVEGUEST|p7", "GREMOVEGUEST|p7"});
    QApplication::processEvents();
    EXPECT_EQ(online->text(), "Players Online(120)");
    EXPECT_EQ(room->text(), "Players in Lobby(120)");
    EXPECT_EQ(requests.seen.join(QLatin1Char(' ')).toStdString(), "");
    EXPECT_EQ(online->geometry(), onlineAt);
    EXPECT_EQ(room->geometry(), roomAt);
    // The text is whole on the screen: the heading's place holds it.
    EXPECT_GE(online->contentsRect().width(),
              online->fontMetrics().horizontalAdvance(online->text()));
    EXPECT_GE(room->contentsRect().width(), room->fontMetrics().horizontalAdvance(room->text()));
}

TEST_F(PlayersTest, ManyEntriesAtOnceKeepTheOrderAndThePlace)
{
    loginAs("ann");
    serverSends({"ADDGUEST|Bob+1+Lobby Chat+", "ADDGUEST|zoe+1+Lobby Chat+"});
    QByteArray join = "JOINSUBJECT|Lobby Chat";
    QStringList expected{"Bob:1:Lobby Chat:", "zoe:1:Lobby Chat:"};
    for (int i = 0; i < 300; ++i) {
        const QByteArray name = (i % 3 ? "p" : "P") + QByteArray::number(i * 7919 % 1000);
        join += "|" + name + "+2+Lobby Chat+";
        expected << QString::fromLatin1(name + ":2:Lobby Chat:");
    }
    serverSends({join, "ADDGUEST|Bob+4+Lobby Chat+"});
    expected[0] = "Bob:4:Lobby Chat:";
    std::sort(expected.begin(), expected.end(), TPlayerListModel::lessThan);
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "lbnames")), expected);
    EXPECT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(302)");
    EXPECT_EQ(lobby->findlbname("zoe", control<TPlayerList>(lobby, "lbnames")),
              expected.indexOf("zoe:1:Lobby Chat:"));
}

// A room or game text may hold the ":" that separates the fields of an entry's text:
// the lists keep each field whole.
TEST_F(PlayersTest, AColonInARoomOrGameStaysInItsField)
{
    loginAs("ann");
    serverSends({"JOINSUBJECT|Dice:Pro|bob+2+Dice:Pro+x:y"});
    TPlayerList *players = control<TPlayerList>(lobby, "lbnames");
    TPlayerList *members = control<TPlayerList>(lobby, "listbox_gameroom");
    EXPECT_EQ(lobby->findplayergame("bob", players), "Dice:Pro");
    EXPECT_EQ(lobby->findplayergame("bob", members), "Dice:Pro");
    // What the row shows (and what a screen reader says): the name and the game.
    const QModelIndex row = members->model()->index(lobby->findlbname("bob", members), 0);
    EXPECT_EQ(row.data().toString(), "bob [x:y]");
    EXPECT_EQ(row.data(Qt::AccessibleTextRole).toString(), "bob [x:y]");
    EXPECT_EQ(players->model()->index(0, 0).data().toString(), "bob");
}

struct NoticeCase
{
    int show;
    char mark; // '0' friend online, '1' friend offline, 'N' not a friend
    bool line;
    QColor colour;
};

TEST_F(PlayersTest, NoticeRuleOverShowAndFriendMarks)
{
    const QColor blue(0, 0, 255);
    const QColor navy(0, 0, 128);
    const NoticeCase cases[] = {
        {0, '0', true, blue}, {0, '1', true, blue}, {0, 'N', true, navy},
        {1, '0', true, blue}, {1, '1', true, blue}, {1, 'N', false, {}},
        {2, '0', false, {}},  {2, '1', true, blue}, {2, 'N', false, {}},
    };
    loginAs("ann");
    serverSends({"JOINSUBJECT|alpha|"});
    lobby->Timer1Timer(); // the tick after a join ends its quiet
    int n = 0;
    for (const NoticeCase &c : cases) {
        const QString name = QStringLiteral("p%1").arg(++n);
        SCOPED_TRACE(QStringLiteral("show %1 mark %2").arg(c.show).arg(c.mark).toStdString());
        windows->options()->radiogroup_show->setItemIndex(c.show);
        control<QListWidget>(lobby, "listbox_friends")->clear();
        if (c.mark != 'N')
            control<QListWidget>(lobby, "listbox_friends")->addItem(QLatin1Char(c.mark) + name);
        const QString alertsBefore = control<TChatPane>(lobby, "listbox_alerts")->toPlainText();
        const QString chatBefore = control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText();

        serverSends({"ADDGUEST|" + name.toLatin1() + "+1+alpha+"});
        lobby->Timer1Timer(); // the tick after a join ends its quiet
        if (c.line) {
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "listbox_alerts")).text,
                      name + " has connected.");
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "listbox_alerts")).colour, c.colour);
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "mainchat_gameroom")).text,
                      name + " has joined the room.");
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "mainchat_gameroom")).colour, c.colour);
        } else {
            EXPECT_EQ(control<TChatPane>(lobby, "listbox_alerts")->toPlainText(), alertsBefore);
            EXPECT_EQ(control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText(), chatBefore);
        }

        // Leaving follows the same rule (an offline friend is online by now).
        const char mark = c.mark == '1' ? '0' : c.mark;
        const bool leaveLine = c.show == 0 || (c.show == 1 && mark != 'N');
        const QString chatBeforeLeave =
            control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText();
        serverSends({"REMOVEGUEST|" + name.toLatin1()});
        if (leaveLine)
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "mainchat_gameroom")).text,
                      name + " has left the room.");
        else
            EXPECT_EQ(control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText(),
                      chatBeforeLeave);
        const QString alertsBeforeLeave =
            control<TChatPane>(lobby, "listbox_alerts")->toPlainText();
        serverSends({"GREMOVEGUEST|" + name.toLatin1()});
        if (leaveLine)
            EXPECT_EQ(lastLine(control<TChatPane>(lobby, "listbox_alerts")).text,
                      name + " has disconnected.");
        else
            EXPECT_EQ(control<TChatPane>(lobby, "listbox_alerts")->toPlainText(),
                      alertsBeforeLeave);
    }
}

TEST_F(PlayersTest, QuietJoinStillPlaysTheFriendsSound)
{
    friends({"bob", "carl"});
    loginAs("ann");
    lobby->Timer1Timer(); // the tick after a join ends its quiet
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|eve+1+Lobby Chat+"});
    EXPECT_EQ(seam.sounds, QStringList{"FRIENDS"});
    // A second entry of a listed player is no arrival.
    serverSends({"ADDGUEST|bob+2+Lobby Chat+"});
    EXPECT_EQ(seam.sounds.size(), 1);

    seam.sounds.clear();
    const QString alerts = control<TChatPane>(lobby, "listbox_alerts")->toPlainText();
    serverSends({"JOINSUBJECT|alpha|bob+1+alpha+|eve+1+alpha+|carl+1+alpha+"});
    // bob is new to the room list, carl new to both lists: no lines, three sounds.
    EXPECT_EQ(seam.sounds, (QStringList{"FRIENDS", "FRIENDS", "FRIENDS"}));
    EXPECT_FALSE(control<TChatPane>(lobby, "mainchat_gameroom")
                     ->toPlainText()
                     .contains("has joined the room"));
    const QString newAlerts =
        control<TChatPane>(lobby, "listbox_alerts")->toPlainText().mid(alerts.size());
    EXPECT_TRUE(newAlerts.contains("Entered alpha Lobby."));
    EXPECT_FALSE(newAlerts.contains("has connected"));

    // The timer ends the quiet period.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !lobby->quietJoin(); }, 3000));
    serverSends({"ADDGUEST|dora+1+alpha+"});
    EXPECT_EQ(lastLine(control<TChatPane>(lobby, "mainchat_gameroom")).text,
              "dora has joined the room.");

    // Without the option, no sound.
    windows->options()->image_flashfriends1->setTag(0);
    seam.sounds.clear();
    serverSends({"GREMOVEGUEST|carl", "ADDGUEST|carl+1+alpha+"});
    EXPECT_TRUE(seam.sounds.isEmpty());
}

TEST_F(PlayersTest, FriendsMoveBetweenOnlineAndOffline)
{
    friends({"zed", "Amy", "bob"});
    loginAs("ann");
    QListWidget *list = control<QListWidget>(lobby, "listbox_friends");
    EXPECT_EQ(texts(list), (QStringList{"1Amy", "1bob", "1zed"}));
    serverSends({"ADDGUEST|zed+1+Lobby Chat+"});
    EXPECT_EQ(texts(list), (QStringList{"0zed", "1Amy", "1bob"}));
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    EXPECT_EQ(texts(list), (QStringList{"0bob", "0zed", "1Amy"}));
    serverSends({"GREMOVEGUEST|zed"});
    EXPECT_EQ(texts(list), (QStringList{"0bob", "1Amy", "1zed"}));
    // The marks are not saved: the file keeps the names.
    control<TFlatButton>(lobby, "button_Friendslist")->click();
    EXPECT_EQ(control<QLabel>(lobby, "label_friendslist")->text(), "Friends List(3)");
}

TEST_F(PlayersTest, AddFriendIgnoreAndRemoveFromTheLists)
{
    loginAs("ann");
    serverSends({"ADDGUEST|Bob+1+Lobby Chat+", "ADDGUEST|ann+1+Lobby Chat+"});
    press(control<TPlayerList>(lobby, "lbnames"),
          rowOf(control<TPlayerList>(lobby, "lbnames"), "Bob"), Qt::RightButton);
    EXPECT_EQ(lobby->selectedPlayer(), "Bob");
    control<QMenu>(lobby, "popup_player")->hide();
    control<QAction>(lobby, "AddFriend1")->trigger();
    control<QAction>(lobby, "AddFriend1")->trigger();
    EXPECT_EQ(texts(control<QListWidget>(lobby, "listbox_friends")), QStringList{"0Bob"});
    EXPECT_EQ(setting("Friends"), "0");
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "0"), "Bob");

    control<QAction>(lobby, "Ignore1")->trigger();
    control<QAction>(lobby, "Ignore1")->trigger();
    EXPECT_EQ(texts(control<QListWidget>(lobby, "listbox_ignored")), QStringList{"bob"});
    EXPECT_EQ(setting("Ignored"), "0");
    EXPECT_EQ(IniFile(iniPath).ReadString("Ignored", "0"), "bob");
    EXPECT_TRUE(lobby->ignoreListHolds("BOB"));

    // A press beside the entries forgets the player.
    pressNowhere(control<TPlayerList>(lobby, "lbnames"));
    EXPECT_TRUE(lobby->selectedPlayer().isEmpty());

    // Removing needs an entry pressed; without one the list is only saved again.
    control<TFlatButton>(lobby, "button_ignorelist")->click();
    control<QAction>(lobby, "DeleteFromIgnoreList1")->trigger();
    EXPECT_EQ(texts(control<QListWidget>(lobby, "listbox_ignored")), QStringList{"bob"});
    press(control<QListWidget>(lobby, "listbox_ignored"), 0);
    control<QAction>(lobby, "DeleteFromIgnoreList1")->trigger();
    EXPECT_TRUE(texts(control<QListWidget>(lobby, "listbox_ignored")).isEmpty());
    EXPECT_EQ(setting("Ignored"), "-1");

    control<TFlatButton>(lobby, "button_Friendslist")->click();
    press(control<QListWidget>(lobby, "listbox_friends"), 0);
    EXPECT_EQ(lobby->selectedPlayer(),
              "Bob"); // an online friend is selected
    control<QAction>(lobby, "RemoveFriend1")->trigger();
    EXPECT_TRUE(texts(control<QListWidget>(lobby, "listbox_friends")).isEmpty());
    EXPECT_EQ(setting("Friends"), "-1");
    EXPECT_EQ(control<QLabel>(lobby, "label_friendslist")->text(), "Friends List(0)");
}

TEST_F(PlayersTest, PlayerMenuForModeratorAndNormalUser)
{
    struct Case
    {
        const char *accountClass;
        bool moderator;
    };
    for (const Case c : {Case{"T", true}, Case{"H", true}, Case{"N", false}}) {
        SCOPED_TRACE(c.accountClass);
        if (windows) {
            windows->lobby()->connection()->setActive(false);
            windows.reset();
        }
        loginAs("ann", [&](ostrel::TOrvexUser &u) { u.AccountClass = c.accountClass; });
        serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|ann+1+Lobby Chat+"});

        // No player under the mouse: no menu.
        pressNowhere(control<TPlayerList>(lobby, "lbnames"));
        lobby->lbnamesContextPopup(control<TPlayerList>(lobby, "lbnames"), {5, 5});
        EXPECT_FALSE(control<QMenu>(lobby, "popup_player")->isVisible());

        press(control<TPlayerList>(lobby, "lbnames"),
              rowOf(control<TPlayerList>(lobby, "lbnames"), "bob"), Qt::RightButton);
        lobby->lbnamesContextPopup(control<TPlayerList>(lobby, "lbnames"), {5, 5});
        EXPECT_TRUE(control<QMenu>(lobby, "popup_player")->isVisible());
        EXPECT_EQ(control<QAction>(lobby, "Kick1")->isVisible(), c.moderator);
        EXPECT_EQ(control<QMenu>(lobby, "Silence1")->menuAction()->isVisible(), c.moderator);
        EXPECT_EQ(control<QAction>(lobby, "RemoveSilence1")->isVisible(), c.moderator);
        EXPECT_TRUE(control<QAction>(lobby, "SendPrivateMessage1")->isEnabled());
        EXPECT_TRUE(control<QAction>(lobby, "AddFriend1")->isEnabled());
        EXPECT_FALSE(control<QAction>(lobby, "InviteToJoin1")->isVisible());
        control<QMenu>(lobby, "popup_player")->hide();

        press(control<TPlayerList>(lobby, "lbnames"),
              rowOf(control<TPlayerList>(lobby, "lbnames"), "ann"), Qt::RightButton);
        lobby->lbnamesContextPopup(control<TPlayerList>(lobby, "lbnames"), {5, 5});
        EXPECT_FALSE(control<QAction>(lobby, "SendPrivateMessage1")->isEnabled());
        EXPECT_FALSE(control<QAction>(lobby, "AddFriend1")->isEnabled());
        EXPECT_FALSE(control<QAction>(lobby, "Ignore1")->isEnabled());
        EXPECT_TRUE(control<QAction>(lobby, "ViewProfile1")->isEnabled());
        control<QMenu>(lobby, "popup_player")->hide();
    }
}

TEST_F(PlayersTest, FriendsMenuAndJoiningAFriendsRoom)
{
    friends({"bob", "carl"});
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+alpha+"});
    control<TFlatButton>(lobby, "button_Friendslist")->click();
    QListWidget *list = control<QListWidget>(lobby, "listbox_friends");
    ASSERT_EQ(texts(list), (QStringList{"0bob", "1carl"}));

    const QPoint offline = list->visualItemRect(list->item(1)).center();
    press(list, 1, Qt::RightButton);
    EXPECT_TRUE(lobby->selectedPlayer().isEmpty());
    lobby->listbox_friendsContextPopup(offline);
    EXPECT_TRUE(control<QMenu>(lobby, "popup_friends")->isVisible());
    EXPECT_FALSE(control<QAction>(lobby, "SendPrivateMessage2")->isEnabled());
    EXPECT_FALSE(control<QAction>(lobby, "JoinSameGameLobby1")->isEnabled());
    EXPECT_FALSE(control<QAction>(lobby, "ViewProfile2")->isEnabled());
    control<QMenu>(lobby, "popup_friends")->hide();

    const QPoint online = list->visualItemRect(list->item(0)).center();
    press(list, 0, Qt::RightButton);
    lobby->listbox_friendsContextPopup(online);
    EXPECT_TRUE(control<QAction>(lobby, "JoinSameGameLobby1")->isEnabled());
    EXPECT_FALSE(control<QAction>(lobby, "invitetojoin2")->isVisible());
    control<QMenu>(lobby, "popup_friends")->hide();

    const int before = server.lines().size();
    control<QAction>(lobby, "JoinSameGameLobby1")->trigger();
    EXPECT_GE(server.waitForLine("JOINSUBJECT|alpha", 5000, before), 0);
}

TEST_F(PlayersTest, ANewEntryOfTheSelectedPlayerKeepsTheSelection)
{
    loginAs("ann");
    serverSends({"ADDGUEST|amy+1+Lobby Chat+", "ADDGUEST|bob+1+Lobby Chat+",
                 "ADDGUEST|carl+1+Lobby Chat+"});
    TPlayerList *list = control<TPlayerList>(lobby, "lbnames");
    press(list, rowOf(list, "bob"));
    ASSERT_EQ(list->currentIndex().row(), rowOf(list, "bob"));

    // bob hosts a game, then his hat changes: the row stays his and stays selected.
    serverSends({"ADDGUEST|bob+1+alpha+bob - alpha"});
    QCoreApplication::processEvents();
    serverSends({"ADDGUEST|bob+4+alpha+bob - alpha"});
    QCoreApplication::processEvents();
    EXPECT_EQ(list->itemText(rowOf(list, "bob")), "bob:4:alpha:");
    EXPECT_EQ(list->currentIndex().row(), rowOf(list, "bob"));
    EXPECT_TRUE(list->selectionModel()->isRowSelected(rowOf(list, "bob")));
    EXPECT_EQ(lobby->selectedPlayer(), "bob");
}

TEST_F(PlayersTest, APressWhileANewEntryWaitsTakesThePlayerUnderTheMouse)
{
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|carl+1+Lobby Chat+"});
    TPlayerList *list = control<TPlayerList>(lobby, "lbnames");
    ASSERT_EQ(rowOf(list, "bob"), 0);
    const QRect bobsRow = list->visualRect(list->model()->index(0, 0));
    // amy sorts above bob and is not placed yet when the press comes.
    list->addItem({"amy", "1", "Lobby Chat", {}, false});
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, bobsRow.center());
    EXPECT_EQ(lobby->selectedPlayer(), "bob");
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, bobsRow.center());
    control<QMenu>(lobby, "popup_player")->hide();
}

TEST_F(PlayersTest, RemoveTakesThePressedFriendEvenWhenTheRowsMoved)
{
    friends({"amy", "bob", "carl"});
    loginAs("ann");
    control<TFlatButton>(lobby, "button_Friendslist")->click();
    QListWidget *list = control<QListWidget>(lobby, "listbox_friends");
    ASSERT_EQ(texts(list), (QStringList{"1amy", "1bob", "1carl"}));
    press(list, 0, Qt::RightButton); // amy
    control<QMenu>(lobby, "popup_friends")->hide();
    // While the menu is open, bob comes online: he moves to the first row.
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    ASSERT_EQ(texts(list), (QStringList{"0bob", "1amy", "1carl"}));
    control<QAction>(lobby, "RemoveFriend1")->trigger();
    EXPECT_EQ(texts(list), (QStringList{"0bob", "1carl"}));
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "0"), "bob");
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "1"), "carl");
}

TEST_F(PlayersTest, HeadingsCountNothingAfterADisconnection)
{
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|carl+1+Lobby Chat+"});
    ASSERT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(2)");
    control<TFlatButton>(lobby, "button_disconnect")->click();
    EXPECT_EQ(control<TPlayerList>(lobby, "lbnames")->count(), 0);
    EXPECT_EQ(control<QLabel>(lobby, "label_playerslist")->text(), "Players Online(0)");
    EXPECT_EQ(control<QLabel>(lobby, "label_gamelist")->text(), "Players in Lobby(0)");
}

// Presence news comes in bursts that the window takes in one go: the lists, the games and
// the chat lines must come out as if each line had been handled on its own.
TEST_F(PlayersTest, ABurstOfPresenceNewsKeepsTheOrderOfRowsGamesAndLines)
{
    loginAs("ann");
    serverSends({"JOINSUBJECT|alpha|zed+1+alpha+|Max+1+alpha+"});
    lobby->Timer1Timer(); // the tick after a join ends its quiet
    auto *chat = control<TChatPane>(lobby, "mainchat_gameroom");
    auto *alerts = control<TChatPane>(lobby, "listbox_alerts");
    TGamesTreeModel *gamesTree = control<TGamesTree>(lobby, "TreeView_gamelist")->games();
    const int chatBefore = chat->document()->blockCount();
    const int alertsBefore = alerts->document()->blockCount();
    serverSends({
        "ADDGUEST|bob+1+alpha+",
        "ADDGUEST|Amy+2+alpha+Amy - alpha",
        "SEND|zed|CHAT|hello",
        "ADDGUEST|carl+1+alpha+Amy - alpha",
        "ADDGUEST|bob+3+alpha+bob - alpha",
        "REMOVEGUEST|zed",
        "ADDGUEST|zed+1+beta+",
        "ADDGUEST|dora+1+alpha+",
        "REMOVEGUEST|dora",
        "GREMOVEGUEST|dora",
        "ADDGUEST|Bea+1+alpha+bob - alpha",
        "ADDGUEST|carl+1+alpha+",
    });
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "listbox_gameroom")),
              (QStringList{"Amy:2:alpha:[Amy - alpha]", "Bea:1:alpha:[bob - alpha]",
                           "bob:3:alpha:[bob - alpha]", "carl:1:alpha:[]", "Max:1:alpha:[]"}));
    EXPECT_EQ(texts(control<TPlayerList>(lobby, "lbnames")), (QStringList{"Amy:2:alpha:", "Bea:1:alpha:", "bob:3:alpha:",
                                                  "carl:1:alpha:", "Max:1:alpha:", "zed:1:beta:"}));
    EXPECT_EQ(treeLines(gamesTree), (QStringList{"Amy - alpha[Amy]", "bob - alpha[Bea,bob]"}));

    auto linesFrom = [](const TChatPane *pane, int block) {
        QStringList lines;
        for (QTextBlock b = pane->document()->findBlockByNumber(block); b.isValid(); b = b.next())
            lines << b.text();
        return lines;
    };
    EXPECT_EQ(linesFrom(chat, chatBefore),
              (QStringList{"bob has joined the room.", "Amy has joined the room.", "zed: hello",
                           "carl has joined the room.", "zed has left the room.",
                           "dora has joined the room.", "dora has left the room.",
                           "Bea has joined the room."}));
    EXPECT_EQ(linesFrom(alerts, alertsBefore),
              (QStringList{"bob has connected.", "Amy has connected.", "carl has connected.",
                           "dora has connected.", "dora has disconnected.", "Bea has connected."}));
}
