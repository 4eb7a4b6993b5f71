#pragma once

#include "lobby.h"
#include "lobbywindows.h"
#include "sitewebserver.h"
#include "widgettext.h"

#include <QApplication>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

// The reference server as its own process on a free loopback port, stopped with the
// object.
class ServerProcess
{
public:
    // Starts the server with its data in dataDir; extra arguments follow (--news ...).
    bool start(const QString &dataDir, const QStringList &extraArguments = {});
    // The address the server listens on, and a command that runs it (for example
    // "ip netns exec NAME"); set before start.
    QString listenHost = QStringLiteral("127.0.0.1");
    // The port to listen on; 0 picks a free one (a restart takes the port it had).
    int listenPort = 0;
    QStringList launcher;
    ~ServerProcess();
    // The plain port, which createAccount and the tests' bare connections use; when the
    // tests run over TLS (OSTREL_TEST_TLS=1) the server listens for TLS as well and the
    // players' lobbies log in there (see E2EPlayer::login).
    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    // Listen for TLS as well whatever the run; tlsListenPort as listenPort.
    bool tls = false;
    int tlsListenPort = 0;
    // The lower-case hex SHA-256 of the server's certificate (TLS only).
    QByteArray fingerprint() const { return m_fingerprint; }
    // The operator's command that gives an account its class.
    bool setClass(const QString &name, const QString &accountClass) const;

private:
    QProcess m_process;
    QString m_dataDir;
    int m_port = 0;
    int m_tlsPort = 0;
    QByteArray m_fingerprint;
};

// Creates an account the way a new player's first login does, over a bare connection.
bool createAccount(int port, const std::string &name,
                   const QString &host = QStringLiteral("127.0.0.1"));

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
};
