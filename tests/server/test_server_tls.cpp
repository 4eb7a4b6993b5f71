// The TLS listener: its certificate, a TLS-only server, a plain client at the TLS port,
// and what a listener on the path sees of a login.
#include "serverprocess.h"
#include "wireclient.h"

#include "encryptit.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string fingerprintOf(const std::string &pemPath)
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
    return std::string(reinterpret_cast<char *>(digest), length);
}

int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen");
    port = ntohs(address.sin_port);
    return fd;
}

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect");
    return fd;
}

// A listener on the path: forwards one connection to the server and keeps a copy of
// everything that crossed it, both ways.
class RecordingProxy
{
public:
    explicit RecordingProxy(int serverPort) : m_serverPort(serverPort)
    {
        m_listener = listenOnLoopback(m_port);
        m_thread = std::thread([this] { run(); });
    }
    ~RecordingProxy()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    std::string recorded()
    {
        std::lock_guard lock(m_mutex);
        return m_recorded;
    }

private:
    void run()
    {
        pollfd wait{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&wait, 1, 50) == 0) {
        }
        if (m_stop)
            return;
        const int client = ::accept(m_listener, nullptr, nullptr);
        const int server = connectTo(m_serverPort);
        pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        while (!m_stop) {
            if (::poll(both, 2, 50) <= 0)
                continue;
            bool closed = false;
            for (int i = 0; i < 2; ++i) {
                if (!(both[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char chunk[16384];
                const ssize_t n = ::recv(both[i].fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    closed = true;
                    break;
                }
                {
                    std::lock_guard lock(m_mutex);
                    m_recorded.append(chunk, static_cast<std::size_t>(n));
                }
                ::send(both[1 - i].fd, chunk, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
            if (closed)
                break;
        }
        ::close(client);
        ::close(server);
    }

    int m_serverPort;
    int m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_recorded;
    std::thread m_thread;
};

TEST(TlsListener, ASelfSignedCertificateIsMadeOnceAndKept)
{
    TempDir dir;
    std::string first;
    {
        ServerProcess server(dir.path(), {"--tls-listen", "127.0.0.1:0"});
        ASSERT_GT(server.tlsPort(), 0);
        const std::string key = dir.path() + "/tls-key.pem";
        struct stat info
        {
        };
        ASSERT_EQ(::stat(key.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "the key is for the server's eyes only";
        first = fingerprintOf(dir.path() + "/tls-cert.pem");
        ASSERT_FALSE(first.empty());
        createAccount(server.port(), "ann");
        WireClient tls(server.tlsPort(), true);
        tls.send("LOGIN|ann|0121|pw");
        EXPECT_TRUE(tls.waitFor("LOGIN|SUCCESS|"));
    }
    ServerProcess again(dir.path(), {"--tls-listen", "127.0.0.1:0"});
    EXPECT_EQ(fingerprintOf(dir.path() + "/tls-cert.pem"), first)
        << "clients that pinned the certificate must find the same one";
}

TEST(TlsListener, ACertificateOfTheOperatorsOwnIsUsed)
{
    TempDir made;
    {
        ServerProcess maker(made.path(), {"--tls-listen", "127.0.0.1:0"});
    }
    TempDir dir;
    ServerProcess server(dir.path(), {"--tls-listen", "127.0.0.1:0", "--tls-cert",
                                      made.path() + "/tls-cert.pem", "--tls-key",
                                      made.path() + "/tls-key.pem"});
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/tls-cert.pem"));
    WireClient tls(server.tlsPort(), true);
    tls.send("LOGINNEW|bob|0121|" + newRecord("bob", "pw"));
    EXPECT_TRUE(tls.waitFor("LOGIN|SUCCESS|"));
}

TEST(TlsListener, APlainClientAtTheTlsPortHearsNoLine)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--tls-listen", "127.0.0.1:0"});
    WireClient plain(server.tlsPort(), false);
    plain.send("LOGINNEW|cat|0121|" + newRecord("cat", "pw"));
    std::vector<std::string> lines;
    EXPECT_TRUE(plain.waitClosed(WireClient::Ms(5000), &lines));
    EXPECT_TRUE(lines.empty()) << lines.front();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server.log().find("TLS handshake failed") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(server.log().find("TLS handshake failed"), std::string::npos) << server.log();
}

TEST(TlsListener, OnlyTlsWhenThePlainListenerIsOff)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--listen", "none", "--tls-listen", "127.0.0.1:0"});
    EXPECT_EQ(server.plainPort(), 0);
    WireClient tls(server.tlsPort(), true);
    tls.send("LOGINNEW|dan|0121|" + newRecord("dan", "pw"));
    EXPECT_TRUE(tls.waitFor("LOGIN|SUCCESS|"));

    std::string output;
    EXPECT_EQ(ServerProcess::runToEnd({"--listen", "none", "--data", dir.path()}, output), 2);
    EXPECT_NE(output.find("--listen none needs --tls-listen"), std::string::npos) << output;
}

// What crosses the network during a login and a private message: inside TLS neither the
// password nor the message shows, in plain text or scrambled; without TLS both do (so
// the check can fail).
TEST(TlsListener, ALoginInsideTlsShowsNoPasswordOnTheWire)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--tls-listen", "127.0.0.1:0"});
    {
        WireClient maker(server.tlsPort(), true);
        maker.send("LOGINNEW|eve|0121|" + newRecord("eve", "Sekr3t9"));
        ASSERT_TRUE(maker.waitFor("LOGIN|SUCCESS|"));
    }
    const std::string secrets[] = {"Sekr3t9", "meet at the old mill"};
    auto leaked = [&](const std::string &recorded) {
        for (const auto &secret : secrets) {
            if (recorded.find(secret) != std::string::npos ||
                recorded.find(ostrel::Encrypt(secret, ostrel::kWireKey)) != std::string::npos)
                return true;
        }
        return false;
    };
    for (const bool tls : {true, false}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        RecordingProxy proxy(tls ? server.tlsPort() : server.plainPort());
        {
            WireClient client(proxy.port(), tls);
            client.send("LOGIN|eve|0121|Sekr3t9");
            ASSERT_TRUE(client.waitFor("JOINSUBJECT|"));
            client.send("SEND|PMES|eve|1:00 PM+meet at the old mill");
            ASSERT_TRUE(client.waitFor("SEND|eve|PMES|"));
        }
        EXPECT_EQ(leaked(proxy.recorded()), !tls);
    }
}

} // namespace
