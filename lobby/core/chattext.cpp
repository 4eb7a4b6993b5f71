#include "chattext.h"

#include "wirekeyword.h"

#include <array>

namespace chattext {

namespace {

// Lower-case words and fragments of letters, matched anywhere in a line.
constexpr std::array<const char *, 37> kFilterWords = {
    // Chosen so that few harmless words contain them: matching ignores word bounds.
    "fuck",     "shit",       "cunt",      "bitch",     "bastard",  "asshole", "dickhead",
    "wanker",   "twat",       "prickface", "bollocks",  "bugger",   "slut",    "whore",
    "nigger",   "nigga",      "faggot",    "fagg",      "retarded", "spastic", "douche",
    "jackass",  "dumbass",    "motherf",   "pissflaps", "crapface", "goddamn", "tosser",
    "arsehole", "cocksucker", "pussy",     "dildo",     "skank",    "kike",    "chinky",
    "tranny",   "wetback",
};

// Where links begin, in the order they are looked for. "https://" follows "http://"
// because the older table knew no secure links and would miss every one of them.
constexpr std::array<const char *, 9> kLinkPrefixes = {
    "http://",   "https://", "ftp://",  "file://", "gopher://",
    "telnet://", "news:",    "mailto:", "www.",
};

bool isLinkBreak(QChar c)
{
    return c == u' ' || c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator ||
           c == QChar::LineSeparator;
}

bool isLinkEnd(QChar c)
{
    const char16_t u = c.toLower().unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'/';
}

QByteArrayView beforeFirst(QByteArrayView text, char separator, QByteArrayView *after = nullptr)
{
    const auto p = text.indexOf(separator);
    if (p < 0) {
        if (after)
            *after = {};
        return text;
    }
    if (after)
        *after = text.sliced(p + 1);
    return text.first(p);
}

// Shared by both panes: the "/ignored" notice, the announcement filter and the ignore
// list. Returns true when the line goes no further.
bool screen(QByteArrayView text, bool senderIgnored, Display &out)
{
    const auto plus = text.indexOf('+');
    if (plus >= 0 && text.first(plus) == "/ignored") {
        out.kind = Display::IgnoredNotice;
        out.text = text.sliced(plus + 1).toByteArray() +
                   " is ignoring you, you are not allowed to join the game.";
        out.color = TColor(TColor::clNavy);
        return true;
    }
    if (text.contains("RV88-Announcement") || senderIgnored) {
        out.kind = Display::Drop;
        return true;
    }
    return false;
}

// The typed text before the first "|", filtered, and the sender's colour after it. A
// text without "|" keeps its words (shown in navy) rather than losing them.
QByteArray splitChat(QByteArrayView text, TColor &colour)
{
    QByteArrayView colourText;
    const QByteArrayView message = beforeFirst(text, '|', &colourText);
    colour = TColor::chatColor(colourText);
    return filterchat(message);
}

} // namespace

int filterWordCount()
{
    return static_cast<int>(kFilterWords.size());
}

QByteArray filterchat(QByteArrayView text)
{
    QByteArray result = text.toByteArray();
    QByteArray lower = result.toLower();
    for (const char *word : kFilterWords) {
        const QByteArrayView w(word);
        qsizetype from = 0;
        qsizetype p;
        // Each replacement leaves asterisks, which no word contains, so searching on
        // from the replacement finds the same occurrences as searching from the start.
        while ((p = lower.indexOf(w, from)) >= 0) {
            lower.replace(p, w.size(), "****");
            result.replace(p, w.size(), "****");
            from = p + 4;
        }
    }
    return result;
}

Link findurlat(const QString &text, int position)
{
    if (position < 0 || position >= text.size())
        return {};
    int left = position;
    while (left > 0 && !isLinkBreak(text[left - 1]))
        --left;
    int right = position;
    while (right < text.size() && !isLinkBreak(text[right]))
        ++right;
    if (left == right)
        return {};
    const QString token = text.mid(left, right - left);
    const QString lower = token.toLower();
    for (const char *prefix : kLinkPrefixes) {
        const QLatin1StringView p(prefix);
        const auto at = lower.indexOf(p);
        if (at < 0)
            continue;
        QString url = token.mid(at);
        while (!url.isEmpty() && !isLinkEnd(url.back()))
            url.chop(1);
        if (url.size() <= p.size())
            return {};
        return {left + static_cast<int>(at), url};
    }
    return {};
}

bool isOpenableLink(const QString &url)
{
    const QString lower = url.toLower();
    for (const char *prefix : {"http://", "https://", "ftp://", "mailto:", "news:", "www."}) {
        if (lower.startsWith(QLatin1StringView(prefix)))
            return true;
    }
    return false;
}

QString openableUrl(const QString &url)
{
    if (url.startsWith(QLatin1StringView("www."), Qt::CaseInsensitive))
        return QStringLiteral("http://") + url;
    return url;
}

QByteArray singleLineBytes(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    const auto at = [&text](qsizetype i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const unsigned char c = at(i);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c == 0xC2 && at(i + 1) >= 0x80 && at(i + 1) <= 0x9F) {
            out += ' '; // U+0080..U+009F
            i += 1;
        } else if (c == 0xE2 && at(i + 1) == 0x80 && (at(i + 2) == 0xA8 || at(i + 2) == 0xA9)) {
            out += ' '; // U+2028, U+2029
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

QString singleLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return out;
}

namespace {

Display oneLine(Display d)
{
    d.text = singleLineBytes(d.text);
    for (QByteArray &line : d.tourneyLines)
        line = singleLineBytes(line);
    return d;
}

Display roomChatLineOf(QByteArrayView sender, QByteArrayView text, bool senderIgnored)
{
    Display out;
    if (screen(text, senderIgnored, out))
        return out;
    const QByteArray message = splitChat(text, out.color);
    out.kind = Display::Line;
    if (message.startsWith("/me ")) {
        out.text = sender.toByteArray() + ' ' + message.sliced(4);
    } else if (message.startsWith("/24 ")) {
        const QByteArray rest = message.sliced(4);
        if (rest.startsWith("/TA ")) {
            out.kind = Display::Drop;
            return out;
        }
        out.text = '[' + sender.toByteArray() + " TOURNAMENT] - " + rest + ':';
    } else {
        out.text = sender.toByteArray() + ": " + message;
    }
    return out;
}

Display lobbyChatLineOf(QByteArrayView sender, QByteArrayView text, bool senderIgnored)
{
    Display out;
    if (screen(text, senderIgnored, out))
        return out;
    const QByteArray message = splitChat(text, out.color);
    if (!message.startsWith("/tn ")) {
        out.kind = Display::Line;
        if (message.startsWith("/me "))
            out.text = sender.toByteArray() + ' ' + message.sliced(4);
        else
            out.text = sender.toByteArray() + ": " + message;
        return out;
    }
    out.kind = Display::Tournament;
    QByteArrayView rest = QByteArrayView(message).sliced(4);
    if (!rest.contains(" / ")) {
        out.tourneyLines << sender.toByteArray() + " : " + rest.toByteArray();
        return out;
    }
    for (int i = 0; i < 6; ++i) {
        QByteArray field;
        const auto p = rest.indexOf(" / ");
        if (p >= 0) {
            field = rest.first(p).toByteArray();
            rest = rest.sliced(p + 3);
        } else {
            // Out of separators: the remaining fields are empty, and what follows the
            // last separator is not shown.
            rest = {};
        }
        out.tourneyLines << ' ' + field;
    }
    out.tourneyLines << " Contact " + sender.toByteArray().toUpper() + " for information";
    out.tourneyLines << "   ***";
    return out;
}

} // namespace

Display roomChatLine(QByteArrayView sender, QByteArrayView text, bool senderIgnored)
{
    return oneLine(roomChatLineOf(sender, text, senderIgnored));
}

Display lobbyChatLine(QByteArrayView sender, QByteArrayView text, bool senderIgnored)
{
    return oneLine(lobbyChatLineOf(sender, text, senderIgnored));
}

QByteArray announcementText(const QByteArray &tourneyName, const QByteArray &gameName,
                            const QByteArray &location, const QByteArray &hour,
                            const QByteArray &minutes, const QByteArray &ampm, bool checkinOpen,
                            const QByteArray &comments)
{
    QByteArray text;
    auto field = [&text](const QByteArray &f) { text += f + " / "; };
    field(tourneyName);
    field(gameName.isEmpty() ? QByteArray() : gameName + " Tournament");
    field(location.isEmpty() ? QByteArray() : "In Lobby: " + location);
    field("Start Time - " + hour + minutes + ampm);
    field(checkinOpen ? QByteArray("Checkin is open") : QByteArray("Checkin not open"));
    field(comments);
    return text;
}

bool isShutdownShout(QByteArrayView text)
{
    return text.toByteArray().toLower().contains(QByteArrayView(
        ostrel::kWireRebootShout.data(), static_cast<qsizetype>(ostrel::kWireRebootShout.size())));
}

QByteArray shoutMessage(QByteArrayView text)
{
    const QByteArray lower = text.toByteArray().toLower();
    if (isShutdownShout(text))
        return "The Server is going down for Maintenance. You can log back in in a few minutes!";
    if (lower.contains("rebootsoon"))
        return "The Server will be going DOWN for Maintenance in a few minutes.";
    return "RV88-Announcement: " + text.toByteArray();
}

News splitNews(QByteArrayView text)
{
    News news;
    QByteArrayView body;
    const auto bar = text.indexOf('|');
    if (bar < 0) {
        body = text;
    } else {
        news.id = text.first(bar).toByteArray();
        body = text.sliced(bar + 1);
    }
    // Each "/r/" ends a line; the text after the last one is the last line.
    for (;;) {
        const auto p = body.indexOf("/r/");
        if (p < 0) {
            news.lines << body.toByteArray();
            break;
        }
        news.lines << body.first(p).toByteArray();
        body = body.sliced(p + 3);
    }
    return news;
}

} // namespace chattext
