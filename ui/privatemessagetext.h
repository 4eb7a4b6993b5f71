#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QLocale>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTime>

// Widget-free rules of private messages: how a message text is composed and read, the
// automatic answer, the log lines and where a message window goes on the screen.
//
// A message text is the sender's time of day, "+", then the lines joined by "/r/". A text
// without "+" has an empty time (the automatic answer is sent that way).
namespace privatemessagetext {

inline const QString kLineBreak = QStringLiteral("/r/");
inline const QString kAutoAnswer =
    QStringLiteral("I have PRIVATE MESSAGES turned off. Please try back later!");

// Colours of the log: what the user wrote, and what the user read.
inline QColor writtenColor()
{
    return QColor(128, 0, 0);
}
inline QColor readColor()
{
    return QColor(0, 0, 128);
}

// The time of day as a message carries it: the locale's long time format. Receivers cut
// the text at its first "+", so a time zone written as an offset ("+03") must not reach
// the wire: such a time is given without its zone.
QString timeText(const QLocale &locale, const QTime &time);
QString currentTimeText();

// The message text: time + "+" + the lines joined by "/r/".
QString messageText(const QString &time, const QStringList &lines);
// The request for the connection: recipient, "|", message text.
QByteArray pmesPayload(const QByteArray &recipient, const QString &messageText);

struct Parts
{
    QString time;
    QString message; // lines joined by "/r/"
};
// Splits a received text at its first "+".
Parts splitMessageText(const QString &text);

// "At <time> <sender> wrote: "
QString readerHeader(const QString &time, const QString &sender);
// The message as the reader shows it: one entry per line, the first led by a blank.
QStringList readerLines(const QString &message);
// The message for the log: its lines joined by line breaks, without the leading blank.
QString readerLogText(const QString &message);
// "At <time>  You wrote to <recipient> : "
QString writerLogHeader(const QString &time, const QString &recipient);

// The answer sent to every sender while private messages are turned off.
QByteArray autoAnswerPayload(const QByteArray &sender);
// True when a received text is itself the automatic answer. Answering it would let two
// clients that both have messages turned off answer each other without end.
bool isAutoAnswer(QByteArrayView text);

// Where a message window goes: the stored left and top, unless the window would not fit
// on a screen of the given size (or the value is negative), in which case that value
// becomes 3. The stored values change with it.
inline constexpr int kHeightAllowance = 251;
inline constexpr int kWidthAllowance = 397;
inline constexpr int kFallbackEdge = 3;
QPoint placewindow(int &storedLeft, int &storedTop, const QSize &screen);

} // namespace privatemessagetext
