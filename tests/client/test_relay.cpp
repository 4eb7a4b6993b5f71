#include "lobbyfixture.h"
#include "relaycodec.h"
#include "relaytable.h"
#include "tsock.h"

#include <QAction>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>

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

class RelayTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        // The games' port, moved to a free one for this run.
        ASSERT_TRUE(game.listen(QHostAddress::LocalHost, 0));
        qputenv("OSTREL_RELAY_PORT", QByteArray::number(game.serverPort()));
    }
    void TearDown() override
    {
        LobbyFixture::TearDown();
        qunsetenv("OSTREL_RELAY_PORT");
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
};

TEST_F(RelayTest, JoinerSideCarriesEveryByteBothWaysAndEndsWithTheGame)
{
    const quint16 port = game.serverPort();
    game.close(); // the joiner's lobby listens there itself
    loginAs("ann");
    serverSends({"SEND|bob|IPTJ|ASSISTED"});
    ASSERT_TRUE(lobby->relaytable->gamesock()->Listen());
    EXPECT_FALSE(lobby->image_connection->isVisible());

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
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lobby->relaytable->gamesock()->Listen(); }, 2000));
    EXPECT_FALSE(lobby->relaytable->slot(0).active);
    EXPECT_TRUE(QTest::qWaitFor([&] { return lobby->relaytable->slot(0).socket.isNull(); }, 2000));
}

TEST_F(RelayTest, HostSideOpensOneConnectionPerJoinerAndRoutesByPeer)
{
    loginAs("host");
    QList<QTcpSocket *> joiners;
    QObject::connect(&game, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = game.nextPendingConnection())
            joiners << s;
    });
    serverSends({"DATASEND|ann|OPEN", "DATASEND|cid|OPEN"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiners.size() == 2; }, 5000));
    EXPECT_EQ(lobby->relaytable->slot(1).peer, "ann");
    EXPECT_EQ(lobby->relaytable->slot(2).peer, "cid");

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
    EXPECT_FALSE(lobby->relaytable->slot(1).active);
    EXPECT_TRUE(QTest::qWaitFor([&] { return lobby->relaytable->slot(1).socket.isNull(); }, 2000));

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
    EXPECT_FALSE(lobby->relaytable->slot(2).active);
    qDeleteAll(joiners);
}

TEST_F(RelayTest, TwoClicksOnTheIndicatorTurnTheSwitchOverAndBack)
{
    loginAs("ann");
    const bool before = lobby->LobbyAssistedHosting1->isChecked();
    for (const bool expected : {!before, before}) {
        QTest::mouseClick(lobby->image_connection, Qt::LeftButton);
        EXPECT_EQ(lobby->LobbyAssistedHosting1->isChecked(), expected);
        EXPECT_EQ(setting("Assist"), expected ? "true" : "false");
        EXPECT_EQ(lobby->image_connection->pixmap().cacheKey(),
                  lobby->imagelist_connection.value(expected ? 1 : 0).cacheKey());
    }
}

} // namespace
