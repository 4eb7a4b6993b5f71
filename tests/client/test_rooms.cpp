#include "control.h"
#include "lobbyfixture.h"

#include "inifile.h"
#include "tabout.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "thelp.h"
#include "toptions.h"
#include "troomstree.h"
#include "tswitch.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>

namespace {

QStringList childTexts(const QModelIndex &node)
{
    QStringList out;
    const QAbstractItemModel *model = node.model();
    for (int i = 0; model && i < model->rowCount(node); ++i)
        out << model->index(i, 0, node).data().toString();
    return out;
}

QStringList rootTexts(const TRoomsTree *tree)
{
    QStringList out;
    for (int i = 0; i < tree->rooms()->rowCount(); ++i)
        out << tree->rooms()->index(i, 0).data().toString();
    return out;
}

QModelIndex root(const TRoomsTree *tree, const QString &text)
{
    return tree->rooms()->category(text);
}

QModelIndex child(const QModelIndex &node, const QString &text)
{
    const QAbstractItemModel *model = node.model();
    for (int i = 0; model && i < model->rowCount(node); ++i) {
        if (model->index(i, 0, node).data().toString() == text)
            return model->index(i, 0, node);
    }
    return {};
}

} // namespace

class RoomsTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        registryPath = dataDir.path() + QStringLiteral("/registry.ini");
        qputenv("OSTREL_REGISTRY", registryPath.toLocal8Bit());
    }
    void TearDown() override
    {
        LobbyFixture::TearDown();
        qunsetenv("OSTREL_REGISTRY");
    }

    void installed(const char *game, const QByteArray &version)
    {
        IniFile(registryPath).WriteString(game, "Version", version);
    }

    QString runningVersion() const
    {
        return windows->about()->findChild<QLabel *>(QStringLiteral("label_version"))->text();
    }

    void sendCatalogue(const QList<QByteArray> &lines)
    {
        serverSends({"GAMES|" + lines.join("/r/")});
    }

    QAction *downloadItem(const char *name) const
    {
        return lobby->findChild<QAction *>(QString::fromLatin1(name));
    }

    QString registryPath;
};

TEST_F(RoomsTest, CatalogueBuildsTreeDownloadItemsAndVersionsPage)
{
    installed("alpha", "1.2.0");
    installed("beta", "1.1.9");
    installed("gamma", "1.2a");
    loginAs("ann");
    const QByteArray running = runningVersion().toLatin1();
    sendCatalogue({"game:Word:alpha:1.2.0:/games/alpha/setup.exe",
                   "game:Word:beta:1.2.0:/games/beta:two/setup.exe", "game:Dice:gamma:1.2.0:/g",
                   "game:Card:delta:2.0:/d", "myll:Whatever:alpha:1.2.0:/games/alpha/setup.exe",
                   "rmll:Word:alpha:1.2.0:/games/alpha/setup.exe", "game:Domino:bones:1.0:/b",
                   "game:Card:Plumbrix:1.6.7:/p", "nonsense without colon", "xxxx:Word:zeta:1:/z",
                   "vers:" + running + ":1.0:"});

    TRoomsTree *tree = control<TRoomsTree>(lobby, "lbsubjects");
    EXPECT_EQ(rootTexts(tree),
              (QStringList{"Card Games", "Dice Games", "Favorite Games", "Misc Games",
                           "MYLadder Games", "RMLadder Games", "Word Games"}));
    EXPECT_TRUE(root(tree, "Word Games").data(Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(child(root(tree, "Word Games"), "alpha").data(Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(childTexts(root(tree, "Word Games")), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(childTexts(root(tree, "Dice Games")), QStringList{"gamma"});
    EXPECT_EQ(childTexts(root(tree, "Card Games")),
              (QStringList{"ADULTPlumbrix", "delta", "Plumbrix"}));
    EXPECT_EQ(childTexts(root(tree, "MYLadder Games")), QStringList{"alphaMYLADDER"});
    EXPECT_EQ(childTexts(root(tree, "RMLadder Games")), QStringList{"alphaRMLADDER"});
    EXPECT_FALSE(lobby->FindSubjectTreeNode("bones").isValid()); // no root for Domino
    EXPECT_FALSE(lobby->FindSubjectTreeNode("zeta").isValid());
    // Pictures: 2 outside the table, 3 and 4 the plumbrix pair.
    EXPECT_EQ(Tlobby::nodePicture(child(root(tree, "Word Games"), "alpha")), 2);
    EXPECT_EQ(Tlobby::nodePicture(child(root(tree, "Card Games"), "Plumbrix")), 3);
    EXPECT_EQ(Tlobby::nodePicture(child(root(tree, "Card Games"), "ADULTPlumbrix")), 4);
    EXPECT_EQ(Tlobby::nodePicture(root(tree, "Card Games")), 0);

    struct Item
    {
        const char *name;
        QMenu *menu;
        QString hint;
        int tag;
        bool visible;
    };
    const Item items[] = {
        {"get_alpha", control<QMenu>(lobby, "WordGames2"), "/games/alpha/setup.exe", 0, true},
        {"get_beta", control<QMenu>(lobby, "WordGames2"), "/games/beta:two/setup.exe", 1, true},
        {"get_gamma", control<QMenu>(lobby, "DiceGames2"), "/g", 1, true},
        {"get_delta", control<QMenu>(lobby, "CardGames2"), "/d", 2, true},
        {"get_alphaMYLADDER", control<QMenu>(lobby, "myLadderGames2"), "/games/alpha/setup.exe", 0,
         false},
        {"get_alphaRMLADDER", control<QMenu>(lobby, "RMLadderGames2"), "/games/alpha/setup.exe", 0,
         false},
        {"get_bones", control<QMenu>(lobby, "DominoGames2"), "/b", 2, true},
        {"get_ADULTPlumbrix", control<QMenu>(lobby, "CardGames2"), "/p", 2, false},
    };
    for (const Item &item : items) {
        SCOPED_TRACE(item.name);
        QAction *a = downloadItem(item.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), QString::fromLatin1(item.name).mid(4));
        EXPECT_TRUE(item.menu->actions().contains(a));
        EXPECT_EQ(a->toolTip(), item.hint);
        EXPECT_EQ(a->data().toInt(), item.tag);
        EXPECT_EQ(a->isVisible(), item.visible);
    }
    EXPECT_FALSE(control<QMenu>(lobby, "DominoGames2")->menuAction()->isVisible());
    EXPECT_EQ(downloadItem("get_zeta"), nullptr);

    const QString versions = windows->help()->versionsText();
    EXPECT_TRUE(versions.contains("Current Versions"));
    EXPECT_TRUE(versions.contains("alpha : Version 1.2.0"));
    EXPECT_TRUE(versions.contains("Plumbrix : Version 1.6.7"));
    EXPECT_TRUE(versions.contains("bones : Version 1.0"));

    // A second GAMES message rebuilds the tree from the whole buffer; the download items
    // of the first build stay as they were.
    installed("delta", "2.0");
    sendCatalogue({"game:Misc:omega:1.0:/o"});
    EXPECT_EQ(childTexts(root(tree, "Word Games")), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(childTexts(root(tree, "Misc Games")), QStringList{"omega"});
    EXPECT_EQ(downloadItem("get_delta")->data().toInt(), 2);
    EXPECT_EQ(control<QMenu>(lobby, "WordGames2")->actions().size(), 2);
    EXPECT_TRUE(seam.questions.isEmpty());
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_downloadlobby")->isVisible());
}

TEST_F(RoomsTest, FavouritesAndRememberedExpansion)
{
    writeSetting("Favs", "0");
    IniFile(iniPath).WriteString("Favs", "0", "ALPHA");
    IniFile(iniPath).WriteString("Expanded", "Word", "2");
    loginAs("ann");
    sendCatalogue({"game:Word:alpha:1.0:/a", "game:Word:beta:1.0:/b", "game:Dice:gamma:1.0:/g"});

    TRoomsTree *tree = control<TRoomsTree>(lobby, "lbsubjects");
    EXPECT_EQ(childTexts(root(tree, "Favorite Games")), QStringList{"alpha"});
    EXPECT_EQ(childTexts(root(tree, "Word Games")), QStringList{"beta"});
    EXPECT_TRUE(control<QMenu>(lobby, "WordGames2")->actions().contains(downloadItem("get_alpha")));
    EXPECT_FALSE(tree->isExpanded(root(tree, "Word Games")));
    EXPECT_TRUE(tree->isExpanded(root(tree, "Dice Games")));

    // The user's own expanding and collapsing is remembered and saved at closing.
    tree->setExpanded(root(tree, "Dice Games"), false);
    tree->setExpanded(root(tree, "Word Games"), true);

    // Room popup on "beta": offered as a new favourite, saved at once.
    const QModelIndex beta = child(root(tree, "Word Games"), "beta");
    lobby->lbsubjectsContextPopup(tree->visualRect(beta).center());
    EXPECT_EQ(control<QAction>(lobby, "menu_favs")->text(), "Move to Favorite Games List");
    control<QMenu>(lobby, "popup_rooms")->hide();
    control<QAction>(lobby, "menu_favs")->trigger();
    EXPECT_EQ(seam.messages.value(0), "This game will be listed under the Favorite Games List "
                                      "category the next time you open up Halvane.");
    EXPECT_EQ(setting("Favs"), "1");
    EXPECT_EQ(IniFile(iniPath).ReadString("Favs", "1"), "beta");

    const QModelIndex alpha = child(root(tree, "Favorite Games"), "alpha");
    lobby->lbsubjectsContextPopup(tree->visualRect(alpha).center());
    EXPECT_EQ(control<QAction>(lobby, "menu_favs")->text(), "Remove from Favorite Games List");
    control<QMenu>(lobby, "popup_rooms")->hide();
    control<QAction>(lobby, "menu_favs")->trigger();
    EXPECT_EQ(seam.messages.value(1), "This game will be removed from your Favorite Games List "
                                      "the next time you open up Halvane.");
    EXPECT_EQ(setting("Favs"), "0");
    EXPECT_EQ(IniFile(iniPath).ReadString("Favs", "0"), "beta");

    lobby->close();
    EXPECT_EQ(IniFile(iniPath).ReadString("Expanded", "Dice"), "2");
    EXPECT_EQ(IniFile(iniPath).ReadString("Expanded", "Word"), "1");
}

TEST_F(RoomsTest, PlayersMoveBetweenRoomsInTheTree)
{
    // Player moves reach the tree in short batches; a test looks once they are placed.
    auto sends = [this](const QList<QByteArray> &lines) {
        serverSends(lines);
        lobby->placePlayerNodes();
    };
    loginAs("ann");
    sendCatalogue({"game:Word:alpha:1.0:/a", "game:Word:beta:1.0:/b", "game:Card:Zed:1.0:/z"});
    TRoomsTree *tree = control<TRoomsTree>(lobby, "lbsubjects");
    const QPersistentModelIndex alpha = lobby->FindSubjectTreeNode("alpha");
    const QPersistentModelIndex beta = lobby->FindSubjectTreeNode("beta");

    sends({"ADDGUEST|bob+2+alpha+", "ADDGUEST|Carl+1+alpha+", "ADDGUEST|amy+1+alpha+"});
    EXPECT_EQ(childTexts(alpha), (QStringList{"amy", "bob", "Carl"}));
    EXPECT_EQ(Tlobby::nodePicture(child(alpha, "bob")), 1);

    sends({"ADDGUEST|bob+2+beta+"});
    EXPECT_EQ(childTexts(alpha), (QStringList{"amy", "Carl"}));
    EXPECT_EQ(childTexts(beta), QStringList{"bob"});

    // No node carries the text "Lobby Chat": players there are not in the tree.
    sends({"ADDGUEST|bob+2+Lobby Chat+"});
    EXPECT_TRUE(childTexts(beta).isEmpty());

    // A player named like a room leaves the room's node alone.
    sends({"ADDGUEST|Zed+1+alpha+", "ADDGUEST|Zed+1+beta+"});
    EXPECT_EQ(childTexts(lobby->FindSubjectTreeNode("Card Games")), QStringList{"Zed"});
    EXPECT_EQ(childTexts(beta), QStringList{"Zed"});

    sends({"REMOVEGUEST|amy", "GREMOVEGUEST|Carl", "GREMOVEGUEST|Zed"});
    EXPECT_TRUE(childTexts(alpha).isEmpty());
    EXPECT_TRUE(childTexts(beta).isEmpty());

    // A room entry lists many players at once; they are merged in order with those
    // already shown.
    sends({"ADDGUEST|m05+1+alpha+"});
    QList<QByteArray> many{"JOINSUBJECT|alpha"};
    QStringList expected{"m05"};
    for (int i = 39; i >= 0; --i) {
        if (i == 5)
            continue;
        const QByteArray name = (i % 2 ? "M" : "m") + QByteArray::number(i).rightJustified(2, '0');
        many[0] += "|" + name + "+1+alpha+";
        expected << QString::fromLatin1(name);
    }
    sends(many);
    std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    EXPECT_EQ(childTexts(alpha), expected);

    // Disconnecting empties the tree; a new catalogue starts over.
    control<TFlatButton>(lobby, "button_disconnect")->click();
    EXPECT_EQ(tree->rooms()->rowCount(), 0);
    EXPECT_FALSE(lobby->FindSubjectTreeNode("alpha").isValid());
}

TEST_F(RoomsTest, EnteringAndLeavingRooms)
{
    writeSetting("Assist", "true");
    loginAs("ann");
    sendCatalogue(
        {"game:Word:alpha:1.0:/a", "game:Misc:[Lobby Chat]:1.0:/l", "myll:Word:alpha:1.0:/a"});
    TRoomsTree *tree = control<TRoomsTree>(lobby, "lbsubjects");

    // Only room nodes act on a double click.
    const int before = server.lines().size();
    tree->setCurrentIndex(lobby->FindSubjectTreeNode("Word Games"));
    lobby->lbsubjectsDblClick();
    tree->setCurrentIndex(lobby->FindSubjectTreeNode("alpha"));
    lobby->lbsubjectsDblClick();
    ASSERT_GE(server.waitForLine("JOINSUBJECT|alpha", 5000, before), 0);
    EXPECT_EQ(server.lines().size(), before + 1);

    serverSends({"JOINSUBJECT|alpha|bob+1+alpha+"});
    EXPECT_EQ(control<QLabel>(lobby, "label_gamename")->text(), "alpha");
    EXPECT_EQ(lobby->currentRoom(), "alpha");
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(), "You are in the alpha Lobby");
    EXPECT_EQ(control<QLabel>(lobby, "label_games")->text(), "alpha Games");
    EXPECT_TRUE(control<TFlatPanel>(lobby, "panel_gameroom")->isVisible());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_ladder")->isVisible());
    EXPECT_TRUE(control<TChatPane>(lobby, "listbox_alerts")
                    ->toPlainText()
                    .contains("Entered alpha Lobby."));
    EXPECT_TRUE(control<TChatPane>(lobby, "mainchat_gameroom")
                    ->toPlainText()
                    .contains("You joined the alpha Game Lobby. Enjoy the Game!"));
    EXPECT_FALSE(control<TChatPane>(lobby, "mainchat_gameroom")
                     ->toPlainText()
                     .contains("has joined the room"));
    EXPECT_EQ(control<TPlayerList>(lobby, "listbox_gameroom")->count(), 1);
    EXPECT_TRUE(tree->isExpanded(lobby->FindSubjectTreeNode("alpha")));

    serverSends({"JOINSUBJECT|alphaMYLADDER|"});
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_ladder")->isVisible());
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_whatareladders")->isVisible());
    EXPECT_EQ(control<TPlayerList>(lobby, "listbox_gameroom")->count(), 0);
    EXPECT_TRUE(control<TChatPane>(lobby, "mainchat_gameroom")
                    ->toPlainText()
                    .contains("Ladder Leagues are a separate entity from Ostrel Lobby."));
    EXPECT_FALSE(
        control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText().contains("You joined"));

    const int beforeLeave = server.lines().size();
    control<TFlatButton>(lobby, "button_leavegameroom")->click();
    ASSERT_GE(server.waitForLine("JOINSUBJECT|Lobby Chat", 5000, beforeLeave), 0);
    serverSends({"JOINSUBJECT|Lobby Chat|bob+1+Lobby Chat+"});
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_gameroom")->isVisible());
    EXPECT_TRUE(QStringList({"Greetings!", "Enjoy the Games!", "Welcome.", "Connected.",
                             "Have a Great Day!"})
                    .contains(control<QLabel>(lobby, "label_status")->text()));
    EXPECT_TRUE(control<QAction>(lobby, "LobbyAssistedHosting1")->isChecked());
    EXPECT_TRUE(tree->isExpanded(lobby->FindSubjectTreeNode("[Lobby Chat]")));

    // "[Lobby Chat]" stands for the room "Lobby Chat"; it is the current room already.
    serverSends({"JOINSUBJECT|alpha|"});
    const int beforeLobby = server.lines().size();
    tree->setCurrentIndex(lobby->FindSubjectTreeNode("[Lobby Chat]"));
    lobby->lbsubjectsDblClick();
    ASSERT_GE(server.waitForLine("JOINSUBJECT|Lobby Chat", 5000, beforeLobby), 0);
}

struct VersionCase
{
    const char *name;
    const char *latest; // "+" a newer version, "-" an older one, "=" the running one
    bool automatic;
    bool answer;
    bool question;
    bool panel;
};

// Named in the test's output by its row, not by its bytes.
void PrintTo(const VersionCase &c, std::ostream *os)
{
    *os << c.name;
}

class VersionCheckTest : public RoomsTest, public ::testing::WithParamInterface<VersionCase>
{
};

TEST_P(VersionCheckTest, ComparesWithTheRunningVersion)
{
    const VersionCase &c = GetParam();
    writeSetting("Updates", c.automatic ? "true" : "false");
    seam.answers = {c.answer};
    loginAs("ann");
    const QByteArray running = runningVersion().toLatin1();
    QByteArray latest = c.latest;
    if (latest == "+")
        latest = running + ".1";
    else if (latest == "=")
        latest = running;
    const bool updating = c.question && c.answer;
    if (updating) {
        // Yes closes the lobby (and its connection) to let the updater work.
        server.send("GAMES|vers:" + latest + ":x:");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !seam.programs.empty(); }, 5000));
    } else {
        sendCatalogue({"vers:" + latest + ":x:"});
        QCoreApplication::processEvents(); // the question is asked from a queued call
    }
    EXPECT_EQ(seam.questions.size(), c.question ? 1 : 0);
    if (c.question) {
        EXPECT_EQ(seam.questions.value(0),
                  "Halvane needs to be updated. It will close and install the new version. "
                  "Would you like to proceed with the update?");
    }
    EXPECT_EQ(control<TFlatPanel>(lobby, "panel_downloadlobby")->isVisible(), c.panel);
    // Yes hands over to the updater the program carries, which is started.
    ASSERT_EQ(seam.programs.size(), updating ? 1u : 0u);
    if (updating) {
        EXPECT_EQ(seam.programs[0].program, programDir.filePath(QStringLiteral("updater")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Branches, VersionCheckTest,
    ::testing::Values(VersionCase{"Same", "=", true, true, false, false},
                      VersionCase{"Older", "0.0.1", true, true, false, false},
                      VersionCase{"NewerManual", "+", false, true, false, true},
                      VersionCase{"NewerAutoYes", "+", true, true, true, false},
                      VersionCase{"NewerAutoNo", "+", true, false, true, true},
                      VersionCase{"Unreadable", "1.x", true, true, false, true}),
    [](const ::testing::TestParamInfo<VersionCase> &info) { return std::string(info.param.name); });
