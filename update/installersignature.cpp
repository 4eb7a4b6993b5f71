#include "installersignature.h"

#include <sodium.h>

#include <array>
#include <fstream>
#include <stdexcept>

namespace installersignature {

namespace {

// Distinguishes these signatures from anything else the same key might ever sign.
constexpr std::string_view kContext = "halvane-download-v1\n";

void initialise()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

// Feeds the context, the site path and the file's bytes into state; false when the file
// cannot be read to its end.
bool hashFile(crypto_sign_state &state, const std::string &filePath, std::string_view sitePath)
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
                     std::string_view secretKey)
{
    initialise();
    if (secretKey.size() != kSecretKeyBytes)
        throw std::runtime_error("not a signing key");
    crypto_sign_state state;
    if (!hashFile(state, filePath, sitePath))
        throw std::runtime_error("cannot read " + filePath);
    std::string signature(kSignatureBytes, '\0');
    crypto_sign_final_create(&state, reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char *>(secretKey.data()));
    return signature;
}

bool verifyFile(const std::string &filePath, std::string_view sitePath, std::string_view signature,
                std::string_view publicKey)
{
    if (sodium_init() < 0 || signature.size() != kSignatureBytes ||
        publicKey.size() != kPublicKeyBytes)
        return false;
    crypto_sign_state state;
    if (!hashFile(state, filePath, sitePath))
        return false;
    std::array<unsigned char, kSignatureBytes> sig;
    std::copy(signature.begin(), signature.end(), sig.begin());
    return crypto_sign_final_verify(&state, sig.data(),
                                    reinterpret_cast<const unsigned char *>(publicKey.data())) == 0;
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
