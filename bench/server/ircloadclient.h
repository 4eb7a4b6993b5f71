#pragma once

#include "loadclient.h"

// A load client doing the same work against an IRC server, for a side-by-side
// comparison: a channel per room and one that everyone joins for lobby-wide lines.
// Registration and joining both channels is its login; PRIVMSG to the room's channel is
// room chat, PRIVMSG to a nick a private message, NOTICE to the shared channel a
// lobby-wide line.
class IrcLoadClient : public LoadClient
{
public:
    static constexpr const char *kLobbyChannel = "#lobby";

    using LoadClient::LoadClient;

    void roomChat(std::string_view text) override;
    void privateMessage(const LoadClient &to, std::string_view text) override;
    void lobbyLine(std::string_view text) override;
    // IRC does not echo a channel message to its sender.
    bool hearsOwnLobbyLine() const override { return false; }

private:
    void greet() override;
    void handleLine(std::string_view line) override;
    void sendLine(std::string_view line);

    int m_channelsJoined = 0;
};
