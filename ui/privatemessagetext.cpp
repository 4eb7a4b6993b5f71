#include "privatemessagetext.h"

#include "chattext.h"
#include "textcodec.h"

namespace privatemessagetext {

QString timeText(const QLocale &locale, const QTime &time)
{
    QString text = locale.toString(time, QLocale::LongFormat);
    if (!text.contains(u'+'))
        return text;
    // Drop the time zone ("t", "tt", ...) from the format, and its neighbouring blanks.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(u't');
    text = locale.toString(time, format.simplified());
    text.remove(u'+');
    return text.trimmed();
}

QString currentTimeText()
{
    return timeText(QLocale::system(), QTime::currentTime());
}

QString messageText(const QString &time, const QStringList &lines)
{
    // Lines travel joined by "/r/"; a control character left inside one would start a
    // line of the reader's pane, and byte 0x15 would cut the line on the wire.
    QStringList clean;
    clean.reserve(lines.size());
    for (const QString &line : lines)
        clean << chattext::singleLine(line);
    return chattext::singleLine(time) + u'+' + clean.join(kLineBreak);
}

QByteArray pmesPayload(const QByteArray &recipient, const QString &messageText)
{
    return recipient + '|' + encodeWireText(messageText);
}

Parts splitMessageText(const QString &received)
{
    // Only "/r/" breaks a message into lines: whatever else the sender put in stays on
    // its line.
    const QString text = chattext::singleLine(received);
    const qsizetype plus = text.indexOf(u'+');
    if (plus < 0)
        return {QString(), text};
    return {text.left(plus), text.mid(plus + 1)};
}

QString readerHeader(const QString &time, const QString &sender)
{
    return QStringLiteral("At ") + time + u' ' + sender + QStringLiteral(" wrote: ");
}

QStringList readerLines(const QString &message)
{
    QStringList lines = message.split(kLineBreak);
    lines.first().prepend(u' ');
    return lines;
}

QString readerLogText(const QString &message)
{
    QString text = message;
    return text.replace(kLineBreak, QStringLiteral("\n"));
}

QString writerLogHeader(const QString &time, const QString &recipient)
{
    return QStringLiteral("At ") + time + QStringLiteral("  You wrote to ") + recipient +
           QStringLiteral(" : ");
}

QByteArray autoAnswerPayload(const QByteArray &sender)
{
    return sender + '|' + kAutoAnswer.toLatin1();
}

bool isAutoAnswer(QByteArrayView text)
{
    return splitMessageText(decodeWireText(text)).message == kAutoAnswer;
}

QPoint placewindow(int &storedLeft, int &storedTop, const QSize &screen)
{
    if (screen.height() - kHeightAllowance < storedTop || storedTop < 0)
        storedTop = kFallbackEdge;
    if (screen.width() - kWidthAllowance < storedLeft || storedLeft < 0)
        storedLeft = kFallbackEdge;
    return QPoint(storedLeft, storedTop);
}

} // namespace privatemessagetext
