#pragma once

#include "gestures.h"
#include "lobby.h"
#include "lobbywindows.h"
#include "recordingplatform.h"
#include "serverprocess.h"
#include "sitewebserver.h"
#include "widgettext.h"

#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What an end-to-end test starts from: the lobby's pictures loaded, the desktop recorded
// instead of shown (boxes, questions, programs), a runtime folder and a folder for the
// server's data of the test's own.
class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override;
    // The server on serverData, with an account for each name (password "pw"); false,
    // with the failure reported, when one could not be made.
    bool startServer(const std::vector<std::string> &accounts,
                     const std::vector<std::string> &arguments = {});

    RecordingPlatform seam;
    QTemporaryDir serverData;
    QTemporaryDir runtime;
    std::unique_ptr<ServerProcess> server;
};

// Creates an account the way a new player's first login does, over a bare connection.
bool createAccount(int port, const std::string &name,
                   const QString &host = QStringLiteral("127.0.0.1"));
// The same on the server's plain port, which exists whatever the run.
bool createAccount(const ServerProcess &server, const std::string &name);

// Enters a room as the user does: a double click on it in the rooms tree, once the
// catalogue lists it; true when the lobby shows the room.
bool enterRoom(Tlobby *lobby, const QString &room);

// The visible top-level window of type T whose object name begins with prefix, if any.
template <typename T> QPointer<T> openWindow(const QString &prefix)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName().startsWith(prefix) && w->isVisible())
            if (auto *t = qobject_cast<T *>(w))
                return t;
    return nullptr;
}

// One player's lobby with its own settings folder, logged in through the real login
// dialog. `prepare` runs on the lobby before it is shown, e.g. to listen in on events.
struct E2EPlayer
{
    QTemporaryDir data;
    std::unique_ptr<LobbyWindows> windows;
    Tlobby *lobby = nullptr;
    QString serverHost = QStringLiteral("127.0.0.1");
    // Log in with "tls://" to the port given, trusting nothing beforehand.
    bool tls = false;

    bool login(int port, const QString &name, const std::function<void(Tlobby *)> &prepare = {});
    // Logs in to the server's plain port; when the tests run over TLS (OSTREL_TEST_TLS=1)
    // to its TLS listener instead, its certificate trusted beforehand as by a player who
    // said yes to it once.
    bool login(const ServerProcess &server, const QString &name,
               const std::function<void(Tlobby *)> &prepare = {});
};
