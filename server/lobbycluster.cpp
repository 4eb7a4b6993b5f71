// The lobby spread over several server nodes. Each node accepts its own clients and keeps
// its own players; everything another node's clients must see goes through Redis
// publish/subscribe: one channel every node hears ("ostrel:all") and one per node for what
// only its players receive. A node publishes through one connection, so everything of one
// node, and so of each sender, arrives everywhere in the order it happened.
//
// The messages, one struct each, are in clustermessage.h. A message for one player goes
// to that player's node, found in the player directory; the handlers hand it over
// through deliver() without asking where the player is, and a player at this node gets
// the same treatment (receive()) as one whose message came from elsewhere.
#include "lobbyserver.h"

#include "lobbyrules.h"
#include "wirekeyword.h"

#include <chrono>
#include <random>
#include <unordered_map>

using ostrel::WireKeyword;

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
    m_directory.setNode(m_nodeId);
    // A few heartbeats per ping interval; a node silent for four of them is gone.
    m_heartbeatPeriod = std::clamp(m_options.pingInterval / 3, std::chrono::milliseconds(100),
                                   std::chrono::milliseconds(2000));
    m_cluster = std::make_unique<ClusterLink>(m_io, *address);
    m_cluster->probe = cluster::encode(cluster::Heartbeat{m_nodeId});
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
        publishAll(cluster::Hello{m_nodeId});
    };
    m_cluster->start();
    clusterTick();
}

// Everything a node publishes names it as its publisher.
void LobbyServer::publishAll(cluster::Message message)
{
    if (!m_cluster)
        return;
    std::visit([this](auto &m) { m.node = m_nodeId; }, message);
    m_cluster->publish(kAllChannel, cluster::encode(message));
}

void LobbyServer::publishTo(const std::string &node, cluster::Message message,
                            ClusterLink::Delivered delivered)
{
    if (!m_cluster)
        return;
    std::visit([this](auto &m) { m.node = m_nodeId; }, message);
    m_cluster->publish(nodeChannel(node), cluster::encode(message), std::move(delivered));
}

cluster::PlayerState LobbyServer::stateOf(const Session &session) const
{
    const auto &p = session.player;
    return {p.key,
            p.name,
            p.room,
            entryOf(session),
            secondsSinceEpoch() - std::chrono::duration<double>(Clock::now() - p.loginTime).count(),
            p.hosting,
            p.assisted};
}

cluster::Presence LobbyServer::presenceOf(const Session &session) const
{
    return {m_nodeId, stateOf(session)};
}

cluster::Snapshot LobbyServer::snapshot() const
{
    cluster::Snapshot message{m_nodeId, {}};
    message.players.reserve(m_players.size());
    for (const auto &[key, session] : m_players)
        message.players.push_back(stateOf(*session));
    return message;
}

void LobbyServer::forwardLine(const std::string &scope, const Session *, bool presence,
                              std::string_view plain)
{
    if (m_cluster)
        publishAll(
            cluster::Broadcast{.scope = scope, .presence = presence, .line = std::string(plain)});
}

void LobbyServer::deliver(const PlayerDirectory::Recipient &to, cluster::Message message)
{
    std::visit([this](auto &m) { m.node = m_nodeId; }, message);
    if (auto *session = to.session()) {
        receive(*session, message);
        return;
    }
    ClusterLink::Delivered delivered;
    if (const auto *line = std::get_if<cluster::ToPlayer>(&message);
        line && !line->undelivered.empty()) {
        // Nobody subscribed to that node's channel (it is away from Redis), or the link
        // broke before Redis took the line: the sender hears of it.
        std::uint64_t sender = 0;
        if (const auto *from = m_directory.localSession(line->fromKey))
            sender = from->id();
        delivered = [this, sender, senderKey = line->fromKey,
                     undelivered = line->undelivered](long long receivers) {
            if (receivers > 0)
                return;
            const auto it = m_sessions.find(sender);
            if (it != m_sessions.end() && !it->second->closing() && it->second->player.loggedIn &&
                it->second->player.key == senderKey)
                it->second->sendText(undelivered);
        };
    }
    publishTo(to.node(), message, std::move(delivered));
}

void LobbyServer::replyTo(const std::string &node, const std::string &key, std::string line)
{
    if (const auto to = m_directory.at(node, key))
        deliver(*to, cluster::ToPlayer{.key = key, .line = std::move(line)});
}

// A login here ends the account's older session, wherever it is. One at another node:
// everyone hears of its departure from here, in order with the arrival, and that node
// ends the session without a word of its own.
void LobbyServer::endOlderSession(const Session &newer, const std::string &key)
{
    // Each round ends one session (a local one, then one listed elsewhere, should both
    // be known for a moment), so the loop ends.
    for (auto older = m_directory.find(key); older && older->session() != &newer;
         older = m_directory.find(key)) {
        if (!older->session()) {
            const auto gone = m_directory.takeOver(key);
            if (gone->room != Catalogue::kLobby)
                sendToRoom(gone->room, wireLine(WireKeyword::REMOVEGUEST, gone->name), nullptr,
                           true);
            localBroadcast(wireLine(WireKeyword::GREMOVEGUEST, gone->name), nullptr, true);
            publishAll(cluster::Departure{.key = key, .name = gone->name, .where = gone->node});
        }
        deliver(*older, cluster::Kick{.key = key});
    }
}

void LobbyServer::remoteArrived(const std::string &node, const cluster::PlayerState &player)
{
    // The same account logged in here and there at the same moment: the later login
    // stays, as on one node.
    if (auto *local = m_directory.localSession(player.key)) {
        if (PlayerDirectory::laterLogin(stateOf(*local).since, m_nodeId, player.since, node))
            return;
        local->sendText(wireLine(WireKeyword::ERROR,
                                 "You have been logged off: your account logged in elsewhere."));
        logoff(*local, "logged in elsewhere", true);
        local->closeAfterFlush("replaced by a newer login");
    }
    m_directory.list(node, player);
    localBroadcast(wireLine(WireKeyword::ADDGUEST, player.entry), nullptr, true);
    m_peakOnline = std::max(m_peakOnline, onlineCount());
}

void LobbyServer::remoteLeft(const RemotePlayers::Player &player)
{
    localBroadcast(wireLine(WireKeyword::GREMOVEGUEST, player.name), nullptr, true);
}

void LobbyServer::remoteNodeGone(const std::string &node, const std::string &why)
{
    const auto gone = m_directory.forgetNode(node);
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
            localBroadcast(wireLine(WireKeyword::DELETEGAME, game), nullptr, false);
    }
    for (auto &[localKey, session] : m_players) {
        auto &p = session->player;
        if (const auto host = byKey.find(p.joinedHost);
            host != byKey.end() && host->second->hosting) {
            p.joinedHost.clear();
            p.game.clear();
            if (host->second->assisted)
                session->sendText(
                    wireLine(WireKeyword::DATASEND, host->second->name, ostrel::kWireRelayClose));
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
                session->sendText(
                    wireLine(WireKeyword::DATASEND, joiner->second->name, ostrel::kWireRelayClose));
            it = p.joiners.erase(it);
        }
    }
    for (const auto &[key, player] : gone) {
        if (player.room != Catalogue::kLobby)
            localToRoom(player.room, wireLine(WireKeyword::REMOVEGUEST, player.name), nullptr,
                        true);
        remoteLeft(player);
    }
}

void LobbyServer::applySnapshot(const cluster::Snapshot &message)
{
    auto change = m_directory.compare(message);
    for (const auto &player : change.arrived)
        remoteArrived(message.node, player);
    for (const auto &gone : change.left) {
        if (gone.room != Catalogue::kLobby)
            localToRoom(gone.room, wireLine(WireKeyword::REMOVEGUEST, gone.name), nullptr, true);
        remoteLeft(gone);
    }
}

namespace {

template <class... Handlers> struct Overloaded : Handlers...
{
    using Handlers::operator()...;
};
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

// The player a message is for, when it is for one player.
const std::string *recipientKey(const cluster::Message &message)
{
    return std::visit(
        Overloaded{
            [](const cluster::ToPlayer &m) -> const std::string * { return &m.key; },
            [](const cluster::Kick &m) -> const std::string * { return &m.key; },
            [](const cluster::Moderation &m) -> const std::string * { return &m.key; },
            [](const cluster::JoinRequest &m) -> const std::string * { return &m.hostKey; },
            [](const cluster::JoinAnswer &m) -> const std::string * { return &m.joinerKey; },
            [](const cluster::Relay &m) -> const std::string * { return &m.peerKey; },
            [](const cluster::GameEnded &m) -> const std::string * { return &m.joinerKey; },
            [](const cluster::LeftGame &m) -> const std::string * { return &m.hostKey; },
            [](const cluster::GamePrivate &m) -> const std::string * { return &m.joinerKey; },
            [](const auto &) -> const std::string * { return nullptr; }},
        message);
}

} // namespace

// What a message for one player does to that player's session here, whether it came from
// a handler of this node or from another node.
void LobbyServer::receive(Session &session, const cluster::Message &message)
{
    auto &p = session.player;
    std::visit(
        Overloaded{[&](const cluster::ToPlayer &m) { session.sendText(m.line); },
                   [&](const cluster::Kick &m) {
                       const bool fromHere = m.node == m_nodeId;
                       session.sendText(
                           wireLine(WireKeyword::ERROR,
                                    "You have been logged off: your account logged in elsewhere."));
                       // A newer login at another node has told everyone already.
                       logoff(session,
                              fromHere ? "logged in elsewhere" : "logged in at another node",
                              fromHere);
                       session.closeAfterFlush("replaced by a newer login");
                   },
                   [&](const cluster::Moderation &m) {
                       switch (m.order) {
                       case cluster::Moderation::Order::Silence:
                           p.silenceUntil = m.until;
                           session.sendText(wireLine(WireKeyword::ERROR,
                                                     "A moderator has silenced you for " +
                                                         std::to_string(m.minutes) + " minutes."));
                           break;
                       case cluster::Moderation::Order::Unsilence:
                           p.silenceUntil = 0;
                           session.sendText(wireLine(WireKeyword::ERROR,
                                                     "A moderator has lifted your silence."));
                           break;
                       case cluster::Moderation::Order::Boot:
                           if (m.node != m_nodeId)
                               log(m.by + " boots " + p.name + " from another node");
                           session.sendText(wireLine(
                               WireKeyword::ERROR, "A moderator has removed you from the server."));
                           logoff(session, "booted by " + m.by);
                           session.closeAfterFlush("booted by " + m.by);
                           break;
                       }
                   },
                   [&](const cluster::JoinRequest &m) {
                       if (!p.hosting) {
                           replyTo(m.node, m.joinerKey,
                                   wireLine(WireKeyword::ERROR,
                                            m.hostName.substr(0, 40) +
                                                " is not hosting a game, you cannot join them."));
                           return;
                       }
                       p.pendingJoins.insert(m.joinerKey);
                       session.sendText(
                           wireLine(WireKeyword::SEND, m.joinerName, WireKeyword::JOIN, m.text));
                   },
                   [&](const cluster::JoinAnswer &m) {
                       if (!m.accepted) {
                           session.sendText(
                               wireLine(WireKeyword::SEND, p.name, WireKeyword::IGNO, m.hostName));
                           return;
                       }
                       session.sendText(
                           wireLine(WireKeyword::SEND, m.hostName, WireKeyword::IPTJ, m.address));
                       if (p.hosting)
                           endGame(session, false);
                       if (!p.joinedHost.empty())
                           leaveJoinedGame(session, false);
                       p.joinedHost = m.hostKey;
                       p.game = m.game;
                       announceEntry(session);
                   },
                   [&](const cluster::Relay &m) {
                       // The sender's node checked its half of the game; this is the peer's.
                       const bool ok = m.toHost
                                           ? p.hosting && p.assisted && p.joiners.count(m.senderKey)
                                           : p.joinedHost == m.senderKey;
                       if (!ok)
                           return;
                       session.sendText(wireLine(WireKeyword::DATASEND, m.senderName, m.payload));
                   },
                   [&](const cluster::GameEnded &m) {
                       if (p.joinedHost != m.hostKey)
                           return;
                       p.joinedHost.clear();
                       p.game.clear();
                       if (m.assisted)
                           session.sendText(wireLine(WireKeyword::DATASEND, m.hostName,
                                                     ostrel::kWireRelayClose));
                       announceEntry(session);
                   },
                   [&](const cluster::LeftGame &m) {
                       p.joiners.erase(m.joinerKey);
                       // The host's relay connection for this player would otherwise wait forever.
                       if (p.assisted)
                           session.sendText(wireLine(WireKeyword::DATASEND, m.joinerName,
                                                     ostrel::kWireRelayClose));
                   },
                   [&](const cluster::GamePrivate &m) {
                       if (p.joinedHost != m.hostKey)
                           return;
                       p.game = m.game;
                       announceEntry(session);
                   },
                   [](const auto &) {}},
        message);
}

// A message for one player arrived at this node, and the player is not here (gone since,
// or listed here no more by a node that took it for elsewhere). Whoever waits for an
// answer hears that it was not delivered; the rest is moot with the player gone.
void LobbyServer::notHere(const cluster::Message &message)
{
    if (const auto *line = std::get_if<cluster::ToPlayer>(&message)) {
        if (!line->undelivered.empty())
            replyTo(line->node, line->fromKey, line->undelivered);
    } else if (const auto *join = std::get_if<cluster::JoinRequest>(&message)) {
        replyTo(join->node, join->joinerKey,
                wireLine(WireKeyword::ERROR, join->hostName.substr(0, 40) +
                                                 " is not hosting a game, you cannot join them."));
    }
}

void LobbyServer::onClusterMessage(const std::string &payload)
{
    const auto message = cluster::decode(payload);
    if (!message)
        return;
    const std::string &node = cluster::nodeOf(*message);
    if (node == m_nodeId)
        return; // what this node published comes back to it as well
    if (m_directory.heard(*message, Clock::now())) {
        log("node " + node + " is heard again; asking for its players");
        publishTo(node, cluster::Hello{m_nodeId});
    }
    try {
        if (const auto *key = recipientKey(*message)) {
            if (auto *session = m_directory.localSession(*key))
                receive(*session, *message);
            else
                notHere(*message);
            return;
        }
        std::visit(Overloaded{[&](const cluster::Hello &) { publishTo(node, snapshot()); },
                              [&](const cluster::Snapshot &m) { applySnapshot(m); },
                              [&](const cluster::Presence &m) { remoteArrived(node, m.player); },
                              [&](const cluster::Departure &m) {
                                  const auto departed = m_directory.depart(m);
                                  // A newer login at another node is taking over this
                                  // node's session: the others hear of it from there; this
                                  // node's own players hear it now.
                                  if (departed.takenOverHere) {
                                      auto *local = m_directory.localSession(m.key);
                                      localBroadcast(
                                          wireLine(WireKeyword::GREMOVEGUEST, local->player.name),
                                          local, true);
                                  } else if (departed.forgotten) {
                                      remoteLeft(*departed.forgotten);
                                  }
                              },
                              [&](const cluster::Broadcast &m) {
                                  if (m.scope == "*")
                                      localBroadcast(m.line, nullptr, m.presence);
                                  else
                                      localToRoom(m.scope, m.line, nullptr, m.presence);
                              },
                              [&](const cluster::Bye &) { remoteNodeGone(node, "shut down"); },
                              [&](const cluster::Operator &m) { onOperatorMessage(m); },
                              [](const auto &) {}},
                   *message);
    } catch (const std::exception &e) {
        log("cluster message " + cluster::toFrame(*message).kind + ": " + e.what());
    }
}

void LobbyServer::clusterTick()
{
    if (!m_cluster || m_stopping)
        return;
    publishAll(cluster::Heartbeat{m_nodeId});
    for (const auto &node : m_directory.silentSince(Clock::now() - 4 * m_heartbeatPeriod))
        remoteNodeGone(node, "stopped answering");
    m_clusterTimer.expires_after(m_heartbeatPeriod);
    m_clusterTimer.async_wait([this](const std::error_code &error) {
        if (!error)
            clusterTick();
    });
}
