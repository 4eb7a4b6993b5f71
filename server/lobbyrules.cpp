#include "lobbyrules.h"

#include "orvexutils.h"

#include <chrono>

namespace lobbyrules {

std::string key(std::string_view name)
{
    std::string out(name);
    for (auto &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool validName(std::string_view name)
{
    if (name.empty() || name.size() > 15)
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '~';
        if (!ok)
            return false;
    }
    return true;
}

namespace {

bool cleanText(std::string_view text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '|' || c == '^')
            return false;
    }
    return true;
}

} // namespace

bool validPassword(std::string_view password)
{
    return !password.empty() && password.size() <= 9 && cleanText(password);
}

bool validProfileText(std::string_view text)
{
    return text.size() <= 255 && cleanText(text);
}

bool hatAllowed(std::string_view hat, std::string_view accountClass)
{
    if (hat.empty() || hat.size() > 3 || hat.front() == '0')
        return false;
    for (const char c : hat)
        if (c < '0' || c > '9')
            return false;
    const auto number = ostrel::ParseInt32(hat);
    if (!number || *number < 1 || *number > 198)
        return false;
    if (*number == 3)
        return accountClass == "S";
    if (*number == 4)
        return isModerator(accountClass);
    return true;
}

bool isModerator(std::string_view accountClass)
{
    return accountClass == "T" || accountClass == "H";
}

std::string relayedText(std::string_view text)
{
    std::string clean(text);
    for (auto &c : clean) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = ' ';
    }
    return clean;
}

bool dottedIPv4(std::string_view text)
{
    int parts = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        int value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 3) {
            value = value * 10 + (text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || value > 255 || (digits > 1 && text[0] == '0'))
            return false;
        text.remove_prefix(digits);
        ++parts;
        if (parts < 4) {
            if (text.empty() || text.front() != '.')
                return false;
            text.remove_prefix(1);
        }
    }
    return text.empty();
}

double recordDateNow()
{
    const auto seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return seconds / 86400.0 + 25569.0;
}

std::int64_t unixNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string newsText(std::string_view file)
{
    std::string_view text = file;
    std::string joined;
    std::string pendingBreaks;
    while (!text.empty()) {
        std::string line(ostrel::ExtractToken(text, '\n'));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // A byte that scrambles to a line feed would cut the line at the client.
        for (auto &c : line)
            if (c == '\x15')
                c = ' ';
        if (line.empty()) {
            if (!joined.empty())
                pendingBreaks += "/r/";
            continue;
        }
        if (!joined.empty())
            joined += pendingBreaks + "/r/";
        pendingBreaks.clear();
        joined += line;
    }
    return joined;
}

} // namespace lobbyrules
