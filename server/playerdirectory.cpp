#include "playerdirectory.h"

#include "lobbyrules.h"

#include <unordered_set>

std::optional<PlayerDirectory::Recipient> PlayerDirectory::find(std::string_view name) const
{
    std::string key = lobbyrules::key(name);
    if (auto *session = localSession(key))
        return Recipient::local(std::move(key), session);
    if (const auto *remote = m_remote.find(key))
        return Recipient::elsewhere(std::move(key), remote->node);
    return std::nullopt;
}

std::optional<PlayerDirectory::Recipient> PlayerDirectory::at(const std::string &node,
                                                              const std::string &key) const
{
    if (node != m_node)
        return Recipient::elsewhere(key, node);
    if (auto *session = localSession(key))
        return Recipient::local(key, session);
    return std::nullopt;
}

ClientSession *PlayerDirectory::localSession(const std::string &key) const
{
    const auto it = m_local.find(key);
    return it == m_local.end() ? nullptr : it->second;
}

bool PlayerDirectory::laterLogin(double since, const std::string &node, double otherSince,
                                 const std::string &otherNode)
{
    return since > otherSince || (since == otherSince && node > otherNode);
}

void PlayerDirectory::list(const std::string &node, const cluster::PlayerState &player)
{
    m_remote.upsert(player.key, {node, player.name, player.room, player.entry, player.since,
                                 player.hosting, player.assisted});
}

PlayerDirectory::Departed PlayerDirectory::depart(const cluster::Departure &departure)
{
    Departed result;
    if (departure.where == m_node)
        result.takenOverHere = m_local.count(departure.key) > 0;
    else
        result.forgotten = m_remote.erase(departure.key, departure.where);
    return result;
}

std::optional<RemotePlayers::Player> PlayerDirectory::takeOver(const std::string &key)
{
    const auto *remote = m_remote.find(key);
    if (!remote)
        return std::nullopt;
    const std::string node = remote->node;
    return m_remote.erase(key, node);
}

PlayerDirectory::SnapshotChange PlayerDirectory::compare(const cluster::Snapshot &snapshot)
{
    SnapshotChange change;
    std::unordered_set<std::string> listed;
    for (const auto &player : snapshot.players) {
        listed.insert(player.key);
        const auto *known = m_remote.find(player.key);
        if (known && known->node == snapshot.node && known->entry == player.entry &&
            known->room == player.room)
            continue;
        change.arrived.push_back(player);
    }
    for (const auto &key : m_remote.keysOf(snapshot.node)) {
        if (listed.count(key))
            continue;
        if (auto gone = m_remote.erase(key, snapshot.node))
            change.left.push_back(std::move(*gone));
    }
    return change;
}

std::vector<std::pair<std::string, RemotePlayers::Player>>
PlayerDirectory::forgetNode(const std::string &node)
{
    return m_remote.eraseNode(node);
}

bool PlayerDirectory::heard(const cluster::Message &message, Clock::time_point when)
{
    const bool unknown = m_remote.heard(cluster::nodeOf(message), when);
    const bool bringsPlayers = std::holds_alternative<cluster::Hello>(message) ||
                               std::holds_alternative<cluster::Snapshot>(message) ||
                               std::holds_alternative<cluster::Bye>(message);
    return unknown && !bringsPlayers;
}

std::vector<std::string> PlayerDirectory::silentSince(Clock::time_point deadline) const
{
    return m_remote.silentSince(deadline);
}
