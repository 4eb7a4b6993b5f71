#pragma once

#include "wirekeyword.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Widget-free rules of hosting and joining: game names and mode letters of room labels,
// game entries ("host - room label"), and which addresses a game may be started with.
namespace hostingrules {

// The game of a room label: the first "ADULT" taken out, and everything from "RMLADDER",
// else "MYLADDER", else "SLOW" on cut off. Case-sensitive.
QByteArray gameName(QByteArrayView label);

// The mode letter a host hands its game: "e" ordinary, "a" adult, "t" ladder, "s" slow;
// a suffix wins over "ADULT".
QByteArray hostMode(QByteArrayView label);

// "You are in an ... Game" when the game name starts with an upper-case vowel or a blank,
// else "You are in a ... Game".
QString ingameText(const QString &label, const QString &game);

// A game entry split at its first "-": the host is what stands before the blank in front
// of it, the game what follows the blank after it. Both empty when there is no "-".
struct GameEntry
{
    QByteArray host;
    QByteArray game;
};
GameEntry splitEntry(QByteArrayView entry);

// A joiner's game name loses its "RMLADDER", else "MYLADDER", else "SLOW" suffix.
QByteArray withoutSuffix(QByteArrayView game);

// The room label of a game entry (after the first "-" and the blank following it), empty
// without a "-".
QByteArray entryRoom(QByteArrayView entry);

// Whether a game entry is listed in the games of `room`: its room is `room` and it is not
// a private game ("P*").
bool listedIn(QByteArrayView entry, QByteArrayView room);

// What a joiner receives in IPTJ instead of an address when the host's game is relayed.
inline constexpr QByteArrayView kAssistedAddress{
    ostrel::kWireAssistedAddress.data(),
    static_cast<qsizetype>(ostrel::kWireAssistedAddress.size())};

// The text a joiner receives in IPTJ is network input: only a dotted IPv4 address (or
// "ASSISTED", for the relay) may reach the game program's command line.
bool isLaunchAddress(QByteArrayView text);

} // namespace hostingrules
