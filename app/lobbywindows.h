#pragma once

#include <QString>

#include <memory>

class TAbout;
class TInvited;
class TOptions;
class Tdownload;
class Tgamedescription;
class Thelp;
class Tlobby;

// The program's windows, created in their fixed order with the main window first. Each
// exists for the whole run and is only shown and hidden; the main window is handed the
// others it opens. The login dialog is not among them: the lobby makes a fresh one for
// every login.
class LobbyWindows
{
public:
    // serverAddress: "HOST[:PORT]" or "tls://HOST[:PORT]" replacing the login dialog's
    // default server, or empty.
    // siteRoot: the web site downloads and help pages come from, or empty for the
    // built-in one.
    explicit LobbyWindows(const QString &serverAddress = QString(),
                          const QString &programFolder = QString(),
                          const QString &siteRoot = QString());
    ~LobbyWindows();

    Tlobby *lobby() const { return m_lobby.get(); }
    Thelp *help() const { return m_help.get(); }
    TAbout *about() const { return m_about.get(); }
    TOptions *options() const { return m_options.get(); }
    TInvited *invited() const { return m_invited.get(); }
    Tdownload *download() const { return m_download.get(); }
    Tgamedescription *gamedescription() const { return m_gamedescription.get(); }

private:
    std::unique_ptr<Tlobby> m_lobby;
    std::unique_ptr<Thelp> m_help;
    std::unique_ptr<TAbout> m_about;
    std::unique_ptr<TOptions> m_options;
    std::unique_ptr<TInvited> m_invited;
    std::unique_ptr<Tdownload> m_download;
    std::unique_ptr<Tgamedescription> m_gamedescription;
};
