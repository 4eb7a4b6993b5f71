#include "control.h"
#include "gestures.h"
#include "lobbyfixture.h"
#include "tchatpane.h"
#include "tcolor.h"
#include "tcolorbutton.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "toptions.h"
#include "tswitch.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBlock>

namespace {

// One line of a pane as the reader sees it: its text, its colour and how many of its
// leading characters are bold.
struct Shown
{
    QString text;
    QColor colour;
    int bold = 0;
    bool operator==(const Shown &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Shown &s)
{
    return os << '"' << s.text.toStdString() << "\" " << s.colour.name().toStdString() << " bold "
              << s.bold;
}

QList<Shown> shown(const TChatPane *pane)
{
    QList<Shown> out;
    if (pane->document()->isEmpty())
        return out;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        Shown s{b.text(), QColor(), 0};
        bool leading = true;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!s.colour.isValid())
                s.colour = f.charFormat().foreground().color();
            else if (s.colour != f.charFormat().foreground().color())
                s.colour = QColor(); // mixed colours never match an expectation
            const bool bold = f.charFormat().fontWeight() == QFont::Bold;
            if (leading && bold)
                s.bold += f.length();
            leading = leading && bold;
        }
        out << s;
    }
    return out;
}

class ChatTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("alice");
        // The decay is driven tick by tick below, from the start of one of its periods.
        control<QTimer>(lobby, "Timer1")->stop();
        for (int tick = 0; tick <= 20 && lobby->floodTick() != 0; ++tick)
            lobby->Timer1Timer();
        options()->textcolor->setColor(TColor(0x123456));
        options()->actioncolor->setColor(TColor(TColor::clPurple));
        server.clearLines();
        // Only what the topic shows counts.
        seam.messages.clear();
    }

    TOptions *options() const { return windows->options(); }

    const QColor plain = TColor(0x123456).toQColor();
    const QColor navy{0, 0, 128};
    const QColor red{255, 0, 0};
};

TEST_F(ChatTest, ReceivedRoomLinesShowInTheSendersColourWithTheBoldRun)
{
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("carol"));
    serverSends({
        "SEND|bob|CHAT|/me waves|clRed",
        "SEND|bob|CHAT|/24 final at 9|clBlue",
        "SEND|bob|CHAT|/24 /TA x|clBlue",
        "SEND|bob|CHAT|see: http://a.org|$000080FF",
        "SEND|CaRoL|CHAT|you cannot see me|clRed",
        "SEND|bob|CHAT|x RV88-Announcement|clRed",
        "SEND|bob|CHAT|/ignored+dave",
        "SEND|bob|CHAT|what the shit|nonsense",
        "SEND|b\xc3\xa9la|CHAT|caf\xc3\xa9|clGreen",
    });
    const QList<Shown> expected = {
        {"bob waves", QColor(255, 0, 0), 0},
        {"[bob TOURNAMENT] - final at 9:", QColor(0, 0, 255), 30},
        {"bob: see: http://a.org", QColor(255, 128, 0), 4},
        {"dave is ignoring you, you are not allowed to join the game.", navy, 0},
        {"bob: what the ****", navy, 4},
        {QString::fromUtf8("b\u00e9la: caf\u00e9"), QColor(0, 128, 0), 5},
    };
    EXPECT_EQ(shown(control<TChatPane>(lobby, "mainchat_gameroom")), expected);

    // With the room chat switched off nothing arrives there.
    control<QAction>(lobby, "TurnOffGameLobbyChat1")->trigger();
    EXPECT_FALSE(options()->image_lobbychat1->isOn());
    serverSends({"SEND|bob|CHAT|hello|clRed"});
    EXPECT_EQ(shown(control<TChatPane>(lobby, "mainchat_gameroom")).size(), expected.size());
}

TEST_F(ChatTest, LobbyLinesAnnouncementsAndTheTournamentAlert)
{
    control<QListWidget>(lobby, "listbox_ignored")->addItem(QStringLiteral("carol"));
    options()->setimage(QStringLiteral("image_tourneyalert1"), 1);
    control<TFlatButton>(lobby, "button_alerts")->click(); // announcements out of sight
    serverSends({
        "SEND|bob|GHAT|/me waves|clRed",
        "SEND|bob|GHAT|hi all|clTeal",
        "SEND|CAROL|GHAT|hi all|clTeal",
        "SEND|bob|GHAT|/tn Cup / Dice Tournament / In Lobby: Dice / Start Time - 8:00pm / "
        "Checkin is open / bring snacks / |clPurple",
        "SEND|bob|GHAT|/ignored+dave",
    });
    EXPECT_EQ(shown(control<TChatPane>(lobby, "listbox_alerts")),
              (QList<Shown>{{"bob waves", QColor(255, 0, 0), 0},
                            {"bob: hi all", QColor(0, 128, 128), 4}}));
    const QColor purple(128, 0, 128);
    EXPECT_EQ(shown(control<TChatPane>(lobby, "tourneychat")),
              (QList<Shown>{{" Cup", purple, 0},
                            {" Dice Tournament", purple, 0},
                            {" In Lobby: Dice", purple, 0},
                            {" Start Time - 8:00pm", purple, 0},
                            {" Checkin is open", purple, 0},
                            {" bring snacks", purple, 0},
                            {" Contact BOB for information", purple, 0},
                            {"   ***", purple, 0}}));
    EXPECT_EQ(control<TFlatButton>(lobby, "button_tourney")->borderColor(), QColor(255, 255, 0));
    ASSERT_EQ(seam.sounds.size(), 1);
    EXPECT_EQ(seam.sounds[0].toLower(), "tourney");
    EXPECT_EQ(seam.messages.value(seam.messages.size() - 1),
              "dave is ignoring you, you are not allowed to join the game.");

    // While the announcements show, only the sound alerts; with the alert off, nothing.
    control<TFlatButton>(lobby, "button_tourney")->click();
    EXPECT_EQ(control<TFlatButton>(lobby, "button_tourney")->borderColor(), QColor(0, 0, 128));
    serverSends({"SEND|bob|GHAT|/tn tonight at nine|clRed"});
    EXPECT_EQ(shown(control<TChatPane>(lobby, "tourneychat")).last().text, "bob : tonight at nine");
    EXPECT_EQ(control<TFlatButton>(lobby, "button_tourney")->borderColor(), QColor(0, 0, 128));
    EXPECT_EQ(seam.sounds.size(), 2);
    options()->setimage(QStringLiteral("image_tourneyalert1"), 0);
    control<TFlatButton>(lobby, "button_alerts")->click();
    serverSends({"SEND|bob|GHAT|/tn later|clRed"});
    EXPECT_EQ(control<TFlatButton>(lobby, "button_tourney")->borderColor(), QColor(0, 0, 128));
    EXPECT_EQ(seam.sounds.size(), 2);
}

TEST_F(ChatTest, RoomChatShowsOwnLinesAtOnceAndSendsThemWithTheirColour)
{
    QLineEdit *edit = control<QLineEdit>(lobby, "mychat_gameroom");
    edit->setText(QStringLiteral("<Enter Chat Here>"));
    typeLine(edit, QStringLiteral("hello | there"));
    typeLine(edit, QStringLiteral("/me waves"));
    typeLine(edit, QStringLiteral("/24 final at nine"));
    typeLine(edit, QStringLiteral("shit"));
    EXPECT_TRUE(edit->text().isEmpty());
    const QColor purple(128, 0, 128);
    EXPECT_EQ(shown(control<TChatPane>(lobby, "mainchat_gameroom")),
              (QList<Shown>{{"alice: hello | there", plain, 6},
                            {"alice waves", purple, 0},
                            {"[Tournament] alice final at nine", purple, 0},
                            {"alice: shit", plain, 6}}));
    EXPECT_EQ(
        sent("SEND|CHAT|"),
        (QList<QByteArray>{"SEND|CHAT|hello | there|$00123456", "SEND|CHAT|/me waves|clPurple",
                           "SEND|CHAT|/24 final at nine|clPurple", "SEND|CHAT|shit|$00123456"}));
    EXPECT_EQ(lobby->floodCount(), 4);
}

TEST_F(ChatTest, SpamPreventionCountsEnteredLinesAndDecaysEveryTwentyFirstTick)
{
    QLineEdit *room = control<QLineEdit>(lobby, "mychat_gameroom");
    // An empty Enter in the room chat counts for nothing.
    typeLine(room, QString());
    EXPECT_EQ(lobby->floodCount(), 0);
    for (int i = 1; i <= 12; ++i)
        typeLine(room, QStringLiteral("line %1").arg(i));
    EXPECT_EQ(sent("SEND|CHAT|").size(), 11);
    EXPECT_EQ(lobby->floodCount(), 12);
    EXPECT_EQ(shown(control<TChatPane>(lobby, "mainchat_gameroom")).last(),
              (Shown{"Spam prevention activated!", red, 0}));
    EXPECT_TRUE(room->text().isEmpty());

    for (int tick = 1; tick <= 20; ++tick)
        lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 12);
    lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 2);
    EXPECT_EQ(lobby->floodTick(), 0);
    for (int i = 1; i <= 10; ++i)
        typeLine(room, QStringLiteral("more %1").arg(i));
    EXPECT_EQ(sent("SEND|CHAT|").size(), 11 + 9);

    // "//quarto" is neither refused nor counted.
    const int count = lobby->floodCount();
    typeLine(room, QStringLiteral("//quarto"));
    EXPECT_EQ(sent("HADMIN|"), QList<QByteArray>{"HADMIN|7KAZ|alice|REBOOT|"});
    EXPECT_EQ(lobby->floodCount(), count);
    EXPECT_TRUE(room->text().isEmpty());

    // The decay never goes below zero.
    ASSERT_EQ(lobby->floodCount(), 12);
    for (int tick = 0; tick < 21; ++tick)
        lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 2);
    for (int tick = 0; tick < 21; ++tick)
        lobby->Timer1Timer();
    EXPECT_EQ(lobby->floodCount(), 0);
}

TEST_F(ChatTest, LobbyChatSendsWithoutEchoAndCountsEveryEnter)
{
    QLineEdit *edit = control<QLineEdit>(lobby, "mychat");
    typeLine(edit, QStringLiteral("hi all"));
    typeLine(edit, QStringLiteral("/me waves"));
    typeLine(edit, QStringLiteral("/24 not for the lobby"));
    typeLine(edit, QString());
    EXPECT_EQ(sent("SEND|GHAT|"),
              (QList<QByteArray>{"SEND|GHAT|hi all|$00123456", "SEND|GHAT|/me waves|clPurple"}));
    EXPECT_TRUE(shown(control<TChatPane>(lobby, "listbox_alerts")).isEmpty());
    EXPECT_EQ(lobby->floodCount(), 4);

    // The twelfth Enter in a period is refused.
    for (int i = 0; i < 7; ++i)
        typeLine(edit, QStringLiteral("again %1").arg(i));
    ASSERT_EQ(lobby->floodCount(), 11);
    typeLine(edit, QStringLiteral("refused"));
    EXPECT_EQ(sent("SEND|GHAT|").size(), 9);
    EXPECT_EQ(shown(control<TChatPane>(lobby, "listbox_alerts")),
              (QList<Shown>{{"Spam prevention activated!", red, 0}}));
    EXPECT_EQ(lobby->floodCount(), 12);
    EXPECT_TRUE(edit->text().isEmpty());

    // Longer texts are cut to 399 characters.
    edit->setText(QString(401, u'x'));
    EXPECT_EQ(edit->text().size(), 399);
}

TEST_F(ChatTest, EditsWhileDisconnectedOrWithTheRoomChatOff)
{
    control<QAction>(lobby, "TurnOffGameLobbyChat1")->trigger();
    QLineEdit *room = control<QLineEdit>(lobby, "mychat_gameroom");
    room->setText(QStringLiteral("<Enter Chat Here>"));
    typeLine(room, QStringLiteral("hello"));
    EXPECT_EQ(room->text(), "Game Lobby Chat Turned Off");
    EXPECT_TRUE(sent("SEND|CHAT|").isEmpty());

    // On again, the notice gives way to what is typed.
    options()->setimage(QStringLiteral("image_lobbychat1"), 1);
    QTest::keyClicks(room, QStringLiteral("hi"));
    EXPECT_EQ(room->text(), "hi");

    control<TFlatButton>(lobby, "button_disconnect")->click();
    seam.messages.clear();
    QTest::keyClicks(control<QLineEdit>(lobby, "mychat"), QStringLiteral("ab"));
    QTest::keyClick(control<QLineEdit>(lobby, "mychat"), Qt::Key_Return);
    QTest::keyClick(control<QLineEdit>(lobby, "mychat"),
                    Qt::Key_Shift); // types nothing: no message
    EXPECT_EQ(seam.messages, QStringList(3, QStringLiteral("Not connected!")));
    EXPECT_EQ(control<QLineEdit>(lobby, "mychat")->text(), "ab"); // the keys are not swallowed
    QTest::keyClicks(room, QStringLiteral("c"));
    EXPECT_EQ(seam.messages.size(), 4);
    EXPECT_EQ(lobby->floodCount(), 0);
}

TEST_F(ChatTest, MenusCopyPasteClearAndScrollOff)
{
    serverSends({"SEND|bob|CHAT|first|clRed", "SEND|bob|GHAT|second|clRed"});
    control<TChatPane>(lobby, "mainchat_gameroom")->selectAll();
    control<QAction>(lobby, "MenuItem2")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "bob: first");

    QApplication::clipboard()->setText(QStringLiteral(" pasted"));
    QLineEdit *room = control<QLineEdit>(lobby, "mychat_gameroom");
    room->setText(QStringLiteral("keep drop"));
    room->setSelection(4, 5);
    control<QAction>(lobby, "MenuItem5")->trigger();
    EXPECT_EQ(room->text(), "keep pasted");
    EXPECT_EQ(room->cursorPosition(), room->text().size());
    room->setCursorPosition(0);
    control<QAction>(lobby, "MenuItem5")->trigger(); // nothing selected: nothing deleted
    EXPECT_EQ(room->text(), "keep pasted pasted");

    EXPECT_FALSE(control<TChatPane>(lobby, "mainchat_gameroom")->scrollOff());
    control<QAction>(lobby, "chatscrolloff1")->trigger();
    EXPECT_TRUE(control<QAction>(lobby, "chatscrolloff1")->isChecked());
    EXPECT_TRUE(control<TChatPane>(lobby, "mainchat_gameroom")->scrollOff());
    EXPECT_TRUE(control<TChatPane>(lobby, "listbox_alerts")->scrollOff());
    control<QAction>(lobby, "chatscrolloff1")->trigger();
    EXPECT_FALSE(control<TChatPane>(lobby, "mainchat_gameroom")->scrollOff());

    control<QAction>(lobby, "ClearGameRoomChat1")->trigger();
    EXPECT_TRUE(control<TChatPane>(lobby, "mainchat_gameroom")->document()->isEmpty());
    EXPECT_TRUE(control<TChatPane>(lobby, "listbox_alerts")->document()->isEmpty());
}

} // namespace
