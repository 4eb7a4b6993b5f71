// The player directory's own rules: where a name leads, and how the other nodes'
// messages change who is listed where. Its sessions are real ones that are never
// connected: the directory only points to them.
#include "catalogue.h"
#include "clientsession.h"
#include "lobbyserver.h"
#include "playerdirectory.h"
#include "serveroptions.h"
#include "sqliteaccountstore.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

cluster::PlayerState player(const std::string &key, const std::string &room = "Lobby Chat",
                            double since = 1000)
{
    std::string name = key;
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return {key, name, room, name + "+1+" + room + "+", since, false, false};
}

class PlayerDirectoryTest : public ::testing::Test
{
protected:
    PlayerDirectoryTest()
        : m_server(m_io, ServerOptions{}, Catalogue::sample(),
                   std::make_unique<SqliteAccountStore>(":memory:"))
    {
        m_directory.setNode("here");
    }

    ClientSession *logIn(const std::string &key)
    {
        m_sessions.push_back(std::make_shared<ClientSession>(asio::ip::tcp::socket(m_io), m_server,
                                                             m_sessions.size() + 1, "127.0.0.1"));
        m_local[key] = m_sessions.back().get();
        return m_sessions.back().get();
    }

    std::vector<std::string> keysAt(const std::string &node) const
    {
        auto keys = m_directory.remote().keysOf(node);
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    asio::io_context m_io;
    LobbyServer m_server;
    std::vector<std::shared_ptr<ClientSession>> m_sessions;
    PlayerDirectory::LocalPlayers m_local;
    PlayerDirectory m_directory{m_local};
};

TEST_F(PlayerDirectoryTest, ANameLeadsToTheSessionHereOrToTheNodeOfThePlayer)
{
    auto *anna = logIn("anna");
    m_directory.list("n2", player("bo"));
    // Listed at another node for a moment while a newer login here takes over.
    m_directory.list("n2", player("anna"));

    const auto here = m_directory.find("ANNA");
    ASSERT_TRUE(here);
    EXPECT_EQ(here->key(), "anna");
    EXPECT_EQ(here->session(), anna);
    EXPECT_EQ(here->node(), "");

    const auto there = m_directory.find("Bo");
    ASSERT_TRUE(there);
    EXPECT_EQ(there->key(), "bo");
    EXPECT_EQ(there->session(), nullptr);
    EXPECT_EQ(there->node(), "n2");

    EXPECT_FALSE(m_directory.find("cleo"));
    EXPECT_EQ(m_directory.size(), 3u);
}

TEST_F(PlayerDirectoryTest, AnAnswerGoesBackToTheNodeItWasAskedFrom)
{
    auto *anna = logIn("anna");
    // Bo is listed at n3 by now; the request came from n2, where the asker waits.
    m_directory.list("n3", player("bo"));
    const auto back = m_directory.at("n2", "bo");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->node(), "n2");
    EXPECT_EQ(back->session(), nullptr);

    const auto mine = m_directory.at("here", "anna");
    ASSERT_TRUE(mine);
    EXPECT_EQ(mine->session(), anna);
    // The asker here has gone: nobody to answer.
    EXPECT_FALSE(m_directory.at("here", "cleo"));
}

// A departure names the node whose session ended; a session of the same name elsewhere,
// or here, is another login and stays listed.
TEST_F(PlayerDirectoryTest, ADepartureRemovesOnlyTheSessionAtTheNodeItNames)
{
    struct Case
    {
        const char *name;
        const char *listedAt; // "" for not listed at another node
        bool localHere;
        cluster::Departure departure;
        bool forgotten;
        bool takenOverHere;
        const char *listedAfter;
    };
    const Case cases[] = {
        {"an ordinary logoff at its node", "n2", false, {"n2", "bo", "Bo", "n2"}, true, false, ""},
        {"an older session's departure after a newer login at n3",
         "n3",
         false,
         {"n2", "bo", "Bo", "n2"},
         false,
         false,
         "n3"},
        {"a newer login at n2 ends the session here",
         "",
         true,
         {"n2", "bo", "Bo", "here"},
         false,
         true,
         ""},
        {"the session at n2 that a login here replaced",
         "",
         true,
         {"n2", "bo", "Bo", "n2"},
         false,
         false,
         ""},
        {"n3 ends a session at n2", "n2", false, {"n3", "bo", "Bo", "n2"}, true, false, ""},
        {"nobody of that name", "", false, {"n2", "bo", "Bo", "here"}, false, false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m_local.clear();
        for (const auto *node : {"n2", "n3"})
            m_directory.forgetNode(node);
        if (*c.listedAt)
            m_directory.list(c.listedAt, player("bo"));
        ClientSession *local = c.localHere ? logIn("bo") : nullptr;

        const auto departed = m_directory.depart(c.departure);
        EXPECT_EQ(departed.forgotten.has_value(), c.forgotten);
        if (departed.forgotten) {
            EXPECT_EQ(departed.forgotten->name, "Bo");
        }
        EXPECT_EQ(departed.takenOverHere, c.takenOverHere);

        const auto found = m_directory.find("bo");
        if (local) {
            // The directory never ends a session here; the server does, on its rules.
            ASSERT_TRUE(found);
            EXPECT_EQ(found->session(), local);
        } else if (*c.listedAfter) {
            ASSERT_TRUE(found);
            EXPECT_EQ(found->node(), c.listedAfter);
        } else {
            EXPECT_FALSE(found);
        }
    }
}

TEST_F(PlayerDirectoryTest, OfTwoLoginsAtOnceTheLaterStaysAndEqualTimesGoToTheGreaterNode)
{
    struct Case
    {
        double since;
        const char *node;
        double otherSince;
        const char *otherNode;
        bool stays;
    };
    const Case cases[] = {
        {2000.5, "a", 2000.25, "b", true},
        {2000.25, "b", 2000.5, "a", false},
        {2000.5, "b", 2000.5, "a", true},
        {2000.5, "a", 2000.5, "b", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(PlayerDirectory::laterLogin(c.since, c.node, c.otherSince, c.otherNode), c.stays)
            << c.since << " at " << c.node << " against " << c.otherSince << " at " << c.otherNode;
        // Both nodes come to the same answer.
        EXPECT_NE(PlayerDirectory::laterLogin(c.otherSince, c.otherNode, c.since, c.node), c.stays);
    }
}

TEST_F(PlayerDirectoryTest, ASnapshotListsArrivalsAndForgetsWhomItNoLongerHolds)
{
    m_directory.list("n2", player("anna"));
    m_directory.list("n2", player("bo"));
    m_directory.list("n2", player("cleo"));
    m_directory.list("n3", player("dan"));

    auto moved = player("bo", "Cards");
    const auto change =
        m_directory.compare(cluster::Snapshot{"n2", {player("anna"), moved, player("eve")}});

    std::vector<std::string> arrived;
    for (const auto &p : change.arrived)
        arrived.push_back(p.key);
    std::sort(arrived.begin(), arrived.end());
    // Anna is as listed; Bo moved; Eve is new.
    EXPECT_EQ(arrived, (std::vector<std::string>{"bo", "eve"}));
    ASSERT_EQ(change.left.size(), 1u);
    EXPECT_EQ(change.left[0].name, "Cleo");
    // Arrivals are for the server to list (a listing may end a session here).
    EXPECT_EQ(keysAt("n2"), (std::vector<std::string>{"anna", "bo"}));
    EXPECT_EQ(keysAt("n3"), (std::vector<std::string>{"dan"}));
}

// A node that stalls is taken for gone and its players forgotten; when it is heard again,
// it must be asked for them, or they stay unlisted although online all along.
TEST_F(PlayerDirectoryTest, ANodeHeardAfterItWasTakenForGoneIsAskedForItsPlayers)
{
    const auto t0 = PlayerDirectory::Clock::now();
    EXPECT_TRUE(m_directory.heard(cluster::Heartbeat{"n2"}, t0));
    EXPECT_FALSE(m_directory.heard(cluster::Heartbeat{"n2"}, t0 + 1s));
    EXPECT_FALSE(m_directory.heard(cluster::Presence{"n2", player("bo")}, t0 + 2s));
    m_directory.list("n2", player("bo"));

    EXPECT_TRUE(m_directory.silentSince(t0 + 1500ms).empty());
    EXPECT_EQ(m_directory.silentSince(t0 + 3s), (std::vector<std::string>{"n2"}));
    const auto gone = m_directory.forgetNode("n2");
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_FALSE(m_directory.find("bo"));

    EXPECT_TRUE(m_directory.heard(cluster::Heartbeat{"n2"}, t0 + 10s));
    EXPECT_FALSE(m_directory.heard(cluster::Heartbeat{"n2"}, t0 + 11s));

    // A node that greets, sends its players or says goodbye asks for nothing.
    EXPECT_FALSE(m_directory.heard(cluster::Hello{"n3"}, t0));
    EXPECT_FALSE(m_directory.heard(cluster::Snapshot{"n4", {}}, t0));
    EXPECT_FALSE(m_directory.heard(cluster::Bye{"n5"}, t0));
}

TEST_F(PlayerDirectoryTest, ALoginHereTakesThePlayerOffTheOtherNode)
{
    m_directory.list("n2", player("bo", "Cards"));
    const auto taken = m_directory.takeOver("bo");
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->node, "n2");
    EXPECT_EQ(taken->room, "Cards");
    EXPECT_FALSE(m_directory.find("bo"));
    EXPECT_FALSE(m_directory.takeOver("bo"));
}

} // namespace
