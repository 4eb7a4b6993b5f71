#include "serverprocess.h"
#include "torvexserverstats.h"
#include "wireclient.h"

#include "orvexutils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>

namespace {

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The player entries of a JOINSUBJECT line, whose order is the server's business.
std::set<std::string> entriesOf(const std::string &line, std::string &room)
{
    std::string_view rest = line;
    ostrel::ExtractToken(rest, '|');
    room = std::string(ostrel::ExtractToken(rest, '|'));
    std::set<std::string> entries;
    while (!rest.empty())
        entries.insert(std::string(ostrel::ExtractToken(rest, '|')));
    return entries;
}

TEST(LoginSequence, SendsRecordRoomsCatalogueNewsStatisticsAndEveryone)
{
    TempDir dir;
    writeFile(dir.path() + "/games.txt", "game:Word:Alpha:1.0:/alpha/setup.exe\r\n"
                                         "myll:Word:Alpha:1.0:/alpha/setup.exe\n"
                                         "\n"
                                         "rmll:Dice:Beta:2.0:/beta/setup:with:colons\n"
                                         "game:Card:plumbrix:1.6.7:/p/setup.exe\n"
                                         "vers:1.0.0:0:\n");
    writeFile(dir.path() + "/news.txt", "Line one\nLine two\n");
    ServerProcess server(
        dir.path(), {"--catalogue", dir.path() + "/games.txt", "--news", dir.path() + "/news.txt"});
    auto bob = createAccount(server.port(), "bob");

    WireClient ann(server.port());
    ann.send("LOGINNEW|ann|0121|" + newRecord("ann", "pw", "5"));
    std::vector<std::string> lines;
    for (int i = 0; i < 7; ++i)
        lines.push_back(ann.next().value_or("(nothing)"));
    EXPECT_EQ(lines[0], "NEWSUCCESS|Account ann created.");
    EXPECT_EQ(lines[1].rfind("LOGIN|SUCCESS|ann^pw^", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "SUBJECTS|Lobby Chat|Alpha|AlphaMYLADDER|BetaRMLADDER|plumbrix|"
                        "ADULTplumbrix");
    EXPECT_EQ(lines[3], "GAMES|game:Word:Alpha:1.0:/alpha/setup.exe/r/"
                        "myll:Word:Alpha:1.0:/alpha/setup.exe/r/"
                        "rmll:Dice:Beta:2.0:/beta/setup:with:colons/r/"
                        "game:Card:plumbrix:1.6.7:/p/setup.exe/r/vers:1.0.0:0:");
    EXPECT_EQ(lines[4].rfind("NEWS|", 0), 0u);
    EXPECT_EQ(lines[4].substr(lines[4].find('|', 5)), "|Line one/r/Line two");
    ASSERT_EQ(lines[5].rfind("SERVERSTATS|", 0), 0u) << lines[5];
    ostrel::TOrvexServerStats stats;
    ASSERT_NO_THROW(stats.LoadFromString(lines[5].substr(12)));
    EXPECT_EQ(stats.Int1, 2); // players online
    EXPECT_EQ(stats.Int4, 2); // accounts
    std::string room;
    const auto entries = entriesOf(lines[6], room);
    EXPECT_EQ(room, "Lobby Chat");
    EXPECT_EQ(entries, (std::set<std::string>{"ann+5+Lobby Chat+", "bob+2+Lobby Chat+"}));

    EXPECT_EQ(bob.waitFor("ADDGUEST|").value_or(""), "ADDGUEST|ann+5+Lobby Chat+");
}

TEST(LoginSequence, NewsIsLeftOutWithoutNewsAndRereadOnHangup)
{
    TempDir dir;
    const std::string news = dir.path() + "/news.txt";
    ServerProcess server(dir.path(), {"--news", news});
    WireClient bob(server.port());
    bob.send("LOGINNEW|bob|0121|" + newRecord("bob", "pw"));
    std::vector<std::string> before;
    ASSERT_TRUE(bob.waitFor("JOINSUBJECT|", WireClient::kWait, &before));
    for (const auto &line : before)
        EXPECT_NE(line.rfind("NEWS|", 0), 0u) << line;

    writeFile(news, "Tournament tonight\r\n\r\nBring friends\n");
    server.signal(SIGHUP);
    auto announced = bob.waitFor("NEWS|");
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->substr(announced->find('|', 5)), "|Tournament tonight/r//r/Bring friends");

    // Changed news gets a new identifier, so clients show it as unread.
    const std::string firstId = announced->substr(5, announced->find('|', 5) - 5);
    writeFile(news, "Tournament moved\n");
    server.signal(SIGHUP);
    auto changed = bob.waitFor("NEWS|");
    ASSERT_TRUE(changed);
    EXPECT_NE(changed->substr(5, changed->find('|', 5) - 5), firstId);
}

TEST(LoginSequence, IsSentWholeHoweverLongAndOversizedNewsIsRefused)
{
    TempDir dir;
    const std::string news = dir.path() + "/news.txt";
    std::string big;
    for (int i = 0; i < 2 * 1024; ++i)
        big += std::string(1023, 'n') + "\n";
    writeFile(news, big);
    {
        ServerProcess server(dir.path(), {"--news", news});
        auto bob = createAccount(server.port(), "bob");
        bob.send("SEND|GHAT|here|clBlack");
        EXPECT_TRUE(bob.waitFor("SEND|bob|GHAT|here"));
        EXPECT_NE(server.log().find("news file " + news + " holds"), std::string::npos)
            << server.log();
    }

    // A login sequence longer than the cap on unsent output still arrives whole, and the
    // player stays.
    writeFile(news, std::string(100 * 1024, 'm') + "\n");
    ServerProcess server(dir.path(), {"--news", news, "--max-unsent", "16"});
    WireClient ann(server.port());
    ann.send("LOGINNEW|ann|0121|" + newRecord("ann", "pw"));
    std::vector<std::string> before;
    ASSERT_TRUE(ann.waitFor("JOINSUBJECT|", WireClient::kWait, &before));
    bool sawNews = false;
    for (const auto &line : before)
        sawNews = sawNews || line.rfind("NEWS|", 0) == 0;
    EXPECT_TRUE(sawNews);
    ann.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(ann.waitFor("SEND|ann|GHAT|still here"));
}

class PresenceTest : public ::testing::Test
{
protected:
    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
};

TEST_F(PresenceTest, RoomChangesReachEveryoneAndDeparturesTheRoom)
{
    auto bob = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    auto cat = createAccount(m_server.port(), "cat");

    bob.send("JOINSUBJECT|Plumbrix");
    EXPECT_EQ(bob.waitFor("JOINSUBJECT|").value_or(""), "JOINSUBJECT|Plumbrix|bob+2+Plumbrix+");
    EXPECT_TRUE(ann.waitFor("ADDGUEST|bob+2+Plumbrix+"));
    EXPECT_TRUE(cat.waitFor("ADDGUEST|bob+2+Plumbrix+"));

    cat.send("JOINSUBJECT|Plumbrix");
    std::string room;
    auto joined = cat.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(joined);
    EXPECT_EQ(entriesOf(*joined, room),
              (std::set<std::string>{"bob+2+Plumbrix+", "cat+2+Plumbrix+"}));
    ann.send("JOINSUBJECT|Plumbrix");
    ASSERT_TRUE(ann.waitFor("JOINSUBJECT|Plumbrix|"));

    // ann goes back to the lobby: the room hears the departure first, everyone the move.
    ann.send("JOINSUBJECT|Lobby Chat");
    auto lobby = ann.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(lobby);
    EXPECT_EQ(entriesOf(*lobby, room),
              (std::set<std::string>{"bob+2+Plumbrix+", "cat+2+Plumbrix+", "ann+2+Lobby Chat+"}));
    std::vector<std::string> seen;
    ASSERT_TRUE(bob.waitFor("ADDGUEST|ann+2+Lobby Chat+", WireClient::kWait, &seen));
    EXPECT_NE(std::find(seen.begin(), seen.end(), "REMOVEGUEST|ann"), seen.end());

    ann.send("JOINSUBJECT|Nowhere");
    EXPECT_EQ(ann.waitFor("ERROR|").value_or(""), "ERROR|There is no room named Nowhere.");

    // bob leaves the server: cat (same room) hears both, ann only the departure.
    bob.close();
    std::vector<std::string> catLines;
    ASSERT_TRUE(cat.waitFor("GREMOVEGUEST|bob", WireClient::kWait, &catLines));
    EXPECT_NE(std::find(catLines.begin(), catLines.end(), "REMOVEGUEST|bob"), catLines.end());
    std::vector<std::string> annLines;
    ASSERT_TRUE(ann.waitFor("GREMOVEGUEST|bob", WireClient::kWait, &annLines));
    EXPECT_EQ(std::find(annLines.begin(), annLines.end(), "REMOVEGUEST|bob"), annLines.end());
}

TEST_F(PresenceTest, ASecondLoginEndsTheOlderSession)
{
    auto first = createAccount(m_server.port(), "bob");
    auto ann = createAccount(m_server.port(), "ann");
    auto second = logIn(m_server.port(), "bob");
    std::vector<std::string> last;
    EXPECT_TRUE(first.waitClosed(WireClient::kWait, &last));
    ASSERT_FALSE(last.empty());
    EXPECT_NE(last.back().find("logged in elsewhere"), std::string::npos) << last.back();
    std::vector<std::string> annLines;
    ASSERT_TRUE(ann.waitFor("ADDGUEST|bob+", WireClient::kWait, &annLines));
    EXPECT_NE(std::find(annLines.begin(), annLines.end(), "GREMOVEGUEST|bob"), annLines.end());
    // The new session is the one that counts.
    second.send("SEND|GHAT|still here|clBlack");
    EXPECT_TRUE(ann.waitFor("SEND|bob|GHAT|still here|clBlack"));
}

TEST_F(PresenceTest, CommandsBeforeLoginAreRefused)
{
    WireClient client(m_server.port());
    for (const char *line : {"SEND|GHAT|hi|clBlack", "JOINSUBJECT|Plumbrix", "USERINFO|bob|"}) {
        client.send(line);
        EXPECT_EQ(client.waitFor("ERROR|").value_or(""), "ERROR|Please log in first.") << line;
    }
}

} // namespace
