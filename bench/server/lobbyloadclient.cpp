#include "lobbyloadclient.h"

#include "encryptit.h"

#include <algorithm>

void LobbyLoadClient::sendText(std::string_view plain)
{
    std::string line(plain);
    ostrel::ScrambleInPlace(line.data(), line.size(), ostrel::kWireKey);
    line.push_back('\n');
    writeRaw(line);
}

void LobbyLoadClient::greet()
{
    const std::string zero = " 0.00000000000000E+0000";
    sendText("LOGINNEW|" + name() + "|0121|" + name() + "^pw^Load^^^^^^^" + zero + "^" + zero +
             "^0^^0^" + zero + "^N^0^0^2^^" + zero + "^Unknown^");
}

void LobbyLoadClient::roomChat(std::string_view text)
{
    sendText("SEND|CHAT|" + std::string(text) + "|clBlack");
}

void LobbyLoadClient::privateMessage(const LoadClient &to, std::string_view text)
{
    sendText("SEND|PMES|" + to.name() + "|" + std::string(text));
}

void LobbyLoadClient::lobbyLine(std::string_view text)
{
    sendText("SEND|GHAT|" + std::string(text) + "|clBlack");
}

void LobbyLoadClient::handleLine(std::string_view raw)
{
    // The front of a line tells what it is; only lines whose text counts are read whole,
    // so that a member list of thousands is not copied and unscrambled for nothing.
    const std::size_t head = std::max<std::size_t>(64, 12 + room().size());
    m_line.assign(raw.substr(0, head));
    ostrel::ScrambleInPlace(m_line.data(), m_line.size(), ostrel::kWireKey);
    if (raw.size() > head && (m_line.starts_with("SEND|") || m_line.starts_with("ERROR|") ||
                              m_line.starts_with("LOGIN|FAILED|"))) {
        m_line.assign(raw);
        ostrel::ScrambleInPlace(m_line.data(), m_line.size(), ostrel::kWireKey);
    }
    const std::string_view line = m_line;
    if (line.substr(0, 5) == "SEND|") {
        // SEND|party|TYPE|text[|colour]
        std::size_t p = line.find('|', 5);
        if (p != std::string_view::npos)
            p = line.find('|', p + 1);
        if (p != std::string_view::npos)
            callbacks().received(*this, line.substr(p + 1));
        return;
    }
    if (line == "PING|") {
        sendText("PING|");
        if (callbacks().pinged)
            callbacks().pinged(*this);
        return;
    }
    if (callbacks().other)
        callbacks().other(*this);
    switch (phase()) {
    case Phase::LoggingIn:
        if (line.substr(0, 13) == "LOGIN|FAILED|")
            fail(std::string(line));
        else if (line.substr(0, 12) == "JOINSUBJECT|") {
            setPhase(Phase::EnteringRoom);
            sendText("JOINSUBJECT|" + room());
        }
        break;
    case Phase::EnteringRoom:
        if (line.substr(0, 12 + room().size()) == "JOINSUBJECT|" + room()) {
            setPhase(Phase::Ready);
            callbacks().ready(*this);
        }
        break;
    default:
        if (line.substr(0, 6) == "ERROR|")
            fail(std::string(line));
        break;
    }
}
