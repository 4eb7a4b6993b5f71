#include "serverprocess.h"

#include "wireclient.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char *> argvOf(std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (auto &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Waits for a child to exit within the timeout; -1 when it did not. A pidfd becomes
// readable when the process ends, so the wait needs no polling loop.
int waitExit(pid_t pid, std::chrono::milliseconds timeout)
{
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, static_cast<int>(timeout.count()));
        close(fd);
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TempDir::TempDir()
{
    char pattern[] = "/tmp/ostrel-server-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string certificateFingerprint(const std::string &pemPath)
{
    FILE *file = std::fopen(pemPath.c_str(), "r");
    if (!file)
        return {};
    X509 *certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (!certificate)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, EVP_sha256(), digest, &length);
    X509_free(certificate);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0xf];
    }
    return text;
}

ServerProcess::ServerProcess(const std::string &dataDir, std::vector<std::string> extraArgs)
    : ServerProcess(dataDir, Setup{.arguments = std::move(extraArgs)})
{
}

ServerProcess::ServerProcess(const std::string &dataDir, const Setup &setup)
    : m_host(setup.listenHost), m_dataDir(dataDir)
{
    m_logPath = dataDir + "/server-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".log";
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    auto address = [&](int port) { return setup.listenHost + ":" + std::to_string(port); };
    std::vector<std::string> arguments = setup.launcher;
    arguments.insert(arguments.end(), {OSTREL_SERVER_BINARY, "--listen", address(setup.listenPort),
                                       "--data", dataDir});
    const bool tls = testOverTls() || setup.tls ||
                     std::find(setup.arguments.begin(), setup.arguments.end(), "--tls-listen") !=
                         setup.arguments.end();
    if (testOverTls() || setup.tls)
        arguments.insert(arguments.end(), {"--tls-listen", address(setup.tlsListenPort)});
    arguments.insert(arguments.end(), setup.arguments.begin(), setup.arguments.end());
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int err = open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("OSTREL_SERVER_FAST_HASH", "1", 1);
        for (const auto &[name, value] : setup.environment)
            setenv(name.c_str(), value.c_str(), 1);
        if (setup.descriptorLimit > 0) {
            const rlimit limit{setup.descriptorLimit, setup.descriptorLimit};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        auto argv = argvOf(arguments);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    // The plain listener's line, then the TLS listener's; either may be absent.
    const bool plain = std::find(arguments.begin(), arguments.end(), "none") == arguments.end();
    auto complete = [&] {
        if (text.empty() || text.back() != '\n')
            return false;
        return (!plain || text.find("listening on ") != std::string::npos) &&
               (!tls || text.find("listening for TLS on ") != std::string::npos);
    };
    while (!complete()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    auto portAfter = [&](const std::string &marker) {
        const auto at = text.find(marker);
        if (at == std::string::npos)
            return 0;
        const std::string line = text.substr(at, text.find('\n', at) - at);
        return std::atoi(line.c_str() + line.rfind(':') + 1);
    };
    m_listening = text.substr(0, text.find('\n'));
    m_plainPort = portAfter("listening on ");
    m_tlsPort = portAfter("listening for TLS on ");
    if ((plain && m_plainPort <= 0) || (tls && m_tlsPort <= 0)) {
        kill(m_pid, SIGKILL);
        waitExit(m_pid, std::chrono::seconds(5));
        m_pid = -1;
        throw std::runtime_error("the server did not start: \"" + text + "\"\n" + log());
    }
    m_port = testOverTls() || !plain ? m_tlsPort : m_plainPort;
}

std::string ServerProcess::fingerprint() const
{
    return m_tlsPort > 0 ? certificateFingerprint(m_dataDir + "/tls-cert.pem") : std::string();
}

bool ServerProcess::setClass(const std::string &name, const std::string &accountClass) const
{
    std::string output;
    return runToEnd({"set-class", name, accountClass, "--data", m_dataDir}, output) == 0;
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitExit(m_pid, std::chrono::seconds(5));
    }
}

std::string ServerProcess::log() const
{
    std::ifstream in(m_logPath);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void ServerProcess::signal(int number)
{
    if (m_pid > 0)
        kill(m_pid, number);
}

int ServerProcess::terminate()
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return awaitExit();
}

int ServerProcess::awaitExit()
{
    if (m_pid <= 0)
        return -1;
    const int status = waitExit(m_pid, std::chrono::seconds(10));
    if (status < 0) {
        kill(m_pid, SIGKILL);
        waitExit(m_pid, std::chrono::seconds(5));
    }
    m_pid = -1;
    return status;
}

bool ServerProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

int ServerProcess::runToEnd(const std::vector<std::string> &args, std::string &output)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    std::vector<std::string> arguments = {OSTREL_SERVER_BINARY};
    arguments.insert(arguments.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        auto argv = argvOf(arguments);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    return waitExit(pid, std::chrono::seconds(20));
}
