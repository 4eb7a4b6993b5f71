#include "assets.h"
#include "desktopplatform.h"
#include "lobby.h"
#include "lobbystyle.h"
#include "lobbywindows.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Ostrel Software Lobby"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Halvane, the game lobby client"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption server(
        QStringLiteral("server"),
        QStringLiteral("Lobby server to log in to, replacing the built-in default; "
                       "tls://HOST[:PORT] connects with TLS."),
        QStringLiteral("[tls://]HOST[:PORT]"));
    parser.addOption(server);
    const QCommandLineOption site(
        QStringLiteral("site"),
        QStringLiteral("Web site that game downloads and help pages come from, replacing the "
                       "built-in one (an http or https address, e.g. http://127.0.0.1:8470/)."),
        QStringLiteral("URL"));
    parser.addOption(site);

    // --help and --version answer on a plain terminal: a QApplication would need a display
    // before it could even read them. A core application reads and answers them (and ends
    // the program); Qt's own options such as -platform are unknown here and left for later.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        QCoreApplication core(argc, argv);
        parser.process(core);
        return 0;
    }

    QApplication app(argc, argv);
    InitAssets();
    // Desktops match the windows to the installed halvane.desktop (its name and icon) by this.
    QApplication::setDesktopFileName(QStringLiteral("halvane"));
    QApplication::setWindowIcon(assets::appIcon());
    LobbyStyle::apply(app);
    parser.process(app);
    const QString siteRoot = parser.value(site);
    if (!siteRoot.isEmpty()) {
        const QUrl url(siteRoot, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            std::fprintf(stderr, "ostrel-lobby: --site needs an http or https address, not %s\n",
                         qPrintable(siteRoot));
            return 2;
        }
    }

    platform::DesktopPlatform desktop;
    platform::Platform::install(&desktop);

    LobbyWindows windows(parser.value(server), QApplication::applicationDirPath(), siteRoot);
    desktop.setMainWindow(windows.lobby());
    desktop.setTrayIcon(windows.lobby()->trayIcon());
    windows.lobby()->setProgram(QApplication::applicationFilePath(),
                                QApplication::arguments().mid(1));
    QObject::connect(windows.lobby(), &Tlobby::formClosed, &app, &QApplication::quit);
    // Secondary windows and the tray icon must not keep the program alive, nor end it.
    app.setQuitOnLastWindowClosed(false);
    windows.lobby()->show();
    const int result = app.exec();
    platform::Platform::install(nullptr);
    return result;
}
