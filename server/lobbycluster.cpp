// The lobby spread over several server nodes. Each node accepts its own clients and keeps
// its own players; everything another node's clients must see goes through Redis
// publish/subscribe: one channel every node hears ("ostrel:all") and one per node for what
// only its players receive. A node publishes through one connection, so everything of one
// node, and so of each sender, arrives everywhere in the order it happened.
//
//   HB  node                      heartbeat
//   HELLO node                    a node (re)joined: the others answer with SNAP
//   SNAP node (key name room entry since flags)...   all players of a node, replacing the
//                                 old view; flags: "h" hosting, "a" relayed ("assisted")
//   P   node key name room entry since flags   a player's arrival or new entry
//   G   node key name where       a player left; where: the node the player was at (a
//                                 newer login at `node` ends a session at `where`)
//   L   node scope presence line  a line for every player ("*") or a room's players
//   T   node key line [fromkey undelivered]   a line for one player; when the player is
//                                 not there, fromkey (at node) gets the line undelivered
//   K   node key                  a newer login elsewhere ends this session, silently
//   M   node key order until text moderation of a player: SILENCE, UNSILENCE, BOOT
//   J   node hostkey joinerkey joinername text hostname   a request to join a game
//   JA  node joinerkey hostkey hostname game accepted address   the host's answer
//   D   node peerkey senderkey sendername direction payload     relayed game bytes
//   EG  node joinerkey hostkey hostname assisted   the host's game ended
//   LJ  node hostkey joinerkey joinername          a player left the host's game
//   PG  node joinerkey hostkey game                the host made the game private
//   BYE node                      a node is shutting down
//   OP  node order argument       an operator's action for every node (lobbyoperations.cpp)
#include "lobbyserver.h"

#include "lobbyrules.h"

#include <chrono>
#include <random>
#include <unordered_map>

namespace {

constexpr const char *kAllChannel = "ostrel:all";

std::string nodeChannel(const std::string &node)
{
    return "ostrel:node:" + node;
}

std::string newNodeId()
{
    std::random_device random;
    std::uniform_int_distribution<std::uint64_t> any;
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(any(random)));
    return text;
}

double secondsSinceEpoch()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void LobbyServer::startCluster()
{
    const auto address = ClusterLink::parseAddress(m_options.cluster);
    if (!address)
        throw std::runtime_error("not a Redis address: " + m_options.cluster);
    m_nodeId = newNodeId();
    // A few heartbeats per ping interval; a node silent for four of them is gone.
    m_heartbeatPeriod = std::clamp(m_options.pingInterval / 3, std::chrono::milliseconds(100),
                                   std::chrono::milliseconds(2000));
    m_cluster = std::make_unique<ClusterLink>(m_io, *address);
    m_cluster->probe = ClusterMessage{"HB", {m_nodeId}}.encode();
    m_cluster->subscribe(kAllChannel);
    m_cluster->subscribe(nodeChannel(m_nodeId));
    m_cluster->onMessage = [this](const std::string &, const std::string &payload) {
        onClusterMessage(payload);
    };
    m_cluster->onLink = [this](bool ready) {
        if (!ready) {
            logEvent(ServerLog::Level::Warning, "cluster_link",
                     {{"state", "down"},
                      {"node", m_nodeId},
                      {"msg", "cluster link lost; trying again"}});
            return;
        }
        logEvent(
            ServerLog::Level::Info, "cluster_link",
            {{"state", "up"}, {"node", m_nodeId}, {"msg", "cluster link up as node " + m_nodeId}});
        // Whatever the others missed of this node while the link was down, the snapshot
        // puts right; theirs come back in answer to HELLO.
        publishAll(snapshot());
        publishAll({"HELLO", {m_nodeId}});
    };
    m_cluster->start();
    clusterTick();
}

void LobbyServer::publishAll(const ClusterMessage &message)
{
    if (m_cluster)
        m_cluster->publish(kAllChannel, message.encode());
}

void LobbyServer::publishTo(const std::string &node, const ClusterMessage &message,
                            ClusterLink::Delivered delivered)
{
    if (m_cluster)
        m_cluster->publish(nodeChannel(node), message.encode(), std::move(delivered));
}

ClusterMessage LobbyServer::presenceOf(const Session &session) const
{
    const auto &p = session.player;
    std::string flags;
    if (p.hosting)
        flags += 'h';
    if (p.assisted)
        flags += 'a';
    return {"P",
            {m_nodeId, p.key, p.name, p.room, entryOf(session),
             std::to_string(secondsSinceEpoch() -
                            std::chrono::duration<double>(Clock::now() - p.loginTime).count()),
             flags}};
}

ClusterMessage LobbyServer::snapshot() const
{
    ClusterMessage message{"SNAP", {m_nodeId}};
    for (const auto &[key, session] : m_players) {
        const auto p = presenceOf(*session);
        for (std::size_t i = 1; i < p.fields.size(); ++i)
            message.fields.push_back(p.fields[i]);
    }
    return message;
}

void LobbyServer::forwardLine(const std::string &scope, const Session *, bool presence,
                              std::string_view plain)
{
    if (m_cluster)
        publishAll({"L", {m_nodeId, scope, presence ? "1" : "0", std::string(plain)}});
}

bool LobbyServer::sendToRemote(std::string_view name, const std::string &plain, const Session *from,
                               const std::string &undelivered)
{
    const std::string key = lobbyrules::key(name);
    const auto *remote = m_remote.find(key);
    if (!remote)
        return false;
    if (from && !undelivered.empty()) {
        // Nobody subscribed to that node's channel (it is away from Redis), or the link
        // broke before Redis took the line: the sender hears of it.
        const auto sender = from->id();
        const std::string senderKey = from->player.key;
        publishTo(remote->node, {"T", {m_nodeId, key, plain, senderKey, undelivered}},
                  [this, sender, senderKey, undelivered](long long receivers) {
                      if (receivers > 0)
                          return;
                      const auto it = m_sessions.find(sender);
                      if (it != m_sessions.end() && !it->second->closing() &&
                          it->second->player.loggedIn && it->second->player.key == senderKey)
                          it->second->sendText(undelivered);
                  });
    } else
        publishTo(remote->node, {"T", {m_nodeId, key, plain}});
    return true;
}

void LobbyServer::remoteArrived(const std::string &key, RemotePlayers::Player player)
{
    // The same account logged in here and there at the same moment: the later login
    // stays, as on one node.
    if (auto *local = findPlayer(key)) {
        const double localSince =
            secondsSinceEpoch() -
            std::chrono::duration<double>(Clock::now() - local->player.loginTime).count();
        if (localSince > player.since || (localSince == player.since && m_nodeId > player.node))
            return;
        local->sendText("ERROR|You have been logged off: your account logged in elsewhere.");
        logoff(*local, "logged in elsewhere", true);
        local->closeAfterFlush("replaced by a newer login");
    }
    const std::string entry = player.entry;
    m_remote.upsert(key, std::move(player));
    localBroadcast("ADDGUEST|" + entry, nullptr, true);
    m_peakOnline = std::max(m_peakOnline, onlineCount());
}

void LobbyServer::remoteLeft(const RemotePlayers::Player &player)
{
    localBroadcast("GREMOVEGUEST|" + player.name, nullptr, true);
}

void LobbyServer::remoteNodeGone(const std::string &node, const std::string &why)
{
    const auto gone = m_remote.eraseNode(node);
    if (gone.empty())
        return;
    logEvent(ServerLog::Level::Warning, "cluster_node_gone",
             {{"node", node}, {"reason", why}, {"players", std::to_string(gone.size())}});
    // What that node would have done at their logoffs, for this node's players: the games
    // of hosts there end, players there leave games hosted here. One pass over this
    // node's players for all of them: a node may take thousands along.
    std::unordered_map<std::string, const RemotePlayers::Player *> byKey;
    for (const auto &[key, player] : gone) {
        byKey.emplace(key, &player);
        if (!player.hosting)
            continue;
        const auto plus = player.entry.rfind('+');
        std::string game =
            plus == std::string::npos ? std::string() : player.entry.substr(plus + 1);
        if (game.rfind("P*", 0) == 0)
            game.erase(0, 2);
        if (!game.empty())
            localBroadcast("DELETEGAME|" + game, nullptr, false);
    }
    for (auto &[localKey, session] : m_players) {
        auto &p = session->player;
        if (const auto host = byKey.find(p.joinedHost);
            host != byKey.end() && host->second->hosting) {
            p.joinedHost.clear();
            p.game.clear();
            if (host->second->assisted)
                session->sendText("DATASEND|" + host->second->name + "|CLOSE");
            announceEntry(*session);
        }
        std::erase_if(p.pendingJoins, [&](const std::string &key) { return byKey.count(key); });
        for (auto it = p.joiners.begin(); it != p.joiners.end();) {
            const auto joiner = byKey.find(*it);
            if (joiner == byKey.end()) {
                ++it;
                continue;
            }
            if (p.assisted)
                session->sendText("DATASEND|" + joiner->second->name + "|CLOSE");
            it = p.joiners.erase(it);
        }
    }
    for (const auto &[key, player] : gone) {
        if (player.room != Catalogue::kLobby)
            localToRoom(player.room, "REMOVEGUEST|" + player.name, nullptr, true);
        remoteLeft(player);
    }
}

void LobbyServer::applySnapshot(const ClusterMessage &message)
{
    const std::string &node = message.field(0);
    std::unordered_set<std::string> listed;
    for (std::size_t i = 1; i + 6 <= message.fields.size(); i += 6) {
        RemotePlayers::Player player;
        player.node = node;
        player.name = message.fields[i + 1];
        player.room = message.fields[i + 2];
        player.entry = message.fields[i + 3];
        player.since = std::strtod(message.fields[i + 4].c_str(), nullptr);
        player.hosting = message.fields[i + 5].find('h') != std::string::npos;
        player.assisted = message.fields[i + 5].find('a') != std::string::npos;
        const std::string &key = message.fields[i];
        listed.insert(key);
        const auto *known = m_remote.find(key);
        if (known && known->node == node && known->entry == player.entry &&
            known->room == player.room)
            continue;
        remoteArrived(key, std::move(player));
    }
    for (const auto &key : m_remote.keysOf(node)) {
        if (listed.count(key))
            continue;
        if (const auto gone = m_remote.erase(key, node)) {
            if (gone->room != Catalogue::kLobby)
                localToRoom(gone->room, "REMOVEGUEST|" + gone->name, nullptr, true);
            remoteLeft(*gone);
        }
    }
}

void LobbyServer::onClusterMessage(const std::string &payload)
{
    const auto message = ClusterMessage::decode(payload);
    if (!message || message->fields.empty())
        return;
    const std::string &node = message->field(0);
    if (node == m_nodeId)
        return; // what this node published comes back to it as well
    const std::string &kind = message->kind;
    // A node heard again after it was taken for gone (it stalled, or its link to Redis
    // did) has lost its players here: its snapshot lists them again.
    if (m_remote.heard(node, Clock::now()) && kind != "HELLO" && kind != "SNAP" && kind != "BYE") {
        log("node " + node + " is heard again; asking for its players");
        publishTo(node, {"HELLO", {m_nodeId}});
    }
    try {
        if (kind == "HB") {
            return;
        } else if (kind == "HELLO") {
            publishTo(node, snapshot());
        } else if (kind == "SNAP") {
            applySnapshot(*message);
        } else if (kind == "P" && message->fields.size() >= 7) {
            RemotePlayers::Player player{node,
                                         message->field(2),
                                         message->field(3),
                                         message->field(4),
                                         std::strtod(message->field(5).c_str(), nullptr),
                                         message->field(6).find('h') != std::string::npos,
                                         message->field(6).find('a') != std::string::npos};
            remoteArrived(message->field(1), std::move(player));
        } else if (kind == "G") {
            const std::string &key = message->field(1);
            const std::string &where = message->fields.size() >= 4 ? message->field(3) : node;
            if (where == m_nodeId) {
                // A newer login at another node is taking over this node's session: the
                // others hear of it from there; this node's own players hear it now.
                if (auto *local = findPlayer(key))
                    localBroadcast("GREMOVEGUEST|" + local->player.name, local, true);
            } else if (const auto gone = m_remote.erase(key, where)) {
                // Only the session at `where` left: one of the same name here, or listed
                // at another node since, is still online.
                remoteLeft(*gone);
            }
        } else if (kind == "L" && message->fields.size() >= 4) {
            const bool presence = message->field(2) == "1";
            if (message->field(1) == "*")
                localBroadcast(message->field(3), nullptr, presence);
            else
                localToRoom(message->field(1), message->field(3), nullptr, presence);
        } else if (kind == "T") {
            if (auto *local = findPlayer(message->field(1)))
                local->sendText(message->field(2));
            else if (message->fields.size() >= 5 && !message->field(4).empty())
                // Listed here no more (gone since, or a node that stopped without a
                // word): the sender hears it was not delivered rather than nothing.
                publishTo(node, {"T", {m_nodeId, message->field(3), message->field(4)}});
        } else if (kind == "K") {
            if (auto *local = findPlayer(message->field(1))) {
                local->sendText(
                    "ERROR|You have been logged off: your account logged in elsewhere.");
                logoff(*local, "logged in at another node", false);
                local->closeAfterFlush("replaced by a newer login");
            }
        } else if (kind == "M") {
            auto *local = findPlayer(message->field(1));
            if (!local)
                return;
            const std::string &order = message->field(2);
            if (order == "SILENCE") {
                local->player.silenceUntil = std::strtoll(message->field(3).c_str(), nullptr, 10);
                local->sendText("ERROR|A moderator has silenced you for " + message->field(4) +
                                " minutes.");
            } else if (order == "UNSILENCE") {
                local->player.silenceUntil = 0;
                local->sendText("ERROR|A moderator has lifted your silence.");
            } else if (order == "BOOT") {
                log(message->field(4) + " boots " + local->player.name + " from another node");
                local->sendText("ERROR|A moderator has removed you from the server.");
                logoff(*local, "booted by " + message->field(4));
                local->closeAfterFlush("booted by " + message->field(4));
            }
        } else if (kind == "J") {
            auto *host = findPlayer(message->field(1));
            if (!host || !host->player.hosting) {
                publishTo(node, {"T",
                                 {m_nodeId, message->field(2),
                                  "ERROR|" + message->field(5).substr(0, 40) +
                                      " is not hosting a game, you cannot join them."}});
                return;
            }
            host->player.pendingJoins.insert(message->field(2));
            host->sendText("SEND|" + message->field(3) + "|JOIN|" + message->field(4));
        } else if (kind == "JA") {
            auto *joiner = findPlayer(message->field(1));
            if (!joiner)
                return;
            auto &j = joiner->player;
            if (message->field(5) != "1") {
                joiner->sendText("SEND|" + j.name + "|IGNO|" + message->field(3));
                return;
            }
            joiner->sendText("SEND|" + message->field(3) + "|IPTJ|" + message->field(6));
            if (j.hosting)
                endGame(*joiner, false);
            if (!j.joinedHost.empty())
                leaveJoinedGame(*joiner, false);
            j.joinedHost = message->field(2);
            j.game = message->field(4);
            announceEntry(*joiner);
        } else if (kind == "D") {
            auto *peer = findPlayer(message->field(1));
            if (!peer)
                return;
            const auto &other = peer->player;
            const std::string &sender = message->field(2);
            const bool ok = message->field(4) == "tohost"
                                ? other.hosting && other.assisted && other.joiners.count(sender)
                                : other.joinedHost == sender;
            if (ok)
                peer->sendText("DATASEND|" + message->field(3) + "|" + message->field(5));
        } else if (kind == "EG") {
            auto *joiner = findPlayer(message->field(1));
            if (!joiner || joiner->player.joinedHost != message->field(2))
                return;
            joiner->player.joinedHost.clear();
            joiner->player.game.clear();
            if (message->field(4) == "1")
                joiner->sendText("DATASEND|" + message->field(3) + "|CLOSE");
            announceEntry(*joiner);
        } else if (kind == "LJ") {
            auto *host = findPlayer(message->field(1));
            if (!host)
                return;
            host->player.joiners.erase(message->field(2));
            if (host->player.assisted)
                host->sendText("DATASEND|" + message->field(3) + "|CLOSE");
        } else if (kind == "PG") {
            auto *joiner = findPlayer(message->field(1));
            if (!joiner || joiner->player.joinedHost != message->field(2))
                return;
            joiner->player.game = message->field(3);
            announceEntry(*joiner);
        } else if (kind == "BYE") {
            remoteNodeGone(node, "shut down");
        } else if (kind == "OP") {
            onOperatorMessage(*message);
        }
    } catch (const std::exception &e) {
        log("cluster message " + kind + ": " + e.what());
    }
}

void LobbyServer::clusterTick()
{
    if (!m_cluster || m_stopping)
        return;
    publishAll({"HB", {m_nodeId}});
    for (const auto &node : m_remote.silentSince(Clock::now() - 4 * m_heartbeatPeriod))
        remoteNodeGone(node, "stopped answering");
    m_clusterTimer.expires_after(m_heartbeatPeriod);
    m_clusterTimer.async_wait([this](const std::error_code &error) {
        if (!error)
            clusterTick();
    });
}
