// The description-page sanitiser: pages come from the network. Whatever goes in, what
// comes out must be one well-formed document within the sanitiser's bounds, made in
// bounded time and memory.
#include "tpagesanitizer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool isVoid(std::string_view name)
{
    return name == "br" || name == "hr" || name == "img";
}

// Every element is closed in order, pictures and nesting stay within the bounds, and
// nothing but tags starts with '<'.
bool wellFormed(const std::string &html)
{
    std::vector<std::string_view> open;
    int pictures = 0;
    std::size_t at = 0;
    const std::string_view text(html);
    while ((at = text.find('<', at)) != std::string_view::npos) {
        const std::size_t end = text.find('>', at);
        if (end == std::string_view::npos)
            return false;
        const bool closing = text[at + 1] == '/';
        std::string_view tag = text.substr(at + (closing ? 2 : 1), end - at - (closing ? 2 : 1));
        const std::size_t space = tag.find(' ');
        const std::string_view name = tag.substr(0, space);
        if (name.empty())
            return false;
        if (closing) {
            if (open.empty() || open.back() != name)
                return false;
            open.pop_back();
        } else if (isVoid(name)) {
            pictures += name == "img";
        } else {
            open.push_back(name);
            // html and body, then the page's own elements.
            if (open.size() > std::size_t(TPageSanitizer::kMaxDepth) + 2)
                return false;
        }
        at = end + 1;
    }
    return open.empty() && pictures <= TPageSanitizer::kMaxPictures;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view page(reinterpret_cast<const char *>(data), size);
    const TPageSanitizer::Result result = TPageSanitizer::sanitize(page);
    if (!wellFormed(result.html))
        std::abort();
    return 0;
}
