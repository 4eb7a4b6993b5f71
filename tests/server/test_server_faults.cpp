// The real server while its account database fails under it: PostgreSQL stopped and
// started again, a link to it gone silent, an SQLite file another process holds locked.
// The server keeps serving everything that does not need the database, answers what
// does with an error, and finds its way back when the database returns.
#include "httpclient.h"
#include "loopbackport.h"
#include "postgrescluster.h"
#include "serverprocess.h"
#include "tcpproxy.h"
#include "wireclient.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

using namespace std::chrono_literals;

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

// How long the client's own chat took to come back.
std::chrono::milliseconds echoTime(WireClient &client, const std::string &name,
                                   const std::string &word)
{
    const auto sent = std::chrono::steady_clock::now();
    client.send("SEND|GHAT|" + word + "|clBlack");
    if (!client.waitFor("SEND|" + name + "|GHAT|" + word, 30s)) {
        ADD_FAILURE() << "no echo of " << word;
        return std::chrono::milliseconds::max();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 sent);
}

// Keeps a logged-in client chatting while the database is away: every echo must come
// back within a second. Runs until done() says so (it is asked between echoes) or the
// limit passes; returns the slowest echo.
template <typename Done>
std::chrono::milliseconds chatUntil(WireClient &client, const std::string &name, Done done,
                                    std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    std::chrono::milliseconds slowest{0};
    for (int i = 0; slowest < 30s && !done() && std::chrono::steady_clock::now() < until; ++i) {
        slowest = std::max(slowest, echoTime(client, name, "w" + std::to_string(i)));
        // A few lines a second, well inside the flood limit.
        client.next(150ms);
    }
    return slowest;
}

TEST(DatabaseFaults, PostgresStoppedUnderTheServerFailsRequestsNotTheServer)
{
    if (!PostgresCluster::shared().usable())
        GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
    TempDir dir;
    ServerProcess server(dir.path(), {"--accounts", PostgresCluster::shared().freshDatabase(),
                                      "--ping-interval", "1"});
    createAccount(server.port(), "bob").close();
    auto ann = createAccount(server.port(), "ann");

    PostgresCluster::shared().stop();
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

    ASSERT_TRUE(PostgresCluster::shared().startAgain()) << PostgresCluster::shared().why();
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

// A link to the database that stops answering without closing (a dead route, a frozen
// middlebox): TCP sees nothing wrong, since the proxy's end still acknowledges. Only the
// requests that need the database wait, each for a bounded time; everyone else is
// served at once, and the store connects again once the link answers.
TEST(DatabaseFaults, ASilentPostgresLinkHoldsOnlyTheRequestsThatNeedIt)
{
    if (!PostgresCluster::shared().usable())
        GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
    std::string address = PostgresCluster::shared().freshDatabase();
    TcpProxy proxy(PostgresCluster::shared().port());
    const std::string direct = ":" + std::to_string(PostgresCluster::shared().port()) + "/";
    address.replace(address.find(direct), direct.size(), ":" + std::to_string(proxy.port()) + "/");
    TempDir dir;
    const int metricsPort = freeLoopbackPort();
    ServerProcess server(dir.path(),
                         {"--accounts", address, "--ping-interval", "1", "--metrics-listen",
                          "127.0.0.1:" + std::to_string(metricsPort)});
    createAccount(server.port(), "bob").close();
    createAccount(server.port(), "dan").close();
    auto ann = createAccount(server.port(), "ann");
    auto cat = createAccount(server.port(), "cat");

    // Silent for 15 s. A login waits for the database, and so does ann's request, with
    // her next line behind it; cat, who asks nothing of the database, is served at once.
    const auto stalled = std::chrono::steady_clock::now();
    proxy.stall();
    WireClient bob(server.port());
    bob.send("LOGIN|bob|0121|pw");
    // One who hangs up while its login waits: it is let go once the answer is in.
    WireClient(server.port()).send("LOGIN|dan|0121|pw");
    ann.send("USERINFO|dan");
    ann.send("SEND|GHAT|behind|clBlack");
    std::optional<std::string> bobAnswer;
    std::chrono::milliseconds bobWaited{0};
    auto slowest = chatUntil(
        cat, "cat",
        [&] {
            if (!bobAnswer && (bobAnswer = bob.waitFor("LOGIN|", 100ms)))
                bobWaited = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - stalled);
            return std::chrono::steady_clock::now() - stalled > 15s;
        },
        25s);
    EXPECT_LT(slowest, 1000ms) << "a client that needs no database waited for it\n" << server.log();
    // The stall outlasted the time a request gets: the login failed, in bounded time.
    ASSERT_TRUE(bobAnswer) << server.log();
    EXPECT_EQ(bobAnswer->rfind("LOGIN|FAILED|", 0), 0u) << *bobAnswer;
    EXPECT_LT(bobWaited, 12s);
    std::vector<std::string> before;
    ASSERT_TRUE(ann.waitFor("SEND|ann|GHAT|behind", 1s, &before));
    EXPECT_TRUE(contains(before, "ERROR|The server could not complete that request."))
        << "ann's line was answered before the request it came behind";
    // Operators see the requests that ran out of time as a counter, and the page is
    // served while the database is silent.
    const auto page = httpGet(metricsPort, "/metrics");
    ASSERT_TRUE(page && page->status == 200);
    EXPECT_NE(page->body.find("# TYPE ostrel_account_store_timeouts_total counter\n"
                              "ostrel_account_store_timeouts_total "),
              std::string::npos)
        << page->body;
    proxy.resume();

    // Back: the store connects again by itself, and a login goes through.
    WireClient again(server.port());
    again.send("LOGIN|bob|0121|pw");
    const auto back = again.waitFor("LOGIN|", 15s);
    ASSERT_TRUE(back) << server.log();
    EXPECT_EQ(back->rfind("LOGIN|SUCCESS|", 0), 0u) << *back;

    // A shorter silence: the login started in it waits alone and then completes.
    proxy.stall();
    WireClient dan(server.port());
    const auto started = std::chrono::steady_clock::now();
    dan.send("LOGIN|dan|0121|pw");
    slowest = chatUntil(
        cat, "cat", [&] { return std::chrono::steady_clock::now() - started > 3s; }, 10s);
    EXPECT_LT(slowest, 1000ms);
    proxy.resume();
    const auto completed = dan.waitFor("LOGIN|", 10s);
    ASSERT_TRUE(completed) << server.log();
    EXPECT_EQ(completed->rfind("LOGIN|SUCCESS|", 0), 0u) << *completed;
    EXPECT_TRUE(server.running());

    // Stopped while the periodic clean-up and a client's request wait for a silent
    // database: the clients go, their answers find nobody, and the server ends by itself
    // in bounded time with a clean exit.
    proxy.stall();
    const auto silentAgain = std::chrono::steady_clock::now();
    chatUntil(
        cat, "cat", [&] { return std::chrono::steady_clock::now() - silentAgain > 2s; }, 5s);
    cat.send("USERINFO|bob");
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(server.terminate(), 0) << server.log();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
}

TEST(DatabaseFaults, ALockedSqliteFileFailsWritesNotTheServer)
{
    TempDir dir;
    ServerProcess server(dir.path(), {"--ping-interval", "1"});
    createAccount(server.port(), "bob").close();
    auto ann = createAccount(server.port(), "ann");
    auto cat = createAccount(server.port(), "cat");

    // Another process (an operator's sqlite3 shell, a backup) takes the write lock.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() + "/accounts.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    EXPECT_TRUE(waitForLog(server, ann, kPurgeFailed)) << server.log();
    // Messages for offline bob cannot be kept now: each write waits for the lock a while
    // and fails, and ann hears so. Meanwhile cat is served at once.
    for (int i = 0; i < 3; ++i)
        ann.send("SEND|PMES|bob|t+while locked");
    int failures = 0;
    const auto slowest = chatUntil(
        cat, "cat",
        [&] {
            while (const auto line = ann.next(50ms))
                failures += *line == "ERROR|The server could not complete that request.";
            return failures == 3;
        },
        20s);
    EXPECT_EQ(failures, 3);
    EXPECT_LT(slowest, 1000ms) << "a client that needs no database waited for it";
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
