#include "benchserver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace {

std::string makeTempDir()
{
    char pattern[] = "/tmp/ostrel-loadgen-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}

// A port nobody listens on right now, for a server that cannot be told to pick one.
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("finding a free port");
        std::exit(1);
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool accepting(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

BenchServer BenchServer::startOurs(const std::string &binary,
                                   const std::vector<std::string> &extraArguments)
{
    BenchServer server;
    server.m_folder = makeTempDir();
    // Every load client comes from 127.0.0.1: the per-address limits must not apply.
    std::vector<std::string> arguments = {binary,          "--listen", "127.0.0.1:0", "--data",
                                          server.m_folder, "--exempt", "127.0.0.1"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char *> argv;
    for (auto &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        std::exit(1);
    server.m_pid = fork();
    if (server.m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(out[0]);
        setenv("OSTREL_SERVER_FAST_HASH", "1", 1);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    // "listening on HOST:PORT", then "listening for TLS on HOST:PORT" when asked for.
    const bool tls = std::find(extraArguments.begin(), extraArguments.end(), "--tls-listen") !=
                     extraArguments.end();
    std::string text;
    for (int lines = tls ? 2 : 1; lines > 0; --lines) {
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        const auto colon = line.rfind(':');
        if (colon == std::string::npos)
            break;
        const int port = std::atoi(line.c_str() + colon + 1);
        if (line.rfind("listening on ", 0) == 0)
            server.m_port = port;
        else if (line.rfind("listening for TLS on ", 0) == 0)
            server.m_tlsPort = port;
        text += line + "\n";
    }
    close(out[0]);
    if (server.m_port <= 0 || (tls && server.m_tlsPort <= 0)) {
        std::fprintf(stderr, "the server did not start: %s\n", text.c_str());
        std::exit(1);
    }
    return server;
}

// No flood penalty, no cap on connections per address, no name lookups for connecting
// clients.
BenchServer BenchServer::startIrc(const std::string &binary, int pingSeconds)
{
    BenchServer server;
    server.m_kind = Kind::Irc;
    server.m_folder = makeTempDir();
    server.m_port = freePort();
    const std::string config = server.m_folder + "/ngircd.conf";
    {
        std::ofstream out(config);
        out << "[Global]\n"
               "Name = loadgen.localhost\n"
               "Info = load generator\n"
               "AdminInfo1 = load generator\n"
               "AdminInfo2 = loopback\n"
               "AdminEMail = nobody@localhost\n"
               "Listen = 127.0.0.1\n"
               "Ports = "
            << server.m_port
            << "\n"
               "MotdPhrase = load generator\n"
               "[Limits]\n"
               "MaxConnections = 0\n"
               "MaxConnectionsIP = 0\n"
               "MaxJoins = 0\n"
               "MaxNickLength = 16\n"
               "MaxPenaltyTime = 0\n"
               "PingTimeout = "
            << pingSeconds
            << "\n"
               "PongTimeout = 60\n"
               "[Options]\n"
               "DNS = no\n"
               "Ident = no\n"
               "PAM = no\n";
    }
    server.m_pid = fork();
    if (server.m_pid == 0) {
        // Started as root it runs as nobody: the log is opened before it changes user.
        const int log =
            open((server.m_folder + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execl(binary.c_str(), binary.c_str(), "--nodaemon", "--config", config.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepting(server.m_port)) {
        int status = 0;
        if (waitpid(server.m_pid, &status, WNOHANG) == server.m_pid ||
            std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "%s did not start on port %d\n", binary.c_str(), server.m_port);
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return server;
}

long BenchServer::rssKiB() const
{
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

const std::vector<std::string> &BenchServer::sampleRooms()
{
    static const std::vector<std::string> rooms = {
        "Wordsmith",        "Letterbox",        "Dicebound",        "Plumbrix",
        "ADULTPlumbrix",    "Wobbleton",        "Tilerun",          "Bonestack",
        "PlumbrixMYLADDER", "PlumbrixRMLADDER", "DiceboundMYLADDER"};
    return rooms;
}

double BenchServer::cpuSeconds() const
{
    return cpuSecondsOf(m_pid);
}

double BenchServer::cpuSecondsOf(pid_t pid)
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

void BenchServer::reportClosings() const
{
    std::ifstream in(m_folder + "/server.log");
    std::unordered_map<std::string, int> reasons;
    std::string line;
    while (std::getline(in, line)) {
        const auto at = line.find("Shutting down connection ");
        const auto open = line.find('(', at);
        const auto close = line.find(')', open);
        if (at != std::string::npos && open != std::string::npos && close != std::string::npos)
            ++reasons[line.substr(open + 1, close - open - 1)];
    }
    for (const auto &[reason, count] : reasons)
        std::printf("ngircd closed %d connections: %s\n", count, reason.c_str());
}

void BenchServer::stop()
{
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    if (m_kind == Kind::Irc)
        reportClosings();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}
