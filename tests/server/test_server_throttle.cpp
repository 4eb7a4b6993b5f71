#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const std::string kWrong = "LOGIN|FAILED|Unknown user ID or wrong password.";

std::string loginReply(int port, const std::string &name, const std::string &password,
                       const char *source)
{
    WireClient client(port, source);
    client.send("LOGIN|" + name + "|0121|" + password);
    return client.waitFor("LOGIN|").value_or("(nothing)");
}

bool tooMany(const std::string &reply)
{
    return reply.find("Too many failed logins") != std::string::npos;
}

TEST(LoginThrottle, GuessesSentTogetherAreCheckedOneAtATime)
{
    TempDir dir;
    // Slow checks, so that every guess arrives while the first is still being checked.
    ServerProcess server(
        dir.path(),
        ServerProcess::Setup{.environment = {{"OSTREL_SERVER_TEST_HASH_DELAY_MS", "300"}}});
    createAccount(server.port(), "bob", "right").close();
    // From one address and from several: the limit holds per address and per account.
    const char *sources[] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1",
                             "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    std::vector<WireClient> guesses;
    for (const char *source : sources)
        guesses.emplace_back(server.port(), source);
    for (std::size_t i = 0; i < guesses.size(); ++i)
        guesses[i].send("LOGIN|bob|0121|" + std::string(i + 1 == guesses.size() ? "right" : "x") +
                        std::to_string(i));
    int checked = 0;
    for (auto &guess : guesses) {
        const auto reply = guess.waitFor("LOGIN|").value_or("(nothing)");
        EXPECT_EQ(reply.rfind("LOGIN|FAILED|", 0), 0u) << reply;
        if (reply == kWrong)
            ++checked;
    }
    EXPECT_EQ(checked, 1);
}

TEST(LoginThrottle, CountsPerAccountSoThatNeighboursAndOwnersStillGetIn)
{
    TempDir dir;
    ServerProcess server(dir.path());
    createAccount(server.port(), "ann", "annpw").close();
    createAccount(server.port(), "bob", "bobpw").close();

    // Someone behind the same address guesses at ann until the throttle holds them back.
    std::string reply;
    for (int i = 0; i < 6 && !tooMany(reply); ++i)
        reply = loginReply(server.port(), "ann", "guess", "127.0.0.1");
    ASSERT_TRUE(tooMany(reply)) << reply;
    // bob, at the same address, logs in with his password.
    EXPECT_EQ(loginReply(server.port(), "bob", "bobpw", "127.0.0.1").rfind("LOGIN|SUCCESS|", 0),
              0u);

    // An owner's own slips are forgiven by a successful login.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(loginReply(server.port(), "bob", "typo", "127.0.0.1"), kWrong);
        const auto ok = loginReply(server.port(), "bob", "bobpw", "127.0.0.1");
        EXPECT_EQ(ok.rfind("LOGIN|SUCCESS|", 0), 0u) << "round " << round << ": " << ok;
    }

    // Guesses at one account from many addresses run into the account's own limit.
    const char *spread[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    for (const char *source : spread)
        for (int i = 0; i < 3; ++i)
            loginReply(server.port(), "ann", "guess", source);
    reply = loginReply(server.port(), "ann", "guess", "127.0.0.9");
    EXPECT_NE(reply.find("Too many failed logins"), std::string::npos) << reply;
}

TEST(AccountCreation, IsLimitedPerAddress)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--accounts-per-hour", "3"});
    for (int i = 0; i < 3; ++i)
        createAccount(server.port(), "made" + std::to_string(i)).close();
    WireClient more(server.port());
    more.send("LOGINNEW|made3|0121|" + newRecord("made3", "pw"));
    const auto reply = more.waitFor("LOGIN|").value_or("(nothing)");
    EXPECT_EQ(reply.rfind("LOGIN|FAILED|Too many new accounts from your address", 0), 0u) << reply;
    // Another address is not affected, and logins of the accounts made still work.
    createAccount(server.port(), "elsewhere", "pw", "2", "127.0.0.2").close();
    logIn(server.port(), "made0").close();
}

} // namespace
