#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Every word of the line protocol, in either direction: the keywords a line starts with,
// the message types a SEND line carries after its party (CHAT, PMES, ...), the two LOGIN
// answers and the moderation orders of HADMIN. Some words serve in two places (INVITE
// starts a line to the server and is a message type from it); they are one word here.
// The enumerators are spelt as on the wire, so that a reader finds a keyword in one step.
enum class WireKeyword : std::uint8_t {
    // Lines to the server
    LOGIN,
    LOGINNEW,
    PING,
    SEND,
    JOINSUBJECT,
    USERINFO,
    USERUPDATE,
    INVITE,
    PRIVATE,
    ADDGAME,
    ADDASSISTED,
    DELETEGAME,
    HADMIN,
    // Lines from the server (beside LOGIN, PING, SEND, JOINSUBJECT, USERINFO, ADDGAME and
    // DELETEGAME above)
    NEWSUCCESS,
    DATASEND,
    SUBJECTS,
    ADDSUBJECT,
    REMOVESUBJECT,
    ADDGUEST,
    REMOVEGUEST,
    GREMOVEGUEST,
    BEGINSUBJECT,
    SERVERSTATS,
    RENAMED,
    SHOUT,
    NEWS,
    GAMES,
    ERROR,
    ALLUSERS,
    FINISHED,
    CROOM,
    LCROOM,
    CUSTOM,
    // Message types of SEND (beside INVITE and DATASEND above)
    CHAT,
    GHAT,
    PMES,
    IPTJ,
    IGNO,
    JOIN,
    DATA,
    // The answers to LOGIN and LOGINNEW
    SUCCESS,
    FAILED,
    // The orders of HADMIN
    REBOOT,
    SILENCE,
    UNSILENCE,
    BOOT,
};

// The spelling of each word, in the order of the enumeration (checked where it is used).
struct WireKeywordSpelling
{
    WireKeyword keyword;
    std::string_view text;
};

inline constexpr std::array kWireKeywords = {
    WireKeywordSpelling{WireKeyword::LOGIN, "LOGIN"},
    WireKeywordSpelling{WireKeyword::LOGINNEW, "LOGINNEW"},
    WireKeywordSpelling{WireKeyword::PING, "PING"},
    WireKeywordSpelling{WireKeyword::SEND, "SEND"},
    WireKeywordSpelling{WireKeyword::JOINSUBJECT, "JOINSUBJECT"},
    WireKeywordSpelling{WireKeyword::USERINFO, "USERINFO"},
    WireKeywordSpelling{WireKeyword::USERUPDATE, "USERUPDATE"},
    WireKeywordSpelling{WireKeyword::INVITE, "INVITE"},
    WireKeywordSpelling{WireKeyword::PRIVATE, "PRIVATE"},
    WireKeywordSpelling{WireKeyword::ADDGAME, "ADDGAME"},
    WireKeywordSpelling{WireKeyword::ADDASSISTED, "ADDASSISTED"},
    WireKeywordSpelling{WireKeyword::DELETEGAME, "DELETEGAME"},
    WireKeywordSpelling{WireKeyword::HADMIN, "HADMIN"},
    WireKeywordSpelling{WireKeyword::NEWSUCCESS, "NEWSUCCESS"},
    WireKeywordSpelling{WireKeyword::DATASEND, "DATASEND"},
    WireKeywordSpelling{WireKeyword::SUBJECTS, "SUBJECTS"},
    WireKeywordSpelling{WireKeyword::ADDSUBJECT, "ADDSUBJECT"},
    WireKeywordSpelling{WireKeyword::REMOVESUBJECT, "REMOVESUBJECT"},
    WireKeywordSpelling{WireKeyword::ADDGUEST, "ADDGUEST"},
    WireKeywordSpelling{WireKeyword::REMOVEGUEST, "REMOVEGUEST"},
    WireKeywordSpelling{WireKeyword::GREMOVEGUEST, "GREMOVEGUEST"},
    WireKeywordSpelling{WireKeyword::BEGINSUBJECT, "BEGINSUBJECT"},
    WireKeywordSpelling{WireKeyword::SERVERSTATS, "SERVERSTATS"},
    WireKeywordSpelling{WireKeyword::RENAMED, "RENAMED"},
    WireKeywordSpelling{WireKeyword::SHOUT, "SHOUT"},
    WireKeywordSpelling{WireKeyword::NEWS, "NEWS"},
    WireKeywordSpelling{WireKeyword::GAMES, "GAMES"},
    WireKeywordSpelling{WireKeyword::ERROR, "ERROR"},
    WireKeywordSpelling{WireKeyword::ALLUSERS, "ALLUSERS"},
    WireKeywordSpelling{WireKeyword::FINISHED, "FINISHED"},
    WireKeywordSpelling{WireKeyword::CROOM, "CROOM"},
    WireKeywordSpelling{WireKeyword::LCROOM, "LCROOM"},
    WireKeywordSpelling{WireKeyword::CUSTOM, "CUSTOM"},
    WireKeywordSpelling{WireKeyword::CHAT, "CHAT"},
    WireKeywordSpelling{WireKeyword::GHAT, "GHAT"},
    WireKeywordSpelling{WireKeyword::PMES, "PMES"},
    WireKeywordSpelling{WireKeyword::IPTJ, "IPTJ"},
    WireKeywordSpelling{WireKeyword::IGNO, "IGNO"},
    WireKeywordSpelling{WireKeyword::JOIN, "JOIN"},
    WireKeywordSpelling{WireKeyword::DATA, "DATA"},
    WireKeywordSpelling{WireKeyword::SUCCESS, "SUCCESS"},
    WireKeywordSpelling{WireKeyword::FAILED, "FAILED"},
    WireKeywordSpelling{WireKeyword::REBOOT, "REBOOT"},
    WireKeywordSpelling{WireKeyword::SILENCE, "SILENCE"},
    WireKeywordSpelling{WireKeyword::UNSILENCE, "UNSILENCE"},
    WireKeywordSpelling{WireKeyword::BOOT, "BOOT"},
};

inline constexpr std::size_t kWireKeywordCount = kWireKeywords.size();

static_assert(static_cast<std::size_t>(WireKeyword::BOOT) + 1 == kWireKeywordCount,
              "every word has its spelling");
static_assert(
    [] {
        for (std::size_t i = 0; i < kWireKeywordCount; ++i)
            if (static_cast<std::size_t>(kWireKeywords[i].keyword) != i)
                return false;
        return true;
    }(),
    "the spellings are in the order of the enumeration");

constexpr std::string_view wireSpelling(WireKeyword keyword)
{
    return kWireKeywords[static_cast<std::size_t>(keyword)].text;
}

// The word a field is, compared byte for byte: no other case, no spaces, no prefix.
std::optional<WireKeyword> wireKeyword(std::string_view field);

// A field of a line: a word of the protocol (a SEND's message type, a LOGIN answer) is
// written as its spelling.
constexpr std::string_view wireField(WireKeyword keyword)
{
    return wireSpelling(keyword);
}
constexpr std::string_view wireField(std::string_view text)
{
    return text;
}

// A line of the protocol, unscrambled and without its line end: the keyword, then each
// field after a "|". An empty last field gives the trailing "|" some lines carry
// ("PING|").
template <typename... Fields> std::string wireLine(WireKeyword keyword, const Fields &...fields)
{
    const std::string_view head = wireSpelling(keyword);
    std::string line;
    // One allocation: relayed game data goes through here for every piece.
    line.reserve(head.size() + (std::size_t{0} + ... + (1 + wireField(fields).size())));
    line += head;
    ((line += '|', line += wireField(fields)), ...);
    return line;
}

// The fixed field that follows the name in LOGIN and LOGINNEW: the protocol revision.
inline constexpr std::string_view kWireRevision = "0121";
// The fixed field that follows HADMIN.
inline constexpr std::string_view kWireAdminCode = "7KAZ";
// The control words of relayed game data (the payload of a DATASEND after the peer's
// name): the joiner's game connected, or one side closed.
inline constexpr std::string_view kWireRelayOpen = "OPEN";
inline constexpr std::string_view kWireRelayClose = "CLOSE";
// The SHOUT that tells every lobby the server restarts: they log in again.
inline constexpr std::string_view kWireRebootShout = "rebootnow";
// What the server writes instead of a host's address in IPTJ when the host's game is
// relayed through the lobby (ADDASSISTED): the joiner must not connect directly.
inline constexpr std::string_view kWireAssistedAddress = "ASSISTED";

} // namespace ostrel
