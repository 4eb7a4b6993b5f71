#include "httpclient.h"
#include "loopbackport.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

// The wire form of a line, so that many can go in one write.
std::string scrambled(std::string line)
{
    for (auto &c : line)
        c = static_cast<char>(c ^ 0x1F);
    return line + "\n";
}

class LimitsTest : public ::testing::Test
{
protected:
    // ann joins bob's assisted game, so relay traffic may pass between them.
    static void joinAssisted(WireClient &bob, WireClient &ann)
    {
        bob.send("ADDASSISTED|bob - Plumbrix");
        ann.send("SEND|JOIN|bob|+");
        ASSERT_TRUE(bob.waitFor("SEND|ann|JOIN|+"));
        bob.send("SEND|IPTJ|ann|10.0.0.5");
        ASSERT_TRUE(ann.waitFor("SEND|bob|IPTJ|ASSISTED"));
    }

    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
};

TEST_F(LimitsTest, OverlongLinesEndTheConnectionWithAnError)
{
    struct Case
    {
        const char *what;
        std::string bytes;
    };
    const Case cases[] = {
        {"complete line", std::string(70 * 1024, 'x') + "\n"},
        {"line without end", std::string(70 * 1024, 'x')},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto client =
            createAccount(m_server.port(), std::string("u") + std::to_string(c.bytes.size() % 7));
        client.sendRaw(c.bytes);
        std::vector<std::string> last;
        EXPECT_TRUE(client.waitClosed(WireClient::kWait, &last));
        ASSERT_FALSE(last.empty());
        EXPECT_EQ(last.back().rfind("ERROR|Line too long", 0), 0u) << last.back();
    }
    // A long but allowed line is read and answered.
    auto bob = createAccount(m_server.port(), "bob");
    bob.send("NOTACOMMAND|" + std::string(60 * 1024, 'y'));
    EXPECT_EQ(bob.waitFor("ERROR|").value_or(""), "ERROR|Unknown command \"NOTACOMMAND\".");
    bob.send("SEND|GHAT|after|clBlack");
    EXPECT_TRUE(bob.waitFor("SEND|bob|GHAT|after"));
}

TEST_F(LimitsTest, MessageTextIsCappedAndBytesCountTowardsTheFloodLimit)
{
    auto bob = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    ASSERT_TRUE(bob.waitFor("ADDGUEST|ann+"));
    const std::string most(4000, 'a');
    const std::string tooLong(4200, 'b');
    const std::string lines[] = {"SEND|GHAT|" + tooLong + "|clBlack",
                                 "SEND|CHAT|" + tooLong + "|clBlack", "SEND|PMES|bob|" + tooLong,
                                 "INVITE|bob|" + tooLong};
    for (const auto &line : lines) {
        ann.send(line);
        EXPECT_EQ(ann.waitFor("ERROR|").value_or(""),
                  "ERROR|A message holds up to 4096 bytes; yours was not sent.")
            << line.substr(0, 20);
    }
    ann.send("SEND|GHAT|" + most + "|clBlack");
    std::vector<std::string> skipped;
    EXPECT_TRUE(bob.waitFor("SEND|ann|GHAT|" + most, WireClient::kWait, &skipped));
    for (const auto &line : skipped)
        EXPECT_EQ(line.find("bbbb"), std::string::npos);

    // Fifty long lines at once are few by count but many by bytes.
    std::string burst;
    for (int i = 0; i < 50; ++i) {
        std::string line = "SEND|GHAT|" + most + "|clBlack";
        for (auto &c : line)
            c = static_cast<char>(c ^ 0x1F);
        burst += line + "\n";
    }
    ann.sendRaw(burst);
    std::vector<std::string> last;
    EXPECT_TRUE(ann.waitClosed(WireClient::kWait, &last));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back(), "ERROR|Flood protection: you sent too much too quickly.");
    EXPECT_TRUE(bob.waitFor("GREMOVEGUEST|ann"));
}

TEST_F(LimitsTest, AFloodEndsTheFloodersConnectionOnly)
{
    auto bob = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    std::string burst;
    for (int i = 0; i < 400; ++i)
        burst += "SEND|PMES|bob|spam " + std::to_string(i) + "\n";
    // One write of many lines, scrambled line by line.
    std::string scrambled;
    for (char c : burst)
        scrambled.push_back(c == '\n' ? '\n' : static_cast<char>(c ^ 0x1F));
    ann.sendRaw(scrambled);
    std::vector<std::string> last;
    EXPECT_TRUE(ann.waitClosed(WireClient::kWait, &last));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back(), "ERROR|Flood protection: you sent too many lines too quickly.");
    EXPECT_TRUE(bob.waitFor("GREMOVEGUEST|ann"));
    bob.send("SEND|GHAT|fine|clBlack");
    EXPECT_TRUE(bob.waitFor("SEND|bob|GHAT|fine"));
}

TEST_F(LimitsTest, RelayedGameTrafficHasALargerAllowance)
{
    auto bob = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    ASSERT_NO_FATAL_FAILURE(joinAssisted(bob, ann));

    // Far more lines at once than a chat burst may hold.
    std::string burst;
    for (int i = 0; i < 600; ++i)
        burst += scrambled("SEND|DATASEND|bob|chunk " + std::to_string(i));
    ann.sendRaw(burst);
    EXPECT_TRUE(bob.waitFor("DATASEND|ann|chunk 599"));
    ann.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(bob.waitFor("SEND|ann|GHAT|still here"));
}

TEST_F(LimitsTest, AGameStreamBeyondTheRelayAllowanceIsSlowedNotCut)
{
    auto bob = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    ASSERT_NO_FATAL_FAILURE(joinAssisted(bob, ann));

    // Five seconds' worth of the allowance (2 MiB/s) at once.
    const std::string piece(60 * 1024, 'g');
    const int pieces = 5 * 2 * 1024 * 1024 / (60 * 1024);
    std::string stream;
    for (int i = 0; i < pieces; ++i)
        stream += scrambled("SEND|DATASEND|bob|" + std::to_string(i) + piece);
    const auto start = std::chrono::steady_clock::now();
    // Written from a thread of its own: the write itself waits while the server holds
    // the stream back, and bob must go on reading meanwhile, as a host's lobby does.
    std::thread writer([&] { ann.sendRaw(stream); });
    EXPECT_TRUE(bob.waitFor("DATASEND|ann|" + std::to_string(pieces - 1) + piece,
                            std::chrono::seconds(20)));
    writer.join();
    // Held to the allowance (a short burst, then the rate), and nobody is cut off.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ann.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(bob.waitFor("SEND|ann|GHAT|still here"));
}

TEST(SlowReaders, AClientThatDoesNotReadIsToldAndCutLooseWithoutStallingOthers)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--max-unsent", "64"});
    // A tiny receive window so that the backlog piles up at the server.
    WireClient sleeper(server.port());
    int small = 4096;
    setsockopt(sleeper.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sleeper.send("LOGINNEW|sleeper|0121|" + newRecord("sleeper", "pw"));
    ASSERT_TRUE(sleeper.waitFor("JOINSUBJECT|"));

    // Relayed game bytes are the one stream allowed to be large.
    auto ann = createAccount(server.port(), "ann");
    auto cat = createAccount(server.port(), "cat");
    ann.send("ADDASSISTED|ann - Plumbrix");
    sleeper.send("SEND|JOIN|ann|+");
    ASSERT_TRUE(ann.waitFor("SEND|sleeper|JOIN|+"));
    ann.send("SEND|IPTJ|sleeper|ASSISTED");
    const std::string big(60 * 1024, 'z');
    for (int i = 0; i < 14; ++i)
        ann.send("SEND|DATASEND|sleeper|" + big);
    // The others go on as if nothing happened.
    ann.send("SEND|GHAT|still quick|clBlack");
    EXPECT_TRUE(cat.waitFor("SEND|ann|GHAT|still quick", WireClient::kWait));
    EXPECT_TRUE(ann.waitFor("GREMOVEGUEST|sleeper", std::chrono::seconds(10)));
    EXPECT_NE(server.log().find("unsent output beyond"), std::string::npos) << server.log();
    // The sleeper learns why, once it reads what the connection still holds.
    std::vector<std::string> last;
    EXPECT_TRUE(sleeper.waitClosed(WireClient::kWait, &last));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().rfind("ERROR|You did not read", 0), 0u) << last.back().substr(0, 60);
}

TEST_F(LimitsTest, MalformedInputGetsErrorsNeverACrash)
{
    WireClient anonymous(m_server.port());
    const char *beforeLogin[] = {"LOGIN",     "LOGIN|",
                                 "LOGIN||||", "LOGINNEW|x|0121|abc^",
                                 "LOGINNEW|", "LOGINNEW|y|0121|y^p^^^^^^^^^^notanumber^"};
    for (const char *line : beforeLogin) {
        anonymous.send(line);
        auto reply = anonymous.waitFor("LOGIN|");
        ASSERT_TRUE(reply) << line;
        EXPECT_EQ(reply->rfind("LOGIN|FAILED|", 0), 0u) << *reply;
    }

    auto bob = createAccount(m_server.port(), "bob");
    const std::string junk[] = {"",
                                "|||",
                                "SEND",
                                "SEND|",
                                "SEND|PMES",
                                "SEND|JOIN",
                                "SEND|IPTJ||",
                                "SEND|DATASEND",
                                "HADMIN",
                                "HADMIN|7KAZ|bob|SILENCE",
                                "USERUPDATE|bob|garbage",
                                "USERUPDATE|bob|",
                                "USERUPDATE",
                                "USERINFO",
                                "JOINSUBJECT",
                                "JOINSUBJECT|",
                                "ADDGAME",
                                "ADDGAME|bob - ",
                                "DELETEGAME",
                                "PRIVATE",
                                "INVITE",
                                "LOGIN|bob|0121|pw",
                                std::string("\0\x01\x02\xff\xfe", 5),
                                "\r",
                                std::string(2000, '|'),
                                "NOTACOMMAND|x"};
    for (const auto &line : junk)
        bob.send(line);
    bob.send("SEND|GHAT|alive|clBlack");
    std::vector<std::string> replies;
    ASSERT_TRUE(bob.waitFor("SEND|bob|GHAT|alive", WireClient::kWait, &replies));
    EXPECT_FALSE(replies.empty());
    for (const auto &reply : replies)
        EXPECT_EQ(reply.rfind("ERROR|", 0), 0u) << reply;
    EXPECT_TRUE(m_server.running());
}

TEST(Liveness, ASilentClientIsDroppedAndAnAnsweringOneStays)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--ping-interval", "0.2"});
    auto silent = createAccount(server.port(), "silent");
    auto alive = createAccount(server.port(), "alive");
    int pings = 0;
    bool dropped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!dropped && std::chrono::steady_clock::now() < deadline) {
        if (auto line = alive.next(std::chrono::milliseconds(50))) {
            if (*line == "PING|") {
                ++pings;
                alive.send("PING|");
            } else if (*line == "GREMOVEGUEST|silent") {
                dropped = true;
            }
        }
    }
    EXPECT_TRUE(dropped);
    EXPECT_GE(pings, 3);
    std::vector<std::string> last;
    EXPECT_TRUE(silent.waitClosed(WireClient::kWait, &last));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back(), "ERROR|No answer from your lobby for too long: disconnected.");
    alive.send("SEND|GHAT|here|clBlack");
    EXPECT_TRUE(alive.waitFor("SEND|alive|GHAT|here"));
}

} // namespace

// A crowd's comings and goings while nobody reads: every connection owes the news of all
// the others, yet its queue holds a few entries for it (the news lies once in a block
// shared by everyone), not an entry per line. What is owed still arrives whole, in order.
TEST(SlowReaders, ACrowdsNewsTakesAFewQueueEntriesPerConnectionAndArrivesWhole)
{
    TempDir dir;
    const int metricsPort = freeLoopbackPort();
    ServerProcess server(dir.path(), {"--exempt", "127.0.0.1", "--metrics-listen",
                                      "127.0.0.1:" + std::to_string(metricsPort)});
    constexpr int kCrowd = 100;
    constexpr int kRounds = 30;
    std::vector<WireClient> crowd;
    for (int i = 0; i < kCrowd; ++i) {
        // A small window from the start, so that what the client does not take waits in
        // the server rather than in the system's buffers.
        const std::string name = "crowd" + std::to_string(i);
        crowd.emplace_back(server.port(), testOverTls(), nullptr, 4096);
        crowd.back().send("LOGINNEW|" + name + "|0121|" + newRecord(name, "pw"));
        ASSERT_TRUE(crowd.back().waitFor("JOINSUBJECT|"));
    }
    // The one that reads at the end has read the arrivals.
    crowd.front().send("SEND|GHAT|all here|clBlack");
    ASSERT_TRUE(crowd.front().waitFor("SEND|crowd0|GHAT|all here"));
    // Everyone steps into a game room and back, one after the other: each step is news
    // to all the others (both lines in one segment, so that nobody else moves between).
    // The news waits in the server for its presence flush (the system's buffers take it
    // all after that): a look at the queues after each round finds some of it there.
    const std::string step =
        scrambled("JOINSUBJECT|Plumbrix") + scrambled("JOINSUBJECT|Lobby Chat");
    double bytes = 0, entries = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (auto &client : crowd)
            client.sendRaw(step);
        const auto reply = httpGet(metricsPort, "/metrics");
        ASSERT_TRUE(reply && reply->status == 200);
        const double b = metricValue(reply->body, "ostrel_output_queued_bytes");
        if (b > bytes) {
            bytes = b;
            entries = metricValue(reply->body, "ostrel_output_queue_entries");
        }
    }
    // Lines of news for each connection wait in the server...
    ASSERT_GT(bytes, kCrowd * 512.0) << "the news never waited in the server";
    // ...in a few entries each (how many depends on how the server's turns fall, so the
    // bound is loose), where an entry per line would average under 100 bytes.
    EXPECT_LT(entries, kCrowd * 300.0) << bytes << " bytes";
    EXPECT_GT(bytes / entries, 400.0) << entries << " entries for " << bytes << " bytes";

    // One of them reads it all: every step of every other, in order.
    crowd.front().send("SEND|GHAT|the end|clBlack");
    const auto lines = linesBefore(crowd.front(), "SEND|crowd0|GHAT|the end");
    std::vector<int> steps(kCrowd, 0);
    for (const auto &line : lines) {
        if (line.rfind("ADDGUEST|crowd", 0) != 0)
            continue;
        const int who = std::atoi(line.c_str() + 14);
        const bool inRoom = line.find("+Plumbrix+") != std::string::npos;
        // Into the room on even steps, back to the lobby on odd ones.
        EXPECT_EQ(inRoom, steps[who] % 2 == 0) << line;
        ++steps[who];
    }
    for (int i = 1; i < kCrowd; ++i)
        EXPECT_EQ(steps[i], 2 * kRounds) << "crowd" << i;
}

// A stream for a client that takes it later than it comes: the system's buffers fill, and
// the rest leaves as the client reads, many lines per call. A socket without room is not
// offered more until it has drained (a call the system refuses is wasted), and the server
// hands back the room the stream's queue took once all is written.
TEST(SlowReaders, ABacklogLeavesInFewCallsAsTheReaderDrainsIt)
{
    if (testOverTls())
        GTEST_SKIP() << "inside TLS the stream makes the system calls";
    TempDir dir;
    const int metricsPort = freeLoopbackPort();
    ServerProcess server(dir.path(), {"--max-unsent", "65536", "--metrics-listen",
                                      "127.0.0.1:" + std::to_string(metricsPort)});
    auto scrape = [&](const std::string &series) {
        const auto reply = httpGet(metricsPort, "/metrics");
        return reply && reply->status == 200 ? metricValue(reply->body, series) : -1.0;
    };
    auto calls = [&] {
        return scrape("ostrel_write_calls_total{result=\"whole\"}") +
               scrape("ostrel_write_calls_total{result=\"partial\"}") +
               scrape("ostrel_write_calls_total{result=\"refused\"}");
    };
    WireClient reader(server.port());
    reader.send("LOGINNEW|reader|0121|" + newRecord("reader", "pw"));
    ASSERT_TRUE(reader.waitFor("JOINSUBJECT|"));
    auto ann = createAccount(server.port(), "ann");
    ann.send("ADDASSISTED|ann - Plumbrix");
    reader.send("SEND|JOIN|ann|+");
    ASSERT_TRUE(ann.waitFor("SEND|reader|JOIN|+"));
    ann.send("SEND|IPTJ|reader|ASSISTED");
    ASSERT_TRUE(reader.waitFor("SEND|ann|IPTJ|ASSISTED"));
    const double roomBefore = scrape("ostrel_output_buffer_bytes");

    // 8 MB of game stream in lines of 8 KB while the reader waits, within the relay
    // allowance (the server slows it to 2 MiB/s): about twice what the system's buffers
    // take for a connection.
    constexpr int kLines = 1000;
    const std::string piece(8000, 'g');
    std::string stream;
    for (int i = 0; i < kLines; ++i)
        stream += scrambled("SEND|DATASEND|reader|" + std::to_string(i) + piece);
    ann.sendRaw(stream);
    ann.send("SEND|GHAT|the end|clBlack");
    ASSERT_TRUE(ann.waitFor("SEND|ann|GHAT|the end", std::chrono::seconds(20)));
    const double queued = scrape("ostrel_output_queued_bytes");
    ASSERT_GT(queued, 1024 * 1024) << "the system took the stream";
    const double callsBefore = calls();
    const double refusedBefore = scrape("ostrel_write_calls_total{result=\"refused\"}");

    const auto lines = linesBefore(reader, "SEND|ann|GHAT|the end");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("DATASEND|ann|", 0) == 0; }),
              kLines);
    const double refused = scrape("ostrel_write_calls_total{result=\"refused\"}") - refusedBefore;
    const double used = calls() - callsBefore;
    const double queuedLines = queued / piece.size();
    // What waited left in calls of many lines each as the reader drained the socket, and
    // none was refused for want of room...
    EXPECT_LT(used, queuedLines / 10) << refused << " refused";
    EXPECT_LE(refused, used / 10);
    // ...and once all is written, the room its queue took is handed back.
    EXPECT_LE(scrape("ostrel_output_buffer_bytes"), roomBefore + 1024);
}
