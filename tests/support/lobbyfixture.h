#pragma once

#include "fakelobbyserver.h"
#include "lobby.h"
#include "lobbywindows.h"
#include "recordingplatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

class TfrmConnectionInfo;

// The lobby with all its windows against the scripted fake server, with the per-user
// data and runtime folders in temporary places. loginAs() brings it to the state after
// a successful login, so topic tests start from there.
class LobbyFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the windows (the lobby is not shown yet).
    void create();
    // Shows the lobby and runs `action` on the login dialog that comes up.
    void showWithLogin(std::function<void(TfrmConnectionInfo *)> action);
    // Logs in as `name` against a server that accepts anyone, and waits for the welcome.
    // `record` gives the account record the server answers with (class, hat, ...).
    void loginAs(const QByteArray &name,
                 const std::function<void(ostrel::TOrvexUser &)> &record = {});
    // The server's own record text for a user.
    static QByteArray recordOf(const std::string &name,
                               const std::function<void(ostrel::TOrvexUser &)> &edit = {});

    void writeSetting(const char *key, const QByteArray &value);
    QByteArray setting(const char *key) const;

    // Sends lines from the server and lets the lobby handle them: waits until the
    // connection has dispatched every one of them.
    void serverSends(const QList<QByteArray> &lines);
    // The lines the lobby sent that begin with `prefix`, once everything it queued before
    // has reached the server.
    QList<QByteArray> sent(const QByteArray &prefix);

    // Waits (bounded) until the status line in the lobby's header reads `text`.
    bool statusBecomes(const QString &text, int timeoutMs = 5000);

    // Runs `action` on the next modal dialog of type T once it is up (bounded wait).
    template <typename T> void onModal(std::function<void(T *)> action, int timeoutMs = 5000)
    {
        m_modalDone = false;
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        auto poll = std::make_shared<std::function<void()>>();
        *poll = [this, action, clock, poll, timeoutMs] {
            if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
                action(dialog);
                m_modalDone = true;
                return;
            }
            if (clock->elapsed() < timeoutMs)
                QTimer::singleShot(10, *poll);
            else
                m_modalDone = true;
        };
        QTimer::singleShot(0, *poll);
    }
    bool waitModal(int timeoutMs = 8000);

    RecordingPlatform seam;
    FakeLobbyServer server;
    std::unique_ptr<LobbyWindows> windows;
    Tlobby *lobby = nullptr;
    QString iniPath;
    QTemporaryDir dataDir;
    QTemporaryDir runtimeDir;
    QTemporaryDir programDir;

private:
    bool m_modalDone = false;
    int m_marker = 0;
};
