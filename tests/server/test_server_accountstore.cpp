// The account store on both of its engines: the SQLite file every server uses by default
// and the PostgreSQL database several server nodes share. The same cases run on both; the
// PostgreSQL ones need a cluster of the test's own and are skipped, with the reason, when
// one cannot be started. Then the real server on PostgreSQL, and the move of an SQLite
// account file into PostgreSQL.
#include "postgrescluster.h"
#include "serverprocess.h"
#include "sqliteaccountstore.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AccountStoreTest : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        if (std::string(GetParam()) == "postgresql") {
            if (!PostgresCluster::shared().usable())
                GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
            m_location = PostgresCluster::shared().freshDatabase();
        } else {
            m_location = m_dir.path() + "/accounts.sqlite";
        }
        m_store = AccountStore::open(m_location);
    }

    static AccountRecord account(const std::string &name)
    {
        AccountRecord a;
        a.user.UserName = name;
        a.user.AccountClass = "N";
        a.user.Hat = "2";
        a.passwordHash = "$hash$" + name;
        return a;
    }

    TempDir m_dir;
    std::string m_location;
    std::unique_ptr<AccountStore> m_store;
};

TEST_P(AccountStoreTest, EveryFieldComesBackAsItWasStored)
{
    AccountRecord a = account("Ann");
    auto &u = a.user;
    // Bytes of every kind the protocol carries, quotes and backslashes among them.
    u.FirstName = "\xe9l\xe8ne";
    u.LastName = "O'Brien \\ \"x\"";
    u.City = std::string("a\x01z", 3);
    u.Country = "\xff\xfe";
    u.EMail = "ann@example.org";
    u.HomePage = "http://example.org/~ann?x=1&y=2";
    u.Comments = "Word/r/games/r/all day";
    u.FirstLogin = 46000.123456789012;
    u.AuxDate = 45000.000000000007;
    u.LoginCount = 42;
    u.ICQ = "12345";
    u.AuxNumber = -7;
    u.MemberSince = 44000.5;
    u.AccountClass = "S";
    u.MinutesPlayed = 2147483000;
    u.Hat = "12";
    u.AuxText = "aux";
    u.AuxDate2 = 1e-300;
    u.Gender = "female";
    a.silenceUntil = 4102444800;
    ASSERT_TRUE(m_store->insert(a));
    const auto found = m_store->find("ann");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->user, a.user);
    EXPECT_EQ(found->passwordHash, a.passwordHash);
    EXPECT_EQ(found->silenceUntil, a.silenceUntil);
    EXPECT_EQ(m_store->count(), 1);
}

TEST_P(AccountStoreTest, NamesAreOneWhateverTheirLetterCase)
{
    ASSERT_TRUE(m_store->insert(account("Bob")));
    EXPECT_FALSE(m_store->insert(account("BOB")));
    EXPECT_FALSE(m_store->insert(account("bob")));
    // Only ASCII letters fold: other bytes are compared as they are.
    EXPECT_TRUE(m_store->insert(account("b\xd6"
                                        "b")));
    EXPECT_TRUE(m_store->insert(account("b\xf6"
                                        "b")));
    ASSERT_TRUE(m_store->find("bOb"));
    EXPECT_EQ(m_store->find("bOb")->user.UserName, "Bob");
    EXPECT_FALSE(m_store->find("bo"));
    EXPECT_FALSE(m_store->find("bob%"));
    EXPECT_EQ(m_store->count(), 3);
}

TEST_P(AccountStoreTest, ChangesReachOnlyTheirAccount)
{
    ASSERT_TRUE(m_store->insert(account("carol")));
    ASSERT_TRUE(m_store->insert(account("dave")));
    m_store->recordLogin("CAROL", 46001.5);
    m_store->recordLogin("carol", 46002.5);
    ostrel::TOrvexUser profile;
    profile.FirstName = "Carol";
    profile.City = "Lyon";
    profile.Hat = "9";
    profile.Gender = "female";
    m_store->updateProfile("Carol", profile);
    m_store->updatePasswordHash("carol", "$new$");
    m_store->setSilenceUntil("carol", 99);
    m_store->addMinutesPlayed("carol", 30);
    m_store->addMinutesPlayed("carol", INT_MAX); // held at the largest count

    const auto carol = m_store->find("carol");
    ASSERT_TRUE(carol);
    EXPECT_EQ(carol->user.LoginCount, 2);
    EXPECT_DOUBLE_EQ(carol->user.FirstLogin, 46001.5);
    EXPECT_DOUBLE_EQ(carol->user.AuxDate, 46002.5);
    EXPECT_EQ(carol->user.FirstName, "Carol");
    EXPECT_EQ(carol->user.City, "Lyon");
    EXPECT_EQ(carol->user.Hat, "9");
    EXPECT_EQ(carol->passwordHash, "$new$");
    EXPECT_EQ(carol->silenceUntil, 99);
    EXPECT_EQ(carol->user.MinutesPlayed, INT_MAX);

    const auto dave = m_store->find("dave");
    ASSERT_TRUE(dave);
    EXPECT_EQ(dave->user.LoginCount, 0);
    EXPECT_EQ(dave->user.Hat, "2");
    EXPECT_EQ(dave->passwordHash, "$hash$dave");
    EXPECT_EQ(dave->silenceUntil, 0);
}

TEST_P(AccountStoreTest, AClassThatMayNotWearTheHatTakesItOff)
{
    AccountRecord mod = account("erin");
    mod.user.AccountClass = "T";
    mod.user.Hat = "4"; // a moderator's hat
    ASSERT_TRUE(m_store->insert(mod));
    EXPECT_TRUE(m_store->setAccountClass("ERIN", "H"));
    EXPECT_EQ(m_store->find("erin")->user.Hat, "4");
    EXPECT_TRUE(m_store->setAccountClass("erin", "N"));
    EXPECT_EQ(m_store->accountClass("erin"), "N");
    EXPECT_EQ(m_store->find("erin")->user.Hat, "1");
    EXPECT_FALSE(m_store->setAccountClass("nobody", "H"));
    EXPECT_FALSE(m_store->accountClass("nobody"));
}

TEST_P(AccountStoreTest, WaitingMessagesAreCountedKeptInOrderAndDeleted)
{
    m_store->storeMessage("Frank", "ann", "one", 100);
    m_store->storeMessage("frank", "ANN", "two", 200);
    m_store->storeMessage("FRANK", "bob", std::string("th\0ree\xff", 7), 300);
    m_store->storeMessage("gina", "ann", "for gina", 150);

    const auto counts = m_store->storedMessageCounts("frank", "Ann");
    EXPECT_EQ(counts.forRecipient, 3);
    EXPECT_EQ(counts.fromSenderToRecipient, 2);
    EXPECT_EQ(counts.fromSender, 3);

    auto waiting = m_store->storedMessages("fRaNk", 150);
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].text, "two");
    EXPECT_EQ(waiting[0].sender, "ANN");
    EXPECT_EQ(waiting[0].storedAt, 200);
    EXPECT_EQ(waiting[1].text, std::string("th\0ree\xff", 7));
    EXPECT_LT(waiting[0].id, waiting[1].id);

    std::map<std::string, int> perRecipient;
    m_store->forEachStoredMessage(
        [&](const std::string &recipient, const StoredMessage &) { ++perRecipient[recipient]; });
    EXPECT_EQ(perRecipient.size(), 4u) << "recipients keep the spelling they were sent to";

    m_store->deleteStoredMessages("frank", waiting[0].id);
    waiting = m_store->storedMessages("frank", 0);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].storedAt, 300);
    EXPECT_EQ(m_store->purgeStoredMessages(200), 1); // gina's, stored at 150
    EXPECT_EQ(m_store->storedMessageCounts("gina", "ann").forRecipient, 0);
    EXPECT_EQ(m_store->storedMessageCounts("frank", "bob").forRecipient, 1);
}

// Ids past nine are where a text order ("10" before "9") and a numeric one part.
TEST_P(AccountStoreTest, MoreThanTenWaitingMessagesComeOldestFirstAndGoOnce)
{
    for (int i = 0; i < 12; ++i)
        m_store->storeMessage("kim", "lee", "N" + std::to_string(i), 1000 + i);
    auto waiting = m_store->storedMessages("kim", 0);
    ASSERT_EQ(waiting.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(waiting[i].text, "N" + std::to_string(i)) << i;
    std::vector<std::string> visited;
    m_store->forEachStoredMessage(
        [&](const std::string &, const StoredMessage &m) { visited.push_back(m.text); });
    ASSERT_EQ(visited.size(), 12u);
    EXPECT_EQ(visited[11], "N11");

    // Delivered up to the tenth: the last two stay, the first ten do not come again.
    m_store->deleteStoredMessages("kim", waiting[9].id);
    waiting = m_store->storedMessages("kim", 0);
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].text, "N10");
    EXPECT_EQ(waiting[1].text, "N11");
}

TEST_P(AccountStoreTest, EveryAccountIsVisitedOnce)
{
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(m_store->insert(account("player" + std::to_string(i))));
    std::map<std::string, int> seen;
    m_store->forEachAccount([&](const AccountRecord &a) { ++seen[a.user.UserName]; });
    EXPECT_EQ(seen.size(), 50u);
    for (const auto &[name, times] : seen)
        EXPECT_EQ(times, 1) << name;
}

INSTANTIATE_TEST_SUITE_P(Engines, AccountStoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto &info) { return std::string(info.param); });

class PostgresServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!PostgresCluster::shared().usable())
            GTEST_SKIP() << "no PostgreSQL cluster: " << PostgresCluster::shared().why();
        m_address = PostgresCluster::shared().freshDatabase();
    }
    TempDir m_dir;
    std::string m_address;
};

TEST_F(PostgresServerTest, AccountsOutliveTheServerAndTheDatabaseRestarting)
{
    {
        ServerProcess server(m_dir.path(), {"--accounts", m_address});
        createAccount(server.port(), "Hanna", "pw1");
        WireClient again(server.port());
        again.send("LOGINNEW|hanna|0121|" + newRecord("hanna", "pw2"));
        const auto reply = again.waitFor("LOGIN|");
        ASSERT_TRUE(reply);
        EXPECT_NE(reply->find("is taken"), std::string::npos) << *reply;
    }
    ServerProcess server(m_dir.path(), {"--accounts", m_address});
    logIn(server.port(), "HANNA", "pw1");

    // The database goes away under the running server and comes back: the login that
    // meets the broken connection fails cleanly, and the server finds its way back.
    ASSERT_TRUE(PostgresCluster::shared().restart());
    bool loggedIn = false;
    for (int attempt = 0; attempt < 3 && !loggedIn; ++attempt) {
        WireClient client(server.port());
        client.send("LOGIN|hanna|0121|pw1");
        const auto reply = client.waitFor("LOGIN|");
        ASSERT_TRUE(reply) << "the server did not answer";
        loggedIn = reply->rfind("LOGIN|SUCCESS|", 0) == 0;
    }
    EXPECT_TRUE(loggedIn);
    EXPECT_TRUE(server.running());
}

TEST_F(PostgresServerTest, AnSQLiteAccountFileMovesIntoPostgres)
{
    TempDir sqliteData;
    {
        ServerProcess server(sqliteData.path());
        createAccount(server.port(), "ivan", "secret");
        createAccount(server.port(), "judy", "pw");
        // A message for judy waits while she is offline.
        WireClient ivan = logIn(server.port(), "ivan", "secret");
        ivan.send("SEND|PMES|judy|9:41 PM+see you tonight");
        ASSERT_TRUE(ivan.waitFor("ERROR|"));
        ASSERT_EQ(server.terminate(), 0);
    }
    // judy already has an account on the shared store: hers stays.
    {
        auto shared = AccountStore::open(m_address);
        AccountRecord judy;
        judy.user.UserName = "Judy";
        judy.passwordHash = "$kept$";
        ASSERT_TRUE(shared->insert(judy));
    }
    std::string output;
    ASSERT_EQ(ServerProcess::runToEnd({"import-accounts", sqliteData.path() + "/accounts.sqlite",
                                       "--accounts", m_address},
                                      output),
              0)
        << output;
    EXPECT_NE(output.find("1 accounts copied, 1 kept as they were, 1 waiting messages copied"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("kept the existing account judy"), std::string::npos) << output;

    ServerProcess server(m_dir.path(), {"--accounts", m_address});
    logIn(server.port(), "ivan", "secret"); // the same password hash works
    auto shared = AccountStore::open(m_address);
    EXPECT_EQ(shared->find("judy")->passwordHash, "$kept$");
    EXPECT_EQ(shared->storedMessageCounts("judy", "ivan").forRecipient, 1);

    // Running it again copies nothing twice.
    ASSERT_EQ(ServerProcess::runToEnd({"import-accounts", sqliteData.path() + "/accounts.sqlite",
                                       "--accounts", m_address},
                                      output),
              0);
    EXPECT_NE(output.find("0 accounts copied, 2 kept"), std::string::npos) << output;
}

mode_t modeOf(const std::string &path)
{
    struct stat st = {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Password hashes and private messages are for the server's user alone, whatever umask
// the operator runs it under, and also in a file an older version left open to others.
TEST(AccountFiles, TheDataFolderAndTheAccountFilesAreTheOwnersAlone)
{
    const mode_t umaskBefore = ::umask(022);
    TempDir dir;
    const std::string data = dir.path() + "/lobby";
    {
        ServerProcess server(dir.path(), {"--data", data, "--tls-listen", "127.0.0.1:0"});
        createAccount(server.port(), "ann").close();
        auto bob = createAccount(server.port(), "bob");
        bob.send("SEND|PMES|ann|t+secret");
        ASSERT_TRUE(bob.waitFor("ERROR|ann is offline"));
        EXPECT_EQ(modeOf(data), 0700u);
        for (const char *file :
             {"accounts.sqlite", "accounts.sqlite-wal", "accounts.sqlite-shm", "tls-key.pem"})
            EXPECT_EQ(modeOf(data + "/" + file), 0600u) << file;
        ASSERT_EQ(server.terminate(), 0);
    }
    ASSERT_EQ(::chmod((data + "/accounts.sqlite").c_str(), 0644), 0);
    {
        ServerProcess server(dir.path(), {"--data", data});
        logIn(server.port(), "ann").close();
        EXPECT_EQ(modeOf(data + "/accounts.sqlite"), 0600u);
        EXPECT_EQ(modeOf(data + "/accounts.sqlite-wal"), 0600u);
    }
    ::umask(umaskBefore);
}

TEST(AccountStoreOptions, ImportNeedsATargetAndAnSQLiteFile)
{
    std::string output;
    EXPECT_EQ(ServerProcess::runToEnd({"import-accounts", "/nonexistent.sqlite"}, output), 2);
    EXPECT_NE(output.find("needs --accounts"), std::string::npos) << output;
    EXPECT_EQ(ServerProcess::runToEnd({"import-accounts", "/nonexistent.sqlite", "--accounts",
                                       "postgresql://127.0.0.1:1/x"},
                                      output),
              1);
    EXPECT_NE(output.find("no account file"), std::string::npos) << output;
    // A database that is not there stops the server with a message, not a crash.
    TempDir dir;
    EXPECT_EQ(ServerProcess::runToEnd({"--data", dir.path(), "--listen", "127.0.0.1:0",
                                       "--accounts", "postgresql://ostrel@127.0.0.1:1/none"},
                                      output),
              1);
    EXPECT_NE(output.find("account database: cannot connect"), std::string::npos) << output;
}

} // namespace
