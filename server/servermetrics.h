#pragma once

#include "metricsregistry.h"
#include "wirekeyword.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

// The lobby server's own figures, for its operators. The counters here are bumped where
// things happen; what can be read off the server's state (players, connections, queues,
// links) is registered as gauges by the server itself.
class ServerMetrics
{
    // First: the references below are bound to what it holds.
    MetricsRegistry m_registry;

public:
    // Why the server ended a connection on its own.
    enum class Drop { SlowReader, Flood, LoginTime, Full, Silent, LineTooLong, Count };

    // The keywords lines are counted under, in and out; any other counts as "other", so
    // that a hostile client cannot add series.
    static constexpr std::array kKeywords = {
        ostrel::WireKeyword::LOGIN,       ostrel::WireKeyword::LOGINNEW,
        ostrel::WireKeyword::PING,        ostrel::WireKeyword::SEND,
        ostrel::WireKeyword::JOINSUBJECT, ostrel::WireKeyword::USERINFO,
        ostrel::WireKeyword::USERUPDATE,  ostrel::WireKeyword::INVITE,
        ostrel::WireKeyword::ADDGAME,     ostrel::WireKeyword::ADDASSISTED,
        ostrel::WireKeyword::DELETEGAME,  ostrel::WireKeyword::PRIVATE,
        ostrel::WireKeyword::HADMIN,      ostrel::WireKeyword::ERROR,
        ostrel::WireKeyword::NEWSUCCESS,  ostrel::WireKeyword::SUBJECTS,
        ostrel::WireKeyword::GAMES,       ostrel::WireKeyword::NEWS,
        ostrel::WireKeyword::SERVERSTATS, ostrel::WireKeyword::ADDGUEST,
        ostrel::WireKeyword::REMOVEGUEST, ostrel::WireKeyword::GREMOVEGUEST,
        ostrel::WireKeyword::CHAT,        ostrel::WireKeyword::GHAT,
        ostrel::WireKeyword::SHOUT,       ostrel::WireKeyword::DATASEND};

    ServerMetrics();
    ServerMetrics(const ServerMetrics &) = delete;
    ServerMetrics &operator=(const ServerMetrics &) = delete;

    MetricsRegistry &registry() { return m_registry; }
    std::string render() const { return m_registry.render(); }

    void lineIn(std::optional<ostrel::WireKeyword> keyword);
    // A line queued for a client, still scrambled as it goes on the wire; a broadcast
    // counts it once for all its receivers.
    void lineOut(std::string_view scrambled, std::uint64_t receivers = 1);
    void drop(Drop reason) { m_drops[static_cast<std::size_t>(reason)]->add(); }
    // A system call that wrote to a client: it took all it was offered, part of it, or
    // nothing (the socket was full). Inside TLS, one per batch of lines the stream wrote.
    enum class Write { Whole, Partial, Refused, Count };
    void writeCall(Write result) { m_writes[static_cast<std::size_t>(result)]->add(); }

    MetricsRegistry::Counter &logins;
    MetricsRegistry::Counter &failedLogins;
    MetricsRegistry::Counter &accountsCreated;
    MetricsRegistry::Counter &bytesIn;
    MetricsRegistry::Counter &bytesOut;
    MetricsRegistry::Counter &relayBytes;
    MetricsRegistry::Counter &keptMessages;
    MetricsRegistry::Counter &storeErrors;
    MetricsRegistry::Histogram &storeSeconds;
    MetricsRegistry::Histogram &hashWaitSeconds;
    MetricsRegistry::Counter &adminActions;

private:
    std::array<MetricsRegistry::Counter *, kKeywords.size() + 1> m_linesIn{};
    std::array<MetricsRegistry::Counter *, kKeywords.size() + 1> m_linesOut{};
    std::array<MetricsRegistry::Counter *, static_cast<std::size_t>(Drop::Count)> m_drops{};
    std::array<MetricsRegistry::Counter *, static_cast<std::size_t>(Write::Count)> m_writes{};
};
