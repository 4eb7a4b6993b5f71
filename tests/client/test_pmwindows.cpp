#include "privatemessagetext.h"
#include "recordingplatform.h"
#include "tchatlog.h"
#include "tchatpane.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include <vector>

namespace pm = privatemessagetext;

namespace {

struct LogLine
{
    QString text;
    QColor color;
    bool operator==(const LogLine &) const = default;
};

void PrintTo(const LogLine &line, std::ostream *os)
{
    *os << '"' << line.text.toStdString() << "\" " << line.color.name().toStdString();
}

QStringList paneLines(const QPlainTextEdit *pane)
{
    QStringList lines;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

template <typename T> T *child(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// A writing or reading window wired the way the lobby wires it, with everything that
// leaves it recorded.
class PmWindowsTest : public ::testing::Test
{
protected:
    struct Closed
    {
        QPoint topLeft;
        bool sendOnEnter = false;
    };

    QPointer<Tprivatemessageto> writer(const QByteArray &to, bool sendOnEnter = false,
                                       QPoint at = {60, 60})
    {
        auto *w = new Tprivatemessageto(to, sendOnEnter);
        w->OnSend = [this](const QByteArray &payload) {
            sent.push_back(payload);
            return true;
        };
        w->OnLog = [this](const QString &t, const QColor &c) { logged.push_back({t, c}); };
        w->OnClose = [this, w](const QPoint &p, bool enter) {
            closed.push_back({p, enter});
            closedRecipients.push_back(w->recipient());
        };
        w->showAt(at);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        return w;
    }

    QPointer<Tprivatemessagefrom> reader(const QByteArray &from, const QByteArray &text,
                                         QPoint at = {80, 80})
    {
        auto *r = new Tprivatemessagefrom;
        r->OnReply = [this](const QByteArray &sender) { replies.push_back(sender); };
        r->OnLog = [this](const QString &t, const QColor &c) { logged.push_back({t, c}); };
        r->OnClose = [this](const QPoint &p) { closed.push_back({p, false}); };
        r->loadmessage(from, text);
        r->showAt(at);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(r));
        return r;
    }

    static void type(QWidget *w, const QString &text)
    {
        child<QPlainTextEdit>(w, "memo_message")->setPlainText(text);
    }

    template <typename W> static bool gone(const QPointer<W> &w)
    {
        return QTest::qWaitFor([&] { return w.isNull(); }, 2000);
    }

    // The text part of a sent payload, and whether its time is one of the texts the
    // clock showed while the test ran.
    static QString textOf(const QByteArray &payload, const QByteArray &to)
    {
        EXPECT_TRUE(payload.startsWith(to + '|')) << payload.toStdString();
        return QString::fromUtf8(payload.mid(to.size() + 1));
    }

    RecordingPlatform seam;
    std::vector<QByteArray> sent;
    std::vector<LogLine> logged;
    std::vector<Closed> closed;
    std::vector<QByteArray> closedRecipients;
    std::vector<QByteArray> replies;
};

TEST_F(PmWindowsTest, ThreeLineMessageTravelsAndReadsBack)
{
    QPointer<Tprivatemessageto> w = writer("bob");
    EXPECT_EQ(w->windowTitle(), "Private Message to bob");
    EXPECT_EQ(child<QLabel>(w, "label_namelabel")->text(), "To:");
    EXPECT_EQ(child<QLabel>(w, "label_toname")->text(), "bob");
    type(w, "a\nb\nc");
    const QString before = pm::currentTimeText();
    QTest::mouseClick(child<QPushButton>(w, "button_send"), Qt::LeftButton);
    const QString after = pm::currentTimeText();
    ASSERT_TRUE(gone(w));

    ASSERT_EQ(sent.size(), 1u);
    const QString text = textOf(sent[0], "bob");
    const QString time = pm::splitMessageText(text).time;
    EXPECT_TRUE(time == before || time == after) << time.toStdString();
    EXPECT_FALSE(time.isEmpty());
    EXPECT_EQ(text, time + "+a/r/b/r/c");

    const QColor maroon(128, 0, 0);
    EXPECT_EQ(logged, (std::vector<LogLine>{{"At " + time + "  You wrote to bob : ", maroon},
                                            {"a", maroon},
                                            {"b", maroon},
                                            {"c", maroon}}));
    ASSERT_EQ(closed.size(), 1u);

    logged.clear();
    QPointer<Tprivatemessagefrom> r = reader("ann", text.toUtf8());
    EXPECT_EQ(r->windowTitle(), "Private Message from ann");
    EXPECT_EQ(child<QLabel>(r, "label_namelabel")->text(), "From:");
    EXPECT_EQ(child<QLabel>(r, "label_toname")->text(), "ann");
    const QString header = "At " + time + " ann wrote: ";
    EXPECT_EQ(paneLines(child<TChatPane>(r, "memo_message")),
              (QStringList{header, " a", "b", "c"}));
    const QColor navy(0, 0, 128);
    EXPECT_EQ(logged, (std::vector<LogLine>{{header, navy}, {"a\nb\nc", navy}}));
    r->close();
}

// Each line as the memo displays it travels as a line; empty lines travel but are not
// logged.
TEST_F(PmWindowsTest, WrappedAndEmptyLinesCountAsDisplayed)
{
    QPointer<Tprivatemessageto> w = writer("bob");
    auto *memo = child<QPlainTextEdit>(w, "memo_message");
    const QString longLine = QString("lorem ipsum dolor sit amet ").repeated(8).trimmed();
    // The line break at the very end is no line of its own.
    type(w, longLine + "\n\nend\n");

    auto check = [&](int width) {
        w->resize(width, 220);
        QCoreApplication::processEvents();
        const QStringList shown = w->displayedLines();
        EXPECT_GT(shown.size(), 4);
        EXPECT_EQ(shown.mid(0, shown.size() - 2).join(QString()), longLine);
        EXPECT_EQ(shown.mid(shown.size() - 2), (QStringList{"", "end"}));
        // Every displayed line ends inside the memo's width.
        const QFontMetrics metrics(memo->font());
        for (const QString &line : shown)
            EXPECT_LE(metrics.horizontalAdvance(line.trimmed()), memo->viewport()->width())
                << line.toStdString();
        return shown;
    };
    const QStringList wide = check(420);
    const QStringList shown = check(300); // the lines follow the width of the moment
    EXPECT_GT(shown.size(), wide.size());

    QTest::mouseClick(child<QPushButton>(w, "button_send"), Qt::LeftButton);
    ASSERT_EQ(sent.size(), 1u);
    const QString message = pm::splitMessageText(textOf(sent[0], "bob")).message;
    EXPECT_EQ(message, shown.join("/r/"));
    ASSERT_EQ(logged.size(), 1u + shown.size() - 1); // header, all lines but the empty one
    EXPECT_EQ(logged.back().text, "end");
}

TEST_F(PmWindowsTest, FailingSendIsReportedAndKeepsTheWindow)
{
    QPointer<Tprivatemessageto> w = writer("bob");
    w->OnSend = [](const QByteArray &) -> bool { throw std::runtime_error("no way out"); };
    type(w, "hello");
    QTest::mouseClick(child<QPushButton>(w, "button_send"), Qt::LeftButton);
    EXPECT_EQ(seam.errors, QStringList{"no way out"});
    EXPECT_TRUE(logged.empty());
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(child<QPlainTextEdit>(w, "memo_message")->toPlainText(), "hello");
    w->close();
}

TEST_F(PmWindowsTest, EmptyMessageSendsNothingAndCloses)
{
    QPointer<Tprivatemessageto> w = writer("bob", true);
    QTest::mouseClick(child<QPushButton>(w, "button_send"), Qt::LeftButton);
    EXPECT_TRUE(gone(w));
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(logged.empty());
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_TRUE(closed[0].sendOnEnter);
}

TEST_F(PmWindowsTest, EnterSendsOnlyWithEnterSendsPm)
{
    struct Case
    {
        bool sendOnEnter;
        Qt::Key key;
        bool sends;
    };
    const Case cases[] = {{true, Qt::Key_Return, true},
                          {true, Qt::Key_Enter, true},
                          {false, Qt::Key_Return, false},
                          {false, Qt::Key_Enter, false}};
    for (const Case &c : cases) {
        sent.clear();
        QPointer<Tprivatemessageto> w = writer("bob", c.sendOnEnter);
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        auto *memo = child<QPlainTextEdit>(w, "memo_message");
        // The memo has the focus whenever the window becomes active.
        EXPECT_EQ(QApplication::focusWidget(), memo);
        EXPECT_EQ(child<QCheckBox>(w, "sendonenter")->isChecked(), c.sendOnEnter);
        QTest::keyClicks(memo, "hi");
        QTest::keyClick(memo, c.key);
        if (c.sends) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_TRUE(sent[0].endsWith("+hi")) << sent[0].toStdString();
            EXPECT_TRUE(gone(w));
        } else {
            EXPECT_TRUE(sent.empty());
            EXPECT_EQ(memo->toPlainText(), "hi\n");
            EXPECT_TRUE(w->isVisible());
            w->close();
            EXPECT_TRUE(gone(w));
        }
    }
}

TEST_F(PmWindowsTest, TwoWritingWindowsKeepRecipientsAndPositions)
{
    QPointer<Tprivatemessageto> toAnn = writer("ann", false, {40, 50});
    QPointer<Tprivatemessageto> toBob = writer("bob", true, {300, 200});
    type(toAnn, "for ann");
    type(toBob, "for bob");
    toAnn->move(45, 70); // the user moves it

    QTest::mouseClick(child<QPushButton>(toBob, "button_send"), Qt::LeftButton);
    ASSERT_TRUE(gone(toBob));
    ASSERT_FALSE(toAnn.isNull());
    EXPECT_EQ(child<QPlainTextEdit>(toAnn, "memo_message")->toPlainText(), "for ann");
    QTest::mouseClick(child<QPushButton>(toAnn, "button_cancel"), Qt::LeftButton);
    ASSERT_TRUE(gone(toAnn));

    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].startsWith("bob|")) << sent[0].toStdString();
    EXPECT_TRUE(sent[0].endsWith("+for bob")) << sent[0].toStdString();
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closedRecipients, (std::vector<QByteArray>{"bob", "ann"}));
    EXPECT_EQ(closed[0].topLeft, QPoint(300, 200));
    EXPECT_TRUE(closed[0].sendOnEnter);
    EXPECT_EQ(closed[1].topLeft, QPoint(45, 70));
    EXPECT_FALSE(closed[1].sendOnEnter);
}

// Closing hands the foreground back to the window that was in front when the message
// window opened, not to whichever window the user visited meanwhile.
TEST_F(PmWindowsTest, ClosingGivesTheForegroundBack)
{
    QWidget lobby, other;
    lobby.setGeometry(0, 0, 300, 200);
    other.setGeometry(320, 0, 300, 200);
    other.show();
    lobby.show();
    lobby.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&lobby));

    QPointer<Tprivatemessageto> w = writer("bob");
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    QTest::mouseClick(child<QPushButton>(w, "button_cancel"), Qt::LeftButton);
    ASSERT_TRUE(gone(w));
    EXPECT_TRUE(QTest::qWaitForWindowActive(&lobby));
    EXPECT_TRUE(sent.empty());

    // A reply leaves the new writing window in front.
    QPointer<Tprivatemessagefrom> r = reader("ann", "t+hi");
    ASSERT_TRUE(QTest::qWaitForWindowActive(r));
    r->OnReply = [&](const QByteArray &sender) { w = writer(sender); };
    QTest::mouseClick(child<QPushButton>(r, "button_reply"), Qt::LeftButton);
    ASSERT_TRUE(gone(r));
    ASSERT_FALSE(w.isNull());
    EXPECT_EQ(w->recipient(), "ann");
    QCoreApplication::processEvents();
    EXPECT_TRUE(w->isActiveWindow());
    w->close();
}

TEST_F(PmWindowsTest, PlacementFallsBackToThreeAndKeepsIt)
{
    struct Case
    {
        int left, top;
        QPoint placed;
    };
    const QSize screen(1024, 768);
    const Case cases[] = {
        {232, 239, {232, 239}}, {627, 517, {627, 517}}, // exactly at the limits
        {628, 517, {3, 517}},   {627, 518, {627, 3}},
        {5000, 5000, {3, 3}},   {-40, 10, {3, 10}}, // left of the screen
    };
    for (const Case &c : cases) {
        int left = c.left, top = c.top;
        EXPECT_EQ(pm::placewindow(left, top, screen), c.placed) << c.left << "," << c.top;
        EXPECT_EQ(QPoint(left, top), c.placed);
    }

    int left = 100000, top = 171;
    EXPECT_EQ(Tprivatemessagefrom::placement(left, top), QPoint(3, 171));
    EXPECT_EQ(left, 3);
}

TEST_F(PmWindowsTest, ReaderHeaderAndLines)
{
    struct Case
    {
        QByteArray text;
        QStringList lines;
    };
    const Case cases[] = {
        // The automatic answer carries no time: two blanks after "At".
        {pm::kAutoAnswer.toLatin1(),
         {"At  ann wrote: ", " I have PRIVATE MESSAGES turned off. Please try back later!"}},
        {"9:00:01 AM+1+1=2/r/ok", {"At 9:00:01 AM ann wrote: ", " 1+1=2", "ok"}},
        {"9:00:01 AM+", {"At 9:00:01 AM ann wrote: ", " "}},
        {"t+/r//r/x", {"At t ann wrote: ", " ", "", "x"}},
        {"t+caf\xe9", {"At t ann wrote: ", " caf\u00e9"}}, // a legacy peer's text
    };
    for (const Case &c : cases) {
        QPointer<Tprivatemessagefrom> r = reader("ann", c.text);
        EXPECT_EQ(paneLines(child<TChatPane>(r, "memo_message")), c.lines) << c.text.data();
        r->close();
        ASSERT_TRUE(gone(r));
    }
}

TEST_F(PmWindowsTest, LongMessageOpensAtItsBeginning)
{
    QStringList lines;
    for (int i = 0; i < 60; ++i)
        lines << QString("line %1").arg(i);
    QPointer<Tprivatemessagefrom> r = reader("ann", "t+" + lines.join("/r/").toUtf8());
    QScrollBar *bar = child<TChatPane>(r, "memo_message")->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    r->close();
}

TEST_F(PmWindowsTest, OnlyTheAutomaticAnswerIsNotAnswered)
{
    EXPECT_TRUE(pm::isAutoAnswer(pm::kAutoAnswer.toLatin1()));
    EXPECT_TRUE(pm::isAutoAnswer("8:05:12 PM+" + pm::kAutoAnswer.toLatin1()));
    EXPECT_FALSE(pm::isAutoAnswer("8:05:12 PM+hello"));
    EXPECT_FALSE(pm::isAutoAnswer("8:05:12 PM+" + pm::kAutoAnswer.toLatin1() + "/r/more"));
    EXPECT_FALSE(pm::isAutoAnswer(""));
    EXPECT_EQ(pm::autoAnswerPayload("bob"),
              "bob|I have PRIVATE MESSAGES turned off. Please try back later!");
}

TEST_F(PmWindowsTest, TimeNeverCarriesThePlusThatEndsIt)
{
    // Zones without a name print as their offset, "+03" here.
    const QByteArray savedTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "Etc/GMT-3");
    tzset();
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QTime time(20, 5, 12);
    const QString zoned = us.toString(time, QLocale::LongFormat);
    const QString text = pm::timeText(us, time);
    const QString german = pm::timeText(QLocale(QLocale::German, QLocale::Germany), time);
    if (hadTz)
        qputenv("TZ", savedTz);
    else
        qunsetenv("TZ");
    tzset();

    EXPECT_TRUE(zoned.contains(u'+')) << zoned.toStdString();
    EXPECT_EQ(text, "8:05:12 PM");
    EXPECT_EQ(german, "20:05:12");
    EXPECT_EQ(pm::splitMessageText(pm::messageText(text, {"x"})).time, text);
}

TEST_F(PmWindowsTest, ReplyByButtonOrEnterAsksForAWriterAndCloses)
{
    // A name in a legacy encoding goes back out exactly as it came.
    const QByteArray sender = "J\xe9r";
    QPointer<Tprivatemessagefrom> r = reader(sender, "t+hi", {120, 130});
    EXPECT_EQ(child<QLabel>(r, "label_toname")->text(), QString("J\u00e9r"));
    QTest::mouseClick(child<QPushButton>(r, "button_reply"), Qt::LeftButton);
    ASSERT_TRUE(gone(r));
    EXPECT_EQ(replies, (std::vector<QByteArray>{sender}));
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].topLeft, QPoint(120, 130));

    r = reader("ann", "t+hi");
    auto *memo = child<TChatPane>(r, "memo_message");
    QTest::keyClick(memo, Qt::Key_Return);
    ASSERT_TRUE(gone(r));
    EXPECT_EQ(replies.back(), "ann");

    r = reader("ann", "t+hi");
    QTest::mouseClick(child<QPushButton>(r, "button_close"), Qt::LeftButton);
    ASSERT_TRUE(gone(r));
    EXPECT_EQ(replies.size(), 2u);
    EXPECT_EQ(closed.size(), 3u);
}

TEST_F(PmWindowsTest, ReaderCopiesSelectionAndOpensLinks)
{
    QPointer<Tprivatemessagefrom> r = reader("ann", "t+see http://example.org/x ok");
    auto *memo = child<TChatPane>(r, "memo_message");
    QAction *copy = r->findChild<QAction *>("Copy1");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "Copy");
    EXPECT_FALSE(copy->isEnabled());

    const QTextBlock line = memo->document()->findBlockByNumber(1);
    QTextCursor select(line);
    select.setPosition(line.position() + 1);
    select.setPosition(line.position() + 4, QTextCursor::KeepAnchor);
    memo->setTextCursor(select);
    EXPECT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "see");

    QTextCursor at(line);
    at.setPosition(line.position() + 10);
    const QRect rect = memo->cursorRect(at);
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() + 2, rect.center().y()));
    EXPECT_EQ(seam.urls, (QList<QUrl>{QUrl("http://example.org/x")}));
    r->close();
}

TEST(ChatLogTest, LogLinesColoursAndSwitch)
{
    Tchatlog chatlog;
    bool enabled = true;
    chatlog.LogEnabled = [&] { return enabled; };
    EXPECT_EQ(chatlog.windowTitle(), "Halvane - Private Message Logs");
    EXPECT_EQ(chatlog.findChild<QLabel *>("label_caption")->text(), "Private Message Logs");
    chatlog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chatlog));

    chatlog.addlinetolog("At 1:00:00 PM ann wrote: ", QColor(0, 0, 128));
    chatlog.addlinetolog("", QColor(0, 0, 128));
    chatlog.addlinetolog("x\ny", QColor(128, 0, 0));
    enabled = false;
    chatlog.addlinetolog("hidden", QColor(128, 0, 0));
    enabled = true;
    chatlog.addlinetolog("z: last", Qt::black);

    auto *log = chatlog.findChild<TChatPane *>("log");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(paneLines(log), (QStringList{"At 1:00:00 PM ann wrote: ", "x", "y", "z: last"}));
    auto formatAt = [&](int block, int offset) {
        QTextCursor c(log->document()->findBlockByNumber(block));
        c.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, offset + 1);
        return c.charFormat();
    };
    EXPECT_EQ(formatAt(0, 3).foreground().color(), QColor(0, 0, 128));
    EXPECT_EQ(formatAt(0, 3).fontWeight(), QFont::Normal);
    EXPECT_EQ(formatAt(2, 0).foreground().color(), QColor(128, 0, 0));
    EXPECT_EQ(formatAt(3, 0).fontWeight(), QFont::Normal); // no bold lead before ":"

    QTest::mouseClick(chatlog.findChild<QPushButton *>("button_close"), Qt::LeftButton);
    EXPECT_FALSE(chatlog.isVisible());
    chatlog.addlinetolog("while hidden", Qt::black);
    EXPECT_EQ(paneLines(log).size(), 5);
}

} // namespace
