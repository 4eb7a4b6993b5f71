// The admin console of one node acting on a lobby of two nodes: a redis-server and a
// PostgreSQL cluster of the test's own, two real server processes, wire clients on both.
#include "httpclient.h"
#include "loopbackport.h"
#include "postgrescluster.h"
#include "redisserver.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class AdminClusterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_redis.usable())
            GTEST_SKIP() << "no Redis server: " << m_redis.why();
        if (!PostgresCluster::shared().usable())
            GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
        m_accounts = PostgresCluster::shared().freshDatabase();
        std::ofstream(m_dirA.path() + "/news.txt") << "news of A\n";
        std::ofstream(m_dirB.path() + "/news.txt") << "news of B\n";
        m_a = startNode(m_dirA, m_metricsA);
        m_b = startNode(m_dirB, m_metricsB);
        for (const char *name : {"alice", "bob", "carol"})
            createAccount(m_a->port(), name).close();
    }

    std::unique_ptr<ServerProcess> startNode(TempDir &dir, int metricsPort)
    {
        auto node = std::make_unique<ServerProcess>(
            dir.path(), std::vector<std::string>{"--cluster", m_redis.address(), "--accounts",
                                                 m_accounts, "--ping-interval", "0.6", "--news",
                                                 dir.path() + "/news.txt", "--metrics-listen",
                                                 "127.0.0.1:" + std::to_string(metricsPort)});
        const auto until = Clock::now() + 10s;
        while (node->log().find("cluster link up") == std::string::npos && Clock::now() < until)
            std::this_thread::sleep_for(20ms);
        EXPECT_NE(node->log().find("cluster link up"), std::string::npos) << node->log();
        return node;
    }

    // Logs in at a node and waits until the other node's list shows the player.
    WireClient logInKnownTo(int port, const std::string &name, WireClient &watcher)
    {
        WireClient client = logIn(port, name);
        EXPECT_TRUE(watcher.waitFor("ADDGUEST|" + name + "+")) << name;
        return client;
    }

    std::string adminA(const std::vector<std::string> &words, int expectedStatus = 0)
    {
        std::vector<std::string> arguments = {"admin", "--data", m_dirA.path()};
        arguments.insert(arguments.end(), words.begin(), words.end());
        std::string output;
        EXPECT_EQ(ServerProcess::runToEnd(arguments, output), expectedStatus) << output;
        return output;
    }

    RedisServer m_redis;
    std::string m_accounts;
    TempDir m_dirA;
    TempDir m_dirB;
    int m_metricsA = freeLoopbackPort();
    int m_metricsB = freeLoopbackPort();
    std::unique_ptr<ServerProcess> m_a;
    std::unique_ptr<ServerProcess> m_b;
};

TEST_F(AdminClusterTest, WhoKickSilenceAndShoutReachTheOtherNode)
{
    WireClient alice = logIn(m_a->port(), "alice");
    WireClient bob = logInKnownTo(m_b->port(), "bob", alice);

    const auto who = adminA({"who"});
    EXPECT_NE(who.find("alice\tLobby Chat\t127.0.0.1\t"), std::string::npos) << who;
    // A player of the other node, with that node's id and no address known here.
    EXPECT_NE(who.find("bob\tLobby Chat\t-\t"), std::string::npos) << who;

    adminA({"silence", "bob", "7"});
    EXPECT_EQ(bob.waitFor("ERROR|").value_or(""),
              "ERROR|A moderator has silenced you for 7 minutes.");
    bob.send("SEND|GHAT|hi|clBlack");
    EXPECT_EQ(bob.waitFor("ERROR|").value_or(""), "ERROR|You are silenced for 7 more minutes.");
    adminA({"unsilence", "bob"});
    EXPECT_TRUE(bob.waitFor("ERROR|A moderator has lifted your silence."));

    adminA({"shout", "maintenance at noon"});
    EXPECT_TRUE(alice.waitFor("SHOUT|maintenance at noon"));
    EXPECT_TRUE(bob.waitFor("SHOUT|maintenance at noon"));

    adminA({"kick", "bob"});
    std::vector<std::string> last;
    EXPECT_TRUE(bob.waitClosed(WireClient::kWait, &last));
    EXPECT_TRUE(contains(last, "ERROR|A moderator has removed you from the server."));
    EXPECT_TRUE(alice.waitFor("GREMOVEGUEST|bob"));
    // The node that did it says so, with the user; the other says who asked.
    EXPECT_NE(m_a->log().find("command=\"kick bob\" result=ok"), std::string::npos) << m_a->log();
    EXPECT_NE(m_b->log().find("boots bob from another node"), std::string::npos) << m_b->log();
}

TEST_F(AdminClusterTest, SetClassAndNewsReloadTakeEffectOnBothNodes)
{
    WireClient alice = logIn(m_a->port(), "alice");
    WireClient carol = logInKnownTo(m_b->port(), "carol", alice);
    // carol, at the other node, moderates as soon as the class is set.
    carol.send("HADMIN|7KAZ|carol|SILENCE|alice|2|");
    EXPECT_EQ(carol.waitFor("ERROR|").value_or(""), "ERROR|Only moderators can do that.");
    adminA({"accounts", "set-class", "carol", "T"});
    carol.send("HADMIN|7KAZ|carol|SILENCE|alice|2|");
    EXPECT_TRUE(alice.waitFor("ERROR|A moderator has silenced you for 2 minutes."));

    std::ofstream(m_dirA.path() + "/news.txt") << "fresh news of A\n";
    std::ofstream(m_dirB.path() + "/news.txt") << "fresh news of B\n";
    adminA({"news", "reload"});
    const auto atB = carol.waitFor("NEWS|");
    ASSERT_TRUE(atB);
    EXPECT_NE(atB->find("fresh news of A"), std::string::npos) << *atB;
    // The other node reread its own file for the logins still to come.
    const auto until = Clock::now() + 5s;
    std::string seen;
    while (Clock::now() < until) {
        WireClient bob(m_b->port());
        bob.send("LOGIN|bob|0121|pw");
        seen = bob.waitFor("NEWS|").value_or("");
        if (seen.find("fresh news of B") != std::string::npos)
            break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(seen.find("fresh news of B"), std::string::npos) << seen;
}

TEST_F(AdminClusterTest, DrainStopsEveryNodeOnceItsPlayersHaveLeft)
{
    WireClient alice = logIn(m_a->port(), "alice");
    WireClient bob = logInKnownTo(m_b->port(), "bob", alice);
    const auto metricsB = httpGet(m_metricsB, "/metrics");
    ASSERT_TRUE(metricsB);
    EXPECT_NE(metricsB->body.find("\nostrel_cluster_link_up 1\n"), std::string::npos)
        << metricsB->body;
    EXPECT_EQ(httpGet(m_metricsB, "/readyz").value_or(HttpReply{}).status, 200);

    adminA({"drain", "5"});
    EXPECT_TRUE(alice.waitFor("SHOUT|This server is closing for maintenance"));
    EXPECT_TRUE(bob.waitFor("SHOUT|This server is closing for maintenance"));
    WireClient late(m_b->port());
    late.send("LOGIN|carol|0121|pw");
    EXPECT_EQ(late.waitFor("LOGIN|").value_or(""),
              "LOGIN|FAILED|This server is closing for maintenance. Please try again later.");
    EXPECT_EQ(httpGet(m_metricsB, "/readyz").value_or(HttpReply{}).status, 503);

    bob.close();
    const auto until = Clock::now() + 5s;
    while (m_b->running() && Clock::now() < until)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(m_b->running()) << m_b->log();
    // The node whose player stays keeps serving until that player leaves.
    EXPECT_TRUE(m_a->running());
    alice.close();
    const auto later = Clock::now() + 5s;
    while (m_a->running() && Clock::now() < later)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(m_a->running()) << m_a->log();
}

} // namespace
