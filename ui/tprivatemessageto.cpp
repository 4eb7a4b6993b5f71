#include "tprivatemessageto.h"

#include "accessibility.h"
#include "privatemessagetext.h"
#include "textcodec.h"
#include "tflatbutton.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

namespace pm = privatemessagetext;

Tprivatemessageto::Tprivatemessageto(const QByteArray &recipient, bool sendOnEnter)
    : m_recipient(recipient)
{
    setObjectName(QStringLiteral("privatemessageto"));
    const QString name = decodeWireText(recipient);
    setWindowTitle(QStringLiteral("Private Message to ") + name);

    label_namelabel = new QLabel(QStringLiteral("To:"), this);
    label_namelabel->setObjectName(QStringLiteral("label_namelabel"));
    label_namelabel->setProperty("role", QStringLiteral("muted"));
    label_toname = new QLabel(name, this);
    label_toname->setObjectName(QStringLiteral("label_toname"));
    label_toname->setProperty("role", QStringLiteral("heading"));
    label_toname->setTextFormat(Qt::PlainText);
    label_toname->setTextInteractionFlags(Qt::TextSelectableByMouse);

    memo_message = new QPlainTextEdit(this);
    memo_message->setObjectName(QStringLiteral("memo_message"));
    memo_message->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo_message->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    memo_message->setTabChangesFocus(true);
    memo_message->installEventFilter(this);

    sendonenter = new QCheckBox(QStringLiteral("&Enter Sends PM"), this);
    sendonenter->setObjectName(QStringLiteral("sendonenter"));
    sendonenter->setChecked(sendOnEnter);

    button_send = new TFlatButton(QStringLiteral("&Send"), this);
    button_send->setObjectName(QStringLiteral("button_send"));
    button_send->setKind(QStringLiteral("accent"));
    button_cancel = new TFlatButton(QStringLiteral("&Cancel"), this);
    button_cancel->setObjectName(QStringLiteral("button_cancel"));
    button_send->setMinimumWidth(84);
    button_cancel->setMinimumWidth(84);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(label_namelabel);
    header->addWidget(label_toname, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(sendonenter);
    buttons->addStretch(1);
    buttons->addWidget(button_cancel);
    buttons->addWidget(button_send);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 14);
    layout->setSpacing(10);
    layout->addLayout(header);
    layout->addWidget(memo_message, 1);
    layout->addLayout(buttons);
    // Tab follows the buttons as they are laid out: Cancel stands left of Send.
    setTabOrder(sendonenter, button_cancel);
    setTabOrder(button_cancel, button_send);
    accessibility::nameControls(this, {{"memo_message", "Message"}});

    connect(button_send, &QPushButton::clicked, this, [this] { button_sendClick(); });
    connect(button_cancel, &QPushButton::clicked, this, [this] { button_cancelClick(); });

    setMinimumSize(300, 190);
    resize(390, 240);
    memo_message->setFocus();
}

QStringList Tprivatemessageto::displayedLines() const
{
    QStringList lines;
    QTextDocument *document = memo_message->document();
    auto *layout = qobject_cast<QPlainTextDocumentLayout *>(document->documentLayout());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        // The plain-text layout lays blocks out lazily as they scroll into view; the
        // lines of every block are needed here, visible or not.
        if (layout)
            layout->ensureBlockLayout(block);
        const QString text = block.text();
        const QTextLayout *blockLayout = block.layout();
        const int count = blockLayout ? blockLayout->lineCount() : 0;
        if (count == 0) {
            lines << text;
            continue;
        }
        for (int i = 0; i < count; ++i) {
            const QTextLine line = blockLayout->lineAt(i);
            QString part = text.mid(line.textStart(), line.textLength());
            // A soft line break (Shift+Enter) ends its line; it must not reach the wire.
            part.remove(QChar::LineSeparator);
            lines << part;
        }
    }
    // A line break at the very end only puts the caret on a new line; it is no line of
    // the message.
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void Tprivatemessageto::button_sendClick()
{
    guarded([this] {
        if (m_closed)
            return;
        if (memo_message->document()->isEmpty()) {
            close();
            return;
        }
        const QString time = pm::currentTimeText();
        const QStringList lines = displayedLines();
        const QByteArray payload = pm::pmesPayload(m_recipient, pm::messageText(time, lines));
        if (OnSend && !OnSend(payload))
            return;
        // Logged once it is on its way: a send that failed leaves no "You wrote" behind.
        log(pm::writerLogHeader(time, decodeWireText(m_recipient)), pm::writtenColor());
        for (const QString &line : lines) {
            if (!line.isEmpty())
                log(line, pm::writtenColor());
        }
        close();
    });
}

void Tprivatemessageto::button_cancelClick()
{
    close();
}

bool Tprivatemessageto::memo_messageKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (!sendonenter->isChecked())
        return false;
    button_sendClick();
    return true;
}

bool Tprivatemessageto::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == memo_message && event->type() == QEvent::KeyPress)
        return memo_messageKeyPress(static_cast<QKeyEvent *>(event));
    return TMessageWindow::eventFilter(watched, event);
}

void Tprivatemessageto::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
    TMessageWindow::changeEvent(event);
}

void Tprivatemessageto::FormActivate()
{
    memo_message->setFocus(Qt::ActiveWindowFocusReason);
}

void Tprivatemessageto::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void Tprivatemessageto::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    guarded([this] {
        if (OnClose)
            OnClose(pos(), sendonenter->isChecked());
    });
    restorePreviousWindow();
}

void Tprivatemessageto::log(const QString &text, const QColor &color)
{
    if (OnLog)
        OnLog(text, color);
}
