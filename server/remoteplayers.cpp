#include "remoteplayers.h"

const RemotePlayers::Player *RemotePlayers::find(std::string_view key) const
{
    const auto it = m_players.find(std::string(key));
    return it == m_players.end() ? nullptr : &it->second;
}

void RemotePlayers::upsert(const std::string &key, Player player)
{
    if (auto it = m_players.find(key); it != m_players.end()) {
        m_byRoom[it->second.room].erase(key);
        m_byNode[it->second.node].erase(key);
        m_hosting -= it->second.hosting ? 1 : 0;
    }
    m_hosting += player.hosting ? 1 : 0;
    m_byRoom[player.room].insert(key);
    m_byNode[player.node].insert(key);
    m_players[key] = std::move(player);
}

std::optional<RemotePlayers::Player> RemotePlayers::erase(const std::string &key,
                                                          const std::string &node)
{
    const auto it = m_players.find(key);
    if (it == m_players.end() || it->second.node != node)
        return std::nullopt;
    Player gone = std::move(it->second);
    m_players.erase(it);
    m_hosting -= gone.hosting ? 1 : 0;
    m_byRoom[gone.room].erase(key);
    m_byNode[gone.node].erase(key);
    return gone;
}

std::vector<std::pair<std::string, RemotePlayers::Player>>
RemotePlayers::eraseNode(const std::string &node)
{
    std::vector<std::pair<std::string, Player>> gone;
    if (auto it = m_byNode.find(node); it != m_byNode.end()) {
        for (const auto &key : it->second) {
            auto player = m_players.find(key);
            if (player == m_players.end())
                continue;
            m_byRoom[player->second.room].erase(key);
            m_hosting -= player->second.hosting ? 1 : 0;
            gone.emplace_back(key, std::move(player->second));
            m_players.erase(player);
        }
        m_byNode.erase(it);
    }
    m_heard.erase(node);
    return gone;
}

std::vector<std::string> RemotePlayers::keysOf(const std::string &node) const
{
    const auto it = m_byNode.find(node);
    if (it == m_byNode.end())
        return {};
    return {it->second.begin(), it->second.end()};
}

void RemotePlayers::forEach(
    const std::function<void(const std::string &key, const Player &)> &visit) const
{
    for (const auto &[key, player] : m_players)
        visit(key, player);
}

void RemotePlayers::forEachInRoom(const std::string &room,
                                  const std::function<void(const Player &)> &visit) const
{
    const auto it = m_byRoom.find(room);
    if (it == m_byRoom.end())
        return;
    for (const auto &key : it->second)
        if (const auto *player = find(key))
            visit(*player);
}

bool RemotePlayers::heard(const std::string &node, Clock::time_point when)
{
    return m_heard.insert_or_assign(node, when).second;
}

std::vector<std::string> RemotePlayers::silentSince(Clock::time_point deadline) const
{
    std::vector<std::string> silent;
    for (const auto &[node, when] : m_heard)
        if (when < deadline)
            silent.push_back(node);
    return silent;
}
