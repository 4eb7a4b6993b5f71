#include "playerentry.h"

#include "wireplayerentry.h"

PlayerEntry PlayerEntry::parse(QByteArrayView text)
{
    const auto wire = ostrel::WirePlayerEntry::parse(
        std::string_view(text.data(), static_cast<std::size_t>(text.size())));
    PlayerEntry e;
    e.name = QByteArray::fromStdString(wire.name);
    e.level = wire.level.empty() ? QByteArray("1") : QByteArray::fromStdString(wire.level);
    e.room = QByteArray::fromStdString(wire.room);
    e.game = QByteArray::fromStdString(wire.game);
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
