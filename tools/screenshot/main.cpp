// Renders the program's windows offscreen, each to one PNG file, so that their look can
// be reviewed without a display. The windows are the real ones, filled with sample
// content where an empty window would show little.

#include "assets.h"
#include "desktopplatform.h"
#include "lobby.h"
#include "lobbystyle.h"
#include "lobbywindows.h"
#include "platform.h"
#include "tabout.h"
#include "tchatlog.h"
#include "tchatpane.h"
#include "tdownload.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tfrmuserinfo.h"
#include "tgamedescription.h"
#include "thelp.h"
#include "thtmllite.h"
#include "tinvited.h"
#include "toptions.h"
#include "torvexuser.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"
#include "troomstree.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <map>

namespace {

QString g_outDir;
int g_failures = 0;

void grabTo(QWidget *window, const QString &name)
{
    const QString path = QDir(g_outDir).filePath(name + QStringLiteral(".png"));
    const QPixmap picture = window->grab();
    if (picture.isNull() || picture.width() < 8 || picture.height() < 8 || !picture.save(path)) {
        std::fprintf(stderr, "could not render %s\n", qPrintable(path));
        ++g_failures;
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

void save(QWidget *window, const QString &name)
{
    window->show();
    QTest::qWait(150);
    grabTo(window, name);
}

platform::Platform &seamOf(platform::DesktopPlatform &desktop)
{
    return desktop;
}

// A box of the platform seam, as the program shows it: rendered once it is up, then
// dismissed.
void saveBox(const QString &name, const std::function<void()> &open)
{
    bool seen = false;
    QTimer::singleShot(200, [&] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            seen = true;
            grabTo(box, name);
            box->close();
        }
    });
    open();
    if (!seen) {
        std::fprintf(stderr, "the box %s did not come up\n", qPrintable(name));
        ++g_failures;
    }
}

// What a logged-in lobby shows: a few rooms, players, chat and a hosted game.
void fillLobby(Tlobby *lobby)
{
    lobby->findChild<QLabel *>(QStringLiteral("label_status"))
        ->setText(QStringLiteral("Welcome to Halvane!"));
    // As the catalogue fills it: categories with their game rooms. The general lobby has no
    // node here; its chat is the Lobby Chat tab.
    const std::pair<const char *, QStringList> categories[] = {
        {"Card Games",
         {QStringLiteral("Gin"), QStringLiteral("Hearts"), QStringLiteral("Plumbrix")}},
        {"Dice Games", {QStringLiteral("Yatzo")}},
        {"Word Games", {QStringLiteral("Wordsmith"), QStringLiteral("Anagrams")}},
    };
    int picture = 5;
    auto *tree = lobby->findChild<TRoomsTree *>(QStringLiteral("lbsubjects"));
    for (const auto &[category, rooms] : categories) {
        const QModelIndex root = tree->rooms()->addCategory(QString::fromLatin1(category));
        for (const QString &room : rooms) {
            tree->rooms()->addRoom(root, room, picture);
            picture += 3;
        }
        tree->setExpanded(root, true);
    }
    const QStringList players = {QStringLiteral("ann"),   QStringLiteral("bob"),
                                 QStringLiteral("carol"), QStringLiteral("dave"),
                                 QStringLiteral("erin"),  QStringLiteral("frank")};
    int hat = 2;
    for (const QString &name : players) {
        // The lists draw their own icons from the player's hat and room.
        const PlayerRow player{name, QString::number(hat), QStringLiteral("Plumbrix"), {}, false};
        lobby->findChild<TPlayerList *>(QStringLiteral("lbnames"))->addItem(player);
        PlayerRow member = player;
        member.showsGame = true;
        lobby->findChild<TPlayerList *>(QStringLiteral("listbox_gameroom"))->addItem(member);
        hat += 7;
    }
    lobby->findChild<QLabel *>(QStringLiteral("label_playerslist"))
        ->setText(QStringLiteral("Players Online(6)"));
    lobby->findChild<QListWidget *>(QStringLiteral("listbox_friends"))
        ->addItem(QStringLiteral("1carol"));
    lobby->findChild<QLabel *>(QStringLiteral("label_gamename"))
        ->setText(QStringLiteral("Plumbrix"));
    lobby->findChild<QLabel *>(QStringLiteral("image_roomimage"))
        ->setPixmap(lobby->roomPictures().value(5));
    lobby->findChild<QLabel *>(QStringLiteral("label_gamelist"))
        ->setText(QStringLiteral("Players in Lobby(6)"));
    lobby->findChild<QLabel *>(QStringLiteral("label_games"))
        ->setText(QStringLiteral("Plumbrix Games"));
    for (const char *player : {"bob", "carol"})
        lobby->updatethegamestreeview(QString::fromLatin1(player), QStringLiteral("1"),
                                      QStringLiteral("Plumbrix"), QStringLiteral("bob - Plumbrix"));
    lobby->findChild<TChatPane *>(QStringLiteral("mainchat_gameroom"))
        ->addline(QStringLiteral("You joined the Plumbrix Game Lobby. Enjoy the Game!"), Qt::blue,
                  false);
    lobby->findChild<TChatPane *>(QStringLiteral("mainchat_gameroom"))
        ->addline(QStringLiteral("bob: anyone up for a quick game?"), QColor(0x80, 0, 0));
    lobby->findChild<TChatPane *>(QStringLiteral("mainchat_gameroom"))
        ->addline(QStringLiteral("carol: sure, join mine in a minute"), QColor(0, 0x80, 0));
    lobby->findChild<TChatPane *>(QStringLiteral("mainchat_gameroom"))
        ->addline(QStringLiteral("ann: count me in"), Qt::black);
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_gameroom"))->show();
    lobby->findChild<TFlatButton *>(QStringLiteral("button_connect"))->setEnabled(false);
    lobby->findChild<TFlatButton *>(QStringLiteral("button_disconnect"))->setEnabled(true);
    lobby->findChild<TFlatButton *>(QStringLiteral("button_download"))->setEnabled(true);
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return out;
}

// A description page as the site has it, with its two pictures drawn here: the window
// shows them without any network.
void fillGameDescription(Tgamedescription *window, std::map<QString, QBuffer> &pictures)
{
    QImage box(240, 160, QImage::Format_RGB32);
    {
        QPainter p(&box);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 240, 160);
        sky.setColorAt(0, QColor(0x1d, 0x3b, 0x73));
        sky.setColorAt(1, QColor(0x3f, 0x7b, 0xe0));
        p.fillRect(box.rect(), sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe8, 0xf0, 0xff, 220));
        p.drawEllipse(QPointF(180, 50), 32, 32);
        p.setBrush(QColor(0xf2, 0xa1, 0x3a, 230));
        p.drawEllipse(QPointF(140, 115), 21, 21);
    }
    QImage board(160, 160, QImage::Format_RGB32);
    {
        QPainter p(&board);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x)
                p.fillRect(x * 20, y * 20, 20, 20,
                           (x + y) % 2 ? QColor(0x3f, 0x7b, 0xe0) : QColor(0xf3, 0xf6, 0xfc));
        }
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x28, 0x28, 0x30), 1.5));
        for (const QPoint &at : {QPoint(1, 2), QPoint(4, 5), QPoint(6, 1), QPoint(3, 3)}) {
            p.setBrush(at.x() % 2 ? QColor(0xf2, 0xa1, 0x3a) : Qt::white);
            p.drawEllipse(QPointF(at.x() * 20 + 10, at.y() * 20 + 10), 7, 7);
        }
    }
    pictures[QStringLiteral("images/box.jpg")].setData(encoded(box, "JPEG"));
    pictures[QStringLiteral("/images/board.png")].setData(encoded(board, "PNG"));
    window->displayhtml->OnImageRequest = [&pictures](QObject *, const QString &src,
                                                      QIODevice *&stream) {
        auto it = pictures.find(src);
        if (it == pictures.end())
            return;
        it->second.open(QIODevice::ReadOnly);
        stream = &it->second;
    };
    window->label_gamename->setText(QStringLiteral("Plumbrix"));
    window->displayhtml->LoadFromBytes(
        "<h1>Plumbrix</h1><p><img src=\"images/box.jpg\" width=\"240\" height=\"160\"></p>"
        "<p>Plumbrix is one of the card games of the Ostrel lobby. Pick its room in the lobby, "
        "meet the players who are there, and host a game or join one that is waiting for "
        "players.</p><h2>The board</h2>"
        "<p><img src=\"/images/board.png\" width=\"160\" height=\"160\"></p>"
        "<p>Get the game with the lobby's download menu, or fetch the "
        "<a href=\"../games/plumbrix/setup.exe\">Plumbrix installer</a> yourself.</p>");
}

} // namespace

int main(int argc, char **argv)
{
    // A virtual screen the size of a large monitor: windows are kept within the screen, and
    // the offscreen platform's small default one would squeeze them at scale factor 2.
    QTemporaryDir screenConfig;
    const QString configPath = screenConfig.filePath(QStringLiteral("screen.json"));
    {
        QFile config(configPath);
        if (config.open(QIODevice::WriteOnly))
            config.write(R"({"screens": [{"name": "review", "x": 0, "y": 0,)"
                         R"( "width": 3840, "height": 2400, "logicalDpi": 96}]})");
    }
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(configPath));
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
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_beginning"))->hide();

    // The first login: the general lobby, its chat open on the left, the welcome card over
    // the right side.
    fillLobby(lobby);
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_gameroom"))->hide();
    lobby->showTopPanel(lobby->findChild<TFlatPanel *>(QStringLiteral("panel_alerts")));
    lobby->findChild<TChatPane *>(QStringLiteral("listbox_alerts"))
        ->addline(QStringLiteral("bob: hello everyone!"), QColor(0x80, 0, 0));
    lobby->findChild<TChatPane *>(QStringLiteral("listbox_alerts"))
        ->addline(QStringLiteral("carol: welcome, ann! Plumbrix, anyone?"), QColor(0, 0x80, 0));
    lobby->showWelcome();
    save(lobby, QStringLiteral("lobby-first-login"));
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_beginning"))->hide();
    lobby->findChild<TChatPane *>(QStringLiteral("listbox_alerts"))->clear();
    lobby->showTopPanel(lobby->findChild<TFlatPanel *>(QStringLiteral("panel_gameslist")));
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_gameroom"))->show();

    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_news"))->show();
    lobby->findChild<TChatPane *>(QStringLiteral("memo_news"))
        ->addline(QStringLiteral("Spring tournament starts Saturday at 8 pm."), Qt::black, false);
    lobby->findChild<TChatPane *>(QStringLiteral("memo_news"))
        ->addline(QStringLiteral("Two new word games are in the catalogue."), Qt::black, false);
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_news"))
        ->move(40, lobby->findChild<TFlatPanel *>(QStringLiteral("panel_rightside"))->height() -
                       lobby->findChild<TFlatPanel *>(QStringLiteral("panel_news"))->height() - 70);
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_news"))->raise();
    save(lobby, QStringLiteral("lobby-room"));

    // The panel that says a newer lobby is out, as the catalogue's version check shows it.
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_news"))->hide();
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))
        ->move(
            qMax(0,
                 (lobby->findChild<TFlatPanel *>(QStringLiteral("panel_rightside"))->width() -
                  lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))->width()) /
                     2),
            qMax(8,
                 (lobby->findChild<TFlatPanel *>(QStringLiteral("panel_rightside"))->height() -
                  lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))->height()) /
                     3));
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))->show();
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))->raise();
    save(lobby, QStringLiteral("lobby-update"));
    lobby->findChild<TFlatPanel *>(QStringLiteral("panel_downloadlobby"))->hide();

    TfrmConnectionInfo login;
    login.edtUserId->setText(QStringLiteral("ann"));
    login.edtPassword->setText(QStringLiteral("secret"));
    login.checkbox_savepass->setChecked(true);
    save(&login, QStringLiteral("login"));
    // A tenth password character, refused: the hint beside the field speaks up.
    login.edtPassword->clear();
    QTest::keyClicks(login.edtPassword, QStringLiteral("abcdefghij"));
    save(&login, QStringLiteral("login-password-limit"));

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

    Tprivatemessageto to("bob", true);
    to.findChild<QPlainTextEdit *>(QStringLiteral("memo_message"))
        ->setPlainText(QStringLiteral("Good game! Rematch at nine?"));
    save(&to, QStringLiteral("pm-to"));
    to.hide();
    Tprivatemessagefrom from;
    from.OnLog = [](const QString &, const QColor &) {};
    from.loadmessage("bob", "9:41 PM+Sure, I will host it./r/Bring carol too.");
    save(&from, QStringLiteral("pm-from"));
    from.hide();
    Tchatlog log;
    log.addlinetolog(QStringLiteral("To bob: Good game! Rematch at nine?"), Qt::blue);
    log.addlinetolog(QStringLiteral("At 9:41 PM bob wrote: Sure, I will host it."),
                     QColor(0x80, 0, 0));
    save(&log, QStringLiteral("pm-log"));
    log.hide();
    save(windows.about(), QStringLiteral("about"));

    std::map<QString, QBuffer> pictures;
    fillGameDescription(windows.gamedescription(), pictures);
    save(windows.gamedescription(), QStringLiteral("gamedescription"));
    windows.gamedescription()->hide();

    Tdownload *download = windows.download();
    download->label_gamename->setText(QStringLiteral("Plumbrix"));
    download->label_gamename2->setText(QStringLiteral("Plumbrix"));
    download->infolabel3->setText(QStringLiteral("Downloading: setup.exe"));
    download->infolabel->setText(QStringLiteral("26000 bytes"));
    // Halfway through a transfer whose length the server announced.
    download->progressbar->setRange(0, 1000);
    download->progressbar->setValue(500);
    download->progressbar->show();
    save(download, QStringLiteral("download"));
    download->hide();

    platform::DesktopPlatform desktop;
    platform::Platform::install(&desktop);
    desktop.setMainWindow(lobby);
    saveBox(QStringLiteral("box-message"), [&] {
        seamOf(desktop).messageBox(QStringLiteral("Stay Tuned, this Game is coming soon!"));
    });
    saveBox(QStringLiteral("box-question"), [&] {
        seamOf(desktop).confirm(
            QStringLiteral("You have choosen to download Halvane. Halvane will close "
                           "and download will begin. Would you like to proceed?"));
    });
    saveBox(QStringLiteral("box-error"), [&] {
        seamOf(desktop).showError(
            QStringLiteral("Cannot create the folder /home/ann/.local/share/Ostrel."));
    });
    platform::Platform::install(nullptr);
    return g_failures == 0 ? 0 : 1;
}
