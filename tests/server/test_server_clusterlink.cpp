// The link between server nodes through a real redis-server of the test's own.
#include "clusterlink.h"
#include "clustermessage.h"
#include "redisserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(ClusterLinkAddress, RedisAddressesAreRead)
{
    struct Case
    {
        const char *url;
        bool valid;
        const char *host;
        unsigned short port;
        const char *password;
    };
    const Case cases[] = {
        {"redis://127.0.0.1:6380", true, "127.0.0.1", 6380, ""},
        {"redis://cache.example", true, "cache.example", 6379, ""},
        {"redis://:s3cret@10.0.0.5:7000/", true, "10.0.0.5", 7000, "s3cret"},
        {"redis://user:pw@host:1", true, "host", 1, "pw"},
        {"redis://[::1]:6390", true, "::1", 6390, ""},
        {"redis://host:0", false, "", 0, ""},
        {"redis://host:99999", false, "", 0, ""},
        {"redis://host:port", false, "", 0, ""},
        {"redis://", false, "", 0, ""},
        {"http://host:6379", false, "", 0, ""},
        {"redis://host/db/extra", false, "", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        const auto address = ClusterLink::parseAddress(c.url);
        ASSERT_EQ(address.has_value(), c.valid);
        if (!address)
            continue;
        EXPECT_EQ(address->host, c.host);
        EXPECT_EQ(address->port, c.port);
        EXPECT_EQ(address->password, c.password);
    }
}

TEST(ClusterMessageText, FieldsOfAnyBytesComeBackAndBrokenMessagesAreRefused)
{
    const ClusterMessage message{
        "L", {"node", "", std::string("a\0b:c|\r\n", 8), std::string(70000, 'x'), "12:ab"}};
    const auto back = ClusterMessage::decode(message.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, message.kind);
    EXPECT_EQ(back->fields, message.fields);
    EXPECT_EQ(back->field(99), "");

    for (const char *broken :
         {"", "0:", "1:L3:ab", "1:L-1:", "1:Lx:a", "1:L99999999999:a", "L", "1:L2", ":L"}) {
        EXPECT_FALSE(ClusterMessage::decode(broken)) << broken;
    }
}

class ClusterLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_redis.usable())
            GTEST_SKIP() << "no Redis server: " << m_redis.why();
    }

    std::unique_ptr<ClusterLink> link()
    {
        auto address = ClusterLink::parseAddress(m_redis.address());
        return std::make_unique<ClusterLink>(m_io, *address);
    }

    // Runs the event loop until the condition holds or the time is up.
    bool runUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            m_io.restart();
            m_io.run_for(10ms);
        }
        return true;
    }

    RedisServer m_redis;
    asio::io_context m_io;
};

TEST_F(ClusterLinkTest, MessagesArriveWholeAndInTheOrderTheyWerePublished)
{
    auto a = link();
    auto b = link();
    std::vector<std::string> received;
    a->onMessage = [&](const std::string &channel, const std::string &payload) {
        EXPECT_EQ(channel, "lobby:all");
        received.push_back(payload);
    };
    a->subscribe("lobby:all");
    b->subscribe("lobby:elsewhere");
    a->start();
    b->start();
    ASSERT_TRUE(runUntil([&] { return a->ready() && b->ready(); }));

    std::vector<std::string> sent;
    for (int i = 0; i < 3000; ++i) {
        std::string payload = std::to_string(i) + "|";
        // Bytes a text protocol would trip over: line ends, NUL, the high half.
        if (i % 7 == 0)
            payload += std::string("\r\n\0\xff$*", 6);
        if (i % 500 == 0)
            payload += std::string(200 * 1024, 'x');
        sent.push_back(payload);
        b->publish("lobby:all", payload);
    }
    ASSERT_TRUE(runUntil([&] { return received.size() >= sent.size(); }));
    EXPECT_EQ(received, sent);
}

TEST_F(ClusterLinkTest, AfterTheRedisServerComesBackTheLinksWorkAgain)
{
    auto a = link();
    auto b = link();
    std::vector<bool> states;
    std::vector<std::string> received;
    a->onLink = [&](bool ready) { states.push_back(ready); };
    a->onMessage = [&](const std::string &, const std::string &payload) {
        received.push_back(payload);
    };
    a->subscribe("one");
    a->subscribe("two");
    a->start();
    b->start();
    ASSERT_TRUE(runUntil([&] { return a->ready() && b->ready(); }));
    b->publish("two", "before");
    ASSERT_TRUE(runUntil([&] { return received.size() == 1; }));

    ASSERT_TRUE(m_redis.kill(true));
    ASSERT_TRUE(runUntil([&] { return !states.empty() && !states.back(); }))
        << "the lost connection was not reported";
    ASSERT_TRUE(runUntil([&] { return a->ready() && b->ready(); }));
    EXPECT_EQ(states, (std::vector<bool>{true, false, true}));
    // Both channels are subscribed again.
    b->publish("one", "after-1");
    b->publish("two", "after-2");
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (std::vector<std::string>{"before", "after-1", "after-2"}));
}

TEST_F(ClusterLinkTest, PublicationsWaitForTheConnectionAndGoOutInOrder)
{
    auto a = link();
    std::vector<std::string> received;
    a->onMessage = [&](const std::string &, const std::string &payload) {
        received.push_back(payload);
    };
    a->subscribe("x");
    a->start();
    ASSERT_TRUE(runUntil([&] { return a->ready(); }));

    // Published before the publisher ever connected: it waits, then goes in order.
    auto b = link();
    for (int i = 0; i < 100; ++i)
        b->publish("x", std::to_string(i));
    b->start();
    ASSERT_TRUE(runUntil([&] { return received.size() == 100; }));
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(received[static_cast<std::size_t>(i)], std::to_string(i));
    EXPECT_EQ(b->dropped(), 0u);
}

// Each publication learns how many subscribers got it. After Redis restarts, a node that
// was heard by another holds its publications for that one to come back, but not for
// ever: one that never does is given up on after kRejoinWait.
TEST_F(ClusterLinkTest, PublicationsLearnTheirReceiversAndDoNotWaitForEverForAGoneNode)
{
    auto a = link();
    auto b = link();
    a->subscribe("all");
    b->subscribe("all");
    b->probe = "probe";
    a->start();
    b->start();
    ASSERT_TRUE(runUntil([&] { return a->ready() && b->ready(); }));
    std::vector<long long> counts;
    const auto count = [&](long long receivers) { counts.push_back(receivers); };
    b->publish("all", "to both", count);
    b->publish("nobody", "to none", count);
    ASSERT_TRUE(runUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<long long>{2, 0}));

    a.reset(); // that node goes for good, and Redis restarts
    ASSERT_TRUE(m_redis.kill(false));
    ASSERT_TRUE(runUntil([&] { return !b->ready(); }));
    counts.clear();
    b->publish("all", "after", count);
    ASSERT_TRUE(m_redis.kill(true));
    const auto held = std::chrono::steady_clock::now();
    ASSERT_TRUE(runUntil([&] { return !counts.empty(); }, ClusterLink::kRejoinWait + 5s));
    EXPECT_EQ(counts, (std::vector<long long>{1}));
    EXPECT_GE(std::chrono::steady_clock::now() - held, ClusterLink::kRejoinWait - 1s);
}

TEST_F(ClusterLinkTest, NoServerMeansNotReadyAndNoCrash)
{
    ClusterLink::Address nowhere;
    nowhere.port = 1; // nothing listens there
    ClusterLink lost(m_io, nowhere);
    lost.subscribe("x");
    lost.publish("x", "y");
    lost.start();
    runUntil([] { return false; }, 500ms);
    EXPECT_FALSE(lost.ready());
    lost.stop();
}

} // namespace
