#include "wireclient.h"

#include "encryptit.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

bool testOverTls()
{
    const char *value = std::getenv("OSTREL_TEST_TLS");
    return value && std::string_view(value) == "1";
}

namespace {

// Tests trust the server's self-signed certificate: what they check is the protocol
// inside TLS, not who the server is (the client's pinning has tests of its own).
SSL_CTX *clientContext()
{
    static SSL_CTX *context = [] {
        // OpenSSL writes with write(): a server that hung up must fail the write, not end
        // the test process.
        std::signal(SIGPIPE, SIG_IGN);
        SSL_CTX *c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        // A record that carries no application data (a session ticket) must not make a
        // read wait for the next one: the caller polls with its own deadline.
        SSL_CTX_clear_mode(c, SSL_MODE_AUTO_RETRY);
        return c;
    }();
    return context;
}

} // namespace

WireClient::WireClient(int port, const char *source) : WireClient(port, testOverTls(), source) {}

WireClient::WireClient(int port, bool tls, const char *source, int receiveBuffer)
{
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd >= 0 && receiveBuffer > 0)
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
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
    if (tls) {
        m_tls = SSL_new(clientContext());
        SSL_set_fd(m_tls, m_fd);
        // A server that refuses the connection closes it before the handshake is done:
        // the client is then one the server has closed, with nothing said.
        if (SSL_connect(m_tls) != 1) {
            ERR_clear_error();
            close();
        }
    }
}

long WireClient::receive(char *buffer, std::size_t size, int timeoutMs)
{
    // Bytes TLS has decrypted already wait in the library, not in the socket.
    if (!m_tls || SSL_pending(m_tls) == 0) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return -1;
    }
    if (!m_tls) {
        const ssize_t n = recv(m_fd, buffer, size, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return 0;
        return n < 0 ? -1 : n;
    }
    const int n = SSL_read(m_tls, buffer, static_cast<int>(size));
    if (n > 0)
        return n;
    const int error = SSL_get_error(m_tls, n);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return -2; // a record not complete yet: poll again
    ERR_clear_error();
    return 0;
}

WireClient::~WireClient()
{
    close();
}

WireClient::WireClient(WireClient &&other) noexcept
    : m_fd(other.m_fd), m_tls(other.m_tls), m_buffer(std::move(other.m_buffer))
{
    other.m_fd = -1;
    other.m_tls = nullptr;
}

void WireClient::close()
{
    if (m_tls)
        SSL_free(m_tls);
    m_tls = nullptr;
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
        const long n = m_tls ? SSL_write(m_tls, bytes.data(), static_cast<int>(bytes.size()))
                             : ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
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
        char chunk[65536];
        const long n = receive(chunk, sizeof chunk, static_cast<int>(left.count()));
        if (n == -2)
            continue;
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
        if (m_fd < 0)
            return true;
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
        char chunk[65536];
        const long n = receive(chunk, sizeof chunk, static_cast<int>(left.count()));
        if (n == 0)
            return true;
        if (n == -2)
            continue;
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

std::vector<std::string> listedEntries(const std::string &line)
{
    std::vector<std::string> entries;
    std::size_t at = line.find('|', line.find('|') + 1);
    while (at != std::string::npos) {
        const auto next = line.find('|', at + 1);
        entries.push_back(line.substr(at + 1, next == std::string::npos ? next : next - at - 1));
        at = next;
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}
