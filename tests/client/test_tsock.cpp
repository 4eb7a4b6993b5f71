#include "recordingplatform.h"
#include "tsock.h"
#include "winsockerror.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <atomic>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>

namespace {

constexpr int kWaitMs = 5000;

// Every socket in a test reports into one log, one line per event in the form
// "Event:SenderName[:details]", so that orders across sockets are visible.
class TSockTest : public ::testing::Test
{
protected:
    void wire(TSock &sock, const QString &name)
    {
        sock.setObjectName(name);
        QObject::connect(&sock, &TSock::OnConnect,
                         [this](TSock *s) { log << "Connect:" + s->objectName(); });
        QObject::connect(&sock, &TSock::OnDisconnect,
                         [this](TSock *s) { log << "Disconnect:" + s->objectName(); });
        QObject::connect(&sock, &TSock::OnWrite,
                         [this](TSock *s) { log << "Write:" + s->objectName(); });
        QObject::connect(&sock, &TSock::OnRead, [this](TSock *s, int count) {
            log << QStringLiteral("Read:%1:%2").arg(s->objectName()).arg(count);
        });
        QObject::connect(
            &sock, &TSock::OnInfo, [this](TSock *s, TSocketInfo code, const QString &msg) {
                log << QStringLiteral("Info:%1:%2:%3").arg(s->objectName()).arg(int(code)).arg(msg);
            });
        QObject::connect(&sock, &TSock::OnError,
                         [this](TSock *s, TSocketError error, int code, const QString &msg) {
                             log << QStringLiteral("Error:%1:%2:%3:%4")
                                        .arg(s->objectName())
                                        .arg(int(error))
                                        .arg(code)
                                        .arg(msg);
                         });
    }

    // Log lines of one sender, in order.
    QStringList of(const QString &name) const
    {
        return log.filter(QRegularExpression("^[A-Za-z]+:" + name + "(:|$)"));
    }

    bool waitFor(const QString &line)
    {
        return QTest::qWaitFor([&] { return log.contains(line); }, kWaitMs);
    }

    // A loopback listener in this process stands in for the other program.
    quint16 startPeerServer()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        return server.serverPort();
    }

    QTcpSocket *waitForPeer()
    {
        if (!server.hasPendingConnections())
            server.waitForNewConnection(kWaitMs);
        return server.nextPendingConnection();
    }

    // Opens a socket that does not block to a peer of this process and returns the
    // peer's end once accepted (nullptr if none came).
    QTcpSocket *openToPeer(TSock &sock)
    {
        const quint16 port = startPeerServer();
        sock.setHostName("127.0.0.1");
        sock.setPortName(QString::number(port));
        sock.Open();
        return waitForPeer();
    }

    // A port nothing listens on: taken from the system, then given back.
    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    static quint16 freeUdpPort()
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }

    void listenOnLoopback(TSock &sock, const QString &name)
    {
        wire(sock, name);
        sock.setHostName("127.0.0.1");
        sock.setPortName("0");
        sock.setListen(true);
        log.clear();
    }

    // Makes the peer's close a reset: no lingering, so unsent state is thrown away.
    static void resetConnection(QTcpSocket *peer)
    {
        const linger hard{1, 0};
        ::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        peer->abort();
    }

    RecordingPlatform seam;
    QStringList log;
    QTcpServer server;
};

TEST_F(TSockTest, ListeningStartsStopsAndReportsARepeatedStart)
{
    TSock sock;
    wire(sock, "l");
    sock.setHostName("127.0.0.1");
    sock.setPortName("0");

    sock.setListen(true);
    EXPECT_EQ(log, QStringList({"Info:l:0:Lookup Of Port 0", "Info:l:0:Lookup Of Host 127.0.0.1",
                                "Info:l:3:Listening Started"}));
    ASSERT_TRUE(sock.Listen());
    const quint16 port = sock.LocalPort();
    ASSERT_NE(port, 0);
    EXPECT_FALSE(sock.Connected());

    log.clear();
    sock.setListen(true);
    EXPECT_EQ(log, QStringList({"Info:l:3:Listening Already Running"}));
    EXPECT_TRUE(sock.Listen());
    EXPECT_EQ(sock.LocalPort(), port);

    log.clear();
    sock.setListen(false);
    EXPECT_EQ(log, QStringList({"Info:l:2:Socket Closed", "Info:l:3:Listening Stopped"}));
    EXPECT_FALSE(sock.Listen());
    EXPECT_EQ(sock.SocketHandle(), -1);

    // Stopped is idle again: the same port can be taken at once (a restarted lobby).
    sock.setPortName(QString::number(port));
    sock.setListen(true);
    EXPECT_TRUE(sock.Listen());
    EXPECT_EQ(sock.LocalPort(), port);
}

TEST_F(TSockTest, ListenerHandlesAreClosedOnExec)
{
    TSock sock;
    listenOnLoopback(sock, "l");
    EXPECT_TRUE(::fcntl(sock.SocketHandle(), F_GETFD) & FD_CLOEXEC);
}

TEST_F(TSockTest, ListeningOnATakenPortFailsAndReleasesTheHandle)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    TSock sock;
    wire(sock, "l");
    sock.setPortName(QString::number(holder.serverPort()));

    try {
        sock.setListen(true);
        FAIL() << "no exception";
    } catch (const ESockException &e) {
        EXPECT_EQ(e.Message(), "Listen - Error Binding Socket");
    }
    EXPECT_FALSE(sock.Listen());
    EXPECT_EQ(sock.SocketHandle(), -1);

    // With the handle released, a later attempt succeeds once the port is free.
    holder.close();
    sock.setListen(true);
    EXPECT_TRUE(sock.Listen());
}

struct MisuseCase
{
    const char *name;
    std::function<void(TSock &sock, TSock &listener)> act;
    const char *message;
};

class TSockMisuse : public TSockTest, public ::testing::WithParamInterface<MisuseCase>
{
};

TEST_P(TSockMisuse, RaisesItsMessage)
{
    TSock listener;
    listenOnLoopback(listener, "listener");
    TSock sock;
    wire(sock, "s");
    try {
        GetParam().act(sock, listener);
        FAIL() << "no exception";
    } catch (const ESockException &e) {
        EXPECT_EQ(e.Message(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, TSockMisuse,
    ::testing::Values(
        MisuseCase{"ListenOnDatagram",
                   [](TSock &s, TSock &) {
                       s.setSocketType(stDatagram);
                       s.setPortName("0");
                       s.setListen(true);
                   },
                   "Listen - Cannot Listen On A Datagram Socket"},
        MisuseCase{"ListenOnTakenPortOfAnotherListener",
                   [](TSock &s, TSock &l) {
                       s.setPortName(QString::number(l.LocalPort()));
                       s.setListen(true);
                   },
                   "Listen - Error Binding Socket"},
        MisuseCase{"ListenWithEmptyPortName", [](TSock &s, TSock &) { s.setListen(true); },
                   "Port Lookup - Could Not Find Service Entry"},
        MisuseCase{"ListenOnUnknownService",
                   [](TSock &s, TSock &) {
                       s.setPortName("no-such-service-here");
                       s.setListen(true);
                   },
                   "Port Lookup - Could Not Find Service Entry"},
        MisuseCase{"ListenOnPortOutOfRange",
                   [](TSock &s, TSock &) {
                       s.setPortName("70000");
                       s.setListen(true);
                   },
                   "Port Lookup - Could Not Find Service Entry"},
        MisuseCase{"ListenWhileHoldingAConnection",
                   [](TSock &s, TSock &l) {
                       s.setHostName("127.0.0.1");
                       s.setPortName(QString::number(l.LocalPort()));
                       s.Open();
                       s.setListen(true);
                   },
                   "Listen - Socket Already In Use"},
        MisuseCase{"SocketTypeWhileListening",
                   [](TSock &, TSock &l) { l.setSocketType(stDatagram); },
                   "SocketType - Can't Assign Socket Type While Listening"},
        MisuseCase{"SendWithoutHandle", [](TSock &s, TSock &) { s.Send("x"); },
                   "Send - Socket Not Connected"},
        MisuseCase{"SendOnListener", [](TSock &, TSock &l) { l.Send("x"); },
                   "Send - Cannot Send On A Listener Socket"},
        MisuseCase{"ReceiveWithoutHandle", [](TSock &s, TSock &) { s.Receive(); },
                   "Receive - Socket Not Connected"},
        MisuseCase{"ReceiveOnListener", [](TSock &, TSock &l) { l.Receive(); },
                   "Receive - Cannot Receive On A Listener Socket"},
        MisuseCase{"SendDatagramWithoutHandle",
                   [](TSock &s, TSock &) {
                       s.setSocketType(stDatagram);
                       s.SendDatagram("x", "127.0.0.1");
                   },
                   "SendDatagram - Socket Not Connected"},
        MisuseCase{"SendDatagramOnStream",
                   [](TSock &, TSock &l) { l.SendDatagram("x", "127.0.0.1"); },
                   "SendDatagram - Datagram Send Not Supported On Stream Sockets"},
        MisuseCase{"ReceiveDatagramOnStream",
                   [](TSock &, TSock &l) {
                       QString host;
                       l.ReceiveDatagram(host);
                   },
                   "ReceiveDatagram - Datagram Receive Not Supported On Stream Sockets"},
        MisuseCase{"AcceptOnNonListener",
                   [](TSock &s, TSock &) {
                       TSock *n = nullptr;
                       s.Accept(n);
                   },
                   "Accept - Socket Not In Listening Mode"},
        MisuseCase{"InfoHandlerThatRaises",
                   [](TSock &s, TSock &) {
                       QObject::connect(&s, &TSock::OnInfo,
                                        [](TSock *, TSocketInfo, const QString &) {
                                            throw std::runtime_error("handler failed");
                                        });
                       s.HostLookup("127.0.0.1");
                   },
                   "Error here"}),
    [](const ::testing::TestParamInfo<MisuseCase> &info) { return info.param.name; });

TEST_F(TSockTest, SendBeforeTheConnectCompletesLeavesOnTheWritableEvent)
{
    const quint16 port = startPeerServer();
    TSock sock;
    wire(sock, "c");
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(port));

    EXPECT_FALSE(sock.Open());
    EXPECT_GE(sock.SocketHandle(), 0);
    EXPECT_TRUE(sock.Send("hello"));
    EXPECT_FALSE(sock.Connected());

    QTcpSocket *peer = waitForPeer();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 5; }, kWaitMs));
    EXPECT_EQ(peer->readAll(), "hello");
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(of("c"), QStringList({"Info:c:0:Lookup Of Port " + QString::number(port),
                                    "Info:c:0:Lookup Of Host 127.0.0.1",
                                    "Info:c:5:Non-Blocking Outgoing Data",
                                    "Info:c:1:Non-Blocking Socket Connected", "Connect:c",
                                    "Info:c:5:Non-Blocking Outgoing Data",
                                    "Info:c:5:Non-Blocking Outgoing Data", "Write:c"}));
}

TEST_F(TSockTest, LargeSendsArriveWholeAndInOrder)
{
    const quint16 port = startPeerServer();
    TSock sock;
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(port));
    sock.Open();
    QTcpSocket *peer = waitForPeer();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sock.Connected(); }, kWaitMs));

    // Far more than the socket buffers take at once, so most leaves on writable events.
    QByteArray expected;
    for (int i = 0; i < 200; ++i) {
        const QByteArray chunk = QByteArray(40000, char('a' + i % 26));
        expected += chunk;
        sock.Send(chunk);
    }
    QByteArray got;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            got += peer->readAll();
            return got.size() >= expected.size();
        },
        20000));
    EXPECT_EQ(got, expected);
}

TEST_F(TSockTest, PeerCloseReportsDisconnectBeforeSocketClosed)
{
    TSock sock;
    wire(sock, "c");
    QTcpSocket *peer = openToPeer(sock);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(waitFor("Connect:c"));
    log.clear();

    peer->write("last words");
    peer->close();
    ASSERT_TRUE(waitFor("Info:c:2:Socket Closed"));
    EXPECT_EQ(log, QStringList({"Info:c:4:Non-Blocking Incoming Data", "Read:c:10", "Disconnect:c",
                                "Info:c:2:Socket Closed"}));
    EXPECT_FALSE(sock.Connected());
    EXPECT_EQ(sock.SocketHandle(), -1);
    // What arrived before the close can still be taken.
    EXPECT_EQ(sock.Receive(), "last words");
}

// A peer that goes away with a reset (a crashed game) ends the connection like a polite
// close does, after the error report, so that the owner learns the game is gone.
TEST_F(TSockTest, ResetByPeerReportsTheErrorAndCloses)
{
    TSock sock;
    wire(sock, "c");
    QTcpSocket *peer = openToPeer(sock);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(waitFor("Connect:c"));
    log.clear();

    resetConnection(peer);
    ASSERT_TRUE(waitFor("Info:c:2:Socket Closed"));
    EXPECT_EQ(log, QStringList({"Info:c:7:Error #10054 (WSAECONNRESET)",
                                "Error:c:0:10054:Error #10054 (WSAECONNRESET)", "Disconnect:c",
                                "Info:c:2:Socket Closed"}));
    EXPECT_EQ(sock.SocketHandle(), -1);
}

TEST_F(TSockTest, BlockingSendToAGonePeerRaisesInsteadOfKillingTheProcess)
{
    const quint16 port = startPeerServer();
    TSock sock;
    wire(sock, "b");
    sock.setBlocking(true);
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(port));
    ASSERT_TRUE(sock.Open());
    QTcpSocket *peer = waitForPeer();
    ASSERT_NE(peer, nullptr);
    peer->close();

    // The first sends may still be taken by the kernel; once the peer's reset is back a
    // send fails, and with a SIGPIPE this process would end right there.
    QString message;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            try {
                sock.Send("are you there?");
            } catch (const ESockException &e) {
                message = e.Message();
            }
            return !message.isEmpty();
        },
        kWaitMs));
    EXPECT_EQ(message, "Send - Socket Error");
    EXPECT_TRUE(log.contains("Info:b:7:Socket Error On Send"));
}

// A blocking listener hands each accepted connection to its own thread, where the
// handler may wait on the connection without stopping the event loop.
TEST_F(TSockTest, BlockingAutoAcceptRunsTheHandlerOnItsOwnThread)
{
    TSock listener;
    listener.setHostName("127.0.0.1");
    listener.setPortName("0");
    listener.setListen(true);
    listener.setBlocking(true);
    listener.setBlockingTimeout(5);
    listener.setAutoAccept(true);
    std::atomic<bool> onOtherThread{false};
    std::atomic<bool> done{false};
    QThread *const uiThread = QThread::currentThread();
    QObject::connect(
        &listener, &TSock::OnAutoAccept, &listener,
        [&](TSock *sender, TSock *newSock) {
            onOtherThread = QThread::currentThread() != uiThread && sender == &listener;
            const QByteArray request = newSock->Receive();
            newSock->Send("re:" + request);
            done = true;
        },
        Qt::DirectConnection);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    ASSERT_TRUE(client.waitForConnected(kWaitMs));
    client.write("ping");
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.bytesAvailable() >= 7; }, kWaitMs));
    EXPECT_EQ(client.readAll(), "re:ping");
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load(); }, kWaitMs));
    EXPECT_TRUE(onOtherThread);
}

// What the listener's handler raised on its own thread goes to the listener's owner, on
// the listener's thread, and no dialog opens.
TEST_F(TSockTest, AFailureOnTheAcceptThreadReachesTheListenersOwner)
{
    TSock listener;
    listenOnLoopback(listener, "l");
    listener.setBlocking(true);
    listener.setAutoAccept(true);
    QObject::connect(
        &listener, &TSock::OnAutoAccept, &listener,
        [](TSock *, TSock *) { throw ESockException("Accept handler failed"); },
        Qt::DirectConnection);
    QThread *heardOn = nullptr;
    QObject::connect(&listener, &TSock::OnError, [&](TSock *, TSocketError, int, const QString &) {
        heardOn = QThread::currentThread();
    });

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    ASSERT_TRUE(waitFor("Error:l:1:0:Accept handler failed"));
    EXPECT_EQ(heardOn, QThread::currentThread());
    EXPECT_TRUE(seam.errors.isEmpty());
    EXPECT_TRUE(seam.messages.isEmpty());
}

// A handler that raises while it handles an event (here one that reads a stream socket
// the datagram way) is not the socket's to show: its listeners hear OnError with what
// was raised, no dialog opens, and the socket goes on with the next event.
TEST_F(TSockTest, AFailingHandlerReachesTheOwnerAsAnErrorNotADialog)
{
    TSock sock;
    wire(sock, "c");
    QTcpSocket *peer = openToPeer(sock);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(waitFor("Connect:c"));
    QObject::connect(&sock, &TSock::OnRead, [](TSock *s, int) {
        QString host;
        s->ReceiveDatagram(host);
    });

    log.clear();
    peer->write("x");
    ASSERT_TRUE(
        waitFor("Error:c:1:0:ReceiveDatagram - Datagram Receive Not Supported On Stream Sockets"));
    EXPECT_TRUE(seam.errors.isEmpty());
    EXPECT_TRUE(seam.messages.isEmpty());
    EXPECT_TRUE(sock.Connected());

    peer->write("y");
    ASSERT_TRUE(waitFor("Read:c:2"));
    EXPECT_EQ(sock.Receive(), "xy");
}

// Several owners may listen to one socket and each hears every event. A connection the
// listener accepted reaches both those who listen to the listener and its own listeners.
TEST_F(TSockTest, EveryListenerHearsEachEvent)
{
    TSock listener;
    listenOnLoopback(listener, "Sock11");
    listener.setAutoAccept(true);
    QStringList other;
    QObject::connect(&listener, &TSock::OnRead, [&](TSock *s, int count) {
        other << QStringLiteral("Read:%1:%2").arg(s->objectName()).arg(count);
    });
    TSock *accepted = nullptr;
    QObject::connect(&listener, &TSock::OnAutoAccept, [&](TSock *, TSock *newSock) {
        accepted = newSock;
        newSock->setObjectName("game");
        QObject::connect(newSock, &TSock::OnDisconnect,
                         [&](TSock *s) { other << "Disconnect:" + s->objectName(); });
    });

    QTcpSocket game;
    game.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepted != nullptr; }, kWaitMs));
    game.write("hello");
    ASSERT_TRUE(waitFor("Read:game:5"));
    game.close();
    ASSERT_TRUE(waitFor("Info:game:2:Socket Closed"));
    EXPECT_EQ(other, QStringList({"Read:game:5", "Disconnect:game"}));
    EXPECT_EQ(of("game"), QStringList({"Info:game:4:Non-Blocking Incoming Data", "Read:game:5",
                                       "Disconnect:game", "Info:game:2:Socket Closed"}));
}

// A listener ends the connection inside one of the socket's signals, with delete or
// Close: the socket touches nothing of itself afterwards and says nothing more, and the
// peer sees the connection end.
struct EndInsideCase
{
    const char *name;
    const char *at;   // the log line on which the listener acts
    bool deleteIt;    // delete, or else Close
    QStringList then; // the whole log
};

class TSockEndedInside : public TSockTest, public ::testing::WithParamInterface<EndInsideCase>
{
};

TEST_P(TSockEndedInside, SaysNothingMore)
{
    QPointer<TSock> sock = new TSock;
    wire(*sock, "c");
    QTcpSocket *peer = openToPeer(*sock);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(waitFor("Connect:c"));
    log.clear();

    // Heard after the log's own listener, so the log's last line names the event.
    const auto act = [this, &sock] {
        if (log.isEmpty() || log.last() != GetParam().at || !sock)
            return;
        if (GetParam().deleteIt) {
            delete sock.data();
            log << "deleted";
        } else {
            sock->Close();
            log << "closed";
        }
    };
    QObject::connect(sock, &TSock::OnRead, [act](TSock *, int) { act(); });
    QObject::connect(sock, &TSock::OnDisconnect, [act](TSock *) { act(); });
    QObject::connect(sock, &TSock::OnInfo, [act](TSock *, TSocketInfo, const QString &) { act(); });

    peer->write("bye");
    ASSERT_TRUE(peer->waitForBytesWritten(kWaitMs));
    if (QString(GetParam().at).contains("Closed") || QString(GetParam().at).contains("Disc"))
        peer->close();
    ASSERT_TRUE(waitFor(GetParam().deleteIt ? "deleted" : "closed"));
    EXPECT_EQ(sock.isNull(), GetParam().deleteIt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; },
                                kWaitMs));
    QTest::qWait(100); // nothing else may follow
    EXPECT_EQ(log, GetParam().then);
    delete sock.data();
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TSockEndedInside,
    ::testing::Values(EndInsideCase{"DeleteOnIncomingDataReport",
                                    "Info:c:4:Non-Blocking Incoming Data",
                                    true,
                                    {"Info:c:4:Non-Blocking Incoming Data", "deleted"}},
                      EndInsideCase{"DeleteOnRead",
                                    "Read:c:3",
                                    true,
                                    {"Info:c:4:Non-Blocking Incoming Data", "Read:c:3", "deleted"}},
                      EndInsideCase{"CloseOnRead",
                                    "Read:c:3",
                                    false,
                                    {"Info:c:4:Non-Blocking Incoming Data", "Read:c:3",
                                     "Info:c:2:Socket Closed", "closed"}},
                      EndInsideCase{"DeleteOnDisconnect",
                                    "Disconnect:c",
                                    true,
                                    {"Info:c:4:Non-Blocking Incoming Data", "Read:c:3",
                                     "Disconnect:c", "deleted"}},
                      EndInsideCase{"CloseOnDisconnect",
                                    "Disconnect:c",
                                    false,
                                    {"Info:c:4:Non-Blocking Incoming Data", "Read:c:3",
                                     "Disconnect:c", "Info:c:2:Socket Closed", "closed"}},
                      EndInsideCase{"DeleteOnSocketClosed",
                                    "Info:c:2:Socket Closed",
                                    true,
                                    {"Info:c:4:Non-Blocking Incoming Data", "Read:c:3",
                                     "Disconnect:c", "Info:c:2:Socket Closed", "deleted"}}),
    [](const ::testing::TestParamInfo<EndInsideCase> &info) { return info.param.name; });

TEST_F(TSockTest, ReceiveCountTakesFromTheFrontAndLeavesTheRest)
{
    TSock sock;
    wire(sock, "c");
    QTcpSocket *peer = openToPeer(sock);
    ASSERT_NE(peer, nullptr);

    peer->write("0123456789abcdefghijklmno");
    ASSERT_TRUE(waitFor("Read:c:25"));
    EXPECT_EQ(sock.ReceiveCount(10), "0123456789");
    EXPECT_EQ(sock.ReceiveCount(0), "");
    char buf[4];
    EXPECT_EQ(sock.Stream()->Read(buf, 4), 4);
    EXPECT_EQ(QByteArray(buf, 4), "abcd");
    EXPECT_EQ(sock.Receive(), "efghijklmno");
    EXPECT_EQ(sock.Receive(), "");

    EXPECT_EQ(sock.Stream()->Write("xyz", 3), 3);
    EXPECT_EQ(sock.Stream()->Seek(10, 0), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 3; }, kWaitMs));
    EXPECT_EQ(peer->readAll(), "xyz");
}

// The game-presence pattern: the listener accepts by itself and stops listening; the
// accepted connection then speaks through the listener's handlers under its own name.
TEST_F(TSockTest, AutoAcceptedSocketReportsThroughTheListenersHandlers)
{
    TSock listener;
    listenOnLoopback(listener, "Sock11");
    listener.setAutoAccept(true);
    TSock *accepted = nullptr;
    QObject::connect(&listener, &TSock::OnAutoAccept, [&](TSock *s, TSock *newSock) {
        accepted = newSock;
        newSock->setObjectName("game");
        log << "AutoAccept:" + s->objectName();
        listener.setListen(false);
    });

    QTcpSocket game;
    game.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    ASSERT_TRUE(waitFor("Info:Sock11:3:Listening Stopped"));
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->parent(), &listener);
    EXPECT_TRUE(accepted->Connected());
    EXPECT_EQ(accepted->HostName(), "127.0.0.1");
    EXPECT_EQ(accepted->PortName(), "0");
    EXPECT_FALSE(listener.Listen());

    game.write("hi");
    ASSERT_TRUE(waitFor("Read:game:2"));
    EXPECT_EQ(accepted->Receive(), "hi");
    accepted->Send("hello game");
    ASSERT_TRUE(QTest::qWaitFor([&] { return game.bytesAvailable() >= 10; }, kWaitMs));
    EXPECT_EQ(game.readAll(), "hello game");

    game.close();
    ASSERT_TRUE(waitFor("Info:game:2:Socket Closed"));
    EXPECT_EQ(log, QStringList({"AutoAccept:Sock11", "Info:Sock11:2:Socket Closed",
                                "Info:Sock11:3:Listening Stopped",
                                "Info:game:4:Non-Blocking Incoming Data", "Read:game:2",
                                "Info:game:5:Non-Blocking Outgoing Data", "Disconnect:game",
                                "Info:game:2:Socket Closed"}));
}

// The relay-listener pattern: the owner accepts on OnAccept; every waiting connection is
// announced, also one that arrived while the first was being handled.
TEST_F(TSockTest, ManualAcceptTakesEveryWaitingConnection)
{
    TSock listener;
    listenOnLoopback(listener, "gamesock");
    QList<TSock *> accepted;
    QObject::connect(&listener, &TSock::OnAccept, [&](TSock *) {
        TSock *n = nullptr;
        ASSERT_TRUE(listener.Accept(n));
        n->setObjectName(QStringLiteral("slot%1").arg(accepted.size()));
        accepted << n;
    });

    QTcpSocket first;
    QTcpSocket second;
    first.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    second.connectToHost(QHostAddress::LocalHost, listener.LocalPort());
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepted.size() == 2; }, kWaitMs));
    EXPECT_EQ(log.count("Info:gamesock:6:Created New TSock Structure"), 2);
    EXPECT_TRUE(listener.Listen());
    for (TSock *n : accepted) {
        EXPECT_EQ(n->parent(), &listener);
        EXPECT_TRUE(n->Connected());
        EXPECT_TRUE(::fcntl(n->SocketHandle(), F_GETFD) & FD_CLOEXEC);
    }
    second.write("two");
    ASSERT_TRUE(waitFor("Read:slot1:3"));
}

// The lobby closing a game's connection first leaves it in TIME_WAIT on the listener's
// port; listening there again must still work at once.
TEST_F(TSockTest, ListeningAgainRightAfterClosingAnAcceptedConnection)
{
    TSock listener;
    listenOnLoopback(listener, "Sock11");
    const quint16 port = listener.LocalPort();
    TSock *accepted = nullptr;
    QObject::connect(&listener, &TSock::OnAccept, [&](TSock *) { listener.Accept(accepted); });
    QTcpSocket game;
    game.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepted != nullptr; }, kWaitMs));
    ASSERT_TRUE(game.waitForConnected(kWaitMs));

    accepted->Close();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return game.state() != QAbstractSocket::ConnectedState; }, kWaitMs));
    listener.setListen(false);
    listener.setPortName(QString::number(port));
    EXPECT_NO_THROW(listener.setListen(true));
    EXPECT_EQ(listener.LocalPort(), port);
}

TEST_F(TSockTest, RefusedConnectOnlyReportsTheError)
{
    const quint16 port = freePort();
    TSock sock;
    wire(sock, "c");
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(port));
    sock.Open();
    ASSERT_TRUE(waitFor("Error:c:0:10061:Error #10061 (WSAECONNREFUSED)"));
    QTest::qWait(100); // nothing else may follow
    EXPECT_EQ(log, QStringList({"Info:c:0:Lookup Of Port " + QString::number(port),
                                "Info:c:0:Lookup Of Host 127.0.0.1",
                                "Info:c:7:Error #10061 (WSAECONNREFUSED)",
                                "Error:c:0:10061:Error #10061 (WSAECONNREFUSED)"}));
    EXPECT_GE(sock.SocketHandle(), 0);
    EXPECT_FALSE(sock.Connected());

    // Bytes for a connection that never came wait until the owner closes it.
    log.clear();
    EXPECT_TRUE(sock.Send("queued"));
    EXPECT_TRUE(sock.Close());
    EXPECT_EQ(log, QStringList({"Info:c:5:Non-Blocking Outgoing Data", "Info:c:2:Socket Closed"}));
}

TEST_F(TSockTest, DatagramsGoOutAndComeIn)
{
    TSock sock;
    wire(sock, "d");
    sock.setSocketType(stDatagram);
    const quint16 port = freeUdpPort();
    sock.setPortName(QString::number(port));
    ASSERT_TRUE(sock.Open());
    EXPECT_EQ(log, QStringList({"Info:d:0:Lookup Of Port " + QString::number(port),
                                "Info:d:0:Lookup Of Host ", "Info:d:1:Datagram Socket Connected",
                                "Connect:d"}));

    // The target port is the socket's own, so a datagram to 127.0.0.1 comes back to it.
    log.clear();
    EXPECT_TRUE(sock.SendDatagram("ping", "127.0.0.1"));
    EXPECT_EQ(sock.HostName(), "127.0.0.1");
    ASSERT_TRUE(waitFor("Read:d:0"));
    QString host;
    EXPECT_EQ(sock.ReceiveDatagram(host), "ping");
    EXPECT_EQ(host, "127.0.0.1");

    // Another program's datagram is announced again after the first was taken.
    QUdpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress::LocalHost, 0));
    log.clear();
    other.writeDatagram("one", QHostAddress::LocalHost, port);
    ASSERT_TRUE(waitFor("Read:d:0"));
    EXPECT_EQ(sock.Receive(), "one");
    other.writeDatagram("two", QHostAddress::LocalHost, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count("Read:d:0") == 2; }, kWaitMs));
    EXPECT_EQ(sock.ReceiveDatagram(host), "two");
    EXPECT_EQ(host, "127.0.0.1");

    // Nothing waiting: the receive gives up after BlockingTimeout (0: at once).
    EXPECT_EQ(sock.ReceiveDatagram(host), "");
    EXPECT_EQ(host, "");
}

TEST_F(TSockTest, BlockingConnectionSendsReceivesWithTimeoutAndSeesTheClose)
{
    const quint16 port = startPeerServer();
    TSock sock;
    wire(sock, "b");
    sock.setBlocking(true);
    sock.setBlockingTimeout(1);
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(port));
    ASSERT_TRUE(sock.Open());
    QTcpSocket *peer = waitForPeer();
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(of("b").contains("Info:b:1:Blocking Socket Connected"));

    log.clear();
    EXPECT_TRUE(sock.Send("abc"));
    EXPECT_EQ(log, QStringList({"Info:b:5:Blocking Outgoing Data"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 3; }, kWaitMs));
    EXPECT_EQ(peer->readAll(), "abc");

    log.clear();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(sock.Receive(), "");
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_TRUE(log.isEmpty());

    peer->write("reply");
    ASSERT_TRUE(peer->waitForBytesWritten(kWaitMs));
    EXPECT_EQ(sock.Receive(), "reply");
    EXPECT_EQ(log, QStringList({"Info:b:4:Blocking Incoming Data"}));

    log.clear();
    peer->close();
    EXPECT_EQ(sock.Receive(), "");
    EXPECT_EQ(log, QStringList({"Info:b:4:Blocking Incoming Data",
                                "Info:b:2:Socket Disconnected On Receive", "Info:b:2:Socket Closed",
                                "Disconnect:b"}));
    EXPECT_FALSE(sock.Connected());
}

TEST_F(TSockTest, BlockingConnectToNothingClosesAgain)
{
    TSock sock;
    wire(sock, "b");
    sock.setBlocking(true);
    sock.setHostName("127.0.0.1");
    sock.setPortName(QString::number(freePort()));
    EXPECT_FALSE(sock.Open());
    EXPECT_EQ(log.mid(2),
              QStringList({"Info:b:2:Blocking Socket Can't Connect", "Info:b:2:Socket Closed"}));
    EXPECT_EQ(sock.SocketHandle(), -1);
}

TEST_F(TSockTest, HostAndPortLookups)
{
    TSock sock;
    wire(sock, "s");
    EXPECT_EQ(sock.HostLookup("127.0.0.1"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(sock.HostLookup("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(sock.HostLookup("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(sock.HostLookup(""), htonl(INADDR_ANY));
    EXPECT_EQ(sock.PortLookup("9001"), htons(9001));
    EXPECT_EQ(log.first(), "Info:s:0:Lookup Of Host 127.0.0.1");
    EXPECT_EQ(log.last(), "Info:s:0:Lookup Of Port 9001");
    if (::getservbyname("http", "tcp") != nullptr) {
        EXPECT_EQ(sock.PortLookup("http"), htons(80));
    }
}

struct ErrorCase
{
    int code;
    const char *name;
};

TEST(TSockErrors, ErrorNamesAndErrnoMapping)
{
    const ErrorCase names[] = {
        {10004, "WSAEINTR"},          {10035, "WSAEWOULDBLOCK"}, {10048, "WSAEADDRINUSE"},
        {10053, "WSAECONNABORTED"},   {10054, "WSAECONNRESET"},  {10060, "WSAETIMEDOUT"},
        {10061, "WSAECONNREFUSED"},   {10067, "WSAEPROCLIM"},    {10101, "WSAEDISCON"},
        {11001, "WSAHOST_NOT_FOUND"}, {11004, "WSANO_DATA"},     {10000, "UNKNOWN ERROR"},
        {10072, "UNKNOWN ERROR"},     {0, "UNKNOWN ERROR"}};
    for (const ErrorCase &c : names)
        EXPECT_EQ(TSock::ErrorName(c.code), c.name) << c.code;

    const std::pair<int, int> mapped[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},   {ECONNRESET, 10054},  {ECONNABORTED, 10053},
        {EADDRINUSE, 10048},   {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036}, {EPIPE, 10054},
        {EHOSTUNREACH, 10065}, {ENOTCONN, 10057}};
    for (const auto &[e, code] : mapped)
        EXPECT_EQ(ostrel::winsockErrorFromErrno(e), code) << e;
    EXPECT_EQ(ostrel::winsockErrorFromGai(EAI_NONAME), 11001);

    EXPECT_EQ(TSock::SocketInfoText(siLookup), "Lookup");
    EXPECT_EQ(TSock::SocketInfoText(siError), "Error");
}

} // namespace
