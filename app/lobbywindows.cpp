#include "lobbywindows.h"

#include "lobby.h"
#include "tabout.h"
#include "tdownload.h"
#include "tgamedescription.h"
#include "thelp.h"
#include "tinvited.h"
#include "toptions.h"

LobbyWindows::LobbyWindows(const QString &serverAddress, const QString &programFolder,
                           const QString &siteRoot)
{
    m_lobby = std::make_unique<Tlobby>(serverAddress, programFolder);
    if (!siteRoot.isEmpty())
        m_lobby->setSiteRoot(siteRoot);
    m_help = std::make_unique<Thelp>();
    m_about = std::make_unique<TAbout>();
    m_options = std::make_unique<TOptions>();
    m_invited = std::make_unique<TInvited>();
    m_download = std::make_unique<Tdownload>();
    m_gamedescription = std::make_unique<Tgamedescription>();
    m_lobby->attachWindows(m_options.get(), m_help.get(), m_about.get());
    m_lobby->attachInvited(m_invited.get());
    m_lobby->attachDownload(m_download.get());
    m_lobby->attachGameDescription(m_gamedescription.get());
}

// The secondary windows go first: they may still refer to the main window.
LobbyWindows::~LobbyWindows()
{
    m_gamedescription.reset();
    m_download.reset();
    m_invited.reset();
    m_options.reset();
    m_about.reset();
    m_help.reset();
    m_lobby.reset();
}
