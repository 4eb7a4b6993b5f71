#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The game catalogue the server hands every client after login, and the rooms it implies:
// one room per "game:" line (plus the adult room of plumbrix), one per "myll:" and
// "rmll:" line with its ladder suffix. "Lobby Chat" comes first and is always a room.
class Catalogue
{
public:
    static constexpr const char *kLobby = "Lobby Chat";

    // The built-in sample used when no catalogue file is given.
    static Catalogue sample();
    // Throws std::runtime_error for an unreadable file or a line that would break the
    // protocol ("|" or "/r/" inside a line, a room name holding "+").
    static Catalogue fromFile(const std::string &path);
    static Catalogue fromText(std::string_view text);

    // The GAMES payload: the lines joined by "/r/".
    const std::string &gamesText() const { return m_gamesText; }
    // Rooms in catalogue order, "Lobby Chat" first, without repeats.
    const std::vector<std::string> &rooms() const { return m_rooms; }
    bool hasRoom(std::string_view room) const;
    // Rooms in which a game can be hosted (every room but "Lobby Chat").
    bool isGameRoom(std::string_view room) const;

private:
    void addRoom(std::string room);

    std::string m_gamesText;
    std::vector<std::string> m_rooms;
    std::unordered_set<std::string> m_roomSet;
};
