#include "serverprocess.h"
#include "torvexuser.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

ostrel::TOrvexUser recordOf(const std::string &line, const std::string &prefix)
{
    ostrel::TOrvexUser user;
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    user.LoadFromString(std::string_view(line).substr(prefix.size()));
    return user;
}

class AccountsTest : public ::testing::Test
{
protected:
    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
};

TEST_F(AccountsTest, NewAccountsAreValidated)
{
    createAccount(m_server.port(), "taken");
    struct Case
    {
        std::string name;
        std::string password;
        std::string expected; // part of the failure text; empty for success
    };
    const Case cases[] = {
        {"", "pw", "1 to 15 characters"},
        {"sixteen_chars_xx", "pw", "1 to 15 characters"},
        {"two words", "pw", "1 to 15 characters"},
        {"bang!", "pw", "1 to 15 characters"},
        {"plus+sign", "pw", "1 to 15 characters"},
        {"nopassword", "", "1 to 9 characters"},
        {"longpassword", "0123456789", "1 to 9 characters"},
        {"TAKEN", "pw", "is taken"},
        {"abc_~XYZ0123456", "123456789", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        WireClient client(m_server.port());
        client.send("LOGINNEW|" + c.name + "|0121|" + newRecord(c.name, c.password));
        auto reply = client.waitFor("LOGIN|");
        ASSERT_TRUE(reply);
        if (c.expected.empty()) {
            EXPECT_EQ(reply->rfind("LOGIN|SUCCESS|", 0), 0u) << *reply;
        } else {
            EXPECT_EQ(reply->rfind("LOGIN|FAILED|", 0), 0u) << *reply;
            EXPECT_NE(reply->find(c.expected), std::string::npos) << *reply;
        }
    }
}

TEST_F(AccountsTest, NewAccountGetsNewSuccessThenItsRecord)
{
    WireClient client(m_server.port());
    // The client may ask for a reserved hat and server-kept values; neither is granted.
    std::string record = newRecord("neo", "secret", "4");
    record.replace(record.find("^N^"), 3, "^H^");
    client.send("LOGINNEW|neo|0121|" + record);
    auto first = client.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rfind("NEWSUCCESS|", 0), 0u) << *first;
    auto login = client.next();
    ASSERT_TRUE(login);
    const auto user = recordOf(*login, "LOGIN|SUCCESS|");
    EXPECT_EQ(user.UserName, "neo");
    EXPECT_EQ(user.Password, "secret");
    EXPECT_EQ(user.FirstName, "First");
    EXPECT_EQ(user.Comments, "Hello/r/there");
    EXPECT_EQ(user.AccountClass, "N");
    EXPECT_EQ(user.Hat, "1");
    EXPECT_EQ(user.LoginCount, 1);
    EXPECT_GT(user.MemberSince, 40000.0);
    EXPECT_GT(user.FirstLogin, 40000.0);
}

TEST_F(AccountsTest, LoginChecksThePasswordAndIgnoresLetterCaseOfTheName)
{
    createAccount(m_server.port(), "bob", "pw").close();
    {
        WireClient wrong(m_server.port());
        wrong.send("LOGIN|bob|0121|nope");
        auto reply = wrong.waitFor("LOGIN|");
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "LOGIN|FAILED|Unknown user ID or wrong password.");
    }
    {
        WireClient unknown(m_server.port());
        unknown.send("LOGIN|nobody|0121|pw");
        auto reply = unknown.waitFor("LOGIN|");
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "LOGIN|FAILED|Unknown user ID or wrong password.");
    }
    WireClient client(m_server.port());
    client.send("LOGIN|BOB|0121|pw");
    auto reply = client.waitFor("LOGIN|");
    ASSERT_TRUE(reply);
    const auto user = recordOf(*reply, "LOGIN|SUCCESS|");
    EXPECT_EQ(user.UserName, "bob");
    EXPECT_EQ(user.Password, "pw");
    EXPECT_EQ(user.LoginCount, 2);
}

TEST_F(AccountsTest, FailedLoginsFromOneAddressAreThrottled)
{
    createAccount(m_server.port(), "bob", "pw").close();
    WireClient client(m_server.port());
    for (int i = 0; i < 4; ++i) {
        client.send("LOGIN|bob|0121|wrong");
        auto reply = client.waitFor("LOGIN|");
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "LOGIN|FAILED|Unknown user ID or wrong password.");
    }
    // Now even the right password is refused until the wait is over.
    client.send("LOGIN|bob|0121|pw");
    auto reply = client.waitFor("LOGIN|");
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find("Too many failed logins"), std::string::npos) << *reply;
}

TEST_F(AccountsTest, UserInfoCarriesThePasswordOnlyInTheOwnRecord)
{
    auto bob = createAccount(m_server.port(), "bob", "bobpw");
    auto ann = createAccount(m_server.port(), "ann", "annpw");
    bob.send("USERINFO|ann|");
    auto other = bob.waitFor("USERINFO|");
    ASSERT_TRUE(other);
    const auto annRecord = recordOf(*other, "USERINFO|");
    EXPECT_EQ(annRecord.UserName, "ann");
    EXPECT_EQ(annRecord.Password, "");
    EXPECT_EQ(annRecord.City, "City");

    bob.send("USERINFO|bob|");
    auto own = bob.waitFor("USERINFO|");
    ASSERT_TRUE(own);
    EXPECT_EQ(recordOf(*own, "USERINFO|").Password, "bobpw");

    bob.send("USERINFO|ghost|");
    auto error = bob.waitFor("ERROR|");
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "ERROR|There is no user named ghost.");
}

TEST_F(AccountsTest, UserUpdateChangesOnlyTheOwnProfileFieldsAndAllowedHats)
{
    auto bob = createAccount(m_server.port(), "bob", "pw");
    auto ann = createAccount(m_server.port(), "ann", "pw");
    bob.waitFor("ADDGUEST|ann+");

    ostrel::TOrvexUser edited;
    bob.send("USERINFO|bob|");
    edited = recordOf(*bob.waitFor("USERINFO|"), "USERINFO|");
    edited.FirstName = "Robert";
    edited.Comments = "likes/r/dice";
    edited.AccountClass = "H";
    edited.LoginCount = 99;
    edited.MinutesPlayed = 500;
    edited.Hat = "17";
    bob.send("USERUPDATE|bob|" + edited.SaveToString() + "|");
    auto reply = bob.waitFor("USERINFO|");
    ASSERT_TRUE(reply);
    const auto stored = recordOf(*reply, "USERINFO|");
    EXPECT_EQ(stored.FirstName, "Robert");
    EXPECT_EQ(stored.Comments, "likes/r/dice");
    EXPECT_EQ(stored.AccountClass, "N");
    EXPECT_EQ(stored.LoginCount, 1);
    EXPECT_EQ(stored.MinutesPlayed, 0);
    EXPECT_EQ(stored.Hat, "17");
    // A new hat shows in the player's entry everywhere.
    EXPECT_TRUE(ann.waitFor("ADDGUEST|bob+17+Lobby Chat+"));

    struct HatCase
    {
        std::string hat;
        bool allowed;
    };
    const HatCase hats[] = {{"3", false},   {"4", false}, {"199", false}, {"0", false},
                            {"abc", false}, {"", false},  {"198", true},  {"2", true}};
    std::string current = "17";
    for (const auto &h : hats) {
        SCOPED_TRACE("hat " + h.hat);
        edited.Hat = h.hat;
        bob.send("USERUPDATE|bob|" + edited.SaveToString() + "|");
        std::vector<std::string> before;
        auto info = bob.waitFor("USERINFO|", WireClient::kWait, &before);
        ASSERT_TRUE(info);
        const bool refused = !before.empty() && before.back().rfind("ERROR|", 0) == 0;
        EXPECT_EQ(refused, !h.allowed);
        if (h.allowed)
            current = h.hat;
        EXPECT_EQ(recordOf(*info, "USERINFO|").Hat, current);
    }

    bob.send("USERUPDATE|ann|" + edited.SaveToString() + "|");
    auto error = bob.waitFor("ERROR|");
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "ERROR|You can only change your own profile.");
}

TEST_F(AccountsTest, PasswordChangeTakesEffectForTheNextLogin)
{
    auto bob = createAccount(m_server.port(), "bob", "old");
    bob.send("USERINFO|bob|");
    auto edited = recordOf(*bob.waitFor("USERINFO|"), "USERINFO|");
    edited.Password = "newer";
    bob.send("USERUPDATE|bob|" + edited.SaveToString() + "|");
    auto reply = bob.waitFor("USERINFO|");
    ASSERT_TRUE(reply);
    EXPECT_EQ(recordOf(*reply, "USERINFO|").Password, "newer");

    WireClient old(m_server.port());
    old.send("LOGIN|bob|0121|old");
    EXPECT_EQ(old.waitFor("LOGIN|").value_or(""),
              "LOGIN|FAILED|Unknown user ID or wrong password.");
    auto again = logIn(m_server.port(), "bob", "newer");
}

TEST(AccountPersistence, AccountsSurviveACleanShutdown)
{
    TempDir dir;
    {
        ServerProcess server(dir.path());
        auto bob = createAccount(server.port(), "bob", "pw");
        bob.send("USERINFO|bob|");
        auto edited = recordOf(*bob.waitFor("USERINFO|"), "USERINFO|");
        edited.City = "Lisbon";
        bob.send("USERUPDATE|bob|" + edited.SaveToString() + "|");
        ASSERT_TRUE(bob.waitFor("USERINFO|"));
        EXPECT_EQ(server.terminate(), 0);
        // The clients hear that the server goes down before the connection ends.
        std::vector<std::string> last;
        EXPECT_TRUE(bob.waitClosed(WireClient::kWait, &last));
        EXPECT_NE(std::find(last.begin(), last.end(), "SHOUT|rebootnow"), last.end());
    }
    ServerProcess server(dir.path());
    WireClient client(server.port());
    client.send("LOGIN|bob|0121|pw");
    auto reply = client.waitFor("LOGIN|");
    ASSERT_TRUE(reply);
    const auto user = recordOf(*reply, "LOGIN|SUCCESS|");
    EXPECT_EQ(user.City, "Lisbon");
    EXPECT_EQ(user.LoginCount, 2);
}

} // namespace
