#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// The token rule every parser of the protocol uses: the text before the first
// separator is the token and exactly one separator is removed; without a separator
// the whole text is the token and the rest becomes empty.
std::string_view ExtractToken(std::string_view &rest, char separator);
std::string ExtractToken(std::string &rest, char separator);

// Decimal 32-bit integer: optional leading spaces, optional sign, digits, nothing after.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Real number: leading spaces, optional sign, digits with an optional fraction and an
// optional exponent ("E" with optional sign). Plain decimals and the scientific form
// both read. Values that do not fit a finite double are refused.
std::optional<double> ParseReal(std::string_view text);

} // namespace ostrel
