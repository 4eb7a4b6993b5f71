#include "selfsignedcertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <asio/ip/address.hpp>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename T, void (*Free)(T *)> struct Deleter
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error("cannot make the TLS certificate: " + what);
}

void addExtension(X509 *certificate, int nid, const std::string &value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    if (!extension || !X509_add_ext(certificate, extension.get(), -1))
        fail("extension " + value);
}

// Writes through a new file that only the owner may read, then renames it into place.
void writePem(const std::string &path, bool secret, const std::function<bool(FILE *)> &write)
{
    const std::string temporary = path + ".new";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, secret ? 0600 : 0644);
    if (fd < 0)
        fail("cannot write " + temporary);
    FILE *file = ::fdopen(fd, "w");
    if (!file) {
        ::close(fd);
        fail("cannot write " + temporary);
    }
    const bool ok = write(file) && std::fflush(file) == 0 && ::fsync(fd) == 0;
    std::fclose(file);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        fail("cannot write " + path);
    }
}

} // namespace

bool SelfSignedCertificate::ensure(const std::string &certificatePath, const std::string &keyPath,
                                   const std::string &host)
{
    if (std::filesystem::exists(certificatePath) && std::filesystem::exists(keyPath))
        return false;
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        fail("no key");
    Certificate certificate(X509_new());
    if (!certificate)
        fail("out of memory");
    X509_set_version(certificate.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        fail("no random serial number");
    serial[0] &= 0x7f; // a positive number
    BIGNUM *number = BN_bin2bn(serial, sizeof serial, nullptr);
    ASN1_INTEGER *asn1 = number ? BN_to_ASN1_INTEGER(number, nullptr) : nullptr;
    BN_free(number);
    if (!asn1 || !X509_set_serialNumber(certificate.get(), asn1)) {
        ASN1_INTEGER_free(asn1);
        fail("serial number");
    }
    ASN1_INTEGER_free(asn1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    const std::string commonName =
        host.empty() || host == "0.0.0.0" || host == "::" ? std::string("localhost") : host;
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>("Ostrel lobby server"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), name);
    std::string names = "DNS:localhost,IP:127.0.0.1";
    if (commonName != "localhost" && commonName != "127.0.0.1") {
        asio::error_code error;
        asio::ip::make_address(commonName, error);
        names += (error ? ",DNS:" : ",IP:") + commonName;
    }
    addExtension(certificate.get(), NID_subject_alt_name, names);
    addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
    if (!X509_sign(certificate.get(), key.get(), EVP_sha256()))
        fail("signing");

    writePem(keyPath, true, [&](FILE *file) {
        return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    writePem(certificatePath, false,
             [&](FILE *file) { return PEM_write_X509(file, certificate.get()) == 1; });
    return true;
}
