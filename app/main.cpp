#include "assets.h"
#include "desktopplatform.h"
#include "lobby.h"
#include "lobbystyle.h"
#include "lobbywindows.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InitAssets();
    QApplication::setApplicationName(QStringLiteral("Ostrel Software Lobby"));
    QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    QApplication::setWindowIcon(assets::appIcon());
    LobbyStyle::apply(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Halvane, the game lobby client"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption server(
        QStringLiteral("server"),
        QStringLiteral("Lobby server to log in to, replacing the built-in default."),
        QStringLiteral("HOST[:PORT]"));
    parser.addOption(server);
    parser.process(app);

    platform::DesktopPlatform desktop;
    platform::Platform::install(&desktop);

    LobbyWindows windows(parser.value(server), QApplication::applicationDirPath());
    desktop.setMainWindow(windows.lobby());
    QObject::connect(windows.lobby(), &Tlobby::formClosed, &app, &QApplication::quit);
    // Secondary windows and the tray icon must not keep the program alive, nor end it.
    app.setQuitOnLastWindowClosed(false);
    windows.lobby()->show();
    const int result = app.exec();
    platform::Platform::install(nullptr);
    return result;
}
