#include "control.h"
#include "inifile.h"
#include "lobby.h"
#include "lobbyfixture.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The lobby against a lobby server inside TLS that presents the self-signed test
// certificate. `server` of the fixture stays the plain one.
class TlsConnectTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "no TLS backend";
        tlsServer = std::make_unique<FakeLobbyServer>(FakeLobbyServer::testTlsConfiguration());
        tlsServer->onLine = [this](const QByteArray &line) {
            if (line.startsWith("LOGIN|"))
                tlsServer->send("LOGIN|SUCCESS|" +
                                recordOf(line.split('|').value(1).toStdString()));
        };
    }

    QString tlsAddress() const
    {
        return QStringLiteral("tls://127.0.0.1:%1").arg(tlsServer->port());
    }
    QString serverKey() const { return QStringLiteral("127.0.0.1:%1").arg(tlsServer->port()); }
    QByteArray pin() const
    {
        return IniFile(iniPath).ReadString("TrustedServers", serverKey().toUtf8());
    }
    void storePin(const QByteArray &value)
    {
        QDir().mkpath(dataDir.path() + QStringLiteral("/Ostrel"));
        IniFile(iniPath).WriteString("TrustedServers", serverKey().toUtf8(), value);
    }
    static QByteArray testCertificatePin()
    {
        const QSslCertificate certificate =
            FakeLobbyServer::testTlsConfiguration().localCertificate();
        return certificate.digest(QCryptographicHash::Sha256).toHex();
    }

    // Logs in as ann with the password "secret" through the login dialog, typing
    // `address` into its server field (empty keeps what --server put there).
    void loginTo(const QString &address)
    {
        if (!windows)
            create();
        showWithLogin([address](TfrmConnectionInfo *d) {
            if (!address.isEmpty())
                d->setServerAddress(address);
            d->edtUserId->setText(QStringLiteral("ann"));
            d->edtPassword->setText(QStringLiteral("secret"));
            d->BitBtn2->click();
        });
    }
    bool loggedIn() const
    {
        return QTest::qWaitFor([this] { return lobby->connection()->LoggedIn(); }, 5000);
    }
    static bool isLogin(const QByteArray &line) { return line == "LOGIN|ann|0121|secret"; }
    // Waits until the lobby has told the user something, for failures that end quietly.
    bool told(int before) const
    {
        return QTest::qWaitFor([&] { return seam.messages.size() > before; }, 5000);
    }

    std::unique_ptr<FakeLobbyServer> tlsServer;
};

TEST_F(TlsConnectTest, FirstConnectionAsksAndYesPinsAndLogsInInsideTls)
{
    seam.answers = {true};
    loginTo(tlsAddress());
    ASSERT_TRUE(loggedIn());

    ASSERT_EQ(seam.questions.size(), 1);
    const QString question = seam.questions.first();
    EXPECT_TRUE(question.contains(serverKey())) << question.toStdString();
    EXPECT_TRUE(question.contains(TOrvexConnection::displayFingerprint(testCertificatePin())))
        << question.toStdString();
    EXPECT_EQ(pin(), testCertificatePin());
    // The lines arrive scrambled inside TLS, exactly as over a plain connection: the
    // fake server unscrambles what it decrypted.
    EXPECT_GE(tlsServer->waitForLine(isLogin), 0);
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join('|').toStdString();

    // The pinned certificate is accepted from now on without a question.
    control<TFlatButton>(lobby, "button_disconnect")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !lobby->connection()->Active(); }, 5000));
    tlsServer->clearLines();
    loginTo(tlsAddress());
    ASSERT_TRUE(loggedIn());
    EXPECT_EQ(seam.questions.size(), 1);
    EXPECT_GE(tlsServer->waitForLine(isLogin), 0);
}

TEST_F(TlsConnectTest, NoLeavesTheLobbyUnconnectedAndPinsNothing)
{
    seam.answers = {false};
    loginTo(tlsAddress());
    ASSERT_TRUE(told(0));

    ASSERT_EQ(seam.questions.size(), 1);
    EXPECT_EQ(
        seam.messages.last(),
        QStringLiteral("Not connected: the certificate of %1 was not trusted.").arg(serverKey()));
    EXPECT_TRUE(pin().isEmpty());
    EXPECT_FALSE(lobby->connection()->Active());
    // The status line no longer claims a connection under way, and Connect starts over.
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(),
              QStringLiteral("You are Disconnected."));
    EXPECT_TRUE(control<TFlatButton>(lobby, "button_connect")->isEnabled());
    EXPECT_FALSE(control<TFlatButton>(lobby, "button_disconnect")->isEnabled());
    // Nothing was sent: the handshake never completed.
    QTest::qWait(200);
    EXPECT_TRUE(tlsServer->lines().isEmpty());
    EXPECT_EQ(seam.questions.size(), 1);
}

TEST_F(TlsConnectTest, ChangedCertificateIsRefusedWithoutAQuestion)
{
    const QByteArray other =
        QCryptographicHash::hash("another certificate", QCryptographicHash::Sha256).toHex();
    storePin(other);
    seam.defaultAnswer = true;
    loginTo(tlsAddress());
    ASSERT_TRUE(told(0));

    EXPECT_TRUE(seam.questions.isEmpty()) << seam.questions.join('|').toStdString();
    ASSERT_EQ(seam.messages.size(), 1);
    const QString message = seam.messages.first();
    EXPECT_TRUE(message.contains(
        QStringLiteral("certificate of the server %1 has changed").arg(serverKey())))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("impostor")));
    EXPECT_TRUE(message.contains(TOrvexConnection::displayFingerprint(other)));
    EXPECT_TRUE(message.contains(TOrvexConnection::displayFingerprint(testCertificatePin())));
    EXPECT_EQ(pin(), other);
    EXPECT_FALSE(lobby->connection()->Active());
    QTest::qWait(200);
    EXPECT_TRUE(tlsServer->lines().isEmpty());
}

TEST_F(TlsConnectTest, ServerOptionGivesTheAddressAndAPinnedServerConnectsSilently)
{
    storePin(testCertificatePin());
    windows = std::make_unique<LobbyWindows>(tlsAddress(), programDir.path());
    lobby = windows->lobby();
    loginTo(QString());
    ASSERT_TRUE(loggedIn());
    EXPECT_TRUE(seam.questions.isEmpty());
    EXPECT_TRUE(lobby->connection()->Secure());
    EXPECT_GE(tlsServer->waitForLine(isLogin), 0);
}

// After a lost connection the lobby tries again by itself; each try checks the
// certificate anew, against the pin as it stands then.
TEST_F(TlsConnectTest, ReconnectAfterALossChecksThePinAgain)
{
    const QByteArray other =
        QCryptographicHash::hash("another certificate", QCryptographicHash::Sha256).toHex();
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed" : "same");
        windows.reset();
        seam.messages.clear();
        storePin(testCertificatePin());
        loginTo(tlsAddress());
        ASSERT_TRUE(loggedIn());
        lobby->reconnectPolicy().setScale(0.05);
        lobby->reconnectPolicy().setJitter(0);
        if (changed)
            storePin(other);
        const int before = tlsServer->lines().size();
        tlsServer->closeClient();
        if (!changed) {
            ASSERT_GE(tlsServer->waitForLine(isLogin, 5000, before), 0);
            ASSERT_TRUE(loggedIn());
            EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join('|').toStdString();
            continue;
        }
        ASSERT_TRUE(told(0));
        EXPECT_TRUE(seam.messages.first().contains(QStringLiteral("has changed")));
        // Refused for good: no further tries, each of which would only be refused again.
        EXPECT_FALSE(lobby->reconnecting());
        EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(),
                  QStringLiteral("You are Disconnected."));
        QTest::qWait(500);
        EXPECT_EQ(seam.messages.size(), 1) << seam.messages.join('|').toStdString();
        EXPECT_FALSE(lobby->connection()->Active());
        EXPECT_EQ(tlsServer->waitForLine(isLogin, 0, before), -1);
    }
    EXPECT_TRUE(seam.questions.isEmpty());
}

TEST_F(TlsConnectTest, CertificateTrustedByTheSystemIsAcceptedWithoutAPin)
{
    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.addCaCertificates({FakeLobbyServer::testTlsConfiguration().localCertificate()});
    QSslConfiguration::setDefaultConfiguration(trusting);

    loginTo(tlsAddress());
    const bool in = loggedIn();
    QSslConfiguration::setDefaultConfiguration(saved);
    ASSERT_TRUE(in);
    EXPECT_TRUE(seam.questions.isEmpty());
    EXPECT_TRUE(pin().isEmpty());
}

TEST_F(TlsConnectTest, PlainServerOnATlsAddressFailsWithAClearMessage)
{
    loginTo(QStringLiteral("tls://127.0.0.1:%1").arg(server.port()));
    ASSERT_TRUE(server.waitForClient());
    // A plain server answers in plain lines, which no TLS handshake takes for its own.
    server.send("PING|hello");
    ASSERT_TRUE(told(0));

    EXPECT_TRUE(seam.questions.isEmpty());
    ASSERT_EQ(seam.messages.size(), 1);
    EXPECT_TRUE(seam.messages.first().startsWith(
        QStringLiteral("Unable to set up an encrypted connection to 127.0.0.1:%1")
            .arg(server.port())))
        << seam.messages.first().toStdString();
    EXPECT_FALSE(lobby->connection()->Active());
    for (const QByteArray &line : server.lines())
        EXPECT_FALSE(line.startsWith("LOGIN")) << line.toStdString();
}

// A settings file the lobby may read but not write: the trust cannot be kept, which the user
// hears once; it holds for this session instead of leading to the same question again.
TEST_F(TlsConnectTest, TrustThatCannotBeStoredIsToldOnceAndHoldsForTheSession)
{
    writeSetting("Save", "false"); // the file and its folder exist, as after any login
    const QString folder = QFileInfo(iniPath).absolutePath();
    // Readable and passable for everyone, writable only by its owner, the superuser; the
    // test acts as an ordinary user, as a user's lobby does.
    // (seteuid keeps the superuser's group, so the group's bits count as well).
    const auto readOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dataDir.path(), readOnly);
    QFile::setPermissions(folder, readOnly);
    QFile::setPermissions(iniPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                       QFile::ReadOther);
    struct Identity
    {
        bool root = ::geteuid() == 0;
        Identity()
        {
            if (root) {
                EXPECT_EQ(::seteuid(65534), 0);
            }
        }
        ~Identity()
        {
            if (root) {
                EXPECT_EQ(::seteuid(0), 0);
            }
        }
    } identity;
    ASSERT_FALSE(QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly));

    seam.defaultAnswer = true;
    loginTo(tlsAddress());
    ASSERT_TRUE(loggedIn()) << seam.questions.join('|').toStdString();
    EXPECT_EQ(seam.questions.size(), 1);
    ASSERT_EQ(seam.errors.size(), 1) << seam.errors.join('|').toStdString();
    EXPECT_TRUE(seam.errors.first().contains(QStringLiteral("cannot be written")))
        << seam.errors.first().toStdString();
    EXPECT_TRUE(pin().isEmpty());

    // Until the lobby closes, the certificate is the trusted one: no question, no error.
    control<TFlatButton>(lobby, "button_disconnect")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !lobby->connection()->Active(); }, 5000));
    tlsServer->clearLines();
    loginTo(tlsAddress());
    ASSERT_TRUE(loggedIn());
    EXPECT_EQ(seam.questions.size(), 1);
    EXPECT_EQ(seam.errors.size(), 1);
    EXPECT_GE(tlsServer->waitForLine(isLogin), 0);
}

} // namespace
