#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the user hosts or joins: the game program found for it, the mode letter handed to
// that program, the join that waits for its host's answer, the game invitations name,
// and a hosted game waiting for the home router. No widget: the window shows it.
class HostingSession
{
public:
    // The program of the game last found installed, started by launchArguments().
    const QByteArray &program() const { return m_program; }
    void setProgram(const QByteArray &path) { m_program = path; }

    // The mode letter handed to the next game program started.
    const QByteArray &mode() const { return m_mode; }
    void setMode(const QByteArray &mode) { m_mode = mode; }

    // The arguments a game program is started with: our name, the address to host on or
    // to join, "true" as host, and the mode letter. Each is one argument of its own.
    QStringList launchArguments(const QString &ownName, const QByteArray &address, bool host) const;

    // A join went out to `host` in the current mode: only that host's answer starts the
    // game, in that mode.
    void askedToJoin(const QByteArray &host);
    bool joinPending() const { return !m_joinHost.isEmpty(); }
    const QByteArray &joinHost() const { return m_joinHost; }
    // Whether `id` is the host the join waits for (names compare without regard to case).
    bool isJoinHost(const QByteArray &id) const;
    // The host answered: the join no longer waits and the mode is the join's again.
    void joinAnswered();
    // The join was refused or cannot happen.
    void joinEnded() { m_joinHost.clear(); }

    // The game invitations from this lobby name while it hosts one (empty: none).
    const QString &inviteGame() const { return m_inviteGame; }
    void setInviteGame(const QString &game) { m_inviteGame = game; }

    // A hosted game announced only once the home router has answered about the port.
    void awaitRouter(const QByteArray &entry, const QString &label);
    // The entry waiting for the router, taken (empty when nobody waits any more).
    QByteArray takeRouterEntry();
    const QString &routerLabel() const { return m_routerLabel; }
    // The router forwards the game port: joiners are sent its public address.
    void setRouterAddress(const QByteArray &address) { m_routerAddress = address; }
    const QByteArray &routerAddress() const { return m_routerAddress; }
    // The address a joiner's request is answered with.
    QByteArray addressForJoiners(const QByteArray &localAddress) const;
    // The router's part of hosting is over.
    void endRouter();

    // The connection is gone: no join waits for an answer.
    void reset();

private:
    QByteArray m_program;
    QByteArray m_mode = "e";
    QByteArray m_joinHost;
    QByteArray m_joinMode;
    QString m_inviteGame;
    QByteArray m_routerEntry;
    QString m_routerLabel;
    QByteArray m_routerAddress;
};
