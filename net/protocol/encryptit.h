#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The wire cipher: every byte XOR the high byte of the key. The low byte plays no
// part, and applying the cipher twice gives the input back.
namespace ostrel {

inline constexpr std::uint16_t kWireKey = 7936;

std::string Encrypt(std::string_view text, std::uint16_t key);
std::string Decrypt(std::string_view text, std::uint16_t key);

// In-place form for hot paths (the connection scrambles every line it reads or writes).
void ScrambleInPlace(char *data, std::size_t length, std::uint16_t key);

} // namespace ostrel
