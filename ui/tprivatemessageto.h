#pragma once

#include "tmessagewindow.h"

#include <QByteArray>
#include <QColor>
#include <QStringList>

#include <functional>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class TFlatButton;

// The window in which the user writes one private message to one player. It reaches the
// outside only through its callbacks; an unassigned one is skipped.
class Tprivatemessageto : public TMessageWindow
{
    Q_OBJECT
public:
    // The request for the connection's SendPmes: recipient + "|" + message text. False
    // (or an exception) means it was not sent: the window stays open with its text.
    using TSendEvent = std::function<bool(const QByteArray &payload)>;
    // One line for the message log.
    using TLogEvent = std::function<void(const QString &text, const QColor &color)>;
    // The window is closing: its own top-left corner and the state of "Enter Sends PM",
    // for the stored position and the "Sentwithenter1" option.
    using TCloseEvent = std::function<void(const QPoint &topLeft, bool sendOnEnter)>;

    // `recipient` is the player's name as the wire carries it; `sendOnEnter` is the
    // initial state of "Enter Sends PM".
    Tprivatemessageto(const QByteArray &recipient, bool sendOnEnter);

    QByteArray recipient() const { return m_recipient; }

    // The memo's lines as displayed: every wrapped line counts as a line of its own.
    QStringList displayedLines() const;

    TSendEvent OnSend;
    TLogEvent OnLog;
    TCloseEvent OnClose;

    void button_sendClick();
    void button_cancelClick();
    // True when the key was handled here and must not reach the memo.
    bool memo_messageKeyPress(QKeyEvent *event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormActivate();
    void FormClose();
    void log(const QString &text, const QColor &color);

    QByteArray m_recipient;
    bool m_closed = false;

    QLabel *label_namelabel = nullptr;
    QLabel *label_toname = nullptr;
    QPlainTextEdit *memo_message = nullptr;
    QCheckBox *sendonenter = nullptr;
    TFlatButton *button_send = nullptr;
    TFlatButton *button_cancel = nullptr;
};
