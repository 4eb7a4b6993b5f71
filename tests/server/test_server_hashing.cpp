#include "serverprocess.h"
#include "torvexuser.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Every password hash is slowed down, so that a queue of them lasts long enough to see
// who waits behind whom.
ServerProcess::Setup slowHashing()
{
    return ServerProcess::Setup{.environment = {{"OSTREL_SERVER_TEST_HASH_DELAY_MS", "100"}}};
}

TEST(PasswordHashing, OneClientCannotMonopoliseTheHashing)
{
    TempDir dir;
    ServerProcess server(dir.path(), slowHashing());
    auto mal = createAccount(server.port(), "mal");
    auto eve = createAccount(server.port(), "eve");
    mal.send("USERINFO|mal|");
    auto own = mal.waitFor("USERINFO|");
    ASSERT_TRUE(own);
    ostrel::TOrvexUser record;
    record.LoadFromString(own->substr(9));

    // A password change per line, and new accounts from connections that hang up at once.
    for (int i = 0; i < 90; ++i) {
        record.Password = "p" + std::to_string(i);
        mal.send("USERUPDATE|mal|" + record.SaveToString() + "|");
    }
    for (int i = 0; i < 12; ++i) {
        WireClient gone(server.port());
        gone.send("LOGINNEW|gone" + std::to_string(i) + "|0121|" +
                  newRecord("gone" + std::to_string(i), "pw"));
    }

    // Someone else logs in as if nothing were queued.
    const auto before = Clock::now();
    WireClient bystander(server.port(), "127.0.0.2");
    bystander.send("LOGINNEW|by|0121|" + newRecord("by", "pw"));
    const auto reply = bystander.waitFor("LOGIN|", std::chrono::seconds(10));
    EXPECT_EQ(reply.value_or("(nothing)").rfind("LOGIN|SUCCESS|", 0), 0u) << reply.value_or("");
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));

    // The attacker's extra changes were refused rather than queued.
    mal.send("SEND|GHAT|marker|clBlack");
    const auto lines = linesBefore(mal, "SEND|mal|GHAT|marker");
    int refused = 0;
    for (const auto &line : lines)
        refused += line.rfind("ERROR|Your previous password change", 0) == 0;
    EXPECT_GE(refused, 80);

    // Stopping does not work off a queue first.
    record.UserName = "eve";
    for (int i = 0; i < 60; ++i) {
        record.Password = "q" + std::to_string(i);
        eve.send("USERUPDATE|eve|" + record.SaveToString() + "|");
    }
    eve.send("SEND|GHAT|queued|clBlack");
    ASSERT_TRUE(eve.waitFor("SEND|eve|GHAT|queued"));
    // Clients that hang up leave the server nothing to wait for but its own work.
    for (auto *client : {&mal, &eve, &bystander})
        client->close();
    const auto stopping = Clock::now();
    EXPECT_EQ(server.terminate(), 0);
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(2));
}

TEST(PasswordHashing, AnAddressHasABudgetOfQueuedHashes)
{
    TempDir dir;
    ServerProcess server(dir.path(), slowHashing());
    std::vector<WireClient> creators;
    for (int i = 0; i < 8; ++i)
        creators.emplace_back(server.port());
    for (int i = 0; i < 8; ++i)
        creators[i].send("LOGINNEW|new" + std::to_string(i) + "|0121|" +
                         newRecord("new" + std::to_string(i), "pw"));
    int busy = 0;
    for (auto &creator : creators) {
        const auto reply = creator.waitFor("LOGIN|").value_or("(nothing)");
        if (reply.find("busy") != std::string::npos)
            ++busy;
        else
            EXPECT_EQ(reply.rfind("LOGIN|SUCCESS|", 0), 0u) << reply;
    }
    EXPECT_GE(busy, 1);
}

} // namespace
