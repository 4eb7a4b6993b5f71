// Soak run for ostrel-lobby-server: starts the server, logs in N clients (default 2,000)
// and keeps room chat, private messages and lobby-wide lines going at a steady rate for a
// number of minutes (default 30). Every message is numbered; each receiver records what
// it got, and at the end the program checks every receiver's record against the set it
// should have received: none missing, none twice, none that was not meant for it. The
// server's resident memory is sampled throughout and the first five minutes compared
// with the last five (from its first minute on; shorter windows in a short run). Not a test:
// run it by hand.
#include "benchserver.h"
#include "lobbyloadclient.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings
{
    int clients = 2000;
    double minutes = 30;
    double rate = 100; // messages per second, all clients together
    int rooms = 8;
    std::string server = OSTREL_SERVER_BINARY;
};

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
            s.clients = std::max(3, std::atoi(value().c_str()));
        else if (arg == "--minutes")
            s.minutes = std::max(0.1, std::atof(value().c_str()));
        else if (arg == "--rate")
            s.rate = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--rooms")
            s.rooms = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--server")
            s.server = value();
        else {
            std::fprintf(stderr, "usage: ostrel-server-soak [--clients N] [--minutes M] "
                                 "[--rate MESSAGES_PER_S] [--rooms K] [--server BINARY]\n");
            std::exit(2);
        }
    }
    return s;
}

class SoakRun
{
public:
    SoakRun(const Settings &settings, const BenchServer &server)
        : m_settings(settings), m_server(server), m_tick(m_io), m_sampler(m_io)
    {
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
        m_callbacks.received = [this](LoadClient &c, std::string_view text) {
            onReceived(c, text);
        };
        for (int i = 0; i < settings.clients; ++i) {
            const std::string room = rooms[i % roomCount];
            m_clients.push_back(std::make_unique<LobbyLoadClient>(
                m_io, i, "soak" + std::to_string(i), room, m_callbacks));
            m_members[room].push_back(i);
        }
        m_received.resize(m_clients.size());
    }

    bool run()
    {
        m_idleKiB = m_server.rssKiB();
        m_endpoint = asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                             static_cast<unsigned short>(m_server.port()));
        m_loginStart = Clock::now();
        for (int i = 0; i < std::min(64, m_settings.clients); ++i)
            startNext();
        m_io.run();
        return verify();
    }

private:
    // What was sent: by whom and to whom, for the expected sets at the end.
    enum class Kind : std::uint8_t { Lobby, Private, Room };
    struct Sent
    {
        std::uint32_t sender;
        std::uint32_t target; // private messages
        Kind kind;
    };

    void startNext()
    {
        if (m_started < m_clients.size())
            m_clients[m_started++]->start(m_endpoint);
    }

    void onReady()
    {
        if (++m_ready < m_clients.size()) {
            startNext();
            return;
        }
        std::printf("%zu clients logged in in %.2f s; sending %.0f messages/s for %.1f "
                    "minutes\n",
                    m_ready, std::chrono::duration<double>(Clock::now() - m_loginStart).count(),
                    m_settings.rate, m_settings.minutes);
        std::fflush(stdout);
        m_start = Clock::now();
        m_lastTick = m_start;
        sample();
        tick();
    }

    void sample()
    {
        const double minute = std::chrono::duration<double>(Clock::now() - m_start).count() / 60;
        m_samples.push_back({minute, m_server.rssKiB()});
        if (m_samples.size() % 30 == 1) {
            std::printf("  %.1f min: %llu sent, %llu delivered, server RSS %ld KiB\n", minute,
                        static_cast<unsigned long long>(m_sent.size()),
                        static_cast<unsigned long long>(m_delivered), m_samples.back().kib);
            std::fflush(stdout);
        }
        m_sampler.expires_after(std::chrono::seconds(10));
        m_sampler.async_wait([this](const std::error_code &error) {
            if (!error && !m_sendingDone)
                sample();
        });
    }

    void tick()
    {
        const auto now = Clock::now();
        if (now - m_start >= std::chrono::duration<double>(m_settings.minutes * 60)) {
            m_sendingDone = true;
            m_sampler.cancel();
            sample();
            m_lastDelivery = now;
            drain();
            return;
        }
        m_budget += std::chrono::duration<double>(now - m_lastTick).count() * m_settings.rate;
        m_lastTick = now;
        while (m_budget >= 1.0) {
            m_budget -= 1.0;
            sendOne();
        }
        m_tick.expires_after(std::chrono::milliseconds(10));
        m_tick.async_wait([this](const std::error_code &error) {
            if (!error)
                tick();
        });
    }

    void sendOne()
    {
        const auto seq = static_cast<std::uint32_t>(m_sent.size());
        const auto sender = static_cast<std::uint32_t>(m_random() % m_clients.size());
        auto &client = *m_clients[sender];
        const std::string text = "m" + std::to_string(seq) + ":0";
        const auto roll = m_random() % 10;
        if (roll == 0) {
            client.lobbyLine(text);
            m_sent.push_back({sender, 0, Kind::Lobby});
            m_expected += m_clients.size();
        } else if (roll <= 3) {
            const auto target = static_cast<std::uint32_t>(
                (sender + 1 + m_random() % (m_clients.size() - 1)) % m_clients.size());
            client.privateMessage(*m_clients[target], text);
            m_sent.push_back({sender, target, Kind::Private});
            m_expected += 1;
        } else {
            client.roomChat(text);
            m_sent.push_back({sender, 0, Kind::Room});
            m_expected += m_members[client.room()].size() - 1;
        }
    }

    void onReceived(LoadClient &client, std::string_view text)
    {
        if (text.size() < 2 || text.front() != 'm')
            return;
        const auto seq = std::strtoull(std::string(text.substr(1)).c_str(), nullptr, 10);
        auto &bits = m_received[static_cast<std::size_t>(client.index())];
        const std::size_t word = seq / 64;
        if (bits.size() <= word)
            bits.resize(std::max(word + 1, bits.size() * 2), 0);
        const std::uint64_t mask = std::uint64_t{1} << (seq % 64);
        if (bits[word] & mask)
            ++m_duplicates;
        bits[word] |= mask;
        ++m_delivered;
        m_lastDelivery = Clock::now();
    }

    // Until everything expected arrived, or nothing has for ten seconds.
    void drain()
    {
        if (m_delivered >= m_expected + m_duplicates ||
            Clock::now() - m_lastDelivery > std::chrono::seconds(10)) {
            m_finished = true;
            m_io.stop();
            return;
        }
        m_tick.expires_after(std::chrono::milliseconds(100));
        m_tick.async_wait([this](const std::error_code &error) {
            if (!error)
                drain();
        });
    }

    bool received(std::size_t receiver, std::size_t seq) const
    {
        const auto &bits = m_received[receiver];
        return seq / 64 < bits.size() && (bits[seq / 64] >> (seq % 64)) & 1;
    }

    bool verify()
    {
        std::uint64_t missing = 0, unexpected = 0, expected = 0;
        std::vector<bool> meant(m_clients.size());
        for (std::size_t seq = 0; seq < m_sent.size(); ++seq) {
            const auto &sent = m_sent[seq];
            std::fill(meant.begin(), meant.end(), false);
            if (sent.kind == Kind::Lobby) {
                meant.assign(meant.size(), true);
            } else if (sent.kind == Kind::Private) {
                meant[sent.target] = true;
            } else {
                for (const int member : m_members[m_clients[sent.sender]->room()])
                    meant[static_cast<std::size_t>(member)] = true;
                meant[sent.sender] = false;
            }
            for (std::size_t r = 0; r < m_clients.size(); ++r) {
                const bool got = received(r, seq);
                expected += meant[r];
                missing += meant[r] && !got;
                unexpected += !meant[r] && got;
            }
        }
        // Numbers beyond what was sent would be corrupt lines.
        for (std::size_t r = 0; r < m_clients.size(); ++r)
            for (std::size_t seq = m_sent.size(); seq < m_received[r].size() * 64; ++seq)
                unexpected += received(r, seq);

        std::printf("messages sent %zu; deliveries expected %llu, received %llu\n", m_sent.size(),
                    static_cast<unsigned long long>(expected),
                    static_cast<unsigned long long>(m_delivered));
        std::printf("missing %llu, duplicated %llu, not meant for the receiver %llu\n",
                    static_cast<unsigned long long>(missing),
                    static_cast<unsigned long long>(m_duplicates),
                    static_cast<unsigned long long>(unexpected));
        if (m_failures)
            std::printf("client failures: %d\n", m_failures);

        // Right after the logins the server still holds the burst's freed memory until it
        // trims its heap, seconds later: the first window starts a minute in (a tenth of
        // the run when it is shorter than ten minutes).
        const double total = m_samples.empty() ? 0 : m_samples.back().minute;
        const double skip = total >= 10 ? 1 : total / 10;
        const double window = total >= 11 ? 5 : (total - skip) / 3;
        auto average = [&](double from, double to) {
            double sum = 0;
            int n = 0;
            for (const auto &s : m_samples)
                if (s.minute >= from && s.minute <= to) {
                    sum += static_cast<double>(s.kib);
                    ++n;
                }
            return n ? sum / n : 0.0;
        };
        const double first = average(skip, skip + window);
        const double last = average(total - window, total);
        long peak = 0;
        for (const auto &s : m_samples)
            peak = std::max(peak, s.kib);
        std::printf("server RSS: before the logins %ld KiB; minutes %.1f-%.1f %.0f KiB, last %.1f "
                    "min %.0f KiB (%+.1f%%), peak %ld KiB\n",
                    m_idleKiB, skip, skip + window, first, window, last,
                    first > 0 ? 100.0 * (last - first) / first : 0.0, peak);
        const bool whole = missing == 0 && m_duplicates == 0 && unexpected == 0 && !m_failures;
        std::printf("%s\n", whole ? "every message arrived exactly once where it was meant to"
                                  : "MESSAGES LOST, DUPLICATED OR MISDIRECTED");
        return whole;
    }

    struct Sample
    {
        double minute;
        long kib;
    };

    const Settings &m_settings;
    const BenchServer &m_server;
    asio::io_context m_io;
    asio::steady_timer m_tick;
    asio::steady_timer m_sampler;
    asio::ip::tcp::endpoint m_endpoint;
    LoadClient::Callbacks m_callbacks;
    std::vector<std::unique_ptr<LoadClient>> m_clients;
    std::unordered_map<std::string, std::vector<int>> m_members; // by room
    std::vector<std::vector<std::uint64_t>> m_received;          // per receiver, bit per number
    std::vector<Sent> m_sent;
    std::vector<Sample> m_samples;
    std::mt19937 m_random{4242};
    std::size_t m_started = 0;
    std::size_t m_ready = 0;
    std::uint64_t m_expected = 0;
    std::uint64_t m_delivered = 0;
    std::uint64_t m_duplicates = 0;
    int m_failures = 0;
    bool m_sendingDone = false;
    bool m_finished = false;
    double m_budget = 0;
    long m_idleKiB = 0;
    Clock::time_point m_loginStart, m_start, m_lastTick, m_lastDelivery;
};

} // namespace

int main(int argc, char **argv)
{
    const Settings settings = parseArguments(argc, argv);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    signal(SIGPIPE, SIG_IGN);
    BenchServer server = BenchServer::startOurs(settings.server, {});
    bool whole = false;
    {
        SoakRun run(settings, server);
        whole = run.run();
    }
    server.stop();
    return whole ? 0 : 1;
}
