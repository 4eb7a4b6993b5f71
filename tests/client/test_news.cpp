#include "control.h"
#include "gestures.h"
#include "lobbyfixture.h"
#include "tchatpane.h"
#include "tcolor.h"
#include "tcolorbutton.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "toptions.h"
#include "tplayerlist.h"

#include <QAction>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QTextBlock>

namespace {

class NewsTest : public LobbyFixture
{
protected:
    void login(const char *accountClass = "")
    {
        loginAs("alice", [accountClass](ostrel::TOrvexUser &u) { u.AccountClass = accountClass; });
        windows->options()->actioncolor->setColor(TColor(TColor::clPurple));
        server.clearLines();
        // Only what the topic shows counts.
        seam.messages.clear();
    }

    QColor newsColour() const
    {
        QTextCursor c(control<TChatPane>(lobby, "memo_news")->document());
        c.movePosition(QTextCursor::NextCharacter);
        return c.charFormat().foreground().color();
    }
};

TEST_F(NewsTest, ServerAnnouncementsShowAsMessages)
{
    login();
    serverSends({"SHOUT|RebootSoon at midnight", "SHOUT|Welcome all|ignored field"});
    EXPECT_EQ(seam.messages,
              (QStringList{"The Server will be going DOWN for Maintenance in a few minutes.",
                           "RV88-Announcement: Welcome all"}));
}

TEST_F(NewsTest, NewsFillsThePanelAndTurnsMaroonOnceSeen)
{
    login();
    const QColor maroon(128, 0, 0);
    control<TChatPane>(lobby, "memo_news")->addline(QStringLiteral("old"), Qt::black);
    serverSends({"NEWS|id17|Line one/r/Line two"});
    EXPECT_EQ(control<TChatPane>(lobby, "memo_news")->toPlainText(), "Line one\nLine two");
    EXPECT_TRUE(control<TFlatPanel>(lobby, "panel_news")->isVisible());
    EXPECT_EQ(control<TChatPane>(lobby, "memo_news")->textCursor().position(), 0);
    EXPECT_EQ(setting("News"), "id17");
    EXPECT_NE(newsColour(), maroon);

    control<TFlatPanel>(lobby, "panel_news")->hide();
    serverSends({"NEWS|id17|Line one/r/Line two"});
    EXPECT_TRUE(control<TFlatPanel>(lobby, "panel_news")->isVisible());
    EXPECT_EQ(newsColour(), maroon);

    // Once maroon, later news stays maroon; empty lines are kept.
    serverSends({"NEWS|id18|/r/after a blank/r/"});
    EXPECT_EQ(control<TChatPane>(lobby, "memo_news")->document()->blockCount(), 3);
    EXPECT_EQ(control<TChatPane>(lobby, "memo_news")->toPlainText(), "\nafter a blank\n");
    EXPECT_EQ(newsColour(), maroon);
    EXPECT_EQ(setting("News"), "id18");
}

TEST_F(NewsTest, NewsWithoutIdentifierIsShownWholeAndNeverSeen)
{
    writeSetting("News", "");
    login();
    serverSends({"NEWS|just text"});
    EXPECT_EQ(control<TChatPane>(lobby, "memo_news")->toPlainText(), "just text");
    serverSends({"NEWS|just text"});
    EXPECT_NE(newsColour(), QColor(128, 0, 0));
}

TEST_F(NewsTest, TournamentComposerSendsTheAnnouncement)
{
    login();
    control<TFlatButton>(lobby, "button_createannounce")->click();
    EXPECT_TRUE(control<TFlatPanel>(lobby, "panel_create")->isVisible());
    control<TFlatButton>(lobby, "button_create")->click();
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_create")->isVisible());

    control<TFlatButton>(lobby, "button_createannounce")->click();
    control<QLineEdit>(lobby, "edit_tourneyname")->setText(QStringLiteral("Spring Cup"));
    control<QLineEdit>(lobby, "edit_gamename")->setText(QStringLiteral("Dice"));
    control<QLineEdit>(lobby, "edit_location")->setText(QStringLiteral("Dice"));
    control<QComboBox>(lobby, "combo_hour")->setCurrentText(QStringLiteral("12"));
    control<QComboBox>(lobby, "combo_min")->setCurrentText(QStringLiteral(":45"));
    control<QComboBox>(lobby, "combo_time")->setCurrentText(QStringLiteral("am"));
    control<QComboBox>(lobby, "combo_checkin")->setCurrentText(QStringLiteral("No"));
    control<QLineEdit>(lobby, "edit_comments")->setText(QStringLiteral("bring snacks"));
    control<TFlatButton>(lobby, "button_create")->click();
    EXPECT_EQ(sent("SEND|GHAT|"),
              (QList<QByteArray>{
                  "SEND|GHAT|/tn  /  /  / Start Time - 8:00pm / Checkin is open /  / |clPurple",
                  "SEND|GHAT|/tn Spring Cup / Dice Tournament / In Lobby: Dice / Start Time - "
                  "12:45am / Checkin not open / bring snacks / |clPurple"}));

    control<TFlatButton>(lobby, "FlatButton2")->click();
    for (QLineEdit *e :
         {control<QLineEdit>(lobby, "edit_tourneyname"), control<QLineEdit>(lobby, "edit_gamename"),
          control<QLineEdit>(lobby, "edit_location"), control<QLineEdit>(lobby, "edit_comments")})
        EXPECT_TRUE(e->text().isEmpty());
    EXPECT_EQ(control<QComboBox>(lobby, "combo_hour")->currentText(), "8");
    EXPECT_EQ(control<QComboBox>(lobby, "combo_min")->currentText(), ":00");
    EXPECT_EQ(control<QComboBox>(lobby, "combo_time")->currentText(), "pm");
    EXPECT_EQ(control<QComboBox>(lobby, "combo_checkin")->currentText(), "Yes");

    control<TFlatButton>(lobby, "button_createclose")->click();
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_create")->isVisible());
    control<TFlatButton>(lobby, "button_disconnect")->click();
    control<TFlatButton>(lobby, "button_createannounce")->click();
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_create")->isVisible());
}

TEST_F(NewsTest, ModeratorCommandsActOnTheSelectedPlayer)
{
    login("H");
    serverSends({"ADDGUEST|bob+1+Lobby Chat+"});
    TPlayerList *players = control<TPlayerList>(lobby, "lbnames");
    ASSERT_TRUE(clickPlayer(players, QStringLiteral("bob")));
    control<QAction>(lobby, "N5Minutes1")->trigger();
    control<QAction>(lobby, "N30Minutes1")->trigger();
    control<QAction>(lobby, "N60Minutes1")->trigger();
    control<QAction>(lobby, "RemoveSilence1")->trigger();
    control<QAction>(lobby, "Kick1")->trigger();
    EXPECT_EQ(sent("HADMIN|"), (QList<QByteArray>{
                                   "HADMIN|7KAZ|alice|SILENCE|bob|5|",
                                   "HADMIN|7KAZ|alice|SILENCE|bob|30|",
                                   "HADMIN|7KAZ|alice|SILENCE|bob|60|",
                                   "HADMIN|7KAZ|alice|UNSILENCE|bob|",
                                   "HADMIN|7KAZ|alice|BOOT|bob|",
                               }));
    EXPECT_EQ(seam.messages, QStringList{"You have booted bob off the server"});

    // With no player selected there is nobody to act on.
    clickNowhere(players);
    control<QAction>(lobby, "Kick1")->trigger();
    EXPECT_EQ(sent("HADMIN|").size(), 5);
    EXPECT_EQ(seam.messages.size(), 1);
}

TEST_F(NewsTest, PanelsDraggedPastTheEdgeStayFourPixelsInside)
{
    login();
    lobby->resize(1000, 700);
    QWidget *area = control<TFlatPanel>(lobby, "panel_rightside");
    for (TFlatPanel *panel :
         {control<TFlatPanel>(lobby, "panel_news"), control<TFlatPanel>(lobby, "panel_tip"),
          control<TFlatPanel>(lobby, "panel_create")}) {
        panel->show();
        QWidget *title = panel->layout()->itemAt(0)->widget();
        ASSERT_NE(title, nullptr);
        auto send = [title](QEvent::Type type, QPoint local) {
            const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease
                                                 ? Qt::NoButton
                                                 : Qt::MouseButtons(Qt::LeftButton);
            QMouseEvent e(type, QPointF(local), title->mapToGlobal(QPointF(local)), Qt::LeftButton,
                          buttons, Qt::NoModifier);
            QApplication::sendEvent(title, &e);
        };
        send(QEvent::MouseButtonPress, {5, 5});
        send(QEvent::MouseMove, {3000, 3000});
        send(QEvent::MouseButtonRelease, {3000, 3000});
        EXPECT_EQ(panel->pos(),
                  QPoint(area->width() - panel->width() - 4, area->height() - panel->height() - 4))
            << panel->objectName().toStdString();
        send(QEvent::MouseButtonPress, {5, 5});
        send(QEvent::MouseButtonRelease, {-3000, -3000});
        EXPECT_EQ(panel->pos(), QPoint(4, 4)) << panel->objectName().toStdString();
    }

    // The tips panel closes with its own button.
    control<TFlatButton>(lobby, "FlatButton4")->click();
    EXPECT_FALSE(control<TFlatPanel>(lobby, "panel_tip")->isVisible());
}

} // namespace
