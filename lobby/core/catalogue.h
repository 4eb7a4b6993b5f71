#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The game catalogue as the server sends it (the line format is
// ostrel::WireCatalogueLine): lines "game:", "myll:", "rmll:" with category, identifier,
// version and download path, and "vers:" with the newest version of the program itself.
namespace catalogue {

struct Line
{
    enum Tag { Unknown, Game, MyLadder, RmLadder, Version };
    Tag tag = Unknown;
    QByteArray category;
    QByteArray id;
    QByteArray version; // for "vers:": the newest program version
    QByteArray path;    // everything after the fourth colon; may hold colons
};

Line parseLine(QByteArrayView text);
// Splits the text of a GAMES message at each "/r/".
QList<QByteArray> splitLines(QByteArrayView text);

// Everything from "RMLADDER", else "MYLADDER", else "SLOW" on cut off.
QByteArray withoutModeSuffix(QByteArrayView name);
// The registry key name of a room's game: the first "ADULT" removed, then the mode
// suffix.
QByteArray registryBaseName(QByteArrayView id);

// Download items of adult, ladder and slow rooms are not shown.
bool isHiddenDownload(QByteArrayView id);

// 0 installed and current, 1 older (or not comparable), 2 nothing installed.
int installedState(QByteArrayView installed, QByteArrayView current);

// How the running program compares with the newest version.
enum class SelfVersion { Current, Outdated, Unreadable };
SelfVersion compareSelfVersion(QByteArrayView running, QByteArrayView latest);

// The picture index of a room in the rooms tree: 0 category, 1 player, 2 a game not in
// the table, 3 and 4 "plumbrix" and "adultplumbrix", then three per game (the game,
// its MYLadder and its RMLadder room). The identifier is compared in lower case.
int getgameimage(QByteArrayView lowerCaseId);
// The games of the picture table in order (identifier without ladder suffixes).
const QList<QByteArray> &pictureTableGames();

} // namespace catalogue
