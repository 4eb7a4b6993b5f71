#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// A refused connection hears why, in plain text; inside TLS it is closed before the
// handshake, with nothing said, since a plain line would be noise to a TLS client.
std::string refusal(const std::string &reason)
{
    return testOverTls() ? std::string("(nothing)") : reason;
}

// The reasons (last lines) of the connections among clients that the server closed.
// Refused connections are the newest, so they are waited for first; the wait is spent
// on the first of them, the others have had their time by then.
std::vector<std::string> closedWith(std::vector<WireClient> &clients, WireClient::Ms wait)
{
    std::vector<std::string> reasons;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        std::vector<std::string> lines;
        const auto timeout = it == clients.rbegin() ? wait : WireClient::Ms(20);
        if (it->waitClosed(timeout, &lines))
            reasons.push_back(lines.empty() ? std::string("(nothing)") : lines.back());
    }
    return reasons;
}

TEST(Connections, AnAddressHoldsOnlyAFewConnectionsThatHaveNotLoggedIn)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--max-new-per-address", "4"});
    std::vector<WireClient> idle;
    for (int i = 0; i < 6; ++i)
        idle.emplace_back(server.port());
    const auto reasons = closedWith(idle, WireClient::Ms(2000));
    ASSERT_EQ(reasons.size(), 2u);
    for (const auto &reason : reasons)
        EXPECT_EQ(reason, refusal("ERROR|Too many connections from your address."));
    // Another address gets in, and so does the crowded one once one of its connections
    // has logged in.
    createAccount(server.port(), "ann", "pw", "2", "127.0.0.2");
    idle.front().send("LOGINNEW|bob|0121|" + newRecord("bob", "pw"));
    ASSERT_TRUE(idle.front().waitFor("JOINSUBJECT|"));
    createAccount(server.port(), "cat");
}

TEST(Connections, AnAddressHoldsABoundedNumberOfConnections)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--max-per-address", "3", "--exempt", "127.0.0.3"});
    std::vector<WireClient> players;
    for (int i = 0; i < 3; ++i)
        players.push_back(createAccount(server.port(), "p" + std::to_string(i)));
    std::vector<WireClient> more;
    more.emplace_back(server.port());
    const auto reasons = closedWith(more, WireClient::Ms(2000));
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons.front(), refusal("ERROR|Too many connections from your address."));
    createAccount(server.port(), "other", "pw", "2", "127.0.0.2");
    // An exempt address is not counted.
    std::vector<WireClient> gateway;
    for (int i = 0; i < 5; ++i)
        gateway.push_back(
            createAccount(server.port(), "g" + std::to_string(i), "pw", "2", "127.0.0.3"));
}

TEST(Connections, AConnectionThatDoesNotLogInIsClosedAfterTheLoginTime)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--login-time", "0.5"});
    WireClient idle(server.port());
    auto player = createAccount(server.port(), "bob");
    std::vector<std::string> last;
    EXPECT_TRUE(idle.waitClosed(WireClient::Ms(3000), &last));
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back(), "ERROR|No login arrived in time.");
    // A logged-in player is not held to it.
    player.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(player.waitFor("SEND|bob|GHAT|still here"));
}

TEST(Connections, BeyondTheDescriptorsAtHandNewConnectionsAreClosedAtOnce)
{
    TempDir dir;
    ServerProcess server(dir.path(), ServerProcess::Setup{.descriptorLimit = 128});
    std::vector<WireClient> crowd;
    // Spread over addresses, so that no per-address limit is what refuses them.
    for (int i = 0; i < 120; ++i)
        crowd.emplace_back(server.port(), ("127.0.1." + std::to_string(1 + i / 8)).c_str());
    const auto reasons = closedWith(crowd, WireClient::Ms(2000));
    ASSERT_FALSE(reasons.empty());
    for (const auto &reason : reasons)
        EXPECT_EQ(reason, refusal("ERROR|The server is full. Please try again later."));
    // Once the crowd is gone, there is room again. The server notices the departures as
    // it reads them, so a newcomer may still be turned away for a moment.
    crowd.clear();
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (reply.rfind("LOGIN|SUCCESS|", 0) != 0 && std::chrono::steady_clock::now() < deadline) {
        WireClient newcomer(server.port());
        newcomer.send("LOGINNEW|bob|0121|" + newRecord("bob", "pw"));
        reply = newcomer.waitFor("LOGIN|").value_or("");
    }
    EXPECT_EQ(reply.rfind("LOGIN|SUCCESS|", 0), 0u) << reply;
}

} // namespace
