#include "catalogue.h"

#include "wirecatalogueline.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <optional>

namespace catalogue {

namespace {

// A dotted version as its numeric parts; nothing when a part is not a number. Parts
// are compared one by one: joining the digits would rank 1.6.10 above 1.7.0.
std::optional<QList<qint64>> versionParts(QByteArrayView version)
{
    QList<qint64> parts;
    for (const QByteArray &part : version.toByteArray().split('.')) {
        if (part.isEmpty() || part.size() > 18)
            return std::nullopt;
        for (char c : part) {
            if (c < '0' || c > '9')
                return std::nullopt;
        }
        parts << part.toLongLong();
    }
    return parts;
}

// Negative, zero or positive as a is older than, equal to or newer than b; missing
// trailing parts count as 0.
int compareParts(const QList<qint64> &a, const QList<qint64> &b)
{
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const qint64 x = i < a.size() ? a[i] : 0;
        const qint64 y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// Our games, in the picture order: each takes three pictures.
constexpr std::array<const char *, 44> kGames = {
    "wordrace",   "letterlink",  "anagrammer",  "wordweave",   "spellsprint", "crossgrid",
    "wordhunt",   "dicedash",    "fivedice",    "pigpile",     "dicetower",   "luckyroll",
    "rummyrun",   "spadesclub",  "heartsnight", "euchreparty", "crazyeights", "ginrummy",
    "cribboard",  "solitairest", "pokerdice",   "bridgeclub",  "dominodraw",  "trainyard",
    "fives",      "checkers",    "reversi",     "fourinrow",   "backgammon",  "chesscafe",
    "tiletowers", "gemswap",     "blockdrop",   "sudokuduel",  "mahjongpair", "bingohall",
    "triviatime", "hangman",     "battleboats", "minesweep",   "sketchguess", "quizduel",
    "pairmatch",  "marbles",
};

const QHash<QByteArray, int> &pictureIndex()
{
    static const QHash<QByteArray, int> table = []() {
        QHash<QByteArray, int> t;
        t.insert("plumbrix", 3);
        t.insert("adultplumbrix", 4);
        int index = 5;
        for (const char *game : kGames) {
            const QByteArray id(game);
            t.insert(id, index++);
            t.insert(id + "myladder", index++);
            t.insert(id + "rmladder", index++);
        }
        return t;
    }();
    return table;
}

} // namespace

Line parseLine(QByteArrayView text)
{
    const auto wire = ostrel::WireCatalogueLine::parse(
        std::string_view(text.data(), static_cast<std::size_t>(text.size())));
    static_assert(int(Line::Version) == int(ostrel::WireCatalogueLine::Version));
    Line line;
    line.tag = static_cast<Line::Tag>(wire.tag);
    line.category = QByteArray::fromStdString(wire.category);
    line.id = QByteArray::fromStdString(wire.id);
    line.version = QByteArray::fromStdString(wire.version);
    line.path = QByteArray::fromStdString(wire.path);
    return line;
}

QList<QByteArray> splitLines(QByteArrayView text)
{
    QList<QByteArray> lines;
    for (;;) {
        const auto p = text.indexOf("/r/");
        if (p < 0) {
            if (!text.isEmpty())
                lines << text.toByteArray();
            return lines;
        }
        lines << text.first(p).toByteArray();
        text = text.sliced(p + 3);
    }
}

QByteArray withoutModeSuffix(QByteArrayView name)
{
    QByteArray out = name.toByteArray();
    qsizetype cut = out.indexOf("RMLADDER");
    if (cut < 0)
        cut = out.indexOf("MYLADDER");
    if (cut < 0)
        cut = out.indexOf("SLOW");
    if (cut >= 0)
        out.truncate(cut);
    return out;
}

QByteArray registryBaseName(QByteArrayView id)
{
    QByteArray base = id.toByteArray();
    const auto adult = base.indexOf("ADULT");
    if (adult >= 0)
        base.remove(adult, 5);
    return withoutModeSuffix(base);
}

bool isHiddenDownload(QByteArrayView id)
{
    return id.contains("ADULT") || id.contains("MYLADDER") || id.contains("RMLADDER") ||
           id.contains("SLOW");
}

int installedState(QByteArrayView installed, QByteArrayView current)
{
    if (installed.isEmpty())
        return 2;
    if (installed == current)
        return 0;
    const auto have = versionParts(installed);
    const auto want = versionParts(current);
    if (!have || !want)
        return 1;
    return compareParts(*have, *want) < 0 ? 1 : 0;
}

SelfVersion compareSelfVersion(QByteArrayView running, QByteArrayView latest)
{
    if (running == latest)
        return SelfVersion::Current;
    const auto have = versionParts(running);
    const auto newest = versionParts(latest);
    if (!have || !newest)
        return SelfVersion::Unreadable;
    return compareParts(*have, *newest) < 0 ? SelfVersion::Outdated : SelfVersion::Current;
}

int getgameimage(QByteArrayView lowerCaseId)
{
    return pictureIndex().value(lowerCaseId.toByteArray(), 2);
}

const QList<QByteArray> &pictureTableGames()
{
    static const QList<QByteArray> games = []() {
        QList<QByteArray> g;
        for (const char *game : kGames)
            g << QByteArray(game);
        return g;
    }();
    return games;
}

} // namespace catalogue
