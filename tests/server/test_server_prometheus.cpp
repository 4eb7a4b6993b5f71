// A real Prometheus (Debian's package) scrapes a test server on loopback; a query through
// its HTTP API returns the number of players the test logged in. Without the program
// the test fails: CI installs it (scripts/deps.sh), and a metrics page nobody can scrape
// would otherwise pass unnoticed.
#include "httpclient.h"
#include "loopbackport.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string findPrometheus()
{
    if (const char *given = std::getenv("OSTREL_PROMETHEUS"); given && *given)
        return ::access(given, X_OK) == 0 ? given : "";
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    dirs += ":/usr/bin:/usr/sbin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const auto end = dirs.find(':', start);
        const std::string candidate =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start) +
            "/prometheus";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

// A Prometheus of the test's own: its configuration, its database and its web address
// in a temporary folder and on loopback; killed with the object.
class Prometheus
{
public:
    Prometheus(const std::string &program, const std::string &dir, int targetPort)
    {
        m_port = freeLoopbackPort();
        const std::string config = dir + "/prometheus.yml";
        std::ofstream(config) << "global:\n"
                                 "  scrape_interval: 250ms\n"
                                 "  scrape_timeout: 200ms\n"
                                 "scrape_configs:\n"
                                 "  - job_name: lobby\n"
                                 "    static_configs:\n"
                                 "      - targets: ['127.0.0.1:"
                              << targetPort << "']\n";
        const std::vector<std::string> arguments = {
            program, "--config.file=" + config, "--storage.tsdb.path=" + dir + "/data",
            "--web.listen-address=127.0.0.1:" + std::to_string(m_port), "--log.level=warn"};
        m_log = dir + "/prometheus.log";
        m_pid = fork();
        if (m_pid == 0) {
            const int out = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
            }
            // Nothing of the test's own (the players' sockets above all) may stay open in
            // Prometheus: a player who leaves would not be seen to go.
            ::close_range(3, ~0U, 0);
            std::vector<char *> argv;
            for (const auto &a : arguments)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Prometheus()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Prometheus(const Prometheus &) = delete;
    Prometheus &operator=(const Prometheus &) = delete;

    int port() const { return m_port; }
    std::string log() const
    {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_log;
};

// The value of an instant query's single result ("...,\"value\":[TIME,\"N\"]"), or
// nothing while there is none.
std::optional<std::string> queryValue(int port, const std::string &query)
{
    const auto reply = httpGet(port, "/api/v1/query?query=" + urlEncode(query), 2s);
    if (!reply || reply->status != 200)
        return std::nullopt;
    const auto value = reply->body.find("\"value\":[");
    if (value == std::string::npos)
        return std::nullopt;
    const auto open = reply->body.find(",\"", value);
    const auto close = reply->body.find('"', open + 2);
    if (open == std::string::npos || close == std::string::npos)
        return std::nullopt;
    return reply->body.substr(open + 2, close - open - 2);
}

TEST(Prometheus, ScrapesTheServerAndCountsThePlayersLoggedIn)
{
    const std::string program = findPrometheus();
    ASSERT_FALSE(program.empty())
        << "the prometheus program is missing (Debian package \"prometheus\"; "
           "scripts/deps.sh installs it)";
    TempDir dir;
    const int metricsPort = freeLoopbackPort();
    ServerProcess server(dir.path(),
                         {"--metrics-listen", "127.0.0.1:" + std::to_string(metricsPort)});
    constexpr int kPlayers = 3;
    std::vector<WireClient> players;
    for (int i = 0; i < kPlayers; ++i)
        players.push_back(createAccount(server.port(), "player" + std::to_string(i)));

    Prometheus prometheus(program, dir.path(), metricsPort);
    const auto until = Clock::now() + 60s;
    std::optional<std::string> online;
    std::optional<std::string> up;
    while (Clock::now() < until) {
        up = queryValue(prometheus.port(), "up{job=\"lobby\"}");
        online = queryValue(prometheus.port(), "ostrel_players_online{job=\"lobby\"}");
        if (online == std::to_string(kPlayers))
            break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(up.value_or("(none)"), "1") << prometheus.log();
    ASSERT_EQ(online.value_or("(none)"), std::to_string(kPlayers)) << prometheus.log();

    // What changes on the server reaches the query: one player leaves.
    players.back().close();
    const auto later = Clock::now() + 30s;
    while (Clock::now() < later &&
           queryValue(prometheus.port(), "ostrel_players_online{job=\"lobby\"}") !=
               std::to_string(kPlayers - 1))
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(queryValue(prometheus.port(), "ostrel_players_online{job=\"lobby\"}").value_or(""),
              std::to_string(kPlayers - 1))
        << "up: " << queryValue(prometheus.port(), "up{job=\"lobby\"}").value_or("(none)") << "\n"
        << prometheus.log();
    EXPECT_EQ(queryValue(prometheus.port(), "ostrel_logins_total{job=\"lobby\"}").value_or(""),
              std::to_string(kPlayers));
}

} // namespace
