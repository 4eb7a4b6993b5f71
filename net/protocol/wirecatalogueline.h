#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// A line of the game catalogue (the GAMES message carries them joined by "/r/"): "game:",
// "myll:" and "rmll:" with category, identifier, version and download path, and "vers:"
// with the newest version of the lobby program itself. Fields follow the token rule.
struct WireCatalogueLine
{
    enum Tag { Unknown, Game, MyLadder, RmLadder, Version };
    Tag tag = Unknown;
    std::string category;
    std::string id;
    std::string version; // for "vers:": the newest program version
    std::string path;    // everything after the fourth colon; may hold colons

    static WireCatalogueLine parse(std::string_view line);
};

} // namespace ostrel
