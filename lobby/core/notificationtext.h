#pragma once

#include <QString>

// Widget-free texts of the desktop notifications and the tray icon. Everything here
// that another player wrote comes out as one line of plain text: a notification shows
// only the first words, and no line break or control character may reach it.
namespace notificationtext {

inline constexpr int kBodyChars = 80;

// Line breaks (the message's own "/r/" included), tabs and other control characters as
// blanks, runs of blanks as one, no blanks at either end; longer than maxChars, it is
// cut at a word boundary where one is near and ends with an ellipsis (maxChars in all).
QString oneLine(const QString &text, int maxChars = kBodyChars);

// The first words of a received private message text ("time+line/r/line"), without the
// sender's time of day.
QString messagePreview(const QString &messageText, int maxChars = kBodyChars);

// "1 private message waiting", "3 private messages waiting".
QString waitingText(int count);

} // namespace notificationtext
