#include "assets.h"
#include "control.h"
#include "encryptit.h"
#include "fakelobbyserver.h"
#include "gestures.h"
#include "inifile.h"
#include "lobby.h"
#include "lobbyfixture.h"
#include "lobbysettings.h"
#include "lobbywindows.h"
#include "recordingplatform.h"
#include "tanimatedbutton.h"
#include "tchatpane.h"
#include "tcolorbutton.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tgamestree.h"
#include "thelp.h"
#include "toptions.h"
#include "torvexuser.h"
#include "tradiogroup.h"
#include "troomstree.h"
#include "tswitch.h"
#include "userpaths.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

namespace {

QStringList itemTexts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

QByteArray record(const std::string &name, const std::string &password = "pw")
{
    ostrel::TOrvexUser user;
    user.UserName = name;
    user.Password = password;
    user.City = "Lyon";
    return QByteArray::fromStdString(user.SaveToString());
}

// The shared lobby fixture, plus the login dialog's two ways out and a login that waits
// for the welcome status.
class LobbyTest : public LobbyFixture
{
protected:
    static void confirm(TfrmConnectionInfo *dialog) { dialog->BitBtn2->click(); }
    static void cancel(TfrmConnectionInfo *dialog) { dialog->reject(); }

    // Logs in as `name` against a server that accepts anyone.
    void loginAs(const QByteArray &name)
    {
        LobbyFixture::loginAs(name, [](ostrel::TOrvexUser &u) { u.City = "Lyon"; });
        ASSERT_TRUE(statusBecomes(QStringLiteral("Welcome to Halvane!")));
    }
};

TEST_F(LobbyTest, FirstStartShowsWelcomeEmptyDialogAndDefaults)
{
    create();
    EXPECT_EQ(lobby->windowTitle(), QStringLiteral("Halvane"));
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(), QStringLiteral("Not Connected"));
    // The chat with everybody is found by its name, and the welcome card points at it.
    EXPECT_EQ(control<TFlatButton>(lobby, "button_alerts")->text().remove(QLatin1Char('&')),
              QStringLiteral("Lobby Chat"));
    EXPECT_EQ(control<QLineEdit>(lobby, "mychat")->placeholderText(),
              QStringLiteral("Type here to talk to everyone"));
    bool checked = false;
    showWithLogin([&](TfrmConnectionInfo *d) {
        checked = true;
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Ostrel Lobby - Login"));
        EXPECT_TRUE(d->edtUserId->text().isEmpty());
        EXPECT_TRUE(d->edtPassword->text().isEmpty());
        EXPECT_FALSE(d->checkbox_savepass->isChecked());
        EXPECT_TRUE(control<TFlatPanel>(lobby, "panel_beginning")->isVisible());
        cancel(d);
    });
    EXPECT_TRUE(checked);

    TOptions *o = windows->options();
    for (std::size_t i = 0; i < TOptions::kSwitchControls.size(); ++i) {
        const char *key = LobbyPreferences::kSwitches[i].key;
        const bool off =
            QByteArrayView(key) == "Sentwithenter1" || QByteArrayView(key) == "Tourneyalert1";
        EXPECT_EQ((o->*TOptions::kSwitchControls[i])->Tag(), off ? 0 : 1) << key;
    }
    EXPECT_EQ(o->radiogroup_show->ItemIndex(), 0);
    EXPECT_EQ(o->textsize->currentText(), QStringLiteral("8"));
    EXPECT_EQ(o->boxtextsize->currentText(), QStringLiteral("8"));
    EXPECT_EQ(o->textcolor->color(), TColor(TColor::clBlack));
    EXPECT_EQ(control<TChatPane>(lobby, "mainchat_gameroom")->font().pointSize(), 8);
    EXPECT_EQ(control<TPlayerList>(lobby, "lbnames")->font().pointSize(), 8);
    EXPECT_EQ(lobby->messageFromPlace().x(), 165);
    EXPECT_EQ(lobby->messageToPlace().y(), 239);

    // Closing the dialog without OK leaves the program disconnected and sends nothing.
    QTest::qWait(50);
    EXPECT_FALSE(lobby->connection()->Active());
    EXPECT_EQ(server.clientCount(), 0);
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_connect")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_download")->isEnabled());
    EXPECT_EQ(lobby->pos(), lobby->defaultBounds().topLeft());

    // The dialog comes back with the Connect button; the welcome panel closes with its button.
    bool again = false;
    onModal<TfrmConnectionInfo>([&](TfrmConnectionInfo *d) {
        again = true;
        cancel(d);
    });
    control<TFlatButton>(lobby, "button_connect")->click();
    ASSERT_TRUE(waitModal());
    EXPECT_TRUE(again);
    control<TFlatButton>(lobby, "button_beginningdone")->click();
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_beginning")->isVisible());
}

TEST_F(LobbyTest, SettingsFileInProgramFolderIsMovedToUserFolder)
{
    QFile legacy(programDir.filePath(QStringLiteral("ostrellobby.ini")));
    ASSERT_TRUE(legacy.open(QIODevice::WriteOnly));
    legacy.write("[Setting]\nName=moved\nPassword=a,b\\c\"d\n");
    legacy.close();

    create();
    EXPECT_EQ(lobby->settingsPath(), iniPath);
    EXPECT_FALSE(QFile::exists(legacy.fileName()));
    EXPECT_EQ(setting("Name"), "moved");
    EXPECT_EQ(setting("Password"), "a,b\\c\"d");
}

TEST_F(LobbyTest, ListSectionsAndOnOffRulesLoadIntoTheWindows)
{
    writeSetting("Name", "ann");
    writeSetting("Friends", "1");
    writeSetting("Ignored", "2");
    writeSetting("Favs", "-1");
    IniFile ini(iniPath);
    ini.WriteString("Friends", "0", "Bob");
    ini.WriteString("Friends", "1", "carol");
    ini.WriteString("Ignored", "0", "SpamMer");
    ini.WriteString("Ignored", "1", "troll");
    // "2" is missing: the list ends there.
    ini.WriteString("Favs", "0", "Plumbrix");
    writeSetting("Save", "TRUE");
    writeSetting("Updates", "False");
    writeSetting("Pmlog", "false");
    writeSetting("Tourneyalert1", "true");
    writeSetting("Sentwithenter1", "yes");
    writeSetting("Show", "2");
    writeSetting("Textcolor", "clRed");
    writeSetting("Actioncolor", "not a colour");
    writeSetting("Textsize", "12");
    writeSetting("Boxtextsize", "x");
    writeSetting("Pmfromleft", "abc");
    writeSetting("Pmtotop", "300");
    ini.WriteString("Expanded", "Word", "2");
    ini.WriteString("Expanded", "Dice", "");
    create();
    // "x" is no size: the lists keep the one they have.
    const int listPoints = control<TPlayerList>(lobby, "lbnames")->font().pointSize();
    ASSERT_NE(listPoints, 12);

    showWithLogin([](TfrmConnectionInfo *d) {
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("ann"));
        EXPECT_FALSE(d->checkbox_savepass->isChecked());
        cancel(d);
    });
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_beginning")->isVisible());
    EXPECT_EQ(itemTexts(control<QListWidget>(lobby, "listbox_friends")),
              (QStringList{QStringLiteral("1Bob"), QStringLiteral("1carol")}));
    EXPECT_EQ(itemTexts(control<QListWidget>(lobby, "listbox_ignored")),
              (QStringList{QStringLiteral("spammer"), QStringLiteral("troll")}));
    EXPECT_EQ(lobby->favouriteRooms().size(), 0);

    TOptions *o = windows->options();
    EXPECT_EQ(o->image_updates->Tag(), 1);
    EXPECT_EQ(o->image_pmlog->Tag(), 0);
    EXPECT_EQ(o->image_tourneyalert1->Tag(), 1);
    EXPECT_EQ(o->image_sentwithenter1->Tag(), 0);
    EXPECT_EQ(o->radiogroup_show->ItemIndex(), 2);
    EXPECT_EQ(o->textcolor->color(), TColor(TColor::clRed));
    EXPECT_EQ(o->actioncolor->color(), TColor(TColor::clBlack));
    EXPECT_EQ(control<TChatPane>(lobby, "mainchat_gameroom")->font().pointSize(), 12);
    EXPECT_EQ(control<TChatPane>(lobby, "tourneychat")->font().pointSize(), 12);
    EXPECT_EQ(control<TPlayerList>(lobby, "lbnames")->font().pointSize(), listPoints);
    EXPECT_EQ(lobby->messageFromPlace().x(), 165);
    EXPECT_EQ(lobby->messageToPlace().y(), 300);
    EXPECT_EQ(lobby->expandedState()[0], "1");
    EXPECT_EQ(lobby->expandedState()[1], "2");
    EXPECT_EQ(lobby->expandedState()[2], "");
}

TEST(LobbySettingsRules, OnOffReading)
{
    struct Case
    {
        QByteArray value;
        bool defaultOn;
        bool expected;
    };
    const Case cases[] = {
        {"", true, true},      {"false", true, false}, {"False", true, true}, {"0", true, true},
        {"true", false, true}, {"TRUE", false, false}, {"", false, false},    {"yes", false, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LobbySettings::onOff(c.value, c.defaultOn), c.expected)
            << c.value.constData() << " default " << c.defaultOn;
}

TEST_F(LobbyTest, SavedWindowPositionOffTheScreenFallsBackToDefaultBounds)
{
    writeSetting("Name", "ann");
    writeSetting("Left", "-5000");
    writeSetting("Top", "40");
    create();
    showWithLogin(cancel);
    EXPECT_EQ(lobby->pos(), lobby->defaultBounds().topLeft());

    lobby->close();
    EXPECT_EQ(setting("Left").toInt(), lobby->defaultBounds().left());
    EXPECT_EQ(setting("panel_leftside1"),
              QByteArray::number(control<TFlatPanel>(lobby, "panel_leftside1")->width()));
    EXPECT_EQ(setting("Pmfromleft"), "165");
    EXPECT_EQ(IniFile(iniPath).ReadString("Expanded", "RMLadder"), "1");
}

TEST_F(LobbyTest, SavedLayoutIsRestored)
{
    writeSetting("Name", "ann");
    writeSetting("Left", "0");
    writeSetting("Top", "1");
    writeSetting("panel_top", "300");
    writeSetting("panel_leftside1", "320");
    writeSetting("panel_newsleft", "50");
    writeSetting("panel_newstop", "60");
    create();
    showWithLogin(cancel);
    EXPECT_EQ(lobby->pos(), QPoint(0, 1));
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return control<TFlatPanel>(lobby, "panel_top")->height() == 300; }, 2000))
        << control<TFlatPanel>(lobby, "panel_top")->height();
    EXPECT_EQ(control<TFlatPanel>(lobby, "panel_leftside1")->width(), 320);
    EXPECT_EQ(control<TFlatPanel>(lobby, "panel_news")->pos(), QPoint(50, 60));
}

TEST_F(LobbyTest, LoginSendsSavedPasswordCutTo20AndShowsWelcome)
{
    writeSetting("Name", "ann");
    writeSetting("Save", "true");
    const QByteArray longPassword = "abcdefghijklmnopqrstuvwxy"; // 25 characters
    writeSetting("Password", LobbySettings::scramblePassword(longPassword));
    server.onLine = [this](const QByteArray &line) {
        if (line.startsWith("LOGIN|"))
            server.send("LOGIN|SUCCESS|" + record("ann"));
    };
    create();
    showWithLogin([&](TfrmConnectionInfo *d) {
        EXPECT_EQ(d->edtPassword->text(), QString::fromLatin1(longPassword));
        EXPECT_TRUE(d->checkbox_savepass->isChecked());
        confirm(d);
    });
    ASSERT_GE(server.waitForLine("LOGIN|ann|0121|abcdefghijklmnopqrst"), 0)
        << server.lines().join('\n').constData();
    ASSERT_TRUE(statusBecomes(QStringLiteral("Welcome to Halvane!")));
    EXPECT_TRUE(control<QTimer>(lobby, "Timer1")->isActive());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_connect")->isEnabled());
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_download")->isEnabled());
    EXPECT_TRUE(control<QLabel>(lobby, "image_select")->isVisible());
    EXPECT_EQ(setting("Save"), "true");
    EXPECT_EQ(setting("Password"), LobbySettings::scramblePassword(longPassword));
    EXPECT_EQ(lobby->loginName(), "ann");
}

TEST_F(LobbyTest, StoredValuesLongerThanTheTypingLimitsStayWholeAndTypingIsStillLimited)
{
    writeSetting("Name", "averyveryverylongname"); // 21 characters, limit 15
    writeSetting("Save", "true");
    writeSetting("Password", LobbySettings::scramblePassword("twelvechars!")); // limit 9
    create();
    showWithLogin([](TfrmConnectionInfo *d) {
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("averyveryverylongname"));
        EXPECT_EQ(d->edtPassword->text(), QStringLiteral("twelvechars!"));
        // The stored value may shrink but not grow by typing.
        d->edtUserId->end(false);
        QTest::keyClicks(d->edtUserId, QStringLiteral("x"));
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("averyveryverylongname"));
        QTest::keyClick(d->edtUserId, Qt::Key_Backspace);
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("averyveryverylongnam"));
        // A fresh value is held to the limit.
        d->edtPassword->clear();
        QTest::keyClicks(d->edtPassword, QStringLiteral("abcdefghijkl"));
        EXPECT_EQ(d->edtPassword->text(), QStringLiteral("abcdefghi"));
        cancel(d);
    });
}

TEST_F(LobbyTest, UnsavedPasswordIsWrittenEmptyAndEmptyUserIdIsRefused)
{
    writeSetting("Name", "ann");
    create();
    showWithLogin([](TfrmConnectionInfo *d) {
        d->edtUserId->clear();
        confirm(d);
    });
    EXPECT_TRUE(seam.messages.contains(QStringLiteral("You must enter in a user id.")));
    EXPECT_EQ(setting("Name"), "ann");
    EXPECT_EQ(server.clientCount(), 0);

    onModal<TfrmConnectionInfo>([](TfrmConnectionInfo *d) {
        d->edtPassword->setText(QStringLiteral("pw"));
        d->checkbox_savepass->setChecked(false);
        confirm(d);
    });
    control<TFlatButton>(lobby, "button_connect")->click();
    ASSERT_TRUE(waitModal());
    EXPECT_GE(server.waitForLine("LOGIN|ann|0121|pw"), 0);
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(), QStringLiteral("Connecting..."));
    EXPECT_EQ(setting("Save"), "false");
    EXPECT_EQ(setting("Password"), "");
}

TEST_F(LobbyTest, NameAndPasswordRefuseWhatWouldShiftTheLoginFields)
{
    writeSetting("Name", "ann|x");
    create();
    showWithLogin([](TfrmConnectionInfo *d) {
        // A stored name from an older version may hold them; typing cannot add them.
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("ann|x"));
        d->edtPassword->clear();
        QTest::keyClicks(d->edtPassword, QStringLiteral("p|w^1"));
        EXPECT_EQ(d->edtPassword->text(), QStringLiteral("pw1"));
        d->edtPassword->setText(QStringLiteral("p\tw"));
        confirm(d);
    });
    EXPECT_EQ(seam.messages,
              QStringList{QStringLiteral("Special Characters are not allowed in User Names.")});
    EXPECT_EQ(server.clientCount(), 0);
    EXPECT_EQ(setting("Name"), "ann|x");

    onModal<TfrmConnectionInfo>([](TfrmConnectionInfo *d) {
        d->edtUserId->setText(QStringLiteral("ann"));
        d->edtPassword->setText(QStringLiteral("p^w"));
        confirm(d);
    });
    control<TFlatButton>(lobby, "button_connect")->click();
    ASSERT_TRUE(waitModal());
    EXPECT_EQ(seam.messages.last(),
              QStringLiteral("Special Characters are not allowed in Passwords."));
    EXPECT_EQ(server.clientCount(), 0);
}

TEST_F(LobbyTest, ASettingsFileThatCannotBeReadIsReportedAndKept)
{
    writeSetting("Name", "ann");
    create();
    QFile::setPermissions(iniPath, {});
    // The superuser reads anything: act as an ordinary user, as a user's lobby does.
    for (const QString &folder : {dataDir.path(), dataDir.path() + "/Ostrel"})
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    showWithLogin([](TfrmConnectionInfo *d) {
        EXPECT_TRUE(d->edtUserId->text().isEmpty());
        d->edtUserId->setText(QStringLiteral("bob"));
        cancel(d);
    });
    windows.reset();
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    ASSERT_EQ(seam.errors.size(), 1);
    EXPECT_TRUE(seam.errors[0].contains(QStringLiteral("cannot be read")))
        << seam.errors[0].toStdString();
    QFile::setPermissions(iniPath, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(setting("Name"), "ann");
}

TEST_F(LobbyTest, ServerNamesResolveInTheBackgroundAndTheLocalAddressIsTheConnections)
{
    windows = std::make_unique<LobbyWindows>(QStringLiteral("localhost:%1").arg(server.port()),
                                             programDir.path());
    lobby = windows->lobby();
    loginAs("ann");
    EXPECT_EQ(lobby->connection()->Host(), QStringLiteral("127.0.0.1"));
    // Other players reach us where the server does, not at what the host name gives.
    EXPECT_EQ(lobby->localAddress(), QByteArray("127.0.0.1"));
    control<TFlatButton>(lobby, "button_disconnect")->click();
    const QByteArray offline = lobby->getipnumber();
    EXPECT_FALSE(offline.isEmpty());
    EXPECT_TRUE(offline == "127.0.0.1" || !QHostAddress(QString::fromLatin1(offline)).isLoopback())
        << offline.constData();
}

TEST_F(LobbyTest, RefusedLoginShowsReasonAndTheDialogAgain)
{
    writeSetting("Name", "ann");
    server.onLine = [this](const QByteArray &line) {
        if (line.startsWith("LOGIN|"))
            server.send("LOGIN|FAILED|Wrong password");
    };
    create();
    showWithLogin([](TfrmConnectionInfo *d) {
        // The name is remembered: the password is what is left to type.
        EXPECT_EQ(d->focusWidget(), d->edtPassword);
        d->edtPassword->setText(QStringLiteral("wrong"));
        confirm(d);
    });
    bool dialogAgain = false;
    onModal<TfrmConnectionInfo>([&](TfrmConnectionInfo *d) {
        dialogAgain = true;
        cancel(d);
    });
    ASSERT_TRUE(waitModal());
    EXPECT_TRUE(dialogAgain);
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(), QStringLiteral("Log in Failed"));
    EXPECT_TRUE(seam.messages.contains(QStringLiteral("Wrong password")));
    EXPECT_FALSE(lobby->connection()->Active());
    EXPECT_FALSE(control<QTimer>(lobby, "Timer1")->isActive());
    // Not connected: the buttons and menu items say so, and Connect starts over.
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_connect")->isEnabled());
    EXPECT_TRUE(control<QAction>(lobby, "Connect1")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    EXPECT_FALSE(control<QAction>(lobby, "Disconnect1")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_download")->isEnabled());
}

TEST_F(LobbyTest, DisconnectionResetsTheWindow)
{
    create();
    loginAs("ann");
    control<TPlayerList>(lobby, "lbnames")->addItem({"bob", "1", "Lobby Chat", {}, false});
    control<TPlayerList>(lobby, "listbox_gameroom")->addItem({"bob", "1", "Plumbrix", {}, true});
    control<TRoomsTree>(lobby, "lbsubjects")->rooms()->addCategory(QStringLiteral("Word Games"));
    TGamesTreeModel *games = control<TGamesTree>(lobby, "TreeView_gamelist")->games();
    games->addPlayer(games->addGame(QStringLiteral("bob - Plumbrix")), QStringLiteral("bob"));
    control<TChatPane>(lobby, "mainchat_gameroom")->addline(QStringLiteral("bob: hi"), Qt::black);
    control<TChatPane>(lobby, "tourneychat")->addline(QStringLiteral("cup"), Qt::black);
    control<QLabel>(lobby, "label_ingame")->setText(QStringLiteral("You are in a Plumbrix Game"));
    control<TFlatPanel>(lobby, "panel_gameroom")->show();
    control<TFlatPanel>(lobby, "panel_news")->show();
    control<QLineEdit>(lobby, "mychat_gameroom")->setText(QStringLiteral("typing"));
    serverSends({"JOINSUBJECT|Plumbrix|"});
    ASSERT_EQ(lobby->currentRoom(), "Plumbrix");
    control<QListWidget>(lobby, "listbox_friends")->addItem(QStringLiteral("0bob"));
    // The window stays in this state only when no try to reconnect follows.
    windows->options()->image_reconnect->click();

    server.closeClient();
    ASSERT_TRUE(statusBecomes(QStringLiteral("You are Disconnected.")));
    EXPECT_EQ(control<TPlayerList>(lobby, "lbnames")->count(), 0);
    EXPECT_EQ(control<TPlayerList>(lobby, "listbox_gameroom")->count(), 0);
    EXPECT_EQ(control<TRoomsTree>(lobby, "lbsubjects")->rooms()->rowCount(), 0);
    EXPECT_EQ(games->rowCount(), 0);
    EXPECT_FALSE(games->player(QStringLiteral("bob")).isValid());
    EXPECT_TRUE(control<TChatPane>(lobby, "mainchat_gameroom")->toPlainText().isEmpty());
    EXPECT_TRUE(control<TChatPane>(lobby, "tourneychat")->toPlainText().isEmpty());
    EXPECT_TRUE(control<QLabel>(lobby, "label_ingame")->text().isEmpty());
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_gameroom")->isVisible());
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_news")->isVisible());
    EXPECT_TRUE(control<QLineEdit>(lobby, "mychat_gameroom")->text().isEmpty());
    EXPECT_TRUE(lobby->currentRoom().isEmpty());
    EXPECT_EQ(control<QListWidget>(lobby, "listbox_friends")->count(), 1);
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_connect")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
}

TEST_F(LobbyTest, OptionsOpenOnlyWhenConnectedAndDoneWritesTheKeys)
{
    create();
    showWithLogin(cancel);
    control<QAction>(lobby, "OtherOptions1")->trigger();
    EXPECT_TRUE(seam.messages.contains(
        QStringLiteral("In order to use this feature you must be connected to Halvane.")));
    TOptions *o = windows->options();
    EXPECT_FALSE(o->isVisible());

    loginAs("ann");
    control<QAction>(lobby, "OtherOptions1")->trigger();
    ASSERT_TRUE(o->isVisible());
    o->radiogroup_show->setItemIndex(1);
    o->image_pmlog->click();
    o->image_tourneyalert1->click();
    o->image_updates->click();
    o->image_updates->click(); // twice: as it was
    o->textcolor->setColor(TColor(TColor::clNavy));
    o->actioncolor->setColor(TColor(0x123456));
    o->boxtextsize->setCurrentText(QStringLiteral("14"));
    EXPECT_EQ(control<QListWidget>(lobby, "listbox_friends")->font().pointSize(),
              14); // at once, before "Done"
    EXPECT_EQ(control<TGamesTree>(lobby, "TreeView_gamelist")->font().pointSize(), 14);
    o->textsize->setCurrentText(QStringLiteral("huge")); // not a number: nothing changes
    EXPECT_EQ(control<TChatPane>(lobby, "mainchat_gameroom")->font().pointSize(), 8);
    o->button_done->click();
    EXPECT_FALSE(o->isVisible());

    const std::pair<const char *, QByteArray> expected[] = {
        {"Show", "1"},
        {"Flashfriends1", "true"},
        {"Pmalert1", "true"},
        {"Pmsound1", "true"},
        {"Sentwithenter1", "false"},
        {"Acceptinvites1", "true"},
        {"Tourneyalert1", "true"},
        {"Lobbychat1", "true"},
        {"Updates", "true"},
        {"Pmlog", "false"},
        {"Reconnect", "true"},
        {"Textsize", "huge"},
        {"Boxtextsize", "14"},
        {"Textcolor", "clNavy"},
        {"Actioncolor", "$00123456"},
    };
    for (const auto &[key, value] : expected)
        EXPECT_EQ(setting(key), value) << key;

    o->button_restore->click();
    o->button_done->click();
    EXPECT_EQ(setting("Show"), "0");
    EXPECT_EQ(setting("Textsize"), "8");
    EXPECT_EQ(setting("Textfont"), "MS Sans Serif");
    EXPECT_EQ(setting("Textcolor"), "clBlack");
    EXPECT_EQ(setting("Tourneyalert1"), "false");
    EXPECT_EQ(setting("Pmlog"), "false"); // the log keeps its state

    lobby->setMessageFromPlace({1, 1});
    o->button_resetpm->click();
    EXPECT_EQ(setting("Pmfromleft"), "165");
    EXPECT_EQ(setting("Pmtotop"), "239");
    EXPECT_EQ(lobby->messageFromPlace().x(), 165);
}

TEST_F(LobbyTest, EditProfileSendsUserUpdateWithTheEditedRecord)
{
    create();
    loginAs("ann");
    server.onLine = [this](const QByteArray &line) {
        if (line == "USERINFO|ann|")
            server.send("USERINFO|" + record("ann") + "|");
    };
    onModal<QDialog>([](QDialog *profile) {
        auto *city = profile->findChild<QLineEdit *>(QStringLiteral("edtCity"));
        ASSERT_NE(city, nullptr);
        EXPECT_FALSE(city->isReadOnly());
        city->setText(QStringLiteral("Paris"));
        profile->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
    });
    windows->options()->button_edit->click();
    ASSERT_TRUE(waitModal());
    const int at =
        server.waitForLine([](const QByteArray &l) { return l.startsWith("USERUPDATE|ann|"); });
    ASSERT_GE(at, 0);
    ostrel::TOrvexUser sent;
    sent.LoadFromString(server.lines()[at].split('|').value(2).toStdString());
    EXPECT_EQ(sent.City, "Paris");
    EXPECT_EQ(sent.Password, "pw");
    EXPECT_FALSE(lobby->profileRequested());

    // A reply nobody asked for opens nothing.
    server.clearLines();
    server.send("USERINFO|" + record("bob") + "|");
    QTest::qWait(100);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(LobbyTest, NewAccountFromTheLoginDialogSendsLoginNew)
{
    create();
    server.onLine = [this](const QByteArray &line) {
        if (line.startsWith("LOGINNEW|")) {
            server.send("NEWSUCCESS|");
            server.send("LOGIN|SUCCESS|" + record("newbie", "s3cret"));
        }
    };
    showWithLogin([this](TfrmConnectionInfo *d) {
        onModal<QDialog>([](QDialog *profile) {
            profile->findChild<QLineEdit *>(QStringLiteral("edtUserId"))
                ->setText(QStringLiteral("newbie"));
            profile->findChild<QLineEdit *>(QStringLiteral("edtPassword1"))
                ->setText(QStringLiteral("s3cret"));
            profile->findChild<QLineEdit *>(QStringLiteral("edtPassword2"))
                ->setText(QStringLiteral("s3cret"));
            profile->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        });
        d->button_createaccount->click();
        EXPECT_TRUE(d->isNewAccount());
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("newbie"));
        EXPECT_EQ(d->edtPassword->text(), QStringLiteral("s3cret"));
        confirm(d);
    });
    const int at = server.waitForLine(
        [](const QByteArray &l) { return l.startsWith("LOGINNEW|newbie|0121|"); });
    ASSERT_GE(at, 0) << server.lines().join('\n').constData();
    ostrel::TOrvexUser sent;
    sent.LoadFromString(
        server.lines()[at].mid(QByteArray("LOGINNEW|newbie|0121|").size()).toStdString());
    EXPECT_EQ(sent.UserName, "newbie");
    EXPECT_EQ(sent.Password, "s3cret");
    EXPECT_TRUE(statusBecomes(QStringLiteral("Welcome to Halvane!")));

    // The next dialog starts without the new-account flag: a plain LOGIN follows.
    control<TFlatButton>(lobby, "button_disconnect")->click();
    server.clearLines();
    server.onLine = nullptr;
    onModal<TfrmConnectionInfo>([](TfrmConnectionInfo *d) {
        EXPECT_FALSE(d->isNewAccount());
        d->edtPassword->setText(QStringLiteral("s3cret"));
        d->BitBtn2->click();
    });
    control<TFlatButton>(lobby, "button_connect")->click();
    ASSERT_TRUE(waitModal());
    EXPECT_GE(server.waitForLine("LOGIN|newbie|0121|s3cret"), 0);
}

TEST_F(LobbyTest, MovingBackFromAnotherWindowOfOursBringsTheDialogBack)
{
    writeSetting("Name", "ann");
    create();
    showWithLogin(cancel);
    QWidget *help = windows->help();
    help->show();
    help->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([help] { return QApplication::activeWindow() == help; }, 2000));

    bool shown = false;
    onModal<TfrmConnectionInfo>([&](TfrmConnectionInfo *d) {
        shown = true;
        cancel(d);
    });
    lobby->activateWindow();
    ASSERT_TRUE(waitModal());
    EXPECT_TRUE(shown);
}

TEST_F(LobbyTest, TimerBlinksTheTrayWhilePrivateMessagesWaitAndDecaysTheFloodCount)
{
    create();
    loginAs("ann");
    // The ticks are driven one by one below, from the start of a flood period; 25 lines
    // typed into the lobby chat make the flood count.
    control<QTimer>(lobby, "Timer1")->stop();
    for (int tick = 0; tick <= 20 && lobby->floodTick() != 0; ++tick)
        lobby->Timer1Timer();
    for (int i = 0; i < 25; ++i)
        typeLine(control<QLineEdit>(lobby, "mychat"), QStringLiteral("line %1").arg(i));
    ASSERT_EQ(lobby->floodCount(), 25);
    serverSends({"JOINSUBJECT|Plumbrix|"}); // a room's entries arrive quietly until the tick
    ASSERT_TRUE(lobby->quietJoin());
    serverSends({"SEND|bob|PMES|1:00:00 PM+hi"});
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 1);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              QStringLiteral("bob\n1 private message waiting"));
    EXPECT_FALSE(control<TAnimatedButton>(lobby, "button_mail")->isHidden());
    EXPECT_FALSE(lobby->quietJoin());
    // The picture changes at a calmer pace than the timer ticks.
    lobby->Timer1Timer();
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 1);
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 2);

    control<TAnimatedButton>(lobby, "button_mail")->click(); // opens the waiting message
    ASSERT_TRUE(lobby->pendingMessages().isEmpty());
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->trayblink(), 0);
    EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              QStringLiteral("Ostrel Lobby"));
    EXPECT_TRUE(control<TAnimatedButton>(lobby, "button_mail")->isHidden());

    // 21 ticks take 10 off the flood count, never below 0.
    for (int i = 0; i < 16; ++i)
        lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 15);
    for (int i = 0; i < 42; ++i)
        lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 0);
}

TEST_F(LobbyTest, CancelledAccountCreationKeepsTheDialogAndSendsLogin)
{
    writeSetting("Name", "ann");
    create();
    showWithLogin([this](TfrmConnectionInfo *d) {
        d->edtPassword->setText(QStringLiteral("pw"));
        onModal<QDialog>([](QDialog *profile) { profile->reject(); });
        d->button_createaccount->click();
        EXPECT_FALSE(d->isNewAccount());
        EXPECT_EQ(d->edtUserId->text(), QStringLiteral("ann"));
        EXPECT_EQ(d->edtPassword->text(), QStringLiteral("pw"));
        confirm(d);
    });
    EXPECT_GE(server.waitForLine("LOGIN|ann|0121|pw"), 0);
}

} // namespace
