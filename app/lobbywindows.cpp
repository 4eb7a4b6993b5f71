#include "lobbywindows.h"

#include "lobby.h"
#include "tabout.h"
#include "thelp.h"
#include "toptions.h"

LobbyWindows::LobbyWindows(const QString &serverAddress, const QString &programFolder)
{
    m_lobby = std::make_unique<Tlobby>(serverAddress, programFolder);
    m_options = std::make_unique<TOptions>(m_lobby.get());
    m_lobby->attachWindows(m_options.get(), nullptr, nullptr);
}

// The secondary windows go first: they may still refer to the main window.
LobbyWindows::~LobbyWindows()
{
    m_options.reset();
    m_lobby.reset();
}
