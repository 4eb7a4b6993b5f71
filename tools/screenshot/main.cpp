// Renders the program's windows offscreen, each to one PNG file, so that their look can
// be reviewed without a display. The windows are the real ones, filled with sample
// content where an empty window would show little.

#include "assets.h"
#include "lobby.h"
#include "lobbystyle.h"
#include "lobbywindows.h"
#include "platform.h"
#include "tabout.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tfrmuserinfo.h"
#include "thelp.h"
#include "tinvited.h"
#include "toptions.h"
#include "torvexuser.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

QString g_outDir;

void save(QWidget *window, const QString &name)
{
    window->show();
    QTest::qWait(150);
    const QString path = QDir(g_outDir).filePath(name + QStringLiteral(".png"));
    if (!window->grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// What a logged-in lobby shows: a few rooms, players, chat and a hosted game.
void fillLobby(Tlobby *lobby)
{
    lobby->label_status->setText(QStringLiteral("Welcome to Halvane!"));
    auto *lobbyChat = new QTreeWidgetItem(lobby->lbsubjects, {QStringLiteral("[Lobby Chat]")});
    lobbyChat->setIcon(0, QIcon(lobby->image_lobby));
    const std::pair<const char *, QStringList> categories[] = {
        {"Card Games", {QStringLiteral("Gin"), QStringLiteral("Hearts"), QStringLiteral("Spades")}},
        {"Dice Games", {QStringLiteral("Plumbrix"), QStringLiteral("Yatzo")}},
        {"Word Games", {QStringLiteral("Wordsmith"), QStringLiteral("Anagrams")}},
    };
    int picture = 5;
    for (const auto &[category, rooms] : categories) {
        auto *root = new QTreeWidgetItem(lobby->lbsubjects, {QString::fromLatin1(category)});
        QFont bold = root->font(0);
        bold.setBold(true);
        root->setFont(0, bold);
        root->setIcon(0, QIcon(lobby->imagelist_icons.value(0)));
        for (const QString &room : rooms) {
            auto *item = new QTreeWidgetItem(root, {room});
            item->setIcon(0, QIcon(lobby->imagelist_icons.value(picture)));
            picture += 3;
        }
        root->setExpanded(true);
    }
    const QStringList players = {QStringLiteral("ann"),   QStringLiteral("bob"),
                                 QStringLiteral("carol"), QStringLiteral("dave"),
                                 QStringLiteral("erin"),  QStringLiteral("frank")};
    int hat = 2;
    for (const QString &name : players) {
        // The lists draw their own icons from the entry "name:hat:room:".
        lobby->lbnames->addItem(QStringLiteral("%1:%2:Plumbrix:").arg(name).arg(hat));
        lobby->listbox_gameroom->addItem(QStringLiteral("%1:%2:Plumbrix:[]").arg(name).arg(hat));
        hat += 7;
    }
    lobby->label_playerslist->setText(QStringLiteral("Players Online(6)"));
    lobby->listbox_friends->addItem(QStringLiteral("1carol"));
    lobby->label_gamename->setText(QStringLiteral("Plumbrix"));
    lobby->image_roomimage->setPixmap(lobby->imagelist_icons.value(5));
    lobby->label_gamelist->setText(QStringLiteral("Players in Lobby(6)"));
    lobby->label_games->setText(QStringLiteral("Plumbrix Games"));
    for (const char *player : {"bob", "carol"})
        lobby->updatethegamestreeview(QString::fromLatin1(player), QStringLiteral("1"),
                                      QStringLiteral("Plumbrix"), QStringLiteral("bob - Plumbrix"));
    lobby->mainchat_gameroom->addline(
        QStringLiteral("You joined the Plumbrix Game Lobby. Enjoy the Game!"), Qt::blue, false);
    lobby->mainchat_gameroom->addline(QStringLiteral("bob: anyone up for a quick game?"),
                                      QColor(0x80, 0, 0));
    lobby->mainchat_gameroom->addline(QStringLiteral("carol: sure, join mine in a minute"),
                                      QColor(0, 0x80, 0));
    lobby->mainchat_gameroom->addline(QStringLiteral("ann: count me in"), Qt::black);
    lobby->mychat_gameroom->clear();
    lobby->mychat_gameroom->setPlaceholderText(QStringLiteral("Say something to the room"));
    lobby->panel_gameroom->show();
    lobby->button_connect->setEnabled(false);
    lobby->button_disconnect->setEnabled(true);
    lobby->button_download->setEnabled(true);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitAssets();
    QApplication::setApplicationName(QStringLiteral("Ostrel Software Lobby"));
    LobbyStyle::apply(app);
    g_outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(g_outDir);

    // Settings and locks go to a throwaway place, never the user's own.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());

    LobbyWindows windows;
    Tlobby *lobby = windows.lobby();
    // The first showing opens the login dialog modally; it is rendered on its own below.
    QTimer closeLogin;
    QObject::connect(&closeLogin, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    closeLogin.start(20);
    lobby->show();
    QTest::qWait(200);
    closeLogin.stop();
    lobby->resize(1100, 720);
    lobby->showWelcome();
    save(lobby, QStringLiteral("lobby-welcome"));
    lobby->panel_beginning->hide();

    fillLobby(lobby);
    lobby->panel_news->show();
    lobby->memo_news->addline(QStringLiteral("Spring tournament starts Saturday at 8 pm."),
                              Qt::black, false);
    lobby->memo_news->addline(QStringLiteral("Two new word games are in the catalogue."), Qt::black,
                              false);
    lobby->panel_news->move(260,
                            lobby->panel_rightside->height() - lobby->panel_news->height() - 70);
    lobby->panel_news->raise();
    save(lobby, QStringLiteral("lobby-room"));

    TfrmConnectionInfo login;
    login.edtUserId->setText(QStringLiteral("ann"));
    login.edtPassword->setText(QStringLiteral("secret"));
    login.checkbox_savepass->setChecked(true);
    save(&login, QStringLiteral("login"));

    save(windows.options(), QStringLiteral("options"));

    windows.invited()->showInvitation("bob", "Plumbrix");
    save(windows.invited(), QStringLiteral("invited"));
    windows.invited()->hide();

    ostrel::TOrvexUser user;
    user.UserName = "ann";
    user.Password = "secret";
    user.FirstName = "Ann";
    user.City = "Lyon";
    user.Country = "France";
    user.Gender = "female";
    user.Comments = "Word/r/games/r/all/r/day";
    user.Hat = "12";
    user.MinutesPlayed = 125;
    user.LoginCount = 42;
    TfrmUserInfo profile;
    profile.LoadUser(&user);
    profile.SetEditable(true);
    profile.setWindowTitle(QStringLiteral("Ostrel Lobby User Info"));
    save(&profile, QStringLiteral("profile"));

    windows.help()->showPage(Thelp::ConductAgreement);
    save(windows.help(), QStringLiteral("help"));
    save(windows.about(), QStringLiteral("about"));
    return 0;
}
