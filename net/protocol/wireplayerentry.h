#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// One player as the server announces them (ADDGUEST, JOINSUBJECT): name, level (the hat
// number), room and game, separated by "+". The server writes all four; a reader takes
// each of the first three fields only when a "+" follows it, and the game is everything
// after the third "+" (it may hold "+" itself).
struct WirePlayerEntry
{
    std::string name;
    std::string level;
    std::string room;
    std::string game;

    static WirePlayerEntry parse(std::string_view text);
    static std::string format(std::string_view name, std::string_view level, std::string_view room,
                              std::string_view game);
    std::string text() const { return format(name, level, room, game); }
};

} // namespace ostrel
