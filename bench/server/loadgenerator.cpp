// Load generator for ostrel-lobby-server: starts the server (cheap password hashing, a
// temporary data folder), logs in N clients, spreads them over the game rooms and drives
// room chat, lobby-wide chat and private messages, first at a given total rate and then
// as fast as the server delivers. Reports login time, delivered rates, delivery latency
// and the server's resident memory per connection. With --compare it does the same work
// against an IRC server (ngircd, started on loopback with a generated configuration) and
// prints both side by side; with --idle it logs in many clients, leaves them idle and
// reports memory per connection and how the server's pings arrive. Not a test: run it by
// hand.
#include "benchserver.h"
#include "ircloadclient.h"
#include "lobbyloadclient.h"
#include "postgrescluster.h"
#include "redisserver.h"
#include "syscallcounter.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using Kind = BenchServer::Kind;

struct Settings
{
    int clients = 100;
    double rate = 500; // messages per second, all clients together
    double seconds = 10;
    int rooms = 8;
    // Deliveries owed but not yet seen while measuring the saturated rate: enough to keep
    // every connection busy, bounded so that no server has to queue without end.
    double window = 50000;
    bool saturation = true;
    bool compare = false;
    bool tlsCompare = false;
    int nodes = 0; // --nodes: one node against this many, clients spread over them
    bool irc = false;
    bool idle = false;
    // Receivers read this many bytes per turn of their loop (0: all there is).
    std::size_t slowRead = 0;
    double idleSeconds = 20;
    int pingInterval = 5; // seconds, for --idle
    std::string server = OSTREL_SERVER_BINARY;
    std::string ircServer = "/usr/sbin/ngircd";
};

[[noreturn]] void usage()
{
    std::fprintf(
        stderr, "usage: ostrel-server-loadgen [--clients N] [--rate MESSAGES_PER_S] [--seconds S]\n"
                "         [--rooms K] [--window DELIVERIES] [--no-saturation]\n"
                "         [--compare | --tls-compare | --nodes N | --irc |\n"
                "          --idle [--idle-seconds S] [--ping-interval S]]\n"
                "         [--slow-readers [BYTES]] [--server BINARY] [--irc-server BINARY]\n");
    std::exit(2);
}

Settings parseArguments(int argc, char **argv)
{
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--clients")
            s.clients = std::max(2, std::atoi(value().c_str()));
        else if (arg == "--rate")
            s.rate = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--seconds")
            s.seconds = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--rooms")
            s.rooms = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--window")
            s.window = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--no-saturation")
            s.saturation = false;
        else if (arg == "--compare")
            s.compare = true;
        else if (arg == "--tls-compare")
            s.tlsCompare = true;
        else if (arg == "--nodes")
            s.nodes = std::max(2, std::atoi(value().c_str()));
        else if (arg == "--irc")
            s.irc = true;
        else if (arg == "--idle")
            s.idle = true;
        else if (arg == "--slow-readers")
            s.slowRead = i + 1 < argc && std::atoi(argv[i + 1]) > 0
                             ? static_cast<std::size_t>(std::atoi(argv[++i]))
                             : 512;
        else if (arg == "--idle-seconds")
            s.idleSeconds = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--ping-interval")
            s.pingInterval = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--server")
            s.server = value();
        else if (arg == "--irc-server")
            s.ircServer = value();
        else
            usage();
    }
    return s;
}

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<std::uint32_t> &values, double p)
{
    if (values.empty())
        return 0;
    const auto k = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k] / 1000.0;
}

// What one stretch of sending (at the fixed rate, or saturated) saw.
struct Stage
{
    std::uint64_t firstSeq = 0;
    std::uint64_t sent = 0;
    std::uint64_t expected = 0;
    std::uint64_t delivered = 0;
    std::vector<std::uint32_t> latencies; // microseconds
    Clock::time_point start, sendEnd, lastDelivery;

    double sendSeconds() const { return std::chrono::duration<double>(sendEnd - start).count(); }
    double deliverySeconds() const
    {
        return std::chrono::duration<double>(std::max(lastDelivery, sendEnd) - start).count();
    }
    double offeredPerSecond() const { return static_cast<double>(sent) / sendSeconds(); }
    double deliveredPerSecond() const { return static_cast<double>(delivered) / deliverySeconds(); }
};

struct Result
{
    std::string server;
    double loginSeconds = 0;
    Stage fixed;
    Stage saturated;
    double p50[2] = {}, p99[2] = {};
    // Write-like system calls of the server per delivered line (negative: not counted).
    double writesPerDelivery[2] = {-1, -1};
    double kibPerConnection = 0; // after the logins
    double kibPerConnectionAfter = 0;
    int failures = 0;
};

class LoadRun
{
public:
    // nodes: the servers the clients are spread over (client i at node i mod n); tls:
    // the clients speak TLS to the nodes' TLS listeners.
    LoadRun(const Settings &settings, std::vector<const BenchServer *> nodes,
            asio::ssl::context *tls)
        : m_settings(settings), m_server(*nodes.front()), m_nodes(std::move(nodes)),
          m_tlsContext(tls), m_tick(m_io)
    {
        const BenchServer &server = m_server;
        const auto &rooms = BenchServer::sampleRooms();
        const int roomCount = std::min<int>(settings.rooms, static_cast<int>(rooms.size()));
        m_callbacks.ready = [this](LoadClient &) { onReady(); };
        m_callbacks.failed = [this](LoadClient &c, const std::string &why) {
            if (!m_finished) {
                if (m_failures < 10)
                    std::fprintf(stderr, "client %s failed: %s\n", c.name().c_str(), why.c_str());
                ++m_failures;
            }
        };
        m_callbacks.received = [this](LoadClient &, std::string_view text) { onReceived(text); };
        // Counted, not timed: reading the clock for each of a crowd's lines would cost
        // more than the line. The settling tick notes when the count last moved.
        m_callbacks.other = [this](LoadClient &) { ++m_others; };
        m_callbacks.pinged = [this](LoadClient &) { onPinged(); };
        for (int i = 0; i < settings.clients; ++i) {
            const std::string room = rooms[i % roomCount];
            const std::string name = "lg" + std::to_string(i);
            if (server.kind() == Kind::Irc)
                m_clients.push_back(
                    std::make_unique<IrcLoadClient>(m_io, i, name, room, m_callbacks));
            else
                m_clients.push_back(
                    std::make_unique<LobbyLoadClient>(m_io, i, name, room, m_callbacks));
            if (m_tlsContext)
                m_clients.back()->useTls(*m_tlsContext);
            else if (settings.slowRead)
                m_clients.back()->readSlowly(settings.slowRead);
            ++m_roomSize[room];
        }
        m_result.server = server.kind() == Kind::Irc ? "ngircd" : "ostrel-lobby-server";
    }

    Result run()
    {
        m_baselineKiB = rssKiB();
        for (const auto *node : m_nodes)
            m_endpoints.emplace_back(
                asio::ip::make_address("127.0.0.1"),
                static_cast<unsigned short>(m_tlsContext ? node->tlsPort() : node->port()));
        m_loginStart = Clock::now();
        // A bounded number of logins in flight, as a crowd arriving would be. The IRC
        // server listens with a queue of 10 pending connections: more at once and the
        // surplus hangs in the kernel for seconds.
        const int inFlight = m_server.kind() == Kind::Irc ? kIrcLoginsInFlight : kLoginsInFlight;
        for (int i = 0; i < std::min(inFlight, m_settings.clients); ++i)
            startNext();
        m_io.run();
        return m_result;
    }

private:
    static constexpr int kLoginsInFlight = 64;
    static constexpr int kIrcLoginsInFlight = 8;
    // Per client and second: under the lobby server's flood limit of 50 lines.
    static constexpr double kMaxPerClient = 40;

    void startNext()
    {
        if (m_started < m_clients.size()) {
            const std::size_t i = m_started++;
            m_clients[i]->start(m_endpoints[i % m_endpoints.size()]);
        }
    }

    void onReady()
    {
        ++m_ready;
        if (m_ready < m_clients.size()) {
            startNext();
            return;
        }
        m_result.loginSeconds = std::chrono::duration<double>(Clock::now() - m_loginStart).count();
        m_loggedInKiB = rssKiB();
        std::printf("%s: %zu clients logged in and in their rooms in %.2f s (server CPU %.2f s, "
                    "generator CPU %.2f s)\n",
                    m_result.server.c_str(), m_ready, m_result.loginSeconds, cpuSeconds(),
                    ownCpuSeconds());
        std::fflush(stdout);
        settle(Clock::now());
    }

    // The news of the crowd's arrival may still be on its way to everyone; the chat load
    // starts once the lobby has been quiet for a moment, so that it measures chat alone.
    void settle(Clock::time_point since)
    {
        // Longer than the lobby server lets presence news wait.
        const auto quietFor = std::chrono::milliseconds(1500);
        const auto now = Clock::now();
        if (m_others != m_othersSeen) {
            m_othersSeen = m_others;
            m_lastOther = now;
        }
        if (now - std::max(m_lastOther, since) >= quietFor ||
            now - since > std::chrono::seconds(60)) {
            m_settledKiB = rssKiB();
            const double n = static_cast<double>(m_clients.size());
            m_result.kibPerConnection = (m_settledKiB - m_baselineKiB) / n;
            std::printf("%s: lobby quiet %.2f s after the last login; RSS idle %ld KiB, logged "
                        "in %ld KiB, settled %ld KiB: %.1f KiB per connection\n",
                        m_result.server.c_str(),
                        std::chrono::duration<double>(m_lastOther - since).count(), m_baselineKiB,
                        m_loggedInKiB, m_settledKiB, m_result.kibPerConnection);
            std::fflush(stdout);
            if (m_settings.idle)
                startIdle();
            else
                startStage(false);
            return;
        }
        m_tick.expires_after(std::chrono::milliseconds(50));
        m_tick.async_wait([this, since](const std::error_code &error) {
            if (!error)
                settle(since);
        });
    }

    Stage &stage() { return m_saturating ? m_result.saturated : m_result.fixed; }

    void startStage(bool saturating)
    {
        m_saturating = saturating;
        auto &s = stage();
        s.firstSeq = m_sent;
        s.start = Clock::now();
        m_lastTick = s.start;
        m_budget = 0;
        m_serverCpuAtStage = cpuSeconds();
        m_ownCpuAtStage = ownCpuSeconds();
        m_writeCalls.start(m_server.pid());
        scheduleTick();
    }

    void scheduleTick()
    {
        m_tick.expires_after(std::chrono::milliseconds(2));
        m_tick.async_wait([this](const std::error_code &error) {
            if (!error)
                tick();
        });
    }

    void tick()
    {
        auto &s = stage();
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - s.start).count();
        if (elapsed >= m_settings.seconds) {
            s.sendEnd = now;
            waitForDeliveries(now + std::chrono::seconds(5));
            return;
        }
        const double dt = std::chrono::duration<double>(now - m_lastTick).count();
        m_lastTick = now;
        if (m_saturating) {
            // As fast as deliveries come back, with a bounded number owed.
            m_budget = std::min(m_budget + dt * kMaxPerClient * m_clients.size(),
                                kMaxPerClient * m_clients.size() * 0.05);
            while (m_budget >= 1.0 &&
                   static_cast<double>(s.expected - s.delivered) < m_settings.window) {
                m_budget -= 1.0;
                sendOne(now);
            }
        } else {
            m_budget += dt * m_settings.rate;
            while (m_budget >= 1.0) {
                m_budget -= 1.0;
                sendOne(now);
            }
        }
        scheduleTick();
    }

    void sendOne(Clock::time_point now)
    {
        auto &s = stage();
        auto &sender = *m_clients[m_next++ % m_clients.size()];
        const auto stamp =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_epoch).count();
        const std::string text = "m" + std::to_string(m_sent) + ":" + std::to_string(stamp);
        const int kind = static_cast<int>(m_sent % 10);
        ++m_sent;
        ++s.sent;
        if (kind == 0) {
            sender.lobbyLine(text);
            s.expected += m_clients.size() - (sender.hearsOwnLobbyLine() ? 0 : 1);
        } else if (kind <= 3) {
            const auto offset = 1 + m_random() % (m_clients.size() - 1);
            const auto &to = *m_clients[(sender.index() + offset) % m_clients.size()];
            sender.privateMessage(to, text);
            s.expected += 1;
        } else {
            sender.roomChat(text);
            s.expected += m_roomSize[sender.room()] - 1;
        }
    }

    void onReceived(std::string_view text)
    {
        // m<seq>:<ns>[...]
        if (text.empty() || text.front() != 'm')
            return;
        const auto colon = text.find(':');
        if (colon == std::string_view::npos)
            return;
        const auto seq = std::strtoull(std::string(text.substr(1, colon - 1)).c_str(), nullptr, 10);
        const long long sent = std::atoll(std::string(text.substr(colon + 1, 24)).c_str());
        const auto now = Clock::now();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_epoch).count();
        auto &s = m_saturating && seq >= m_result.saturated.firstSeq ? m_result.saturated
                                                                     : m_result.fixed;
        s.latencies.push_back(
            static_cast<std::uint32_t>(std::min<long long>((ns - sent) / 1000, UINT32_MAX)));
        ++s.delivered;
        s.lastDelivery = now;
    }

    void waitForDeliveries(Clock::time_point deadline)
    {
        auto &s = stage();
        if (s.delivered >= s.expected || Clock::now() >= deadline) {
            reportStage();
            if (!m_saturating && m_settings.saturation)
                startStage(true);
            else
                finish();
            return;
        }
        m_tick.expires_after(std::chrono::milliseconds(10));
        m_tick.async_wait([this, deadline](const std::error_code &error) {
            if (!error)
                waitForDeliveries(deadline);
        });
    }

    void reportStage()
    {
        auto &s = stage();
        const int i = m_saturating ? 1 : 0;
        m_result.p50[i] = percentile(s.latencies, 0.50);
        m_result.p99[i] = percentile(s.latencies, 0.99);
        const double max = percentile(s.latencies, 1.0);
        const double writes = m_writeCalls.stop();
        if (writes >= 0 && s.delivered > 0)
            m_result.writesPerDelivery[i] = writes / static_cast<double>(s.delivered);
        std::vector<std::uint32_t>().swap(s.latencies);
        std::printf("%s, %s: offered %.0f messages/s for %.1f s (%llu messages; mix: 60%% room "
                    "chat, 30%% private, 10%% lobby-wide)\n",
                    m_result.server.c_str(), m_saturating ? "saturated" : "fixed rate",
                    s.offeredPerSecond(), s.sendSeconds(), static_cast<unsigned long long>(s.sent));
        std::printf("  deliveries: expected %llu, delivered %llu (%.0f/s), ratio %.4f\n",
                    static_cast<unsigned long long>(s.expected),
                    static_cast<unsigned long long>(s.delivered), s.deliveredPerSecond(),
                    s.expected ? static_cast<double>(s.delivered) / s.expected : 0.0);
        std::printf("  delivery latency: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", m_result.p50[i],
                    m_result.p99[i], max);
        std::printf("  CPU: server %.2f s, generator %.2f s (of %.1f s)\n",
                    cpuSeconds() - m_serverCpuAtStage, ownCpuSeconds() - m_ownCpuAtStage,
                    s.deliverySeconds());
        if (m_result.writesPerDelivery[i] >= 0)
            std::printf("  server write calls per delivered line: %.3f\n",
                        m_result.writesPerDelivery[i]);
        std::fflush(stdout);
    }

    // Idle: nobody sends anything but the answers to the server's pings. Every ping round
    // should reach every client, all of it within a moment.
    void startIdle()
    {
        m_idleStart = Clock::now();
        m_tick.expires_after(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(m_settings.idleSeconds)));
        m_tick.async_wait([this](const std::error_code &error) {
            if (!error)
                finishIdle();
        });
    }

    void onPinged()
    {
        if (!m_settings.idle || m_idleStart == Clock::time_point())
            return;
        const auto now = Clock::now();
        // A round's pings all leave within one pass over the sessions: one a second or
        // more after the last starts the next round.
        if (m_rounds.empty() || now - m_rounds.back().last > std::chrono::seconds(1))
            m_rounds.push_back({now, now, 0});
        auto &round = m_rounds.back();
        round.last = now;
        ++round.count;
    }

    void finishIdle()
    {
        const long endKiB = rssKiB();
        const double n = static_cast<double>(m_clients.size());
        std::printf("idle for %.0f s: %zu ping rounds\n", m_settings.idleSeconds, m_rounds.size());
        bool whole = !m_rounds.empty();
        for (const auto &round : m_rounds) {
            const double spread = std::chrono::duration<double>(round.last - round.first).count();
            std::printf("  round at %.2f s: %zu of %zu clients pinged, first to last %.0f ms\n",
                        std::chrono::duration<double>(round.first - m_idleStart).count(),
                        round.count, m_clients.size(), spread * 1000);
            // The first and last rounds may fall across the start or end of the wait.
            if (&round != &m_rounds.front() && &round != &m_rounds.back() &&
                round.count != m_clients.size())
                whole = false;
        }
        std::size_t alive = 0;
        for (const auto &client : m_clients)
            alive += client->phase() == LoadClient::Phase::Ready;
        std::printf("clients still logged in: %zu of %zu; every full round reached everyone: %s\n",
                    alive, m_clients.size(), whole ? "yes" : "no");
        m_result.kibPerConnectionAfter = (endKiB - m_baselineKiB) / n;
        std::printf("server RSS: idle %ld KiB, after %.0f s idle with %zu clients %ld KiB: %.1f "
                    "KiB per connection\n",
                    m_baselineKiB, m_settings.idleSeconds, m_clients.size(), endKiB,
                    m_result.kibPerConnectionAfter);
        finish();
    }

    void finish()
    {
        if (!m_settings.idle && !m_quietAfterLoad) {
            // Memory after the load is taken once the lobby has been quiet as long as after
            // the logins: what remains then is what a server keeps, not what it is still
            // handing back.
            m_quietAfterLoad = true;
            m_tick.expires_after(std::chrono::milliseconds(1500));
            m_tick.async_wait([this](const std::error_code &error) {
                if (!error)
                    finish();
            });
            return;
        }
        m_finished = true;
        if (!m_settings.idle) {
            const long endKiB = rssKiB();
            m_result.kibPerConnectionAfter =
                (endKiB - m_baselineKiB) / static_cast<double>(m_clients.size());
            std::printf("%s: RSS after the load %ld KiB: %.1f KiB per connection\n",
                        m_result.server.c_str(), endKiB, m_result.kibPerConnectionAfter);
        }
        m_result.failures = m_failures;
        if (m_failures)
            std::printf("%s: client failures: %d\n", m_result.server.c_str(), m_failures);
        std::fflush(stdout);
        m_io.stop();
    }

    struct PingRound
    {
        Clock::time_point first, last;
        std::size_t count = 0;
    };

    const Settings &m_settings;
    // Memory and CPU of all nodes together.
    long rssKiB() const
    {
        long total = 0;
        for (const auto *node : m_nodes)
            total += node->rssKiB();
        return total;
    }
    double cpuSeconds() const
    {
        double total = 0;
        for (const auto *node : m_nodes)
            total += node->cpuSeconds();
        return total;
    }

    const BenchServer &m_server;
    std::vector<const BenchServer *> m_nodes;
    asio::ssl::context *m_tlsContext;
    asio::io_context m_io;
    asio::steady_timer m_tick;
    std::vector<asio::ip::tcp::endpoint> m_endpoints;
    LoadClient::Callbacks m_callbacks;
    std::vector<std::unique_ptr<LoadClient>> m_clients;
    std::unordered_map<std::string, std::size_t> m_roomSize;
    std::size_t m_started = 0;
    std::size_t m_ready = 0;
    std::size_t m_next = 0;
    int m_failures = 0;
    bool m_finished = false;
    bool m_saturating = false;
    std::mt19937 m_random{12345};
    const Clock::time_point m_epoch = Clock::now();
    Clock::time_point m_loginStart, m_lastTick, m_idleStart;
    Clock::time_point m_lastOther;  // the last line that was not a message, give or take a tick
    std::uint64_t m_others = 0;     // lines that were not a message
    std::uint64_t m_othersSeen = 0; // m_others as the last settling tick saw it
    double m_budget = 0;
    std::uint64_t m_sent = 0;
    std::vector<PingRound> m_rounds;
    long m_baselineKiB = 0;
    long m_loggedInKiB = 0;
    long m_settledKiB = 0;
    bool m_quietAfterLoad = false;
    double m_serverCpuAtStage = 0;
    SyscallCounter m_writeCalls;
    double m_ownCpuAtStage = 0;
    Result m_result;
};

Result runAgainst(const Settings &settings, Kind kind)
{
    std::vector<std::string> extra;
    if (settings.idle)
        extra = {"--ping-interval", std::to_string(settings.pingInterval)};
    BenchServer server =
        kind == Kind::Irc
            ? BenchServer::startIrc(settings.ircServer, std::max(settings.pingInterval, 30))
            : BenchServer::startOurs(settings.server, extra);
    Result result;
    {
        LoadRun run(settings, {&server}, nullptr);
        result = run.run();
    }
    server.stop();
    return result;
}

// Our server with the clients inside TLS or not, the rest alike.
Result runOurs(const Settings &settings, bool tls)
{
    BenchServer server = BenchServer::startOurs(
        settings.server,
        tls ? std::vector<std::string>{"--tls-listen", "127.0.0.1:0"} : std::vector<std::string>{});
    // The generator trusts its own server: what is measured is the cost of the encryption.
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.set_verify_mode(asio::ssl::verify_none);
    Result result;
    {
        LoadRun run(settings, {&server}, tls ? &context : nullptr);
        result = run.run();
    }
    server.stop();
    result.server = tls ? "inside TLS" : "plain";
    return result;
}

// Several nodes of one lobby, with a Redis server and a PostgreSQL cluster of the run's
// own; the clients spread over the nodes, so most deliveries cross Redis.
Result runNodes(const Settings &settings, int count, double &redisCpu)
{
    RedisServer redis;
    PostgresCluster postgres;
    if (!redis.usable() || !postgres.usable()) {
        std::fprintf(stderr, "cannot run nodes: %s%s\n", redis.why().c_str(),
                     postgres.why().c_str());
        std::exit(1);
    }
    const std::string accounts = postgres.freshDatabase();
    std::vector<BenchServer> nodes;
    nodes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        nodes.push_back(BenchServer::startOurs(
            settings.server, {"--cluster", redis.address(), "--accounts", accounts}));
    // Let the nodes find each other before the first login.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::vector<const BenchServer *> pointers;
    for (const auto &node : nodes)
        pointers.push_back(&node);
    const double redisAtStart = BenchServer::cpuSecondsOf(redis.pid());
    Result result;
    {
        LoadRun run(settings, pointers, nullptr);
        result = run.run();
    }
    redisCpu = BenchServer::cpuSecondsOf(redis.pid()) - redisAtStart;
    for (auto &node : nodes)
        node.stop();
    result.server = std::to_string(count) + " nodes";
    return result;
}

double ratio(double ours, double theirs)
{
    return theirs > 0 ? ours / theirs : 0;
}

void printComparison(const Settings &settings, const Result &ours, const Result &theirs)
{
    std::printf("\n%d clients, %d rooms, %.0f s per stage; fixed offered rate %.0f messages/s; "
                "saturated: at most %.0f deliveries owed\n",
                settings.clients, settings.rooms, settings.seconds, settings.rate, settings.window);
    std::printf("| | %s | %s | ratio |\n|---|---:|---:|---:|\n", ours.server.c_str(),
                theirs.server.c_str());
    auto row = [](const char *what, const char *format, double a, double b) {
        char left[32], right[32];
        std::snprintf(left, sizeof left, format, a);
        std::snprintf(right, sizeof right, format, b);
        std::printf("| %s | %s | %s | %.2f |\n", what, left, right, ratio(a, b));
    };
    row("login of all clients (s)", "%.2f", ours.loginSeconds, theirs.loginSeconds);
    row("fixed rate: delivered msgs/s", "%.0f", ours.fixed.deliveredPerSecond(),
        theirs.fixed.deliveredPerSecond());
    row("fixed rate: p50 latency (ms)", "%.2f", ours.p50[0], theirs.p50[0]);
    row("fixed rate: p99 latency (ms)", "%.2f", ours.p99[0], theirs.p99[0]);
    if (settings.saturation) {
        row("saturated: delivered msgs/s", "%.0f", ours.saturated.deliveredPerSecond(),
            theirs.saturated.deliveredPerSecond());
        row("saturated: p50 latency (ms)", "%.2f", ours.p50[1], theirs.p50[1]);
        row("saturated: p99 latency (ms)", "%.2f", ours.p99[1], theirs.p99[1]);
    }
    if (ours.writesPerDelivery[0] >= 0 && theirs.writesPerDelivery[0] >= 0)
        row("fixed rate: server write calls per delivery", "%.3f", ours.writesPerDelivery[0],
            theirs.writesPerDelivery[0]);
    if (settings.saturation && ours.writesPerDelivery[1] >= 0 && theirs.writesPerDelivery[1] >= 0)
        row("saturated: server write calls per delivery", "%.3f", ours.writesPerDelivery[1],
            theirs.writesPerDelivery[1]);
    row("RSS per connection, logged in (KiB)", "%.1f", ours.kibPerConnection,
        theirs.kibPerConnection);
    row("RSS per connection, after the load (KiB)", "%.1f", ours.kibPerConnectionAfter,
        theirs.kibPerConnectionAfter);
    std::printf("| delivered / expected, fixed rate | %.4f | %.4f | |\n",
                ours.fixed.expected ? double(ours.fixed.delivered) / ours.fixed.expected : 0.0,
                theirs.fixed.expected ? double(theirs.fixed.delivered) / theirs.fixed.expected
                                      : 0.0);
    std::printf("| client failures | %d | %d | |\n", ours.failures, theirs.failures);
}

} // namespace

int main(int argc, char **argv)
{
    const Settings settings = parseArguments(argc, argv);
    // Each client is a descriptor here and one in the server, which inherits this limit.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur != RLIM_INFINITY &&
            static_cast<rlim_t>(settings.clients) + 200 > limit.rlim_cur)
            std::fprintf(stderr, "warning: the descriptor limit %llu is too low for %d clients\n",
                         static_cast<unsigned long long>(limit.rlim_cur), settings.clients);
    }
    if (!settings.compare && !settings.irc && !settings.idle &&
        settings.rate / settings.clients > 40)
        std::fprintf(stderr,
                     "warning: %.0f messages/s per client exceeds the server's flood "
                     "limit\n",
                     settings.rate / settings.clients);
    signal(SIGPIPE, SIG_IGN);
    if (settings.compare) {
        const Result ours = runAgainst(settings, Kind::Ours);
        const Result theirs = runAgainst(settings, Kind::Irc);
        printComparison(settings, ours, theirs);
    } else if (settings.tlsCompare) {
        const Result tls = runOurs(settings, true);
        const Result plain = runOurs(settings, false);
        printComparison(settings, tls, plain);
    } else if (settings.nodes > 0) {
        Result one = runOurs(settings, false);
        one.server = "1 node";
        double redisCpu = 0;
        const Result many = runNodes(settings, settings.nodes, redisCpu);
        printComparison(settings, many, one);
        const double delivered =
            static_cast<double>(many.fixed.delivered + many.saturated.delivered);
        std::printf("| Redis hop: p50 latency added, fixed rate (ms) | %.2f | | |\n",
                    many.p50[0] - one.p50[0]);
        std::printf("| Redis CPU per delivered message (us) | %.2f | | |\n",
                    delivered > 0 ? redisCpu * 1e6 / delivered : 0.0);
    } else {
        runAgainst(settings, settings.irc ? Kind::Irc : Kind::Ours);
    }
    return 0;
}
