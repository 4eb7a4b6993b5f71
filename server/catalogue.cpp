#include "catalogue.h"

#include "orvexutils.h"
#include "wirecatalogueline.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// A few games in several categories with ladder rooms. The "vers:" line names this
// build's own version as the newest, so that a client of this build is not urged to update.
constexpr std::string_view kSample = "game:Word:Wordsmith:1.2.0:/games/wordsmith/setup.exe\n"
                                     "game:Word:Letterbox:2.0.3:/games/letterbox/setup.exe\n"
                                     "game:Dice:Dicebound:1.4.1:/games/dicebound/setup.exe\n"
                                     "game:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe\n"
                                     "game:Card:Wobbleton:3.1.0:/games/wobbleton/setup.exe\n"
                                     "game:Misc:Tilerun:1.0.5:/games/tilerun/setup.exe\n"
                                     "game:Domino:Bonestack:1.1.0:/games/bonestack/setup.exe\n"
                                     "myll:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe\n"
                                     "rmll:Card:Plumbrix:1.6.7:/games/plumbrix/setup.exe\n"
                                     "myll:Dice:Dicebound:1.4.1:/games/dicebound/setup.exe\n"
                                     "vers:" OSTREL_VERSION ":" OSTREL_VERSION ":\n";

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

} // namespace

Catalogue Catalogue::sample()
{
    return fromText(kSample);
}

Catalogue Catalogue::fromFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read the catalogue file " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return fromText(text.str());
}

Catalogue Catalogue::fromText(std::string_view text)
{
    Catalogue catalogue;
    catalogue.addRoom(kLobby);
    int number = 0;
    while (!text.empty()) {
        std::string_view line = ostrel::ExtractToken(text, '\n');
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        const auto where = " in catalogue line " + std::to_string(number);
        if (line.find('|') != std::string_view::npos || line.find("/r/") != std::string_view::npos)
            throw std::runtime_error("\"|\" and \"/r/\" cannot be carried" + where);
        // A byte that scrambles to a line feed would cut the GAMES line at the client.
        if (line.find('\x15') != std::string_view::npos)
            throw std::runtime_error("control character 0x15" + where);
        if (!catalogue.m_gamesText.empty())
            catalogue.m_gamesText += "/r/";
        catalogue.m_gamesText += line;

        const auto entry = ostrel::WireCatalogueLine::parse(line);
        if (entry.tag == entry.Unknown || entry.tag == entry.Version)
            continue;
        const std::string &id = entry.id;
        if (id.empty())
            throw std::runtime_error("a game line without a game name" + where);
        if (id.find('+') != std::string::npos)
            throw std::runtime_error("\"+\" cannot be part of a room name" + where);
        if (entry.tag == entry.Game) {
            catalogue.addRoom(id);
            if (lower(id) == "plumbrix")
                catalogue.addRoom("ADULT" + id);
        } else {
            catalogue.addRoom(id + (entry.tag == entry.MyLadder ? "MYLADDER" : "RMLADDER"));
        }
    }
    return catalogue;
}

void Catalogue::addRoom(std::string room)
{
    if (m_roomSet.insert(room).second)
        m_rooms.push_back(std::move(room));
}

bool Catalogue::hasRoom(std::string_view room) const
{
    return m_roomSet.count(std::string(room)) > 0;
}

bool Catalogue::isGameRoom(std::string_view room) const
{
    return room != kLobby && hasRoom(room);
}
