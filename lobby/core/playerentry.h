#pragma once

#include <QByteArray>
#include <QByteArrayView>

// One player as the server announces them (the wire form is ostrel::WirePlayerEntry),
// with a missing level read as 1.
struct PlayerEntry
{
    QByteArray name;
    QByteArray level;
    QByteArray room;
    QByteArray game;

    static PlayerEntry parse(QByteArrayView text);

    // "name:level:room:" as the lobby list shows it.
    QByteArray lobbyListEntry() const;
    // "name:level:room:[game]" as the room list shows it.
    QByteArray roomListEntry() const;
};

// How an arrival or departure is announced.
enum class Notice { None, Blue, Navy };

// show: 0 "Show All", 1 "Show Only Friends", 2 "Show None". onlineFriend and
// offlineFriend tell whether the friends list marks the player online ("0") or offline
// ("1"); a friend still marked offline is announced under every choice.
Notice noticeFor(int show, bool onlineFriend, bool offlineFriend);
