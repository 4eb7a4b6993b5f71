#include "control.h"
#include "gestures.h"
#include "inifile.h"
#include "lobbyfixture.h"
#include "relaycodec.h"
#include "relaytable.h"
#include "tflatbutton.h"
#include "tsock.h"

#include <QAction>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Every byte value, and the control words as game data.
QByteArray awkwardBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes + "OPEN" + "CLOSE" + QByteArray("\x01\x01\x15\x01", 4);
}

TEST(RelayCodec, EveryByteValueSurvivesAndControlWordsStayApart)
{
    using namespace relaycodec;
    const QList<QByteArray> cases = {awkwardBytes(),
                                     "OPEN",
                                     "CLOSE",
                                     "|",
                                     QByteArray(1, '\x15'),
                                     QByteArray(40000, '\x15'),
                                     QByteArray(kMaxPiece, 'x')};
    for (const QByteArray &data : cases) {
        QByteArray back;
        for (const QByteArray &payload : encodeData(data)) {
            // 0x15 is the wire's line feed; nothing else ends a line.
            EXPECT_FALSE(payload.contains('\x15'));
            EXPECT_LE(payload.size(), 2 * kMaxPiece + 2);
            const Payload p = decode(payload);
            EXPECT_EQ(p.kind, Kind::Data);
            back += p.bytes;
        }
        EXPECT_EQ(back, data) << data.left(16).toHex().constData();
    }
    EXPECT_TRUE(encodeData({}).isEmpty());
    EXPECT_EQ(decode("OPEN").kind, Kind::Open);
    EXPECT_EQ(decode("CLOSE").kind, Kind::Close);
    // A lobby that sends its bytes unmarked is still understood.
    EXPECT_EQ(decode("OPENED").bytes, QByteArray("OPENED"));
    EXPECT_EQ(decode("raw|bytes").bytes, QByteArray("raw|bytes"));
}

// A lobby that speaks the plain protocol sends and expects game bytes as they are: only
// a chunk that the line protocol would break (or take for a control word) is marked.
TEST(RelayCodec, OnlyChunksTheLineProtocolWouldBreakAreMarked)
{
    using namespace relaycodec;
    struct Row
    {
        QByteArray data;
        bool asItIs;
    };
    const Row rows[] = {
        {"MOVE e2e4\r\n", true}, {"OPENED", true},
        {"x|y\x01", true},       {QByteArray(kMaxPiece, 't'), true},
        {"OPEN", false},         {"CLOSE", false},
        {"a\025b", false},       {"\001Dxyz", false},
        {"\x01x", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.data.left(16).toHex().constData());
        const QList<QByteArray> payloads = encodeData(row.data);
        ASSERT_EQ(payloads.size(), 1);
        EXPECT_EQ(payloads[0] == row.data, row.asItIs);
        EXPECT_EQ(decode(payloads[0]).kind, Kind::Data);
        EXPECT_EQ(decode(payloads[0]).bytes, row.data);
    }
}

// A host's game that accepts no connection (its queue is full): the table's connection
// to it never completes. What the joiner sends meanwhile waits only up to a bound; then
// the joiner hears CLOSE and nothing more is kept.
TEST(RelayTableAlone, BytesForAConnectionThatNeverCompletesAreBounded)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const quint16 port = ntohs(address.sin_port);
    // One connection fills the queue; the kernel drops the handshakes of later ones.
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(filler.waitForConnected(5000));

    RelayTable table(QString::number(port));
    QList<QByteArray> sent;
    QObject::connect(&table, &RelayTable::datasend,
                     [&](const QByteArray &payload) { sent << payload; });
    table.setHosting(true);
    table.received("bob|OPEN");
    ASSERT_TRUE(table.slot(1).active);
    ASSERT_FALSE(table.slot(1).socket->Connected());

    const QByteArray piece(relaycodec::kMaxPiece, 'x');
    for (qsizetype total = 0; total <= RelayTable::kMaxWaiting; total += piece.size())
        table.received("bob|" + piece);
    EXPECT_EQ(sent, QList<QByteArray>{"bob|CLOSE"});
    EXPECT_FALSE(table.slot(1).active);
    EXPECT_TRUE(table.slot(1).peer.isEmpty());
    ::close(listener);
}

class RelayTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        // The games' port, moved to a free one for this run.
        ASSERT_TRUE(game.listen(QHostAddress::LocalHost, 0));
        port = game.serverPort();
        qputenv("OSTREL_RELAY_PORT", QByteArray::number(port));
        // One installed game, so that the lobby can host it.
        const QString registry = dataDir.path() + QStringLiteral("/registry.ini");
        qputenv("OSTREL_REGISTRY", registry.toLocal8Bit());
        const QString program = programDir.path() + QStringLiteral("/Plumbrix game");
        QFile file(program);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        IniFile(registry).WriteString("Plumbrix", "InstallPath", QFile::encodeName(program));
        IniFile(registry).WriteString("Plumbrix", "Version", "1.0.0");
        QObject::connect(&game, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = game.nextPendingConnection())
                joiners << s;
        });
    }
    void TearDown() override
    {
        qDeleteAll(joiners);
        LobbyFixture::TearDown();
        qunsetenv("OSTREL_RELAY_PORT");
        qunsetenv("OSTREL_REGISTRY");
    }

    // The user hosts a game of the room, through the relay or directly.
    void host(bool assisted)
    {
        serverSends({"JOINSUBJECT|Plumbrix|"});
        control<QAction>(lobby, "LobbyAssistedHosting1")->setChecked(assisted);
        clickButton(lobby, "button_host");
        ASSERT_FALSE(control<TFlatButton>(lobby, "button_host")->isVisibleTo(lobby));
    }
    // The user joins `host`'s game, which answers that it plays through the relay.
    void joinRelayed(const QByteArray &host)
    {
        ASSERT_TRUE(lobby->joinit(host + " - Plumbrix"));
        serverSends({"SEND|" + host + "|IPTJ|ASSISTED"});
    }
    // Our game runs while it is connected to the presence listener: it starts, and it
    // ends when that connection does.
    std::unique_ptr<QTcpSocket> startGame()
    {
        auto own = std::make_unique<QTcpSocket>();
        own->connectToHost(QHostAddress::LocalHost, control<TSock>(lobby, "Sock11")->LocalPort());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
        return own;
    }
    void endGame(std::unique_ptr<QTcpSocket> own)
    {
        own->disconnectFromHost();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return control<TSock>(lobby, "Sock11")->Listen(); }, 5000));
    }
    static bool closed(QTcpSocket *socket)
    {
        return QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; },
                               5000);
    }
    int activeSlots() const
    {
        int active = 0;
        for (int i = 0; i < RelayTable::kSlotCount; ++i)
            active += lobby->relayTable()->slot(i).active ? 1 : 0;
        return active;
    }

    // The DATASEND payloads the lobby sent to `peer` since line `from`, decoded.
    QByteArray dataSentTo(const QByteArray &peer, int from = 0)
    {
        QByteArray out;
        const QByteArray prefix = "SEND|DATASEND|" + peer + '|';
        const QList<QByteArray> lines = server.lines();
        for (int i = from; i < lines.size(); ++i) {
            if (!lines[i].startsWith(prefix))
                continue;
            const relaycodec::Payload p = relaycodec::decode(lines[i].mid(prefix.size()));
            if (p.kind == relaycodec::Kind::Data)
                out += p.bytes;
        }
        return out;
    }
    void sendData(const QByteArray &from, const QByteArray &bytes)
    {
        for (const QByteArray &payload : relaycodec::encodeData(bytes))
            server.send("DATASEND|" + from + '|' + payload);
    }
    static bool readAll(QTcpSocket *socket, QByteArray &into, qsizetype size)
    {
        return QTest::qWaitFor(
            [&] {
                into += socket->readAll();
                return into.size() >= size;
            },
            5000);
    }

    // Stands for the host's game (the host side connects here) and holds the port that
    // the joiner's lobby listens on instead, in the joiner tests.
    QTcpServer game;
    quint16 port = 0;
    // The host side's connections to the host's game, in order.
    QList<QTcpSocket *> joiners;
};

TEST_F(RelayTest, JoinerSideCarriesEveryByteBothWaysAndEndsWithTheGame)
{
    game.close(); // the joiner's lobby listens there itself
    loginAs("ann");
    joinRelayed("bob");
    ASSERT_TRUE(lobby->relayTable()->gamesock()->Listen());
    EXPECT_FALSE(control<QLabel>(lobby, "image_connection")->isVisible());

    QTcpSocket ownGame;
    ownGame.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|OPEN"), 0);
    const int opened = server.lines().size();

    const QByteArray bytes = awkwardBytes().repeated(100);
    ownGame.write(bytes);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dataSentTo("bob", opened).size() >= bytes.size(); }, 5000));
    EXPECT_EQ(dataSentTo("bob", opened), bytes);

    sendData("bob", bytes);
    server.send("DATASEND|bob|unmarked bytes");
    QByteArray received;
    ASSERT_TRUE(readAll(&ownGame, received, bytes.size() + 14));
    EXPECT_EQ(received, bytes + "unmarked bytes");

    ownGame.disconnectFromHost();
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|CLOSE"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lobby->relayTable()->gamesock()->Listen(); }, 2000));
    EXPECT_FALSE(lobby->relayTable()->slot(0).active);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return lobby->relayTable()->slot(0).socket.isNull(); }, 2000));
}

TEST_F(RelayTest, HostSideOpensOneConnectionPerJoinerAndRoutesByPeer)
{
    loginAs("host");
    host(true);
    serverSends({"DATASEND|ann|OPEN", "DATASEND|cid|OPEN"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() == 2; }, 5000));
    EXPECT_EQ(lobby->relayTable()->slot(1).peer, "ann");
    EXPECT_EQ(lobby->relayTable()->slot(2).peer, "cid");

    // Bytes from ann reach ann's connection only.
    sendData("ann", "for ann");
    QByteArray got;
    ASSERT_TRUE(readAll(joiners[0], got, 7));
    EXPECT_EQ(got, "for ann");
    serverSends({});
    EXPECT_EQ(joiners[1]->bytesAvailable(), 0);

    // The host's game answers ann.
    server.clearLines();
    joiners[0]->write("to ann");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dataSentTo("ann") == "to ann"; }, 5000));

    // CLOSE from ann ends her connection, which is told back once and freed.
    serverSends({"DATASEND|ann|CLOSE"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return joiners[0]->state() == QAbstractSocket::UnconnectedState; }, 5000));
    ASSERT_GE(server.waitForLine("SEND|DATASEND|ann|CLOSE"), 0);
    EXPECT_FALSE(lobby->relayTable()->slot(1).active);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return lobby->relayTable()->slot(1).socket.isNull(); }, 2000));

    // Ten at once at most: one more OPEN is answered with CLOSE and opens nothing.
    for (int i = 0; i < 9; ++i)
        server.send("DATASEND|p" + QByteArray::number(i) + "|OPEN");
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() == 11; }, 5000));
    server.clearLines();
    serverSends({"DATASEND|late|OPEN"});
    ASSERT_GE(server.waitForLine("SEND|DATASEND|late|CLOSE"), 0);
    QTest::qWait(50);
    EXPECT_EQ(joiners.size(), 11);

    // A joiner who leaves the server has his connection closed without a word to him.
    server.clearLines();
    serverSends({"GREMOVEGUEST|cid"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return joiners[1]->state() == QAbstractSocket::UnconnectedState; }, 5000));
    serverSends({});
    EXPECT_EQ(server.waitForLine("SEND|DATASEND|cid|CLOSE", 100), -1);
    EXPECT_FALSE(lobby->relayTable()->slot(2).active);
}

TEST_F(RelayTest, TwoClicksOnTheIndicatorTurnTheSwitchOverAndBack)
{
    loginAs("ann");
    const bool before = control<QAction>(lobby, "LobbyAssistedHosting1")->isChecked();
    for (const bool expected : {!before, before}) {
        QTest::mouseClick(control<QLabel>(lobby, "image_connection"), Qt::LeftButton);
        EXPECT_EQ(control<QAction>(lobby, "LobbyAssistedHosting1")->isChecked(), expected);
        EXPECT_EQ(setting("Assist"), expected ? "true" : "false");
        EXPECT_EQ(control<QLabel>(lobby, "image_connection")->pixmap().cacheKey(),
                  lobby->connectionPictures().value(expected ? 1 : 0).cacheKey());
    }
}

TEST_F(RelayTest, TextGoesOutAsTheGameWroteItAndAwkwardChunksStayIntact)
{
    game.close();
    loginAs("ann");
    joinRelayed("bob");
    QTcpSocket ownGame;
    ownGame.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|OPEN"), 0);

    ownGame.write("MOVE e2e4\r\n");
    EXPECT_GE(server.waitForLine("SEND|DATASEND|bob|MOVE e2e4\r\n"), 0);
    for (const QByteArray &chunk : {QByteArray("OPEN"), QByteArray("a\025b")}) {
        const int from = server.lines().size();
        ownGame.write(chunk);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return dataSentTo("bob", from).size() >= chunk.size(); }, 5000));
        EXPECT_EQ(dataSentTo("bob", from), chunk);
    }
    // The word as data never passed for the control word.
    EXPECT_EQ(server.lines().count("SEND|DATASEND|bob|OPEN"), 1);
}

// A relayed join whose game never reached the stand-in (its listen failed, or the game
// ended first) must not leave the host behind in slot 0: when the user later hosts and
// the same player joins, that player's bytes belong to the new connection.
TEST_F(RelayTest, AJoinThatNeverRelayedLeavesNoPeerForALaterHostedGame)
{
    loginAs("ann");
    // The port is taken (by the test's stand-in for a game), so the listen fails.
    joinRelayed("bob");
    EXPECT_FALSE(lobby->relayTable()->gamesock()->Listen());
    EXPECT_TRUE(lobby->relayTable()->slot(0).peer.isEmpty());

    // The port is free: the listen starts, and the game ends without connecting.
    game.close();
    joinRelayed("bob");
    ASSERT_TRUE(lobby->relayTable()->gamesock()->Listen());
    endGame(startGame());
    EXPECT_FALSE(lobby->relayTable()->gamesock()->Listen());
    EXPECT_TRUE(lobby->relayTable()->slot(0).peer.isEmpty());

    ASSERT_TRUE(game.listen(QHostAddress::LocalHost, port));
    host(true);
    serverSends({"DATASEND|bob|OPEN"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() == 1; }, 5000));
    sendData("bob", "to the host's game");
    QByteArray got;
    EXPECT_TRUE(readAll(joiners[0], got, 18));
    EXPECT_EQ(got, "to the host's game");
}

// Nothing listens where the host's game should: the joiner hears CLOSE at once, the
// slot is free again, and what the joiner keeps sending is not kept.
TEST_F(RelayTest, AnOpenThatReachesNoGameIsAnsweredWithClose)
{
    game.close();
    loginAs("ann");
    host(true);
    server.clearLines();
    serverSends({"DATASEND|bob|OPEN"});
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|CLOSE"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return activeSlots() == 0; }, 2000));
    EXPECT_TRUE(lobby->relayTable()->slot(1).socket.isNull());
    EXPECT_TRUE(lobby->relayTable()->slot(1).peer.isEmpty());
}

TEST_F(RelayTest, LosingTheServerEndsEveryRelayAndTellsTheGames)
{
    loginAs("ann");
    host(true);
    serverSends({"DATASEND|bob|OPEN", "DATASEND|cid|OPEN"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() == 2; }, 5000));

    server.closeClient();
    EXPECT_TRUE(closed(joiners[0]));
    EXPECT_TRUE(closed(joiners[1]));
    EXPECT_EQ(activeSlots(), 0);
    EXPECT_TRUE(lobby->relayTable()->slot(1).peer.isEmpty());
}

TEST_F(RelayTest, LosingTheServerStopsTheStandInForOurGame)
{
    game.close();
    loginAs("ann");
    joinRelayed("bob");
    QTcpSocket ownGame;
    ownGame.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|OPEN"), 0);

    server.closeClient();
    EXPECT_TRUE(closed(&ownGame));
    EXPECT_FALSE(lobby->relayTable()->gamesock()->Listen());
    EXPECT_EQ(activeSlots(), 0);
    EXPECT_TRUE(lobby->relayTable()->slot(0).peer.isEmpty());
}

// Once our game has connected, the stand-in listens no more: a second program on this
// machine cannot take the relayed game over.
TEST_F(RelayTest, ASecondConnectionCannotTakeOverARelayedGame)
{
    game.close();
    loginAs("ann");
    joinRelayed("bob");
    QTcpSocket ownGame;
    ownGame.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|OPEN"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lobby->relayTable()->gamesock()->Listen(); }, 2000));

    QTcpSocket intruder;
    intruder.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return intruder.state() == QAbstractSocket::UnconnectedState; }, 5000));
    // Nor does anyone but the host reach it over the wire.
    serverSends({"DATASEND|mallory|CLOSE", "DATASEND|mallory|not for you"});
    sendData("bob", "for our game");
    QByteArray got;
    EXPECT_TRUE(readAll(&ownGame, got, 12));
    EXPECT_EQ(got, "for our game");
    EXPECT_EQ(ownGame.state(), QAbstractSocket::ConnectedState);
}

// A lobby that hosts nothing through the relay opens no connection for anyone.
TEST_F(RelayTest, OpenIsHonouredOnlyWhileHostingThroughTheRelay)
{
    loginAs("ann");
    struct Step
    {
        const char *what;
        std::function<void()> before;
        bool opens;
    };
    std::unique_ptr<QTcpSocket> running;
    const Step steps[] = {
        {"hosting nothing", [] {}, false},
        {"hosting directly",
         [&] {
             host(false);
             running = startGame();
         },
         false},
        {"hosting through the relay",
         [&] {
             endGame(std::move(running));
             host(true);
             running = startGame();
         },
         true},
        {"after the game", [&] { endGame(std::move(running)); }, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.before();
        const qsizetype before = joiners.size();
        server.clearLines();
        serverSends({"DATASEND|bob|OPEN"});
        if (step.opens) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return joiners.size() == before + 1; }, 5000));
        } else {
            ASSERT_GE(server.waitForLine("SEND|DATASEND|bob|CLOSE"), 0);
            serverSends({});
            EXPECT_EQ(joiners.size(), before);
            EXPECT_EQ(activeSlots(), 0);
        }
    }
}

// However often one joiner asks, it holds one connection; the other slots stay free for
// other players.
TEST_F(RelayTest, OneJoinerHoldsOneSlot)
{
    loginAs("ann");
    host(true);
    QList<QByteArray> opens;
    for (int i = 0; i < 20; ++i)
        opens << "DATASEND|bob|OPEN";
    serverSends(opens);
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() >= 1; }, 5000));
    serverSends({"DATASEND|cid|OPEN"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() >= 2; }, 5000));
    serverSends({});
    EXPECT_EQ(joiners.size(), 2);
    EXPECT_EQ(activeSlots(), 2);
    EXPECT_EQ(server.waitForLine("SEND|DATASEND|cid|CLOSE", 100), -1);
}

} // namespace
