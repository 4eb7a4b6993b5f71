#include "notificationtext.h"
#include "tcolor.h"
#include "textcodec.h"

#include <gtest/gtest.h>

TEST(ColourText, ReadingTable)
{
    const QList<QPair<QByteArray, std::optional<std::int32_t>>> cases = {
        {"clBlack", TColor::clBlack},
        {"clblack", TColor::clBlack},
        {"clMaroon", TColor::clMaroon},
        {"CLRED", TColor::clRed},
        {"$00FF0000", TColor::clBlue},
        {"$00123456", 0x123456},
        {"$ff", 0xFF},
        {"255", 255},
        {"-2147483640", static_cast<std::int32_t>(0x80000008u)},
        {"clScrollBar", static_cast<std::int32_t>(0x80000000u)},
        {"clInfoBk", static_cast<std::int32_t>(0x80000018u)},
        {"clNone", TColor::clNone},
        {"", std::nullopt},
        {"clPink", std::nullopt},
        {"$", std::nullopt},
        {"$123456789", std::nullopt},
        {"$GG", std::nullopt},
        {"12x", std::nullopt},
    };
    for (const auto &[text, expected] : cases) {
        const auto got = TColor::fromText(text);
        ASSERT_EQ(got.has_value(), expected.has_value()) << text.constData();
        if (expected) {
            EXPECT_EQ(got->value(), *expected) << text.constData();
        }
    }
    EXPECT_EQ(TColor::chatColor("junk").value(), TColor::clNavy);
    EXPECT_EQ(TColor::chatColor("clRed").value(), TColor::clRed);
}

TEST(ColourText, WritingUsesNamesWhenThereAreAny)
{
    EXPECT_EQ(TColor(TColor::clBlack).toText(), "clBlack");
    EXPECT_EQ(TColor(TColor::clNavy).toText(), "clNavy");
    EXPECT_EQ(TColor(0x00A0B0C0).toText(), "$00A0B0C0");
    EXPECT_EQ(TColor(0x123).toText(), "$00000123");
    EXPECT_EQ(TColor(static_cast<std::int32_t>(0x8000000Fu)).toText(), "clBtnFace");
    for (std::int32_t v : {0, 0x0000FF, 0x00FF00, 0x123456, 0x00ABCDEF})
        EXPECT_EQ(TColor::fromText(TColor(v).toText())->value(), v);
}

TEST(ColourText, RedIsTheLowestByte)
{
    EXPECT_EQ(TColor(TColor::clRed).toQColor(), QColor(255, 0, 0));
    EXPECT_EQ(TColor(0x00332211).toQColor(), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(TColor::fromQColor(QColor(0x11, 0x22, 0x33)).value(), 0x00332211);
}

TEST(WireText, DecodesUtf8ElseWindows1252)
{
    EXPECT_EQ(decodeWireText("plain"), QString("plain"));
    EXPECT_EQ(decodeWireText("caf\xc3\xa9"), QString::fromUtf8("café"));
    EXPECT_EQ(decodeWireText("caf\xe9"), QString::fromUtf8("café"));
    EXPECT_EQ(decodeWireText("\x80 \x93quoted\x94"), QString::fromUtf8("€ “quoted”"));
    EXPECT_EQ(encodeWireText(QString::fromUtf8("café")), QByteArray("caf\xc3\xa9"));
}

TEST(NotificationText, OneLineOfPlainTextCutToItsFirstWords)
{
    const QString e(QChar(0x2026));
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two UTF-16 units
    struct Case
    {
        QString text;
        int max;
        QString expected;
    };
    const Case cases[] = {
        {"hello", 80, "hello"},
        {"a/r/b/r//r/c", 80, "a b c"},
        {"  tab\there\r\nnext\x0b", 80, "tab here next"},
        {QString("one") + QChar(0x2028) + "two" + QChar(0x2029) + "three", 80, "one two three"},
        {"<b>bold</b> & co", 80, "<b>bold</b> & co"},
        {"exactly ten", 11, "exactly ten"},
        // Cut at the last blank when it is near the end, else in the word.
        {"the quick brown fox jumps", 20, "the quick brown fox" + e},
        {"averyveryverylongwordwithoutblanks", 10, "averyvery" + e},
        {"abcdefgh" + smile + "xyz", 10, "abcdefgh" + e},
        {"", 80, ""},
        {"\r\n", 80, ""},
    };
    for (const Case &c : cases) {
        const QString got = notificationtext::oneLine(c.text, c.max);
        EXPECT_EQ(got, c.expected) << c.text.toStdString();
        EXPECT_LE(got.size(), c.max) << c.text.toStdString();
    }
    EXPECT_EQ(notificationtext::messagePreview("8:05:12 PM+hi+there/r/you"), "hi+there you");
    EXPECT_EQ(notificationtext::messagePreview("no time"), "no time");
    EXPECT_EQ(notificationtext::waitingText(1), "1 private message waiting");
    EXPECT_EQ(notificationtext::waitingText(12), "12 private messages waiting");
}
