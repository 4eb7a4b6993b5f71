#include "encryptit.h"

namespace ostrel {

void ScrambleInPlace(char *data, std::size_t length, std::uint16_t key)
{
    const auto mask = static_cast<unsigned char>((key >> 8) & 0xFF);
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<char>(static_cast<unsigned char>(data[i]) ^ mask);
}

std::string Encrypt(std::string_view text, std::uint16_t key)
{
    std::string out(text);
    ScrambleInPlace(out.data(), out.size(), key);
    return out;
}

std::string Decrypt(std::string_view text, std::uint16_t key)
{
    return Encrypt(text, key);
}

} // namespace ostrel
