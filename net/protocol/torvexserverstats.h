#pragma once

#include <cstdint>
#include <string_view>

namespace ostrel {

// The eight values of a SERVERSTATS message, separated on the wire by the grave accent.
// The client only stores them; their meaning is the server's.
class TOrvexServerStats
{
public:
    double Real1 = 0;          // position 7
    double Real2 = 0;          // position 8
    std::int32_t Int3 = 0;     // position 3
    std::int32_t Int6 = 0;     // position 6
    std::int32_t Int5 = 0;     // position 5
    std::int32_t Int1 = 0;     // position 1
    std::int32_t Int4 = 0;     // position 4
    std::int32_t Int2 = 0;     // position 2

    // Overwrites the fields in place, in wire order; throws EConvertError at the first
    // value that does not convert, keeping the values read before it.
    void LoadFromString(std::string_view text);
};

} // namespace ostrel
