// ostrel-sitetool: the maker's side of download signatures. It keeps the site's key pair,
// writes the public key into a header the client is built with, and signs (and checks)
// the files published on the site.
#include "installersignature.h"

#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
namespace sig = installersignature;

namespace {

constexpr const char *kUsage = "usage: ostrel-sitetool keygen KEYDIR HEADER\n"
                               "       ostrel-sitetool sign KEYDIR SITEROOT VERSION FILE...\n"
                               "       ostrel-sitetool verify PUBFILE SITEROOT FILE\n";

constexpr const char *kHelp =
    "Signs what the lobby downloads from the site.\n"
    "\n"
    "  keygen KEYDIR HEADER      create KEYDIR/site.key (secret, mode 0600) and\n"
    "                            KEYDIR/site.pub unless they exist, then write the public\n"
    "                            key as the C++ header HEADER (left alone when unchanged)\n"
    "  sign KEYDIR SITEROOT VERSION FILE...\n"
    "                            write FILE.sig for each FILE below SITEROOT, signing the\n"
    "                            file's bytes, its path relative to SITEROOT and VERSION (the\n"
    "                            version the file is: the lobby refuses one older than what\n"
    "                            it has, and a game installer whose version is not the\n"
    "                            catalogue's)\n"
    "  verify PUBFILE SITEROOT FILE\n"
    "                            exit 0 and print the version when FILE.sig is a valid\n"
    "                            signature of FILE by the public key in PUBFILE, 1 otherwise\n"
    "\n"
    "Errors exit 1, wrong usage exits 2.\n";

struct UsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string errnoText()
{
    return std::strerror(errno);
}

// Reads the whole file into content; false when there is no such file.
bool readFile(const fs::path &path, std::string &content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!fs::exists(path))
            return false;
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("cannot read " + path.string());
    content = text.str();
    return true;
}

std::string readExactly(const fs::path &path, std::size_t size, const char *what)
{
    std::string content;
    if (!readFile(path, content))
        throw std::runtime_error(path.string() + " does not exist");
    if (content.size() != size)
        throw std::runtime_error(path.string() + " is not " + what + " (expected " +
                                 std::to_string(size) + " bytes, found " +
                                 std::to_string(content.size()) + ")");
    return content;
}

// Writes content to a fresh file beside path (created with mode) and returns its name.
fs::path writeTemporary(const fs::path &path, const std::string &content, mode_t mode)
{
    std::string name = path.string() + ".XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a file beside " + path.string() + ": " +
                                 errnoText());
    const char *data = content.data();
    std::size_t left = content.size();
    bool ok = fchmod(fd, mode) == 0;
    while (ok && left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        ok = written > 0;
        if (ok) {
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    ok = ok && fsync(fd) == 0;
    const std::string failure = errnoText();
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(name.c_str());
        throw std::runtime_error("cannot write " + path.string() + ": " + failure);
    }
    return name;
}

// Replaces path with content in one step, so readers see the old or the new file only.
void writeAtomically(const fs::path &path, const std::string &content, mode_t mode = 0644)
{
    const fs::path temporary = writeTemporary(path, content, mode);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string failure = errnoText();
        ::unlink(temporary.c_str());
        throw std::runtime_error("cannot write " + path.string() + ": " + failure);
    }
}

// Creates path with content unless it exists already; false when it did. A key is never
// replaced: a lost or overwritten key would orphan every client built with its partner.
bool createExclusively(const fs::path &path, const std::string &content, mode_t mode)
{
    const fs::path temporary = writeTemporary(path, content, mode);
    const bool created = ::link(temporary.c_str(), path.c_str()) == 0;
    const int linkError = errno;
    ::unlink(temporary.c_str());
    if (!created && linkError != EEXIST)
        throw std::runtime_error("cannot create " + path.string() + ": " +
                                 std::strerror(linkError));
    return created;
}

std::string headerText(const std::string &publicKey)
{
    std::ostringstream out;
    out << "#pragma once\n\n"
           "// Written by ostrel-sitetool keygen from the build's site key folder. The client\n"
           "// runs only downloads signed with the secret partner of this key, so a build\n"
           "// trusts the site its maker signs and nothing else.\n"
           "namespace sitekey {\n"
           "inline constexpr unsigned char kPublicKey[32] = {";
    for (std::size_t i = 0; i < publicKey.size(); ++i) {
        out << (i % 8 == 0 ? "\n    " : " ");
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02x,", static_cast<unsigned char>(publicKey[i]));
        out << byte;
    }
    out << "\n};\n} // namespace sitekey\n";
    return out.str();
}

// The public half of a libsodium Ed25519 secret key, which carries it.
std::string publicKeyOf(const std::string &secretKey)
{
    std::string publicKey(sig::kPublicKeyBytes, '\0');
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char *>(publicKey.data()),
                                 reinterpret_cast<const unsigned char *>(secretKey.data()));
    return publicKey;
}

int keygen(const fs::path &keyDir, const fs::path &header)
{
    std::error_code error;
    fs::create_directories(keyDir, error);
    if (error)
        throw std::runtime_error("cannot create " + keyDir.string() + ": " + error.message());
    const fs::path keyFile = keyDir / "site.key";
    const fs::path pubFile = keyDir / "site.pub";

    if (!fs::exists(keyFile)) {
        if (fs::exists(pubFile))
            throw std::runtime_error(pubFile.string() + " exists without its secret key " +
                                     keyFile.string() +
                                     ": restore the key or remove both to start afresh");
        const sig::KeyPair pair = sig::generate();
        if (createExclusively(keyFile, pair.secretKey, 0600))
            std::cerr << "ostrel-sitetool: new site key in " << keyFile.string() << "\n";
    }
    const std::string secretKey = readExactly(keyFile, sig::kSecretKeyBytes, "a site key");
    const std::string publicKey = publicKeyOf(secretKey);
    std::string published;
    if (!readFile(pubFile, published))
        writeAtomically(pubFile, publicKey);
    else if (published != publicKey)
        throw std::runtime_error(pubFile.string() + " does not belong to " + keyFile.string());

    const std::string text = headerText(publicKey);
    std::string current;
    if (readFile(header, current) && current == text)
        return 0;
    if (header.has_parent_path()) {
        fs::create_directories(header.parent_path(), error);
        if (error)
            throw std::runtime_error("cannot create " + header.parent_path().string() + ": " +
                                     error.message());
    }
    writeAtomically(header, text);
    return 0;
}

// FILE's path relative to the site root, with forward slashes; throws unless it lies
// below the root.
std::string sitePath(const fs::path &siteRoot, const fs::path &file)
{
    std::error_code error;
    const fs::path root = fs::canonical(siteRoot, error);
    if (error)
        throw std::runtime_error("no site folder " + siteRoot.string() + ": " + error.message());
    const fs::path full = fs::canonical(file, error);
    if (error)
        throw std::runtime_error("cannot find " + file.string() + ": " + error.message());
    if (!fs::is_regular_file(full))
        throw std::runtime_error(file.string() + " is not a file");
    const fs::path relative = full.lexically_relative(root);
    const std::string text = relative.generic_string();
    if (relative.empty() || text == "." || text.starts_with("../") || text == "..")
        throw std::runtime_error(file.string() + " does not lie in the site folder " +
                                 siteRoot.string());
    return text;
}

int sign(const fs::path &keyDir, const fs::path &siteRoot, const std::string &version,
         const std::vector<fs::path> &files)
{
    const std::string secretKey =
        readExactly(keyDir / "site.key", sig::kSecretKeyBytes, "a site key");
    if (!sig::validVersion(version))
        throw UsageError("not a version: " + version);
    for (const fs::path &file : files) {
        const std::string signature =
            sig::signFile(file.string(), sitePath(siteRoot, file), version, secretKey);
        writeAtomically(file.string() + ".sig", sig::signatureFile(signature, version));
    }
    return 0;
}

int verify(const fs::path &pubFile, const fs::path &siteRoot, const fs::path &file)
{
    const std::string publicKey = readExactly(pubFile, sig::kPublicKeyBytes, "a public key");
    const std::string path = sitePath(siteRoot, file);
    std::string content;
    if (!readFile(file.string() + ".sig", content))
        throw std::runtime_error(file.string() + ".sig does not exist");
    std::string signature;
    std::string version;
    if (!sig::readSignatureFile(content, signature, version) ||
        !sig::verifyFile(file.string(), path, version, signature, publicKey)) {
        std::cerr << "ostrel-sitetool: the signature of " << path << " is not valid\n";
        return 1;
    }
    std::cout << version << "\n";
    return 0;
}

int run(const std::vector<std::string> &args)
{
    if (args.empty())
        throw UsageError("no command");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage << "\n" << kHelp;
        return 0;
    }
    if (command == "keygen" && args.size() == 3)
        return keygen(args[1], args[2]);
    if (command == "sign" && args.size() >= 5)
        return sign(args[1], args[2], args[3], std::vector<fs::path>(args.begin() + 4, args.end()));
    if (command == "verify" && args.size() == 4)
        return verify(args[1], args[2], args[3]);
    throw UsageError("wrong command or arguments");
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError &) {
        std::cerr << kUsage;
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "ostrel-sitetool: " << e.what() << "\n";
        return 1;
    }
}
