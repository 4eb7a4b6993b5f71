#include "playerentry.h"

namespace {

// The text before the next "+", only when there is one; the view moves past it.
QByteArray field(QByteArrayView &rest)
{
    const auto p = rest.indexOf('+');
    if (p < 0) {
        rest = {};
        return {};
    }
    QByteArray value = rest.first(p).toByteArray();
    rest = rest.sliced(p + 1);
    return value;
}

} // namespace

PlayerEntry PlayerEntry::parse(QByteArrayView text)
{
    PlayerEntry e;
    QByteArrayView rest = text;
    e.name = field(rest);
    e.level = field(rest);
    e.room = field(rest);
    e.game = rest.toByteArray();
    if (e.level.isEmpty())
        e.level = "1";
    return e;
}

QByteArray PlayerEntry::lobbyListEntry() const
{
    return name + ':' + level + ':' + room + ':';
}

QByteArray PlayerEntry::roomListEntry() const
{
    return lobbyListEntry() + '[' + game + ']';
}

Notice noticeFor(int show, bool onlineFriend, bool offlineFriend)
{
    if (offlineFriend)
        return Notice::Blue;
    switch (show) {
    case 0:
        return onlineFriend ? Notice::Blue : Notice::Navy;
    case 1:
        return onlineFriend ? Notice::Blue : Notice::None;
    default:
        return Notice::None;
    }
}
