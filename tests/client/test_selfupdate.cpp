#include "control.h"
#include "inifile.h"
#include "installersignature.h"
#include "lobbyfixture.h"
#include "testhttpserver.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tupdater.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMenu>

#include <sys/stat.h>
#include <unistd.h>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The player and another user of the machine. Tests run as root in CI, where permissions
// bind no one: the player's steps run with the player's user id then (the unprivileged
// "nobody"), and the other user's files are given to a second id. Run unprivileged, the
// test process is the player, and its own links stand in for the other user's.
constexpr uid_t kPlayer = 65534;
constexpr uid_t kOther = 65533;

bool root()
{
    return ::geteuid() == 0;
}

// Runs the enclosing scope as the player.
class AsPlayer
{
public:
    AsPlayer() : m_switched(root())
    {
        if (m_switched) {
            EXPECT_EQ(::seteuid(kPlayer), 0);
        }
    }
    ~AsPlayer()
    {
        if (m_switched) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }

private:
    bool m_switched;
};

// A folder of the player's own (mode 0700) at path; the folders above it must let the
// player through.
void makePlayerFolder(const QString &path)
{
    ASSERT_TRUE(QDir().mkpath(path));
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::chmod(name.constData(), 0700), 0);
    if (root()) {
        ASSERT_EQ(::chown(name.constData(), kPlayer, kPlayer), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), 0755), 0);
    }
}

// Gives path (a link itself, not what it names) to the other user.
void giveToOther(const QString &path)
{
    if (root()) {
        ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), kOther, kOther), 0);
    }
}

void writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions mode = {})
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    if (mode)
        file.setPermissions(mode);
}

class SelfUpdateTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("alice");
        lobby->setSiteRoot(QStringLiteral("http://site.example/"));
        lobby->setProgram(programDir.filePath(QStringLiteral("ostrel-lobby")),
                          {QStringLiteral("--server"), QStringLiteral("127.0.0.1:1")});
    }
};

TEST_F(SelfUpdateTest, DownloadLobbyAsksThenHandsOverToTheUpdaterAndCloses)
{
    const QString question = QStringLiteral("You have choosen to download Halvane. Halvane will "
                                            "close and download will begin. Would you like to "
                                            "proceed?");
    seam.answers = {false};
    control<QAction>(lobby, "DownloadLobby1")->trigger();
    EXPECT_EQ(seam.questions, QStringList{question});
    EXPECT_TRUE(seam.programs.empty());
    EXPECT_TRUE(lobby->isVisible());

    seam.answers = {true};
    control<QAction>(lobby, "DownloadLobby1")->trigger();
    const QString updater = programDir.filePath(QStringLiteral("updater"));
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(seam.programs[0].program, updater);
    EXPECT_TRUE(seam.programs[0].arguments.isEmpty());
    EXPECT_EQ(readAll(updater), readAll(QStringLiteral(OSTREL_UPDATER_BINARY)));
    EXPECT_TRUE(QFileInfo(updater).isExecutable());
    EXPECT_FALSE(lobby->isVisible()) << "the lobby closes for the update";
    EXPECT_FALSE(lobby->connection()->Active());

    QString why;
    const std::optional<TUpdater::Job> job = TUpdater::readJob(programDir.path(), &why);
    ASSERT_TRUE(job) << why.toStdString();
    EXPECT_EQ(job->site, QStringLiteral("http://site.example/"));
    EXPECT_EQ(job->program, programDir.filePath(QStringLiteral("ostrel-lobby")));
    EXPECT_EQ(job->arguments, (QStringList{"--server", "127.0.0.1:1"}));
    EXPECT_TRUE(job->lock.endsWith(QLatin1String("/ostrel-lobby.lock")));
    EXPECT_TRUE(seam.errors.isEmpty());
}

// Another user's link where the job goes: the job is written as a new file of the player's
// own, and what the link names stays as it was.
TEST_F(SelfUpdateTest, TheJobIsANewFileOfThePlayersOwnNeverWrittenThroughALink)
{
    const QString folder = programDir.filePath(QStringLiteral("player"));
    makePlayerFolder(folder);
    const QString target = folder + QStringLiteral("/private.txt");
    writeFile(target, "the player's own\n", QFile::ReadOwner | QFile::WriteOwner);
    if (root()) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), kPlayer, kPlayer), 0);
    }
    const QString jobPath = folder + QStringLiteral("/updater.ini");
    ASSERT_TRUE(QFile::link(target, jobPath));
    giveToOther(jobPath);

    lobby->setProgram(folder + QStringLiteral("/ostrel-lobby"), {QStringLiteral("--x")});
    {
        AsPlayer player;
        lobby->autoupdatelobby();
    }
    EXPECT_TRUE(seam.errors.isEmpty()) << seam.errors.join('\n').toStdString();
    EXPECT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(readAll(target), "the player's own\n");
    const QFileInfo job(jobPath);
    EXPECT_FALSE(job.isSymLink());
    EXPECT_TRUE(job.isFile());
    EXPECT_EQ(job.ownerId(), root() ? kPlayer : ::geteuid());
    EXPECT_EQ(job.permissions() &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
    EXPECT_TRUE(readAll(jobPath).contains("Argument1=--x"));
}

TEST_F(SelfUpdateTest, AFolderTheUpdaterCannotBeWrittenToKeepsTheLobbyOpen)
{
    QFile plainFile(programDir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    // The player's own folder without write permission, and folders other users may write
    // to (where they could take the hand-over over).
    const QString readOnly = programDir.filePath(QStringLiteral("read-only"));
    makePlayerFolder(readOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0500), 0);
    const QString shared = programDir.filePath(QStringLiteral("shared"));
    makePlayerFolder(shared);
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString group = programDir.filePath(QStringLiteral("group"));
    makePlayerFolder(group);
    ASSERT_EQ(::chmod(QFile::encodeName(group).constData(), 0770), 0);
    struct Case
    {
        QString program;
        const char *error;
    };
    const Case cases[] = {
        {QStringLiteral("/nonexistent-halvane/bin/ostrel-lobby"), "Cannot write"},
        {plainFile.fileName() + QStringLiteral("/ostrel-lobby"), "not a folder"},
        // Refused up front, or when writing the updater.
        {readOnly + QStringLiteral("/ostrel-lobby"), ""},
        {shared + QStringLiteral("/ostrel-lobby"), "other users may write"},
        {group + QStringLiteral("/ostrel-lobby"), "other users may write"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        seam.errors.clear();
        lobby->setProgram(c.program, {});
        {
            AsPlayer player;
            lobby->autoupdatelobby();
        }
        ASSERT_EQ(seam.errors.size(), 1);
        EXPECT_TRUE(seam.errors[0].contains(QLatin1String(c.error)))
            << seam.errors[0].toStdString();
        EXPECT_TRUE(seam.programs.empty());
        EXPECT_TRUE(lobby->isVisible());
        EXPECT_TRUE(lobby->connection()->Active());
    }
    for (const QString &folder : {shared, group})
        EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty())
            << "nothing written";
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(SelfUpdateTest, ThePanelsDownloadOpensTheSitesLobbyPageAndCloses)
{
    control<TFlatPanel>(lobby, "panel_downloadlobby")->show();
    control<TFlatButton>(lobby, "button_downloadlobby")->click();
    ASSERT_EQ(seam.urls.size(), 1);
    EXPECT_EQ(seam.urls[0].toString(), QStringLiteral("http://site.example/lobby/"));
    EXPECT_FALSE(lobby->isVisible());
}

// The updater itself, against a site in the test process: the installed "lobby" is a
// script that records how it was started, so the restart shows which build runs.
class UpdaterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        program = dir.filePath(QStringLiteral("ostrel-lobby"));
        marker = dir.filePath(QStringLiteral("started"));
        writeProgram(program, "old");
        QFile keyFile(QStringLiteral(OSTREL_SITE_KEY_DIR "/site.key"));
        ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
        secretKey = keyFile.readAll().toStdString();
    }

    // A lobby build that answers --version and records any other start.
    QByteArray script(const QByteArray &build) const
    {
        const QByteArray version = build == "old" ? "1.0.1" : build == "older" ? "1.0.0" : "1.0.2";
        return "#!/bin/sh\nif [ \"$1\" = --version ]; then echo \"Halvane " + version +
               "\"; exit 0; fi\necho \"" + build + " $*\" > '" + QFile::encodeName(marker) + "'\n";
    }
    void writeProgram(const QString &path, const QByteArray &build) const
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script(build));
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Signed as the version the new build says it is unless another is given.
    QByteArray signatureOf(const QByteArray &body, const std::string &version = "1.0.2") const
    {
        const QString path = dir.filePath(QStringLiteral("to-sign"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
        file.close();
        return QByteArray::fromStdString(installersignature::signatureFile(
            installersignature::signFile(QFile::encodeName(path).toStdString(), TUpdater::kSitePath,
                                         version, secretKey),
            version));
    }
    TUpdater updater(const QString &lock = QString())
    {
        TUpdater u({http.root(), program, lock, {QStringLiteral("--site"), http.root()}});
        u.lockWaitMs = 300;
        return u;
    }
    // What the started lobby wrote, once it has.
    QByteArray started() const
    {
        if (!QTest::qWaitFor([&] { return QFileInfo(marker).size() > 0; }, 5000))
            return QByteArray();
        return readAll(marker).trimmed();
    }

    QTemporaryDir dir;
    TestHttpServer http;
    QString program;
    QString marker;
    std::string secretKey;
};

TEST_F(UpdaterTest, PutsTheSignedBuildInPlaceAndStartsIt)
{
    const QByteArray fresh = script("new");
    http.setBody("/lobby/ostrel-lobby", fresh);
    http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh));
    TUpdater u = updater();
    EXPECT_TRUE(u.run()) << u.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(readAll(program), fresh);
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_EQ(started(), "new --site " + http.root().toUtf8());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".ostrel-lobby"),
              QStringList())
        << "no temporary file is left";
}

TEST_F(UpdaterTest, AnythingButAWholeSignedBuildKeepsTheInstalledLobby)
{
    const QByteArray fresh = script("new");
    struct Case
    {
        const char *name;
        std::function<void()> serve;
    };
    const std::vector<Case> cases = {
        {"no build", [&] { http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh)); }},
        {"no signature", [&] { http.setBody("/lobby/ostrel-lobby", fresh); }},
        {"tampered",
         [&] {
             http.setBody("/lobby/ostrel-lobby", script("evil"));
             http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh));
         }},
        {"cut short",
         [&] {
             TestHttpServer::Response r;
             r.body = fresh;
             r.cutAt = fresh.size() / 2;
             http.set("/lobby/ostrel-lobby", r);
             http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh));
         }},
        {"an older build, genuinely signed",
         [&] {
             http.setBody("/lobby/ostrel-lobby", script("older"));
             http.setBody("/lobby/ostrel-lobby.sig", signatureOf(script("older"), "1.0.0"));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        http.remove("/lobby/ostrel-lobby");
        http.remove("/lobby/ostrel-lobby.sig");
        QFile::remove(marker);
        c.serve();
        TUpdater u = updater();
        EXPECT_FALSE(u.run());
        EXPECT_EQ(readAll(program), script("old"));
        EXPECT_EQ(started().left(3), "old") << "the player gets the lobby back";
    }
}

// A signed build that does not start (not a program for this machine, or one that fails)
// is taken out again: the build before it is back and started.
TEST_F(UpdaterTest, ABuildThatDoesNotStartIsReplacedByThePreviousOne)
{
    struct Case
    {
        QByteArray fresh;
        std::string version;
    };
    for (const Case &c : {Case{QByteArray("\x7f"
                                          "ELF not really a program"),
                               "1.0.2"},
                          Case{QByteArray("#!/bin/sh\nexit 3\n"), "1.0.2"},
                          Case{QByteArray("#!/bin/sh\nkill -9 $$\n"), "1.0.2"},
                          // Says it is another version than it was signed as.
                          Case{script("new"), "1.0.3"}}) {
        const QByteArray &fresh = c.fresh;
        SCOPED_TRACE(fresh.toStdString());
        QFile::remove(marker);
        http.setBody("/lobby/ostrel-lobby", fresh);
        http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh, c.version));
        TUpdater u = updater();
        EXPECT_FALSE(u.run());
        EXPECT_EQ(readAll(program), script("old"));
        EXPECT_TRUE(QFileInfo(program).isExecutable());
        EXPECT_EQ(started().left(3), "old") << u.log().join('\n').toStdString();
        EXPECT_TRUE(u.log().join('\n').contains(QLatin1String("the previous one is back")));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".ostrel-lobby"),
                  QStringList());
    }
}

// The updater takes its job only from the player's own file in the player's own folder,
// for the lobby beside it, and writes its log as a new file, never through a link.
TEST_F(UpdaterTest, TheJobAndTheLogAreOnlyThePlayersOwnFiles)
{
    const QString folder = dir.filePath(QStringLiteral("player"));
    makePlayerFolder(folder);
    const QString jobPath = folder + QStringLiteral("/updater.ini");
    const QString lobbyPath = folder + QStringLiteral("/ostrel-lobby");
    const QByteArray job =
        "[Update]\nSite=http://site.example/\nProgram=" + QFile::encodeName(lobbyPath) +
        "\nArguments=1\nArgument1=--x\n";
    const QString elsewhere = dir.filePath(QStringLiteral("job-elsewhere"));
    writeFile(elsewhere, job);

    struct Case
    {
        const char *name;
        std::function<void()> prepare;
        bool accepted;
    };
    const auto writeJob = [&](const QByteArray &text, int mode) {
        QFile::remove(jobPath);
        writeFile(jobPath, text);
        ASSERT_EQ(::chmod(QFile::encodeName(jobPath).constData(), mode), 0);
        if (root()) {
            ASSERT_EQ(::chown(QFile::encodeName(jobPath).constData(), kPlayer, kPlayer), 0);
        }
    };
    const Case cases[] = {
        {"the player's job", [&] { writeJob(job, 0600); }, true},
        {"another user's link to a job",
         [&] {
             QFile::remove(jobPath);
             ASSERT_TRUE(QFile::link(elsewhere, jobPath));
             giveToOther(jobPath);
         },
         false},
        {"a job others may change", [&] { writeJob(job, 0622); }, false},
        {"a job in a folder others may write to",
         [&] {
             writeJob(job, 0600);
             ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 01777), 0);
         },
         false},
        {"a program that is not the lobby beside the updater",
         [&] { writeJob(QByteArray(job).replace("/ostrel-lobby", "/private.sh"), 0600); }, false},
        {"the lobby of another folder",
         [&] { writeJob(QByteArray(job).replace(QFile::encodeName(folder), "/tmp"), 0600); },
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
        c.prepare();
        QString why;
        std::optional<TUpdater::Job> read;
        {
            AsPlayer player;
            read = TUpdater::readJob(folder, &why);
        }
        EXPECT_EQ(bool(read), c.accepted) << why.toStdString();
        if (read) {
            EXPECT_EQ(read->program, lobbyPath);
            EXPECT_EQ(read->arguments, QStringList{QStringLiteral("--x")});
        }
    }
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);

    // Another user's link where the log goes.
    const QString target = folder + QStringLiteral("/private.txt");
    writeFile(target, "kept\n");
    if (root()) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), kPlayer, kPlayer), 0);
    }
    const QString logPath = folder + QStringLiteral("/updater.log");
    ASSERT_TRUE(QFile::link(target, logPath));
    giveToOther(logPath);
    bool logged = false;
    {
        AsPlayer player;
        logged = TUpdater::writeLog(logPath, {QStringLiteral("first"), QStringLiteral("second")});
    }
    EXPECT_TRUE(logged);
    EXPECT_EQ(readAll(target), "kept\n");
    EXPECT_FALSE(QFileInfo(logPath).isSymLink());
    EXPECT_EQ(readAll(logPath), "first\nsecond\n");
}

TEST_F(UpdaterTest, ALobbyThatDoesNotEndIsLeftAlone)
{
    const QByteArray fresh = script("new");
    http.setBody("/lobby/ostrel-lobby", fresh);
    http.setBody("/lobby/ostrel-lobby.sig", signatureOf(fresh));
    const QString lockPath = dir.filePath(QStringLiteral("lobby.lock"));
    QLockFile held(lockPath);
    ASSERT_TRUE(held.tryLock(0));
    TUpdater u = updater(lockPath);
    EXPECT_FALSE(u.run());
    EXPECT_EQ(readAll(program), script("old"));
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_TRUE(http.requests.isEmpty());
}

} // namespace
