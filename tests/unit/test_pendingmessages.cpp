#include "pendingmessages.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

TEST(PendingMessages, MessagesWaitOldestFirstAndEachTakeRemovesExactlyOne)
{
    PendingMessages q;
    QSignalSpy changed(&q, &PendingMessages::changed);
    q.add("bob", "1:00 PM+first");
    q.add("Carol", "1:01 PM+second");
    q.add("bob", "1:02 PM+third");
    EXPECT_EQ(changed.count(), 3);
    EXPECT_EQ(q.indexOf("bob"), 0);
    EXPECT_EQ(q.indexOf("carol"), -1); // the tray's hint is the exact name
    EXPECT_EQ(q.indexOf("carol", Qt::CaseInsensitive), 1);

    EXPECT_EQ(q.take(0), (PendingMessage{"bob", "1:00 PM+first"}));
    EXPECT_EQ(q.indexOf("bob"), 1); // the next one of the same sender
    EXPECT_TRUE(q.hasFrom("BOB"));
    EXPECT_EQ(q.take(1), (PendingMessage{"bob", "1:02 PM+third"}));
    EXPECT_FALSE(q.hasFrom("bob")); // the mail icon goes with the last one
    EXPECT_TRUE(q.hasFrom("cArOl"));
    EXPECT_EQ(changed.count(), 5);
}

TEST(PendingMessages, ABadIndexTakesNothingAndTellsNobody)
{
    PendingMessages q;
    q.add("bob", "hi");
    QSignalSpy changed(&q, &PendingMessages::changed);
    for (int index : {-1, 1, 100})
        EXPECT_EQ(q.take(index), PendingMessage{}) << index;
    EXPECT_EQ(q.count(), 1);
    EXPECT_EQ(changed.count(), 0);
}

TEST(PendingMessages, SenderNamesAreDecodedAsShownAndMatchedWithoutRegardToCase)
{
    PendingMessages q;
    q.add("J\xc3\xa9r\xc3\xb4me", "utf-8"); // valid UTF-8
    q.add("Ren\xe9", "windows-1252");       // a legacy peer
    EXPECT_EQ(q.at(0).senderName(), QStringLiteral("Jérôme"));
    EXPECT_EQ(q.at(1).senderName(), QStringLiteral("René"));
    EXPECT_TRUE(q.hasFrom(QStringLiteral("JÉRÔME")));
    EXPECT_EQ(q.indexOf(QStringLiteral("RENÉ"), Qt::CaseInsensitive), 1);
}
