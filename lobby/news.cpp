#include "lobby.h"

#include "chattext.h"
#include "lobbysettings.h"
#include "platform.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatpanel.h"
#include "wirekeyword.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBlock>
#include <QTextCursor>

// Server announcements, news, tournament announcements and moderation.

namespace {

QByteArray wireText(const QLineEdit *edit)
{
    return encodeWireText(chattext::singleLine(edit->text()));
}

QByteArray wireText(const QComboBox *combo)
{
    return encodeWireText(chattext::singleLine(combo->currentText()));
}

QByteArray ownName(const TOrvexConnection *orvex)
{
    const ostrel::TOrvexUser *user = orvex->User();
    return user ? QByteArray::fromStdString(user->UserName) : QByteArray();
}

} // namespace

void Tlobby::orvexShout(const QByteArray &text)
{
    const QString message = decodeWireText(chattext::shoutMessage(text));
    // When the lobby will log in again by itself, a box would only wait on screen, stale,
    // after it is back: the status line and the chat say it instead.
    const bool backBySelf = reconnectWanted() && orvex->LoggedIn() && reconnectsWithLastLogin();
    if (!chattext::isShutdownShout(text) || !backBySelf) {
        platform::Platform::instance().messageBox(message);
        return;
    }
    const QColor red(255, 0, 0);
    label_status->setText(
        QStringLiteral("The server is going down for maintenance. The lobby reconnects by "
                       "itself."));
    addlinetoalerts(message, red);
    if (!currentroom.isEmpty() && currentroom != "Lobby Chat")
        addlinetochat(message, red);
}

void Tlobby::orvexNews(const QByteArray &text)
{
    const chattext::News news = chattext::splitNews(text);
    memo_news->clear();
    LobbySettings settings(settingspath);
    const QByteArray seen = settings.read("News");
    if (!seen.isEmpty() && !news.id.isEmpty() && seen == news.id)
        m_newsMaroon = true;

    // The whole pane is rebuilt, so its lines are written in one go: empty lines too,
    // which appending line by line would fold into their neighbour.
    QTextCharFormat format;
    format.setForeground(m_newsMaroon ? QColor(128, 0, 0)
                                      : memo_news->palette().color(QPalette::Text));
    QTextCursor cursor(memo_news->document());
    cursor.setCharFormat(format);
    for (qsizetype i = 0; i < news.lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock(QTextBlockFormat(), format);
        cursor.insertText(decodeWireText(news.lines[i]), format);
    }
    cursor.movePosition(QTextCursor::Start);
    memo_news->setTextCursor(cursor);
    memo_news->ensureCursorVisible();
    panel_news->show();
    panel_news->raise();

    settings.write("News", news.id);
}

void Tlobby::image_createannouncementClick()
{
    if (!orvex->Active())
        return;
    panel_create->show();
    panel_create->raise();
}

void Tlobby::button_createClick()
{
    const QByteArray fields = chattext::announcementText(
        wireText(edit_tourneyname), wireText(edit_gamename), wireText(edit_location),
        wireText(combo_hour), wireText(combo_min), wireText(combo_time),
        combo_checkin->currentText() == QLatin1StringView("Yes"), wireText(edit_comments));
    const TColor colour = m_prefs.actionColor;
    orvex->SendGhat("/tn " + fields + '|' + colour.toText());
    panel_create->hide();
}

void Tlobby::button_createcloseClick()
{
    panel_create->hide();
}

void Tlobby::FlatButton2Click()
{
    for (QLineEdit *edit : {edit_tourneyname, edit_gamename, edit_location, edit_comments})
        edit->clear();
    combo_hour->setCurrentText(QStringLiteral("8"));
    combo_min->setCurrentText(QStringLiteral(":00"));
    combo_time->setCurrentText(QStringLiteral("pm"));
    combo_checkin->setCurrentText(QStringLiteral("Yes"));
}

void Tlobby::FlatButton4Click()
{
    panel_tip->hide();
}

void Tlobby::N5Minutes1Click(int minutes)
{
    // The selected player is the hint of the players list.
    const QByteArray player = encodeWireText(m_selectedPlayer);
    if (player.isEmpty())
        return;
    orvex->SendAdmin(ownName(orvex), ostrel::WireKeyword::SILENCE,
                     {player, QByteArray::number(minutes)});
}

void Tlobby::RemoveSilence1Click()
{
    const QByteArray player = encodeWireText(m_selectedPlayer);
    if (player.isEmpty())
        return;
    orvex->SendAdmin(ownName(orvex), ostrel::WireKeyword::UNSILENCE, {player});
}

void Tlobby::Kick1Click()
{
    const QByteArray player = encodeWireText(m_selectedPlayer);
    if (player.isEmpty())
        return;
    orvex->SendAdmin(ownName(orvex), ostrel::WireKeyword::BOOT, {player});
    platform::Platform::instance().messageBox(QStringLiteral("You have booted ") +
                                              decodeWireText(player) +
                                              QStringLiteral(" off the server"));
}
