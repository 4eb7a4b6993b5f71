#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One message between the server nodes of a lobby, as published through Redis: a kind
// and its fields, each field written as its length in decimal, ":", and its bytes, so that
// any bytes a player sent travel unchanged and a field can never run into the next.
struct ClusterMessage
{
    std::string kind;
    std::vector<std::string> fields;

    std::string encode() const;
    // Nothing when the bytes are not a whole message (a foreign publisher, a bug): the
    // receiver drops it.
    static std::optional<ClusterMessage> decode(std::string_view bytes);

    const std::string &field(std::size_t index) const;
};
