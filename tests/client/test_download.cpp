#include "control.h"
#include "gestures.h"
#include "installersignature.h"
#include "lobbyfixture.h"
#include "tchatpane.h"
#include "tdownload.h"
#include "testhttpserver.h"
#include "tflatbutton.h"
#include "thttpcli.h"
#include "turl.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QThread>

#include <functional>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// Runs action once cond holds, polling while a synchronous transfer keeps the event loop
// running; gives up after a while (the test's own checks then fail).
void whenTrue(std::function<bool()> cond, std::function<void()> action, int timeoutMs = 10000)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [=] {
        if (cond()) {
            action();
            return;
        }
        if (clock->elapsed() < timeoutMs)
            QTimer::singleShot(5, *poll);
    };
    QTimer::singleShot(0, *poll);
}

QByteArray pattern(qsizetype size)
{
    QByteArray out(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return out;
}

class DownloadTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        registryPath = dataDir.path() + QStringLiteral("/registry.ini");
        qputenv("OSTREL_REGISTRY", registryPath.toLocal8Bit());
        loginAs("alice");
        serverSends({"GAMES|game:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe/r/"
                     "game:Card:Wobbleton:3.1.0:/games/wobbleton/setup.exe/r/"
                     "game:Word:Quillory:0.9.0:/games/quillory/test/setup.exe"});
        lobby->setSiteRoot(http.root());
        keys = installersignature::generate();
        download()->setSiteKey(keys.publicKey);
        downloadFolder = dataDir.path() + QStringLiteral("/Ostrel/downloads");
    }
    void TearDown() override
    {
        LobbyFixture::TearDown();
        qunsetenv("OSTREL_REGISTRY");
    }

    Tdownload *download() const { return windows->download(); }

    // The signature the site publishes for body at sitePath, made with secretKey.
    // The catalogue's version of Plumbrix unless another is given.
    static QByteArray signatureOf(const QByteArray &body, const QByteArray &sitePath,
                                  const std::string &secretKey,
                                  const std::string &version = "1.6.7")
    {
        QTemporaryFile file;
        EXPECT_TRUE(file.open());
        file.write(body);
        file.flush();
        return QByteArray::fromStdString(installersignature::signatureFile(
            installersignature::signFile(QFile::encodeName(file.fileName()).toStdString(),
                                         sitePath.toStdString(), version, secretKey),
            version));
    }
    // Publishes body at path (with a leading slash) with the site's signature beside it.
    void publish(const QByteArray &path, const QByteArray &body,
                 const TestHttpServer::Response &shape = {})
    {
        TestHttpServer::Response r = shape;
        r.body = body;
        if (r.headers.isEmpty())
            r.headers = {"Content-Type: application/octet-stream"};
        http.set(path, r);
        http.setBody(path + ".sig", signatureOf(body, path.mid(1), keys.secretKey));
    }
    void publishAs(const QByteArray &path, const QByteArray &body, const std::string &version)
    {
        http.setBody(path, body);
        http.setBody(path + ".sig", signatureOf(body, path.mid(1), keys.secretKey, version));
    }
    // Plumbrix installed at version.
    void installed(const QByteArray &version)
    {
        QFile registry(registryPath);
        ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
        registry.write("[Plumbrix]\nInstallPath=" + QFile::encodeName(dataDir.path()) +
                       "/plumbrix\nVersion=" + version + "\n");
    }
    void choose(const QString &game)
    {
        QAction *item = lobby->downloadItem(game.toLatin1());
        ASSERT_NE(item, nullptr);
        item->trigger();
    }
    QString savedPath() const { return downloadFolder + QStringLiteral("/setup.exe"); }
    // Every file in the download folder, hidden ones too.
    QStringList savedFiles() const
    {
        return QDir(downloadFolder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    TestHttpServer http;
    installersignature::KeyPair keys;
    QString registryPath;
    QString downloadFolder;
};

TEST_F(DownloadTest, MenuItemsPrepareTheWindowForTheirGame)
{
    struct Case
    {
        QString root, path, expected;
    };
    for (const Case &c :
         {Case{"http://site.example/", "/games/a/setup.exe",
               "http://site.example/games/a/setup.exe"},
          Case{"http://site.example", "games/a/setup.exe", "http://site.example/games/a/setup.exe"},
          Case{"https://site.example/mirror/", "//lobby/faq.shtml",
               "https://site.example/mirror/lobby/faq.shtml"}}) {
        lobby->setSiteRoot(c.root);
        EXPECT_EQ(lobby->siteUrl(c.path), c.expected) << c.root.toStdString();
    }
    lobby->setSiteRoot(http.root());

    choose(QStringLiteral("Plumbrix"));
    EXPECT_TRUE(download()->isVisible());
    EXPECT_EQ(download()->label_gamename->text(), QStringLiteral("Plumbrix"));
    EXPECT_EQ(download()->label_gamename2->text(), QStringLiteral("Plumbrix"));
    EXPECT_EQ(download()->HttpCli1->URL(),
              http.root() + QStringLiteral("games/plumbrix/setup.exe"));
    EXPECT_TRUE(http.requests.isEmpty()) << "nothing is fetched before the user asks";

    download()->hide();
    choose(QStringLiteral("Quillory"));
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Stay Tuned, this Game is coming soon!")});
    EXPECT_FALSE(download()->isVisible());

    // A left press opens the menu at once; the button never takes the press as a click.
    lobby->show();
    QTest::mousePress(control<TFlatButton>(lobby, "button_download"), Qt::LeftButton, {},
                      QPoint(5, 5));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return control<QMenu>(lobby, "popup_download")->isVisible(); }, 2000));
    control<QMenu>(lobby, "popup_download")->hide();
}

TEST_F(DownloadTest, DownloadShowsProgressChecksTheSignatureAndStartsTheInstaller)
{
    const QByteArray body = pattern(52000);
    TestHttpServer::Response shape;
    shape.pauses = {0, 26000};
    publish("/games/plumbrix/setup.exe", body, shape);
    choose(QStringLiteral("Plumbrix"));

    QStringList seen;
    whenTrue([&] { return http.paused(); },
             [&] {
                 // Header only: one dot per header line (status, length, type).
                 QTest::qWait(50);
                 seen << download()->infolabel->text() << download()->infolabel3->text();
                 EXPECT_FALSE(download()->progressbar->isVisible());
                 EXPECT_FALSE(download()->getbutton->isEnabled());
                 EXPECT_TRUE(download()->abortbutton->isEnabled());
                 http.resume();
                 whenTrue(
                     [&] {
                         return http.paused() &&
                                download()->infolabel->text() == QLatin1String("26000 bytes");
                     },
                     [&] {
                         seen << download()->infolabel3->text();
                         // Half of the announced length, as the bar shows it.
                         EXPECT_TRUE(download()->progressbar->isVisible());
                         EXPECT_NEAR(download()->progressbar->value() * 100 /
                                         download()->progressbar->maximum(),
                                     50, 2);
                         http.resume();
                     });
             });
    clickButton(download(), "getbutton");

    EXPECT_EQ(seen, (QStringList{"Loading...", " ", "Downloading: setup.exe"}));
    EXPECT_EQ(download()->infolabel->text(), QStringLiteral("Received 52000 bytes"));
    // The box before the transfer says what will happen, not just where.
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Plumbrix will be saved to ") +
                                         QDir::toNativeSeparators(savedPath()) +
                                         QStringLiteral(" and installed.")});
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(seam.programs[0].program, savedPath());
    EXPECT_EQ(seam.programs[0].arguments,
              (QStringList{QStringLiteral("/SP-"), QStringLiteral("/silent"),
                           QStringLiteral("/noicons")}));
    EXPECT_EQ(download()->infolabel3->text(), QStringLiteral("Installing"));
    EXPECT_FALSE(download()->isVisible());
    QFile saved(savedPath());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), body);
    EXPECT_TRUE(saved.permissions() & QFile::ExeOwner);
    EXPECT_FALSE(saved.permissions() & (QFile::WriteOther | QFile::WriteGroup));
    EXPECT_EQ(http.requests,
              (QList<QByteArray>{"/games/plumbrix/setup.exe", "/games/plumbrix/setup.exe.sig"}));
}

// The window closes once the installer runs; the room hears when the installer has
// recorded the game (here the test writes the record, as the game's installer does).
TEST_F(DownloadTest, TheRoomIsToldWhenTheInstallerHasRecordedTheGame)
{
    serverSends({"JOINSUBJECT|Plumbrix|"});
    publish("/games/plumbrix/setup.exe", pattern(1000));
    choose(QStringLiteral("Plumbrix"));
    clickButton(download(), "getbutton");
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_FALSE(download()->isVisible());
    const QTextDocument *chat = control<TChatPane>(lobby, "mainchat_gameroom")->document();
    EXPECT_EQ(chat->lastBlock().text(), QStringLiteral("Plumbrix is being installed..."));

    // A record without its program is not an installation yet.
    const QString program = dataDir.path() + QStringLiteral("/plumbrix");
    QFile registry(registryPath);
    ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
    registry.write("[Plumbrix]\nInstallPath=" + QFile::encodeName(program) + "\nVersion=1.6.7\n");
    registry.close();
    EXPECT_FALSE(QTest::qWaitFor(
        [&] { return chat->toPlainText().contains(QStringLiteral("is installed")); }, 600));
    QFile made(program);
    ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    made.close();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return chat->lastBlock().text() == QStringLiteral("Plumbrix is installed."); }, 5000))
        << chat->toPlainText().toStdString();
    EXPECT_EQ(control<QLabel>(lobby, "label_status")->text(),
              QStringLiteral("Plumbrix is installed."));
}

TEST_F(DownloadTest, StopDuringTheTransferLeavesNothingInstallsNothingAndAllowsAnotherTry)
{
    const QByteArray body = pattern(52000);
    TestHttpServer::Response shape;
    shape.pauses = {10000};
    publish("/games/plumbrix/setup.exe", body, shape);
    choose(QStringLiteral("Plumbrix"));
    whenTrue(
        [&] {
            return http.paused() && download()->infolabel->text() == QLatin1String("10000 bytes");
        },
        [&] { download()->abortbutton->click(); });
    clickButton(download(), "getbutton");

    EXPECT_EQ(download()->infolabel3->text(), QStringLiteral("Download Aborted"));
    EXPECT_EQ(download()->infolabelTag(), 2);
    EXPECT_TRUE(seam.programs.empty());
    EXPECT_TRUE(download()->isVisible());
    EXPECT_TRUE(download()->getbutton->isEnabled());
    EXPECT_FALSE(download()->abortbutton->isEnabled());
    EXPECT_FALSE(download()->busy());
    EXPECT_TRUE(savedFiles().isEmpty()) << "the part that arrived is removed";

    http.resume();
    publish("/games/plumbrix/setup.exe", body);
    clickButton(download(), "getbutton");
    EXPECT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(QFileInfo(savedPath()).size(), 52000);
}

TEST_F(DownloadTest, ASecondDownloadIsRefusedWhileOneRuns)
{
    TestHttpServer::Response shape;
    shape.pauses = {0};
    publish("/games/plumbrix/setup.exe", pattern(52000), shape);
    publish("/games/wobbleton/setup.exe", pattern(100));
    choose(QStringLiteral("Plumbrix"));
    whenTrue([&] { return http.paused(); },
             [&] {
                 choose(QStringLiteral("Wobbleton"));
                 lobby->autoupdate("Wobbleton");
                 EXPECT_EQ(download()->label_gamename->text(), QStringLiteral("Plumbrix"));
                 http.resume();
             });
    clickButton(download(), "getbutton");

    const QString refusal =
        QStringLiteral("You are currently downloading a game. Please try "
                       "again after the download and installation is complete.");
    EXPECT_EQ(seam.messages.count(refusal), 2);
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(QFileInfo(savedPath()).size(), 52000);
    EXPECT_FALSE(http.requests.contains("/games/wobbleton/setup.exe"));
}

TEST_F(DownloadTest, BrokenOrUnsignedDownloadsAreNeverRun)
{
    const QByteArray body = pattern(52000);
    const QByteArray path = "/games/plumbrix/setup.exe";
    struct Case
    {
        const char *name;
        std::function<void()> serve;
        QString status;
    };
    const installersignature::KeyPair stranger = installersignature::generate();
    const std::vector<Case> cases = {
        {"truncated body",
         [&] {
             TestHttpServer::Response r;
             r.cutAt = 30000;
             publish(path, body, r);
         },
         "Download Aborted"},
        {"installer missing", [&] { http.setBody(path + ".sig", "x"); }, "Download Aborted"},
        {"signature missing", [&] { http.setBody(path, body); },
         "Not installed: the site has no valid signature for setup.exe."},
        {"signature far too long",
         [&] {
             http.setBody(path, body);
             http.setBody(path + ".sig", QByteArray(5000, 'x'));
         },
         "Not installed: the site has no valid signature for setup.exe."},
        {"signed by another key",
         [&] {
             http.setBody(path, body);
             http.setBody(path + ".sig", signatureOf(body, path.mid(1), stranger.secretKey));
         },
         "Not installed: setup.exe failed the signature check (damaged or not from the site)."},
        {"tampered after signing",
         [&] {
             QByteArray changed = body;
             changed[100] = static_cast<char>(changed[100] ^ 1);
             http.setBody(path, changed);
             http.setBody(path + ".sig", signatureOf(body, path.mid(1), keys.secretKey));
         },
         "Not installed: setup.exe failed the signature check (damaged or not from the site)."},
        {"a signature without its version",
         [&] {
             http.setBody(path, body);
             http.setBody(path + ".sig", signatureOf(body, path.mid(1), keys.secretKey)
                                             .left(installersignature::kSignatureBytes));
         },
         "Not installed: the site has no valid signature for setup.exe."},
        {"another version's signature",
         [&] {
             http.setBody(path, body);
             QByteArray sig = signatureOf(body, path.mid(1), keys.secretKey, "1.6.6");
             sig.replace("1.6.6", "1.6.7");
             http.setBody(path + ".sig", sig);
         },
         "Not installed: setup.exe failed the signature check (damaged or not from the site)."},
        {"an installer signed for an earlier version (replayed)",
         [&] { publishAs(path, body, "1.6.6"); },
         "Not installed: setup.exe is version 1.6.6, not the current version 1.6.7."},
        {"older than the installed version",
         [&] {
             publish(path, body);
             installed("1.7.0");
         },
         "Not installed: setup.exe is version 1.6.7, older than the installed version 1.7.0."},
        {"signed for another game's path",
         [&] {
             http.setBody(path, body);
             http.setBody(path + ".sig",
                          signatureOf(body, "games/wobbleton/setup.exe", keys.secretKey));
         },
         "Not installed: setup.exe failed the signature check (damaged or not from the site)."},
    };
    // Each case follows a genuine download of the same file, which it must leave as it was:
    // the refused bytes are never written over it, nor made executable.
    const QByteArray genuine = pattern(4000);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        publish(path, genuine);
        choose(QStringLiteral("Plumbrix"));
        clickButton(download(), "getbutton");
        ASSERT_EQ(seam.programs.size(), 1u);
        seam.programs.clear();

        http.remove(path);
        http.remove(path + ".sig");
        c.serve();
        choose(QStringLiteral("Plumbrix"));
        clickButton(download(), "getbutton");
        EXPECT_EQ(download()->infolabel3->text(), c.status);
        EXPECT_TRUE(seam.programs.empty());
        EXPECT_TRUE(download()->isVisible());
        EXPECT_TRUE(download()->getbutton->isEnabled());
        EXPECT_FALSE(download()->busy());
        QFile saved(savedPath());
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), genuine);
        EXPECT_EQ(savedFiles(), QStringList{QStringLiteral("setup.exe")}) << "no part left";
        QFile::remove(registryPath);
    }
}

// A body without an end, with or without an announced length, stops at the bound or at
// the disk's free space, and nothing of it stays.
TEST_F(DownloadTest, EndlessOrOversizedBodiesStopAndLeaveNothing)
{
    const QByteArray path = "/games/plumbrix/setup.exe";
    const qint64 free = QStorageInfo(dataDir.path()).bytesAvailable();
    ASSERT_GT(free, 0);
    struct Case
    {
        const char *name;
        qint64 bound;
        QList<QByteArray> headers;
        QString status;
    };
    const QString tooLarge =
        QStringLiteral("Not downloaded: the file is larger than any game's installer.");
    const Case cases[] = {
        {"endless without a length", 3 << 20, {}, tooLarge},
        {"a length beyond the bound", 3 << 20, {"Content-Length: 4000000"}, tooLarge},
        {"a length beyond the free disk",
         std::numeric_limits<qint64>::max(),
         {"Content-Length: " + QByteArray::number(free + 1)},
         "Not downloaded: not enough free space for setup.exe."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer::Response endless;
        endless.endless = true;
        endless.body = pattern(64 * 1024);
        endless.headers = c.headers;
        http.set(path, endless);
        http.setBody(path + ".sig", "x");
        download()->setMaxBytes(c.bound);
        choose(QStringLiteral("Plumbrix"));
        clickButton(download(), "getbutton");
        EXPECT_EQ(download()->infolabel3->text(), c.status);
        EXPECT_EQ(download()->infolabelTag(), 2);
        EXPECT_LE(download()->HttpCli1->RcvdCount(), c.bound);
        EXPECT_TRUE(seam.programs.empty());
        EXPECT_FALSE(download()->busy());
        EXPECT_TRUE(savedFiles().isEmpty());
        EXPECT_FALSE(http.requests.contains(path + ".sig"));
    }
}

TEST_F(DownloadTest, FileNamesFromTheAddressNeverWriteOutsideTheDownloadFolder)
{
    const QByteArray settings = setting("Username");
    for (const char *tail :
         {"games/", "games/..", "games/.", "games/x%5C..%5Cy\\..\\evil", "games/a?name=../../evil",
          "games/tab\tname", "games/ostrellobby.ini", "games/Registry.INI", "games/updater"}) {
        SCOPED_TRACE(tail);
        // The address as no catalogue gives it, handed straight to the window's handler:
        // what it makes of the name is under test.
        download()->HttpCli1->setURL(http.root() + QLatin1String(tail));
        download()->getbuttonClick();
        EXPECT_TRUE(download()->infolabel3->text().startsWith(QLatin1String("Not downloaded")) ||
                    download()->infolabel3->text() == QLatin1String("Download Aborted"));
        EXPECT_TRUE(seam.programs.empty());
    }
    // "a?name=..." saves as "a" in the folder (and fails, as the site has no such file).
    const QStringList outside = QDir(dataDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
    EXPECT_EQ(outside, QStringList{QStringLiteral("registry.ini")}.filter(QStringLiteral("x")));
    EXPECT_FALSE(QFileInfo::exists(dataDir.path() + QStringLiteral("/evil")));
    EXPECT_FALSE(QFileInfo::exists(downloadFolder + QStringLiteral("/..")) &&
                 QFileInfo(downloadFolder + QStringLiteral("/..")).isFile());
    EXPECT_EQ(http.requests, QList<QByteArray>{"/games/a?name=../../evil"});
    EXPECT_EQ(setting("Username"), settings);
}

TEST_F(DownloadTest, AutomaticUpdateTellsTheRoomAndDownloadsAtOnce)
{
    publish("/games/plumbrix/setup.exe", pattern(1000));
    lobby->autoupdate("Plumbrix");

    const QTextDocument *chat = control<TChatPane>(lobby, "mainchat_gameroom")->document();
    EXPECT_EQ(chat->lastBlock().text(),
              QStringLiteral(":PLUMBRIXis Automatically Updating. You will have to restart the "
                             "game after update is finished.:"));
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(seam.programs[0].program, savedPath());
}

TEST_F(DownloadTest, AnInstallationFinishedSinceTheCatalogueClearsTheUpdateMark)
{
    EXPECT_EQ(lobby->updateMark("Plumbrix"), 2);
    QFile program(dataDir.path() + QStringLiteral("/plumbrix"));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    QFile registry(registryPath);
    ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
    registry.write("[Plumbrix]\nInstallPath=" + QFile::encodeName(program.fileName()) +
                   "\nVersion=1.6.5\n");
    registry.close();
    EXPECT_EQ(lobby->updateMark("Plumbrix"), 2) << "an older version is still to be updated";
    ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
    registry.write("[Plumbrix]\nInstallPath=" + QFile::encodeName(program.fileName()) +
                   "\nVersion=1.6.7\n");
    registry.close();
    EXPECT_EQ(lobby->updateMark("Plumbrix"), 0);
}

// A link faster than the receiver: what waits for the receiver in the reply stays within
// its read buffer, instead of growing with the body.
TEST(HttpClient, AReceiverSlowerThanTheLinkKeepsLittleWaiting)
{
    TestHttpServer http;
    TestHttpServer::Response endless;
    endless.endless = true;
    endless.body = pattern(256 * 1024);
    http.set("/endless", endless);
    THttpCli client;
    client.MaxBodyBytes = qint64(48) << 20;
    client.setURL(http.root() + QStringLiteral("endless"));
    qint64 before = 0;
    qint64 largest = 0;
    client.OnDocData = [&](QObject *) {
        largest = std::max(largest, client.RcvdCount() - before);
        before = client.RcvdCount();
        // A window busy painting between two chunks.
        QThread::msleep(20);
    };
    try {
        client.Get();
        ADD_FAILURE() << "an endless body ended";
    } catch (const EHttpException &e) {
        EXPECT_EQ(e.ErrorCode(), EHttpException::TooLarge);
    }
    EXPECT_LE(largest, 2 * client.ReadBufferBytes);
}

TEST(HttpClient, FollowsRedirectsWithinALimitAndSpeaksHttps)
{
    TestHttpServer::trustTestCertificate();
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "https" : "http");
        TestHttpServer http(tls);
        http.setBody("/new", "the document");
        TestHttpServer::Response moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.headers = {"Location: /new"};
        http.set("/old", moved);
        TestHttpServer::Response loop = moved;
        loop.headers = {"Location: /loop"};
        http.set("/loop", loop);

        THttpCli client;
        QBuffer into;
        into.open(QIODevice::WriteOnly);
        client.RcvdStream = &into;
        int headerLines = 0;
        client.OnHeaderData = [&](QObject *) { ++headerLines; };
        client.setURL(http.root() + QStringLiteral("old"));
        ASSERT_NO_THROW(client.Get());
        EXPECT_EQ(into.data(), QByteArray("the document"));
        EXPECT_EQ(client.RcvdCount(), 12);
        EXPECT_EQ(client.StatusCode(), 200);
        EXPECT_EQ(headerLines, 3) << "only the final response's header is the document's";

        client.setURL(http.root() + QStringLiteral("loop"));
        try {
            client.Get();
            ADD_FAILURE() << "an endless redirect must fail";
        } catch (const EHttpException &e) {
            EXPECT_EQ(e.ErrorCode(), EHttpException::Failed);
        }
        client.setURL(http.root() + QStringLiteral("absent"));
        try {
            client.Get();
            ADD_FAILURE() << "404 must fail";
        } catch (const EHttpException &e) {
            EXPECT_EQ(e.ErrorCode(), EHttpException::HttpStatus);
        }
    }
    THttpCli client;
    client.setURL(QStringLiteral("file:///etc/passwd"));
    EXPECT_THROW(client.Get(), EHttpException);
}

TEST(WebPageLauncher, PutsTheSchemeOfItsTypeInFront)
{
    RecordingPlatform seam;
    struct Case
    {
        TURLType type;
        QString url, opened;
    };
    const Case cases[] = {
        {utHttp, "www.ostrel.example/lobby/ladder.shtml",
         "http://www.ostrel.example/lobby/ladder.shtml"},
        {utHttps, "www.ostrel.example/help", "https://www.ostrel.example/help"},
        {utMailto, "help@ostrel.example", "mailto:help@ostrel.example"},
        {utFtp, "files.example/a", "ftp://files.example/a"},
        {utnone, "https://site.example/x?y=1", "https://site.example/x?y=1"},
    };
    TURL launcher;
    for (const Case &c : cases) {
        launcher.setURLType(c.type);
        launcher.setURL(c.url);
        EXPECT_TRUE(launcher.Execute());
        ASSERT_FALSE(seam.urls.isEmpty());
        EXPECT_EQ(seam.urls.last().toString(), c.opened);
    }
    EXPECT_EQ(TURL::prefixOf(utGopher), QStringLiteral("gopher://"));
    EXPECT_EQ(TURL::prefixOf(utNews), QStringLiteral("news:"));
    EXPECT_EQ(TURL::prefixOf(utTelnet), QStringLiteral("telnet:"));
    EXPECT_EQ(TURL::prefixOf(utWais), QStringLiteral("wais:"));
    EXPECT_EQ(TURL::prefixOf(utFile), QStringLiteral("file://"));
    const qsizetype before = seam.urls.size();
    launcher.setURL(QString());
    EXPECT_FALSE(launcher.Execute());
    EXPECT_EQ(seam.urls.size(), before);
}

} // namespace
