#pragma once

#include <string>
#include <string_view>

// Detached Ed25519 signatures of what the lobby downloads and runs (game installers, its
// own update). The signed text is the file's path on the site (relative to the site
// root, e.g. "games/plumbrix/setup.exe") followed by the file's bytes, so a signed file
// cannot stand in for another one published under a different path. The file is hashed
// as it is read (Ed25519ph), so a large installer needs no memory of its size.
namespace installersignature {

inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSecretKeyBytes = 64;
inline constexpr std::size_t kSignatureBytes = 64;

struct KeyPair
{
    std::string publicKey; // kPublicKeyBytes raw bytes
    std::string secretKey; // kSecretKeyBytes raw bytes
};

// A fresh key pair.
KeyPair generate();

// The signature (kSignatureBytes raw bytes) of the file at filePath published at
// sitePath. Throws std::runtime_error when the file cannot be read or the key is not a
// secret key.
std::string signFile(const std::string &filePath, std::string_view sitePath,
                     std::string_view secretKey);

// True only when signature is a valid signature by publicKey of the file at filePath
// published at sitePath. Any unreadable file or malformed key or signature is false.
bool verifyFile(const std::string &filePath, std::string_view sitePath, std::string_view signature,
                std::string_view publicKey);

// The site path a download's address stands for: the part of url after siteRoot, with
// leading slashes dropped; empty when url does not lie under siteRoot.
std::string sitePathOf(std::string_view url, std::string_view siteRoot);

} // namespace installersignature
