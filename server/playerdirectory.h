#pragma once

#include "clustermessage.h"
#include "nodepool.h"
#include "remoteplayers.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ClientSession;

// Where each player of the lobby is: a session at this node, or another node of the
// cluster. The command handlers look a name up here and hand what they have for the
// player to the recipient they get, wherever it is; the rules of who is listed where,
// as the nodes' messages change it, live here too. Sessions are only pointed to, never
// used: what is done to them is the server's.
class PlayerDirectory
{
public:
    using Clock = std::chrono::steady_clock;
    // Pooled: a newcomer's list walks every node of it (NodePool).
    using LocalPlayers =
        std::unordered_map<std::string, ClientSession *, std::hash<std::string>,
                           std::equal_to<std::string>,
                           NodePool::Allocator<std::pair<const std::string, ClientSession *>>>;

    // A player's session at this node, or the node where the player is.
    class Recipient
    {
    public:
        static Recipient local(std::string key, ClientSession *session)
        {
            return Recipient(std::move(key), session, {});
        }
        static Recipient elsewhere(std::string key, std::string node)
        {
            return Recipient(std::move(key), nullptr, std::move(node));
        }
        const std::string &key() const { return m_key; }
        // Null for a player at another node.
        ClientSession *session() const { return m_session; }
        // The other node; empty for a player here.
        const std::string &node() const { return m_node; }

    private:
        Recipient(std::string key, ClientSession *session, std::string node)
            : m_key(std::move(key)), m_session(session), m_node(std::move(node))
        {
        }
        std::string m_key;
        ClientSession *m_session;
        std::string m_node;
    };

    // `local` is the server's own table of logged-in sessions by key.
    explicit PlayerDirectory(const LocalPlayers &local) : m_local(local) {}

    // This node's id in the cluster; empty for a server on its own.
    void setNode(std::string node) { m_node = std::move(node); }
    const std::string &node() const { return m_node; }

    // Nothing when nobody of that name is online anywhere.
    std::optional<Recipient> find(std::string_view name) const;
    // The player `key` at `node`, as a message from there names it: an answer goes back
    // to where the asker was, whoever this node lists under the name by now. Nothing when
    // `node` is this one and the player has gone.
    std::optional<Recipient> at(const std::string &node, const std::string &key) const;
    ClientSession *localSession(const std::string &key) const;

    const RemotePlayers &remote() const { return m_remote; }
    std::size_t size() const { return m_local.size() + m_remote.size(); }

    // The same account logged in at two nodes at the same moment: true when the login at
    // `node` (at `since`, seconds since the epoch) is the later one and stays, as the
    // later login does on one node. Equal times go to the greater node id, the same way
    // on both nodes.
    static bool laterLogin(double since, const std::string &node, double otherSince,
                           const std::string &otherNode);

    // Lists or relists a player of another node.
    void list(const std::string &node, const cluster::PlayerState &player);

    struct Departed
    {
        // The player this node listed at the departure's node and lists no more.
        std::optional<RemotePlayers::Player> forgotten;
        // The departure was of this node's own session, which a newer login at the
        // publishing node takes over: this node's players hear of it here.
        bool takenOverHere = false;
    };
    // Only the session at the node the departure names has gone: a player of the same
    // name at another node, or here, has logged in since and stays listed.
    Departed depart(const cluster::Departure &departure);

    // Takes a player off the other node that listed it, for a newer login here; returns
    // what was listed.
    std::optional<RemotePlayers::Player> takeOver(const std::string &key);

    struct SnapshotChange
    {
        // Players new to this node's view, or listed with another entry or room.
        std::vector<cluster::PlayerState> arrived;
        // Players of that node it no longer lists; forgotten already.
        std::vector<RemotePlayers::Player> left;
    };
    // What a node's snapshot changes in this node's view of it. The arrivals are not
    // listed yet: a listing may end a session here (laterLogin), which is the server's.
    SnapshotChange compare(const cluster::Snapshot &snapshot);

    // Forgets every player of a node (it said goodbye, or went silent); returns them.
    std::vector<std::pair<std::string, RemotePlayers::Player>> forgetNode(const std::string &node);

    // Notes that a message of another node arrived. True when that node must be asked for
    // its players: it is new here, or was taken for gone (it stalled, or its link to
    // Redis did) and its players were forgotten. Messages that bring the players along
    // anyway, or say goodbye, ask nothing.
    bool heard(const cluster::Message &message, Clock::time_point when);
    // Nodes last heard from before `deadline`.
    std::vector<std::string> silentSince(Clock::time_point deadline) const;

private:
    const LocalPlayers &m_local;
    RemotePlayers m_remote;
    std::string m_node;
};
