#include "encryptit.h"
#include "lineframer.h"
#include "orvexutils.h"
#include "torvexserverstats.h"
#include "torvexuser.h"
#include "wirecatalogueline.h"
#include "wirekeyword.h"
#include "wireplayerentry.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using namespace ostrel;

TEST(WireCipher, UsesOnlyTheHighByteOfTheKeyAndIsItsOwnInverse)
{
    const std::string plain = std::string("LOGIN|bob|0121|pw\r\0\xff", 21);
    const std::string scrambled = Encrypt(plain, kWireKey);
    ASSERT_EQ(scrambled.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i)
        EXPECT_EQ(static_cast<unsigned char>(scrambled[i]),
                  static_cast<unsigned char>(plain[i]) ^ 0x1F)
            << i;
    EXPECT_EQ(Decrypt(scrambled, kWireKey), plain);
    EXPECT_EQ(Encrypt(plain, 0x1F00 | 0xAB), scrambled); // the low byte plays no part
    EXPECT_EQ(Encrypt("", kWireKey), "");
    EXPECT_EQ(Encrypt("abc", 0x00FF), "abc");
}

TEST(TokenRule, Table)
{
    struct Case
    {
        std::string input;
        char separator;
        std::vector<std::string> tokens; // the first tokens read in turn
        std::string rest;                // what is left afterwards
    };
    const std::vector<Case> cases = {
        {"a|b|c", '|', {"a", "b"}, "c"},
        {"a|b|c", '|', {"a", "b", "c"}, ""},
        {"a||c", '|', {"a", "", "c"}, ""},
        {"abc", '|', {"abc"}, ""},
        {"", '|', {"", "", ""}, ""}, // reading past the end keeps yielding empty tokens
        {"a|", '|', {"a"}, ""},      // a trailing separator leaves the rest empty
        {"|x", '|', {""}, "x"},
        {"1.2.3", '.', {"1"}, "2.3"},
        {"a^^", '^', {"a", ""}, ""},
    };
    for (const auto &c : cases) {
        std::string s = c.input;
        std::string_view v = c.input;
        for (const auto &expected : c.tokens) {
            EXPECT_EQ(ExtractToken(s, c.separator), expected) << c.input;
            EXPECT_EQ(ExtractToken(v, c.separator), expected) << c.input;
        }
        EXPECT_EQ(s, c.rest) << c.input;
        EXPECT_EQ(v, c.rest) << c.input;
    }
}

namespace {

std::vector<std::string> drain(LineFramer &framer)
{
    std::vector<std::string> out;
    std::string_view line;
    while (framer.nextLine(line))
        out.emplace_back(line);
    return out;
}

} // namespace

TEST(LineFraming, ChunksTable)
{
    struct Case
    {
        std::vector<std::string> chunks;
        std::vector<std::string> lines; // all lines complete after the last chunk
        std::size_t pending;
    };
    const std::vector<Case> cases = {
        {{"one\ntwo\nthr"}, {"one", "two"}, 3},
        {{"one\ntwo\nthr", "ee\n"}, {"one", "two", "three"}, 0},
        {{"half", "\n"}, {"half"}, 0},     // a lone line feed ends the line
        {{"a\n\nb\n"}, {"a", "", "b"}, 0}, // an empty line is a line
        {{"keep\r\n"}, {"keep\r"}, 0},     // carriage returns are kept
        {{"x", "y", "z"}, {}, 3},
        {{"\n"}, {""}, 0},
    };
    for (const auto &c : cases) {
        LineFramer framer;
        std::vector<std::string> lines;
        for (const auto &chunk : c.chunks) {
            ASSERT_TRUE(framer.append(chunk));
            for (auto &l : drain(framer))
                lines.push_back(l);
        }
        EXPECT_EQ(lines, c.lines) << c.chunks.front();
        EXPECT_EQ(framer.pendingSize(), c.pending) << c.chunks.front();
    }
}

TEST(LineFraming, PartialLineIsCappedButCompleteLinesAreNot)
{
    LineFramer framer(16);
    EXPECT_TRUE(framer.append(std::string(40, 'a') + "\n" + std::string(10, 'b')));
    EXPECT_EQ(drain(framer).size(), 1u);
    EXPECT_TRUE(framer.append(std::string(6, 'b'))); // 16 pending: still fine
    EXPECT_FALSE(framer.append("c"));                // 17 pending: over the cap
    EXPECT_TRUE(framer.overflowed());
    EXPECT_TRUE(drain(framer).empty());
    EXPECT_FALSE(framer.append("more\n"));
    EXPECT_TRUE(drain(framer).empty());
    framer.clear();
    EXPECT_TRUE(framer.append("fresh\n"));
    EXPECT_EQ(drain(framer), std::vector<std::string>{"fresh"});
}

TEST(LineFraming, LinesAheadOfAnOverflowingTailAreStillHandedOut)
{
    LineFramer framer(8);
    EXPECT_TRUE(framer.append("abc"));
    EXPECT_FALSE(framer.append("\nPING|\nlast\n" + std::string(9, 'x')));
    EXPECT_TRUE(framer.overflowed());
    EXPECT_EQ(drain(framer), (std::vector<std::string>{"abc", "PING|", "last"}));
    EXPECT_EQ(framer.pendingSize(), 0u);
}

TEST(UserRecord, NewRecordSavesDefaults)
{
    const TOrvexUser user;
    const std::string zero = " 0.00000000000000E+0000";
    const std::string expected = "^^^^^^^^^" + zero + "^" + zero + "^0^^0^" + zero + "^" +
                                 TOrvexUser::kDefaultAccountClass + "^0^0^1^^" + zero + "^^";
    EXPECT_EQ(user.SaveToString(), expected);
    EXPECT_NE(user.AccountClass, "T");
    EXPECT_NE(user.AccountClass, "H");
    EXPECT_NE(user.AccountClass, "S");
}

TEST(UserRecord, DateFormTable)
{
    const std::vector<std::pair<double, std::string>> cases = {
        {38716.5, " 3.87165000000000E+0004"}, {0, " 0.00000000000000E+0000"},
        {-1.25, "-1.25000000000000E+0000"},   {0.000123, " 1.23000000000000E-0004"},
        {1e300, " 1.00000000000000E+0300"},   {45678.123456789012345, " 4.56781234567890E+0004"},
    };
    for (const auto &[value, text] : cases) {
        EXPECT_EQ(TOrvexUser::FormatDate(value), text) << value;
        EXPECT_EQ(TOrvexUser::FormatDate(value).size(), 23u);
    }
}

TEST(UserRecord, ReadDateAcceptsBothFormsAndDefaultsToZero)
{
    const std::vector<std::pair<std::string, double>> cases = {
        {" 3.87165000000000E+0004", 38716.5},
        {"38716.5", 38716.5},
        {"-2", -2},
        {"1e2", 100},
        {"  +4.5E-1", 0.45},
        {"", 0},
        {"abc", 0},
        {"12abc", 0},
        {"inf", 0},
        {"nan", 0},
        {"1e999", 0},
    };
    for (const auto &[text, value] : cases)
        EXPECT_DOUBLE_EQ(TOrvexUser::ReadDate(text), value) << text;
}

TEST(UserRecord, RoundTripKeepsEveryField)
{
    TOrvexUser user;
    user.UserName = "bob";
    user.Password = "secret";
    user.FirstName = "Bob";
    user.LastName = "Stone";
    user.City = "Leeds";
    user.Country = "UK";
    user.EMail = "bob@example.org";
    user.HomePage = "http://example.org/";
    user.Comments = "hello/r/there";
    user.FirstLogin = 38716.5;
    user.AuxDate = 40000.123456789;
    user.LoginCount = 42;
    user.ICQ = "123";
    user.AuxNumber = -7;
    user.MemberSince = 39000.25;
    user.AccountClass = "H";
    user.MinutesPlayed = 600;
    user.SilenceLeft = 5;
    user.Hat = "4";
    user.AuxText = "x";
    user.AuxDate2 = 41000.75;
    user.Gender = "Female";
    TOrvexUser loaded;
    loaded.LoadFromString(user.SaveToString());
    EXPECT_EQ(loaded, user);
    EXPECT_EQ(loaded.SaveToString(), user.SaveToString());
}

TEST(UserRecord, LenientAndStrictIntegerFields)
{
    auto record = [](const std::string &p12, const std::string &p14, const std::string &p17,
                     const std::string &p18) {
        return "u^p^f^l^c^k^e^h^m^1^2^" + p12 + "^i^" + p14 + "^3^H^" + p17 + "^" + p18 +
               "^7^t^4^Male^trailing^ignored";
    };
    TOrvexUser user;
    user.LoadFromString(record("5", "-6", "abc", ""));
    EXPECT_EQ(user.LoginCount, 5);
    EXPECT_EQ(user.AuxNumber, -6);
    EXPECT_EQ(user.MinutesPlayed, 0);
    EXPECT_EQ(user.SilenceLeft, 0);
    EXPECT_EQ(user.Gender, "Male");

    struct Bad
    {
        std::string text;
        const char *lastSet; // field that keeps the new value
    };
    for (const auto &[p12, p14] : std::vector<std::pair<std::string, std::string>>{
             {"x", "1"}, {"", "1"}, {"1", "1.5"}, {"1", ""}, {"99999999999", "1"}}) {
        TOrvexUser old;
        old.ICQ = "old-icq";
        old.Hat = "9";
        EXPECT_THROW(old.LoadFromString(record(p12, p14, "1", "1")), EConvertError);
        EXPECT_EQ(old.UserName, "u");
        EXPECT_DOUBLE_EQ(old.AuxDate, 2); // position 11 is read before the failure
        EXPECT_EQ(old.Hat, "9");          // later fields keep their old values
        if (p12 == "1")
            EXPECT_EQ(old.ICQ, "i");
        else
            EXPECT_EQ(old.ICQ, "old-icq");
    }
}

TEST(UserRecord, RecordCutAfterPositionNineFailsAtTwelve)
{
    TOrvexUser user;
    EXPECT_THROW(user.LoadFromString("u^p^f^l^c^k^e^h^m^"), EConvertError);
    EXPECT_EQ(user.Comments, "m");
    EXPECT_DOUBLE_EQ(user.FirstLogin, 0);
    EXPECT_EQ(user.LoginCount, 0);
}

TEST(ServerStats, Table)
{
    TOrvexServerStats stats;
    const auto *address = &stats;
    stats.LoadFromString("1`2`3`4`5`6`7.5`0.25");
    EXPECT_EQ(&stats, address);
    EXPECT_EQ(stats.Int1, 1);
    EXPECT_EQ(stats.Int2, 2);
    EXPECT_EQ(stats.Int3, 3);
    EXPECT_EQ(stats.Int4, 4);
    EXPECT_EQ(stats.Int5, 5);
    EXPECT_EQ(stats.Int6, 6);
    EXPECT_DOUBLE_EQ(stats.Real1, 7.5);
    EXPECT_DOUBLE_EQ(stats.Real2, 0.25);

    // Fewer than eight values: the reading stops at the first missing one, keeping the
    // values read before it.
    TOrvexServerStats partial;
    partial.Int5 = 99;
    EXPECT_THROW(partial.LoadFromString("10`20`30`40"), EConvertError);
    EXPECT_EQ(partial.Int4, 40);
    EXPECT_EQ(partial.Int5, 99);

    for (const char *bad : {"1`2`3`4`5`6.5`7`8", "1`2`3`4`5`6`7`", "1`2`3`4`5`6`x`8", ""}) {
        TOrvexServerStats s;
        EXPECT_THROW(s.LoadFromString(bad), EConvertError) << bad;
    }
}

TEST(PlayerEntry, WhatTheServerWritesTheClientReadsBack)
{
    const std::vector<ostrel::WirePlayerEntry> entries = {
        {"ann", "2", "Lobby Chat", ""},
        {"bob", "17", "Dice", "bob - Dice"},
        {"eve", "1", "Cards", "eve + friends - Cards"}, // the game may hold "+"
        {"", "", "", ""},
    };
    for (const auto &e : entries) {
        const std::string text = e.text();
        const auto back = ostrel::WirePlayerEntry::parse(text);
        EXPECT_EQ(back.name, e.name) << text;
        EXPECT_EQ(back.level, e.level) << text;
        EXPECT_EQ(back.room, e.room) << text;
        EXPECT_EQ(back.game, e.game) << text;
    }
    EXPECT_EQ(ostrel::WirePlayerEntry::format("bob", "17", "Dice", "x"), "bob+17+Dice+x");
    // A field is only read when its "+" follows: a cut entry leaves the rest empty.
    const auto cut = ostrel::WirePlayerEntry::parse("bob+17");
    EXPECT_EQ(cut.name, "bob");
    EXPECT_EQ(cut.level, "");
    EXPECT_EQ(cut.room, "");
}

TEST(CatalogueLine, Table)
{
    using L = ostrel::WireCatalogueLine;
    struct Case
    {
        std::string_view line;
        L::Tag tag;
        std::string id;
        std::string version;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"game:Word:alpha:1.6.7:/files/a:b.exe", L::Game, "alpha", "1.6.7", "/files/a:b.exe"},
        {"myll:Dice:beta:1:p", L::MyLadder, "beta", "1", "p"},
        {"rmll:Dice:beta", L::RmLadder, "beta", "", ""},
        {"vers:1.6.10:0:", L::Version, "", "1.6.10", ""},
        {"GAME:Word:alpha:1:p", L::Unknown, "", "", ""},
        {"game", L::Unknown, "", "", ""},
        {"", L::Unknown, "", "", ""},
    };
    for (const auto &c : cases) {
        const L l = L::parse(c.line);
        EXPECT_EQ(l.tag, c.tag) << c.line;
        EXPECT_EQ(l.id, c.id) << c.line;
        EXPECT_EQ(l.version, c.version) << c.line;
        EXPECT_EQ(l.path, c.path) << c.line;
    }
}

TEST(WireKeyword, EverySpellingLooksUpItsOwnWord)
{
    for (std::size_t i = 0; i < ostrel::kWireKeywordCount; ++i) {
        const auto keyword = static_cast<ostrel::WireKeyword>(i);
        const std::string_view text = ostrel::wireSpelling(keyword);
        ASSERT_FALSE(text.empty()) << i;
        EXPECT_EQ(ostrel::wireKeyword(std::string(text)), keyword) << text;
    }
    // A few spellings as the wire has them, against a table that is in the wrong order.
    EXPECT_EQ(ostrel::wireSpelling(ostrel::WireKeyword::LOGIN), "LOGIN");
    EXPECT_EQ(ostrel::wireSpelling(ostrel::WireKeyword::GREMOVEGUEST), "GREMOVEGUEST");
    EXPECT_EQ(ostrel::wireSpelling(ostrel::WireKeyword::BOOT), "BOOT");
}

TEST(WireKeyword, OtherFieldsAreNoWord)
{
    using namespace std::string_view_literals;
    for (const std::string_view field :
         {""sv, "login"sv, "Login"sv, "LOGIn"sv, "LOGI"sv, "LOGINNEWS"sv, "LOGIN "sv, " LOGIN"sv,
          "LOGIN|"sv, "PING\r"sv, "SEND\0"sv, "GREMOVEGUES"sv, "REMOVEGUESTS"sv, "A"sv, "ZZZZ"sv,
          "\xff"sv, "SEND|CHAT"sv}) {
        EXPECT_EQ(ostrel::wireKeyword(field), std::nullopt) << field;
    }
}

TEST(WireKeyword, LinesTable)
{
    using ostrel::WireKeyword;
    using ostrel::wireLine;
    const std::string name = "bob";
    EXPECT_EQ(wireLine(WireKeyword::PING, ""), "PING|");
    EXPECT_EQ(wireLine(WireKeyword::SUBJECTS), "SUBJECTS");
    EXPECT_EQ(wireLine(WireKeyword::USERINFO, name, ""), "USERINFO|bob|");
    EXPECT_EQ(wireLine(WireKeyword::SEND, name, WireKeyword::PMES, "a|b"), "SEND|bob|PMES|a|b");
    EXPECT_EQ(wireLine(WireKeyword::LOGIN, "ann", ostrel::kWireRevision, "pw"),
              "LOGIN|ann|0121|pw");
}
