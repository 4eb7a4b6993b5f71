#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Small rules shared by the server's handlers, free of any state.
namespace lobbyrules {

// Player keys: names compare without regard to letter case.
std::string key(std::string_view name);
// 1 to 15 letters, digits, "_" or "~".
bool validName(std::string_view name);
// 1 to 9 characters; no control characters and none of the record's separators.
bool validPassword(std::string_view password);
// A profile field: bounded, and free of control characters and separators that would
// break the record or the line it travels in.
bool validProfileText(std::string_view text);
// Hat numbers run from 1 to 198; hat 3 needs class "S", hat 4 class "T" or "H".
bool hatAllowed(std::string_view hat, std::string_view accountClass);
bool isModerator(std::string_view accountClass);
// Text from one player to others with each ASCII control character replaced by a space:
// NUL, CR or a line feed (which travels as a byte that unscrambles to one) would cut or
// confuse the receiver's text.
std::string relayedText(std::string_view text);
// The news file as the NEWS line carries it: its lines joined by "/r/", line ends (LF or
// CRLF) removed, empty lines at either end dropped and the byte that scrambles to a line
// feed replaced by a space.
std::string newsText(std::string_view file);
// Four decimal numbers from 0 to 255 joined by dots, without leading zeros.
bool dottedIPv4(std::string_view text);
// Days since 30 December 1899, the record's date form.
double recordDateNow();
std::int64_t unixNow();

} // namespace lobbyrules
