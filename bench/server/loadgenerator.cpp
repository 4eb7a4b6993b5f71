// Load generator for ostrel-lobby-server: starts the server (cheap password hashing, a
// temporary data folder), logs in N clients, spreads them over the game rooms and drives
// room chat, lobby-wide chat and private messages at a given total rate. Reports the
// offered and delivered message rates, delivery latency and the server's resident memory
// per connection. Not a test: run it by hand.
#include "loadclient.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings
{
    int clients = 100;
    double rate = 500; // messages per second, all clients together
    double seconds = 10;
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
            s.clients = std::max(2, std::atoi(value().c_str()));
        else if (arg == "--rate")
            s.rate = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--seconds")
            s.seconds = std::max(1.0, std::atof(value().c_str()));
        else if (arg == "--rooms")
            s.rooms = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--server")
            s.server = value();
        else {
            std::fprintf(stderr,
                         "usage: ostrel-server-loadgen [--clients N] [--rate MESSAGES_PER_S]\n"
                         "                             [--seconds S] [--rooms K] [--server "
                         "BINARY]\n");
            std::exit(2);
        }
    }
    return s;
}

long rssKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// CPU seconds (user + system) a process has used so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct ServerChild
{
    pid_t pid = -1;
    int port = 0;
    std::string dataDir;
};

ServerChild startServer(const Settings &settings)
{
    ServerChild child;
    char pattern[] = "/tmp/ostrel-loadgen-XXXXXX";
    child.dataDir = mkdtemp(pattern);
    int out[2];
    if (pipe(out) != 0)
        std::exit(1);
    child.pid = fork();
    if (child.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(out[0]);
        setenv("OSTREL_SERVER_FAST_HASH", "1", 1);
        // Every load client comes from 127.0.0.1: the per-address limits must not apply.
        execl(settings.server.c_str(), settings.server.c_str(), "--listen", "127.0.0.1:0", "--data",
              child.dataDir.c_str(), "--exempt", "127.0.0.1", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        text.push_back(c);
    close(out[0]);
    const auto colon = text.rfind(':');
    if (text.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        std::fprintf(stderr, "the server did not start: %s\n", text.c_str());
        std::exit(1);
    }
    child.port = std::atoi(text.c_str() + colon + 1);
    return child;
}

void stopServer(ServerChild &child)
{
    kill(child.pid, SIGTERM);
    int status = 0;
    waitpid(child.pid, &status, 0);
    std::error_code ignored;
    std::filesystem::remove_all(child.dataDir, ignored);
}

double percentile(std::vector<std::uint32_t> &values, double p)
{
    if (values.empty())
        return 0;
    const auto k = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k] / 1000.0;
}

class LoadRun
{
public:
    LoadRun(const Settings &settings, const ServerChild &server)
        : m_settings(settings), m_server(server), m_tick(m_io)
    {
        // Rooms of the server's sample catalogue.
        const char *rooms[] = {"Wordsmith",        "Letterbox",        "Dicebound",
                               "Plumbrix",         "ADULTPlumbrix",    "Wobbleton",
                               "Tilerun",          "Bonestack",        "PlumbrixMYLADDER",
                               "PlumbrixRMLADDER", "DiceboundMYLADDER"};
        const int roomCount = std::min<int>(settings.rooms, std::size(rooms));
        m_callbacks.ready = [this](LoadClient &) { onReady(); };
        m_callbacks.failed = [this](LoadClient &c, const std::string &why) {
            if (!m_finished) {
                std::fprintf(stderr, "client %s failed: %s\n", c.name().c_str(), why.c_str());
                ++m_failures;
            }
        };
        m_callbacks.received = [this](LoadClient &, std::string_view line) { onReceived(line); };
        m_callbacks.other = [this](LoadClient &) { m_lastOther = Clock::now(); };
        for (int i = 0; i < settings.clients; ++i) {
            const std::string room = rooms[i % roomCount];
            m_clients.push_back(
                std::make_unique<LoadClient>(m_io, i, "lg" + std::to_string(i), room, m_callbacks));
            ++m_roomSize[room];
        }
    }

    void run()
    {
        m_baselineKiB = rssKiB(m_server.pid);
        const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"),
                                               static_cast<unsigned short>(m_server.port));
        m_endpoint = endpoint;
        m_loginStart = Clock::now();
        // A bounded number of logins in flight, as a crowd arriving would be.
        for (int i = 0; i < std::min(kLoginsInFlight, m_settings.clients); ++i)
            startNext();
        m_io.run();
    }

private:
    static constexpr int kLoginsInFlight = 64;

    void startNext()
    {
        if (m_started < m_clients.size())
            m_clients[m_started++]->start(m_endpoint);
    }

    void onReady()
    {
        ++m_ready;
        if (m_ready < m_clients.size()) {
            startNext();
            return;
        }
        const double loginSeconds =
            std::chrono::duration<double>(Clock::now() - m_loginStart).count();
        m_loggedInKiB = rssKiB(m_server.pid);
        m_serverCpuAtLoad = cpuSeconds(m_server.pid);
        m_ownCpuAtLoad = ownCpuSeconds();
        std::printf("%zu clients logged in and in their rooms in %.2f s (server CPU %.2f s, "
                    "generator CPU %.2f s)\n",
                    m_ready, loginSeconds, m_serverCpuAtLoad, m_ownCpuAtLoad);
        settle(Clock::now());
    }

    // The news of the crowd's arrival may still be on its way to everyone; the chat load
    // starts once the lobby has been quiet for a moment, so that it measures chat alone.
    void settle(Clock::time_point since)
    {
        // Longer than the server lets presence news wait.
        const auto quietFor = std::chrono::milliseconds(1500);
        const auto now = Clock::now();
        if (now - std::max(m_lastOther, since) >= quietFor ||
            now - since > std::chrono::seconds(60)) {
            std::printf("lobby quiet %.2f s after the last login\n",
                        std::chrono::duration<double>(m_lastOther - since).count());
            m_sendStart = Clock::now();
            m_lastTick = m_sendStart;
            scheduleTick();
            return;
        }
        m_tick.expires_after(std::chrono::milliseconds(50));
        m_tick.async_wait([this, since](const std::error_code &error) {
            if (!error)
                settle(since);
        });
    }

    void scheduleTick()
    {
        m_tick.expires_after(std::chrono::milliseconds(5));
        m_tick.async_wait([this](const std::error_code &error) {
            if (!error)
                tick();
        });
    }

    void tick()
    {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - m_sendStart).count();
        if (elapsed >= m_settings.seconds) {
            m_sendEnd = now;
            waitForDeliveries(now + std::chrono::seconds(5));
            return;
        }
        m_budget += std::chrono::duration<double>(now - m_lastTick).count() * m_settings.rate;
        m_lastTick = now;
        while (m_budget >= 1.0) {
            m_budget -= 1.0;
            sendOne(now);
        }
        scheduleTick();
    }

    void sendOne(Clock::time_point now)
    {
        auto &sender = *m_clients[m_next++ % m_clients.size()];
        const auto stamp =
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_epoch).count();
        const std::string text = "m" + std::to_string(m_sent) + ":" + std::to_string(stamp);
        const int kind = static_cast<int>(m_sent % 10);
        ++m_sent;
        if (kind == 0) {
            sender.send("SEND|GHAT|" + text + "|clBlack");
            m_expected += m_clients.size();
        } else if (kind <= 3) {
            const auto offset = 1 + m_random() % (m_clients.size() - 1);
            const auto &to = *m_clients[(sender.index() + offset) % m_clients.size()];
            sender.send("SEND|PMES|" + to.name() + "|" + text);
            m_expected += 1;
        } else {
            sender.send("SEND|CHAT|" + text + "|clBlack");
            m_expected += m_roomSize[sender.room()] - 1;
        }
    }

    void onReceived(std::string_view line)
    {
        // SEND|party|TYPE|m<seq>:<ns>[|colour]
        std::size_t p = line.find('|', 5);
        if (p == std::string_view::npos)
            return;
        p = line.find('|', p + 1);
        if (p == std::string_view::npos)
            return;
        const auto colon = line.find(':', p);
        if (colon == std::string_view::npos)
            return;
        const long long sent = std::atoll(std::string(line.substr(colon + 1, 24)).c_str());
        const auto now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_epoch).count();
        m_latencies.push_back(
            static_cast<std::uint32_t>(std::min<long long>((now - sent) / 1000, UINT32_MAX)));
        ++m_delivered;
        m_lastDelivery = Clock::now();
    }

    void waitForDeliveries(Clock::time_point deadline)
    {
        if (m_delivered >= m_expected || Clock::now() >= deadline) {
            report();
            return;
        }
        m_tick.expires_after(std::chrono::milliseconds(10));
        m_tick.async_wait([this, deadline](const std::error_code &error) {
            if (!error)
                waitForDeliveries(deadline);
        });
    }

    void report()
    {
        m_finished = true;
        const long endKiB = rssKiB(m_server.pid);
        const double sendSeconds = std::chrono::duration<double>(m_sendEnd - m_sendStart).count();
        const double deliverySeconds =
            std::chrono::duration<double>(std::max(m_lastDelivery, m_sendEnd) - m_sendStart)
                .count();
        const double n = static_cast<double>(m_clients.size());
        std::printf("clients %zu, rooms %d, offered %.0f messages/s for %.1f s (%llu messages; "
                    "mix: 60%% room chat, 30%% private, 10%% lobby-wide)\n",
                    m_clients.size(), m_settings.rooms, m_sent / sendSeconds, sendSeconds,
                    static_cast<unsigned long long>(m_sent));
        std::printf("deliveries: expected %llu (%.0f/s offered), delivered %llu (%.0f/s), "
                    "ratio %.4f\n",
                    static_cast<unsigned long long>(m_expected), m_expected / sendSeconds,
                    static_cast<unsigned long long>(m_delivered), m_delivered / deliverySeconds,
                    m_expected ? static_cast<double>(m_delivered) / m_expected : 0.0);
        std::printf("delivery latency: p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    percentile(m_latencies, 0.50), percentile(m_latencies, 0.99),
                    percentile(m_latencies, 1.0));
        std::printf("server RSS: idle %ld KiB, logged in %ld KiB, after load %ld KiB; "
                    "per connection %.1f KiB logged in, %.1f KiB after load\n",
                    m_baselineKiB, m_loggedInKiB, endKiB, (m_loggedInKiB - m_baselineKiB) / n,
                    (endKiB - m_baselineKiB) / n);
        std::printf("CPU during the load: server %.2f s, generator %.2f s (of %.1f s)\n",
                    cpuSeconds(m_server.pid) - m_serverCpuAtLoad, ownCpuSeconds() - m_ownCpuAtLoad,
                    deliverySeconds);
        if (m_failures)
            std::printf("client failures: %d\n", m_failures);
        m_io.stop();
    }

    const Settings &m_settings;
    const ServerChild &m_server;
    asio::io_context m_io;
    asio::steady_timer m_tick;
    asio::ip::tcp::endpoint m_endpoint;
    LoadClient::Callbacks m_callbacks;
    std::vector<std::unique_ptr<LoadClient>> m_clients;
    std::unordered_map<std::string, std::size_t> m_roomSize;
    std::size_t m_started = 0;
    std::size_t m_ready = 0;
    std::size_t m_next = 0;
    int m_failures = 0;
    bool m_finished = false;
    std::mt19937 m_random{12345};
    const Clock::time_point m_epoch = Clock::now();
    Clock::time_point m_loginStart, m_sendStart, m_sendEnd, m_lastTick, m_lastDelivery;
    Clock::time_point m_lastOther; // the last line that was not a message
    double m_budget = 0;
    std::uint64_t m_sent = 0;
    std::uint64_t m_expected = 0;
    std::uint64_t m_delivered = 0;
    std::vector<std::uint32_t> m_latencies;
    long m_baselineKiB = 0;
    long m_loggedInKiB = 0;
    double m_serverCpuAtLoad = 0;
    double m_ownCpuAtLoad = 0;
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
    if (static_cast<double>(settings.rate) / settings.clients > 40)
        std::fprintf(stderr,
                     "warning: %.0f messages/s per client exceeds the server's flood "
                     "limit\n",
                     settings.rate / settings.clients);
    signal(SIGPIPE, SIG_IGN);
    ServerChild server = startServer(settings);
    {
        LoadRun run(settings, server);
        run.run();
    }
    stopServer(server);
    return 0;
}
