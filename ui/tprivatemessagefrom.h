#pragma once

#include "tmessagewindow.h"

#include <QByteArray>
#include <QColor>

#include <functional>

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class TFlatButton;
class TChatPane;

// The window in which the user reads one received private message. It reaches the
// outside only through its callbacks; an unassigned one is skipped.
class Tprivatemessagefrom : public TMessageWindow
{
    Q_OBJECT
public:
    // The user wants to answer: open a writing window to `sender`.
    using TReplyEvent = std::function<void(const QByteArray &sender)>;
    // One line for the message log.
    using TLogEvent = std::function<void(const QString &text, const QColor &color)>;
    // The window is closing: its own top-left corner, for the stored position.
    using TCloseEvent = std::function<void(const QPoint &topLeft)>;

    Tprivatemessagefrom();

    // Shows one message; `sender` and `text` as the wire carried them. The log lines go
    // out through OnLog, which must be assigned before.
    void loadmessage(const QByteArray &sender, const QByteArray &text);
    QByteArray sender() const { return m_sender; }

    TReplyEvent OnReply;
    TLogEvent OnLog;
    TCloseEvent OnClose;

    void button_replyClick();
    void button_closeClick();
    void Copy1Click();
    // True when the key was handled here and must not reach the memo.
    bool memo_messageKeyPress(QKeyEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormClose();
    void log(const QString &text, const QColor &color);

    QByteArray m_sender;
    bool m_closed = false;
    bool m_replied = false;

    QLabel *label_namelabel = nullptr;
    QLabel *label_toname = nullptr;
    TChatPane *memo_message = nullptr;
    QMenu *popup_memo = nullptr;
    QAction *Copy1 = nullptr;
    TFlatButton *button_reply = nullptr;
    TFlatButton *button_close = nullptr;
};
