// Thousands of players in the real lobby window (shown, offscreen): a local server logs
// the window in, sends the catalogue and then a JOINSUBJECT with N player entries, all
// in one room (the worst case: one room node of the tree and both lists hold them all),
// followed by a stream of ADDGUEST and GREMOVEGUEST updates (players moving between
// rooms, leaving and arriving). Each burst is sent and the window is waited for until it
// has handled it (it answers a PING only after the lines before it), with its events
// processed and repainted as in real use. The cost per entry at 20,000 players must stay
// within twice the cost at 2,000: look-ups go through indexes and no update rebuilds a
// whole list or the tree.
//
// Usage: bench_playerlists [small=2000] [large=20000] [updates=4000] [burst=10]
// The last line is the figure to watch: what one update costs in entries of the burst.
#include "assets.h"
#include "encryptit.h"
#include "lobby.h"
#include "torvexuser.h"

#include <QApplication>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <random>

namespace {

constexpr int kRooms = 20;

// Processor time of the whole process: the window's work, without the waits for the
// connection's 20 ms send pacer that answers the PING.
double cpuMicroseconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

QByteArray scrambled(QByteArray line)
{
    ostrel::ScrambleInPlace(line.data(), static_cast<std::size_t>(line.size()), ostrel::kWireKey);
    return line + '\n';
}

// A lobby server that only knows what the benchmark needs: it answers the login and
// reports each PING answer of the client.
class BenchServer
{
public:
    BenchServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            m_client = m_server.nextPendingConnection();
            QObject::connect(m_client, &QTcpSocket::readyRead, [this] { read(); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void send(const QByteArray &line) { m_out += scrambled(line); }
    // Sends what is queued plus a PING and waits until the client has answered it.
    bool flushAndWait()
    {
        const QByteArray marker = "PING|" + QByteArray::number(++m_marker);
        send(marker);
        m_client->write(m_out);
        m_out.clear();
        // Woken by the answer itself: a polling wait would measure its own interval.
        QEventLoop loop;
        m_loop = &loop;
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        if (m_pings != m_marker)
            loop.exec();
        m_loop = nullptr;
        return m_pings == m_marker;
    }
    bool loggedIn() const { return m_login; }

private:
    void read()
    {
        m_in += m_client->readAll();
        for (qsizetype end; (end = m_in.indexOf('\n')) >= 0;) {
            QByteArray line = m_in.left(end);
            m_in.remove(0, end + 1);
            ostrel::ScrambleInPlace(line.data(), static_cast<std::size_t>(line.size()),
                                    ostrel::kWireKey);
            if (line.startsWith("LOGIN|")) {
                ostrel::TOrvexUser user;
                user.UserName = "bench";
                user.Password = "pw";
                m_client->write(
                    scrambled("LOGIN|SUCCESS|" + QByteArray::fromStdString(user.SaveToString())));
                m_login = true;
            } else if (line.startsWith("PING|")) {
                if (++m_pings == m_marker && m_loop)
                    m_loop->quit();
            }
        }
    }

    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    int m_pings = 0;
    QEventLoop *m_loop = nullptr;
    int m_marker = 0;
    bool m_login = false;
};

QByteArray room(int i)
{
    return "room" + QByteArray::number(i % kRooms);
}

QByteArray player(int i)
{
    return "player" + QByteArray::number(i);
}

struct Result
{
    double joinUsPerEntry = 0;
    double updateUsPerEntry = 0;
};

Result run(int players, int updates, int burst)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    BenchServer server;
    Tlobby lobby;
    lobby.resize(1000, 700);
    lobby.connection()->setHost(QStringLiteral("127.0.0.1"));
    lobby.connection()->setPort(server.port());
    lobby.setLogin("bench", "pw");
    lobby.connection()->setActive(true);
    if (!QTest::qWaitFor([&] { return lobby.connection()->LoggedIn(); }, 10000))
        qFatal("the lobby did not log in");
    lobby.show();

    QList<QByteArray> catalogue;
    for (int i = 0; i < kRooms; ++i)
        catalogue << "game:Word:" + room(i) + ":1.0:/games/" + room(i);
    server.send("GAMES|" + catalogue.join("/r/"));
    server.flushAndWait();

    // Everyone in room0, the room the user enters.
    QByteArray join = "JOINSUBJECT|room0";
    for (int i = 0; i < players; ++i)
        join += '|' + player(i) + '+' + QByteArray::number(i % 40) + "+room0+";
    double start = cpuMicroseconds();
    server.send(join);
    if (!server.flushAndWait())
        qFatal("the lobby did not handle the room entry");
    QApplication::processEvents();
    Result r;
    r.joinUsPerEntry = (cpuMicroseconds() - start) / players;

    // Players move to other rooms and back, leave and come back, new ones arrive.
    std::mt19937 random(7);
    int next = players;
    start = cpuMicroseconds();
    for (int u = 0; u < updates;) {
        for (int b = 0; b < burst && u < updates; ++b, ++u) {
            const int who = static_cast<int>(random() % static_cast<unsigned>(players));
            switch (u % 4) {
            case 0:
                // The server tells the room that the player left it, and everyone where
                // the player went.
                server.send("REMOVEGUEST|" + player(who));
                server.send("ADDGUEST|" + player(who) + "+2+" + room(u / 4 + 1) + '+');
                break;
            case 1:
                server.send("ADDGUEST|" + player(who) + "+2+room0+" + player(who) + " - room0");
                break;
            case 2:
                server.send("REMOVEGUEST|" + player(who));
                server.send("GREMOVEGUEST|" + player(who));
                break;
            default:
                server.send("ADDGUEST|" + player(next++) + "+1+room0+");
                break;
            }
        }
        server.flushAndWait();
        QApplication::processEvents();
    }
    r.updateUsPerEntry = (cpuMicroseconds() - start) / updates;
    std::fprintf(stderr, "  %d players: lbnames %d, room list %d\n", players,
                 lobby.findChild<TPlayerList *>(QStringLiteral("lbnames"))->count(),
                 lobby.findChild<TPlayerList *>(QStringLiteral("listbox_gameroom"))->count());
    lobby.connection()->setActive(false);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitAssets();
    const int small = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int large = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int updates = argc > 3 ? std::atoi(argv[3]) : 4000;
    const int burst = argc > 4 ? std::atoi(argv[4]) : 10;

    const Result a = run(small, updates, burst);
    const Result b = run(large, updates, burst);
    std::printf("JOINSUBJECT: %d players %.1f us/entry, %d players %.1f us/entry, ratio %.2f\n",
                small, a.joinUsPerEntry, large, b.joinUsPerEntry,
                b.joinUsPerEntry / a.joinUsPerEntry);
    std::printf("updates (%d, %d per burst): %d players %.1f us/entry, %d players %.1f us/entry, "
                "ratio %.2f\n",
                updates, burst, small, a.updateUsPerEntry, large, b.updateUsPerEntry,
                b.updateUsPerEntry / a.updateUsPerEntry);
    // What one presence update costs in entries of the room entry's burst.
    std::printf("update-to-entry ratio (one update in burst entries, goal <= 10): %d players "
                "%.1f, %d players %.1f\n",
                small, a.updateUsPerEntry / a.joinUsPerEntry, large,
                b.updateUsPerEntry / b.joinUsPerEntry);
    return 0;
}
