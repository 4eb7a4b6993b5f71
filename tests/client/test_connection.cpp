#include "fakelobbyserver.h"
#include "recordingplatform.h"
#include "torvexconnection.h"
#include "tsocketthread.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A connection against the scripted fake server, every signal recorded as
// "Event:Text[:Id]", its error reports shown through the seam the way the lobby shows them.
class ConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = tls() ? std::make_unique<FakeLobbyServer>(FakeLobbyServer::testTlsConfiguration())
                       : std::make_unique<FakeLobbyServer>();
        using C = TOrvexConnection;
        auto text = [this](void (C::*signal)(const QByteArray &), const char *name) {
            QObject::connect(&conn, signal,
                             [this, name](const QByteArray &t) { events << name + (":" + t); });
        };
        auto from = [this](void (C::*signal)(const QByteArray &, const QByteArray &),
                           const char *name) {
            QObject::connect(&conn, signal,
                             [this, name](const QByteArray &t, const QByteArray &id) {
                                 events << name + (":" + t + ":" + id);
                             });
        };
        text(&C::OnAddSubject, "AddSubject");
        text(&C::OnRemoveSubject, "RemoveSubject");
        text(&C::OnAddUser, "AddUser");
        text(&C::OnAddGame, "AddGame");
        text(&C::OnDeletegame, "Deletegame");
        text(&C::OnJoinSubject, "JoinSubject");
        text(&C::OnRemoveUser, "RemoveUser");
        text(&C::OnGRemoveUser, "GRemoveUser");
        text(&C::OnLoginFailed, "LoginFailed");
        text(&C::OnNewSuccess, "NewSuccess");
        text(&C::OnServerError, "ServerError");
        text(&C::OnShout, "Shout");
        text(&C::OnNews, "News");
        text(&C::OnGames, "Games");
        text(&C::OnRenamedUser, "Renamed");
        text(&C::Onallusers, "allusers");
        text(&C::Onfinished, "finished");
        text(&C::Oncroom, "croom");
        text(&C::OnLcroom, "Lcroom");
        from(&C::OnChatReceived, "Chat");
        from(&C::OnGhatReceived, "Ghat");
        from(&C::OnPmesReceived, "Pmes");
        from(&C::OnInviteReceived, "Invite");
        from(&C::OnIPTJReceived, "IPTJ");
        from(&C::OnIGNOReceived, "IGNO");
        from(&C::OnJOINReceived, "JOIN");
        from(&C::OnDataReceived, "Data");
        from(&C::OnDatasendReceived, "Datasend");
        QObject::connect(&conn, &C::OnCustomMessage,
                         [this](const QByteArray &type, const QByteArray &t) {
                             events << "Custom:" + type + ":" + t;
                         });
        QObject::connect(&conn, &C::OnBeginSubject, [this] { events << "BeginSubject"; });
        QObject::connect(&conn, &C::OnConnected, [this] { events << "Connected"; });
        QObject::connect(&conn, &C::OnDisconnected, [this] { events << "Disconnected"; });
        QObject::connect(&conn, &C::OnLoginSuccess, [this](ostrel::TOrvexUser *u) {
            events << "LoginSuccess:" + QByteArray::fromStdString(u->UserName);
        });
        QObject::connect(&conn, &C::OnUserInfo, [this](ostrel::TOrvexUser *u) {
            events << "UserInfo:" + QByteArray::fromStdString(u->UserName);
        });
        QObject::connect(&conn, &C::OnServerStatus, [this](ostrel::TOrvexServerStats *s) {
            events << "ServerStatus:" + QByteArray::number(s->Int1);
        });
        QObject::connect(&conn, &C::OnSocketError,
                         [this](int code, const QString &message, const QString &errorText) {
                             socketErrors << code;
                             platform::Platform::instance().messageBox(message);
                             if (!errorText.isEmpty())
                                 platform::Platform::instance().showError(errorText);
                         });
        QObject::connect(&conn, &C::OnLineError, [](const QString &message) {
            platform::Platform::instance().showError(message);
        });
    }

    // Whether the server and the connection speak the lines inside TLS.
    virtual bool tls() const { return false; }

    void open()
    {
        if (tls()) {
            // The test certificate is self-signed: trusted through its pin.
            conn.setSecure(true);
            QObject::connect(&conn, &TOrvexConnection::OnReadPin,
                             [](const QString &, QByteArray *pin) {
                                 *pin = FakeLobbyServer::testTlsConfiguration()
                                            .localCertificate()
                                            .digest(QCryptographicHash::Sha256)
                                            .toHex();
                             });
        }
        conn.setHost(QStringLiteral("127.0.0.1"));
        conn.setPort(server->port());
        conn.setActive(true);
        ASSERT_TRUE(QTest::qWaitFor([this]() { return conn.Active(); }, 5000));
        ASSERT_TRUE(server->waitForClient());
        events.clear();
    }

    // Sends lines and waits until the connection has raised `count` more events.
    void feed(const QList<QByteArray> &lines, int count)
    {
        const int before = events.size();
        for (const auto &l : lines)
            server->send(l);
        EXPECT_TRUE(QTest::qWaitFor([&]() { return events.size() >= before + count; }, 5000))
            << events.join('\n').constData();
        QTest::qWait(30); // nothing more must arrive
    }

    static QByteArray record(const char *name)
    {
        ostrel::TOrvexUser u;
        u.UserName = name;
        return QByteArray::fromStdString(u.SaveToString());
    }

    RecordingPlatform seam;
    std::unique_ptr<FakeLobbyServer> server;
    TOrvexConnection conn;
    QList<QByteArray> events;
    QList<int> socketErrors;
};

// The cases where the transport matters, run over a plain connection and inside TLS.
class TransportTest : public ConnectionTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        if (GetParam() && !QSslSocket::supportsSsl())
            GTEST_SKIP() << "no TLS backend";
        ConnectionTest::SetUp();
    }
    bool tls() const override { return GetParam(); }
};

TEST_P(TransportTest, FramingAcrossChunks)
{
    open();
    // Two complete lines and half a third in one chunk: two events now.
    const QByteArray chunk = server->scramble("SHOUT|one") + '\n' + server->scramble("SHOUT|two") +
                             '\n' + server->scramble("SHOUT|thr");
    server->sendRaw(chunk);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.size() >= 2; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(events, (QList<QByteArray>{"Shout:one", "Shout:two"}));
    // The rest, and later a lone line feed, complete the pending line.
    server->sendRaw(server->scramble("ee"));
    QTest::qWait(50);
    EXPECT_EQ(events.size(), 2);
    server->sendRaw("\n");
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.size() == 3; }, 5000));
    EXPECT_EQ(events.last(), "Shout:three");
    // An empty line is dropped without a word; an unknown keyword too.
    server->sendRaw("\n\n");
    server->send("NOSUCH|x");
    feed({"SHOUT|after"}, 1);
    EXPECT_EQ(events.last(), "Shout:after");
    EXPECT_EQ(events.size(), 4);
}

TEST_F(ConnectionTest, KeywordTable)
{
    open();
    struct Case
    {
        QByteArray line;
        QList<QByteArray> expected;
    };
    const QList<Case> cases = {
        {"SUBJECTS|Lobby Chat|Word Race||Dice", {"AddSubject:Lobby Chat", "AddSubject:Word Race"}},
        {"SUBJECTS||Dice|Cards", {}},
        {"ADDSUBJECT|Dice|x", {"AddSubject:Dice"}},
        {"REMOVESUBJECT|Dice", {"RemoveSubject:Dice"}},
        {"JOINSUBJECT|Dice|ann+2+Dice+|bob+1+Dice+bob - Dice||eve+1++",
         {"JoinSubject:Dice", "AddUser:ann+2+Dice+", "AddUser:bob+1+Dice+bob - Dice"}},
        {"JOINSUBJECT|Empty", {"JoinSubject:Empty"}},
        {"ADDGUEST|ann+2+Dice+x|y", {"AddUser:ann+2+Dice+x|y"}},
        {"ADDGAME|bob - Dice|more", {"AddGame:bob - Dice"}},
        {"DELETEGAME|bob|more", {"Deletegame:bob"}},
        {"REMOVEGUEST|bob", {"RemoveUser:bob"}},
        {"GREMOVEGUEST|bob", {"GRemoveUser:bob"}},
        {"BEGINSUBJECT|", {"BeginSubject"}},
        {"SERVERSTATS|7`2`3`4`5`6`1.5`2.5|x", {"ServerStatus:7"}},
        {"RENAMED|a|b", {"Renamed:a|b"}},
        {"SHOUT|hello|x", {"Shout:hello"}},
        {"NEWS|3|line/r/line", {"News:3|line/r/line"}},
        {"GAMES|game:a/r/vers:1", {"Games:game:a/r/vers:1"}},
        {"ERROR|no such room", {"ServerError:no such room"}},
        {"ALLUSERS|a", {"allusers:a"}},
        {"FINISHED|b", {"finished:b"}},
        {"CROOM|c", {"croom:c"}},
        {"LCROOM|d", {"Lcroom:d"}},
        {"CUSTOM|kind|some|text", {"Custom:kind:some|text"}},
        {"LOGIN|FAILED|Wrong password", {"LoginFailed:Wrong password"}},
        {"NEWSUCCESS|made", {"NewSuccess:made"}},
        {"DATASEND|3|OPEN", {"Datasend:3|OPEN:"}},
        {"SEND|bob|CHAT|hello|clRed", {"Chat:hello|clRed:bob"}},
        {"SEND|bob|GHAT|hi|$00FF0000", {"Ghat:hi|$00FF0000:bob"}},
        {"SEND|bob|PMES|a/r/b", {"Pmes:a/r/b:bob"}},
        {"SEND|bob|INVITE|Dice", {"Invite:Dice:bob"}},
        {"SEND|bob|IPTJ|ASSISTED", {"IPTJ:ASSISTED:bob"}},
        {"SEND|me|IGNO|bob", {"IGNO:bob:me"}},
        {"SEND|bob|JOIN|+", {"JOIN:+:bob"}},
        {"SEND|bob|DATA|x", {"Data:x:bob"}},
        {"SEND|bob|WHAT|x", {}},
        {"login|SUCCESS|x", {}},
    };
    for (const auto &c : cases) {
        events.clear();
        server->send(c.line);
        server->send("SHOUT|end"); // a marker: everything before it has been handled
        ASSERT_TRUE(QTest::qWaitFor([&]() { return events.contains("Shout:end"); }, 5000))
            << c.line.constData();
        events.removeAll("Shout:end");
        EXPECT_EQ(events, c.expected) << c.line.constData();
    }
    EXPECT_EQ(conn.CurrentSubject(), "Empty");
    EXPECT_DOUBLE_EQ(conn.ServerStats()->Real2, 2.5);
    EXPECT_TRUE(seam.errors.isEmpty());
}

TEST_F(ConnectionTest, LoginAndUserInfoOwnVersusOther)
{
    open();
    EXPECT_EQ(conn.User(), nullptr);
    feed({"LOGIN|SUCCESS|" + record("ann")}, 1);
    EXPECT_TRUE(conn.LoggedIn());
    ASSERT_NE(conn.User(), nullptr);
    ostrel::TOrvexUser *own = conn.User();
    EXPECT_EQ(own->UserName, "ann");

    feed({"USERINFO|" + record("bob") + "|"}, 1);
    EXPECT_EQ(events.last(), "UserInfo:bob");
    EXPECT_EQ(conn.User(), own);

    QByteArray mine = record("ann");
    mine.replace("^^^^^^^^^", "^pw^^^^^^^^"); // same name, another record
    feed({"USERINFO|" + mine + "|"}, 1);
    EXPECT_EQ(events.last(), "UserInfo:ann");
    ASSERT_NE(conn.User(), nullptr);
    EXPECT_EQ(conn.User()->Password, "pw");
}

TEST_F(ConnectionTest, BadLineIsReportedAndTheRestOfTheChunkStillHandled)
{
    open();
    const QByteArray chunk = server->scramble("USERINFO|bob^^^^^^^^^1^2^notanumber^|") + '\n' +
                             server->scramble("SHOUT|next") + '\n';
    server->sendRaw(chunk);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.contains("Shout:next"); }, 5000));
    EXPECT_EQ(events, QList<QByteArray>{"Shout:next"});
    ASSERT_EQ(seam.errors.size(), 1);
    EXPECT_TRUE(seam.errors.first().contains("notanumber")) << seam.errors.first().toStdString();

    // A failed LOGIN SUCCESS leaves LoggedIn set and raises no OnLoginSuccess.
    feed({"LOGIN|SUCCESS|ann^^^^^^^^^^^x^", "SHOUT|n2"}, 1);
    EXPECT_EQ(events.last(), "Shout:n2");
    EXPECT_TRUE(conn.LoggedIn());
    EXPECT_EQ(seam.errors.size(), 2);
}

TEST_P(TransportTest, PingIsAnsweredBeforeLogin)
{
    open();
    server->send("PING|whatever");
    EXPECT_GE(server->waitForLine("PING|"), 0);
    EXPECT_FALSE(conn.LoggedIn());
    EXPECT_TRUE(events.isEmpty());
}

TEST_P(TransportTest, LinesLeaveInOrderThroughThePacer)
{
    conn.SendLine("DROPPED|before connect");
    open();
    conn.Login("ann", "pw");
    conn.LoginNew("ann", record("ann"));
    conn.SendChat("hi|clBlack");
    conn.SendGhat("all|clRed");
    conn.SendPmes("bob|a/r/b");
    conn.SendDatasend("1|OPEN");
    conn.SendIPTJ("bob|10.0.0.1");
    conn.SendIGNO("bob|");
    conn.SendJoin("bob|+");
    conn.SendInvite("bob|Dice");
    conn.MakePrivate("ann");
    conn.AddGame("ann - Dice");
    conn.AddAssisted("ann - Dice");
    conn.DeleteGame("ann");
    conn.SendAdmin("ann", ostrel::WireKeyword::BOOT, {"bob"});
    conn.SendAdmin("ann", ostrel::WireKeyword::SILENCE, {"bob", "5"});
    conn.SendAdmin("ann", ostrel::WireKeyword::REBOOT);
    conn.RequestUserInfo("bob");
    conn.JoinSubject("Dice");
    conn.UserUpdate(); // no user yet: nothing to send
    const QList<QByteArray> expected = {
        "LOGIN|ann|0121|pw",
        "LOGINNEW|ann|0121|" + record("ann"),
        "SEND|CHAT|hi|clBlack",
        "SEND|GHAT|all|clRed",
        "SEND|PMES|bob|a/r/b",
        "SEND|DATASEND|1|OPEN",
        "SEND|IPTJ|bob|10.0.0.1",
        "SEND|IGNO|bob|",
        "SEND|JOIN|bob|+",
        "INVITE|bob|Dice",
        "PRIVATE|ann",
        "ADDGAME|ann - Dice",
        "ADDASSISTED|ann - Dice",
        "DELETEGAME|ann",
        "HADMIN|7KAZ|ann|BOOT|bob|",
        "HADMIN|7KAZ|ann|SILENCE|bob|5|",
        "HADMIN|7KAZ|ann|REBOOT|",
        "USERINFO|bob|",
        "JOINSUBJECT|Dice",
    };
    ASSERT_TRUE(QTest::qWaitFor([&]() { return server->lines().size() >= expected.size(); }, 5000));
    EXPECT_EQ(server->lines(), expected);

    // USERUPDATE carries the logged-in user's record.
    feed({"LOGIN|SUCCESS|" + record("ann")}, 1);
    server->clearLines();
    conn.UserUpdate();
    EXPECT_GE(server->waitForLine("USERUPDATE|ann|" + record("ann") + "|"), 0);
}

TEST_F(ConnectionTest, PacerSendsWithinAboutTwentyMilliseconds)
{
    open();
    QElapsedTimer clock;
    clock.start();
    conn.SendLine("X|1");
    ASSERT_GE(server->waitForLine("X|1"), 0);
    // Generous bound: the pacer must not hold lines for long, whatever the machine.
    EXPECT_LT(clock.elapsed(), 1000);
}

// Relay lines go to the socket at once instead of waiting for the pacer's tick, but never
// overtake lines the pacer still holds.
TEST(SocketPacer, SendNowWritesAtOnceOnlyWhenNothingWaitsAhead)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(socket.waitForConnected(5000));
    ASSERT_TRUE(listener.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> peer(listener.nextPendingConnection());

    auto *pacer = new TSocketThread(&socket, &socket);
    pacer->SendNow("A\n");
    EXPECT_TRUE(pacer->Queue().empty());
    pacer->Enqueue("B\n");
    pacer->SendNow("C\n");
    ASSERT_EQ(pacer->Queue().size(), 2u);
    EXPECT_EQ(pacer->Queue().back(), "C\n");

    QByteArray received;
    EXPECT_TRUE(QTest::qWaitFor(
        [&]() {
            received += peer->readAll();
            return received.size() >= 6;
        },
        5000));
    EXPECT_EQ(received, "A\nB\nC\n");
}

TEST_F(ConnectionTest, JoinSubjectSkipsOnlyTheConfirmedRoom)
{
    open();
    feed({"JOINSUBJECT|Lobby Chat"}, 1);
    conn.JoinSubject("Lobby Chat");
    conn.JoinSubject("Dice");
    conn.JoinSubject("Dice"); // not confirmed yet: sent again
    conn.SendLine("MARK|");
    ASSERT_GE(server->waitForLine("MARK|"), 0);
    EXPECT_EQ(server->lines(),
              (QList<QByteArray>{"JOINSUBJECT|Dice", "JOINSUBJECT|Dice", "MARK|"}));
}

TEST_P(TransportTest, ServerCloseRaisesDisconnectedAndKeepsLoggedIn)
{
    open();
    feed({"LOGIN|SUCCESS|" + record("ann")}, 1);
    server->closeClient();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.contains("Disconnected"); }, 5000));
    EXPECT_FALSE(conn.Active());
    EXPECT_TRUE(conn.LoggedIn());
    EXPECT_TRUE(seam.messages.isEmpty());
    // Lines are dropped while not active.
    conn.SendLine("LATE|");
    QTest::qWait(60);
    EXPECT_EQ(server->waitForLine("LATE|", 100), -1);
}

TEST_F(ConnectionTest, RequestedCloseRaisesNothing)
{
    open();
    // A line and half of the next in one chunk: the half stays in the receive buffer.
    const int before = events.size();
    server->sendRaw(server->scramble("LOGIN|SUCCESS|" + record("ann")) + '\n' +
                    server->scramble("SHOUT|half a li"));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.size() > before; }, 5000));
    conn.setActive(false);
    EXPECT_FALSE(conn.Active());
    EXPECT_FALSE(conn.LoggedIn());
    EXPECT_TRUE(server->waitForDisconnect());
    QTest::qWait(50);
    EXPECT_FALSE(events.contains("Disconnected"));
    EXPECT_TRUE(seam.messages.isEmpty());

    // Reconnecting works and starts with an empty receive buffer: the old session's half
    // line is not glued to the new session's first line.
    conn.setActive(true);
    ASSERT_TRUE(QTest::qWaitFor([this]() { return conn.Active(); }, 5000));
    EXPECT_TRUE(events.contains("Connected"));
    ASSERT_TRUE(server->waitForClient());
    events.clear();
    feed({"LOGIN|SUCCESS|" + record("bob")}, 1);
    EXPECT_EQ(events, QList<QByteArray>{"LoginSuccess:bob"});
}

TEST_F(ConnectionTest, PropertiesAreFrozenWhileActive)
{
    open();
    conn.setHost(QStringLiteral("elsewhere"));
    conn.setPort(1);
    conn.setSubjectCode(QStringLiteral("x"));
    EXPECT_EQ(conn.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(conn.Port(), server->port());
    EXPECT_EQ(conn.SubjectCode(), QString());
    conn.setActive(true); // already active: nothing happens
    EXPECT_TRUE(conn.Active());
    EXPECT_EQ(server->clientCount(), 1);
}

TEST_F(ConnectionTest, RefusedConnectionShowsTheMessageOnly)
{
    // A port that was just free: nothing listens there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    conn.setHost(QStringLiteral("127.0.0.1"));
    conn.setPort(port);
    conn.setActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !seam.messages.isEmpty(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(seam.messages, QStringList{"Unable to Connect, Please try again later!"});
    EXPECT_EQ(socketErrors, QList<int>{10061});
    EXPECT_TRUE(events.isEmpty());
    EXPECT_FALSE(conn.Active());
    EXPECT_TRUE(seam.errors.isEmpty());
}

TEST_F(ConnectionTest, EndlessLineIsTreatedAsALostConnection)
{
    open();
    const QByteArray block(1 << 20, 'a');
    for (int i = 0; i < 9 && conn.Active(); ++i) {
        server->sendRaw(block);
        (void)QTest::qWaitFor([&]() { return !conn.Active(); }, 200);
    }
    ASSERT_TRUE(QTest::qWaitFor([&]() { return events.contains("Disconnected"); }, 5000));
    EXPECT_EQ(seam.messages, QStringList{"Connection to Server has been lost."});
}

TEST_F(ConnectionTest, LinesAheadOfAnEndlessLineAreHandledAndReadingStopsBeforeTheBox)
{
    open();
    bool activeWhileBoxOpen = true;
    seam.boxOpenUntil = [&] {
        activeWhileBoxOpen = conn.Active();
        return true;
    };
    // One chunk: a complete line, then more than the cap without a line feed.
    const QByteArray chunk = server->scramble("SHOUT|first") + '\n' +
                             QByteArray(ostrel::LineFramer::kDefaultMaxPending + 1, 'a');
    conn.receiveChunk(chunk.constData(), chunk.size());
    EXPECT_EQ(events, (QList<QByteArray>{"Shout:first", "Disconnected"}));
    EXPECT_EQ(seam.messages, QStringList{"Connection to Server has been lost."});
    EXPECT_FALSE(activeWhileBoxOpen);
}

TEST_P(TransportTest, LinesKeepFlowingWhileALineHandlerHasABoxOpen)
{
    open();
    // A real box runs its own event loop until the user closes it; this one stays open
    // until the PING behind it has been answered (or gives up after two seconds).
    QObject::connect(&conn, &TOrvexConnection::OnShout, [](const QByteArray &text) {
        platform::Platform::instance().messageBox(QString::fromLatin1(text));
    });
    seam.boxTimeoutMs = 2000;
    // The PING comes in the same chunk as the SHOUT, or once the box is up.
    for (const bool sameChunk : {true, false}) {
        server->clearLines();
        events.clear();
        bool answeredWhileOpen = false;
        bool sent = false;
        seam.boxOpenUntil = [&] {
            if (!sent) {
                sent = true;
                if (!sameChunk)
                    server->sendRaw(server->scramble("PING|") + '\n' +
                                    server->scramble("NEWSUCCESS|after") + '\n');
            }
            answeredWhileOpen = server->lines().contains("PING|");
            return answeredWhileOpen;
        };
        QByteArray chunk = server->scramble("SHOUT|the server goes down") + '\n';
        if (sameChunk)
            chunk += server->scramble("PING|") + '\n' + server->scramble("NEWSUCCESS|after") + '\n';
        server->sendRaw(chunk);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sent && seam.openBoxes == 0; }, 5000));
        EXPECT_TRUE(answeredWhileOpen) << sameChunk;
        EXPECT_TRUE(QTest::qWaitFor([&] { return events.contains("NewSuccess:after"); }, 2000));
    }
}

TEST_P(TransportTest, BoxesOpenedByLinesNestOnlySoDeep)
{
    open();
    // Every line opens a box that stays open until all of them are in: a stream of such
    // lines must not nest boxes (and stack frames) without bound.
    QObject::connect(&conn, &TOrvexConnection::OnShout, [](const QByteArray &text) {
        platform::Platform::instance().messageBox(QString::fromLatin1(text));
    });
    seam.boxTimeoutMs = 3000;
    // Each box stays open until the deepest nesting has lasted a moment.
    QElapsedTimer sinceDeepest;
    seam.boxOpenUntil = [&] {
        if (seam.messages.size() == 40)
            return true;
        if (seam.openBoxes < TOrvexConnection::kMaxNestedReads)
            return false;
        if (!sinceDeepest.isValid())
            sinceDeepest.start();
        return sinceDeepest.elapsed() > 200;
    };
    for (int i = 0; i < 40; ++i)
        server->send("SHOUT|" + QByteArray::number(i));
    // Once the boxes close, the rest is read without another byte from the server->
    ASSERT_TRUE(QTest::qWaitFor([&] { return seam.messages.size() == 40; }, 10000));
    EXPECT_EQ(seam.deepestBoxes, TOrvexConnection::kMaxNestedReads);
    EXPECT_EQ(seam.messages.last(), "39");
}

// A server whose certificate neither the system nor a pin trusts: the connection asks its
// owner and waits; an answer counts only for the attempt it was asked for.
class CertificateTest : public ConnectionTest
{
protected:
    void SetUp() override
    {
        if (!QSslSocket::supportsSsl())
            GTEST_SKIP() << "no TLS backend";
        ConnectionTest::SetUp();
        conn.setSecure(true);
        conn.setHost(QStringLiteral("127.0.0.1"));
        conn.setPort(server->port());
        QObject::connect(&conn, &TOrvexConnection::OnReadPin,
                         [this](const QString &, QByteArray *pin) { *pin = stored; });
        QObject::connect(&conn, &TOrvexConnection::OnStorePin,
                         [this](const QString &, const QByteArray &pin) { stored = pin; });
        QObject::connect(&conn, &TOrvexConnection::OnCertificateQuestion,
                         [this](const QString &server, const QByteArray &offered, const QString &) {
                             questions << server + QLatin1Char(' ') + QString::fromLatin1(offered);
                         });
    }

    bool tls() const override { return true; }

    QByteArray stored;
    QStringList questions;
    const QByteArray pin = FakeLobbyServer::testTlsConfiguration()
                               .localCertificate()
                               .digest(QCryptographicHash::Sha256)
                               .toHex();
};

TEST_F(CertificateTest, AnswerAppliesOnlyToTheAttemptItWasAskedFor)
{
    const QString expected = QStringLiteral("127.0.0.1:%1 ").arg(server->port()) + pin;
    conn.setActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !questions.isEmpty(); }, 5000));
    EXPECT_EQ(questions, QStringList{expected});
    EXPECT_FALSE(conn.Active());
    EXPECT_TRUE(seam.messages.isEmpty()) << "the connection itself shows nothing";

    // The user gave up meanwhile: a late "yes" neither pins nor connects.
    conn.CancelConnect();
    EXPECT_FALSE(conn.AnswerCertificate(true));
    EXPECT_TRUE(stored.isEmpty());
    QTest::qWait(100);
    EXPECT_FALSE(conn.Active());

    // Asked again, "yes" pins the certificate and the connection is made inside TLS.
    questions.clear();
    conn.setActive(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !questions.isEmpty(); }, 5000));
    EXPECT_TRUE(conn.AnswerCertificate(true));
    EXPECT_EQ(stored, pin);
    ASSERT_TRUE(QTest::qWaitFor([&] { return conn.Active(); }, 5000));
    EXPECT_EQ(questions.size(), 1);
    // A question is answered once.
    EXPECT_FALSE(conn.AnswerCertificate(true));
}

TEST(IsIPAddress, Table)
{
    const QList<QPair<QString, bool>> cases = {
        {"10.0.0.1", true},    {"127.0.0.1", true},  {"999.1.1.1", true}, {"10.0.0", false},
        {"10.0.0.1.5", false}, {"localhost", false}, {"a.b.c.d", false},  {"10..0.1", false},
        {"", false},           {"10.0.0.", false},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(TOrvexConnection::IsIPAddress(text), expected) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, TransportTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Tls" : "Plain";
                         });

} // namespace
