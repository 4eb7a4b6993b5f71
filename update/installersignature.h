#pragma once

#include <optional>
#include <string>
#include <string_view>

// Detached Ed25519 signatures of what the lobby downloads and runs (game installers, its
// own update). The signed text is the file's path on the site (relative to the site
// root, e.g. "games/plumbrix/setup.exe"), the version the file is (the catalogue's version
// of a game, the build's version of the lobby) and the file's bytes: a signed file cannot
// stand in for another one published under a different path, nor an older signed file
// for a newer version. The file is hashed as it is read (Ed25519ph), so a large installer
// needs no memory of its size.
//
// The signature file published beside a file (FILE.sig) holds the signature followed by
// the version it was made for.
namespace installersignature {

inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSecretKeyBytes = 64;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kMaxVersionBytes = 32;
inline constexpr std::size_t kMaxSignatureFileBytes = kSignatureBytes + kMaxVersionBytes;

struct KeyPair
{
    std::string publicKey; // kPublicKeyBytes raw bytes
    std::string secretKey; // kSecretKeyBytes raw bytes
};

// A fresh key pair.
KeyPair generate();

// True for a version text a signature may carry: 1 to kMaxVersionBytes letters, digits,
// '.', '-' and '+'.
bool validVersion(std::string_view version);

// -1, 0 or 1 as version a is older than, the same as or newer than b: dot-separated
// numbers compared in turn (a missing part is 0). Nothing when either is not of that form.
std::optional<int> compareVersions(std::string_view a, std::string_view b);

// The signature (kSignatureBytes raw bytes) of the file at filePath published at
// sitePath as version. Throws std::runtime_error when the file cannot be read, the key is
// not a secret key or the version is not valid.
std::string signFile(const std::string &filePath, std::string_view sitePath,
                     std::string_view version, std::string_view secretKey);

// True only when signature is a valid signature by publicKey of the file at filePath
// published at sitePath as version. Any unreadable file or malformed key or signature is
// false.
bool verifyFile(const std::string &filePath, std::string_view sitePath, std::string_view version,
                std::string_view signature, std::string_view publicKey);

// The content of a signature file, and the other way round (false when content is not
// one).
std::string signatureFile(std::string_view signature, std::string_view version);
bool readSignatureFile(std::string_view content, std::string &signature, std::string &version);

// The site path a download's address stands for: the part of url after siteRoot, with
// leading slashes dropped; empty when url does not lie under siteRoot.
std::string sitePathOf(std::string_view url, std::string_view siteRoot);

} // namespace installersignature
