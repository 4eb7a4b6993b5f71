#include "notificationtext.h"

namespace notificationtext {

QString oneLine(const QString &text, int maxChars)
{
    QString flat = text;
    flat.replace(QLatin1String("/r/"), QLatin1String(" "));
    for (QChar &c : flat) {
        // Line and paragraph separators are not control characters but break lines too.
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    flat = flat.simplified();
    if (maxChars <= 0 || flat.size() <= maxChars)
        return flat;

    const QChar ellipsis(0x2026);
    int cut = maxChars - 1;
    // Words are kept whole unless the last one would take more than a quarter of the room.
    const int space = flat.lastIndexOf(QLatin1Char(' '), cut);
    if (space > (maxChars * 3) / 4)
        cut = space;
    // Never leave half of a surrogate pair behind.
    if (cut > 0 && flat.at(cut - 1).isHighSurrogate())
        --cut;
    return flat.left(cut).trimmed() + ellipsis;
}

QString messagePreview(const QString &messageText, int maxChars)
{
    const int plus = messageText.indexOf(QLatin1Char('+'));
    return oneLine(plus < 0 ? messageText : messageText.mid(plus + 1), maxChars);
}

QString waitingText(int count)
{
    return count == 1 ? QStringLiteral("1 private message waiting")
                      : QStringLiteral("%1 private messages waiting").arg(count);
}

} // namespace notificationtext
