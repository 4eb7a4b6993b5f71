#include "wireclient.h"

#include "encryptit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

WireClient::WireClient(int port, const char *source)
{
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd >= 0 && source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, source, &local.sin_addr) != 1 ||
            bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            throw std::runtime_error(std::string("cannot bind to ") + source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the server");
    int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

WireClient::~WireClient()
{
    close();
}

WireClient::WireClient(WireClient &&other) noexcept
    : m_fd(other.m_fd), m_buffer(std::move(other.m_buffer))
{
    other.m_fd = -1;
}

void WireClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void WireClient::send(std::string_view plain)
{
    std::string bytes = ostrel::Encrypt(plain, ostrel::kWireKey);
    bytes.push_back('\n');
    sendRaw(bytes);
}

void WireClient::sendRaw(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return; // the server hung up; later reads tell the test
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::optional<std::string> WireClient::next(Ms timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto feed = m_buffer.find('\n');
        if (feed != std::string::npos) {
            std::string line = m_buffer.substr(0, feed);
            m_buffer.erase(0, feed + 1);
            return ostrel::Decrypt(line, ostrel::kWireKey);
        }
        if (m_fd < 0)
            return std::nullopt;
        const auto left =
            std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char chunk[65536];
        const ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return std::nullopt;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> WireClient::waitFor(std::string_view prefix, Ms timeout,
                                               std::vector<std::string> *skipped)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        auto line = next(left.count() > 0 ? left : Ms(0));
        if (!line)
            return std::nullopt;
        if (line->rfind(prefix, 0) == 0)
            return line;
        if (skipped)
            skipped->push_back(*line);
    }
}

bool WireClient::waitClosed(Ms timeout, std::vector<std::string> *lines)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (true) {
            const auto feed = m_buffer.find('\n');
            if (feed == std::string::npos)
                break;
            if (lines)
                lines->push_back(ostrel::Decrypt(m_buffer.substr(0, feed), ostrel::kWireKey));
            m_buffer.erase(0, feed + 1);
        }
        const auto left =
            std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string newRecord(const std::string &name, const std::string &password, const std::string &hat)
{
    return name + "^" + password +
           "^First^^City^Country^^^Hello/r/there^ 0.00000000000000E+0000^"
           " 0.00000000000000E+0000^0^^0^ 0.00000000000000E+0000^N^0^0^" +
           hat + "^^ 0.00000000000000E+0000^Unknown^";
}

namespace {

WireClient finishLogin(WireClient client, const std::string &name)
{
    auto success = client.waitFor("LOGIN|");
    EXPECT_TRUE(success && success->rfind("LOGIN|SUCCESS|", 0) == 0)
        << name << ": " << success.value_or("(nothing)");
    EXPECT_TRUE(client.waitFor("JOINSUBJECT|")) << name;
    return client;
}

} // namespace

WireClient createAccount(int port, const std::string &name, const std::string &password,
                         const std::string &hat, const char *source)
{
    WireClient client(port, source);
    client.send("LOGINNEW|" + name + "|0121|" + newRecord(name, password, hat));
    return finishLogin(std::move(client), name);
}

WireClient logIn(int port, const std::string &name, const std::string &password, const char *source)
{
    WireClient client(port, source);
    client.send("LOGIN|" + name + "|0121|" + password);
    return finishLogin(std::move(client), name);
}

std::vector<std::string> linesBefore(WireClient &client, const std::string &marker)
{
    std::vector<std::string> lines;
    EXPECT_TRUE(client.waitFor(marker, WireClient::kWait, &lines)) << "no " << marker;
    return lines;
}

bool contains(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
