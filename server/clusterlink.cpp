#include "clusterlink.h"

#include <hiredis/hiredis.h>

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace {

std::string command(std::initializer_list<std::string_view> words)
{
    std::vector<const char *> argv;
    std::vector<std::size_t> lengths;
    for (const auto word : words) {
        argv.push_back(word.data());
        lengths.push_back(word.size());
    }
    char *formatted = nullptr;
    const int length = redisFormatCommandArgv(&formatted, static_cast<int>(argv.size()),
                                              argv.data(), lengths.data());
    if (length < 0)
        throw std::bad_alloc();
    std::string out(formatted, static_cast<std::size_t>(length));
    redisFreeCommand(formatted);
    return out;
}

std::string text(const redisReply *reply)
{
    return reply && reply->str ? std::string(reply->str, reply->len) : std::string();
}

} // namespace

class ClusterLink::Connection
{
public:
    enum class Role { Publisher, Subscriber };

    Connection(ClusterLink &link, Role role)
        : m_link(link), m_role(role), m_socket(link.m_io), m_timer(link.m_io)
    {
    }
    ~Connection()
    {
        m_stopped = true;
        if (m_reader)
            redisReaderFree(m_reader);
    }

    void open()
    {
        m_stopped = false;
        ++m_generation;
        asio::error_code ec;
        const auto address = asio::ip::make_address(m_link.m_address.host, ec);
        std::vector<asio::ip::tcp::endpoint> endpoints;
        if (!ec) {
            endpoints.emplace_back(address, m_link.m_address.port);
        } else {
            asio::ip::tcp::resolver resolver(m_link.m_io);
            for (const auto &entry :
                 resolver.resolve(m_link.m_address.host, std::to_string(m_link.m_address.port), ec))
                endpoints.push_back(entry.endpoint());
            if (ec || endpoints.empty()) {
                retryLater();
                return;
            }
        }
        auto alive = m_alive;
        const auto generation = m_generation;
        asio::async_connect(m_socket, endpoints,
                            [this, alive, generation](const asio::error_code &error, const auto &) {
                                if (!current(alive, generation))
                                    return;
                                if (error) {
                                    retryLater();
                                    return;
                                }
                                connected();
                            });
    }

    void close()
    {
        m_stopped = true;
        ++m_generation;
        m_writing = false;
        m_inFlight.clear();
        failAwaiting();
        m_timer.cancel();
        asio::error_code ignored;
        m_socket.close(ignored);
        m_up = false;
        m_subscribed = 0;
    }

    std::size_t waitingBytes() const { return m_waitingBytes; }

    bool up() const
    {
        return m_up && (m_role == Role::Publisher || m_subscribed >= m_link.m_channels.size());
    }

    void send(std::string bytes, Delivered delivered = {})
    {
        m_waitingBytes += bytes.size();
        m_waiting.push_back({std::move(bytes), std::move(delivered)});
        while (m_waitingBytes > kMaxWaitingBytes && m_waiting.size() > 1 && !m_writing) {
            m_waitingBytes -= m_waiting.front().bytes.size();
            if (m_waiting.front().delivered)
                m_waiting.front().delivered(-1);
            m_waiting.pop_front();
            ++m_link.m_dropped;
        }
        if (m_up)
            flush();
    }

    // What waits unsent, taken away (to be held while the other nodes come back).
    std::deque<Pending> takeWaiting()
    {
        m_waitingBytes = 0;
        return std::exchange(m_waiting, {});
    }

private:
    bool current(const std::shared_ptr<bool> &alive, std::uint64_t generation) const
    {
        return *alive && !m_stopped && generation == m_generation;
    }

    void connected()
    {
        asio::error_code ignored;
        m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        if (m_reader)
            redisReaderFree(m_reader);
        m_reader = redisReaderCreate();
        m_backoff = std::chrono::milliseconds(100);
        m_up = true;
        m_subscribed = 0;
        if (m_role == Role::Subscriber) {
            // A lost connection may have left a half-written command; the queue holds
            // only the subscriptions, made afresh.
            m_waiting.clear();
            m_waitingBytes = 0;
            for (const auto &channel : m_link.m_channels)
                m_waiting.push_back({command({"SUBSCRIBE", channel}), {}});
        }
        if (!m_link.m_address.password.empty())
            m_waiting.push_front({command({"AUTH", m_link.m_address.password}), {}});
        read();
        flush();
        if (m_role == Role::Publisher)
            m_link.publisherUp();
        m_link.connectionChanged();
    }

    void retryLater()
    {
        if (m_stopped)
            return;
        // Whatever is still pending on the old socket belongs to a connection that is over.
        ++m_generation;
        const bool wasUp = m_up;
        m_up = false;
        m_subscribed = 0;
        m_writing = false;
        m_inFlight.clear();
        failAwaiting();
        asio::error_code ignored;
        m_socket.close(ignored);
        if (wasUp && m_role == Role::Publisher)
            m_link.publisherLost();
        if (wasUp)
            m_link.connectionChanged();
        auto alive = m_alive;
        const auto generation = m_generation;
        m_timer.expires_after(m_backoff);
        m_backoff = std::min(m_backoff * 2, std::chrono::milliseconds(2000));
        m_timer.async_wait([this, alive, generation](const asio::error_code &error) {
            if (!error && current(alive, generation))
                open();
        });
    }

    void flush()
    {
        if (m_writing || m_waiting.empty() || !m_up)
            return;
        m_writing = true;
        m_inFlight.clear();
        // One write for everything that waits, up to a sensible size.
        std::size_t taken = 0;
        while (!m_waiting.empty() && (m_inFlight.empty() || taken < 256 * 1024)) {
            auto &next = m_waiting.front();
            taken += next.bytes.size();
            m_inFlight.push_back(std::move(next.bytes));
            // The publisher's replies come in the order of its commands.
            if (m_role == Role::Publisher)
                m_awaiting.push_back(std::move(next.delivered));
            m_waiting.pop_front();
        }
        m_waitingBytes -= std::min(m_waitingBytes, taken);
        std::vector<asio::const_buffer> buffers;
        buffers.reserve(m_inFlight.size());
        for (const auto &b : m_inFlight)
            buffers.emplace_back(asio::buffer(b));
        auto alive = m_alive;
        const auto generation = m_generation;
        asio::async_write(m_socket, buffers,
                          [this, alive, generation](const asio::error_code &error, std::size_t) {
                              if (!current(alive, generation))
                                  return;
                              m_writing = false;
                              if (error) {
                                  // What was in flight may or may not have arrived: a
                                  // publication is sent at most once.
                                  m_inFlight.clear();
                                  retryLater();
                                  return;
                              }
                              m_inFlight.clear();
                              flush();
                          });
    }

    void read()
    {
        auto alive = m_alive;
        const auto generation = m_generation;
        m_socket.async_read_some(
            asio::buffer(m_buffer),
            [this, alive, generation](const asio::error_code &error, std::size_t n) {
                if (!current(alive, generation))
                    return;
                if (error) {
                    retryLater();
                    return;
                }
                if (redisReaderFeed(m_reader, m_buffer.data(), n) != REDIS_OK) {
                    retryLater();
                    return;
                }
                void *raw = nullptr;
                while (redisReaderGetReply(m_reader, &raw) == REDIS_OK && raw) {
                    std::unique_ptr<redisReply, void (*)(void *)> reply(
                        static_cast<redisReply *>(raw), freeReplyObject);
                    raw = nullptr;
                    handle(reply.get());
                    if (!current(alive, generation))
                        return;
                }
                if (m_reader->err) {
                    retryLater();
                    return;
                }
                read();
            });
    }

    void handle(const redisReply *reply)
    {
        if (reply->type == REDIS_REPLY_ERROR) {
            // A refused AUTH or a server that will not take the command: try again later
            // rather than go on half working.
            retryLater();
            return;
        }
        if (m_role == Role::Publisher) {
            // PUBLISH answers with the number of subscribers that received the message.
            if (m_awaiting.empty())
                return;
            auto delivered = std::move(m_awaiting.front());
            m_awaiting.pop_front();
            if (delivered)
                delivered(reply->type == REDIS_REPLY_INTEGER ? reply->integer : 0);
            return;
        }
        if (reply->type != REDIS_REPLY_ARRAY || reply->elements < 3)
            return;
        const std::string kind = text(reply->element[0]);
        if (kind == "message") {
            m_link.messageArrived(text(reply->element[1]), text(reply->element[2]));
        } else if (kind == "subscribe") {
            ++m_subscribed;
            if (m_subscribed == m_link.m_channels.size())
                m_link.connectionChanged();
        }
    }

    // Commands written whose reply has not come: the connection broke, so whether they
    // arrived is not known.
    void failAwaiting()
    {
        if (!*m_alive) {
            m_awaiting.clear(); // the link is going away, and its owner with it
            return;
        }
        auto awaiting = std::exchange(m_awaiting, {});
        for (auto &delivered : awaiting)
            if (delivered)
                delivered(-1);
    }

    ClusterLink &m_link;
    Role m_role;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    redisReader *m_reader = nullptr;
    std::array<char, 64 * 1024> m_buffer{};
    std::deque<Pending> m_waiting;
    std::size_t m_waitingBytes = 0;
    std::vector<std::string> m_inFlight;
    std::deque<Delivered> m_awaiting;
    std::chrono::milliseconds m_backoff{100};
    std::size_t m_subscribed = 0;
    std::uint64_t m_generation = 0;
    bool m_up = false;
    bool m_writing = false;
    bool m_stopped = true;

public:
    void invalidate() { *m_alive = false; }
};

std::optional<ClusterLink::Address> ClusterLink::parseAddress(std::string_view url)
{
    constexpr std::string_view scheme = "redis://";
    if (!url.starts_with(scheme))
        return std::nullopt;
    url.remove_prefix(scheme.size());
    if (!url.empty() && url.back() == '/')
        url.remove_suffix(1);
    Address address;
    if (const auto at = url.rfind('@'); at != std::string_view::npos) {
        std::string_view credentials = url.substr(0, at);
        url.remove_prefix(at + 1);
        // "user:password" or ":password"; a user name is not used.
        const auto colon = credentials.find(':');
        address.password = std::string(
            colon == std::string_view::npos ? credentials : credentials.substr(colon + 1));
    }
    std::string_view host = url;
    if (!url.empty() && url.front() == '[') {
        const auto close = url.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = url.substr(1, close - 1);
        url.remove_prefix(close + 1);
        if (!url.empty() && url.front() != ':')
            return std::nullopt;
    } else if (const auto colon = url.rfind(':'); colon != std::string_view::npos) {
        host = url.substr(0, colon);
        url.remove_prefix(colon);
    } else {
        url = {};
    }
    if (!url.empty()) {
        const std::string port(url.substr(1));
        char *end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || value < 1 || value > 65535)
            return std::nullopt;
        address.port = static_cast<unsigned short>(value);
    }
    if (host.empty() || host.find('/') != std::string_view::npos)
        return std::nullopt;
    address.host = std::string(host);
    return address;
}

ClusterLink::ClusterLink(asio::io_context &io, Address address)
    : m_io(io), m_address(std::move(address)),
      m_publisher(std::make_unique<Connection>(*this, Connection::Role::Publisher)),
      m_subscriber(std::make_unique<Connection>(*this, Connection::Role::Subscriber)),
      m_gateTimer(std::make_unique<asio::steady_timer>(io))
{
}

ClusterLink::~ClusterLink()
{
    *m_alive = false;
    m_publisher->invalidate();
    m_subscriber->invalidate();
    m_publisher->close();
    m_subscriber->close();
}

void ClusterLink::subscribe(const std::string &channel)
{
    if (std::find(m_channels.begin(), m_channels.end(), channel) != m_channels.end())
        return;
    m_channels.push_back(channel);
    m_subscriber->send(command({"SUBSCRIBE", channel}));
}

void ClusterLink::publish(std::string_view channel, std::string_view payload, Delivered delivered)
{
    // Every node hears the first channel: how many did is what a reconnection waits for.
    if (!m_channels.empty() && channel == m_channels.front()) {
        delivered = [this, alive = m_alive, then = std::move(delivered)](long long receivers) {
            if (*alive && receivers >= 0 && !m_gated)
                m_lastReceivers = receivers;
            if (then)
                then(receivers);
        };
    }
    Pending pending{command({"PUBLISH", channel, payload}), std::move(delivered)};
    if (m_gated)
        hold(std::move(pending));
    else
        m_publisher->send(std::move(pending.bytes), std::move(pending.delivered));
}

void ClusterLink::publisherLost()
{
    if (probe.empty() || m_channels.empty() || (!m_gated && m_lastReceivers < 2))
        return; // nobody else was hearing this node
    m_gated = true;
    m_gateTimer->cancel();
    for (auto &pending : m_publisher->takeWaiting())
        hold(std::move(pending));
}

void ClusterLink::publisherUp()
{
    if (!m_gated)
        return;
    m_gateUntil = std::chrono::steady_clock::now() + kRejoinWait;
    probeOnce();
}

void ClusterLink::probeOnce()
{
    m_publisher->send(command({"PUBLISH", m_channels.front(), probe}), [this, alive = m_alive](
                                                                           long long receivers) {
        // -1: the connection broke again, and its return probes afresh.
        if (!*alive || !m_gated || receivers < 0)
            return;
        if (receivers >= m_lastReceivers || std::chrono::steady_clock::now() >= m_gateUntil) {
            releaseHeld();
            return;
        }
        m_gateTimer->expires_after(std::chrono::milliseconds(100));
        m_gateTimer->async_wait([this, alive](const asio::error_code &error) {
            if (!error && *alive && m_gated && m_publisher->up())
                probeOnce();
        });
    });
}

void ClusterLink::hold(Pending pending)
{
    m_heldBytes += pending.bytes.size();
    m_held.push_back(std::move(pending));
    while (m_heldBytes > kMaxWaitingBytes && m_held.size() > 1) {
        m_heldBytes -= m_held.front().bytes.size();
        if (m_held.front().delivered)
            m_held.front().delivered(-1);
        m_held.pop_front();
        ++m_dropped;
    }
}

void ClusterLink::releaseHeld()
{
    m_gated = false;
    m_heldBytes = 0;
    auto held = std::exchange(m_held, {});
    for (auto &pending : held)
        m_publisher->send(std::move(pending.bytes), std::move(pending.delivered));
}

void ClusterLink::start()
{
    m_publisher->open();
    m_subscriber->open();
}

void ClusterLink::stop()
{
    m_publisher->close();
    m_subscriber->close();
    connectionChanged();
}

bool ClusterLink::ready() const
{
    return m_publisher->up() && m_subscriber->up();
}

std::size_t ClusterLink::waitingBytes() const
{
    return m_publisher->waitingBytes();
}

void ClusterLink::connectionChanged()
{
    const bool now = ready();
    if (now == m_ready)
        return;
    m_ready = now;
    if (onLink)
        onLink(now);
}

void ClusterLink::messageArrived(const std::string &channel, const std::string &payload)
{
    if (onMessage)
        onMessage(channel, payload);
}
