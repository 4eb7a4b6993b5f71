#include "wirekeyword.h"

#include <algorithm>

namespace ostrel {

namespace {

// The words sorted by spelling, so that the server's dispatch of every received line
// costs a handful of comparisons, not one per word.
constexpr auto kBySpelling = [] {
    auto sorted = kWireKeywords;
    std::sort(
        sorted.begin(), sorted.end(),
        [](const WireKeywordSpelling &a, const WireKeywordSpelling &b) { return a.text < b.text; });
    return sorted;
}();

static_assert(std::adjacent_find(kBySpelling.begin(), kBySpelling.end(),
                                 [](const WireKeywordSpelling &a, const WireKeywordSpelling &b) {
                                     return a.text == b.text;
                                 }) == kBySpelling.end(),
              "no spelling is given twice");

} // namespace

std::optional<WireKeyword> wireKeyword(std::string_view field)
{
    const auto it = std::lower_bound(
        kBySpelling.begin(), kBySpelling.end(), field,
        [](const WireKeywordSpelling &entry, std::string_view text) { return entry.text < text; });
    if (it == kBySpelling.end() || it->text != field)
        return std::nullopt;
    return it->keyword;
}

} // namespace ostrel
