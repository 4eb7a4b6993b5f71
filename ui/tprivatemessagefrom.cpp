#include "tprivatemessagefrom.h"

#include "accessibility.h"
#include "privatemessagetext.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatbutton.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace pm = privatemessagetext;

namespace {

// The header line stays quieter than the message itself.
const QColor kHeaderColor(0x5b, 0x66, 0x78);

} // namespace

Tprivatemessagefrom::Tprivatemessagefrom()
{
    setObjectName(QStringLiteral("privatemessagefrom"));
    setWindowTitle(QStringLiteral("Private Message"));

    label_namelabel = new QLabel(QStringLiteral("From:"), this);
    label_namelabel->setObjectName(QStringLiteral("label_namelabel"));
    label_namelabel->setProperty("role", QStringLiteral("muted"));
    label_toname = new QLabel(this);
    label_toname->setObjectName(QStringLiteral("label_toname"));
    label_toname->setProperty("role", QStringLiteral("heading"));
    label_toname->setTextFormat(Qt::PlainText);
    label_toname->setTextInteractionFlags(Qt::TextSelectableByMouse);

    memo_message = new TChatPane(this);
    memo_message->setObjectName(QStringLiteral("memo_message"));
    memo_message->installEventFilter(this);
    memo_message->setContextMenuPolicy(Qt::CustomContextMenu);
    // It keeps the focus for Enter (reply), but a blinking caret in a text that cannot be
    // edited only misleads.
    memo_message->setCursorWidth(0);

    popup_memo = new QMenu(this);
    popup_memo->setObjectName(QStringLiteral("popup_memo"));
    Copy1 = popup_memo->addAction(QStringLiteral("Copy"));
    Copy1->setObjectName(QStringLiteral("Copy1"));
    Copy1->setShortcut(QKeySequence::Copy);
    Copy1->setEnabled(false);
    connect(Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
    connect(memo_message, &QPlainTextEdit::copyAvailable, Copy1, &QAction::setEnabled);
    connect(memo_message, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        popup_memo->popup(memo_message->viewport()->mapToGlobal(at));
    });

    button_reply = new TFlatButton(QStringLiteral("&Reply"), this);
    button_reply->setObjectName(QStringLiteral("button_reply"));
    button_reply->setKind(QStringLiteral("accent"));
    button_close = new TFlatButton(QStringLiteral("&Close"), this);
    button_close->setObjectName(QStringLiteral("button_close"));
    button_reply->setMinimumWidth(84);
    button_close->setMinimumWidth(84);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(label_namelabel);
    header->addWidget(label_toname, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    buttons->addWidget(button_close);
    buttons->addWidget(button_reply);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 14);
    layout->setSpacing(10);
    layout->addLayout(header);
    layout->addWidget(memo_message, 1);
    layout->addLayout(buttons);
    // Tab follows the buttons as they are laid out: Close stands left of Reply.
    setTabOrder(memo_message, button_close);
    setTabOrder(button_close, button_reply);
    accessibility::nameControls(this, {{"memo_message", "Message"}});

    connect(button_reply, &QPushButton::clicked, this, [this] { button_replyClick(); });
    connect(button_close, &QPushButton::clicked, this, [this] { button_closeClick(); });

    setMinimumSize(300, 190);
    resize(390, 240);
    memo_message->setFocus();
}

void Tprivatemessagefrom::loadmessage(const QByteArray &sender, const QByteArray &text)
{
    m_sender = sender;
    const QString name = decodeWireText(sender);
    label_toname->setText(name);
    // Its sender tells this window apart from the others in the task bar.
    setWindowTitle(QStringLiteral("Private Message from ") + name);

    const pm::Parts parts = pm::splitMessageText(decodeWireText(text));
    const QString header = pm::readerHeader(parts.time, name);
    memo_message->clear();
    memo_message->addline(header, kHeaderColor, false);
    for (const QString &line : pm::readerLines(parts.message))
        memo_message->addline(line, palette().color(QPalette::Text), false);
    memo_message->moveCursor(QTextCursor::Start);

    log(header, pm::readColor());
    log(pm::readerLogText(parts.message), pm::readColor());
}

void Tprivatemessagefrom::button_replyClick()
{
    guarded([this] {
        if (m_closed)
            return;
        // The writing window opened for the reply takes the foreground.
        m_replied = true;
        if (OnReply)
            OnReply(m_sender);
        close();
    });
}

void Tprivatemessagefrom::button_closeClick()
{
    close();
}

void Tprivatemessagefrom::Copy1Click()
{
    memo_message->copy();
}

bool Tprivatemessagefrom::memo_messageKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    button_replyClick();
    return true;
}

bool Tprivatemessagefrom::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == memo_message && event->type() == QEvent::KeyPress)
        return memo_messageKeyPress(static_cast<QKeyEvent *>(event));
    return TMessageWindow::eventFilter(watched, event);
}

void Tprivatemessagefrom::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void Tprivatemessagefrom::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    guarded([this] {
        if (OnClose)
            OnClose(pos());
    });
    if (!m_replied)
        restorePreviousWindow();
}

void Tprivatemessagefrom::log(const QString &text, const QColor &color)
{
    if (OnLog)
        OnLog(text, color);
}
