#include "ttestgame.h"
#include "ttestgamewindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

const char *kHelp =
    "usage: ostrel-testgame NAME ADDRESS true|false MODE\n"
    "\n"
    "A stand-in for an Ostrel game program, started by the lobby when a player hosts or\n"
    "joins a game.\n"
    "\n"
    "  NAME     the player's user name\n"
    "  ADDRESS  dotted IPv4 address: the host's own (host) or the host's (joiner)\n"
    "  true     host the game: listen on port 7772 for the joiner's game\n"
    "  false    join the game: connect to ADDRESS on port 7772\n"
    "  MODE     one letter: e ordinary, a adult room, t ladder game, s slow game\n"
    "\n"
    "While it runs it holds the game lock in the runtime folder (XDG_RUNTIME_DIR) that\n"
    "the lobby's probe tests, and stays connected to the lobby on 127.0.0.1:9001. Host and\n"
    "joiner exchange three lines (HELLO, WELCOME, GOODBYE), the first two each followed by\n"
    "a block of every byte value; then the game ends. It also ends on SIGTERM.\n"
    "\n"
    "Environment:\n"
    "  OSTREL_TESTGAME_RECORD  file to which the exchange is appended, one line each\n"
    "  OSTREL_TESTGAME_WINDOW  1: show the exchange in a window and end when it is closed\n"
    "  OSTREL_GAME_PORT        the lobby's presence port, when a lobby moved it from 9001\n"
    "\n"
    "Exit status: 0 after a complete exchange or SIGTERM, 1 on a failure, 2 on bad usage.\n";

QString lockPath()
{
    // The same file the lobby's probe tests.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/ostrel-game.lock");
}

bool isDottedIPv4(const QString &text)
{
    in_addr parsed{};
    return ::inet_pton(AF_INET, text.toLatin1().constData(), &parsed) == 1;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    const bool windowed = qgetenv("OSTREL_TESTGAME_WINDOW") == "1";
    std::unique_ptr<QCoreApplication> app;
    if (windowed)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    const QStringList args = QCoreApplication::arguments().mid(1);
    QString problem;
    if (args.size() != 4)
        problem = QStringLiteral("expected 4 arguments, got %1").arg(args.size());
    else if (!isDottedIPv4(args[1]))
        problem = QStringLiteral("\"%1\" is not a dotted IPv4 address").arg(args[1]);
    else if (args[2] != QLatin1String("true") && args[2] != QLatin1String("false"))
        problem =
            QStringLiteral("the third argument must be true or false, not \"%1\"").arg(args[2]);
    else if (args[3].size() != 1)
        problem = QStringLiteral("the mode must be one letter, not \"%1\"").arg(args[3]);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "ostrel-testgame: %s\n\n%s", qPrintable(problem), kHelp);
        return 2;
    }

    TTestGame::Options options;
    options.name = args[0];
    options.address = QHostAddress(args[1]);
    options.host = args[2] == QLatin1String("true");
    options.mode = args[3];
    bool ok = false;
    const int port = qEnvironmentVariable("OSTREL_GAME_PORT").toInt(&ok);
    if (ok && port > 0 && port < 65536)
        options.presencePort = static_cast<quint16>(port);
    options.recordPath = qEnvironmentVariable("OSTREL_TESTGAME_RECORD");
    options.lockPath = lockPath();

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return 1;
    struct sigaction action
    {
    };
    action.sa_handler = onTerminate;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    QSocketNotifier terminate(g_signalPipe[0], QSocketNotifier::Read);

    TTestGame game(options);
    std::unique_ptr<TTestGameWindow> window;
    int exitCode = 0;
    QObject::connect(&terminate, &QSocketNotifier::activated, &game, [&] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::exit(exitCode);
    });
    if (windowed) {
        window = std::make_unique<TTestGameWindow>(
            QStringLiteral("Test game - %1 (%2)")
                .arg(options.name,
                     options.host ? QStringLiteral("host") : QStringLiteral("joiner")));
        game.onRecord = [&window](const QString &line) { window->addLine(line); };
        QObject::connect(window.get(), &TTestGameWindow::closed, &game,
                         [&] { QCoreApplication::exit(exitCode); });
        window->show();
    }
    QObject::connect(&game, &TTestGame::finished, &game, [&](int code) {
        exitCode = code;
        // With a window the game lasts until its player closes it.
        if (window)
            window->showFinished(code);
        else
            QCoreApplication::exit(code);
    });
    if (!game.start())
        return 1;
    return QCoreApplication::exec();
}
