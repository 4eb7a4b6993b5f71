#include "serverprocess.h"
#include "torvexuser.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class ModerationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_mod = std::make_unique<WireClient>(createAccount(m_server.port(), "mod"));
        m_ann = std::make_unique<WireClient>(createAccount(m_server.port(), "ann"));
        ASSERT_TRUE(m_mod->waitFor("ADDGUEST|ann+"));
    }

    // Sets a class with the server's own command while the server runs.
    void setClass(const std::string &name, const std::string &value)
    {
        std::string output;
        ASSERT_EQ(
            ServerProcess::runToEnd({"set-class", name, value, "--data", m_dir.path()}, output), 0)
            << output;
    }

    // A GHAT from ann either reaches mod or is refused with an ERROR to ann.
    bool annCanChat(const std::string &text)
    {
        m_ann->send("SEND|GHAT|" + text + "|clBlack");
        auto reply = m_ann->waitFor("SEND|ann|GHAT|" + text);
        return reply.has_value();
    }

    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
    std::unique_ptr<WireClient> m_mod, m_ann;
};

TEST(CommandLine, SetClassAndBadArgumentsAreCheckedBeforeAnythingRuns)
{
    TempDir dir;
    const std::string badCatalogue = dir.path() + "/bad.txt";
    std::ofstream(badCatalogue) << "game:Word:Alpha:1.0:/a\ngame:Word:Be|ta:1.0:/b\n";
    int busyPort = 0;
    {
        ServerProcess server(dir.path());
        createAccount(server.port(), "Bob");
        busyPort = server.port();
        std::string output;
        EXPECT_EQ(ServerProcess::runToEnd(
                      {"--listen", "127.0.0.1:" + std::to_string(busyPort), "--data", dir.path()},
                      output),
                  1);
        EXPECT_NE(output.find("in use"), std::string::npos) << output;
        EXPECT_EQ(server.terminate(), 0);
    }
    struct Case
    {
        std::vector<std::string> arguments;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {{"set-class", "bob", "H", "--data", dir.path()}, 0, "Bob now has class H"},
        {{"set-class", "ghost", "H", "--data", dir.path()}, 1, "no account named ghost"},
        {{"set-class", "bob", "HH", "--data", dir.path()}, 2, "CLASS is one letter"},
        {{"set-class", "bob"}, 2, "set-class wants NAME and CLASS"},
        {{"--listen", "nonsense"}, 2, "--listen wants HOST:PORT"},
        {{"--ping-interval", "0"}, 2, "--ping-interval wants seconds"},
        {{"--frobnicate"}, 2, "unknown argument"},
        {{"--data", dir.path(), "--catalogue", dir.path() + "/missing.txt"},
         1,
         "cannot read the catalogue file"},
        {{"--data", dir.path(), "--catalogue", badCatalogue}, 1, "in catalogue line 2"},
    };
    for (const auto &c : cases) {
        std::string output;
        EXPECT_EQ(ServerProcess::runToEnd(c.arguments, output), c.status) << output;
        EXPECT_NE(output.find(c.output), std::string::npos) << output;
    }
    ServerProcess server(dir.path());
    WireClient client(server.port());
    client.send("LOGIN|bob|0121|pw");
    auto reply = client.waitFor("LOGIN|");
    ASSERT_TRUE(reply);
    ostrel::TOrvexUser user;
    user.LoadFromString(reply->substr(14));
    EXPECT_EQ(user.AccountClass, "H");
}

TEST_F(ModerationTest, OnlyModeratorsMayModerate)
{
    const char *orders[] = {"HADMIN|7KAZ|mod|SILENCE|ann|5|", "HADMIN|7KAZ|mod|BOOT|ann|",
                            "HADMIN|7KAZ|mod|UNSILENCE|ann|", "HADMIN|7KAZ|mod|REBOOT|"};
    for (const char *order : orders) {
        m_mod->send(order);
        EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""), "ERROR|Only moderators can do that.")
            << order;
    }
    EXPECT_TRUE(annCanChat("still free"));

    // A class given while the moderator is online counts at once, but only under the
    // moderator's own name.
    setClass("mod", "T");
    m_mod->send("HADMIN|7KAZ|ann|SILENCE|ann|5|");
    EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""), "ERROR|Only moderators can do that.");

    // A moderator of class T cannot act on an administrator.
    setClass("ann", "H");
    m_mod->send("HADMIN|7KAZ|mod|BOOT|ann|");
    EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""),
              "ERROR|Only an administrator can do that to an administrator.");
}

TEST_F(ModerationTest, SilenceRefusesChatAndPrivateMessagesUntilLifted)
{
    setClass("mod", "H");
    for (const char *bad : {"0", "abc", "10081", ""}) {
        m_mod->send(std::string("HADMIN|7KAZ|mod|SILENCE|ann|") + bad + "|");
        EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""),
                  "ERROR|A silence lasts from 1 to 10080 minutes.")
            << bad;
    }
    m_mod->send("HADMIN|7KAZ|mod|SILENCE|ghost|5|");
    EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""), "ERROR|There is no user named ghost.");

    m_mod->send("HADMIN|7KAZ|mod|SILENCE|ann|5|");
    EXPECT_EQ(m_ann->waitFor("ERROR|").value_or(""),
              "ERROR|A moderator has silenced you for 5 minutes.");
    for (const char *line :
         {"SEND|GHAT|hi|clBlack", "SEND|CHAT|hi|clBlack", "SEND|PMES|mod|let me talk"}) {
        m_ann->send(line);
        EXPECT_EQ(m_ann->waitFor("ERROR|").value_or(""),
                  "ERROR|You are silenced for 5 more minutes.")
            << line;
    }
    m_ann->send("USERINFO|ann|");
    auto info = m_ann->waitFor("USERINFO|");
    ASSERT_TRUE(info);
    ostrel::TOrvexUser user;
    user.LoadFromString(info->substr(9));
    EXPECT_EQ(user.SilenceLeft, 5);

    // Logging in again does not shake it off.
    m_ann->close();
    m_ann = std::make_unique<WireClient>(logIn(m_server.port(), "ann"));
    m_ann->send("SEND|GHAT|again|clBlack");
    EXPECT_EQ(m_ann->waitFor("ERROR|").value_or(""), "ERROR|You are silenced for 5 more minutes.");

    m_mod->send("HADMIN|7KAZ|mod|UNSILENCE|ann|");
    EXPECT_EQ(m_ann->waitFor("ERROR|").value_or(""), "ERROR|A moderator has lifted your silence.");
    EXPECT_TRUE(annCanChat("free again"));
}

TEST_F(ModerationTest, SilenceCoversInvitationsAndTheTextOfJoinRequests)
{
    setClass("mod", "H");
    m_mod->send("ADDGAME|mod - Plumbrix");
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|mod+"));
    m_mod->send("HADMIN|7KAZ|mod|SILENCE|ann|5|");
    ASSERT_TRUE(m_ann->waitFor("ERROR|A moderator has silenced you"));

    m_ann->send("INVITE|mod|come and read this");
    EXPECT_EQ(m_ann->waitFor("ERROR|").value_or(""), "ERROR|You are silenced for 5 more minutes.");
    // Joining a game is not talking: the request still goes, without the sender's text.
    m_ann->send("SEND|JOIN|mod|come and read this");
    m_mod->send("SEND|GHAT|marker|clBlack");
    const auto lines = linesBefore(*m_mod, "SEND|mod|GHAT|marker");
    EXPECT_FALSE(contains(lines, "SEND|ann|INVITE|come and read this"));
    EXPECT_FALSE(contains(lines, "SEND|ann|JOIN|come and read this"));
    EXPECT_TRUE(contains(lines, "SEND|ann|JOIN|+"));
}

TEST_F(ModerationTest, ADemotionTakesOffAHatTheNewClassMayNotWear)
{
    setClass("ann", "T");
    m_ann->send("USERUPDATE|ann|" + newRecord("ann", "pw", "4") + "|");
    auto worn = m_ann->waitFor("USERINFO|");
    ASSERT_TRUE(worn);
    ostrel::TOrvexUser user;
    user.LoadFromString(worn->substr(9));
    ASSERT_EQ(user.Hat, "4");

    setClass("ann", "N");
    m_mod->send("USERINFO|ann|");
    auto info = m_mod->waitFor("USERINFO|");
    ASSERT_TRUE(info);
    user.LoadFromString(info->substr(9));
    EXPECT_EQ(user.Hat, "1");
    EXPECT_EQ(user.AccountClass, "N");
}

TEST_F(ModerationTest, BootEndsTheTargetsSession)
{
    setClass("mod", "T");
    m_mod->send("HADMIN|7KAZ|mod|BOOT|nobody|");
    EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""), "ERROR|There is no user named nobody.");
    m_mod->send("HADMIN|7KAZ|mod|BOOT|ann|");
    std::vector<std::string> last;
    EXPECT_TRUE(m_ann->waitClosed(WireClient::kWait, &last));
    EXPECT_TRUE(contains(last, "ERROR|A moderator has removed you from the server."));
    EXPECT_TRUE(m_mod->waitFor("GREMOVEGUEST|ann"));
    m_mod->send("HADMIN|7KAZ|mod|BOOT|ann|");
    EXPECT_EQ(m_mod->waitFor("ERROR|").value_or(""), "ERROR|ann is not online.");
}

TEST_F(ModerationTest, RebootAnnouncesItselfAndListensAgain)
{
    setClass("mod", "H");
    m_mod->send("HADMIN|7KAZ|mod|REBOOT|");
    for (auto *client : {m_mod.get(), m_ann.get()}) {
        std::vector<std::string> last;
        EXPECT_TRUE(client->waitClosed(WireClient::kWait, &last));
        EXPECT_TRUE(contains(last, "SHOUT|rebootnow"));
    }
    auto back = logIn(m_server.port(), "ann");
    EXPECT_TRUE(m_server.running());
}

} // namespace
