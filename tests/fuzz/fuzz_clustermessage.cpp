// Messages between server nodes, as another node (or anything else that reaches the
// Redis channels) may publish them: any bytes are refused or read as a message that
// writes itself again the same way.
#include "clustermessage.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto first = cluster::decode(input);
    if (!first)
        return 0;
    if (cluster::nodeOf(*first).empty())
        std::abort();
    // The first reading may round a login time to what the wire carries; from then on
    // a message and its bytes stay as they are.
    const auto bytes = cluster::encode(*first);
    const auto second = cluster::decode(bytes);
    if (!second)
        std::abort();
    const auto again = cluster::encode(*second);
    const auto third = cluster::decode(again);
    if (!third || !(*third == *second) || again != cluster::encode(*third))
        std::abort();
    return 0;
}
