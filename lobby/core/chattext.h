#pragma once

#include "tcolor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Widget-free rules of the chat panes: the word filter, links in pane text, how a
// received chat line is shown, and the texts of announcements and news.
namespace chattext {

// Masks every occurrence of a filtered word (case ignored, inside longer words too)
// with "****", keeping the case of all other letters.
QByteArray filterchat(QByteArrayView text);
int filterWordCount();

// A link found in pane text around a character position.
struct Link
{
    int start = -1; // index of the link's first character in the text
    QString url;    // as written in the text
    bool isValid() const { return start >= 0; }
};

// The link under `position` of `text`, or an invalid Link.
Link findurlat(const QString &text, int position);
// Only web and mail links leave the program: other players write these, and a file,
// telnet or gopher link must not start anything on the reader's machine.
bool isOpenableLink(const QString &url);
// The address handed to the desktop: "www." gains "http://".
QString openableUrl(const QString &url);

// What a received CHAT or GHAT line becomes.
struct Display
{
    enum Kind { Drop, IgnoredNotice, Line, Tournament };
    Kind kind = Drop;
    QByteArray text; // the line (IgnoredNotice: the notice text)
    TColor color{TColor::clNavy};
    QList<QByteArray> tourneyLines; // Tournament: the lines of the announcement pane
};

// Both give text that stays on one line (see singleLine): a sender must not be able to
// start a line of its own that looks like one of ours.
Display roomChatLine(QByteArrayView sender, QByteArrayView text, bool senderIgnored);
Display lobbyChatLine(QByteArrayView sender, QByteArrayView text, bool senderIgnored);

// Text of another player as one line (bytes or text): control characters (C0, DEL, C1) and the
// Unicode line and paragraph separators become a blank. A text pane would start a new line at each
// of them, and the wire cipher turns byte 0x15 into a line feed that cuts the line. The byte form
// reads UTF-8 sequences; any other byte above 0x7F is left alone.
QByteArray singleLineBytes(QByteArrayView text);
QString singleLine(const QString &text);

// The six-field text of a tournament announcement, without the "/tn " prefix.
QByteArray announcementText(const QByteArray &tourneyName, const QByteArray &gameName,
                            const QByteArray &location, const QByteArray &hour,
                            const QByteArray &minutes, const QByteArray &ampm, bool checkinOpen,
                            const QByteArray &comments);

// The message box text of a server announcement.
QByteArray shoutMessage(QByteArrayView text);
// Whether the announcement says that the server is going down right now.
bool isShutdownShout(QByteArrayView text);

struct News
{
    QByteArray id;
    QList<QByteArray> lines;
};
News splitNews(QByteArrayView text);

} // namespace chattext
