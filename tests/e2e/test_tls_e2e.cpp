// A lobby meets the reference server's self-signed certificate over TLS: it asks the
// player once and keeps the answer, refuses a certificate that changed since, does not
// connect when the player says no, and says so when TLS meets the plain port.
#include "assets.h"
#include "e2esupport.h"
#include "inifile.h"
#include "lobby.h"
#include "recordingplatform.h"
#include "torvexconnection.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QByteArray pinOf(const E2EPlayer &player, int port)
{
    return IniFile(player.data.path() + QStringLiteral("/Ostrel/ostrellobby.ini"))
        .ReadString("TrustedServers", QByteArray("127.0.0.1:") + QByteArray::number(port));
}

bool anyContains(const QStringList &texts, const QString &part)
{
    for (const QString &text : texts) {
        if (text.contains(part))
            return true;
    }
    return false;
}

class TlsEndToEnd : public EndToEndTest
{
protected:
    // A server that listens for TLS whatever the run.
    std::unique_ptr<ServerProcess> tlsServer(const QString &data, int plainPort = 0,
                                             int tlsPort = 0)
    {
        ServerProcess::Setup setup;
        setup.tls = true;
        setup.listenPort = plainPort;
        setup.tlsListenPort = tlsPort;
        return std::make_unique<ServerProcess>(data.toStdString(), setup);
    }
};

TEST_F(TlsEndToEnd, ACertificateTrustedOnFirstUseIsKeptAndAChangedOneIsRefused)
{
    auto server = tlsServer(serverData.path());
    const int plainPort = server->plainPort();
    const int tlsPort = server->tlsPort();
    const QByteArray fingerprint = QByteArray::fromStdString(server->fingerprint());
    ASSERT_FALSE(fingerprint.isEmpty());
    ASSERT_TRUE(createAccount(plainPort, "alice"));

    E2EPlayer alice;
    alice.tls = true;
    seam.answers = {true};
    ASSERT_TRUE(alice.login(tlsPort, QStringLiteral("alice")));
    ASSERT_EQ(seam.questions.size(), 1);
    EXPECT_TRUE(seam.questions.first().contains(
        QString::fromLatin1(QByteArray::fromHex(fingerprint).toHex(':').toUpper())))
        << seam.questions.first().toStdString();
    EXPECT_EQ(pinOf(alice, tlsPort), fingerprint);

    // Another server on the same ports with a certificate of its own, as someone in
    // between would present: the lobby's reconnect meets it and must not log in.
    server->terminate();
    server.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alice.lobby->connection()->LoggedIn(); }, 5000));
    QTemporaryDir otherData;
    server = tlsServer(otherData.path(), plainPort, tlsPort);
    ASSERT_NE(QByteArray::fromStdString(server->fingerprint()), fingerprint);
    ASSERT_TRUE(createAccount(plainPort, "alice"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return anyContains(seam.messages, QStringLiteral("has changed since you chose")); },
        30000))
        << seam.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(alice.lobby->connection()->LoggedIn());
    EXPECT_EQ(seam.questions.size(), 1) << "a changed certificate is never asked about";
    EXPECT_EQ(pinOf(alice, tlsPort), fingerprint);
}

TEST_F(TlsEndToEnd, ACertificateThePlayerDoesNotTrustIsNotConnectedTo)
{
    auto server = tlsServer(serverData.path());
    ASSERT_TRUE(createAccount(*server, "bob"));
    E2EPlayer bob;
    bob.tls = true;
    seam.answers = {false};
    EXPECT_FALSE(bob.login(server->tlsPort(), QStringLiteral("bob")));
    EXPECT_EQ(seam.questions.size(), 1);
    EXPECT_TRUE(anyContains(seam.messages, QStringLiteral("was not trusted")))
        << seam.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(pinOf(bob, server->tlsPort()).isEmpty());
}

TEST_F(TlsEndToEnd, ALobbySpeakingTlsToThePlainPortIsToldSo)
{
    auto server = tlsServer(serverData.path());
    ASSERT_TRUE(createAccount(*server, "carol"));
    E2EPlayer carol;
    carol.tls = true;
    EXPECT_FALSE(carol.login(server->plainPort(), QStringLiteral("carol")));
    EXPECT_TRUE(anyContains(seam.messages, QStringLiteral("encrypted connection")))
        << seam.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(seam.questions.isEmpty());
}

} // namespace
