#include "clustermessage.h"

#include <charconv>

namespace {

void append(std::string &out, std::string_view field)
{
    out.append(std::to_string(field.size())).append(":").append(field);
}

// Reads one length-prefixed field from the front of `bytes`.
std::optional<std::string> take(std::string_view &bytes)
{
    const auto colon = bytes.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 10)
        return std::nullopt;
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + colon, length);
    if (error != std::errc() || end != bytes.data() + colon || length > bytes.size() - colon - 1)
        return std::nullopt;
    std::string field(bytes.substr(colon + 1, length));
    bytes.remove_prefix(colon + 1 + length);
    return field;
}

} // namespace

std::string ClusterMessage::encode() const
{
    std::size_t size = kind.size() + 8;
    for (const auto &f : fields)
        size += f.size() + 8;
    std::string out;
    out.reserve(size);
    append(out, kind);
    for (const auto &f : fields)
        append(out, f);
    return out;
}

std::optional<ClusterMessage> ClusterMessage::decode(std::string_view bytes)
{
    ClusterMessage message;
    auto kind = take(bytes);
    if (!kind || kind->empty())
        return std::nullopt;
    message.kind = std::move(*kind);
    while (!bytes.empty()) {
        auto field = take(bytes);
        if (!field)
            return std::nullopt;
        message.fields.push_back(std::move(*field));
    }
    return message;
}

const std::string &ClusterMessage::field(std::size_t index) const
{
    static const std::string empty;
    return index < fields.size() ? fields[index] : empty;
}
