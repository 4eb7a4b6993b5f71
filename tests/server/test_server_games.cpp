#include "serverprocess.h"
#include "torvexserverstats.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace {

// Reads until every line of `wanted` has arrived, in any order.
void awaitAll(WireClient &client, std::set<std::string> wanted)
{
    while (!wanted.empty()) {
        const auto line = client.next();
        ASSERT_TRUE(line) << "still waiting for " << *wanted.begin();
        wanted.erase(*line);
    }
}

// bob hosts in the Plumbrix room; ann watches from the lobby.
class GamesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_bob = std::make_unique<WireClient>(createAccount(m_server.port(), "bob"));
        m_ann = std::make_unique<WireClient>(createAccount(m_server.port(), "ann"));
        m_bob->send("JOINSUBJECT|Plumbrix");
        ASSERT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+"));
    }

    // ann joins bob's game through the handshake.
    void annJoinsBob()
    {
        m_ann->send("SEND|JOIN|bob|+");
        ASSERT_TRUE(m_bob->waitFor("SEND|ann|JOIN|+"));
        m_bob->send("SEND|IPTJ|ann|10.0.0.5");
        ASSERT_TRUE(m_ann->waitFor("SEND|bob|IPTJ|"));
    }

    TempDir m_dir;
    ServerProcess m_server{m_dir.path()};
    std::unique_ptr<WireClient> m_bob, m_ann;
};

TEST_F(GamesTest, AnnouncementsAreCheckedAndSetTheHostsEntry)
{
    const std::pair<std::string, std::string> refused[] = {
        {"ADDGAME|ann - Plumbrix", "ERROR|A game is announced as \"bob - \" and its room."},
        {"ADDGAME|bob - Nowhere", "ERROR|There is no game room named Nowhere."},
        {"ADDASSISTED|bob - Lobby Chat", "ERROR|There is no game room named Lobby Chat."},
        {"DELETEGAME|ann", "ERROR|You can only end your own game."},
        {"PRIVATE|bob", "ERROR|You are not hosting a game to make private."},
    };
    for (const auto &[line, error] : refused) {
        m_bob->send(line);
        EXPECT_EQ(m_bob->waitFor("ERROR|").value_or(""), error) << line;
    }

    m_bob->send("ADDGAME|bob - PlumbrixRMLADDER");
    EXPECT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - PlumbrixRMLADDER"));
    // Announcing again replaces the old game, which everyone is told has ended.
    m_bob->send("ADDGAME|bob - Plumbrix");
    std::vector<std::string> lines;
    ASSERT_TRUE(
        m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix", WireClient::kWait, &lines));
    EXPECT_TRUE(contains(lines, "DELETEGAME|bob - PlumbrixRMLADDER"));

    auto cat = createAccount(m_server.port(), "cat");
    cat.send("JOINSUBJECT|Lobby Chat"); // resends the member list, with bob's game
    auto lobby = cat.waitFor("JOINSUBJECT|");
    ASSERT_TRUE(lobby);
    EXPECT_NE(lobby->find("|bob+2+Plumbrix+bob - Plumbrix"), std::string::npos) << *lobby;
}

TEST_F(GamesTest, PrivateHidesTheGameInEveryEntryOfIt)
{
    m_bob->send("ADDGAME|bob - Plumbrix");
    annJoinsBob();
    m_bob->send("PRIVATE|bob");
    EXPECT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+P*bob - Plumbrix"));
    EXPECT_TRUE(m_bob->waitFor("ADDGUEST|ann+2+Lobby Chat+P*bob - Plumbrix"));
}

TEST_F(GamesTest, DeleteGameTellsEveryoneAndReleasesPlayersAndWaitingJoins)
{
    auto cat = createAccount(m_server.port(), "cat");
    m_bob->send("ADDGAME|bob - Plumbrix");
    annJoinsBob();
    cat.send("SEND|JOIN|bob|+");
    ASSERT_TRUE(m_bob->waitFor("SEND|cat|JOIN|+"));

    m_bob->send("DELETEGAME|bob");
    const auto refused = cat.waitFor("ERROR|");
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("cannot join them"), std::string::npos) << *refused;
    EXPECT_TRUE(cat.waitFor("ADDGUEST|bob+2+Plumbrix+"));
    EXPECT_TRUE(m_ann->waitFor("DELETEGAME|bob - Plumbrix"));
    EXPECT_TRUE(m_ann->waitFor("ADDGUEST|ann+2+Lobby Chat+"));

    // A joiner's own DELETEGAME only takes it out of the game.
    m_bob->send("ADDGAME|bob - Plumbrix");
    annJoinsBob();
    m_ann->send("DELETEGAME|ann");
    ASSERT_TRUE(m_bob->waitFor("ADDGUEST|ann+2+Lobby Chat+bob - Plumbrix"));
    ASSERT_TRUE(m_bob->waitFor("ADDGUEST|ann+2+Lobby Chat+"));
    // No game ended.
    m_ann->send("SEND|GHAT|done|clBlack");
    for (const auto &line : linesBefore(*m_bob, "SEND|ann|GHAT|done"))
        EXPECT_NE(line.rfind("DELETEGAME|", 0), 0u) << line;
}

TEST_F(GamesTest, AHostLeavingEndsTheGameAndTheStatisticsCountGames)
{
    m_bob->send("ADDGAME|bob - Plumbrix");
    ASSERT_TRUE(m_ann->waitFor("ADDGUEST|bob+2+Plumbrix+bob - Plumbrix"));
    {
        auto cat = createAccount(m_server.port(), "cat");
        cat.send("USERINFO|cat|"); // any round trip
        ASSERT_TRUE(cat.waitFor("USERINFO|"));
    }
    WireClient dan(m_server.port());
    dan.send("LOGINNEW|dan|0121|" + newRecord("dan", "pw"));
    auto stats = dan.waitFor("SERVERSTATS|");
    ASSERT_TRUE(stats);
    ostrel::TOrvexServerStats values;
    values.LoadFromString(stats->substr(12));
    EXPECT_EQ(values.Int3, 1); // games hosted

    m_bob->close();
    std::vector<std::string> lines;
    ASSERT_TRUE(m_ann->waitFor("GREMOVEGUEST|bob", WireClient::kWait, &lines));
    EXPECT_TRUE(contains(lines, "DELETEGAME|bob - Plumbrix"));
}

// A player's entry changes with its room, a game hosted, joined, made private or ended,
// and its hat. Whatever changed it, a newcomer's list, the lobby's and a room's, holds
// each player's entry as the last announcement of it read, and the login sequence is in
// its order.
TEST_F(GamesTest, ListsHoldEachEntryAsLastAnnounced)
{
    auto eve = createAccount(m_server.port(), "eve");
    std::map<std::string, std::string> announced = {
        {"bob", "bob+2+Plumbrix+"}, {"ann", "ann+2+Lobby Chat+"}, {"eve", "eve+2+Lobby Chat+"}};
    const auto expect = [&](const std::string &room) {
        std::vector<std::string> entries;
        for (const auto &[name, entry] : announced)
            if (room == "Lobby Chat" || entry.find("+" + room + "+") != std::string::npos)
                entries.push_back(entry);
        std::sort(entries.begin(), entries.end());
        return entries;
    };
    struct Step
    {
        const char *what;
        std::function<void()> act;
        std::vector<std::string> entries; // announced to everyone but the mover
    };
    const Step steps[] = {
        {"nothing yet", [] {}, {}},
        {"hosting",
         [&] { m_bob->send("ADDGAME|bob - Plumbrix"); },
         {"bob+2+Plumbrix+bob - Plumbrix"}},
        {"joined", [&] { annJoinsBob(); }, {"ann+2+Lobby Chat+bob - Plumbrix"}},
        {"private",
         [&] { m_bob->send("PRIVATE|bob"); },
         {"bob+2+Plumbrix+P*bob - Plumbrix", "ann+2+Lobby Chat+P*bob - Plumbrix"}},
        {"ended", [&] { m_bob->send("DELETEGAME|bob"); }, {"bob+2+Plumbrix+", "ann+2+Lobby Chat+"}},
        {"hat",
         [&] { m_ann->send("USERUPDATE|ann|" + newRecord("ann", "pw", "17") + "|"); },
         {"ann+17+Lobby Chat+"}},
        {"back in the lobby",
         [&] { m_bob->send("JOINSUBJECT|Lobby Chat"); },
         {"bob+2+Lobby Chat+"}},
    };
    std::vector<WireClient> newcomers;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        std::set<std::string> lines;
        for (const auto &entry : step.entries) {
            lines.insert("ADDGUEST|" + entry);
            announced[entry.substr(0, entry.find('+'))] = entry;
        }
        awaitAll(eve, lines);

        const std::string name = "new" + std::to_string(newcomers.size());
        WireClient newcomer(m_server.port());
        newcomer.send("LOGINNEW|" + name + "|0121|" + newRecord(name, "pw"));
        std::vector<std::string> before;
        const auto lobby = newcomer.waitFor("JOINSUBJECT|", WireClient::kWait, &before);
        ASSERT_TRUE(lobby);
        std::vector<std::string> keywords;
        for (const auto &line : before)
            keywords.push_back(line.substr(0, line.find('|')));
        EXPECT_EQ(keywords, (std::vector<std::string>{"NEWSUCCESS", "LOGIN", "SUBJECTS", "GAMES",
                                                      "SERVERSTATS"}));
        announced[name] = name + "+2+Lobby Chat+";
        EXPECT_EQ(lobby->substr(0, 23), "JOINSUBJECT|Lobby Chat|");
        EXPECT_EQ(listedEntries(*lobby), expect("Lobby Chat"));
        awaitAll(eve, {"ADDGUEST|" + announced[name]});

        newcomer.send("JOINSUBJECT|Plumbrix");
        announced[name] = name + "+2+Plumbrix+";
        const auto room = newcomer.waitFor("JOINSUBJECT|");
        ASSERT_TRUE(room);
        EXPECT_EQ(room->substr(0, 21), "JOINSUBJECT|Plumbrix|");
        EXPECT_EQ(listedEntries(*room), expect("Plumbrix"));
        awaitAll(eve, {"ADDGUEST|" + announced[name]});
        newcomers.push_back(std::move(newcomer));
    }
}

} // namespace
