#pragma once

#include <asio/io_context.hpp>

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
// subscriptions are renewed, and what was published meanwhile waits (up to a bound) and
// goes out once the publishing connection is back. Messages published by other nodes
// while the subscribed connection was down are lost: onLink tells the owner, which must
// bring its view of the other nodes up to date again.
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

    ClusterLink(asio::io_context &io, Address address);
    ~ClusterLink();
    ClusterLink(const ClusterLink &) = delete;
    ClusterLink &operator=(const ClusterLink &) = delete;

    // Channels are remembered and subscribed again after every reconnection.
    void subscribe(const std::string &channel);
    void publish(std::string_view channel, std::string_view payload);
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

private:
    class Connection;
    friend class Connection;

    void connectionChanged();
    void messageArrived(const std::string &channel, const std::string &payload);

    asio::io_context &m_io;
    Address m_address;
    std::vector<std::string> m_channels;
    std::unique_ptr<Connection> m_publisher;
    std::unique_ptr<Connection> m_subscriber;
    bool m_ready = false;
    std::uint64_t m_dropped = 0;
};
