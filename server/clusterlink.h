#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A server node's link to the other nodes of its lobby through a Redis server's
// publish/subscribe: one connection publishes, a second one is subscribed (Redis allows
// nothing else on a subscribed connection). Messages one node publishes reach every
// subscriber in the order they were published. Commands are encoded and replies decoded
// with hiredis; the sockets are the server's own Asio sockets on its single thread, so a
// handler may call anything of the server.
//
// A connection that fails is opened again after a growing pause (100 ms to 2 s); the
// subscriptions are renewed, and what was published meanwhile waits (up to a bound). When
// other nodes were hearing this one before, it goes out only once they hear again: the
// publishing connection, back, publishes the owner's probe (a heartbeat) on the first
// channel until Redis counts as many receivers as before, for at most kRejoinWait (a
// Redis restart drops every node's subscription, and each comes back in its own time).
// Messages published by other nodes while the subscribed connection was down are lost:
// onLink tells the owner, which must bring its view of the other nodes up to date again.
class ClusterLink
{
public:
    struct Address
    {
        std::string host = "127.0.0.1";
        unsigned short port = 6379;
        std::string password;
    };
    // "redis://[:PASSWORD@]HOST[:PORT][/]"; nothing when the text is not such an address.
    static std::optional<Address> parseAddress(std::string_view url);

    // Bytes of unsent publications kept while the publishing connection is down; beyond
    // them the oldest are dropped.
    static constexpr std::size_t kMaxWaitingBytes = 64 * 1024 * 1024;
    // How long publications wait for the other nodes to subscribe again.
    static constexpr std::chrono::seconds kRejoinWait{10};

    // Told how many subscribers received a publication; -1 when that is not known (the
    // connection broke before Redis answered, or the publication was dropped unsent).
    using Delivered = std::function<void(long long receivers)>;

    ClusterLink(asio::io_context &io, Address address);
    ~ClusterLink();
    ClusterLink(const ClusterLink &) = delete;
    ClusterLink &operator=(const ClusterLink &) = delete;

    // Channels are remembered and subscribed again after every reconnection.
    void subscribe(const std::string &channel);
    void publish(std::string_view channel, std::string_view payload, Delivered delivered = {});
    void start();
    void stop();

    // Both connections up and the subscriptions confirmed.
    bool ready() const;
    std::uint64_t dropped() const { return m_dropped; }
    // Bytes of publications not yet handed to Redis.
    std::size_t waitingBytes() const;

    std::function<void(const std::string &channel, const std::string &payload)> onMessage;
    // Called with true when both connections are up and subscribed, false when one of
    // them is lost.
    std::function<void(bool ready)> onLink;
    // Published on the first channel to learn whether the other nodes hear again; empty:
    // publications go out as soon as the connection is back.
    std::string probe;

private:
    class Connection;
    friend class Connection;
    struct Pending
    {
        std::string bytes;
        Delivered delivered;
    };

    void connectionChanged();
    void publisherLost();
    void publisherUp();
    void probeOnce();
    void hold(Pending pending);
    void releaseHeld();
    void messageArrived(const std::string &channel, const std::string &payload);

    asio::io_context &m_io;
    Address m_address;
    std::vector<std::string> m_channels;
    std::unique_ptr<Connection> m_publisher;
    std::unique_ptr<Connection> m_subscriber;
    bool m_ready = false;
    std::uint64_t m_dropped = 0;
    // Subscribers of the first channel at the last publication there (this node's own
    // among them).
    long long m_lastReceivers = 0;
    // Publications held until the other nodes hear again.
    bool m_gated = false;
    std::deque<Pending> m_held;
    std::size_t m_heldBytes = 0;
    std::chrono::steady_clock::time_point m_gateUntil;
    std::unique_ptr<asio::steady_timer> m_gateTimer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
