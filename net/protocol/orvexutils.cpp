#include "orvexutils.h"

#include <charconv>
#include <cmath>

namespace ostrel {

std::string_view ExtractToken(std::string_view &rest, char separator)
{
    const auto p = rest.find(separator);
    if (p == std::string_view::npos) {
        const auto token = rest;
        rest = {};
        return token;
    }
    const auto token = rest.substr(0, p);
    rest.remove_prefix(p + 1);
    return token;
}

std::string ExtractToken(std::string &rest, char separator)
{
    const auto p = rest.find(separator);
    if (p == std::string::npos) {
        std::string token;
        token.swap(rest);
        return token;
    }
    std::string token = rest.substr(0, p);
    rest.erase(0, p + 1);
    return token;
}

namespace {

std::string_view skipSpaces(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

} // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text)
{
    text = skipSpaces(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    std::int64_t value = 0;
    const auto *first = text.data();
    const auto *last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> ParseReal(std::string_view text)
{
    text = skipSpaces(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would also take "inf", "nan" and hexadecimal forms; the wire only
    // carries digits, so insist on a digit or a point followed by one.
    if (text.empty())
        return std::nullopt;
    const bool startsWithDigit = text.front() >= '0' && text.front() <= '9';
    const bool startsWithPoint =
        text.front() == '.' && text.size() > 1 && text[1] >= '0' && text[1] <= '9';
    if (!startsWithDigit && !startsWithPoint)
        return std::nullopt;
    double value = 0;
    const auto *last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

} // namespace ostrel
