// The real server while its account database fails under it: PostgreSQL stopped and
// started again, an SQLite file another process holds locked. The server keeps serving
// everything that does not need the database, answers what does with an error, and finds
// its way back when the database returns.
#include "postgrescluster.h"
#include "serverprocess.h"
#include "wireclient.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

PostgresCluster &cluster()
{
    static PostgresCluster instance;
    return instance;
}

const std::string kPurgeFailed = "dropping old kept messages failed";

// Keeps the client talking (the server drops the silent) until the server's log holds
// text; false when it did not within the time.
bool waitForLog(ServerProcess &server, WireClient &client, const std::string &text,
                std::chrono::seconds limit = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (server.log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !server.running())
            return false;
        client.send("PING|");
        client.next(200ms);
    }
    return true;
}

// The client's own chat comes back to it: the server serves it.
void expectEcho(WireClient &client, const std::string &name, const std::string &word)
{
    client.send("SEND|GHAT|" + word + "|clBlack");
    EXPECT_TRUE(client.waitFor("SEND|" + name + "|GHAT|" + word)) << word;
}

TEST(DatabaseFaults, PostgresStoppedUnderTheServerFailsRequestsNotTheServer)
{
    if (!cluster().usable())
        GTEST_SKIP() << "no PostgreSQL cluster: " << cluster().why();
    TempDir dir;
    ServerProcess server(dir.path(),
                         {"--accounts", cluster().freshDatabase(), "--ping-interval", "1"});
    createAccount(server.port(), "bob").close();
    auto ann = createAccount(server.port(), "ann");

    cluster().stop();
    // The periodic clean-up meets the missing database and says so.
    ASSERT_TRUE(waitForLog(server, ann, kPurgeFailed)) << server.log();
    // What needs the database fails with a word to its client; the rest goes on.
    ann.send("USERINFO|bob");
    const auto info = ann.waitFor("ERROR|");
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, "ERROR|The server could not complete that request.");
    WireClient bob(server.port());
    bob.send("LOGIN|bob|0121|pw");
    const auto refused = bob.waitFor("LOGIN|");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->rfind("LOGIN|FAILED|", 0), 0u) << *refused;
    expectEcho(ann, "ann", "stillhere");

    ASSERT_TRUE(cluster().startAgain()) << cluster().why();
    // The store connects again by itself.
    bool back = false;
    for (int attempt = 0; attempt < 3 && !back; ++attempt) {
        ann.send("USERINFO|bob");
        auto reply = ann.next();
        while (reply && reply->rfind("PING|", 0) == 0)
            reply = ann.next();
        ASSERT_TRUE(reply);
        back = reply->rfind("USERINFO|bob", 0) == 0;
    }
    EXPECT_TRUE(back);
    logIn(server.port(), "bob");
    EXPECT_TRUE(server.running());
}

TEST(DatabaseFaults, ALockedSqliteFileFailsWritesNotTheServer)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--ping-interval", "1"});
    createAccount(server.port(), "bob").close();
    auto ann = createAccount(server.port(), "ann");

    // Another process (an operator's sqlite3 shell, a backup) takes the write lock.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() + "/accounts.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    EXPECT_TRUE(waitForLog(server, ann, kPurgeFailed)) << server.log();
    // A message for offline bob cannot be kept now: ann hears that it failed.
    ann.send("SEND|PMES|bob|t+while locked");
    const auto failed = ann.waitFor("ERROR|", 10s);
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, "ERROR|The server could not complete that request.");
    expectEcho(ann, "ann", "stillhere");

    ASSERT_EQ(sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ann.send("SEND|PMES|bob|t+after the lock");
    const auto kept = ann.waitFor("ERROR|");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->rfind("ERROR|bob is offline; your message was kept", 0), 0u) << *kept;
    EXPECT_TRUE(server.running());
}

} // namespace
