#include "redisserver.h"

#include "loopbackport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

RedisServer::RedisServer()
{
    for (const char *candidate : {"/usr/bin/redis-server", "/usr/local/bin/redis-server"}) {
        if (::access(candidate, X_OK) == 0) {
            m_program = candidate;
            break;
        }
    }
    if (m_program.empty()) {
        m_why = "redis-server is not installed (Debian: redis-server)";
        return;
    }
    char pattern[] = "/tmp/ostrel-redis-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_why = "cannot create a temporary folder";
        return;
    }
    m_dir = pattern;
    m_port = freeLoopbackPort();
    start();
}

RedisServer::~RedisServer()
{
    kill(false);
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

bool RedisServer::start()
{
    const std::string port = std::to_string(m_port);
    const pid_t child = ::fork();
    if (child < 0) {
        m_why = "fork failed";
        return false;
    }
    if (child == 0) {
        const std::string log = m_dir + "/redis.log";
        ::execl(m_program.c_str(), m_program.c_str(), "--bind", "127.0.0.1", "--port", port.c_str(),
                "--save", "", "--appendonly", "no", "--dir", m_dir.c_str(), "--logfile",
                log.c_str(), "--daemonize", "no", "--protected-mode", "yes",
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    m_pid = child;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (accepts(m_port))
            return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_why = "redis-server ended at start (see its log in " + m_dir + ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(false);
    m_why = "redis-server did not accept connections within 10 s";
    return false;
}

bool RedisServer::kill(bool again)
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    return again ? start() : true;
}
