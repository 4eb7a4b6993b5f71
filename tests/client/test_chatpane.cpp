#include "recordingplatform.h"
#include "tchatpane.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace {

class ChatPaneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pane.resize(400, 200);
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    }

    // The viewport point over the character at a document position.
    QPoint pointAt(int position)
    {
        QTextCursor c(pane.document());
        c.setPosition(position);
        const QRect r = pane.cursorRect(c);
        return QPoint(r.left() + 2, r.center().y());
    }

    RecordingPlatform seam;
    TChatPane pane;
};

TEST_F(ChatPaneTest, BoldRunsToTheFirstColonInTheLineColour)
{
    pane.addline("bob: hello: there", Qt::red);
    pane.addline("bob waves", Qt::blue);
    pane.addline("[bob TOURNAMENT] - at 9:", Qt::blue, true);
    pane.addline("plain: text", Qt::green, false);
    ASSERT_EQ(pane.document()->blockCount(), 4);
    EXPECT_EQ(pane.toPlainText(),
              "bob: hello: there\nbob waves\n[bob TOURNAMENT] - at 9:\nplain: text");

    auto formatAt = [this](int block, int offset) {
        QTextCursor c(pane.document()->findBlockByNumber(block));
        c.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, offset + 1);
        return c.charFormat();
    };
    EXPECT_EQ(formatAt(0, 3).fontWeight(), QFont::Bold);   // the ":" is bold
    EXPECT_EQ(formatAt(0, 6).fontWeight(), QFont::Normal); // after it regular
    EXPECT_EQ(formatAt(0, 6).foreground().color(), QColor(Qt::red));
    EXPECT_EQ(formatAt(1, 2).fontWeight(), QFont::Normal); // no colon: all regular
    EXPECT_EQ(formatAt(1, 2).foreground().color(), QColor(Qt::blue));
    EXPECT_EQ(formatAt(2, 20).fontWeight(), QFont::Bold); // colon last: all bold
    EXPECT_EQ(formatAt(3, 1).fontWeight(), QFont::Normal);
}

TEST_F(ChatPaneTest, EmptyLinesAreLinesAndClearingStartsOver)
{
    pane.addline("", Qt::black);
    pane.addline("second", Qt::black);
    pane.addline("", Qt::black);
    pane.addline("fourth", Qt::black);
    EXPECT_EQ(pane.toPlainText(), "\nsecond\n\nfourth");
    pane.clear();
    pane.addline("again", Qt::black);
    EXPECT_EQ(pane.toPlainText(), "again");
    EXPECT_EQ(pane.document()->blockCount(), 1);
}

TEST_F(ChatPaneTest, FollowsTheEndUnlessScrollIsOff)
{
    for (int i = 0; i < 200; ++i)
        pane.addline(QString("line %1").arg(i), Qt::black);
    QScrollBar *bar = pane.verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    pane.setScrollOff(true);
    bar->setValue(10);
    for (int i = 0; i < 50; ++i)
        pane.addline("more", Qt::black);
    EXPECT_EQ(bar->value(), 10);
    EXPECT_GT(bar->maximum(), 10);
}

TEST_F(ChatPaneTest, QueuedLinesKeepTheirPlaceAmongLinesWrittenAtOnce)
{
    pane.queueLine("ann has connected.", Qt::blue);
    pane.queueLine("bob: hi", Qt::red);
    pane.addline("carl: now", Qt::black); // the queued lines go first
    EXPECT_EQ(pane.toPlainText(), "ann has connected.\nbob: hi\ncarl: now");
    QTextCursor bold(pane.document()->findBlockByNumber(1));
    bold.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, 2);
    EXPECT_EQ(bold.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(bold.charFormat().foreground().color(), QColor(Qt::red));

    for (int i = 0; i < 200; ++i)
        pane.queueLine(QString("p%1 has connected.").arg(i), Qt::blue);
    EXPECT_EQ(pane.document()->blockCount(), 3); // written when the loop turns
    QScrollBar *bar = pane.verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane.document()->blockCount() == 203; }, 5000));
    EXPECT_EQ(pane.document()->lastBlock().text(), "p199 has connected.");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_GT(bar->maximum(), 0);

    // Emptying the pane takes the lines queued before it with it, not those after it.
    pane.queueLine("gone", Qt::black);
    pane.clear();
    pane.queueLine("kept", Qt::black);
    pane.flushLines();
    EXPECT_EQ(pane.toPlainText(), "kept");
    pane.queueLine("gone too", Qt::black);
    static_cast<QPlainTextEdit &>(pane).clear();
    pane.addline("after", Qt::black);
    EXPECT_EQ(pane.toPlainText(), "after");
}

TEST_F(ChatPaneTest, LinksShowAndOpenOnlyWhenSafe)
{
    pane.addline("ann: see http://example.org/page. now", Qt::black);
    pane.addline("eve: file:///etc/passwd and telnet://host.example", Qt::black);
    pane.addline("carl: www.example.org)", Qt::black);
    const int line2 = pane.document()->findBlockByNumber(1).position();
    const int line3 = pane.document()->findBlockByNumber(2).position();

    EXPECT_EQ(pane.linkAt(pointAt(12)), "http://example.org/page");
    EXPECT_FALSE(pane.isurlat(pointAt(2)));
    EXPECT_TRUE(pane.openurlat(pointAt(12)));
    EXPECT_EQ(pane.textCursor().selectedText(), "http://example.org/page");

    // Shown as links, but never handed to the desktop.
    EXPECT_TRUE(pane.openurlat(pointAt(line2 + 8)));
    EXPECT_TRUE(pane.openurlat(pointAt(line2 + 35)));
    EXPECT_TRUE(pane.openurlat(pointAt(line3 + 9)));
    EXPECT_EQ(seam.urls,
              (QList<QUrl>{QUrl("http://example.org/page"), QUrl("http://www.example.org")}));

    // A real click goes through the same path.
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, pointAt(12));
    EXPECT_EQ(seam.urls.size(), 3);
}

} // namespace
