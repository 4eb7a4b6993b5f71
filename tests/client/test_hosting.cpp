#include "control.h"
#include "gestures.h"
#include "inifile.h"
#include "lobbyfixture.h"
#include "relaytable.h"
#include "routerport.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tgamestree.h"
#include "tinvited.h"
#include "toptions.h"
#include "tplayerlist.h"
#include "tsock.h"
#include "tswitch.h"
#include "widgettext.h"

#include <QAction>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTcpSocket>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

class HostingTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        registryPath = dataDir.path() + QStringLiteral("/registry.ini");
        qputenv("OSTREL_REGISTRY", registryPath.toLocal8Bit());
        for (const char *game : {"Plumbrix", "Wobbleton", "Eggsplode"})
            install(game);
        loginAs("alice");
        serverSends({"GAMES|game:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe/r/"
                     "game:Card:Wobbleton:3.1.0:/games/wobbleton/setup.exe"});
        for (const QByteArray game : {"Plumbrix", "Wobbleton"}) {
            ASSERT_NE(lobby->downloadItem(game), nullptr);
            lobby->downloadItem(game)->setData(0);
        }
        // Updates are driven by each test.
        options()->image_updates->setTag(0);
        server.clearLines();
        control<TChatPane>(lobby, "listbox_alerts")->clear();
    }
    void TearDown() override
    {
        LobbyFixture::TearDown();
        qunsetenv("OSTREL_REGISTRY");
    }

    TOptions *options() const { return windows->options(); }

    // Records the game in the registry with a program file that exists.
    QString install(const char *game)
    {
        const QString program =
            programDir.path() + QLatin1Char('/') + QLatin1String(game) + QStringLiteral(" game");
        QFile file(program);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        IniFile(registryPath).WriteString(game, "InstallPath", QFile::encodeName(program));
        IniFile(registryPath).WriteString(game, "Version", "1.0.0");
        return program;
    }

    void enterRoom(const QByteArray &room, const QByteArray &members = QByteArray())
    {
        serverSends({"JOINSUBJECT|" + room + "|" + members});
        control<TChatPane>(lobby, "listbox_alerts")->clear();
        server.clearLines();
    }

    QStringList lastArguments() const
    {
        return seam.programs.empty() ? QStringList() : seam.programs.back().arguments;
    }
    QStringList alerts() const
    {
        return documentLines(control<TChatPane>(lobby, "listbox_alerts")->document());
    }

    // The game the lobby started ends, as a game does: its connection to the presence
    // listener closes; the host button comes back.
    void endGame()
    {
        auto game = startGame();
        game->disconnectFromHost();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby); }, 5000));
    }

    // A game of ours connecting to the presence listener.
    std::unique_ptr<QTcpSocket> startGame()
    {
        auto game = std::make_unique<QTcpSocket>();
        game->connectToHost(QHostAddress::LocalHost, control<TSock>(lobby, "Sock11")->LocalPort());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
        return game;
    }

    QString registryPath;
};

TEST_F(HostingTest, HostingAnnouncesTheGameAndStartsItsProgram)
{
    struct Row
    {
        QByteArray room;
        bool assisted;
        QString mode;
        QString ingame;
        QString invite;
    };
    const Row rows[] = {
        {"ADULTPlumbrix", false, "a", "You are in a ADULTPlumbrix Game", "Plumbrix"},
        {"PlumbrixRMLADDER", false, "t", "You are in a PlumbrixRMLADDER Game", "Plumbrix"},
        {"ADULTPlumbrixMYLADDER", false, "t", "You are in a ADULTPlumbrixMYLADDER Game",
         "Plumbrix"},
        {"WobbletonSLOW", true, "s", "You are in a WobbletonSLOW Game", "Wobbleton"},
        {"Eggsplode", false, "e", "You are in an Eggsplode Game", "Eggsplode"},
        {"eggsplode", false, "e", "You are in a eggsplode Game", "eggsplode"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.room.toStdString());
        enterRoom(row.room);
        control<QAction>(lobby, "LobbyAssistedHosting1")->setChecked(row.assisted);
        seam.programs.clear();
        clickButton(lobby, "button_host");

        const QByteArray entry = "alice - " + row.room;
        EXPECT_EQ(sent(row.assisted ? "ADDASSISTED|" : "ADDGAME|"),
                  QList<QByteArray>{(row.assisted ? "ADDASSISTED|" : "ADDGAME|") + entry});
        EXPECT_EQ(control<QLabel>(lobby, "label_ingame")->text(), row.ingame);
        EXPECT_EQ(alerts(), QStringList{"Hosted a " + QString::fromLatin1(row.room) + " Game."});
        ASSERT_EQ(seam.programs.size(), 1u);
        EXPECT_EQ(seam.programs[0].program, programDir.path() + "/" + row.invite.left(1).toUpper() +
                                                row.invite.mid(1) + " game");
        EXPECT_EQ(lastArguments(), (QStringList{"alice", QString::fromLatin1(lobby->localAddress()),
                                                "true", row.mode}));
        EXPECT_EQ(setting("Hosting"), row.room);
        EXPECT_TRUE(control<TFlatButton>(lobby, "button_private")->isVisibleTo(lobby));
        EXPECT_FALSE(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby));
        EXPECT_EQ(control<QAction>(lobby, "InviteToJoin1")->text(), "Invite to Join " + row.invite);
        EXPECT_EQ(lobby->hostingSession().inviteGame(), row.invite);
        endGame();
    }
}

TEST_F(HostingTest, HostingIsRefusedWhileAnotherGameRunsAndProceedsAfterwards)
{
    enterRoom("Plumbrix");
    seam.gameIsRunning = true;
    clickButton(lobby, "button_host");
    clickButton(lobby, "button_host");
    const QString refused = "You can not host a game while playing another Ostrel Software Game.";
    EXPECT_EQ(seam.messages, (QStringList{refused, refused}));
    EXPECT_TRUE(sent("ADDGAME|").isEmpty());
    EXPECT_TRUE(seam.programs.empty());

    seam.gameIsRunning = false;
    clickButton(lobby, "button_host");
    EXPECT_EQ(sent("ADDGAME|"), QList<QByteArray>{"ADDGAME|alice - Plumbrix"});
}

// What hosting and joining do with a game that is missing or has an update waiting.
TEST_F(HostingTest, InstallAndUpdateMarksDecideWhetherTheGameStarts)
{
    struct Row
    {
        const char *what;
        bool join;
        bool installed;
        bool programMissing;
        int mark;
        bool autoUpdates;
        bool answer;
        QString question; // after the game name; empty: none asked
        bool proceeds;
        int markAfter;
    };
    const QString notInstalled = " not installed. Download Now?";
    const QString wise =
        " has been updated. It would be wise of you update. Would you like to now?";
    const QString prevent = " has been updated. Update now to prevent errors. Update now?";
    const Row rows[] = {
        {"host, not installed", false, false, false, 0, false, true, notInstalled, false, 0},
        {"host, program gone", false, true, true, 2, false, false, notInstalled, false, 0},
        {"host, older, automatic", false, true, false, 1, true, false, "", false, 0},
        {"host, older, declined", false, true, false, 1, false, false, wise, true, 0},
        {"host, no version, accepted", false, true, false, 2, false, true, prevent, false, 0},
        {"join, not installed, automatic", true, false, false, 2, true, false, "", false, 0},
        {"join, not installed, declined", true, false, false, 2, false, false, notInstalled, false,
         2},
        {"join, older, automatic", true, true, false, 1, true, false, "", false, 0},
        {"join, older, declined", true, true, false, 1, false, false, wise, true, 0},
        {"join, no version, automatic", true, true, false, 2, true, false, "", false, 2},
        {"join, no version, accepted", true, true, false, 2, false, true, prevent, false, 2},
        {"join, no version, declined", true, true, false, 2, false, false, prevent, true, 0},
    };
    enterRoom("Plumbrix");
    QAction *item = lobby->downloadItem("Plumbrix");
    ASSERT_NE(item, nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        IniFile(registryPath).EraseSection("Plumbrix");
        if (row.installed) {
            const QString program = install("Plumbrix");
            if (row.programMissing)
                QFile::remove(program);
        }
        item->setData(row.mark);
        options()->image_updates->setTag(row.autoUpdates ? 1 : 0);
        seam.questions.clear();
        seam.answers = {row.answer};
        seam.programs.clear();
        server.clearLines();

        if (row.join)
            lobby->joinit("bob - Plumbrix");
        else
            clickButton(lobby, "button_host");

        EXPECT_EQ(seam.questions,
                  row.question.isEmpty() ? QStringList() : QStringList{"Plumbrix" + row.question});
        const QByteArray expected = row.join ? "SEND|JOIN|bob|+" : "ADDGAME|alice - Plumbrix";
        EXPECT_EQ(sent(row.join ? "SEND|JOIN|" : "ADDGAME|"),
                  row.proceeds ? QList<QByteArray>{expected} : QList<QByteArray>{});
        EXPECT_EQ(seam.programs.size(), row.proceeds && !row.join ? 1u : 0u);
        EXPECT_EQ(item->data().toInt(), row.markAfter);
        if (!control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby))
            endGame();
    }
}

TEST_F(HostingTest, JoiningSplitsTheEntryAsksForAdultRoomsAndSetsTheMode)
{
    struct Row
    {
        QByteArray entry;
        bool answer;
        QStringList questions;
        QByteArray join; // empty: nothing sent
        QString mode;
    };
    const QString adult =
        "This is an Adult Room, You must be over 18 to join. Proceed to log into the Game?";
    const Row rows[] = {
        {"bob - PlumbrixSLOW", true, {}, "SEND|JOIN|bob|+", "e"},
        {"bob - PlumbrixRMLADDER", true, {}, "SEND|JOIN|bob|+", "e"},
        {"bob - ADULTPlumbrix", true, {adult}, "SEND|JOIN|bob|+", "a"},
        {"bob - ADULTPlumbrix", false, {adult}, "", ""},
        {"carl - ADULTWobbletonMYLADDER", true, {adult}, "SEND|JOIN|carl|+", "a"},
        {"bob - ", true, {}, "", ""},
        {"bob", true, {}, "", ""},
        {"bob - Unknowngame", false, {"Unknowngame not installed. Download Now?"}, "", ""},
    };
    enterRoom("Plumbrix");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.entry.toStdString());
        seam.questions.clear();
        seam.answers = {row.answer};
        seam.programs.clear();
        server.clearLines();
        control<TChatPane>(lobby, "listbox_alerts")->clear();
        control<QLabel>(lobby, "label_ingame")->clear();
        control<TFlatButton>(lobby, "button_host")->show();

        const bool joined = lobby->joinit(row.entry);

        EXPECT_EQ(seam.questions, row.questions);
        EXPECT_EQ(joined, !row.join.isEmpty());
        EXPECT_EQ(sent("SEND|JOIN|"),
                  row.join.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{row.join});
        EXPECT_EQ(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby),
                  row.join.isEmpty());
        if (row.join.isEmpty()) {
            EXPECT_TRUE(control<QLabel>(lobby, "label_ingame")->text().isEmpty());
            continue;
        }
        const QByteArray host = row.join.split('|').value(2);
        EXPECT_EQ(control<QLabel>(lobby, "label_ingame")->text(),
                  "You are in: " + QString::fromLatin1(host));
        EXPECT_EQ(alerts(), QStringList{"Joined a " + QString::fromLatin1(host) + " Game."});
        EXPECT_EQ(setting("Hosting"), QByteArray());
        // The host's answer starts the game with the mode the join chose.
        serverSends({"SEND|" + host + "|IPTJ|10.0.0.5"});
        EXPECT_EQ(lastArguments(), (QStringList{"alice", "10.0.0.5", "false", row.mode}));
    }
}

TEST_F(HostingTest, OnlyAnIPv4AddressOrTheRelayMarkStartsTheGame)
{
    struct Row
    {
        QByteArray payload;
        QString address; // empty: nothing started
    };
    const Row rows[] = {
        {"192.168.1.20", "192.168.1.20"},
        {"ASSISTED", "127.0.0.1"},
        {"10.1", ""},
        {"1.2.3.4 -x", ""},
        {"1.2.3.4;touch /tmp/x", ""},
        {"game.example.org", ""},
        {"", ""},
        {"::1", ""},
        {QByteArray("1.2.3.4\0-x", 10), ""},
    };
    enterRoom("Plumbrix");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.payload.toStdString());
        ASSERT_TRUE(lobby->joinit("bob - Plumbrix"));
        seam.programs.clear();
        control<TChatPane>(lobby, "listbox_alerts")->clear();
        serverSends({"SEND|bob|IPTJ|" + row.payload});
        if (row.address.isEmpty()) {
            EXPECT_TRUE(seam.programs.empty());
            ASSERT_EQ(alerts().size(), 1);
            EXPECT_TRUE(alerts()[0].startsWith("The game was not started: bob answered with \""));
            EXPECT_TRUE(alerts()[0].endsWith("\", which is not an IPv4 address."));
        } else {
            ASSERT_EQ(seam.programs.size(), 1u);
            EXPECT_EQ(seam.programs[0].arguments,
                      (QStringList{"alice", row.address, "false", "e"}));
        }
    }
}

// Only the answer of the player we asked to join starts the game, once, and in the mode
// of that join whatever was asked and declined since.
TEST_F(HostingTest, OnlyTheAnswerToOurOwnJoinStartsTheGame)
{
    enterRoom("Plumbrix");
    serverSends({"SEND|mallory|IPTJ|10.0.0.9"});
    EXPECT_TRUE(seam.programs.empty());

    ASSERT_TRUE(lobby->joinit("bob - Plumbrix"));
    // An adult game's join, declined at the age question.
    seam.answers = {false};
    EXPECT_FALSE(lobby->joinit("carl - ADULTPlumbrix"));
    serverSends({"SEND|mallory|IPTJ|10.0.0.9", "SEND|carl|IPTJ|10.0.0.7"});
    EXPECT_TRUE(seam.programs.empty());
    serverSends({"SEND|bob|IPTJ|10.0.0.5", "SEND|bob|IPTJ|10.0.0.6"});
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(lastArguments(), (QStringList{"alice", "10.0.0.5", "false", "e"}));
}

// The presence connection only tells that a game runs: what a program writes there is
// dropped, and one that writes far more than any game would is cut off.
TEST_F(HostingTest, ThePresenceListenerKeepsNothingWrittenToIt)
{
    enterRoom("Plumbrix");
    clickButton(lobby, "button_host");
    auto game = startGame();
    game->write(QByteArray(4 * 1024 * 1024, 'x'));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return game->state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
}

TEST_F(HostingTest, HostAnswersJoinRequestsAndRefusesIgnoredPlayers)
{
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("bob"));
    serverSends({"SEND|Bob|JOIN|+", "SEND|carl|JOIN|+"});
    EXPECT_EQ(sent("SEND|IGNO|"), QList<QByteArray>{"SEND|IGNO|Bob|"});
    EXPECT_EQ(sent("SEND|IPTJ|"), QList<QByteArray>{"SEND|IPTJ|carl|" + lobby->localAddress()});

    serverSends({"SEND|alice|IGNO|bob", "SEND|someone|IGNO|carl"});
    EXPECT_EQ(seam.messages,
              QStringList{"bob is ignoring you, you are not allowed to join the game."});
}

TEST_F(HostingTest, InvitationsAreShownOnlyWhileNoGameRunsAndWithInvitationsOn)
{
    TInvited *invited = windows->invited();
    serverSends({"SEND|ann|INVITE|Plumbrix"});
    ASSERT_TRUE(invited->isVisible());
    EXPECT_EQ(invited->label_iname->text(), "ann");
    EXPECT_EQ(invited->label_igame->text(), "Plumbrix");
    EXPECT_EQ(invited->windowTitle(), "Invitation to Join...");
    // Text from other players is never taken for markup.
    serverSends({"SEND|<b>ann</b>|INVITE|Plumbrix"});
    EXPECT_EQ(invited->label_iname->textFormat(), Qt::PlainText);
    EXPECT_EQ(invited->label_iname->text(), "<b>ann</b>");
    invited->FlatButton1->click();
    EXPECT_FALSE(invited->isVisible());
    EXPECT_TRUE(sent("SEND|JOIN|").isEmpty());

    serverSends({"SEND|ann|INVITE|Plumbrix"});
    invited->FlatButton2->click();
    EXPECT_FALSE(invited->isVisible());
    EXPECT_EQ(sent("SEND|JOIN|"), QList<QByteArray>{"SEND|JOIN|ann|+"});

    options()->image_acceptinvites1->setTag(0);
    serverSends({"SEND|dan|INVITE|Wobbleton"});
    EXPECT_FALSE(invited->isVisible());

    options()->image_acceptinvites1->setTag(1);
    auto game = startGame();
    serverSends({"SEND|dan|INVITE|Wobbleton"});
    EXPECT_FALSE(invited->isVisible());
}

TEST_F(HostingTest, InvitingNamesTheHostedGame)
{
    enterRoom("PlumbrixRMLADDER", "bob+1+PlumbrixRMLADDER+");
    clickButton(lobby, "button_host");
    ASSERT_TRUE(
        clickPlayer(control<TPlayerList>(lobby, "listbox_gameroom"), QStringLiteral("bob")));
    control<QAction>(lobby, "InviteToJoin1")->trigger();
    control<QAction>(lobby, "invitetojoin2")->trigger();
    EXPECT_EQ(sent("INVITE|"), (QList<QByteArray>{"INVITE|bob|Plumbrix", "INVITE|bob|Plumbrix"}));
}

TEST_F(HostingTest, GamesTreeListsTheGamesOfThisRoomWithTheirPlayers)
{
    enterRoom("Plumbrix", "bob+1+Plumbrix+bob - Plumbrix|carl+1+Plumbrix+bob - Plumbrix|"
                          "dan+1+Plumbrix+P*dan - Plumbrix|eve+1+Plumbrix+eve - Wobbleton|"
                          "fay+1+Plumbrix+");
    TGamesTreeModel *tree = control<TGamesTree>(lobby, "TreeView_gamelist")->games();
    EXPECT_EQ(treeLines(tree), QStringList{"bob - Plumbrix[bob,carl]"});
    EXPECT_TRUE(tree->index(0, 0).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(tree->index(0, 0, tree->index(0, 0)).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(control<QLabel>(lobby, "memo_empty")->isVisibleTo(lobby));

    // carl leaves the game, fay hosts one, bob's game is made private.
    serverSends({"ADDGUEST|carl+1+Plumbrix+", "ADDGUEST|fay+1+Plumbrix+fay - Plumbrix",
                 "ADDGUEST|bob+1+Plumbrix+P*bob - Plumbrix"});
    EXPECT_EQ(treeLines(tree), QStringList{"fay - Plumbrix[fay]"});

    serverSends({"DELETEGAME|fay - Plumbrix"});
    EXPECT_TRUE(treeLines(tree).isEmpty());
    EXPECT_TRUE(control<QLabel>(lobby, "memo_empty")->isVisibleTo(lobby));
    EXPECT_EQ(control<QLabel>(lobby, "memo_empty")->text(), "There are currently no hosted games.\n"
                                                            "Press the \"Host a Game\" button in\n"
                                                            "order to play.");
}

// A record that repeats the game a player is in (a new level) leaves the games tree as it
// is: the row the user picked stays picked, and moves between games still show.
TEST_F(HostingTest, ARecordRepeatingAPlayersGameLeavesTheGamesTreeAsItIs)
{
    lobby->resize(1000, 700);
    enterRoom("Plumbrix", "bob+1+Plumbrix+bob - Plumbrix|carl+1+Plumbrix+bob - Plumbrix|"
                          "dan+1+Plumbrix+dan - Plumbrix");
    TGamesTree *view = control<TGamesTree>(lobby, "TreeView_gamelist");
    TGamesTreeModel *tree = view->games();
    ASSERT_EQ(treeLines(tree), (QStringList{"bob - Plumbrix[bob,carl]", "dan - Plumbrix[dan]"}));
    ASSERT_TRUE(clickIndex(view, tree->player("carl")));
    ASSERT_EQ(view->currentIndex(), tree->player("carl"));
    // Follows the row while it stays; a row taken away and put back is a new row.
    const QPersistentModelIndex picked = view->currentIndex();

    serverSends({"ADDGUEST|carl+4+Plumbrix+bob - Plumbrix",
                 "ADDGUEST|bob+2+Plumbrix+bob - Plumbrix",
                 "ADDGUEST|dan+3+Plumbrix+dan - Plumbrix"});
    EXPECT_EQ(treeLines(tree), (QStringList{"bob - Plumbrix[bob,carl]", "dan - Plumbrix[dan]"}));
    ASSERT_TRUE(view->currentIndex().isValid());
    EXPECT_EQ(tree->text(view->currentIndex()), "carl");
    EXPECT_TRUE(view->selectionModel()->isSelected(view->currentIndex()));
    EXPECT_TRUE(picked.isValid());
    EXPECT_EQ(picked, view->currentIndex());

    // carl goes over to dan's game, and back within one burst; bob's game ends.
    serverSends({"ADDGUEST|carl+4+Plumbrix+dan - Plumbrix"});
    EXPECT_EQ(treeLines(tree), (QStringList{"bob - Plumbrix[bob]", "dan - Plumbrix[carl,dan]"}));
    serverSends({"ADDGUEST|carl+4+Plumbrix+bob - Plumbrix",
                 "ADDGUEST|dan+3+Plumbrix+dan - Plumbrix", "ADDGUEST|bob+2+Plumbrix+"});
    EXPECT_EQ(treeLines(tree), (QStringList{"dan - Plumbrix[dan]"}));
}

TEST_F(HostingTest, PressingAGameChoosesItAndADoubleClickJoinsIt)
{
    lobby->resize(1000, 700);
    enterRoom("Plumbrix", "bob+1+Plumbrix+bob - Plumbrix|carl+1+Plumbrix+bob - Plumbrix");
    TGamesTree *tree = control<TGamesTree>(lobby, "TreeView_gamelist");
    const QPersistentModelIndex root = tree->games()->game("bob - Plumbrix");
    ASSERT_TRUE(root.isValid());
    const QPoint onRoot = tree->visualRect(root).center();
    const QPoint onChild = tree->visualRect(tree->games()->index(0, 0, root)).center();

    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, onChild);
    EXPECT_TRUE(tree->statusTip().isEmpty());
    lobby->TreeView_gamelistContextPopup(onChild);
    EXPECT_FALSE(control<QAction>(lobby, "JoinGame1")->isEnabled());
    EXPECT_FALSE(control<QMenu>(lobby, "popup_joingame")->isVisible());

    lobby->TreeView_gamelistContextPopup(onRoot);
    EXPECT_EQ(control<QAction>(lobby, "JoinGame1")->text(), "Join bob - Plumbrix");
    EXPECT_TRUE(control<QAction>(lobby, "JoinGame1")->isEnabled());
    control<QMenu>(lobby, "popup_joingame")->hide();

    // A double click is a click followed by a press that the system reports as double.
    ASSERT_TRUE(doubleClickIndex(tree, root));
    EXPECT_EQ(sent("SEND|JOIN|"), QList<QByteArray>{"SEND|JOIN|bob|+"});
    // The joined game still shows who plays in it.
    ASSERT_TRUE(root.isValid());
    EXPECT_TRUE(tree->isExpanded(root));
    EXPECT_EQ(tree->indexAt(onChild), tree->games()->player("bob"));
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby));
}

TEST_F(HostingTest, TheEndOfTheGamesConnectionEndsHostingAndListensAgain)
{
    enterRoom("Plumbrix");
    clickButton(lobby, "button_host");
    auto game = startGame();
    lobby->joinit("bob - Plumbrix");
    EXPECT_EQ(seam.messages,
              QStringList{"You can not join a game while playing another Ostrel Software Game."});
    EXPECT_TRUE(sent("SEND|JOIN|").isEmpty());

    game->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
    EXPECT_EQ(sent("DELETEGAME|"), QList<QByteArray>{"DELETEGAME|alice"});
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby));
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_private")->isVisibleTo(lobby));
    EXPECT_TRUE(control<QLabel>(lobby, "label_ingame")->text().isEmpty());
    EXPECT_EQ(control<QAction>(lobby, "InviteToJoin1")->text(), "Invite to Join..");
    EXPECT_TRUE(lobby->hostingSession().inviteGame().isEmpty());
}

TEST_F(HostingTest, TheListenerStoppingItselfChangesNothing)
{
    enterRoom("Plumbrix");
    clickButton(lobby, "button_host");
    control<TSock>(lobby, "Sock11")->setListen(false);
    EXPECT_TRUE(sent("DELETEGAME|").isEmpty());
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_private")->isVisibleTo(lobby));
    EXPECT_FALSE(control<QLabel>(lobby, "label_ingame")->text().isEmpty());
    control<QAction>(lobby, "RestoreSockets1")->trigger();
    EXPECT_TRUE(control<TSock>(lobby, "Sock11")->Listen());
}

TEST_F(HostingTest, AFailedJoinGivesTheHostButtonBack)
{
    enterRoom("Plumbrix");
    ASSERT_TRUE(lobby->joinit("bob - Plumbrix"));
    serverSends({"ERROR|bob is not hosting a game, you cannot join them."});
    EXPECT_EQ(seam.messages, QStringList{"bob is not hosting a game, you cannot join them."});
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby));
    EXPECT_TRUE(control<QLabel>(lobby, "label_ingame")->text().isEmpty());
}

TEST_F(HostingTest, SmallerRoomActions)
{
    enterRoom("PlumbrixRMLADDER");
    clickButton(lobby, "button_ladder");
    ASSERT_EQ(sent("SEND|CHAT|").size(), 1);
    EXPECT_TRUE(sent("SEND|CHAT|")[0].startsWith("SEND|CHAT|/me asks: Ladder Game Anyone?|"));
    EXPECT_EQ(documentLines(control<TChatPane>(lobby, "mainchat_gameroom")->document()).last(),
              "alice Ladder Game Anyone?");

    clickButton(lobby, "button_host");
    control<TFlatButton>(lobby, "button_private")->click();
    EXPECT_EQ(sent("PRIVATE|"), QList<QByteArray>{"PRIVATE|alice"});
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_private")->isVisibleTo(lobby));

    control<TFlatButton>(lobby, "button_cannothost")->click();
    control<TFlatButton>(lobby, "button_whatareladders")->click();
    ASSERT_EQ(seam.urls.size(), 2);
    EXPECT_TRUE(seam.urls[0].toString().endsWith("/lobby/networksettings.shtml"));
    EXPECT_TRUE(seam.urls[1].toString().endsWith("/lobby/ladder.shtml"));
}

} // namespace

// The router's answer (the router itself lies outside the lobby and answers through the
// port object's signal) comes seconds after the host button, which leaves the game's entry
// waiting for it; the user may have logged off meanwhile. Such an answer neither offers
// nor starts the game, and a port the router opened for it is not announced.
TEST_F(HostingTest, ARouterAnswerAfterLoggingOffStartsNoGame)
{
    enterRoom("Plumbrix");
    control<QAction>(lobby, "LobbyAssistedHosting1")->setChecked(true);
    // What the host button leaves while the router is asked.
    lobby->hostingSession().awaitRouter("alice - Plumbrix", QStringLiteral("Plumbrix"));
    ASSERT_TRUE(lobby->checkregistry("Plumbrix"));
    seam.programs.clear();
    windows->options()->image_reconnect->click();
    server.closeClient();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !lobby->connection()->Active(); }, 5000));

    emit lobby->routerPort()->answered(true, QStringLiteral("198.51.100.7"), QString());
    EXPECT_TRUE(seam.programs.empty());
    EXPECT_TRUE(lobby->hostingSession().routerAddress().isEmpty());
    EXPECT_FALSE(lobby->relayTable()->hosting());
    EXPECT_TRUE(alerts().filter(QStringLiteral("Hosted")).isEmpty());
}

// While the router forwards the game port, joiners are sent the router's public address;
// when it did not answer, the game goes through the relay. Either way the room says so.
TEST_F(HostingTest, TheRoutersAnswerDecidesHowTheGameIsOffered)
{
    struct Row
    {
        bool opened;
        QByteArray offer;
        QString line;
        QByteArray address; // sent to joiners; empty for our own
    };
    const Row rows[] = {
        {true, "ADDGAME|", "Port 7772 opened on your router", "198.51.100.7"},
        {false, "ADDASSISTED|",
         "Your router did not answer: the game goes through the lobby server", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line.toStdString());
        enterRoom("Plumbrix");
        control<QAction>(lobby, "LobbyAssistedHosting1")->setChecked(true);
        lobby->hostingSession().awaitRouter("alice - Plumbrix", QStringLiteral("Plumbrix"));
        ASSERT_TRUE(lobby->checkregistry("Plumbrix"));
        seam.programs.clear();
        emit lobby->routerPort()->answered(row.opened, QString::fromLatin1(row.address), QString());
        EXPECT_EQ(sent(row.offer), QList<QByteArray>{row.offer + "alice - Plumbrix"});
        EXPECT_EQ(alerts(), (QStringList{row.line, "Hosted a Plumbrix Game."}));
        EXPECT_EQ(lobby->relayTable()->hosting(), !row.opened);
        EXPECT_EQ(seam.programs.size(), 1u);
        EXPECT_EQ(control<QLabel>(lobby, "image_connection")->pixmap().cacheKey(),
                  lobby->connectionPictures().value(row.opened ? 0 : 1).cacheKey());

        auto game = startGame();
        serverSends({"SEND|carl|JOIN|+"});
        const QByteArray address = row.address.isEmpty() ? lobby->localAddress() : row.address;
        EXPECT_EQ(sent("SEND|IPTJ|"), QList<QByteArray>{"SEND|IPTJ|carl|" + address});
        // After the game, joiners of the next one hear our own address again.
        game->disconnectFromHost();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
        EXPECT_TRUE(lobby->hostingSession().routerAddress().isEmpty());
        EXPECT_EQ(control<QLabel>(lobby, "image_connection")->pixmap().cacheKey(),
                  lobby->connectionPictures().value(1).cacheKey());
        server.clearLines();
    }
}
