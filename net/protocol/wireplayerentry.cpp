#include "wireplayerentry.h"

namespace ostrel {

namespace {

// The text before the next "+", only when there is one; the view moves past it.
std::string field(std::string_view &rest)
{
    const auto p = rest.find('+');
    if (p == std::string_view::npos) {
        rest = {};
        return {};
    }
    std::string value(rest.substr(0, p));
    rest.remove_prefix(p + 1);
    return value;
}

} // namespace

WirePlayerEntry WirePlayerEntry::parse(std::string_view text)
{
    WirePlayerEntry e;
    e.name = field(text);
    e.level = field(text);
    e.room = field(text);
    e.game = std::string(text);
    return e;
}

std::string WirePlayerEntry::format(std::string_view name, std::string_view level,
                                    std::string_view room, std::string_view game)
{
    std::string entry;
    entry.reserve(name.size() + level.size() + room.size() + game.size() + 3);
    entry.append(name).append("+").append(level).append("+").append(room).append("+");
    entry.append(game);
    return entry;
}

} // namespace ostrel
