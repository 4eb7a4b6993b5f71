#include "control.h"
#include "gestures.h"
#include "lobbyfixture.h"
#include "privatemessagetext.h"
#include "tanimatedbutton.h"
#include "tchatlog.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "toptions.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"
#include "tswitch.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTextBlock>

namespace pm = privatemessagetext;

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct Line
{
    QString text;
    QColor colour;
    bool operator==(const Line &) const = default;
};

void PrintTo(const Line &line, std::ostream *os)
{
    *os << '"' << line.text.toStdString() << "\" " << line.colour.name().toStdString();
}

QList<Line> linesOf(const QTextDocument *document)
{
    QList<Line> out;
    if (document->isEmpty())
        return out;
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next()) {
        const auto it = b.begin();
        out << Line{b.text(),
                    it.atEnd() ? QColor() : it.fragment().charFormat().foreground().color()};
    }
    return out;
}

QStringList textsOf(const QList<Line> &lines)
{
    QStringList out;
    for (const Line &l : lines)
        out << l.text;
    return out;
}

template <typename T> T *child(QWidget *window, const char *name)
{
    T *found = window ? window->findChild<T *>(QLatin1String(name)) : nullptr;
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The open message window of that name, if any.
template <typename T> QPointer<T> window(const QString &name)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            if (auto *t = qobject_cast<T *>(w))
                return t;
    return nullptr;
}

const QColor kMaroon(128, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);

class PrivateMessagesTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("alice");
        // The alert step is driven tick by tick below.
        control<QTimer>(lobby, "Timer1")->stop();
        server.clearLines();
        control<TChatPane>(lobby, "listbox_alerts")->clear();
        seam.sounds.clear();
    }

    TOptions *options() const { return windows->options(); }

    QList<Line> log() const
    {
        return linesOf(control<Tchatlog>(lobby, "chatlog")
                           ->findChild<TChatPane *>(QStringLiteral("log"))
                           ->document());
    }
    QList<Line> alerts() const
    {
        return linesOf(control<TChatPane>(lobby, "listbox_alerts")->document());
    }
    QStringList queue() const
    {
        QStringList out;
        for (const PendingMessage &m : lobby->pendingMessages().messages())
            out << m.senderName() + QLatin1Char('|') + decodeWireText(m.text);
        return out;
    }
    QList<QByteArray> sentPmes()
    {
        serverSends({}); // the PING answer leaves after everything queued before it
        QList<QByteArray> out;
        for (const QByteArray &line : server.lines())
            if (line.startsWith("SEND|PMES|"))
                out << line;
        return out;
    }
    QStringList reader(Tprivatemessagefrom *w)
    {
        return textsOf(linesOf(child<TChatPane>(w, "memo_message")->document()));
    }
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            lobby->Timer1Timer();
    }
};

TEST_F(PrivateMessagesTest, ThreeLineMessageTravelsWithItsTimeAndReadsBackLineByLine)
{
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    ASSERT_TRUE(clickPlayer(control<TPlayerList>(lobby, "lbnames"), QStringLiteral("bob")));
    control<QAction>(lobby, "SendPrivateMessage1")->trigger();
    QPointer<Tprivatemessageto> writer = window<Tprivatemessageto>(QStringLiteral("pmto1"));
    ASSERT_TRUE(writer);
    EXPECT_EQ(child<QLabel>(writer, "label_toname")->text(), "bob");
    auto *memo = child<QPlainTextEdit>(writer, "memo_message");
    QTest::keyClicks(memo, QStringLiteral("a"));
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, QStringLiteral("b"));
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, QStringLiteral("c"));
    const QString before = pm::currentTimeText();
    QTest::mouseClick(child<QPushButton>(writer, "button_send"), Qt::LeftButton);
    const QString after = pm::currentTimeText();
    EXPECT_TRUE(QTest::qWaitFor([&] { return writer.isNull(); }, 2000));

    const QList<QByteArray> sent = sentPmes();
    ASSERT_EQ(sent.size(), 1);
    const QString time = QString::fromUtf8(sent[0].mid(14).split('+').value(0));
    EXPECT_TRUE(time == before || time == after) << time.toStdString();
    EXPECT_EQ(sent[0], "SEND|PMES|bob|" + time.toUtf8() + "+a/r/b/r/c");

    // bob's answer comes back the same way, and waits until it is opened.
    serverSends({"SEND|bob|PMES|" + time.toUtf8() + "+a/r/b/r/c"});
    EXPECT_EQ(queue(), QStringList{"bob|" + time + "+a/r/b/r/c"});
    EXPECT_EQ(alerts().value(alerts().size() - 1), (Line{"bob sent you a PM", kBlue}));
    lobby->showaprivatemessage(0);
    QPointer<Tprivatemessagefrom> read = window<Tprivatemessagefrom>(QStringLiteral("pmfrom2"));
    ASSERT_TRUE(read);
    EXPECT_EQ(reader(read), (QStringList{"At " + time + " bob wrote: ", " a", "b", "c"}));
    EXPECT_TRUE(queue().isEmpty());

    const QString written = "At " + time + "  You wrote to bob : ";
    const QString header = "At " + time + " bob wrote: ";
    EXPECT_EQ(log(), (QList<Line>{{written, kMaroon},
                                  {"a", kMaroon},
                                  {"b", kMaroon},
                                  {"c", kMaroon},
                                  {header, kNavy},
                                  {"a", kNavy},
                                  {"b", kNavy},
                                  {"c", kNavy}}));
    control<QAction>(lobby, "chatlog")->trigger();
    EXPECT_TRUE(control<Tchatlog>(lobby, "chatlog")->isVisible());

    // A reply opens the next writing window to the sender and closes the reader.
    QTest::mouseClick(child<QPushButton>(read, "button_reply"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return read.isNull(); }, 2000));
    QPointer<Tprivatemessageto> reply = window<Tprivatemessageto>(QStringLiteral("pmto3"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->recipient(), "bob");
    reply->close();
}

TEST_F(PrivateMessagesTest, TurnedOffAnswersEveryoneOnceButNeverAnAutomaticAnswer)
{
    EXPECT_FALSE(control<QAction>(lobby, "TurnOffPrivateMessages1")->isChecked());
    control<QAction>(lobby, "TurnOffPrivateMessages1")->trigger();
    ASSERT_TRUE(control<QAction>(lobby, "TurnOffPrivateMessages1")->isChecked());
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("carol"));
    const QByteArray automatic = "I have PRIVATE MESSAGES turned off. Please try back later!";
    // The second message is bob's automatic answer: a client that answered it would
    // answer bob's answer to that, and so on without end.
    serverSends({"SEND|bob|PMES|1:00:00 PM+hi", "SEND|bob|PMES|" + automatic,
                 "SEND|CaRoL|PMES|1:00:01 PM+hi"});
    EXPECT_EQ(sentPmes(),
              (QList<QByteArray>{"SEND|PMES|bob|" + automatic, "SEND|PMES|CaRoL|" + automatic}));
    EXPECT_TRUE(queue().isEmpty());
    EXPECT_TRUE(alerts().isEmpty());
    EXPECT_TRUE(seam.sounds.isEmpty());

    // Turned on again, the automatic answer is read like any message, without a time.
    control<QAction>(lobby, "TurnOffPrivateMessages1")->trigger();
    server.clearLines();
    serverSends({"SEND|bob|PMES|" + automatic});
    EXPECT_TRUE(sentPmes().isEmpty());
    lobby->showaprivatemessage(0);
    QPointer<Tprivatemessagefrom> read = window<Tprivatemessagefrom>(QStringLiteral("pmfrom1"));
    ASSERT_TRUE(read);
    EXPECT_EQ(reader(read), (QStringList{"At  bob wrote: ", " " + QString::fromLatin1(automatic)}));
    read->close();
}

TEST_F(PrivateMessagesTest, TwoMessagesFromOneSenderOpenOldestFirstAndKeepTheMailIcon)
{
    QList<QByteArray> crowd;
    for (int i = 0; i < 100; ++i)
        crowd << "ADDGUEST|p" + QByteArray::number(100 + i) + "+1+Lobby Chat+";
    crowd << "ADDGUEST|quinn+3+Lobby Chat+";
    serverSends(crowd);
    control<TChatPane>(lobby, "listbox_alerts")->clear();
    control<TPlayerList>(lobby, "lbnames")->scrollToTop();

    serverSends({"SEND|quinn|PMES|1:00:00 PM+first", "SEND|quinn|PMES|1:00:05 PM+second"});
    EXPECT_EQ(queue(), (QStringList{"quinn|1:00:00 PM+first", "quinn|1:00:05 PM+second"}));
    EXPECT_EQ(textsOf(alerts()), (QStringList{"quinn sent you a PM", "quinn sent you a PM"}));
    // The sender, last in the sorted list, is scrolled into view with the mail icon.
    const QModelIndex quinn = control<TPlayerList>(lobby, "lbnames")
                                  ->model()
                                  ->index(lobby->findlbname(QStringLiteral("quinn"),
                                                            control<TPlayerList>(lobby, "lbnames")),
                                          0);
    EXPECT_TRUE(control<TPlayerList>(lobby, "lbnames")
                    ->viewport()
                    ->rect()
                    .contains(control<TPlayerList>(lobby, "lbnames")->visualRect(quinn)));

    TPlayerList *players = control<TPlayerList>(lobby, "lbnames");
    ASSERT_TRUE(doubleClickPlayer(players, QStringLiteral("quinn")));
    QPointer<Tprivatemessagefrom> first = window<Tprivatemessagefrom>(QStringLiteral("pmfrom1"));
    ASSERT_TRUE(first);
    EXPECT_EQ(reader(first).value(1), " first");
    EXPECT_TRUE(lobby->hasPendingMessage(QStringLiteral("quinn")));

    ASSERT_TRUE(doubleClickPlayer(players, QStringLiteral("quinn")));
    QPointer<Tprivatemessagefrom> second = window<Tprivatemessagefrom>(QStringLiteral("pmfrom2"));
    ASSERT_TRUE(second);
    EXPECT_EQ(reader(second).value(1), " second");
    EXPECT_FALSE(lobby->hasPendingMessage(QStringLiteral("quinn")));
    EXPECT_TRUE(queue().isEmpty());
    // Both stay open: closing one leaves the other.
    first->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 2000));
    EXPECT_TRUE(second && second->isVisible());
    second->close();
}

TEST_F(PrivateMessagesTest, AlertOptionChoosesTrayAndMailButtonSoundOptionTheSound)
{
    struct Case
    {
        bool alert;
        bool sound;
    };
    for (const Case c : {Case{true, true}, Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(testing::Message() << "alert " << c.alert << " sound " << c.sound);
        options()->setimage(QStringLiteral("image_pmalert1"), c.alert ? 1 : 0);
        options()->setimage(QStringLiteral("image_pmsound1"), c.sound ? 1 : 0);
        seam.sounds.clear();
        control<TChatPane>(lobby, "listbox_alerts")->clear();

        serverSends({"SEND|bob|PMES|1:00:00 PM+hi"});
        EXPECT_EQ(alerts(), QList<Line>{(Line{"bob sent you a PM", kBlue})});
        EXPECT_EQ(seam.sounds, c.sound ? QStringList{"PRIVATE"} : QStringList{});
        tick();
        EXPECT_EQ(lobby->trayblink(), c.alert ? 1 : 0);
        // The picture changes every third tick.
        for (int i = 0; i < 3; ++i)
            tick();
        EXPECT_EQ(lobby->trayblink(), c.alert ? 2 : 0);
        EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
                  QString(c.alert ? "bob" : "Ostrel Lobby") + "\n1 private message waiting");
        EXPECT_EQ(control<TAnimatedButton>(lobby, "button_mail")->isVisibleTo(lobby), c.alert);

        lobby->showaprivatemessage(0);
        tick();
        EXPECT_EQ(lobby->trayblink(), 0);
        EXPECT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(), "Ostrel Lobby");
        EXPECT_FALSE(control<TAnimatedButton>(lobby, "button_mail")->isVisibleTo(lobby));
    }
}

TEST_F(PrivateMessagesTest, TrayAndMailButtonOpenTheMessageTheTrayNames)
{
    serverSends({"SEND|bob|PMES|1:00:00 PM+from bob", "SEND|carol|PMES|1:00:01 PM+from carol"});
    tick();
    ASSERT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              "bob\n2 private messages waiting");
    emit control<QSystemTrayIcon>(lobby, "systrayicon")->activated(QSystemTrayIcon::Trigger);
    QPointer<Tprivatemessagefrom> fromBob = window<Tprivatemessagefrom>(QStringLiteral("pmfrom1"));
    ASSERT_TRUE(fromBob);
    EXPECT_EQ(fromBob->sender(), "bob");

    tick();
    ASSERT_EQ(control<QSystemTrayIcon>(lobby, "systrayicon")->toolTip(),
              "carol\n1 private message waiting");
    ASSERT_TRUE(control<TAnimatedButton>(lobby, "button_mail")->isVisibleTo(lobby));
    control<TAnimatedButton>(lobby, "button_mail")->click();
    QPointer<Tprivatemessagefrom> fromCarol =
        window<Tprivatemessagefrom>(QStringLiteral("pmfrom2"));
    ASSERT_TRUE(fromCarol);
    EXPECT_EQ(fromCarol->sender(), "carol");
    EXPECT_TRUE(queue().isEmpty());

    // Nothing pending: the tray brings the lobby back instead.
    lobby->showMinimized();
    emit control<QSystemTrayIcon>(lobby, "systrayicon")->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(lobby->isMinimized());
    EXPECT_EQ(lobby->messageWindowsOpened(), 2);
}

TEST_F(PrivateMessagesTest, IgnoredSenderLeavesNoTrace)
{
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("carol"));
    serverSends({"SEND|CaRoL|PMES|1:00:00 PM+psst"});
    EXPECT_TRUE(queue().isEmpty());
    EXPECT_TRUE(alerts().isEmpty());
    EXPECT_TRUE(seam.sounds.isEmpty());
    EXPECT_TRUE(sentPmes().isEmpty());
    tick();
    EXPECT_EQ(lobby->trayblink(), 0);
    EXPECT_FALSE(control<TAnimatedButton>(lobby, "button_mail")->isVisibleTo(lobby));
}

TEST_F(PrivateMessagesTest, LogTakesNothingWhenSwitchedOff)
{
    options()->setimage(QStringLiteral("image_pmlog"), 0);
    serverSends({"SEND|bob|PMES|1:00:00 PM+hi"});
    lobby->showaprivatemessage(0);
    lobby->createtomessage("bob");
    QPointer<Tprivatemessageto> writer = window<Tprivatemessageto>(QStringLiteral("pmto2"));
    ASSERT_TRUE(writer);
    QTest::keyClicks(child<QPlainTextEdit>(writer, "memo_message"), QStringLiteral("yo"));
    QTest::mouseClick(child<QPushButton>(writer, "button_send"), Qt::LeftButton);
    EXPECT_EQ(sentPmes().size(), 1);
    EXPECT_TRUE(log().isEmpty());
}

TEST_F(PrivateMessagesTest, WritingWindowsKeepTheirRecipientsAndStoreTheirOwnPositions)
{
    options()->setimage(QStringLiteral("image_sentwithenter1"), 1);
    // A stored place off the screen falls back to 3.
    lobby->setMessageToPlace({100000, 60});
    lobby->createtomessage("bob");
    lobby->createtomessage("carol");
    QPointer<Tprivatemessageto> toBob = window<Tprivatemessageto>(QStringLiteral("pmto1"));
    QPointer<Tprivatemessageto> toCarol = window<Tprivatemessageto>(QStringLiteral("pmto2"));
    ASSERT_TRUE(toBob && toCarol);
    EXPECT_EQ(toBob->pos(), QPoint(3, 60));
    EXPECT_EQ(lobby->messageToPlace().x(), 3);
    EXPECT_TRUE(child<QCheckBox>(toBob, "sendonenter")->isChecked());
    EXPECT_EQ(toBob->recipient(), "bob");
    EXPECT_EQ(toCarol->recipient(), "carol");

    toBob->move(40, 50);
    toCarol->move(70, 80);
    child<QCheckBox>(toCarol, "sendonenter")->setChecked(false);
    QTest::mouseClick(child<QPushButton>(toCarol, "button_cancel"), Qt::LeftButton);
    EXPECT_EQ(lobby->messageToPlace(), QPoint(70, 80));
    EXPECT_EQ(setting("Sentwithenter1"), "false");
    EXPECT_FALSE(options()->image_sentwithenter1->isOn());

    QTest::keyClicks(child<QPlainTextEdit>(toBob, "memo_message"), QStringLiteral("hey"));
    QTest::mouseClick(child<QPushButton>(toBob, "button_send"), Qt::LeftButton);
    EXPECT_EQ(lobby->messageToPlace(), QPoint(40, 50));
    EXPECT_EQ(setting("Sentwithenter1"), "true");
    EXPECT_TRUE(options()->image_sentwithenter1->isOn());
    const QList<QByteArray> sent = sentPmes();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent[0].startsWith("SEND|PMES|bob|")) << sent[0].toStdString();
    EXPECT_TRUE(sent[0].endsWith("+hey"));
}

TEST_F(PrivateMessagesTest, WritingWhileDisconnectedKeepsTheMessage)
{
    lobby->createtomessage("bob");
    QPointer<Tprivatemessageto> writer = window<Tprivatemessageto>(QStringLiteral("pmto1"));
    ASSERT_TRUE(writer);
    QTest::keyClicks(child<QPlainTextEdit>(writer, "memo_message"), QStringLiteral("still there?"));
    control<TFlatButton>(lobby, "button_disconnect")->click();
    seam.messages.clear();
    QTest::mouseClick(child<QPushButton>(writer, "button_send"), Qt::LeftButton);
    EXPECT_EQ(seam.messages, QStringList{"Not connected!"});
    EXPECT_TRUE(seam.errors.isEmpty());
    ASSERT_TRUE(writer && writer->isVisible());
    EXPECT_EQ(child<QPlainTextEdit>(writer, "memo_message")->toPlainText(), "still there?");
    EXPECT_TRUE(log().isEmpty());
    writer->close();
}

TEST_F(PrivateMessagesTest, PendingMessagesSurviveADisconnectAndWindowsGoWithTheLobby)
{
    serverSends({"SEND|bob|PMES|1:00:00 PM+hi", "SEND|bob|PMES|1:00:01 PM+again"});
    control<TFlatButton>(lobby, "button_disconnect")->click();
    EXPECT_EQ(queue().size(), 2);
    lobby->showaprivatemessage(0);
    lobby->createtomessage("bob");
    QPointer<Tprivatemessagefrom> reader = window<Tprivatemessagefrom>(QStringLiteral("pmfrom1"));
    QPointer<Tprivatemessageto> writer = window<Tprivatemessageto>(QStringLiteral("pmto2"));
    ASSERT_TRUE(reader && writer);
    windows.reset();
    EXPECT_TRUE(reader.isNull());
    EXPECT_TRUE(writer.isNull());
}

} // namespace
