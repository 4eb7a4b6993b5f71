#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <memory>
#include <regex>

namespace {

const std::string kMarker = "SEND|bob|GHAT|marker|clBlack";

// Lines bob received up to his own GHAT marker: what bob was told about what he sent.
std::vector<std::string> bobsLinesUpToMarker(WireClient &bob)
{
    bob.send("SEND|GHAT|marker|clBlack");
    return linesBefore(bob, kMarker);
}

std::size_t countPrefix(const std::vector<std::string> &lines, const std::string &prefix)
{
    std::size_t n = 0;
    for (const auto &line : lines)
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

// Reads ann's lines after her login up to her own marker. confirm: answer the PING that
// follows the kept messages, as the lobby client answers every PING, and wait until the
// server has read the answer.
std::vector<std::string> annsKeptMessages(WireClient &ann, bool confirm = true)
{
    ann.send("SEND|GHAT|annmarker|clBlack");
    const auto lines = linesBefore(ann, "SEND|ann|GHAT|annmarker|clBlack");
    std::vector<std::string> pmes;
    for (const auto &line : lines)
        if (line.rfind("SEND|", 0) == 0 && line.find("|PMES|") != std::string::npos)
            pmes.push_back(line);
    if (confirm && !pmes.empty()) {
        EXPECT_TRUE(contains(lines, "PING|"));
        ann.send("PING|");
        ann.send("SEND|GHAT|confirmed|clBlack");
        EXPECT_TRUE(ann.waitFor("SEND|ann|GHAT|confirmed"));
    }
    return pmes;
}

TEST(OfflineMessages, AreKeptAcrossARestartAndDeliveredOnceAtTheNextLogin)
{
    TempDir dir;
    auto server = std::make_unique<ServerProcess>(dir.path());
    createAccount(server->port(), "ann").close();
    auto bob = createAccount(server->port(), "bob");

    bob.send("SEND|PMES|ANN|8:05:12 PM+first/r/second line");
    bob.send("SEND|PMES|ann|no time here");
    bob.send("SEND|PMES|ghost|nobody");
    const auto told = bobsLinesUpToMarker(bob);
    // Told once for ann, whatever the number of messages; a name without an account is
    // undeliverable as before.
    EXPECT_EQ(countPrefix(told, "ERROR|ann"), 1u);
    EXPECT_TRUE(contains(told, "ERROR|ann is offline; your message was kept and will be "
                               "delivered at their next login."));
    EXPECT_TRUE(contains(told, "ERROR|ghost is not online; your message was not delivered."));

    bob.close();
    ASSERT_EQ(server->terminate(), 0);
    server = std::make_unique<ServerProcess>(dir.path());

    auto ann = logIn(server->port(), "ann");
    const auto kept = annsKeptMessages(ann);
    ASSERT_EQ(kept.size(), 2u);
    // The sender's own time stays first; the day the server kept it follows.
    const std::regex stamp(R"(\(kept since \d{4}-\d\d-\d\d \d\d:\d\d UTC\))");
    EXPECT_EQ(kept[0].rfind("SEND|bob|PMES|8:05:12 PM (kept since ", 0), 0u) << kept[0];
    EXPECT_NE(kept[0].find(")+first/r/second line"), std::string::npos) << kept[0];
    EXPECT_TRUE(std::regex_search(kept[0], stamp)) << kept[0];
    EXPECT_EQ(kept[1].rfind("SEND|bob|PMES|(kept since ", 0), 0u) << kept[1];
    EXPECT_NE(kept[1].find(")+no time here"), std::string::npos) << kept[1];

    ann.close();
    auto again = logIn(server->port(), "ann");
    EXPECT_TRUE(annsKeptMessages(again).empty());
}

// Kept until the client has them: a recipient whose connection drops right after the
// login, before the client answered the PING behind them, finds them again next time.
TEST(OfflineMessages, StayKeptUntilTheClientConfirmedThem)
{
    TempDir dir;
    auto server = std::make_unique<ServerProcess>(dir.path());
    createAccount(server->port(), "ann").close();
    auto bob = createAccount(server->port(), "bob");
    for (int i = 1; i <= 3; ++i)
        bob.send("SEND|PMES|ann|t+message " + std::to_string(i));
    ASSERT_TRUE(bob.waitFor("ERROR|ann is offline"));
    bob.send("SEND|GHAT|bobmarker|clBlack");
    ASSERT_TRUE(bob.waitFor("SEND|bob|GHAT|bobmarker"));

    // Gone before answering: the messages reached the socket, maybe not the player.
    auto first = logIn(server->port(), "ann");
    EXPECT_EQ(annsKeptMessages(first, false).size(), 3u);
    first.close();
    // Nor does a server stopped meanwhile lose them.
    ASSERT_EQ(server->terminate(), 0);
    server = std::make_unique<ServerProcess>(dir.path());

    auto second = logIn(server->port(), "ann");
    EXPECT_EQ(annsKeptMessages(second).size(), 3u);
    second.close();
    auto third = logIn(server->port(), "ann");
    EXPECT_TRUE(annsKeptMessages(third).empty());
}

TEST(OfflineMessages, TheStoreIsBoundedPerSenderAndTheSenderIsToldOnce)
{
    TempDir dir;
    ServerProcess server(dir.path());
    createAccount(server.port(), "ann").close();
    auto bob = createAccount(server.port(), "bob");

    for (int i = 1; i <= 12; ++i)
        bob.send("SEND|PMES|ann|t+message " + std::to_string(i));
    const auto told = bobsLinesUpToMarker(bob);
    EXPECT_EQ(countPrefix(told, "ERROR|ann is offline; your message was kept"), 1u);
    EXPECT_EQ(countPrefix(told, "ERROR|ann is offline and no more of your messages"), 1u);

    // Another sender still has room in ann's store.
    auto cat = createAccount(server.port(), "cat");
    cat.send("SEND|PMES|ann|t+from cat");

    cat.send("SEND|GHAT|catmarker|clBlack");
    ASSERT_TRUE(cat.waitFor("SEND|cat|GHAT|catmarker"));
    auto ann = logIn(server.port(), "ann");
    const auto kept = annsKeptMessages(ann);
    ASSERT_EQ(kept.size(), 11u);
    for (int i = 1; i <= 10; ++i)
        EXPECT_NE(kept[i - 1].find(")+message " + std::to_string(i)), std::string::npos)
            << kept[i - 1];
    EXPECT_NE(kept[10].find("SEND|cat|PMES|"), std::string::npos);
}

TEST(OfflineMessages, OlderThanThirtyDaysAreNotDeliveredAndAreDeleted)
{
    TempDir dir;
    {
        ServerProcess server(dir.path());
        createAccount(server.port(), "ann").close();
        createAccount(server.port(), "bob").close();
        ASSERT_EQ(server.terminate(), 0);
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() + "/accounts.sqlite").c_str(), &db), SQLITE_OK);
    const auto now = static_cast<long long>(std::time(nullptr));
    const std::string insert =
        "INSERT INTO stored_messages (recipient, sender, text, stored_at) VALUES "
        "('ann', 'bob', 't+too old', " +
        std::to_string(now - 31 * 24 * 3600) + "), ('ann', 'bob', 't+recent', " +
        std::to_string(now - 29 * 24 * 3600) + "), ('bob', 'ann', 't+for bob', " +
        std::to_string(now - 31 * 24 * 3600) + ")";
    ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);

    ServerProcess server(dir.path(), {"--ping-interval", "1"});
    auto ann = logIn(server.port(), "ann");
    const auto kept = annsKeptMessages(ann);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept[0].find(")+recent"), std::string::npos) << kept[0];
    // ann's expired message went with her delivery; the server's periodic clean-up removes
    // bob's, who did not log in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server.log().find("dropped 1 kept messages") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        ann.next(std::chrono::milliseconds(100));
    EXPECT_NE(server.log().find("dropped 1 kept messages"), std::string::npos) << server.log();
}

} // namespace
