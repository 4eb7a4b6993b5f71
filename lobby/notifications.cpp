#include "lobby.h"

#include "assets.h"
#include "notificationtext.h"
#include "platform.h"
#include "playerentry.h"
#include "textcodec.h"
#include "tinvited.h"
#include "torvexconnection.h"
#include "traybadge.h"

#include <QListWidget>
#include <QSystemTrayIcon>

// Desktop notifications for what happens while the user looks elsewhere, and the count
// of waiting private messages on the tray icon. Each notification is asked for at the
// point where the lobby already decides on its sound, line or window, after the same
// options have had their say.

namespace nt = notificationtext;

bool Tlobby::userIsHere() const
{
    return isVisible() && !isMinimized() && isActiveWindow();
}

void Tlobby::notifyAway(const QString &summary, const QString &body,
                        const std::function<void()> &then)
{
    if (userIsHere())
        return;
    // The click may come long after this window is gone.
    QPointer<Tlobby> self(this);
    platform::Platform::instance().notify(nt::oneLine(summary), nt::oneLine(body), [self, then] {
        if (!self)
            return;
        self->showNormal();
        self->raise();
        self->activateWindow();
        if (then)
            then();
    });
}

void Tlobby::askAttentionAway()
{
    if (!userIsHere())
        platform::Platform::instance().requestAttention();
}

void Tlobby::notifyPrivateMessage(const QString &sender, const QString &messageText)
{
    // A message waits for an answer: the window says so too, even where no notification
    // or tray can show.
    askAttentionAway();
    // The click opens that sender's oldest waiting message, unless it was read meanwhile.
    notifyAway(QStringLiteral("Private message from ") + sender, nt::messagePreview(messageText),
               [this, sender] {
                   if (const int waiting = m_pending->indexOf(sender); waiting >= 0)
                       showaprivatemessage(waiting);
               });
}

void Tlobby::notifyFriendOnline(const QString &name)
{
    notifyAway(name + QStringLiteral(" is online"),
               QStringLiteral("Your friend ") + name + QStringLiteral(" has connected."));
}

void Tlobby::notifyInvitation(const QString &inviter, const QString &game)
{
    askAttentionAway();
    notifyAway(QStringLiteral("Invitation from ") + inviter,
               inviter + QStringLiteral(" invited you to join ") + game + QLatin1Char('.'), [this] {
                   if (m_invited && m_invited->isVisible()) {
                       m_invited->raise();
                       m_invited->activateWindow();
                   }
               });
}

void Tlobby::notifyHostedGame(const QString &host, const QString &entry)
{
    // Games listed on entering the room were there already, and the user's own game is
    // no news. The options have no switch of their own for games: the join/leave notice
    // choice decides for the host, as it does for the host's arrival.
    if (quietjoin)
        return;
    const ostrel::TOrvexUser *user = orvex->User();
    if (user && encodeWireText(host) == QByteArray::fromStdString(user->UserName))
        return;
    const int show = m_prefs.show;
    if (noticeFor(show, friendsHold(QLatin1Char('0') + host),
                  friendsHold(QLatin1Char('1') + host)) == Notice::None)
        return;
    notifyAway(host + QStringLiteral(" is hosting a game"), entry);
}

void Tlobby::showTrayState()
{
    const int waiting = m_pending ? m_pending->count() : 0;
    // Every new picture or tooltip is a message to the desktop's tray (over the session bus
    // on most desktops): only a change is handed on, and each picture is drawn once.
    const QPair<int, int> state(m_trayblink, waiting);
    if (state != m_trayShown) {
        if (m_trayIcons.size() > 16)
            m_trayIcons.clear();
        QIcon &icon = m_trayIcons[state];
        if (icon.isNull())
            icon = traybadge::badged(assets::trayIcon(m_trayblink), waiting);
        systrayicon->setIcon(icon);
        m_trayShown = state;
    }
    const QString tip =
        waiting > 0 ? m_trayHint + QLatin1Char('\n') + nt::waitingText(waiting) : m_trayHint;
    if (systrayicon->toolTip() != tip)
        systrayicon->setToolTip(tip);
}
