// The server's news file: any bytes turn into one NEWS payload that keeps to one line on
// the wire.
#include "lobbyrules.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::string news = lobbyrules::newsText(input);
    // A line feed, or the byte that scrambles to one, would cut the NEWS line.
    if (news.find('\n') != std::string::npos || news.find('\x15') != std::string::npos)
        std::abort();
    // No news only for a file of empty lines.
    bool anyText = false;
    for (std::size_t at = 0; at < input.size();) {
        auto end = input.find('\n', at);
        if (end == std::string_view::npos)
            end = input.size();
        const auto line = input.substr(at, end - at);
        anyText = anyText || !(line.empty() || line == "\r");
        at = end + 1;
    }
    if (news.empty() == anyText)
        std::abort();
    return 0;
}
