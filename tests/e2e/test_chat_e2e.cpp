// Two real lobbies against the real server binary on loopback: news at login, the
// lobby-wide chat, the room chat, and a moderator silencing and kicking a player.
#include "assets.h"
#include "encryptit.h"
#include "lobby.h"
#include "lobbywindows.h"
#include "recordingplatform.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

void scramble(QObject *, QByteArray &line)
{
    ostrel::ScrambleInPlace(line.data(), static_cast<std::size_t>(line.size()), ostrel::kWireKey);
}

bool paneHas(const TChatPane *pane, const QString &line)
{
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
        if (b.text() == line)
            return true;
    return false;
}

// The reference server as its own process, on a free loopback port.
class ServerProcess
{
public:
    bool start(const QString &dataDir, const QString &newsFile)
    {
        m_dataDir = dataDir;
        m_process.setProgram(QStringLiteral(OSTREL_SERVER_BINARY));
        m_process.setArguments({"--listen", "127.0.0.1:0", "--data", dataDir, "--news", newsFile});
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:([0-9]+)"));
        QByteArray out;
        return QTest::qWaitFor(
            [&] {
                out += m_process.readAllStandardOutput();
                const auto match = listening.match(QString::fromLatin1(out));
                if (match.hasMatch())
                    m_port = match.captured(1).toInt();
                return m_port != 0;
            },
            10000);
    }
    ~ServerProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    int port() const { return m_port; }
    bool setClass(const QString &name, const QString &accountClass)
    {
        return QProcess::execute(QStringLiteral(OSTREL_SERVER_BINARY),
                                 {"set-class", name, accountClass, "--data", m_dataDir}) == 0;
    }

private:
    QProcess m_process;
    QString m_dataDir;
    int m_port = 0;
};

// Creates an account the way a new player's first login does, over a bare connection.
bool createAccount(int port, const std::string &name)
{
    TOrvexConnection connection;
    connection.OnEncryptString = scramble;
    connection.OnDecryptString = scramble;
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(port);
    bool done = false;
    connection.OnConnected = [&](QObject *) {
        ostrel::TOrvexUser user;
        user.UserName = name;
        user.Password = "pw";
        connection.LoginNew(QByteArray::fromStdString(name),
                            QByteArray::fromStdString(user.SaveToString()));
    };
    connection.OnLoginSuccess = [&](QObject *, ostrel::TOrvexUser *) { done = true; };
    connection.setActive(true);
    const bool ok = QTest::qWaitFor([&] { return done; }, 10000);
    connection.setActive(false);
    return ok;
}

// One player's lobby with its own settings folder.
struct Player
{
    QTemporaryDir data;
    std::unique_ptr<LobbyWindows> windows;
    Tlobby *lobby = nullptr;
    QList<QByteArray> serverErrors;
    QList<QByteArray> rooms;

    bool login(int port, const QString &name)
    {
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        windows =
            std::make_unique<LobbyWindows>(QStringLiteral("127.0.0.1:%1").arg(port), data.path());
        lobby = windows->lobby();
        // Listen in on what the lobby is told, and hand everything on to it.
        auto error = lobby->orvex->OnServerError;
        lobby->orvex->OnServerError = [this, error](QObject *s, const QByteArray &t) {
            serverErrors << t;
            if (error)
                error(s, t);
        };
        auto subject = lobby->orvex->OnAddSubject;
        lobby->orvex->OnAddSubject = [this, subject](QObject *s, const QByteArray &t) {
            rooms << t;
            if (subject)
                subject(s, t);
        };
        QTimer fill;
        QObject::connect(&fill, &QTimer::timeout, [&] {
            if (auto *d = qobject_cast<TfrmConnectionInfo *>(QApplication::activeModalWidget())) {
                d->edtUserId->setText(name);
                d->edtPassword->setText(QStringLiteral("pw"));
                d->BitBtn2->click();
            }
        });
        fill.start(10);
        lobby->show();
        return QTest::qWaitFor([this] { return lobby->orvex->LoggedIn(); }, 10000);
    }

    void type(QLineEdit *edit, const QString &text)
    {
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    bool enter(const QByteArray &room)
    {
        lobby->orvex->JoinSubject(room);
        return QTest::qWaitFor([&] { return lobby->orvex->CurrentSubject() == room; }, 5000);
    }
};

TEST(ChatEndToEnd, TwoPlayersChatAndAModeratorSilencesAndKicks)
{
    InitAssets();
    RecordingPlatform seam;
    QTemporaryDir serverData;
    QTemporaryDir runtime;
    ASSERT_TRUE(serverData.isValid() && runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QString newsFile = serverData.filePath(QStringLiteral("news.txt"));
    {
        QFile news(newsFile);
        ASSERT_TRUE(news.open(QIODevice::WriteOnly));
        news.write("Spring cup on Saturday\nBring a friend\n");
    }
    ServerProcess server;
    ASSERT_TRUE(server.start(serverData.path(), newsFile));
    ASSERT_TRUE(createAccount(server.port(), "alice"));
    ASSERT_TRUE(createAccount(server.port(), "bob"));
    ASSERT_TRUE(server.setClass(QStringLiteral("alice"), QStringLiteral("H")));

    Player alice;
    Player bob;
    ASSERT_TRUE(alice.login(server.port(), QStringLiteral("alice")));
    ASSERT_TRUE(bob.login(server.port(), QStringLiteral("bob")));

    // The news shows at login.
    ASSERT_TRUE(QTest::qWaitFor([&] { return bob.lobby->panel_news->isVisible(); }, 5000));
    EXPECT_EQ(bob.lobby->memo_news->toPlainText(), "Spring cup on Saturday\nBring a friend");

    // The lobby-wide chat reaches everyone, its sender too.
    alice.type(alice.lobby->mychat, QStringLiteral("hello lobby"));
    for (Player *p : {&alice, &bob})
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return paneHas(p->lobby->listbox_alerts, QStringLiteral("alice: hello lobby")); },
            5000));

    // A room of the catalogue: the sender sees the line at once, the other member from the
    // server.
    QByteArray room;
    for (const QByteArray &r : alice.rooms)
        if (r != "Lobby Chat" && room.isEmpty())
            room = r;
    ASSERT_FALSE(room.isEmpty());
    ASSERT_TRUE(alice.enter(room));
    ASSERT_TRUE(bob.enter(room));
    alice.type(alice.lobby->mychat_gameroom, QStringLiteral("hello room"));
    EXPECT_TRUE(paneHas(alice.lobby->mainchat_gameroom, QStringLiteral("alice: hello room")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return paneHas(bob.lobby->mainchat_gameroom, QStringLiteral("alice: hello room")); },
        5000));

    // Silenced, bob's room chat is refused by the server and never reaches alice.
    alice.lobby->lbnames->setToolTip(QStringLiteral("bob"));
    alice.lobby->N5Minutes1->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bob.serverErrors.contains("A moderator has silenced you for 5 minutes."); },
        5000));
    bob.type(bob.lobby->mychat_gameroom, QStringLiteral("am I heard"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const QByteArray &e : bob.serverErrors)
                if (e.startsWith("You are silenced"))
                    return true;
            return false;
        },
        5000));
    alice.lobby->RemoveSilence1->trigger();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return bob.serverErrors.contains("A moderator has lifted your silence."); }, 5000));
    bob.type(bob.lobby->mychat_gameroom, QStringLiteral("back again"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return paneHas(alice.lobby->mainchat_gameroom, QStringLiteral("bob: back again")); },
        5000));
    EXPECT_FALSE(paneHas(alice.lobby->mainchat_gameroom, QStringLiteral("bob: am I heard")));

    // Kicked, bob is off the server.
    alice.lobby->Kick1->trigger();
    EXPECT_TRUE(seam.messages.contains(QStringLiteral("You have booted bob off the server")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bob.lobby->orvex->Active(); }, 5000));
    EXPECT_EQ(bob.lobby->label_status->text(), "You are Disconnected.");
    EXPECT_TRUE(alice.lobby->orvex->Active());

    for (Player *p : {&alice, &bob})
        p->lobby->orvex->setActive(false);
}

} // namespace
