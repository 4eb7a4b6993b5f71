#include "favourites.h"

#include <gtest/gtest.h>

TEST(Favourites, ARoomIsListedOnceWhateverItsLetterCase)
{
    Favourites f;
    EXPECT_TRUE(f.add(QStringLiteral("Plumbrix")));
    EXPECT_FALSE(f.add(QStringLiteral("PLUMBRIX")));
    EXPECT_TRUE(f.add(QStringLiteral("Dice Games")));
    EXPECT_EQ(f.rooms(), (QStringList{"Plumbrix", "Dice Games"}));
    EXPECT_TRUE(f.contains(QStringLiteral("plumbrix")));
    EXPECT_FALSE(f.contains(QStringLiteral("Plumbri")));
}

TEST(Favourites, RemovingTakesTheRoomOutInAnyCaseAndKeepsTheOrder)
{
    Favourites f;
    for (const char *room : {"a", "B", "c"})
        f.add(QString::fromLatin1(room));
    EXPECT_TRUE(f.remove(QStringLiteral("b")));
    EXPECT_FALSE(f.remove(QStringLiteral("b")));
    EXPECT_FALSE(f.contains(QStringLiteral("B")));
    EXPECT_EQ(f.rooms(), (QStringList{"a", "c"}));
}

TEST(Favourites, EntriesAreTheBytesTheSettingsFileKeeps)
{
    Favourites f;
    f.add(QStringLiteral("Café"));
    f.add(QStringLiteral("x,y\\z"));
    EXPECT_EQ(f.entries(), (QList<QByteArray>{"Caf\xc3\xa9", "x,y\\z"}));
}
