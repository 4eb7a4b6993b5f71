#include "lobbysettings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir &dir, const QByteArray &text)
{
    const QString path = dir.filePath(QStringLiteral("lobby.ini"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return path;
}

} // namespace

TEST(LobbyPreferences, AMissingFileGivesTheDefaults)
{
    QTemporaryDir dir;
    const LobbyPreferences p =
        LobbySettings(dir.filePath(QStringLiteral("none.ini"))).readPreferences();
    EXPECT_EQ(p, LobbyPreferences());
    EXPECT_TRUE(p.pmAlert && p.reconnect && p.lobbyChat && p.updates);
    EXPECT_FALSE(p.sentWithEnter || p.tourneyAlert);
    EXPECT_EQ(p.textSize, "8");
    EXPECT_EQ(p.textColor, TColor(TColor::clBlack));
}

TEST(LobbyPreferences, UnreadableValuesFallBackOneByOne)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "[Setting]\n"
                                        "Show=7\n"
                                        "Pmalert1=no\n"        // on unless exactly "false"
                                        "Tourneyalert1=TRUE\n" // off unless exactly "true"
                                        "Reconnect=false\n"
                                        "Textcolor=not a colour\n"
                                        "Actioncolor=clNavy\n"
                                        "Textsize=huge\n");
    const LobbyPreferences p = LobbySettings(path).readPreferences();
    EXPECT_EQ(p.show, 0);
    EXPECT_TRUE(p.pmAlert);
    EXPECT_FALSE(p.tourneyAlert);
    EXPECT_FALSE(p.reconnect);
    EXPECT_EQ(p.textColor, TColor(TColor::clBlack));
    EXPECT_EQ(p.actionColor, TColor(TColor::clNavy));
    EXPECT_EQ(p.textSize, "huge"); // kept as typed; applying it changes nothing
}

TEST(LobbyPreferences, WhatIsSavedLoadsBackAndOtherKeysStay)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "[Setting]\nName=ann\nPassword=a,b\\c\"\n");
    LobbyPreferences p;
    p.show = 2;
    for (const auto &[key, value] : LobbyPreferences::kSwitches)
        p.*value = !(p.*value);
    p.textColor = TColor(0x123456);
    p.actionColor = TColor(TColor::clPurple);
    p.textSize = QStringLiteral("12");
    p.boxTextSize = QStringLiteral("14");
    p.textFont = QStringLiteral("DejaVu Sans");
    LobbySettings settings(path);
    settings.writePreferences(p);
    EXPECT_EQ(LobbySettings(path).readPreferences(), p);
    EXPECT_EQ(settings.read("Name"), "ann");
    EXPECT_EQ(settings.read("Password"), "a,b\\c\"");
    EXPECT_EQ(settings.read("Pmalert1"), "false");
    EXPECT_EQ(settings.read("Actioncolor"), "clPurple");
}
