// Line framing, the token rule, the keyword lookup and both records on arbitrary bytes from the network.
#include "encryptit.h"
#include "lineframer.h"
#include "orvexutils.h"
#include "torvexserverstats.h"
#include "torvexuser.h"
#include "wirekeyword.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    ostrel::LineFramer framer(4096);
    // Feed in uneven pieces so that lines are cut at every possible place.
    std::size_t at = 0;
    std::size_t piece = 1;
    std::string_view line;
    while (at < input.size()) {
        const std::size_t n = std::min(piece, input.size() - at);
        if (!framer.append(input.substr(at, n)))
            framer.clear();
        at += n;
        piece = piece * 3 % 17 + 1;
        while (framer.nextLine(line)) {
            std::string plain = ostrel::Decrypt(line, ostrel::kWireKey);
            std::string_view rest = plain;
            const auto keyword = ostrel::ExtractToken(rest, '|');
            // A field is a word exactly when it is that word's spelling.
            if (const auto word = ostrel::wireKeyword(keyword);
                word && ostrel::wireSpelling(*word) != keyword)
                std::abort();
            ostrel::TOrvexUser user;
            try {
                user.LoadFromString(ostrel::ExtractToken(rest, '|'));
                // Whatever loads must save to a text that loads to the same record text.
                const std::string saved = user.SaveToString();
                ostrel::TOrvexUser again;
                again.LoadFromString(saved);
                if (again.SaveToString() != saved)
                    std::abort();
            } catch (const ostrel::EConvertError &) {
            }
            ostrel::TOrvexServerStats stats;
            try {
                stats.LoadFromString(rest);
            } catch (const ostrel::EConvertError &) {
            }
        }
    }
    return 0;
}
