// What an operator sees and does on one server: the metrics and health pages, the admin
// console, systemd's notifications and the log.
#include "httpclient.h"
#include "loopbackport.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls the metrics page until the series has the value (metrics follow events that
// happen on the server's thread, after the client saw its own reply).
bool metricBecomes(int port, const std::string &series, double value, std::string *page = nullptr)
{
    const auto until = Clock::now() + 5s;
    std::string last;
    while (Clock::now() < until) {
        if (const auto reply = httpGet(port, "/metrics"); reply && reply->status == 200) {
            last = reply->body;
            if (metricValue(last, series) == value)
                return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (page)
        *page = last;
    return false;
}

int runAdmin(const std::string &dir, const std::vector<std::string> &words, std::string &output)
{
    std::vector<std::string> arguments = {"admin", "--data", dir};
    arguments.insert(arguments.end(), words.begin(), words.end());
    return ServerProcess::runToEnd(arguments, output);
}

class OperationsTest : public ::testing::Test
{
protected:
    std::unique_ptr<ServerProcess> start(std::vector<std::string> extra = {})
    {
        extra.insert(extra.end(),
                     {"--metrics-listen", "127.0.0.1:" + std::to_string(m_metricsPort)});
        return std::make_unique<ServerProcess>(m_dir.path(), std::move(extra));
    }

    std::string admin(const std::vector<std::string> &words, int expectedStatus = 0)
    {
        std::string output;
        EXPECT_EQ(runAdmin(m_dir.path(), words, output), expectedStatus) << output;
        return output;
    }

    TempDir m_dir;
    int m_metricsPort = freeLoopbackPort();
};

TEST_F(OperationsTest, MetricsCountPlayersLoginsLinesAndBytes)
{
    auto server = start();
    auto alice = createAccount(server->port(), "alice");
    auto bob = createAccount(server->port(), "bob");
    {
        WireClient wrong(server->port());
        wrong.send("LOGIN|alice|0121|nope");
        ASSERT_TRUE(wrong.waitFor("LOGIN|FAILED|"));
    }
    createAccount(server->port(), "carl").close();
    alice.send("SEND|GHAT|hello|clBlack");
    ASSERT_TRUE(bob.waitFor("SEND|alice|GHAT|hello"));
    alice.send("SEND|PMES|carl|12:00+for later");
    ASSERT_TRUE(alice.waitFor("ERROR|carl is offline"));

    std::string page;
    ASSERT_TRUE(metricBecomes(m_metricsPort, "ostrel_failed_logins_total", 1, &page)) << page;
    const auto reply = httpGet(m_metricsPort, "/metrics");
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->headers.find("Content-Type: text/plain; version=0.0.4"), std::string::npos)
        << reply->headers;
    page = reply->body;
    const std::string transport = testOverTls() ? "tls" : "plain";
    const std::map<std::string, double> expected = {
        {"ostrel_players_online", 2},
        {"ostrel_lobby_players_online", 2},
        {"ostrel_logins_total", 3},
        {"ostrel_accounts_created_total", 3},
        {"ostrel_kept_messages_total", 1},
        {"ostrel_failed_logins_total", 1},
        {"ostrel_accounts", 3},
        {"ostrel_lines_received_total{keyword=\"LOGINNEW\"}", 3},
        {"ostrel_lines_received_total{keyword=\"LOGIN\"}", 1},
        {"ostrel_lines_received_total{keyword=\"SEND\"}", 2},
        {"ostrel_lines_sent_total{keyword=\"NEWSUCCESS\"}", 3},
        {"ostrel_connections{transport=\"" + transport + "\",state=\"logged_in\"}", 2},
        {"ostrel_hashing_queue", 0},
        {"ostrel_draining", 0},
    };
    for (const auto &[series, value] : expected)
        EXPECT_EQ(metricValue(page, series), value) << series << "\n" << page;
    EXPECT_GE(metricValue(page, "ostrel_lines_sent_total{keyword=\"SEND\"}"), 2) << page;
    EXPECT_GT(metricValue(page, "ostrel_received_bytes_total"), 0) << page;
    EXPECT_GT(metricValue(page, "ostrel_sent_bytes_total"), 0) << page;
    EXPECT_GT(metricValue(page, "ostrel_account_store_seconds_count"), 0) << page;
    EXPECT_EQ(metricValue(page, "ostrel_account_store_seconds_bucket{le=\"+Inf\"}"),
              metricValue(page, "ostrel_account_store_seconds_count"))
        << page;
    EXPECT_EQ(metricValue(page, "ostrel_hashing_wait_seconds_count"), 4) << page;
    // A single node has no cluster figures at all.
    EXPECT_EQ(page.find("ostrel_cluster"), std::string::npos) << page;
    // Every family is introduced as the format asks.
    EXPECT_NE(page.find("# TYPE ostrel_logins_total counter\n"), std::string::npos);
    EXPECT_NE(page.find("# TYPE ostrel_players_online gauge\n"), std::string::npos);
    EXPECT_NE(page.find("# TYPE ostrel_account_store_seconds histogram\n"), std::string::npos);

    alice.close();
    EXPECT_TRUE(metricBecomes(m_metricsPort, "ostrel_players_online", 1, &page)) << page;
}

TEST_F(OperationsTest, DropsAreCountedByReason)
{
    auto server = start({"--login-time", "0.3"});
    const std::string base = "ostrel_dropped_connections_total{reason=\"";
    {
        WireClient idle(server->port());
        EXPECT_TRUE(idle.waitClosed());
    }
    EXPECT_TRUE(metricBecomes(m_metricsPort, base + "login_time\"}", 1));
    {
        auto flooder = createAccount(server->port(), "flooder");
        for (int i = 0; i < 300; ++i)
            flooder.send("PING|");
        EXPECT_TRUE(flooder.waitClosed());
    }
    EXPECT_TRUE(metricBecomes(m_metricsPort, base + "flood\"}", 1));
    {
        WireClient longLine(server->port());
        longLine.sendRaw(std::string(70 * 1024, 'x'));
        EXPECT_TRUE(longLine.waitClosed());
    }
    EXPECT_TRUE(metricBecomes(m_metricsPort, base + "line_too_long\"}", 1));
    const auto page = httpGet(m_metricsPort, "/metrics").value_or(HttpReply{}).body;
    EXPECT_EQ(metricValue(page, base + "slow_reader\"}"), 0) << page;
    EXPECT_EQ(metricValue(page, base + "login_time\"}"), 1) << page;
}

TEST_F(OperationsTest, HealthPagesAndBoundsOfTheHttpAddress)
{
    auto server = start();
    const std::vector<std::pair<std::string, int>> pages = {
        {"/healthz", 200}, {"/readyz", 200}, {"/metrics?x=1", 200}, {"/nothing", 404}};
    for (const auto &[target, status] : pages) {
        const auto reply = httpGet(m_metricsPort, target);
        ASSERT_TRUE(reply) << target;
        EXPECT_EQ(reply->status, status) << target;
    }
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"POST /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405"},
        {"nonsense\r\n\r\n", "HTTP/1.1 400"},
        {"GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.1 413"},
    };
    for (const auto &[request, status] : bad) {
        const auto reply = httpExchange(m_metricsPort, request);
        ASSERT_TRUE(reply) << request.substr(0, 40);
        EXPECT_EQ(reply->substr(0, 12), status) << *reply;
    }
    // A request that never ends is answered and closed after the request time.
    const auto started = Clock::now();
    const auto stalled = httpExchange(m_metricsPort, "GET /metrics HTTP/1.1\r\n", 9s);
    ASSERT_TRUE(stalled);
    EXPECT_EQ(stalled->substr(0, 12), "HTTP/1.1 408");
    EXPECT_GE(Clock::now() - started, 4s);

    // Connections beyond the bound are closed at once; the lobby itself goes on.
    std::vector<int> idle;
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(m_metricsPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        idle.push_back(fd);
    }
    // Accepted in order: the idle ones take the places before this one comes.
    const auto refused = httpExchange(m_metricsPort, "GET /healthz HTTP/1.0\r\n\r\n", 2s);
    EXPECT_EQ(refused.value_or("(no close in time)"), "");
    createAccount(server->port(), "still").close();
    for (const int fd : idle)
        ::close(fd);
    const auto until = Clock::now() + 5s;
    std::optional<HttpReply> again;
    while (Clock::now() < until && !(again = httpGet(m_metricsPort, "/healthz", 1s)))
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 200);
}

TEST_F(OperationsTest, ConsoleWhoKickSilenceShoutAndSetClass)
{
    auto server = start();
    auto mod = createAccount(server->port(), "mod");
    auto ann = createAccount(server->port(), "ann");
    ASSERT_TRUE(mod.waitFor("ADDGUEST|ann+"));

    struct stat st = {};
    ASSERT_EQ(::stat((m_dir.path() + "/admin.sock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const auto who = admin({"who"});
    EXPECT_NE(who.find("mod\tLobby Chat\t127.0.0.1\tthis\n"), std::string::npos) << who;
    EXPECT_NE(who.find("ann\tLobby Chat\t127.0.0.1\tthis\n"), std::string::npos) << who;

    admin({"silence", "ann", "5"});
    EXPECT_EQ(ann.waitFor("ERROR|").value_or(""),
              "ERROR|A moderator has silenced you for 5 minutes.");
    ann.send("SEND|GHAT|hi|clBlack");
    EXPECT_EQ(ann.waitFor("ERROR|").value_or(""), "ERROR|You are silenced for 5 more minutes.");
    admin({"unsilence", "ann"});
    ASSERT_TRUE(ann.waitFor("ERROR|A moderator has lifted your silence."));
    ann.send("SEND|GHAT|free|clBlack");
    EXPECT_TRUE(mod.waitFor("SEND|ann|GHAT|free"));

    admin({"shout", "Back", "in", "ten", "minutes"});
    EXPECT_TRUE(mod.waitFor("SHOUT|Back in ten minutes"));
    EXPECT_TRUE(ann.waitFor("SHOUT|Back in ten minutes"));

    // The moderator's class, set while the server runs, is honoured at once.
    mod.send("HADMIN|7KAZ|mod|SILENCE|ann|3|");
    EXPECT_EQ(mod.waitFor("ERROR|").value_or(""), "ERROR|Only moderators can do that.");
    EXPECT_NE(admin({"accounts", "set-class", "mod", "T"}).find("mod now has class T"),
              std::string::npos);
    mod.send("HADMIN|7KAZ|mod|SILENCE|ann|3|");
    EXPECT_TRUE(ann.waitFor("ERROR|A moderator has silenced you for 3 minutes."));
    admin({"kick", "ann"});
    std::vector<std::string> last;
    EXPECT_TRUE(ann.waitClosed(WireClient::kWait, &last));
    EXPECT_TRUE(contains(last, "ERROR|A moderator has removed you from the server."));
    EXPECT_TRUE(mod.waitFor("GREMOVEGUEST|ann"));

    // Mistakes are said, with a failing status, and change nothing.
    const std::vector<std::vector<std::string>> wrong = {
        {"kick", "nobody"},
        {"kick", "ann"}, // not online any more
        {"silence", "mod", "0"},
        {"silence", "mod", "x"},
        {"shout", "a|b"},
        {"accounts", "set-class", "mod", "TT"},
        {"accounts", "set-class", "ghost", "T"},
        {"frobnicate"},
        {"news", "reload"}, // no news file
    };
    for (const auto &words : wrong) {
        std::string output;
        EXPECT_EQ(runAdmin(m_dir.path(), words, output), 1) << words[0] << ": " << output;
    }
    mod.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(mod.waitFor("SEND|mod|GHAT|still here"));

    // Every action is in the log with the local user who asked for it.
    const std::string user = getpwuid(geteuid())->pw_name;
    const auto log = server->log();
    EXPECT_NE(log.find("event=admin user=" + user + " uid=" + std::to_string(geteuid())),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("command=\"kick ann\" result=ok"), std::string::npos) << log;
    EXPECT_NE(log.find("event=moderation by=console:" + user + " order=boot target=ann"),
              std::string::npos)
        << log;
}

TEST_F(OperationsTest, ConsoleNewsReload)
{
    const std::string news = m_dir.path() + "/news.txt";
    std::ofstream(news) << "old news\n";
    auto server = start({"--news", news});
    auto ann = createAccount(server->port(), "ann");
    std::ofstream(news) << "fresh news\n";
    admin({"news", "reload"});
    const auto line = ann.waitFor("NEWS|");
    ASSERT_TRUE(line);
    EXPECT_NE(line->find("fresh news"), std::string::npos) << *line;
}

TEST_F(OperationsTest, DrainRefusesLoginsAndStopsWhenTheLastPlayerLeaves)
{
    auto server = start();
    auto ann = createAccount(server->port(), "ann");
    createAccount(server->port(), "bob").close();
    EXPECT_NE(admin({"drain", "5"}).find("1 players online"), std::string::npos);
    EXPECT_TRUE(ann.waitFor("SHOUT|This server is closing for maintenance"));

    WireClient late(server->port());
    late.send("LOGIN|bob|0121|pw");
    EXPECT_EQ(late.waitFor("LOGIN|").value_or(""),
              "LOGIN|FAILED|This server is closing for maintenance. Please try again later.");
    const auto ready = httpGet(m_metricsPort, "/readyz");
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->status, 503);
    EXPECT_EQ(ready->body, "not ready: draining\n");
    EXPECT_TRUE(server->running());

    ann.close();
    const auto until = Clock::now() + 5s;
    while (server->running() && Clock::now() < until)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(server->running()) << server->log();
    EXPECT_NE(server->log().find("event=stop reason=drained"), std::string::npos) << server->log();
    // The socket goes with the server.
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "/admin.sock"));
}

TEST_F(OperationsTest, ConsoleWithoutServerOrFromAnotherUserGetsNothing)
{
    std::string output;
    EXPECT_EQ(runAdmin(m_dir.path(), {"who"}, output), 1);
    EXPECT_NE(output.find("no server answers"), std::string::npos) << output;

    auto server = start();
    createAccount(server->port(), "ann").close();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string socketPath = m_dir.path() + "/admin.sock";
    // A socket whose mode was opened up by mistake still answers only its owner.
    ASSERT_EQ(::chmod(socketPath.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(10);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            _exit(11);
        const char request[] = "kick\tann\n";
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0)
            _exit(0); // closed already: refused
        char buffer[64];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        _exit(n <= 0 ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no setuid, 11: no connect, 12: answered";
    EXPECT_EQ(server->log().find("event=admin"), std::string::npos) << server->log();
}

// One request on the console's socket, raw; what the server answered before it closed.
std::string consoleExchange(const std::string &path, const std::string &request)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return "(no connection)";
    }
    [[maybe_unused]] const auto sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 8000) <= 0) {
            reply += "(no close in time)";
            break;
        }
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

TEST_F(OperationsTest, ConsoleRequestsAreBoundedAndTheSocketReplacesNothingElse)
{
    // A file in the socket's place is the operator's: it stays, and the lobby runs
    // without a console.
    const std::string socketPath = m_dir.path() + "/admin.sock";
    std::ofstream(socketPath) << "not a socket\n";
    {
        auto server = start();
        createAccount(server->port(), "ann").close();
        EXPECT_NE(server->log().find("event=admin_console state=off"), std::string::npos)
            << server->log();
        EXPECT_EQ(server->terminate(), 0);
    }
    std::ifstream kept(socketPath);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "not a socket");
    std::filesystem::remove(socketPath);

    auto server = start();
    EXPECT_EQ(consoleExchange(socketPath, std::string(5000, 'x')),
              "ERROR\nthe request is too long\n");
    EXPECT_EQ(consoleExchange(socketPath, "\n"), "ERROR\nno command\n");
    // A request that never ends is closed after the request time, unanswered.
    const auto started = Clock::now();
    EXPECT_EQ(consoleExchange(socketPath, "who"), "");
    EXPECT_GE(Clock::now() - started, 4s);
    EXPECT_EQ(consoleExchange(socketPath, "who\n").rfind("OK\nname\troom\taddress\tnode\n", 0), 0u);
}

// systemd's side of Type=notify: a datagram socket named by NOTIFY_SOCKET.
class NotifySocket
{
public:
    explicit NotifySocket(const std::string &path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path);
    }
    ~NotifySocket() { ::close(m_fd); }

    // The next datagram, or nothing within the time.
    std::optional<std::string> next(std::chrono::milliseconds timeout)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        const auto n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, n));
    }

private:
    std::string m_path;
    int m_fd = -1;
};

TEST_F(OperationsTest, SystemdHearsReadyWatchdogAndStopping)
{
    NotifySocket notify(m_dir.path() + "/notify");
    ServerProcess::Setup setup;
    setup.environment = {{"NOTIFY_SOCKET", m_dir.path() + "/notify"}, {"WATCHDOG_USEC", "200000"}};
    ServerProcess server(m_dir.path(), setup);
    const auto ready = notify.next(5s);
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->rfind("READY=1", 0), 0u) << *ready;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(notify.next(1s).value_or(""), "WATCHDOG=1");
    // A server that hangs stops feeding the watchdog, so systemd can restart it.
    server.signal(SIGSTOP);
    while (notify.next(300ms)) {
    }
    EXPECT_FALSE(notify.next(500ms));
    server.signal(SIGCONT);
    EXPECT_EQ(notify.next(1s).value_or(""), "WATCHDOG=1");
    server.signal(SIGTERM);
    std::optional<std::string> message;
    while ((message = notify.next(2s)) && *message == "WATCHDOG=1") {
    }
    EXPECT_EQ(message.value_or(""), "STOPPING=1");
    // A second SIGTERM could meet a server that already gave up its handlers.
    EXPECT_EQ(server.awaitExit(), 0);
}

TEST_F(OperationsTest, LogLinesAreFieldsWithoutPasswordsOrPrivateText)
{
    auto server = start();
    auto ann = createAccount(server->port(), "ann", "Zq7secret");
    auto bob = createAccount(server->port(), "bob");
    {
        WireClient wrong(server->port());
        wrong.send("LOGIN|ann|0121|Wx5guess");
        ASSERT_TRUE(wrong.waitFor("LOGIN|FAILED|"));
    }
    ann.send("SEND|PMES|bob|12:00+whisper-in-confidence");
    ASSERT_TRUE(bob.waitFor("SEND|ann|PMES|"));
    ann.send("SEND|PMES|carl|12:00+kept-in-confidence"); // no such account
    ASSERT_TRUE(ann.waitFor("ERROR|"));
    ann.close();
    ASSERT_TRUE(bob.waitFor("GREMOVEGUEST|ann"));
    const auto log = server->log();
    for (const char *secret :
         {"Zq7secret", "Wx5guess", "whisper-in-confidence", "kept-in-confidence"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << "\n" << log;
    const std::regex line(
        R"(ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z level=(debug|info|warning|error) event=\w+( \w+=("([^"\\]|\\.)*"|\S+))*)");
    std::istringstream lines(log);
    std::string text;
    int count = 0;
    while (std::getline(lines, text)) {
        ++count;
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    }
    EXPECT_GT(count, 5);
    EXPECT_NE(log.find("level=info event=login name=ann address=127.0.0.1"), std::string::npos)
        << log;
    EXPECT_NE(log.find("level=info event=login_failed session="), std::string::npos) << log;
    EXPECT_NE(log.find("address=127.0.0.1 reason=\"Unknown user ID or wrong password.\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("event=logout name=ann"), std::string::npos) << log;
}

TEST_F(OperationsTest, LogLevelLeavesOutWhatIsBelowIt)
{
    auto server = start({"--log-level", "warning"});
    createAccount(server->port(), "ann").close();
    {
        WireClient wrong(server->port());
        wrong.send("LOGIN|ann|0121|nope");
        ASSERT_TRUE(wrong.waitFor("LOGIN|FAILED|"));
    }
    EXPECT_EQ(server->terminate(), 0);
    const auto log = server->log();
    EXPECT_EQ(log.find("level=info"), std::string::npos) << log;
    std::string output;
    EXPECT_EQ(ServerProcess::runToEnd({"--log-level", "chatty"}, output), 2);
    EXPECT_NE(output.find("--log-level wants"), std::string::npos) << output;
}

} // namespace
