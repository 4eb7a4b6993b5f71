#include "hostingsession.h"

#include <gtest/gtest.h>

TEST(HostingSession, OnlyTheAskedHostsAnswerStartsTheJoinInTheJoinsMode)
{
    HostingSession s;
    EXPECT_FALSE(s.isJoinHost("bob")); // nothing asked: nobody's answer counts
    s.setMode("a");
    s.askedToJoin("Bob");
    s.setMode("e"); // hosting something else meanwhile changes the next program's mode
    const std::pair<QByteArray, bool> answers[] = {
        {"bob", true}, {"BOB", true}, {"Bob", true}, {"bobby", false}, {"", false}, {"carl", false},
    };
    for (const auto &[id, counts] : answers)
        EXPECT_EQ(s.isJoinHost(id), counts) << id.data();
    s.joinAnswered();
    EXPECT_FALSE(s.joinPending());
    EXPECT_EQ(s.mode(), "a");
    EXPECT_FALSE(s.isJoinHost("bob")); // a second answer starts nothing
}

TEST(HostingSession, ARefusedJoinOrALostConnectionLeavesNoJoinWaiting)
{
    for (int how = 0; how < 2; ++how) {
        HostingSession s;
        s.askedToJoin("bob");
        ASSERT_TRUE(s.joinPending());
        if (how == 0)
            s.joinEnded();
        else
            s.reset();
        EXPECT_FALSE(s.isJoinHost("bob")) << how;
    }
}

TEST(HostingSession, TheProgramGetsEachValueAsOneArgument)
{
    HostingSession s;
    s.setProgram("/games/plumbrix game");
    s.setMode("a");
    EXPECT_EQ(s.launchArguments(QStringLiteral("Ánna b"), "10.0.0.2", true),
              (QStringList{QStringLiteral("Ánna b"), "10.0.0.2", "true", "a"}));
    EXPECT_EQ(s.launchArguments(QStringLiteral("anna"), "127.0.0.1", false),
              (QStringList{"anna", "127.0.0.1", "false", "a"}));
}

TEST(HostingSession, JoinersAreSentTheRoutersAddressOnlyWhileItForwardsThePort)
{
    HostingSession s;
    EXPECT_EQ(s.addressForJoiners("192.168.1.5"), "192.168.1.5");
    s.awaitRouter("anna - Plumbrix", QStringLiteral("Plumbrix"));
    EXPECT_EQ(s.takeRouterEntry(), "anna - Plumbrix");
    EXPECT_TRUE(s.takeRouterEntry().isEmpty()); // a late second answer finds nobody waiting
    EXPECT_EQ(s.routerLabel(), "Plumbrix");
    s.setRouterAddress("198.51.100.7");
    EXPECT_EQ(s.addressForJoiners("192.168.1.5"), "198.51.100.7");
    s.endRouter();
    EXPECT_EQ(s.addressForJoiners("192.168.1.5"), "192.168.1.5");
}
