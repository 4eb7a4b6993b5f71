#include "reconnector.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A reconnector after a login and a lost session, with a schedule of milliseconds.
struct Lost
{
    Reconnector r;
    Lost(double scale = 0.01)
    {
        r.policy().setJitter(0);
        r.policy().setScale(scale);
        r.loggedIn("anna", "secret");
    }
};

} // namespace

TEST(Reconnector, RetriesOnlyALoggedInSessionTheUserWantsBackWithoutAServerReason)
{
    struct Case
    {
        bool wanted, hasLogin, sessionLoggedIn;
        QByteArray lastLine;
        bool retries;
    } cases[] = {
        {true, true, true, "PING", true},
        {false, true, true, "PING", false},                 // switched off in the options
        {true, false, true, "PING", false},                 // no login that succeeded
        {true, true, false, "PING", false},                 // refused before logging in
        {true, true, true, "ERROR|You were booted", false}, // the server ended it
        {true, true, true, "ERROR", false},
        {true, true, true, "ERRORS|x", true}, // not an ERROR line
    };
    for (const Case &c : cases) {
        Reconnector r;
        if (c.hasLogin)
            r.loggedIn("anna", "secret");
        r.lineRead(c.lastLine);
        EXPECT_EQ(r.retriesAfterLoss(c.wanted, c.sessionLoggedIn), c.retries) << c.lastLine.data();
    }
}

TEST(Reconnector, ANewConnectionForgetsTheLastSessionsError)
{
    Reconnector r;
    r.loggedIn("anna", "secret");
    r.lineRead("ERROR|flooding");
    EXPECT_TRUE(r.serverGaveReason());
    r.connected();
    EXPECT_FALSE(r.serverGaveReason());
    EXPECT_TRUE(r.retriesAfterLoss(true, true));
}

TEST(Reconnector, TheWaitEndsInOneAttemptWithTheStoredLogin)
{
    Lost lost;
    Reconnector &r = lost.r;
    QSignalSpy due(&r, &Reconnector::attemptDue);
    QSignalSpy countdown(&r, &Reconnector::countdown);
    r.schedule();
    EXPECT_TRUE(r.reconnecting());
    ASSERT_EQ(countdown.count(), 1); // at once, not a second later
    EXPECT_EQ(countdown.at(0).at(0).toInt(), 1);
    ASSERT_TRUE(due.wait(2000));
    EXPECT_TRUE(r.beginAttempt());
    EXPECT_TRUE(r.attemptRunning());
    EXPECT_FALSE(r.beginAttempt()); // one try at a time
    EXPECT_EQ(r.name(), "anna");
    EXPECT_EQ(r.password(), "secret");
    r.attemptConnected();
    EXPECT_TRUE(r.loggedIn("anna", "secret")); // a try that logged in
    EXPECT_FALSE(r.reconnecting());
    EXPECT_EQ(r.policy().attempts(), 0);
    EXPECT_FALSE(r.loggedIn("anna", "secret")); // an ordinary login
}

TEST(Reconnector, ConnectNowTakesTheWaitingTryAndItsTimerNoLongerFires)
{
    Lost lost(1.0); // two seconds
    Reconnector &r = lost.r;
    QSignalSpy due(&r, &Reconnector::attemptDue);
    r.schedule();
    EXPECT_GE(r.secondsLeft(), 2);
    EXPECT_TRUE(r.beginAttempt());
    EXPECT_FALSE(due.wait(2600));
}

TEST(Reconnector, StopEndsTheWaitForgetsTheRoomAndTellsWhetherATryRan)
{
    Lost lost;
    Reconnector &r = lost.r;
    QSignalSpy due(&r, &Reconnector::attemptDue);
    r.keepRoom("Word Games");
    r.schedule();
    r.policy().nextDelay();
    EXPECT_FALSE(r.stop());
    EXPECT_FALSE(r.reconnecting());
    EXPECT_TRUE(r.rejoinRoom().isEmpty());
    EXPECT_TRUE(r.keptChatRoom().isEmpty());
    EXPECT_EQ(r.policy().attempts(), 0);
    EXPECT_FALSE(due.wait(100));

    r.schedule();
    ASSERT_TRUE(r.beginAttempt());
    EXPECT_TRUE(r.stop()); // the running try is to be cancelled
    EXPECT_FALSE(r.beginAttempt());
}

TEST(Reconnector, EachFailedTryWaitsLongerAndSocketErrorsStayQuietMeanwhile)
{
    Lost lost;
    Reconnector &r = lost.r;
    EXPECT_FALSE(r.swallowsSocketError(true, false)); // refused with no loss: a box
    EXPECT_TRUE(r.swallowsSocketError(true, true));
    EXPECT_FALSE(r.swallowsSocketError(false, true));
    r.schedule();
    EXPECT_TRUE(r.swallowsSocketError(false, false));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        QSignalSpy due(&r, &Reconnector::attemptDue);
        ASSERT_TRUE(due.wait(2000)) << attempt;
        ASSERT_TRUE(r.beginAttempt());
        r.schedule(); // the try failed
    }
    EXPECT_EQ(r.policy().attempts(), 4);
    EXPECT_EQ(r.policy().baseDelay(3).count(), 16000);
}

TEST(Reconnector, TheRoomToRejoinIsTakenOnceWhileItsChatStaysKept)
{
    Reconnector r;
    r.keepRoom("Dice Games");
    EXPECT_EQ(r.takeRejoinRoom(), "Dice Games");
    EXPECT_TRUE(r.takeRejoinRoom().isEmpty());
    EXPECT_EQ(r.keptChatRoom(), "Dice Games");
    r.clearKeptChatRoom();
    EXPECT_TRUE(r.keptChatRoom().isEmpty());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
