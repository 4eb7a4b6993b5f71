#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The players logged in at the other server nodes of a lobby, as those nodes announced
// them, with the moment each node was last heard from. Keys are the players' lower-case
// names, as for the node's own players.
class RemotePlayers
{
public:
    using Clock = std::chrono::steady_clock;

    struct Player
    {
        std::string node;
        std::string name;
        std::string room;
        std::string entry; // "name+hat+room+game", as the lists show it
        double since = 0;  // login time, seconds since the epoch
        bool hosting = false;
        bool assisted = false; // the game is relayed through the servers
    };

    const Player *find(std::string_view key) const;
    std::size_t size() const { return m_players.size(); }
    std::size_t hostingCount() const { return m_hosting; }
    // Adds or replaces a player.
    void upsert(const std::string &key, Player player);
    // Removes a player when `node` still holds it (a newer login elsewhere may have taken
    // the name over since); returns what was removed.
    std::optional<Player> erase(const std::string &key, const std::string &node);
    // Removes every player of a node and forgets the node; returns them.
    std::vector<std::pair<std::string, Player>> eraseNode(const std::string &node);
    std::vector<std::string> keysOf(const std::string &node) const;

    void forEach(const std::function<void(const std::string &key, const Player &)> &visit) const;
    void forEachInRoom(const std::string &room,
                       const std::function<void(const Player &)> &visit) const;

    // True when the node was not known (new, or taken for gone before).
    bool heard(const std::string &node, Clock::time_point when);
    // Nodes last heard from before `deadline`.
    std::vector<std::string> silentSince(Clock::time_point deadline) const;

private:
    std::unordered_map<std::string, Player> m_players;
    std::unordered_map<std::string, std::unordered_set<std::string>> m_byRoom;
    std::unordered_map<std::string, std::unordered_set<std::string>> m_byNode;
    std::unordered_map<std::string, Clock::time_point> m_heard;
    std::size_t m_hosting = 0;
};
