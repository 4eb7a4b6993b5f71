// The room chat of the real main window over an evening: 20,000 received chat lines go
// through the lobby's own handler (ignore list, filter, colour, bold run) into the room
// pane of a shown window, offscreen, with events processed after every line as when
// lines arrive from the network. Compares the cost per line of the first and the last
// thousand: appending must not get slower as the pane grows.
#include "assets.h"
#include "lobby.h"
#include "lobbystyle.h"
#include "lobbywindows.h"
#include "tchatpane.h"
#include "tflatpanel.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings and runtime files of this run stay in a temporary place.
    QTemporaryDir data;
    QTemporaryDir runtime;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    InitAssets();
    LobbyStyle::apply(app);
    const int total = argc > 1 ? std::atoi(argv[1]) : 20000;

    LobbyWindows windows;
    Tlobby &lobby = *windows.lobby();
    // The first showing opens the login dialog; no server is needed for the panes.
    bool loginClosed = false;
    QTimer closeLogin;
    QObject::connect(&closeLogin, &QTimer::timeout, [&loginClosed] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            dialog->reject();
            loginClosed = true;
        }
    });
    closeLogin.start(20);
    lobby.show();
    QElapsedTimer settle;
    settle.start();
    while (!loginClosed && settle.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    closeLogin.stop();
    lobby.resize(1000, 700);
    lobby.findChild<TFlatPanel *>(QStringLiteral("panel_gameroom"))->show();
    for (const char *name : {"carol", "dave", "erin", "frank"})
        lobby.findChild<QListWidget *>(QStringLiteral("listbox_ignored"))
            ->addItem(QString::fromLatin1(name));
    QApplication::processEvents();

    const char *colours[] = {"clBlack", "clNavy", "$00008000", "clMaroon"};
    QElapsedTimer clock;
    qint64 firstNs = 0;
    qint64 lastNs = 0;
    for (int i = 0; i < total; ++i) {
        const QByteArray sender = "player" + QByteArray::number(i % 97);
        QByteArray text = i % 10 == 0 ? "/me waves at table " + QByteArray::number(i)
                                      : "line " + QByteArray::number(i) +
                                            " of a long evening, see http://example.org/" +
                                            QByteArray::number(i) + " for the rules";
        text += '|';
        text += colours[i % 4];
        clock.start();
        lobby.orvexChatReceived(text, sender);
        QApplication::processEvents();
        const qint64 ns = clock.nsecsElapsed();
        if (i < 1000)
            firstNs += ns;
        else if (i >= total - 1000)
            lastNs += ns;
    }
    const int lines =
        lobby.findChild<TChatPane *>(QStringLiteral("mainchat_gameroom"))->document()->blockCount();
    const double first = firstNs / 1000.0 / 1000.0;
    const double last = lastNs / 1000.0 / 1000.0;
    std::printf("room pane lines: %d\nfirst 1000: %.1f us/line\nlast 1000: %.1f us/line\n"
                "ratio last/first: %.2f\n",
                lines, first, last, last / first);
    return last <= 2 * first ? 0 : 1;
}
