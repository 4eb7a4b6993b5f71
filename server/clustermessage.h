#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One message between the server nodes of a lobby, as published through Redis: a kind
// and its fields, each field written as its length in decimal, ":", and its bytes, so that
// any bytes a player sent travel unchanged and a field can never run into the next.
struct ClusterMessage
{
    std::string kind;
    std::vector<std::string> fields;

    std::string encode() const;
    // Nothing when the bytes are not a whole message (a foreign publisher, a bug): the
    // receiver drops it.
    static std::optional<ClusterMessage> decode(std::string_view bytes);

    const std::string &field(std::size_t index) const;
};

// What the nodes say to each other, one struct per kind of message. The first field of
// every kind is the node that published it. Nodes of different versions meet during a
// rolling restart, so the layout of a kind never changes: a decoder takes fields added
// after those it knows, and refuses a message that lacks one it needs or holds one it
// cannot read (a number that is none, a flag that is neither "0" nor "1").
namespace cluster {

// A player as the other nodes list it.
struct PlayerState
{
    std::string key{};
    std::string name{};
    std::string room{};
    std::string entry{}; // "name+hat+room+game", as the lists show it
    double since = 0;    // login time, seconds since the epoch
    bool hosting = false;
    bool assisted = false; // the game is relayed through the servers
    bool operator==(const PlayerState &) const = default;
};

// HB node: the node is alive.
struct Heartbeat
{
    static constexpr std::string_view kKind = "HB";
    std::string node{};
    bool operator==(const Heartbeat &) const = default;
};

// HELLO node: the node (re)joined, or wants another's players again; answered with SNAP.
struct Hello
{
    static constexpr std::string_view kKind = "HELLO";
    std::string node{};
    bool operator==(const Hello &) const = default;
};

// SNAP node (key name room entry since flags)...: all players of a node, replacing what
// the receiver knew of them. Flags: "h" hosting, "a" relayed.
struct Snapshot
{
    static constexpr std::string_view kKind = "SNAP";
    std::string node{};
    std::vector<PlayerState> players{};
    bool operator==(const Snapshot &) const = default;
};

// P node key name room entry since flags: a player's arrival or new entry.
struct Presence
{
    static constexpr std::string_view kKind = "P";
    std::string node{};
    PlayerState player{};
    bool operator==(const Presence &) const = default;
};

// G node key name [where]: the session of a player at `where` ended. `where` is the
// publisher itself for an ordinary logoff, another node when a newer login at the
// publisher ends a session there; older nodes leave it out and mean themselves.
struct Departure
{
    static constexpr std::string_view kKind = "G";
    std::string node{};
    std::string key{};
    std::string name{};
    std::string where{};
    bool operator==(const Departure &) const = default;
};

// L node scope presence line: a line for every player ("*") or for a room's players;
// presence lines may wait for the receiver's next presence flush.
struct Broadcast
{
    static constexpr std::string_view kKind = "L";
    std::string node{};
    std::string scope{};
    bool presence = false;
    std::string line{};
    bool operator==(const Broadcast &) const = default;
};

// T node key line [fromkey undelivered]: a line for one player. When the player is not
// at the receiving node, the player `fromkey` at the publisher gets `undelivered` instead
// (if there is one).
struct ToPlayer
{
    static constexpr std::string_view kKind = "T";
    std::string node{};
    std::string key{};
    std::string line{};
    std::string fromKey{};
    std::string undelivered{};
    bool operator==(const ToPlayer &) const = default;
};

// K node key: a newer login at the publisher ends this session, without a word to the
// others (the publisher has told them).
struct Kick
{
    static constexpr std::string_view kKind = "K";
    std::string node{};
    std::string key{};
    bool operator==(const Kick &) const = default;
};

// M node key order a b: moderation of a player. SILENCE: a = until (seconds since the
// epoch), b = minutes; UNSILENCE: "0" "0"; BOOT: "0", b = who boots.
struct Moderation
{
    static constexpr std::string_view kKind = "M";
    enum class Order { Silence, Unsilence, Boot };
    std::string node{};
    std::string key{};
    Order order = Order::Silence;
    std::int64_t until = 0;
    std::int32_t minutes = 0;
    std::string by{};
    bool operator==(const Moderation &) const = default;
};

// J node hostkey joinerkey joinername text hostname: a request to join a game.
struct JoinRequest
{
    static constexpr std::string_view kKind = "J";
    std::string node{};
    std::string hostKey{};
    std::string joinerKey{};
    std::string joinerName{};
    std::string text{};
    std::string hostName{}; // as the joiner wrote it, for the refusal
    bool operator==(const JoinRequest &) const = default;
};

// JA node joinerkey hostkey hostname game accepted address: the host's answer.
struct JoinAnswer
{
    static constexpr std::string_view kKind = "JA";
    std::string node{};
    std::string joinerKey{};
    std::string hostKey{};
    std::string hostName{};
    std::string game{};
    bool accepted = false;
    std::string address{};
    bool operator==(const JoinAnswer &) const = default;
};

// D node peerkey senderkey sendername direction payload: relayed game bytes;
// direction "tohost" or "tojoiner". The publisher checked the sender's half of the
// game, the receiver checks the peer's.
struct Relay
{
    static constexpr std::string_view kKind = "D";
    std::string node{};
    std::string peerKey{};
    std::string senderKey{};
    std::string senderName{};
    bool toHost = false;
    std::string payload{};
    bool operator==(const Relay &) const = default;
};

// EG node joinerkey hostkey hostname assisted: the host's game ended.
struct GameEnded
{
    static constexpr std::string_view kKind = "EG";
    std::string node{};
    std::string joinerKey{};
    std::string hostKey{};
    std::string hostName{};
    bool assisted = false;
    bool operator==(const GameEnded &) const = default;
};

// LJ node hostkey joinerkey joinername: a player left the host's game.
struct LeftGame
{
    static constexpr std::string_view kKind = "LJ";
    std::string node{};
    std::string hostKey{};
    std::string joinerKey{};
    std::string joinerName{};
    bool operator==(const LeftGame &) const = default;
};

// PG node joinerkey hostkey game: the host made the game private.
struct GamePrivate
{
    static constexpr std::string_view kKind = "PG";
    std::string node{};
    std::string joinerKey{};
    std::string hostKey{};
    std::string game{};
    bool operator==(const GamePrivate &) const = default;
};

// BYE node: the node is shutting down or restarting its listener.
struct Bye
{
    static constexpr std::string_view kKind = "BYE";
    std::string node{};
    bool operator==(const Bye &) const = default;
};

// OP node order argument: an operator's action for every node. NEWS (reread the news
// file), DRAIN (argument: minutes).
struct Operator
{
    static constexpr std::string_view kKind = "OP";
    std::string node{};
    std::string order{};
    std::string argument{};
    bool operator==(const Operator &) const = default;
};

using Message = std::variant<Heartbeat, Hello, Snapshot, Presence, Departure, Broadcast, ToPlayer,
                             Kick, Moderation, JoinRequest, JoinAnswer, Relay, GameEnded, LeftGame,
                             GamePrivate, Bye, Operator>;

ClusterMessage toFrame(const Message &message);
std::string encode(const Message &message);
// Nothing for bytes that are not a whole message of a known kind: the receiver drops it.
std::optional<Message> decode(std::string_view bytes);
std::optional<Message> fromFrame(const ClusterMessage &frame);
// The publishing node of any kind.
const std::string &nodeOf(const Message &message);

} // namespace cluster
