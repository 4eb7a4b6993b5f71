// The generated site as the lobby meets it: served by lighttpd on loopback, fetched over
// HTTP, checked with the key compiled into the client, and its installer run the way the
// download window runs it.
#include "installersignature.h"
#include "registry.h"
#include "sitekey.h"
#include "sitewebserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::string kPublicKey(reinterpret_cast<const char *>(sitekey::kPublicKey),
                             sizeof sitekey::kPublicKey);

struct Fetched
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

class SiteE2E : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!SiteWebServer::lighttpdInstalled())
            return;
        s_server = std::make_unique<SiteWebServer>();
        if (!s_server->start(QStringLiteral(OSTREL_SITE_DIR)))
            s_startFailure = s_server->failure();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << "lighttpd is not installed (bash scripts/deps.sh installs it)";
        ASSERT_TRUE(s_startFailure.isEmpty()) << s_startFailure.toStdString();
        ASSERT_TRUE(m_dir.isValid());
        // A blank in the data folder's path, as in many home folders.
        m_data = m_dir.filePath(QStringLiteral("data home"));
        m_registry = m_dir.filePath(QStringLiteral("install records/registry.ini"));
    }

    static Fetched fetch(const QString &sitePath)
    {
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(
            network.get(QNetworkRequest(QUrl(s_server->rootUrl() + sitePath))));
        const bool finished = QTest::qWaitFor([&] { return reply->isFinished(); }, 10000);
        EXPECT_TRUE(finished) << sitePath.toStdString();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
    }

    // Downloads the file and its signature as the lobby does; the file's local path.
    QString download(const QString &sitePath, QByteArray &signature)
    {
        const Fetched file = fetch(sitePath);
        const Fetched sig = fetch(sitePath + QStringLiteral(".sig"));
        EXPECT_EQ(file.status, 200) << sitePath.toStdString();
        EXPECT_EQ(sig.status, 200) << sitePath.toStdString();
        EXPECT_EQ(file.contentType, "application/octet-stream");
        signature = sig.body;
        const QString local =
            m_dir.filePath(QStringLiteral("download-%1").arg(++m_downloads) + ".exe");
        QFile out(local);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file.body);
        out.close();
        // The lobby makes a download executable before it runs it.
        out.setPermissions(out.permissions() | QFile::ExeOwner);
        return local;
    }

    // True when signature (a signature file's content) is valid for the file at url; the
    // version it was signed as goes to version.
    bool verified(const QString &local, const QString &url, const QByteArray &signature,
                  std::string *version = nullptr)
    {
        const std::string path =
            installersignature::sitePathOf(url.toStdString(), s_server->rootUrl().toStdString());
        std::string bytes;
        std::string signedVersion;
        if (!installersignature::readSignatureFile(signature.toStdString(), bytes, signedVersion))
            return false;
        if (version)
            *version = signedVersion;
        return installersignature::verifyFile(local.toStdString(), path, signedVersion, bytes,
                                              kPublicKey);
    }

    // Runs an installer the way the download window does; its exit code.
    int install(const QString &installer, QByteArray *errors = nullptr)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_data);
        environment.insert(QStringLiteral("OSTREL_REGISTRY"), m_registry);
        process.setProcessEnvironment(environment);
        process.start(installer, {"/SP-", "/silent", "/noicons"});
        EXPECT_TRUE(process.waitForFinished(30000)) << installer.toStdString();
        EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
        const QByteArray err = process.readAllStandardError();
        if (errors)
            *errors = err;
        else
            EXPECT_EQ(err, QByteArray());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QByteArray registryText() const
    {
        QFile file(m_registry);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void writeRegistry(const QByteArray &text)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(m_registry).path()));
        QFile file(m_registry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    static inline std::unique_ptr<SiteWebServer> s_server;
    static inline QString s_startFailure;
    QTemporaryDir m_dir;
    QString m_data;
    QString m_registry;
    int m_downloads = 0;
};

TEST_F(SiteE2E, EveryCataloguedGameHasAnInstallerSignedForItsPathAndVersion)
{
    const Fetched index = fetch(QString());
    ASSERT_EQ(index.status, 200);
    for (const char *game :
         {"wordsmith", "letterbox", "dicebound", "plumbrix", "wobbleton", "tilerun", "bonestack"}) {
        SCOPED_TRACE(game);
        const QString path = QStringLiteral("games/%1/setup.exe").arg(game);
        EXPECT_TRUE(index.body.contains(path.toUtf8()));
        QByteArray signature;
        const QString local = download(path, signature);
        std::string version;
        EXPECT_TRUE(verified(local, s_server->rootUrl() + path, signature, &version));
        // Signed as the catalogue's version, which the index shows beside it.
        EXPECT_TRUE(index.body.contains(path.toUtf8() + "\">installer " +
                                        QByteArray::fromStdString(version) + "<"))
            << version;
    }
}

TEST_F(SiteE2E, ChangedFileOrAnotherPathFailsTheSignature)
{
    QByteArray signature;
    const QString path = QStringLiteral("games/plumbrix/setup.exe");
    const QString local = download(path, signature);
    ASSERT_TRUE(verified(local, s_server->rootUrl() + path, signature));

    // The same bytes offered as another game's installer.
    EXPECT_FALSE(verified(local, s_server->rootUrl() + "games/tilerun/setup.exe", signature));

    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
    file.seek(0);
    file.write(bytes);
    file.close();
    EXPECT_FALSE(verified(local, s_server->rootUrl() + path, signature));
}

TEST_F(SiteE2E, InstallerInstallsTheGameAndReplacesOnlyItsOwnRecord)
{
    // Another game's record (CRLF, a value with commas, quotes and a backslash) and an
    // older record of this game under a name of other case.
    const QByteArray other = "[Wordsmith]\r\nInstallPath=/opt/word smith/ws\r\nVersion=1.0.0\r\n"
                             "Note=a, \"b\" \\c\r\n";
    writeRegistry(other + " [ plumbrix ]\nInstallPath=/gone\nVersion=0.9\n");

    QByteArray signature;
    const QString path = QStringLiteral("games/plumbrix/setup.exe");
    const QString installer = download(path, signature);
    ASSERT_TRUE(verified(installer, s_server->rootUrl() + path, signature));

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(install(installer), 0);
        const platform::Registry registry(m_registry);
        const QString program = QString::fromUtf8(registry.installPath("Plumbrix"));
        EXPECT_EQ(program, m_data + QStringLiteral("/Ostrel/games/plumbrix/plumbrix"));
        const QFileInfo info(program);
        EXPECT_TRUE(info.isFile() && info.isExecutable()) << program.toStdString();
        EXPECT_EQ(registry.version("plumbrix"), "1.6.7");
        EXPECT_EQ(registry.installPath("Wordsmith"), "/opt/word smith/ws");

        const QByteArray text = registryText();
        EXPECT_TRUE(text.startsWith(other)) << text.toStdString();
        const QRegularExpression header(QStringLiteral("^\\s*\\[\\s*plumbrix\\s*\\]"),
                                        QRegularExpression::MultilineOption |
                                            QRegularExpression::CaseInsensitiveOption);
        int sections = 0;
        for (auto it = header.globalMatch(QString::fromUtf8(text)); it.hasNext(); it.next())
            ++sections;
        EXPECT_EQ(sections, 1) << text.toStdString();
    }

    // The installed program is the test game itself.
    QProcess game;
    game.start(m_data + QStringLiteral("/Ostrel/games/plumbrix/plumbrix"), {"--help"});
    ASSERT_TRUE(game.waitForFinished(10000));
    EXPECT_TRUE(game.readAll().contains("ostrel-testgame"));
}

TEST_F(SiteE2E, DamagedInstallerFailsAndKeepsTheInstalledGame)
{
    QByteArray signature;
    const QString installer = download(QStringLiteral("games/tilerun/setup.exe"), signature);
    ASSERT_EQ(install(installer), 0);
    const QString program = m_data + QStringLiteral("/Ostrel/games/tilerun/tilerun");
    const QByteArray installed = [&] {
        QFile f(program);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const QByteArray records = registryText();

    // Cut off in the middle of the program, as an interrupted transfer leaves it.
    QFile file(installer);
    ASSERT_TRUE(file.resize(file.size() / 2));
    QByteArray errors;
    EXPECT_NE(install(installer, &errors), 0);
    EXPECT_FALSE(errors.isEmpty());

    QFile kept(program);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), installed);
    EXPECT_EQ(registryText(), records);
    // No half-written file is left beside the program.
    EXPECT_EQ(QDir(QFileInfo(program).path())
                  .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("tilerun")});
}

// The server's configuration folder goes when the server is stopped, not only with a
// temporary folder of the caller's own.
TEST(SiteServer, StoppingItRemovesItsConfiguration)
{
    if (!SiteWebServer::lighttpdInstalled())
        GTEST_SKIP() << "lighttpd is not installed (bash scripts/deps.sh installs it)";
    SiteWebServer site;
    ASSERT_TRUE(site.start(QStringLiteral(OSTREL_SITE_DIR))) << site.failure().toStdString();
    const auto configurations = [&] {
        return QDir(site.runFolder()).entryList({QStringLiteral("ostrel-site.*")}, QDir::Dirs);
    };
    EXPECT_EQ(configurations().size(), 1);
    site.stop();
    EXPECT_TRUE(configurations().isEmpty());
}

} // namespace
