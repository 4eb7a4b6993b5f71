// The server's catalogue file: whatever an operator's file holds, the server either
// refuses it or hands out a GAMES payload and rooms that cannot break a line or an entry.
#include "catalogue.h"

#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    Catalogue catalogue;
    try {
        catalogue = Catalogue::fromText(input);
    } catch (const std::runtime_error &) {
        return 0;
    }
    const auto &games = catalogue.gamesText();
    if (games.find('|') != std::string::npos || games.find('\n') != std::string::npos)
        std::abort();
    const auto &rooms = catalogue.rooms();
    if (rooms.empty() || rooms.front() != Catalogue::kLobby || catalogue.isGameRoom(rooms.front()))
        std::abort();
    std::set<std::string> seen;
    for (const auto &room : rooms) {
        if (room.empty() || room.find_first_of("|+\n") != std::string::npos ||
            !catalogue.hasRoom(room) || !seen.insert(room).second)
            std::abort();
    }
    return 0;
}
