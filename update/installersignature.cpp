#include "installersignature.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace installersignature {

namespace {

// Distinguishes these signatures from anything else the same key might ever sign.
constexpr std::string_view kContext = "halvane-download-v2\n";

void initialise()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

// Feeds the context, the site path, the version and the file's bytes into state; false when
// the file cannot be read to its end.
bool hashFile(crypto_sign_state &state, const std::string &filePath, std::string_view sitePath,
              std::string_view version)
{
    std::ifstream in(filePath, std::ios::binary);
    if (!in)
        return false;
    crypto_sign_init(&state);
    crypto_sign_update(&state, reinterpret_cast<const unsigned char *>(kContext.data()),
                       kContext.size());
    crypto_sign_update(&state, reinterpret_cast<const unsigned char *>(sitePath.data()),
                       sitePath.size());
    const unsigned char separator = '\n';
    crypto_sign_update(&state, &separator, 1);
    crypto_sign_update(&state, reinterpret_cast<const unsigned char *>(version.data()),
                       version.size());
    crypto_sign_update(&state, &separator, 1);
    std::array<char, 64 * 1024> buffer;
    while (in) {
        in.read(buffer.data(), buffer.size());
        const std::streamsize got = in.gcount();
        if (got > 0)
            crypto_sign_update(&state, reinterpret_cast<const unsigned char *>(buffer.data()),
                               static_cast<unsigned long long>(got));
    }
    return in.eof() && !in.bad();
}

} // namespace

KeyPair generate()
{
    initialise();
    std::string pk(kPublicKeyBytes, '\0');
    std::string sk(kSecretKeyBytes, '\0');
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(pk.data()),
                        reinterpret_cast<unsigned char *>(sk.data()));
    return {pk, sk};
}

std::string signFile(const std::string &filePath, std::string_view sitePath,
                     std::string_view version, std::string_view secretKey)
{
    initialise();
    if (secretKey.size() != kSecretKeyBytes)
        throw std::runtime_error("not a signing key");
    if (!validVersion(version))
        throw std::runtime_error("not a version: " + std::string(version));
    crypto_sign_state state;
    if (!hashFile(state, filePath, sitePath, version))
        throw std::runtime_error("cannot read " + filePath);
    std::string signature(kSignatureBytes, '\0');
    crypto_sign_final_create(&state, reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char *>(secretKey.data()));
    return signature;
}

bool verifyFile(const std::string &filePath, std::string_view sitePath, std::string_view version,
                std::string_view signature, std::string_view publicKey)
{
    if (sodium_init() < 0 || signature.size() != kSignatureBytes ||
        publicKey.size() != kPublicKeyBytes || !validVersion(version))
        return false;
    crypto_sign_state state;
    if (!hashFile(state, filePath, sitePath, version))
        return false;
    std::array<unsigned char, kSignatureBytes> sig;
    std::copy(signature.begin(), signature.end(), sig.begin());
    return crypto_sign_final_verify(&state, sig.data(),
                                    reinterpret_cast<const unsigned char *>(publicKey.data())) == 0;
}

bool validVersion(std::string_view version)
{
    if (version.empty() || version.size() > kMaxVersionBytes)
        return false;
    for (const char c : version) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              c == '.' || c == '-' || c == '+'))
            return false;
    }
    return true;
}

std::optional<int> compareVersions(std::string_view a, std::string_view b)
{
    const auto parts = [](std::string_view text) -> std::optional<std::vector<unsigned long>> {
        std::vector<unsigned long> out;
        if (text.empty() || text.size() > kMaxVersionBytes)
            return std::nullopt;
        std::size_t at = 0;
        for (;;) {
            const std::size_t dot = std::min(text.find('.', at), text.size());
            const std::string_view part = text.substr(at, dot - at);
            if (part.empty() || part.size() > 9 ||
                part.find_first_not_of("0123456789") != std::string_view::npos)
                return std::nullopt;
            out.push_back(std::stoul(std::string(part)));
            if (dot == text.size())
                return out;
            at = dot + 1;
        }
    };
    const auto x = parts(a);
    const auto y = parts(b);
    if (!x || !y)
        return std::nullopt;
    for (std::size_t i = 0; i < std::max(x->size(), y->size()); ++i) {
        const unsigned long p = i < x->size() ? (*x)[i] : 0;
        const unsigned long q = i < y->size() ? (*y)[i] : 0;
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

std::string signatureFile(std::string_view signature, std::string_view version)
{
    return std::string(signature) + std::string(version);
}

bool readSignatureFile(std::string_view content, std::string &signature, std::string &version)
{
    if (content.size() <= kSignatureBytes || content.size() > kMaxSignatureFileBytes)
        return false;
    const std::string_view rest = content.substr(kSignatureBytes);
    if (!validVersion(rest))
        return false;
    signature = std::string(content.substr(0, kSignatureBytes));
    version = std::string(rest);
    return true;
}

std::string sitePathOf(std::string_view url, std::string_view siteRoot)
{
    // The root's closing slash is optional, in the address and in the root alike.
    while (!siteRoot.empty() && siteRoot.back() == '/')
        siteRoot.remove_suffix(1);
    if (siteRoot.empty() || url.substr(0, siteRoot.size()) != siteRoot)
        return {};
    std::string_view rest = url.substr(siteRoot.size());
    if (rest.empty() || rest.front() != '/')
        return {};
    while (!rest.empty() && rest.front() == '/')
        rest.remove_prefix(1);
    return std::string(rest);
}

} // namespace installersignature
