// A game's traffic through the assisted-hosting relay against a direct loopback
// connection between the same two ends, in one run: two real lobbies logged in to the
// real server binary, the joiner's "game" connected to its lobby's stand-in listener, the
// host's "game" reached by the host's lobby. Prints one-way latency (p50/p99) of small
// messages sent at a steady rate, and the throughput of a bulk transfer, for both paths
// and their ratios. The relay passes each byte through both lobbies (whose pacer lets
// relayed lines leave at once) and the server.
//
// Usage: bench_relay [messages=500] [rate_per_s=100] [bulk_mib=4]
#include "assets.h"
#include "control.h"
#include "e2esupport.h"
#include "recordingplatform.h"
#include "relaytable.h"
#include "tsock.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// A message of the latency run: its sequence number and the time it was written.
struct Stamp
{
    quint32 sequence;
    qint64 sentNs;
};
constexpr int kMessageSize = 64;

struct Result
{
    double p50Ms = 0;
    double p99Ms = 0;
    double mibPerS = 0;
    bool complete = false;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[at];
}

// Runs the event loop until done() holds or timeoutMs pass, looking every millisecond.
// QTest::qWait and qWaitFor sleep up to 10 ms between turns of the loop: both lobbies
// live in this process, so that sleep would be added to every hop through them.
bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer look;
    look.setInterval(1);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= timeoutMs)
            loop.quit();
    });
    look.start();
    loop.exec();
    return done();
}

// Sends `messages` stamped messages at `rate` per second from one end, then `bulk` bytes
// as fast as the path takes them, and measures what arrives at the other end.
Result measure(QTcpSocket *from, QTcpSocket *to, int messages, int rate, qint64 bulk)
{
    Result result;
    QElapsedTimer clock;
    clock.start();
    std::vector<double> delays;
    QByteArray pending;
    auto readStamps = [&] {
        pending += to->readAll();
        while (pending.size() >= kMessageSize) {
            Stamp s;
            std::memcpy(&s, pending.constData(), sizeof s);
            delays.push_back(static_cast<double>(clock.nsecsElapsed() - s.sentNs) / 1e6);
            pending.remove(0, kMessageSize);
        }
    };
    QObject::connect(to, &QIODevice::readyRead, to, readStamps);
    for (int i = 0; i < messages; ++i) {
        QByteArray message(kMessageSize, '\x15'); // the byte the wire turns into a line feed
        const Stamp s{static_cast<quint32>(i), clock.nsecsElapsed()};
        std::memcpy(message.data(), &s, sizeof s);
        from->write(message);
        (void)spinUntil([] { return false; }, 1000 / rate);
    }
    (void)spinUntil([&] { return static_cast<int>(delays.size()) >= messages; }, 10000);
    QObject::disconnect(to, &QIODevice::readyRead, to, nullptr);
    result.p50Ms = percentile(delays, 0.50);
    result.p99Ms = percentile(delays, 0.99);

    // Bulk: every byte value, written in game-sized pieces while the path keeps up.
    QByteArray piece(32 * 1024, '\0');
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<char>(i * 7);
    qint64 written = 0;
    qint64 received = 0;
    QObject::connect(to, &QIODevice::readyRead, to, [&] { received += to->readAll().size(); });
    QElapsedTimer bulkClock;
    bulkClock.start();
    const bool done = spinUntil(
        [&] {
            while (written < bulk && from->bytesToWrite() < 256 * 1024) {
                from->write(piece);
                written += piece.size();
            }
            return received >= bulk;
        },
        60000);
    QObject::disconnect(to, &QIODevice::readyRead, to, nullptr);
    result.mibPerS = static_cast<double>(received) / (1024.0 * 1024.0) /
                     (static_cast<double>(bulkClock.nsecsElapsed()) / 1e9);
    result.complete = done && static_cast<int>(delays.size()) >= messages;
    return result;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitAssets();
    const int messages = argc > 1 ? std::atoi(argv[1]) : 500;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 100;
    const qint64 bulk = (argc > 3 ? std::atoll(argv[3]) : 4) * 1024 * 1024;
    RecordingPlatform quiet;

    QTemporaryDir serverData;
    std::unique_ptr<ServerProcess> started;
    try {
        started = std::make_unique<ServerProcess>(serverData.path().toStdString());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "the server did not start: %s\n", e.what());
        return 1;
    }
    const ServerProcess &server = *started;
    if (!createAccount(server, "host") || !createAccount(server, "joiner")) {
        std::fprintf(stderr, "no accounts on the server\n");
        return 1;
    }
    // The game both lobbies have installed, in the sample catalogue's version: hosting
    // and joining check for it.
    QFile program(serverData.filePath(QStringLiteral("Plumbrix game")));
    program.open(QIODevice::WriteOnly);
    QFile registry(serverData.filePath(QStringLiteral("registry.ini")));
    registry.open(QIODevice::WriteOnly);
    registry.write("[Plumbrix]\nInstallPath=" + QFile::encodeName(program.fileName()) +
                   "\nVersion=1.6.7\n");
    registry.close();
    qputenv("OSTREL_REGISTRY", QFile::encodeName(registry.fileName()));
    // Each lobby takes its ports when it is made: the joiner's stand-in listener here,
    // the host's game (reached by the host's lobby) there.
    qputenv("OSTREL_GAME_PORT", "0");
    // The game goes through the relay at once: no router of the network is asked to forward
    // the port first.
    qputenv("OSTREL_ASK_ROUTER", "0");
    const quint16 joinerPort = freePort();
    qputenv("OSTREL_RELAY_PORT", QByteArray::number(joinerPort));
    E2EPlayer joiner;
    if (!joiner.login(server, QStringLiteral("joiner")))
        return 1;
    QTcpServer hostGame;
    hostGame.listen(QHostAddress::LocalHost, 0);
    qputenv("OSTREL_RELAY_PORT", QByteArray::number(hostGame.serverPort()));
    E2EPlayer host;
    if (!host.login(server, QStringLiteral("host")))
        return 1;

    // The handshake of an assisted game, as the users make it: both in the game's room,
    // the host hosts through the relay, the joiner joins.
    for (Tlobby *lobby : {host.lobby, joiner.lobby}) {
        lobby->connection()->JoinSubject("Plumbrix");
        if (!QTest::qWaitFor(
                [&] { return control<QLabel>(lobby, "label_gamename")->text() == "Plumbrix"; },
                10000)) {
            std::fprintf(stderr, "the lobbies did not enter the game's room\n");
            return 1;
        }
    }
    control<QAction>(host.lobby, "LobbyAssistedHosting1")->setChecked(true);
    host.lobby->button_hostClick();
    QTest::qWait(200);
    joiner.lobby->joinit("host - Plumbrix");
    if (!QTest::qWaitFor([&] { return joiner.lobby->relayTable()->gamesock()->Listen(); }, 10000)) {
        std::fprintf(stderr, "the relayed join did not start\n");
        return 1;
    }
    QTcpSocket joinerGame;
    joinerGame.connectToHost(QHostAddress::LocalHost, joinerPort);
    QTcpSocket *hostEnd = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                if (!hostEnd)
                    hostEnd = hostGame.nextPendingConnection();
                return hostEnd != nullptr;
            },
            10000)) {
        std::fprintf(stderr, "the host's lobby did not reach the host's game\n");
        return 1;
    }

    // The same two kinds of end, straight to each other.
    QTcpServer directServer;
    directServer.listen(QHostAddress::LocalHost, 0);
    QTcpSocket directFrom;
    directFrom.connectToHost(QHostAddress::LocalHost, directServer.serverPort());
    QTcpSocket *directTo = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            if (!directTo)
                directTo = directServer.nextPendingConnection();
            return directTo != nullptr;
        },
        5000);

    const Result direct = measure(&directFrom, directTo, messages, rate, bulk);
    const Result relay = measure(&joinerGame, hostEnd, messages, rate, bulk);
    std::printf("%d messages of %d bytes at %d/s, then %lld MiB in bulk\n", messages, kMessageSize,
                rate, static_cast<long long>(bulk / (1024 * 1024)));
    std::printf("%-8s %10s %10s %12s\n", "path", "p50 ms", "p99 ms", "MiB/s");
    for (const auto &[name, r] : {std::pair{"direct", direct}, std::pair{"relay", relay}})
        std::printf("%-8s %10.2f %10.2f %12.2f%s\n", name, r.p50Ms, r.p99Ms, r.mibPerS,
                    r.complete ? "" : "  (incomplete)");
    std::printf("relay - direct: p50 +%.2f ms, p99 +%.2f ms; throughput relay/direct %.3f\n",
                relay.p50Ms - direct.p50Ms, relay.p99Ms - direct.p99Ms,
                direct.mibPerS > 0 ? relay.mibPerS / direct.mibPerS : 0.0);
    return direct.complete && relay.complete ? 0 : 1;
}
