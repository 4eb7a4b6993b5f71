#pragma once

#include "loadclient.h"

// A load client speaking our lobby protocol: creates its account, enters its room, chats
// there (CHAT), sends private messages (PMES) and lobby-wide lines (GHAT).
class LobbyLoadClient : public LoadClient
{
public:
    using LoadClient::LoadClient;

    void roomChat(std::string_view text) override;
    void privateMessage(const LoadClient &to, std::string_view text) override;
    void lobbyLine(std::string_view text) override;
    // The server hands a lobby-wide line to everyone, its sender included.
    bool hearsOwnLobbyLine() const override { return true; }

private:
    void greet() override;
    void handleLine(std::string_view line) override;
    void sendText(std::string_view plain);

    std::string m_line;
};
