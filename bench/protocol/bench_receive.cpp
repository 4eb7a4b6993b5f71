// Receive-side throughput of the lobby connection: unscramble, frame, split and
// dispatch a realistic mix of server lines, against a plain memchr line split of the
// same bytes in the same run. Compare the two bytes_per_second figures.
#include "encryptit.h"
#include "torvexconnection.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

std::string buildStream()
{
    const char *mix[] = {
        "SEND|ann|CHAT|anyone up for a quick round of word race?|clBlack",
        "ADDGUEST|player1234+17+Word Race+",
        "SEND|bob|GHAT|good evening everybody, the tournament starts at eight|$00804000",
        "REMOVEGUEST|player1234",
        "ADDGUEST|carol+5+Lobby Chat+dave - Dice Duel",
        "SEND|eve|PMES|hi there/r/do you want to play later?/r/cheers",
        "DELETEGAME|dave",
        "GREMOVEGUEST|frank",
        "ADDGAME|gina - Tile Towers",
        "SERVERSTATS|120`45`3`9`1200`77`12.5`0.75",
    };
    std::string stream;
    while (stream.size() < (1u << 20)) {
        for (const char *line : mix) {
            std::string scrambled = ostrel::Encrypt(line, ostrel::kWireKey);
            stream += scrambled;
            stream += '\n';
        }
    }
    return stream;
}

const std::string &stream()
{
    static const std::string s = buildStream();
    return s;
}

constexpr std::size_t kChunk = 4096;

void BM_ConnectionReceive(benchmark::State &state)
{
    TOrvexConnection conn;
    std::size_t events = 0;
    auto text = [&events](const QByteArray &t) { events += t.size() > 0; };
    auto from = [&events](const QByteArray &t, const QByteArray &) { events += t.size() > 0; };
    using C = TOrvexConnection;
    for (auto e :
         {&C::OnAddUser, &C::OnRemoveUser, &C::OnGRemoveUser, &C::OnAddGame, &C::OnDeletegame})
        QObject::connect(&conn, e, text);
    for (auto e : {&C::OnChatReceived, &C::OnGhatReceived, &C::OnPmesReceived})
        QObject::connect(&conn, e, from);
    QObject::connect(&conn, &C::OnServerStatus,
                     [&events](ostrel::TOrvexServerStats *) { ++events; });
    const std::string &bytes = stream();
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
            const std::size_t n = std::min(kChunk, bytes.size() - at);
            conn.receiveChunk(bytes.data() + at, static_cast<qsizetype>(n));
        }
    }
    benchmark::DoNotOptimize(events);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_MemchrSplit(benchmark::State &state)
{
    const std::string &bytes = stream();
    std::size_t lines = 0;
    for (auto _ : state) {
        const char *p = bytes.data();
        const char *end = p + bytes.size();
        while (const void *hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
            ++lines;
            p = static_cast<const char *>(hit) + 1;
        }
        benchmark::DoNotOptimize(p);
    }
    benchmark::DoNotOptimize(lines);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_MemchrSplit);
BENCHMARK(BM_ConnectionReceive);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
