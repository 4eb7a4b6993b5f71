#include "inifile.h"
#include "installersignature.h"
#include "lobbyfixture.h"
#include "testhttpserver.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tupdater.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMenu>

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
    lobby->DownloadLobby1->trigger();
    EXPECT_EQ(seam.questions, QStringList{question});
    EXPECT_TRUE(seam.programs.empty());
    EXPECT_TRUE(lobby->isVisible());

    seam.answers = {true};
    lobby->DownloadLobby1->trigger();
    const QString updater = programDir.filePath(QStringLiteral("updater"));
    ASSERT_EQ(seam.programs.size(), 1u);
    EXPECT_EQ(seam.programs[0].program, updater);
    EXPECT_TRUE(seam.programs[0].arguments.isEmpty());
    EXPECT_EQ(readAll(updater), readAll(QStringLiteral(OSTREL_UPDATER_BINARY)));
    EXPECT_TRUE(QFileInfo(updater).isExecutable());
    EXPECT_FALSE(lobby->isVisible()) << "the lobby closes for the update";
    EXPECT_FALSE(lobby->orvex->Active());

    const TUpdater::Job job = TUpdater::readJob(programDir.filePath(QStringLiteral("updater.ini")));
    EXPECT_EQ(job.site, QStringLiteral("http://site.example/"));
    EXPECT_EQ(job.program, programDir.filePath(QStringLiteral("ostrel-lobby")));
    EXPECT_EQ(job.arguments, (QStringList{"--server", "127.0.0.1:1"}));
    EXPECT_TRUE(job.lock.endsWith(QLatin1String("/ostrel-lobby.lock")));
    EXPECT_TRUE(seam.errors.isEmpty());
}

TEST_F(SelfUpdateTest, AFolderTheUpdaterCannotBeWrittenToKeepsTheLobbyOpen)
{
    QFile plainFile(programDir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    QStringList programs = {QStringLiteral("/nonexistent-halvane/bin/ostrel-lobby"),
                            plainFile.fileName() + QStringLiteral("/ostrel-lobby")};
    // Permissions bind everyone but root.
    const QString readOnly = programDir.filePath(QStringLiteral("read-only"));
    if (geteuid() != 0) {
        QDir().mkpath(readOnly);
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
        programs << readOnly + QStringLiteral("/ostrel-lobby");
    }
    for (const QString &program : programs) {
        SCOPED_TRACE(program.toStdString());
        seam.errors.clear();
        lobby->setProgram(program, {});
        lobby->autoupdatelobby();
        EXPECT_EQ(seam.errors.size(), 1);
        EXPECT_TRUE(seam.programs.empty());
        EXPECT_TRUE(lobby->isVisible());
        EXPECT_TRUE(lobby->orvex->Active());
    }
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(SelfUpdateTest, ThePanelsDownloadOpensTheSitesLobbyPageAndCloses)
{
    lobby->panel_downloadlobby->show();
    lobby->button_downloadlobby->click();
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

    QByteArray script(const QByteArray &build) const
    {
        return "#!/bin/sh\necho \"" + build + " $*\" > '" + QFile::encodeName(marker) + "'\n";
    }
    void writeProgram(const QString &path, const QByteArray &build) const
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script(build));
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QByteArray signatureOf(const QByteArray &body) const
    {
        const QString path = dir.filePath(QStringLiteral("to-sign"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
        file.close();
        return QByteArray::fromStdString(installersignature::signFile(
            QFile::encodeName(path).toStdString(), TUpdater::kSitePath, secretKey));
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
