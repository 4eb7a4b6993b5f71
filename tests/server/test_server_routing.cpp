#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

namespace {

const std::string kMarker = "SEND|bob|GHAT|marker|clBlack";

// bob and cat are in the Plumbrix room, ann stays in the lobby.
class RoutingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_bob = std::make_unique<WireClient>(createAccount(m_server.port(), "bob"));
        m_ann = std::make_unique<WireClient>(createAccount(m_server.port(), "ann"));
        m_cat = std::make_unique<WireClient>(createAccount(m_server.port(), "cat"));
        for (auto *c : {m_bob.get(), m_cat.get()}) {
            c->send("JOINSUBJECT|Plumbrix");
            ASSERT_TRUE(c->waitFor("JOINSUBJECT|Plumbrix"));
        }
        ASSERT_TRUE(m_ann->waitFor("ADDGUEST|cat+2+Plumbrix+"));
        ASSERT_TRUE(m_bob->waitFor("ADDGUEST|cat+2+Plumbrix+"));
    }

    // bob's GHAT, which everyone receives after whatever bob sent before it.
    void sendMarker() { m_bob->send("SEND|GHAT|marker|clBlack"); }

    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
    std::unique_ptr<WireClient> m_bob, m_ann, m_cat;
};

TEST_F(RoutingTest, ChatReachesTheOtherRoomMembersAndGhatEveryoneIncludingTheSender)
{
    m_bob->send("SEND|CHAT|hi room|$00FF0000");
    sendMarker();
    EXPECT_TRUE(contains(linesBefore(*m_cat, kMarker), "SEND|bob|CHAT|hi room|$00FF0000"));
    EXPECT_FALSE(contains(linesBefore(*m_bob, kMarker), "SEND|bob|CHAT|hi room|$00FF0000"));
    EXPECT_FALSE(contains(linesBefore(*m_ann, kMarker), "SEND|bob|CHAT|hi room|$00FF0000"));

    m_ann->send("SEND|GHAT|/me waves|clNavy");
    for (auto *c : {m_bob.get(), m_ann.get(), m_cat.get()})
        EXPECT_TRUE(c->waitFor("SEND|ann|GHAT|/me waves|clNavy"));
}

TEST_F(RoutingTest, PrivateMessagesAndInvitationsGoToTheNamedPlayerOnly)
{
    m_bob->send("SEND|PMES|ANN|line one/r/line two");
    sendMarker();
    EXPECT_TRUE(contains(linesBefore(*m_ann, kMarker), "SEND|bob|PMES|line one/r/line two"));
    EXPECT_FALSE(contains(linesBefore(*m_cat, kMarker), "SEND|bob|PMES|line one/r/line two"));

    m_bob->send("INVITE|ann|Plumbrix");
    EXPECT_TRUE(m_ann->waitFor("SEND|bob|INVITE|Plumbrix"));

    struct Case
    {
        std::string line;
        std::string error;
    };
    const Case undeliverable[] = {
        {"SEND|PMES|ghost|hello", "ERROR|ghost is not online; your message was not delivered."},
        {"INVITE|ghost|Plumbrix", "ERROR|ghost is not online; your invitation was not delivered."},
        {"SEND|NOPE|x|y", "ERROR|Unknown message type \"NOPE\"."},
    };
    for (const auto &c : undeliverable) {
        m_bob->send(c.line);
        EXPECT_EQ(m_bob->waitFor("ERROR|").value_or(""), c.error) << c.line;
    }
}

TEST_F(RoutingTest, RelayedTextHasItsControlCharactersReplacedBySpaces)
{
    // A plain line feed travels as the byte that unscrambles to a line break at the
    // receiver; NUL and CR would confuse its text handling.
    const std::string dirty = std::string("a\0b\rc\nd\x7f", 8) + "e\tf";
    const std::string clean = "a b c d e f";
    m_bob->send("SEND|CHAT|" + dirty + "|clBlack");
    m_bob->send("SEND|GHAT|" + dirty + "|clBlack");
    m_bob->send("SEND|PMES|ann|" + dirty);
    m_bob->send("INVITE|ann|" + dirty);
    sendMarker();
    const auto catLines = linesBefore(*m_cat, kMarker);
    EXPECT_TRUE(contains(catLines, "SEND|bob|CHAT|" + clean + "|clBlack"));
    EXPECT_TRUE(contains(catLines, "SEND|bob|GHAT|" + clean + "|clBlack"));
    const auto annLines = linesBefore(*m_ann, kMarker);
    EXPECT_TRUE(contains(annLines, "SEND|bob|PMES|" + clean));
    EXPECT_TRUE(contains(annLines, "SEND|bob|INVITE|" + clean));
    // Text beyond the ASCII controls is passed on as it came.
    m_bob->send("SEND|GHAT|gr\xc3\xbc\xc3\x9f dich|clBlack");
    EXPECT_TRUE(m_cat->waitFor("SEND|bob|GHAT|gr\xc3\xbc\xc3\x9f dich|clBlack"));
}

// Presence news may wait for a later write, but never behind a line sent after it.
TEST_F(RoutingTest, PresenceNewsArrivesBeforeWhatTheMoverSaysNext)
{
    m_cat->send("JOINSUBJECT|Lobby Chat");
    m_cat->send("SEND|GHAT|moved|clBlack");
    EXPECT_TRUE(contains(linesBefore(*m_ann, "SEND|cat|GHAT|moved"), "ADDGUEST|cat+2+Lobby Chat+"));
    const auto bobs = linesBefore(*m_bob, "SEND|cat|GHAT|moved");
    EXPECT_TRUE(contains(bobs, "REMOVEGUEST|cat"));
    EXPECT_TRUE(contains(bobs, "ADDGUEST|cat+2+Lobby Chat+"));
}

TEST_F(RoutingTest, AJoinAnswerCarriesADottedAddressOrTheOneTheServerSees)
{
    m_bob->send("ADDGAME|bob - Plumbrix");
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix"));
    struct Case
    {
        std::string sent;
        std::string delivered;
    };
    // The host's connection comes from 127.0.0.1.
    const Case cases[] = {
        {"10.0.0.5", "10.0.0.5"},
        {"ASSISTED", "ASSISTED"},
        {"255.255.255.255", "255.255.255.255"},
        {"192.168.1.1:22 or anything", "127.0.0.1"},
        {"192.168.1.256", "127.0.0.1"},
        {"10.0.0", "127.0.0.1"},
        {"10.0.0.5.6", "127.0.0.1"},
        {"010.0.0.5", "127.0.0.1"},
        {"10.0.0.5|extra", "10.0.0.5"},
        {"", "127.0.0.1"},
        {"host.example", "127.0.0.1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent);
        m_ann->send("SEND|JOIN|bob|+");
        ASSERT_TRUE(m_bob->waitFor("SEND|ann|JOIN|+"));
        m_bob->send("SEND|IPTJ|ann|" + c.sent);
        EXPECT_EQ(m_ann->waitFor("SEND|bob|IPTJ|").value_or(""), "SEND|bob|IPTJ|" + c.delivered);
    }
}

TEST_F(RoutingTest, JoinAndItsAnswersPassOnlyBetweenJoinerAndHost)
{
    // Nobody hosts yet, and nobody can join a player who is offline or oneself.
    for (const char *host : {"bob", "ghost", "ann"}) {
        m_ann->send(std::string("SEND|JOIN|") + host + "|+");
        auto error = m_ann->waitFor("ERROR|");
        ASSERT_TRUE(error) << host;
        EXPECT_NE(error->find("cannot join them"), std::string::npos) << *error;
    }

    m_bob->send("ADDGAME|bob - Plumbrix");
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix"));

    // An answer nobody asked for is refused.
    m_bob->send("SEND|IPTJ|ann|10.0.0.5");
    EXPECT_EQ(m_bob->waitFor("ERROR|").value_or(""), "ERROR|ann has not asked to join your game.");

    m_ann->send("SEND|JOIN|bob|+");
    EXPECT_TRUE(m_bob->waitFor("SEND|ann|JOIN|+"));
    m_cat->send("SEND|JOIN|bob|+");
    EXPECT_TRUE(m_bob->waitFor("SEND|cat|JOIN|+"));

    m_bob->send("SEND|IPTJ|ann|10.0.0.5");
    EXPECT_TRUE(m_ann->waitFor("SEND|bob|IPTJ|10.0.0.5"));
    // The joiner's entry now names the host's game.
    EXPECT_TRUE(m_cat->waitFor("ADDGUEST|ann+2+Lobby Chat+bob - Plumbrix"));

    m_bob->send("SEND|IGNO|cat|");
    EXPECT_TRUE(m_cat->waitFor("SEND|cat|IGNO|bob"));

    // Each request is answered once.
    m_bob->send("SEND|IPTJ|ann|10.0.0.5");
    EXPECT_EQ(m_bob->waitFor("ERROR|").value_or(""), "ERROR|ann has not asked to join your game.");
}

TEST_F(RoutingTest, AssistedGamesAnswerAssistedAndRelayOnlyBetweenTheirPlayers)
{
    m_bob->send("ADDASSISTED|bob - Plumbrix");
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix"));
    m_ann->send("SEND|JOIN|bob|+");
    ASSERT_TRUE(m_bob->waitFor("SEND|ann|JOIN|+"));
    m_bob->send("SEND|IPTJ|ann|10.0.0.5");
    EXPECT_TRUE(m_ann->waitFor("SEND|bob|IPTJ|ASSISTED"));

    m_ann->send("SEND|DATASEND|bob|OPEN");
    EXPECT_TRUE(m_bob->waitFor("DATASEND|ann|OPEN"));
    m_bob->send("SEND|DATASEND|ann|raw|bytes^with+separators");
    EXPECT_TRUE(m_ann->waitFor("DATASEND|bob|raw|bytes^with+separators"));

    // cat is in no relayed game: its relay lines go nowhere, without an error box.
    m_cat->send("SEND|DATASEND|bob|sneaky");
    m_cat->send("SEND|DATASEND|ann|sneaky");
    m_cat->send("SEND|GHAT|cat marker|clBlack");
    const auto bobLines = linesBefore(*m_bob, "SEND|cat|GHAT|cat marker");
    EXPECT_FALSE(contains(bobLines, "DATASEND|cat|sneaky"));
    const auto catLines = linesBefore(*m_cat, "SEND|cat|GHAT|cat marker");
    for (const auto &line : catLines)
        EXPECT_NE(line.rfind("ERROR|", 0), 0u) << line;
    EXPECT_FALSE(contains(linesBefore(*m_ann, "SEND|cat|GHAT|cat marker"), "DATASEND|cat|sneaky"));

    // The game ends: the joiner's relay is told to close and the joiner is out of it.
    m_bob->send("DELETEGAME|bob");
    std::vector<std::string> annLines;
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|ann+2+Lobby Chat+", WireClient::kWait, &annLines));
    EXPECT_TRUE(contains(annLines, "DATASEND|bob|CLOSE"));
    EXPECT_TRUE(contains(annLines, "DELETEGAME|bob - Plumbrix"));
    m_ann->send("SEND|DATASEND|bob|late bytes");
    m_ann->send("SEND|GHAT|ann marker|clBlack");
    EXPECT_FALSE(
        contains(linesBefore(*m_bob, "SEND|ann|GHAT|ann marker"), "DATASEND|ann|late bytes"));
}

TEST_F(RoutingTest, ADirectGameRelaysNothing)
{
    m_bob->send("ADDGAME|bob - Plumbrix");
    m_ann->send("SEND|JOIN|bob|+");
    ASSERT_TRUE(m_bob->waitFor("SEND|ann|JOIN|+"));
    m_bob->send("SEND|IPTJ|ann|10.0.0.5");
    ASSERT_TRUE(m_ann->waitFor("SEND|bob|IPTJ|10.0.0.5"));
    m_ann->send("SEND|DATASEND|bob|OPEN");
    m_ann->send("SEND|GHAT|ann marker|clBlack");
    EXPECT_FALSE(contains(linesBefore(*m_bob, "SEND|ann|GHAT|ann marker"), "DATASEND|ann|OPEN"));
}

// Data segments that arrived on a client's connection: on loopback with the server's
// Nagle off, one per write the server made to it.
unsigned dataSegmentsIn(const WireClient &client)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(client.fd(), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return 0;
    return info.tcpi_data_segs_in;
}

// Lines from several senders that reach one client in quick succession share writes: the
// client gets at most one write per write window (30 ms by default), plus the one that
// opens the first, instead of one per line.
TEST(WriteWindow, LinesArrivingInQuickSuccessionShareWrites)
{
    TempDir dir;
    ServerProcess server{dir.path()};
    WireClient reader = createAccount(server.port(), "rea");
    std::vector<WireClient> senders;
    for (const char *name : {"sa", "sb", "sc", "sd"})
        senders.push_back(createAccount(server.port(), name));
    ASSERT_TRUE(reader.waitFor("ADDGUEST|sd+"));
    for (auto &s : senders)
        s.send("SEND|GHAT|ready|clBlack");
    for (const char *name : {"sa", "sb", "sc"})
        ASSERT_TRUE(reader.waitFor(std::string("SEND|") + name + "|GHAT|ready"));
    ASSERT_TRUE(reader.waitFor("SEND|sd|GHAT|ready"));

    constexpr int kLines = 96;
    const unsigned before = dataSegmentsIn(reader);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) {
        senders[i % senders.size()].send("SEND|CHAT|line " + std::to_string(i) + "|clBlack");
        // Paced so that each line reaches the server on its own (a burst read in one go
        // shares a write anyway), yet faster than the window.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_TRUE(reader.waitFor("SEND|sd|CHAT|line " + std::to_string(kLines - 1) + "|"));
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const unsigned writes = dataSegmentsIn(reader) - before;
    // One write opens the first window, then at most one per window.
    const double bound = elapsed / 30 + 2;
    EXPECT_LE(writes, bound) << writes << " writes for " << kLines << " lines in " << elapsed
                             << " ms";
}

// With a long window, the rule shows plainly: a line to a client not written to for a
// window leaves at once; what follows within the window waits for its end and leaves in
// one write, in order; a write's worth of bytes leaves without waiting.
TEST(WriteWindow, ALoneLineLeavesAtOnceAndWhatFollowsWaitsForTheWindow)
{
    using namespace std::chrono;
    constexpr auto kWindow = milliseconds(2000);
    TempDir dir;
    ServerProcess server{dir.path(), {"--write-window", std::to_string(kWindow.count())}};
    WireClient reader = createAccount(server.port(), "rea");
    WireClient sender = createAccount(server.port(), "sa");
    ASSERT_TRUE(reader.waitFor("ADDGUEST|sa+"));
    // Nothing reaches the reader for a window.
    std::this_thread::sleep_for(kWindow + milliseconds(100));

    auto start = steady_clock::now();
    sender.send("SEND|CHAT|lone|clBlack");
    ASSERT_TRUE(reader.waitFor("SEND|sa|CHAT|lone|"));
    const auto lone = steady_clock::now();
    EXPECT_LT(lone - start, kWindow / 2) << "a lone line waited for the window";

    // Lines a turn of the server's loop apart each, well within the window.
    constexpr int kPaced = 10;
    const unsigned before = dataSegmentsIn(reader);
    for (int i = 0; i < kPaced; ++i) {
        sender.send("SEND|CHAT|paced " + std::to_string(i) + "|clBlack");
        std::this_thread::sleep_for(milliseconds(20));
    }
    for (int i = 0; i < kPaced; ++i) {
        const auto line = reader.next(kWindow * 2);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->rfind("SEND|sa|CHAT|paced " + std::to_string(i) + "|", 0), 0u) << *line;
    }
    const auto paced = steady_clock::now();
    EXPECT_GE(paced - lone, kWindow * 3 / 4) << "the lines did not wait for the window";
    EXPECT_LE(dataSegmentsIn(reader) - before, 2u) << "the waiting lines left in several writes";

    // Written to moments ago, the reader gets a burst of just over a write's worth
    // (16 KiB): it leaves without waiting for the window.
    const std::string text(4000, 'w');
    start = steady_clock::now();
    for (int i = 0; i < 5; ++i)
        sender.send("SEND|CHAT|" + std::to_string(i) + text + "|clBlack");
    for (int i = 0; i < 5; ++i) {
        const auto line = reader.next(kWindow * 2);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->rfind("SEND|sa|CHAT|" + std::to_string(i) + "www", 0), 0u);
    }
    EXPECT_LT(steady_clock::now() - start, kWindow / 2) << "a write's worth waited";
}

} // namespace
