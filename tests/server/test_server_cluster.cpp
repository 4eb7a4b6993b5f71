// Two server nodes of one lobby on this machine: a redis-server and a PostgreSQL cluster
// of the test's own, real server processes, wire clients on both nodes.
#include "postgrescluster.h"
#include "redisserver.h"
#include "serverprocess.h"
#include "sqliteaccountstore.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

class ClusterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_redis.usable())
            GTEST_SKIP() << "no Redis server: " << m_redis.why();
        if (!PostgresCluster::shared().usable())
            GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
        m_accounts = PostgresCluster::shared().freshDatabase();
        m_a = startNode(m_dirA);
        m_b = startNode(m_dirB);
        for (const char *name : {"alice", "bob", "carol", "mod"})
            createAccount(m_a->port(), name).close();
        AccountStore::open(m_accounts)->setAccountClass("mod", "T");
    }

    // A ping interval of 0.6 s makes heartbeats of 200 ms: a node silent for 800 ms is
    // taken for gone.
    std::unique_ptr<ServerProcess> startNode(TempDir &dir, const std::string &ping = "0.6")
    {
        auto node = std::make_unique<ServerProcess>(
            dir.path(), std::vector<std::string>{"--cluster", m_redis.address(), "--accounts",
                                                 m_accounts, "--ping-interval", ping});
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (node->log().find("cluster link up") == std::string::npos &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(20ms);
        EXPECT_NE(node->log().find("cluster link up"), std::string::npos) << node->log();
        return node;
    }

    // Logs in and waits until the lobby's list, as the login shows it, holds everyone in
    // `expected` (the other node's players arrive through Redis).
    WireClient logInSeeing(int port, const std::string &name,
                           const std::vector<std::string> &expected)
    {
        const auto until = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            WireClient client(port);
            client.send("LOGIN|" + name + "|0121|pw");
            auto list = client.waitFor("JOINSUBJECT|");
            EXPECT_TRUE(list) << name << " could not log in";
            bool all = list.has_value();
            for (const auto &other : expected)
                all = all && list->find("|" + other + "+") != std::string::npos;
            if (all || std::chrono::steady_clock::now() > until) {
                EXPECT_TRUE(all) << *list;
                return client;
            }
            client.close();
            std::this_thread::sleep_for(50ms);
        }
    }

    RedisServer m_redis;
    std::string m_accounts;
    TempDir m_dirA;
    TempDir m_dirB;
    std::unique_ptr<ServerProcess> m_a;
    std::unique_ptr<ServerProcess> m_b;
};

TEST_F(ClusterTest, PresenceAndChatCrossNodesInOrder)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));

    alice.send("JOINSUBJECT|Plumbrix");
    ASSERT_TRUE(alice.waitFor("JOINSUBJECT|Plumbrix"));
    ASSERT_TRUE(bob.waitFor("ADDGUEST|alice+2+Plumbrix+"));
    bob.send("JOINSUBJECT|Plumbrix");
    const auto members = bob.waitFor("JOINSUBJECT|Plumbrix");
    ASSERT_TRUE(members);
    EXPECT_NE(members->find("|alice+"), std::string::npos) << *members;
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+2+Plumbrix+"));

    // Room chat, lobby-wide chat and private messages from one sender keep their order
    // (within the flood allowance of one burst).
    for (int i = 0; i < 60; ++i) {
        bob.send("SEND|CHAT|room " + std::to_string(i));
        if (i % 10 == 0)
            bob.send("SEND|GHAT|all " + std::to_string(i));
        if (i % 25 == 0)
            bob.send("SEND|PMES|alice|1:00 PM+pm " + std::to_string(i));
    }
    bob.send("SEND|GHAT|marker");
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        expected.push_back("SEND|bob|CHAT|room " + std::to_string(i));
        if (i % 10 == 0)
            expected.push_back("SEND|bob|GHAT|all " + std::to_string(i));
        if (i % 25 == 0)
            expected.push_back("SEND|bob|PMES|1:00 PM+pm " + std::to_string(i));
    }
    std::vector<std::string> got;
    ASSERT_TRUE(alice.waitFor("SEND|bob|GHAT|marker", 10s, &got));
    std::erase_if(got, [](const std::string &line) { return line.rfind("SEND|bob|", 0) != 0; });
    EXPECT_EQ(got, expected);

    // A departure at one node reaches the other.
    bob.send("JOINSUBJECT|Lobby Chat");
    ASSERT_TRUE(alice.waitFor("REMOVEGUEST|bob"));
    bob.close();
    ASSERT_TRUE(alice.waitFor("GREMOVEGUEST|bob"));
}

TEST_F(ClusterTest, ASecondLoginAtTheOtherNodeEndsTheFirst)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient first = logInSeeing(m_b->port(), "bob", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));
    WireClient second = logInSeeing(m_a->port(), "bob", {"alice"});
    std::vector<std::string> lines;
    EXPECT_TRUE(first.waitClosed(5s, &lines));
    bool told = false;
    for (const auto &line : lines)
        told = told || line.find("logged in elsewhere") != std::string::npos;
    EXPECT_TRUE(told);
    // alice sees bob leave, then arrive again, in that order.
    std::vector<std::string> before;
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+", 5s, &before));
    bool left = false;
    for (const auto &line : before)
        left = left || line == "GREMOVEGUEST|bob";
    EXPECT_TRUE(left);
    second.send("SEND|PMES|alice|1:00 PM+still here");
    EXPECT_TRUE(alice.waitFor("SEND|bob|PMES|1:00 PM+still here"));
}

// What bystanders at both nodes last hear of a player, up to a chat line that went
// through Redis after everything the second login published.
std::string lastPresenceOf(WireClient &client, const std::string &name, const std::string &marker)
{
    std::string last;
    for (const auto &line : linesBefore(client, marker))
        if (line == "GREMOVEGUEST|" + name || line.rfind("ADDGUEST|" + name + "+", 0) == 0)
            last = line;
    return last;
}

TEST_F(ClusterTest, ASecondLoginAtTheOtherNodeLeavesThePlayerListedForBystanders)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient carol = logInSeeing(m_b->port(), "carol", {"alice"});
    WireClient first = logInSeeing(m_b->port(), "bob", {"alice", "carol"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));
    ASSERT_TRUE(carol.waitFor("ADDGUEST|bob+"));
    WireClient second = logInSeeing(m_a->port(), "bob", {"alice", "carol"});
    EXPECT_TRUE(first.waitClosed(5s));
    // carol sees bob arrive from node A: A published its departure notice before that.
    ASSERT_TRUE(carol.waitFor("ADDGUEST|bob+"));
    carol.send("SEND|GHAT|after|clBlack");
    EXPECT_EQ(lastPresenceOf(alice, "bob", "SEND|carol|GHAT|after").rfind("ADDGUEST|bob+", 0), 0u);
    // carol read up to bob's arrival from A: nothing may take him away after it.
    EXPECT_EQ(lastPresenceOf(carol, "bob", "SEND|carol|GHAT|after").rfind("GREMOVEGUEST", 0),
              std::string::npos);
}

TEST_F(ClusterTest, ModerationReachesAPlayerAtTheOtherNode)
{
    WireClient mod = logInSeeing(m_a->port(), "mod", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"mod"});
    ASSERT_TRUE(mod.waitFor("ADDGUEST|bob+"));
    mod.send("HADMIN|7KAZ|mod|SILENCE|bob|5|");
    ASSERT_TRUE(bob.waitFor("ERROR|A moderator has silenced you for 5 minutes."));
    bob.send("SEND|GHAT|can you hear me");
    EXPECT_TRUE(bob.waitFor("ERROR|You are silenced for 5 more minutes."));
    mod.send("HADMIN|7KAZ|mod|BOOT|bob|");
    EXPECT_TRUE(bob.waitClosed(5s));
    EXPECT_TRUE(mod.waitFor("GREMOVEGUEST|bob"));
}

// A relayed game whose host and player are at different nodes: the join handshake, the
// relayed bytes both ways, a private game, and its end.
TEST_F(ClusterTest, AGameAcrossNodes)
{
    WireClient bob = logInSeeing(m_a->port(), "bob", {});
    WireClient ann = logInSeeing(m_b->port(), "alice", {"bob"});
    ASSERT_TRUE(bob.waitFor("ADDGUEST|alice+"));
    bob.send("JOINSUBJECT|Plumbrix");
    ASSERT_TRUE(ann.waitFor("ADDGUEST|bob+2+Plumbrix+"));

    // Not hosting yet: the join is refused by the host's node.
    ann.send("SEND|JOIN|bob|+");
    EXPECT_TRUE(ann.waitFor("ERROR|bob is not hosting a game, you cannot join them."));

    bob.send("ADDASSISTED|bob - Plumbrix");
    ASSERT_TRUE(ann.waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix"));
    ann.send("SEND|JOIN|bob|let me in");
    ASSERT_TRUE(bob.waitFor("SEND|alice|JOIN|let me in"));
    bob.send("SEND|IPTJ|alice|10.0.0.5");
    ASSERT_TRUE(ann.waitFor("SEND|bob|IPTJ|ASSISTED"));
    ASSERT_TRUE(bob.waitFor("ADDGUEST|alice+2+Lobby Chat+bob - Plumbrix"));

    for (int i = 0; i < 20; ++i) {
        ann.send("SEND|DATASEND|bob|up " + std::to_string(i));
        bob.send("SEND|DATASEND|alice|down " + std::to_string(i));
    }
    EXPECT_TRUE(bob.waitFor("DATASEND|alice|up 19"));
    EXPECT_TRUE(ann.waitFor("DATASEND|bob|down 19"));
    // carol is in no game with bob: her bytes go nowhere.
    WireClient carol = logInSeeing(m_b->port(), "carol", {"bob"});
    carol.send("SEND|DATASEND|bob|sneaky");
    carol.send("SEND|GHAT|marker");
    std::vector<std::string> seen;
    ASSERT_TRUE(bob.waitFor("SEND|carol|GHAT|marker", 5s, &seen));
    for (const auto &line : seen)
        EXPECT_EQ(line.find("sneaky"), std::string::npos) << line;

    bob.send("PRIVATE|bob");
    EXPECT_TRUE(ann.waitFor("ADDGUEST|alice+2+Lobby Chat+P*bob - Plumbrix"));
    bob.send("DELETEGAME|bob");
    EXPECT_TRUE(ann.waitFor("DELETEGAME|bob - Plumbrix"));
    EXPECT_TRUE(ann.waitFor("DATASEND|bob|CLOSE"));
    // Out of the game, the relay is closed to her.
    ann.send("SEND|DATASEND|bob|late");
    ann.send("SEND|GHAT|marker2");
    seen.clear();
    ASSERT_TRUE(bob.waitFor("SEND|alice|GHAT|marker2", 5s, &seen));
    for (const auto &line : seen)
        EXPECT_EQ(line.find("late"), std::string::npos) << line;
}

// What a node lists for another node's players, in the lobby's list and a room's, is the
// entry that node announced last.
TEST_F(ClusterTest, ListsAtEitherNodeHoldTheEntriesAsAnnounced)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice"});
    alice.send("JOINSUBJECT|Plumbrix");
    alice.send("ADDGAME|alice - Plumbrix");
    ASSERT_TRUE(bob.waitFor("ADDGUEST|alice+2+Plumbrix+alice - Plumbrix"));

    WireClient carol(m_b->port());
    carol.send("LOGIN|carol|0121|pw");
    const auto lobby = carol.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(lobby);
    EXPECT_EQ(listedEntries(*lobby),
              (std::vector<std::string>{"alice+2+Plumbrix+alice - Plumbrix", "bob+2+Lobby Chat+",
                                        "carol+2+Lobby Chat+"}));
    carol.send("JOINSUBJECT|Plumbrix");
    const auto room = carol.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(room);
    EXPECT_EQ(listedEntries(*room),
              (std::vector<std::string>{"alice+2+Plumbrix+alice - Plumbrix", "carol+2+Plumbrix+"}));

    ASSERT_TRUE(alice.waitFor("ADDGUEST|carol+2+Plumbrix+"));
    WireClient mod(m_a->port());
    mod.send("LOGIN|mod|0121|pw");
    const auto there = mod.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(there);
    EXPECT_EQ(listedEntries(*there),
              (std::vector<std::string>{"alice+2+Plumbrix+alice - Plumbrix", "bob+2+Lobby Chat+",
                                        "carol+2+Plumbrix+", "mod+2+Lobby Chat+"}));
}

TEST_F(ClusterTest, WhenTheHostsNodeDiesTheGameEndsForItsPlayers)
{
    WireClient bob = logInSeeing(m_b->port(), "bob", {});
    WireClient ann = logInSeeing(m_a->port(), "alice", {"bob"});
    bob.send("ADDASSISTED|bob - Plumbrix");
    ASSERT_TRUE(ann.waitFor("ADDGUEST|bob+2+Lobby Chat+bob - Plumbrix"));
    ann.send("SEND|JOIN|bob|+");
    ASSERT_TRUE(bob.waitFor("SEND|alice|JOIN|+"));
    bob.send("SEND|IPTJ|alice|x");
    ASSERT_TRUE(ann.waitFor("SEND|bob|IPTJ|ASSISTED"));
    m_b->signal(SIGKILL);
    EXPECT_TRUE(ann.waitFor("DELETEGAME|bob - Plumbrix"));
    EXPECT_TRUE(ann.waitFor("DATASEND|bob|CLOSE"));
    EXPECT_TRUE(ann.waitFor("GREMOVEGUEST|bob"));
}

// A restart or a stop of one node is that node's news: its players leave the others'
// lists at once, and the notice that the server is going down reaches only its own.
TEST_F(ClusterTest, ARestartOrStopOfOneNodeTellsOnlyItsPlayersAndLeavesNoGhosts)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient mod = logInSeeing(m_b->port(), "mod", {"alice"});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice", "mod"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));

    mod.send("HADMIN|7KAZ|mod|REBOOT|");
    EXPECT_TRUE(bob.waitFor("SHOUT|rebootnow"));
    std::vector<std::string> seen;
    ASSERT_TRUE(alice.waitFor("GREMOVEGUEST|bob", 5s, &seen));
    EXPECT_FALSE(contains(seen, "SHOUT|rebootnow"));
    // bob is offline now, and a message for him is kept, not lost.
    alice.send("SEND|PMES|bob|1:00 PM+after the restart");
    const auto told = alice.waitFor("ERROR|", 5s, &seen);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->rfind("ERROR|bob is offline; your message was kept", 0), 0u) << *told;
    EXPECT_FALSE(contains(seen, "SHOUT|rebootnow"));

    // The restarted node is known again; then it stops for good.
    WireClient carol = logInSeeing(m_b->port(), "carol", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|carol+", 5s));
    m_b->signal(SIGTERM);
    EXPECT_TRUE(carol.waitFor("SHOUT|rebootnow"));
    ASSERT_TRUE(alice.waitFor("GREMOVEGUEST|carol", 5s, &seen));
    EXPECT_FALSE(contains(seen, "SHOUT|rebootnow"));
}

// A node that stalls (here: SIGSTOP) long enough to be taken for gone is listed again with
// its players once its heartbeats resume, and private messages reach them again.
TEST_F(ClusterTest, ANodeTakenForGoneIsListedAgainWhenItIsHeardAgain)
{
    // Node B pings its clients every 3 s, so that bob, silent while B is stopped, is not
    // dropped by B itself when it resumes; node A takes B for gone after 800 ms.
    m_b.reset();
    m_b = startNode(m_dirB, "3");
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));

    m_b->signal(SIGSTOP);
    const bool gone = alice.waitFor("GREMOVEGUEST|bob", 5s).has_value();
    m_b->signal(SIGCONT);
    ASSERT_TRUE(gone);
    EXPECT_TRUE(alice.waitFor("ADDGUEST|bob+", 5s));
    alice.send("SEND|PMES|bob|1:00 PM+are you there");
    EXPECT_TRUE(bob.waitFor("SEND|alice|PMES|1:00 PM+are you there"));
    WireClient carol = logInSeeing(m_a->port(), "carol", {"alice", "bob"});
}

// Redis restarts while node B has lines and a private message to publish, and node A
// subscribes again later than B is back (here: A is stopped meanwhile). B's publications
// wait until A hears again, and arrive whole and in order.
TEST_F(ClusterTest, PublicationsAfterARedisRestartWaitForTheOtherNodes)
{
    // Pings every 3 s: the clients, silent while their node or Redis is away, stay.
    m_a.reset();
    m_b.reset();
    m_a = startNode(m_dirA, "3");
    m_b = startNode(m_dirB, "3");
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));

    ASSERT_TRUE(m_redis.kill(false));
    std::vector<std::string> expected;
    for (int i = 0; i < 30; ++i) {
        bob.send("SEND|GHAT|line " + std::to_string(i) + "|clBlack");
        expected.push_back("SEND|bob|GHAT|line " + std::to_string(i) + "|clBlack");
    }
    bob.send("SEND|PMES|alice|1:00 PM+during the outage");
    expected.push_back("SEND|bob|PMES|1:00 PM+during the outage");
    bob.send("SEND|GHAT|last|clBlack");
    ASSERT_TRUE(bob.waitFor("SEND|bob|GHAT|last"));
    m_a->signal(SIGSTOP);
    const auto logged = m_b->log().size();
    ASSERT_TRUE(m_redis.kill(true)) << m_redis.why();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (m_b->log().find("cluster link up", logged) == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    m_a->signal(SIGCONT);
    ASSERT_NE(m_b->log().find("cluster link up", logged), std::string::npos) << m_b->log();

    std::vector<std::string> got;
    for (const auto &line : linesBefore(alice, "SEND|bob|GHAT|last"))
        if (line.rfind("SEND|bob|", 0) == 0)
            got.push_back(line);
    EXPECT_EQ(got, expected);
}

TEST_F(ClusterTest, ANodeThatDiesIsNoticedAndItsPlayersAreGone)
{
    WireClient alice = logInSeeing(m_a->port(), "alice", {});
    WireClient bob = logInSeeing(m_b->port(), "bob", {"alice"});
    ASSERT_TRUE(alice.waitFor("ADDGUEST|bob+"));
    m_b->signal(SIGKILL);
    // Four heartbeats of 200 ms, with room to spare.
    EXPECT_TRUE(alice.waitFor("GREMOVEGUEST|bob", 5s));
    EXPECT_TRUE(bob.waitClosed(2s));
    // bob comes back through the node that is left.
    WireClient again = logInSeeing(m_a->port(), "bob", {"alice"});
    EXPECT_TRUE(alice.waitFor("ADDGUEST|bob+"));
}

} // namespace
