#include "lobbyfixture.h"

#include "inifile.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "toptions.h"
#include "tradiogroup.h"
#include "tswitch.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTextBlock>
#include <QTreeWidget>

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
    EXPECT_EQ(texts(lobby->lbnames),
              (QStringList{"Amy:2::", "bob:3:Lobby Chat:", "carl:1:Lobby Chat:"}));
    EXPECT_EQ(lobby->label_playerslist->text(), "Players Online(3)");
    EXPECT_EQ(lobby->listbox_gameroom->count(), 0);
    EXPECT_EQ(lobby->findplayergame("bob", lobby->lbnames), "Lobby Chat");
    EXPECT_EQ(lobby->findlbname("Bob", lobby->lbnames), -1); // names compare with case

    // In a room: members of that room also go to the room list, with their game.
    serverSends({"JOINSUBJECT|alpha|dora+1+alpha+dora - alpha", "ADDGUEST|bob+3+alpha+"});
    EXPECT_EQ(texts(lobby->listbox_gameroom),
              (QStringList{"bob:3:alpha:[]", "dora:1:alpha:[dora - alpha]"}));
    EXPECT_EQ(lobby->label_gamelist->text(), "Players in Lobby(2)");
    EXPECT_EQ(lobby->label_playerslist->text(), "Players Online(4)");

    serverSends({"REMOVEGUEST|bob", "REMOVEGUEST|nobody"});
    EXPECT_EQ(texts(lobby->listbox_gameroom), QStringList{"dora:1:alpha:[dora - alpha]"});
    EXPECT_EQ(lobby->label_gamelist->text(), "Players in Lobby(1)");
    serverSends({"GREMOVEGUEST|Amy", "GREMOVEGUEST|bob", "GREMOVEGUEST|carl", "REMOVEGUEST|dora",
                 "GREMOVEGUEST|dora"});
    EXPECT_EQ(lobby->label_playerslist->text(), "Players Online(0)");
    EXPECT_EQ(lobby->label_gamelist->text(), "Players in Lobby(0)");
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
    EXPECT_EQ(texts(lobby->lbnames), expected);
    EXPECT_EQ(lobby->label_playerslist->text(), "Players Online(302)");
    EXPECT_EQ(lobby->findlbname("zoe", lobby->lbnames), expected.indexOf("zoe:1:Lobby Chat:"));
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
    lobby->quietjoin = false;
    int n = 0;
    for (const NoticeCase &c : cases) {
        const QString name = QStringLiteral("p%1").arg(++n);
        SCOPED_TRACE(QStringLiteral("show %1 mark %2").arg(c.show).arg(c.mark).toStdString());
        windows->options()->radiogroup_show->setItemIndex(c.show);
        lobby->listbox_friends->clear();
        if (c.mark != 'N')
            lobby->listbox_friends->addItem(QLatin1Char(c.mark) + name);
        const QString alertsBefore = lobby->listbox_alerts->toPlainText();
        const QString chatBefore = lobby->mainchat_gameroom->toPlainText();

        serverSends({"ADDGUEST|" + name.toLatin1() + "+1+alpha+"});
        lobby->quietjoin = false;
        if (c.line) {
            EXPECT_EQ(lastLine(lobby->listbox_alerts).text, name + " has connected.");
            EXPECT_EQ(lastLine(lobby->listbox_alerts).colour, c.colour);
            EXPECT_EQ(lastLine(lobby->mainchat_gameroom).text, name + " has joined the room.");
            EXPECT_EQ(lastLine(lobby->mainchat_gameroom).colour, c.colour);
        } else {
            EXPECT_EQ(lobby->listbox_alerts->toPlainText(), alertsBefore);
            EXPECT_EQ(lobby->mainchat_gameroom->toPlainText(), chatBefore);
        }

        // Leaving follows the same rule (an offline friend is online by now).
        const char mark = c.mark == '1' ? '0' : c.mark;
        const bool leaveLine = c.show == 0 || (c.show == 1 && mark != 'N');
        const QString chatBeforeLeave = lobby->mainchat_gameroom->toPlainText();
        serverSends({"REMOVEGUEST|" + name.toLatin1()});
        if (leaveLine)
            EXPECT_EQ(lastLine(lobby->mainchat_gameroom).text, name + " has left the room.");
        else
            EXPECT_EQ(lobby->mainchat_gameroom->toPlainText(), chatBeforeLeave);
        const QString alertsBeforeLeave = lobby->listbox_alerts->toPlainText();
        serverSends({"GREMOVEGUEST|" + name.toLatin1()});
        if (leaveLine)
            EXPECT_EQ(lastLine(lobby->listbox_alerts).text, name + " has disconnected.");
        else
            EXPECT_EQ(lobby->listbox_alerts->toPlainText(), alertsBeforeLeave);
    }
}

TEST_F(PlayersTest, QuietJoinStillPlaysTheFriendsSound)
{
    friends({"bob", "carl"});
    loginAs("ann");
    lobby->quietjoin = false;
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|eve+1+Lobby Chat+"});
    EXPECT_EQ(seam.sounds, QStringList{"FRIENDS"});
    // A second entry of a listed player is no arrival.
    serverSends({"ADDGUEST|bob+2+Lobby Chat+"});
    EXPECT_EQ(seam.sounds.size(), 1);

    seam.sounds.clear();
    const QString alerts = lobby->listbox_alerts->toPlainText();
    serverSends({"JOINSUBJECT|alpha|bob+1+alpha+|eve+1+alpha+|carl+1+alpha+"});
    // bob is new to the room list, carl new to both lists: no lines, three sounds.
    EXPECT_EQ(seam.sounds, (QStringList{"FRIENDS", "FRIENDS", "FRIENDS"}));
    EXPECT_FALSE(lobby->mainchat_gameroom->toPlainText().contains("has joined the room"));
    const QString newAlerts = lobby->listbox_alerts->toPlainText().mid(alerts.size());
    EXPECT_TRUE(newAlerts.contains("Entered alpha Lobby."));
    EXPECT_FALSE(newAlerts.contains("has connected"));

    // The timer ends the quiet period.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !lobby->quietjoin; }, 3000));
    serverSends({"ADDGUEST|dora+1+alpha+"});
    EXPECT_EQ(lastLine(lobby->mainchat_gameroom).text, "dora has joined the room.");

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
    QListWidget *list = lobby->listbox_friends;
    EXPECT_EQ(texts(list), (QStringList{"1Amy", "1bob", "1zed"}));
    serverSends({"ADDGUEST|zed+1+Lobby Chat+"});
    EXPECT_EQ(texts(list), (QStringList{"0zed", "1Amy", "1bob"}));
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    EXPECT_EQ(texts(list), (QStringList{"0bob", "0zed", "1Amy"}));
    serverSends({"GREMOVEGUEST|zed"});
    EXPECT_EQ(texts(list), (QStringList{"0bob", "1Amy", "1zed"}));
    // The marks are not saved: the file keeps the names.
    lobby->button_Friendslist->click();
    EXPECT_EQ(lobby->label_friendslist->text(), "Friends List(3)");
}

TEST_F(PlayersTest, AddFriendIgnoreAndRemoveFromTheLists)
{
    loginAs("ann");
    serverSends({"ADDGUEST|Bob+1+Lobby Chat+", "ADDGUEST|ann+1+Lobby Chat+"});
    press(lobby->lbnames, rowOf(lobby->lbnames, "Bob"), Qt::RightButton);
    EXPECT_EQ(lobby->lbnames->toolTip(), "Bob");
    lobby->popup_player->hide();
    lobby->AddFriend1->trigger();
    lobby->AddFriend1->trigger();
    EXPECT_EQ(texts(lobby->listbox_friends), QStringList{"0Bob"});
    EXPECT_EQ(setting("Friends"), "0");
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "0"), "Bob");

    lobby->Ignore1->trigger();
    lobby->Ignore1->trigger();
    EXPECT_EQ(texts(lobby->listbox_ignored), QStringList{"bob"});
    EXPECT_EQ(setting("Ignored"), "0");
    EXPECT_EQ(IniFile(iniPath).ReadString("Ignored", "0"), "bob");
    EXPECT_TRUE(lobby->ignoreListHolds("BOB"));

    // A press beside the entries forgets the player.
    pressNowhere(lobby->lbnames);
    EXPECT_TRUE(lobby->lbnames->toolTip().isEmpty());

    // Removing needs an entry pressed; without one the list is only saved again.
    lobby->button_ignorelist->click();
    lobby->DeleteFromIgnoreList1->trigger();
    EXPECT_EQ(texts(lobby->listbox_ignored), QStringList{"bob"});
    press(lobby->listbox_ignored, 0);
    lobby->DeleteFromIgnoreList1->trigger();
    EXPECT_TRUE(texts(lobby->listbox_ignored).isEmpty());
    EXPECT_EQ(setting("Ignored"), "-1");

    lobby->button_Friendslist->click();
    press(lobby->listbox_friends, 0);
    EXPECT_EQ(lobby->lbnames->toolTip(), "Bob"); // an online friend is selected
    lobby->RemoveFriend1->trigger();
    EXPECT_TRUE(texts(lobby->listbox_friends).isEmpty());
    EXPECT_EQ(setting("Friends"), "-1");
    EXPECT_EQ(lobby->label_friendslist->text(), "Friends List(0)");
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
            windows->lobby()->orvex->setActive(false);
            windows.reset();
        }
        loginAs("ann", [&](ostrel::TOrvexUser &u) { u.AccountClass = c.accountClass; });
        serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|ann+1+Lobby Chat+"});

        // No player under the mouse: no menu.
        pressNowhere(lobby->lbnames);
        lobby->lbnamesContextPopup(lobby->lbnames, {5, 5});
        EXPECT_FALSE(lobby->popup_player->isVisible());

        press(lobby->lbnames, rowOf(lobby->lbnames, "bob"), Qt::RightButton);
        lobby->lbnamesContextPopup(lobby->lbnames, {5, 5});
        EXPECT_TRUE(lobby->popup_player->isVisible());
        EXPECT_EQ(lobby->Kick1->isVisible(), c.moderator);
        EXPECT_EQ(lobby->Silence1->menuAction()->isVisible(), c.moderator);
        EXPECT_EQ(lobby->RemoveSilence1->isVisible(), c.moderator);
        EXPECT_TRUE(lobby->SendPrivateMessage1->isEnabled());
        EXPECT_TRUE(lobby->AddFriend1->isEnabled());
        EXPECT_FALSE(lobby->InviteToJoin1->isVisible());
        lobby->popup_player->hide();

        press(lobby->lbnames, rowOf(lobby->lbnames, "ann"), Qt::RightButton);
        lobby->lbnamesContextPopup(lobby->lbnames, {5, 5});
        EXPECT_FALSE(lobby->SendPrivateMessage1->isEnabled());
        EXPECT_FALSE(lobby->AddFriend1->isEnabled());
        EXPECT_FALSE(lobby->Ignore1->isEnabled());
        EXPECT_TRUE(lobby->ViewProfile1->isEnabled());
        lobby->popup_player->hide();
    }
}

TEST_F(PlayersTest, FriendsMenuAndJoiningAFriendsRoom)
{
    friends({"bob", "carl"});
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+alpha+"});
    lobby->button_Friendslist->click();
    QListWidget *list = lobby->listbox_friends;
    ASSERT_EQ(texts(list), (QStringList{"0bob", "1carl"}));

    const QPoint offline = list->visualItemRect(list->item(1)).center();
    press(list, 1, Qt::RightButton);
    EXPECT_TRUE(lobby->lbnames->toolTip().isEmpty());
    lobby->listbox_friendsContextPopup(offline);
    EXPECT_TRUE(lobby->popup_friends->isVisible());
    EXPECT_FALSE(lobby->SendPrivateMessage2->isEnabled());
    EXPECT_FALSE(lobby->JoinSameGameLobby1->isEnabled());
    EXPECT_FALSE(lobby->ViewProfile2->isEnabled());
    lobby->popup_friends->hide();

    const QPoint online = list->visualItemRect(list->item(0)).center();
    press(list, 0, Qt::RightButton);
    lobby->listbox_friendsContextPopup(online);
    EXPECT_TRUE(lobby->JoinSameGameLobby1->isEnabled());
    EXPECT_FALSE(lobby->invitetojoin2->isVisible());
    lobby->popup_friends->hide();

    const int before = server.lines().size();
    lobby->JoinSameGameLobby1->trigger();
    EXPECT_GE(server.waitForLine("JOINSUBJECT|alpha", 5000, before), 0);
}

TEST_F(PlayersTest, ANewEntryOfTheSelectedPlayerKeepsTheSelection)
{
    loginAs("ann");
    serverSends({"ADDGUEST|amy+1+Lobby Chat+", "ADDGUEST|bob+1+Lobby Chat+",
                 "ADDGUEST|carl+1+Lobby Chat+"});
    TPlayerList *list = lobby->lbnames;
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
    EXPECT_EQ(lobby->lbnames->toolTip(), "bob");
}

TEST_F(PlayersTest, APressWhileANewEntryWaitsTakesThePlayerUnderTheMouse)
{
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|carl+1+Lobby Chat+"});
    TPlayerList *list = lobby->lbnames;
    ASSERT_EQ(rowOf(list, "bob"), 0);
    const QRect bobsRow = list->visualRect(list->model()->index(0, 0));
    // amy sorts above bob and is not placed yet when the press comes.
    list->addItem(QStringLiteral("amy:1:Lobby Chat:"));
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, bobsRow.center());
    EXPECT_EQ(lobby->lbnames->toolTip(), "bob");
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, bobsRow.center());
    lobby->popup_player->hide();
}

TEST_F(PlayersTest, RemoveTakesThePressedFriendEvenWhenTheRowsMoved)
{
    friends({"amy", "bob", "carl"});
    loginAs("ann");
    lobby->button_Friendslist->click();
    QListWidget *list = lobby->listbox_friends;
    ASSERT_EQ(texts(list), (QStringList{"1amy", "1bob", "1carl"}));
    press(list, 0, Qt::RightButton); // amy
    lobby->popup_friends->hide();
    // While the menu is open, bob comes online: he moves to the first row.
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    ASSERT_EQ(texts(list), (QStringList{"0bob", "1amy", "1carl"}));
    lobby->RemoveFriend1->trigger();
    EXPECT_EQ(texts(list), (QStringList{"0bob", "1carl"}));
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "0"), "bob");
    EXPECT_EQ(IniFile(iniPath).ReadString("Friends", "1"), "carl");
}

TEST_F(PlayersTest, HeadingsCountNothingAfterADisconnection)
{
    loginAs("ann");
    serverSends({"ADDGUEST|bob+1+Lobby Chat+", "ADDGUEST|carl+1+Lobby Chat+"});
    ASSERT_EQ(lobby->label_playerslist->text(), "Players Online(2)");
    lobby->button_disconnect->click();
    EXPECT_EQ(lobby->lbnames->count(), 0);
    EXPECT_EQ(lobby->label_playerslist->text(), "Players Online(0)");
    EXPECT_EQ(lobby->label_gamelist->text(), "Players in Lobby(0)");
}

// Presence news comes in bursts that the window takes in one go: the lists, the games and
// the chat lines must come out as if each line had been handled on its own.
TEST_F(PlayersTest, ABurstOfPresenceNewsKeepsTheOrderOfRowsGamesAndLines)
{
    loginAs("ann");
    serverSends({"JOINSUBJECT|alpha|zed+1+alpha+|Max+1+alpha+"});
    lobby->quietjoin = false;
    const int chatBefore = lobby->mainchat_gameroom->document()->blockCount();
    const int alertsBefore = lobby->listbox_alerts->document()->blockCount();
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
    EXPECT_EQ(texts(lobby->listbox_gameroom),
              (QStringList{"Amy:2:alpha:[Amy - alpha]", "Bea:1:alpha:[bob - alpha]",
                           "bob:3:alpha:[bob - alpha]", "carl:1:alpha:[]", "Max:1:alpha:[]"}));
    EXPECT_EQ(texts(lobby->lbnames), (QStringList{"Amy:2:alpha:", "Bea:1:alpha:", "bob:3:alpha:",
                                                  "carl:1:alpha:", "Max:1:alpha:", "zed:1:beta:"}));
    QStringList games;
    for (int i = 0; i < lobby->TreeView_gamelist->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *game = lobby->TreeView_gamelist->topLevelItem(i);
        QStringList players;
        for (int j = 0; j < game->childCount(); ++j)
            players << game->child(j)->text(0);
        games << game->text(0) + ": " + players.join(',');
    }
    EXPECT_EQ(games, (QStringList{"Amy - alpha: Amy", "bob - alpha: Bea,bob"}));

    auto linesFrom = [](const TChatPane *pane, int block) {
        QStringList lines;
        for (QTextBlock b = pane->document()->findBlockByNumber(block); b.isValid(); b = b.next())
            lines << b.text();
        return lines;
    };
    EXPECT_EQ(linesFrom(lobby->mainchat_gameroom, chatBefore),
              (QStringList{"bob has joined the room.", "Amy has joined the room.", "zed: hello",
                           "carl has joined the room.", "zed has left the room.",
                           "dora has joined the room.", "dora has left the room.",
                           "Bea has joined the room."}));
    EXPECT_EQ(linesFrom(lobby->listbox_alerts, alertsBefore),
              (QStringList{"bob has connected.", "Amy has connected.", "carl has connected.",
                           "dora has connected.", "dora has disconnected.", "Bea has connected."}));
}
