// The TLS listener: its certificate, a TLS-only server, a plain client at the TLS port,
// and what a listener on the path sees of a login.
#include "serverprocess.h"
#include "tcpproxy.h"
#include "wireclient.h"

#include "encryptit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace {

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
        first = certificateFingerprint(dir.path() + "/tls-cert.pem");
        ASSERT_FALSE(first.empty());
        createAccount(server.port(), "ann");
        WireClient tls(server.tlsPort(), true);
        tls.send("LOGIN|ann|0121|pw");
        EXPECT_TRUE(tls.waitFor("LOGIN|SUCCESS|"));
    }
    ServerProcess again(dir.path(), {"--tls-listen", "127.0.0.1:0"});
    EXPECT_EQ(certificateFingerprint(dir.path() + "/tls-cert.pem"), first)
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
        TcpProxy proxy(tls ? server.tlsPort() : server.plainPort());
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
