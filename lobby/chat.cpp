#include "lobby.h"

#include "chattext.h"
#include "platform.h"
#include "tchatpane.h"
#include "tcolor.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "wirekeyword.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <exception>
#include <functional>

// Room chat, the lobby-wide chat and the notice panes.

namespace {

const QString kEnterChatHere = QStringLiteral("<Enter Chat Here>");
const QString kChatTurnedOff = QStringLiteral("Game Lobby Chat Turned Off");
constexpr int kSpamLimit = 10;
constexpr int kLobbyChatLimit = 400;

// Hands the key presses of one chat edit to the lobby before the edit sees them.
class ChatEditKeys : public QObject
{
public:
    ChatEditKeys(QLineEdit *edit, std::function<bool(QKeyEvent *)> handler)
        : QObject(edit), m_handler(std::move(handler))
    {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        try {
            return m_handler(static_cast<QKeyEvent *>(event));
        } catch (const std::exception &e) {
            platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
            return true;
        }
    }

private:
    std::function<bool(QKeyEvent *)> m_handler;
};

bool isEnter(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// A key that types something (a character, Backspace, Enter, a control character), as
// opposed to a bare modifier or a navigation key.
bool isTypedKey(const QKeyEvent *event)
{
    return isEnter(event) || !event->text().isEmpty();
}

QByteArray ownName(const TOrvexConnection *orvex)
{
    const ostrel::TOrvexUser *user = orvex->User();
    return user ? QByteArray::fromStdString(user->UserName) : QByteArray();
}

void appendTo(TChatPane *pane, bool scrollOff, const QString &text, const QColor &color,
              bool boldToColon)
{
    pane->setScrollOff(scrollOff);
    pane->addline(text, color, boldToColon);
}

} // namespace

void Tlobby::wireChat()
{
    new ChatEditKeys(mychat_gameroom, [this](QKeyEvent *e) { return mychat_gameroomKeyPress(e); });
    new ChatEditKeys(mychat, [this](QKeyEvent *e) { return mychatKeyPress(e); });
    connect(mychat, &QLineEdit::textChanged, this, &Tlobby::mychatChange);
    connect(mainchat_gameroom, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
        MenuItem2->setEnabled(mainchat_gameroom->textCursor().hasSelection());
        popup_gameroomcopy->popup(mainchat_gameroom->mapToGlobal(p));
    });
    connect(mychat_gameroom, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
        popup_gameroompaste->popup(mychat_gameroom->mapToGlobal(p));
    });
    connect(MenuItem2, &QAction::triggered, this, &Tlobby::MenuItem2Click);
    connect(MenuItem5, &QAction::triggered, this, &Tlobby::MenuItem5Click);
    connect(chatscrolloff1, &QAction::toggled, this, &Tlobby::chatscrolloff1Click);
}

bool Tlobby::isIgnored(const QByteArray &name) const
{
    // The ignore list holds lower-case names, so any spelling of an ignored name matches.
    return ignoreListHolds(decodeWireText(name).toLower());
}

void Tlobby::orvexChatReceived(const QByteArray &text, const QByteArray &id)
{
    if (!m_prefs.lobbyChat)
        return;
    const chattext::Display line = chattext::roomChatLine(id, text, isIgnored(id));
    if (line.kind == chattext::Display::Line || line.kind == chattext::Display::IgnoredNotice)
        addlinetochat(decodeWireText(line.text), line.color.toQColor());
}

void Tlobby::orvexGhatReceived(const QByteArray &text, const QByteArray &id)
{
    const chattext::Display line = chattext::lobbyChatLine(id, text, isIgnored(id));
    switch (line.kind) {
    case chattext::Display::Drop:
        return;
    case chattext::Display::IgnoredNotice:
        platform::Platform::instance().messageBox(decodeWireText(line.text));
        return;
    case chattext::Display::Line:
        addlinetoalerts(decodeWireText(line.text), line.color.toQColor());
        return;
    case chattext::Display::Tournament:
        break;
    }
    const QColor colour = line.color.toQColor();
    for (const QByteArray &l : line.tourneyLines)
        addlinetotchat(decodeWireText(l), colour);
    if (m_prefs.tourneyAlert) {
        // The tab shows the alert only while the announcements are out of sight.
        if (button_tourney->Tag() == 0)
            button_tourney->setBorderColor(QColor(255, 255, 0));
        playsounds(QStringLiteral("tourney"));
    }
}

void Tlobby::addlinetochat(const QString &text, const QColor &color)
{
    appendTo(mainchat_gameroom, chatscrolloff1->isChecked(), text, color, true);
}

void Tlobby::addlinetoalerts(const QString &text, const QColor &color)
{
    appendTo(listbox_alerts, chatscrolloff1->isChecked(), text, color, true);
}

void Tlobby::addlinetotchat(const QString &text, const QColor &color)
{
    if (text.isEmpty())
        return;
    appendTo(tourneychat, chatscrolloff1->isChecked(), text, color, false);
}

bool Tlobby::mychat_gameroomKeyPress(QKeyEvent *event)
{
    const bool chatOn = m_prefs.lobbyChat;
    // The hint, and the notice of a switched-off chat once it is on again, give way to
    // whatever the user types.
    const QString current = mychat_gameroom->text();
    if (current == kEnterChatHere || (chatOn && current == kChatTurnedOff))
        mychat_gameroom->clear();
    if (!isTypedKey(event))
        return false;
    if (!orvex->Active()) {
        platform::Platform::instance().messageBox(QStringLiteral("Not connected!"));
        return false;
    }
    if (!chatOn) {
        mychat_gameroom->setText(kChatTurnedOff);
        return true;
    }
    return false; // Enter goes on to mychat_gameroomReturn through the edit
}

bool Tlobby::mychatKeyPress(QKeyEvent *event)
{
    if (mychat->text() == kEnterChatHere)
        mychat->clear();
    if (!isTypedKey(event))
        return false;
    if (!orvex->Active())
        platform::Platform::instance().messageBox(QStringLiteral("Not connected!"));
    return false;
}

void Tlobby::mychat_gameroomReturn()
{
    if (!orvex->Active() || !m_prefs.lobbyChat)
        return;
    // A pasted line break or control character would start a line of the readers' panes
    // (byte 0x15 even cuts the line on the wire): it goes as a blank.
    const QString typed = chattext::singleLine(mychat_gameroom->text());
    const QByteArray own = ownName(orvex);
    if (typed == QLatin1StringView("//quarto")) {
        // The restart request is a moderator's command, not chat: no spam counting.
        orvex->SendAdmin(own, ostrel::WireKeyword::REBOOT);
        mychat_gameroom->clear();
        return;
    }
    if (spamcount > kSpamLimit) {
        addlinetochat(QStringLiteral("Spam prevention activated!"), QColor(255, 0, 0));
        ++spamcount;
    } else if (!typed.isEmpty()) {
        const QByteArray wire = encodeWireText(typed);
        const QString me = decodeWireText(own);
        if (wire.startsWith("/me ") || wire.startsWith("/24 ")) {
            const TColor action = m_prefs.actionColor;
            const QString shown = wire.startsWith("/me ")
                                      ? me + u' ' + typed.mid(4)
                                      : QStringLiteral("[Tournament] ") + me + u' ' + typed.mid(4);
            addlinetochat(shown, action.toQColor());
            orvex->SendChat(wire + '|' + action.toText());
        } else {
            const TColor plain = m_prefs.textColor;
            addlinetochat(me + QStringLiteral(": ") + typed, plain.toQColor());
            orvex->SendChat(wire + '|' + plain.toText());
        }
        ++spamcount;
    }
    mychat_gameroom->clear();
}

void Tlobby::mychatReturn()
{
    if (!orvex->Active())
        return;
    const QString typed = chattext::singleLine(mychat->text());
    if (spamcount > kSpamLimit) {
        addlinetoalerts(QStringLiteral("Spam prevention activated!"), QColor(255, 0, 0));
    } else if (!typed.isEmpty()) {
        // Nothing is shown here: the server hands the line back to its sender too.
        const QByteArray wire = encodeWireText(typed);
        if (wire.startsWith("/me "))
            orvex->SendGhat(wire + '|' + m_prefs.actionColor.toText());
        else if (!wire.startsWith("/24 "))
            orvex->SendGhat(wire + '|' + m_prefs.textColor.toText());
    }
    // Every Enter counts here, an empty one too.
    ++spamcount;
    mychat->clear();
}

void Tlobby::mychatChange()
{
    if (mychat->text().size() > kLobbyChatLimit)
        mychat->setText(mychat->text().left(kLobbyChatLimit - 1));
}

void Tlobby::ClearGameRoomChat1Click()
{
    mainchat_gameroom->clear();
    listbox_alerts->clear();
}

void Tlobby::TurnOffGameLobbyChat1Click()
{
    LobbyPreferences chatOff = m_prefs;
    chatOff.lobbyChat = false;
    changePreferences(chatOff);
}

void Tlobby::MenuItem2Click()
{
    mainchat_gameroom->copy();
}

void Tlobby::MenuItem5Click()
{
    if (mychat_gameroom->hasSelectedText())
        mychat_gameroom->del();
    const QString pasted = QApplication::clipboard()->text();
    if (!pasted.isEmpty())
        mychat_gameroom->setText(mychat_gameroom->text() + pasted);
    mychat_gameroom->end(false);
}

void Tlobby::chatscrolloff1Click(bool checked)
{
    for (TChatPane *pane : {mainchat_gameroom, listbox_alerts, tourneychat})
        pane->setScrollOff(checked);
}
