#include "ircloadclient.h"

void IrcLoadClient::sendLine(std::string_view line)
{
    std::string out(line);
    out.append("\r\n");
    writeRaw(out);
}

void IrcLoadClient::greet()
{
    sendLine("NICK " + name());
    sendLine("USER " + name() + " 0 * :" + name());
}

void IrcLoadClient::roomChat(std::string_view text)
{
    sendLine("PRIVMSG #" + room() + " :" + std::string(text));
}

void IrcLoadClient::privateMessage(const LoadClient &to, std::string_view text)
{
    sendLine("PRIVMSG " + to.name() + " :" + std::string(text));
}

void IrcLoadClient::lobbyLine(std::string_view text)
{
    sendLine(std::string("NOTICE ") + kLobbyChannel + " :" + std::string(text));
}

void IrcLoadClient::handleLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.substr(0, 5) == "PING ") {
        sendLine("PONG " + std::string(line.substr(5)));
        if (callbacks().pinged)
            callbacks().pinged(*this);
        return;
    }
    std::string_view rest = line;
    if (!rest.empty() && rest.front() == ':') {
        const auto space = rest.find(' ');
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    const auto space = rest.find(' ');
    const std::string_view command = rest.substr(0, space);
    if (command == "PRIVMSG" || command == "NOTICE") {
        const auto text = rest.find(" :");
        // Server notices during registration carry no numbered text.
        if (text != std::string_view::npos && phase() == Phase::Ready) {
            callbacks().received(*this, rest.substr(text + 2));
            return;
        }
    }
    if (callbacks().other)
        callbacks().other(*this);
    // Cut off, or refused a nick or a channel: the run cannot count on this client.
    static constexpr std::string_view kFatal[] = {"ERROR", "KILL", "403", "405", "432", "433",
                                                  "465",   "471",  "473", "474", "475"};
    for (const auto fatal : kFatal)
        if (command == fatal) {
            fail(std::string(line));
            return;
        }
    if (phase() == Phase::LoggingIn && command == "001") {
        setPhase(Phase::EnteringRoom);
        sendLine("JOIN #" + room() + "," + kLobbyChannel);
    } else if (phase() == Phase::EnteringRoom && command == "366") {
        // The end of a channel's member list: that channel is joined.
        if (++m_channelsJoined == 2) {
            setPhase(Phase::Ready);
            callbacks().ready(*this);
        }
    }
}
