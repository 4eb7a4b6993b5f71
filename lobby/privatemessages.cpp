#include "lobby.h"

#include "lobbysettings.h"
#include "platform.h"
#include "privatemessagetext.h"
#include "tchatlog.h"
#include "textcodec.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"

#include <QAction>
#include <QListWidget>

#include <memory>

// Private messages: the queue of unread messages, their windows and the log. Received
// messages wait in the queue until the user opens them; the timer's alert step (in
// startup.cpp) blinks the tray and shows the mail button while they wait.

namespace pm = privatemessagetext;

namespace {

const QColor kAlertColor(0, 0, 255);

} // namespace

void Tlobby::wirePrivateMessages()
{
    m_chatlog = new Tchatlog(this);
    m_chatlog->LogEnabled = [this] { return m_prefs.pmLog; };

    connect(SendPrivateMessage1, &QAction::triggered, this, [this] {
        const QString name = m_selectedPlayer;
        if (!name.isEmpty())
            createtomessage(encodeWireText(name));
    });
    connect(SendPrivateMessage2, &QAction::triggered, this, [this] {
        const QByteArray name = encodeWireText(m_selectedPlayer);
        const ostrel::TOrvexUser *user = orvex->User();
        if (!name.isEmpty() && (!user || name != QByteArray::fromStdString(user->UserName)))
            createtomessage(name);
    });
}

void Tlobby::closeMessageWindows()
{
    for (const QPointer<QWidget> &window : std::as_const(m_messageWindows)) {
        const std::unique_ptr<QWidget> owned(window.data());
    }
    m_messageWindows.clear();
}

void Tlobby::orvexPmesReceived(const QByteArray &text, const QByteArray &id)
{
    if (TurnOffPrivateMessages1->isChecked()) {
        // Never answer the automatic answer itself: two players who both turned their
        // messages off would otherwise answer each other without end.
        if (!pm::isAutoAnswer(text))
            orvex->SendPmes(pm::autoAnswerPayload(id));
        return;
    }
    if (isIgnored(id))
        return;

    const QString sender = decodeWireText(id);
    addlinetoalerts(sender + QStringLiteral(" sent you a PM"), kAlertColor);
    m_pending->add(id, text);
    showTrayState();

    // The lists keep their sorted order; the sender's entry, now with the mail icon,
    // is scrolled to the top of the view instead of being moved there.
    for (TPlayerList *list : {lbnames, listbox_gameroom}) {
        const int row = findlbname(sender, list);
        if (row >= 0)
            list->scrollTo(list->model()->index(row, 0), QAbstractItemView::PositionAtTop);
    }
    listbox_friends->viewport()->update();

    if (m_prefs.pmSound)
        playsounds(QStringLiteral("private"));
    if (m_prefs.pmAlert)
        notifyPrivateMessage(sender, decodeWireText(text));
}

void Tlobby::showaprivatemessage(int index)
{
    if (index < 0 || index >= m_pending->count())
        return;
    auto *reader = new Tprivatemessagefrom;
    m_messageWindows.removeAll(QPointer<QWidget>());
    m_messageWindows << reader;
    reader->setObjectName(QStringLiteral("pmfrom") + QString::number(++pmcount));
    reader->OnLog = [this](const QString &t, const QColor &c) { m_chatlog->addlinetolog(t, c); };
    reader->OnReply = [this](const QByteArray &sender) { createtomessage(sender); };
    reader->OnClose = [this](const QPoint &p) {
        pmfromleft = p.x();
        pmfromtop = p.y();
    };
    const PendingMessage &message = m_pending->at(index);
    reader->loadmessage(message.sender, message.text);
    const QPoint at = Tprivatemessagefrom::placement(pmfromleft, pmfromtop);

    // Taking the message out repaints the lists, so the mail icon goes with the last
    // pending message of that player.
    m_pending->take(index);
    showTrayState();
    reader->showAt(at);
}

void Tlobby::createtomessage(const QByteArray &name)
{
    const bool sendOnEnter = m_prefs.sentWithEnter;
    auto *writer = new Tprivatemessageto(name, sendOnEnter);
    m_messageWindows.removeAll(QPointer<QWidget>());
    m_messageWindows << writer;
    writer->setObjectName(QStringLiteral("pmto") + QString::number(++pmcount));
    writer->OnSend = [this](const QByteArray &payload) {
        // A message written while the connection is down would be lost without a word;
        // the window stays open with its text instead.
        if (!orvex->Active()) {
            platform::Platform::instance().messageBox(QStringLiteral("Not connected!"));
            return false;
        }
        orvex->SendPmes(payload);
        return true;
    };
    writer->OnLog = [this](const QString &t, const QColor &c) { m_chatlog->addlinetolog(t, c); };
    writer->OnClose = [this](const QPoint &p, bool enter) {
        pmtoleft = p.x();
        pmtotop = p.y();
        LobbySettings(settingspath).write("Sentwithenter1", enter ? "true" : "false");
        LobbyPreferences chosen = m_prefs;
        chosen.sentWithEnter = enter;
        changePreferences(chosen);
    };
    writer->showAt(Tprivatemessageto::placement(pmtoleft, pmtotop));
}

void Tlobby::button_mailClick()
{
    // The mail button opens what the tray icon would: the message its hint names.
    systrayiconClick();
}

void Tlobby::chatlogClick()
{
    m_chatlog->show();
    m_chatlog->raise();
    m_chatlog->activateWindow();
}
