#include "clustermessage.h"

#include <charconv>
#include <cmath>
#include <type_traits>

namespace {

void append(std::string &out, std::string_view field)
{
    out.append(std::to_string(field.size())).append(":").append(field);
}

// Reads one length-prefixed field from the front of `bytes`.
std::optional<std::string> take(std::string_view &bytes)
{
    const auto colon = bytes.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 10)
        return std::nullopt;
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + colon, length);
    if (error != std::errc() || end != bytes.data() + colon || length > bytes.size() - colon - 1)
        return std::nullopt;
    std::string field(bytes.substr(colon + 1, length));
    bytes.remove_prefix(colon + 1 + length);
    return field;
}

} // namespace

std::string ClusterMessage::encode() const
{
    std::size_t size = kind.size() + 8;
    for (const auto &f : fields)
        size += f.size() + 8;
    std::string out;
    out.reserve(size);
    append(out, kind);
    for (const auto &f : fields)
        append(out, f);
    return out;
}

std::optional<ClusterMessage> ClusterMessage::decode(std::string_view bytes)
{
    ClusterMessage message;
    auto kind = take(bytes);
    if (!kind || kind->empty())
        return std::nullopt;
    message.kind = std::move(*kind);
    while (!bytes.empty()) {
        auto field = take(bytes);
        if (!field)
            return std::nullopt;
        message.fields.push_back(std::move(*field));
    }
    return message;
}

const std::string &ClusterMessage::field(std::size_t index) const
{
    static const std::string empty;
    return index < fields.size() ? fields[index] : empty;
}

namespace cluster {
namespace {

std::string flag(bool on)
{
    return on ? "1" : "0";
}

std::optional<bool> readFlag(const std::string &text)
{
    if (text == "1")
        return true;
    if (text == "0")
        return false;
    return std::nullopt;
}

template <class Number> std::optional<Number> readInteger(const std::string &text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Login times travel as std::to_string writes them; anything a finite number is taken.
std::optional<double> readSince(const std::string &text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string flagsOf(const PlayerState &p)
{
    std::string flags;
    if (p.hosting)
        flags += 'h';
    if (p.assisted)
        flags += 'a';
    return flags;
}

void appendPlayer(std::vector<std::string> &fields, const PlayerState &p)
{
    fields.push_back(p.key);
    fields.push_back(p.name);
    fields.push_back(p.room);
    fields.push_back(p.entry);
    fields.push_back(std::to_string(p.since));
    fields.push_back(flagsOf(p));
}

// Six fields from `at`: key name room entry since flags.
std::optional<PlayerState> readPlayer(const std::vector<std::string> &f, std::size_t at)
{
    const auto since = readSince(f[at + 4]);
    if (!since || f[at].empty())
        return std::nullopt;
    PlayerState p{f[at], f[at + 1], f[at + 2], f[at + 3], *since, false, false};
    // Letters this node does not know are a newer node's; they change nothing here.
    p.hosting = f[at + 5].find('h') != std::string::npos;
    p.assisted = f[at + 5].find('a') != std::string::npos;
    return p;
}

using Fields = std::vector<std::string>;

Fields fieldsOf(const Heartbeat &m)
{
    return {m.node};
}
Fields fieldsOf(const Hello &m)
{
    return {m.node};
}
Fields fieldsOf(const Bye &m)
{
    return {m.node};
}
Fields fieldsOf(const Snapshot &m)
{
    Fields f{m.node};
    f.reserve(1 + 6 * m.players.size());
    for (const auto &p : m.players)
        appendPlayer(f, p);
    return f;
}
Fields fieldsOf(const Presence &m)
{
    Fields f{m.node};
    appendPlayer(f, m.player);
    return f;
}
Fields fieldsOf(const Departure &m)
{
    return {m.node, m.key, m.name, m.where};
}
Fields fieldsOf(const Broadcast &m)
{
    return {m.node, m.scope, flag(m.presence), m.line};
}
Fields fieldsOf(const ToPlayer &m)
{
    if (m.undelivered.empty())
        return {m.node, m.key, m.line};
    return {m.node, m.key, m.line, m.fromKey, m.undelivered};
}
Fields fieldsOf(const Kick &m)
{
    return {m.node, m.key};
}
Fields fieldsOf(const Moderation &m)
{
    switch (m.order) {
    case Moderation::Order::Silence:
        return {m.node, m.key, "SILENCE", std::to_string(m.until), std::to_string(m.minutes)};
    case Moderation::Order::Unsilence:
        return {m.node, m.key, "UNSILENCE", "0", "0"};
    case Moderation::Order::Boot:
        break;
    }
    return {m.node, m.key, "BOOT", "0", m.by};
}
Fields fieldsOf(const JoinRequest &m)
{
    return {m.node, m.hostKey, m.joinerKey, m.joinerName, m.text, m.hostName};
}
Fields fieldsOf(const JoinAnswer &m)
{
    return {m.node, m.joinerKey, m.hostKey, m.hostName, m.game, flag(m.accepted), m.address};
}
Fields fieldsOf(const Relay &m)
{
    return {m.node,   m.peerKey, m.senderKey, m.senderName, m.toHost ? "tohost" : "tojoiner",
            m.payload};
}
Fields fieldsOf(const GameEnded &m)
{
    return {m.node, m.joinerKey, m.hostKey, m.hostName, flag(m.assisted)};
}
Fields fieldsOf(const LeftGame &m)
{
    return {m.node, m.hostKey, m.joinerKey, m.joinerName};
}
Fields fieldsOf(const GamePrivate &m)
{
    return {m.node, m.joinerKey, m.hostKey, m.game};
}
Fields fieldsOf(const Operator &m)
{
    return {m.node, m.order, m.argument};
}

// Each reader gets the fields of a frame of its kind, at least one (the node) and not
// empty there.
std::optional<Message> readHeartbeat(const Fields &f)
{
    return Heartbeat{f[0]};
}
std::optional<Message> readHello(const Fields &f)
{
    return Hello{f[0]};
}
std::optional<Message> readBye(const Fields &f)
{
    return Bye{f[0]};
}

std::optional<Message> readSnapshot(const Fields &f)
{
    // A partial player would shift every field after it: the whole list is suspect.
    if ((f.size() - 1) % 6 != 0)
        return std::nullopt;
    Snapshot m{f[0], {}};
    m.players.reserve((f.size() - 1) / 6);
    for (std::size_t at = 1; at < f.size(); at += 6) {
        auto p = readPlayer(f, at);
        if (!p)
            return std::nullopt;
        m.players.push_back(std::move(*p));
    }
    return m;
}

std::optional<Message> readPresence(const Fields &f)
{
    if (f.size() < 7)
        return std::nullopt;
    auto p = readPlayer(f, 1);
    if (!p)
        return std::nullopt;
    return Presence{f[0], std::move(*p)};
}

std::optional<Message> readDeparture(const Fields &f)
{
    if (f.size() < 3 || f[1].empty())
        return std::nullopt;
    const std::string &where = f.size() >= 4 && !f[3].empty() ? f[3] : f[0];
    return Departure{f[0], f[1], f[2], where};
}

std::optional<Message> readBroadcast(const Fields &f)
{
    if (f.size() < 4 || f[1].empty())
        return std::nullopt;
    const auto presence = readFlag(f[2]);
    if (!presence)
        return std::nullopt;
    return Broadcast{f[0], f[1], *presence, f[3]};
}

std::optional<Message> readToPlayer(const Fields &f)
{
    if (f.size() < 3 || f[1].empty())
        return std::nullopt;
    ToPlayer m{f[0], f[1], f[2], {}, {}};
    if (f.size() >= 5 && !f[4].empty()) {
        m.fromKey = f[3];
        m.undelivered = f[4];
    }
    return m;
}

std::optional<Message> readKick(const Fields &f)
{
    if (f.size() < 2 || f[1].empty())
        return std::nullopt;
    return Kick{f[0], f[1]};
}

std::optional<Message> readModeration(const Fields &f)
{
    if (f.size() < 5 || f[1].empty())
        return std::nullopt;
    Moderation m{f[0], f[1], Moderation::Order::Boot, 0, 0, {}};
    if (f[2] == "SILENCE") {
        const auto until = readInteger<std::int64_t>(f[3]);
        const auto minutes = readInteger<std::int32_t>(f[4]);
        if (!until || !minutes || *minutes < 0)
            return std::nullopt;
        m.order = Moderation::Order::Silence;
        m.until = *until;
        m.minutes = *minutes;
    } else if (f[2] == "UNSILENCE") {
        m.order = Moderation::Order::Unsilence;
    } else if (f[2] == "BOOT") {
        m.by = f[4];
    } else {
        return std::nullopt;
    }
    return m;
}

std::optional<Message> readJoinRequest(const Fields &f)
{
    if (f.size() < 6 || f[1].empty() || f[2].empty())
        return std::nullopt;
    return JoinRequest{f[0], f[1], f[2], f[3], f[4], f[5]};
}

std::optional<Message> readJoinAnswer(const Fields &f)
{
    if (f.size() < 7 || f[1].empty() || f[2].empty())
        return std::nullopt;
    const auto accepted = readFlag(f[5]);
    if (!accepted)
        return std::nullopt;
    return JoinAnswer{f[0], f[1], f[2], f[3], f[4], *accepted, f[6]};
}

std::optional<Message> readRelay(const Fields &f)
{
    if (f.size() < 6 || f[1].empty() || f[2].empty() || (f[4] != "tohost" && f[4] != "tojoiner"))
        return std::nullopt;
    return Relay{f[0], f[1], f[2], f[3], f[4] == "tohost", f[5]};
}

std::optional<Message> readGameEnded(const Fields &f)
{
    if (f.size() < 5 || f[1].empty() || f[2].empty())
        return std::nullopt;
    const auto assisted = readFlag(f[4]);
    if (!assisted)
        return std::nullopt;
    return GameEnded{f[0], f[1], f[2], f[3], *assisted};
}

std::optional<Message> readLeftGame(const Fields &f)
{
    if (f.size() < 4 || f[1].empty() || f[2].empty())
        return std::nullopt;
    return LeftGame{f[0], f[1], f[2], f[3]};
}

std::optional<Message> readGamePrivate(const Fields &f)
{
    if (f.size() < 4 || f[1].empty() || f[2].empty())
        return std::nullopt;
    return GamePrivate{f[0], f[1], f[2], f[3]};
}

std::optional<Message> readOperator(const Fields &f)
{
    if (f.size() < 3 || f[1].empty())
        return std::nullopt;
    return Operator{f[0], f[1], f[2]};
}

struct Reader
{
    std::string_view kind;
    std::optional<Message> (*read)(const Fields &);
};

constexpr Reader kReaders[] = {
    {Heartbeat::kKind, readHeartbeat},     {Hello::kKind, readHello},
    {Snapshot::kKind, readSnapshot},       {Presence::kKind, readPresence},
    {Departure::kKind, readDeparture},     {Broadcast::kKind, readBroadcast},
    {ToPlayer::kKind, readToPlayer},       {Kick::kKind, readKick},
    {Moderation::kKind, readModeration},   {JoinRequest::kKind, readJoinRequest},
    {JoinAnswer::kKind, readJoinAnswer},   {Relay::kKind, readRelay},
    {GameEnded::kKind, readGameEnded},     {LeftGame::kKind, readLeftGame},
    {GamePrivate::kKind, readGamePrivate}, {Bye::kKind, readBye},
    {Operator::kKind, readOperator},
};

} // namespace

ClusterMessage toFrame(const Message &message)
{
    return std::visit(
        [](const auto &m) {
            return ClusterMessage{std::string(std::decay_t<decltype(m)>::kKind), fieldsOf(m)};
        },
        message);
}

std::string encode(const Message &message)
{
    return toFrame(message).encode();
}

std::optional<Message> fromFrame(const ClusterMessage &frame)
{
    if (frame.fields.empty() || frame.fields[0].empty())
        return std::nullopt;
    for (const auto &reader : kReaders)
        if (reader.kind == frame.kind)
            return reader.read(frame.fields);
    return std::nullopt;
}

std::optional<Message> decode(std::string_view bytes)
{
    const auto frame = ClusterMessage::decode(bytes);
    return frame ? fromFrame(*frame) : std::nullopt;
}

const std::string &nodeOf(const Message &message)
{
    return std::visit([](const auto &m) -> const std::string & { return m.node; }, message);
}

} // namespace cluster
