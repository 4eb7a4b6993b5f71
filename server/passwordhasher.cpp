#include "passwordhasher.h"

#include <asio/post.hpp>
#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

bool fastHashRequested()
{
    const char *value = std::getenv("OSTREL_SERVER_FAST_HASH");
    return value && std::strcmp(value, "1") == 0;
}

} // namespace

PasswordHasher::PasswordHasher(asio::io_context &io)
    : m_io(io), m_pool(2), m_fast(fastHashRequested())
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

PasswordHasher::~PasswordHasher()
{
    m_pool.join();
}

std::string PasswordHasher::hashNow(const std::string &password, bool fast)
{
    char out[crypto_pwhash_STRBYTES];
    const auto ops = fast ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const auto mem = fast ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0)
        return {};
    return out;
}

bool PasswordHasher::verifyNow(const std::string &hash, const std::string &password)
{
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void PasswordHasher::hash(std::string password, std::function<void(std::string)> done)
{
    ++m_pending;
    asio::post(m_pool, [this, password = std::move(password), done = std::move(done)]() mutable {
        std::string result = hashNow(password, m_fast);
        sodium_memzero(password.data(), password.size());
        asio::post(m_io, [this, result = std::move(result), done = std::move(done)]() mutable {
            --m_pending;
            done(std::move(result));
        });
    });
}

void PasswordHasher::verify(std::string hash, std::string password, std::function<void(bool)> done)
{
    ++m_pending;
    asio::post(m_pool, [this, hash = std::move(hash), password = std::move(password),
                        done = std::move(done)]() mutable {
        const bool ok = verifyNow(hash, password);
        sodium_memzero(password.data(), password.size());
        asio::post(m_io, [this, ok, done = std::move(done)]() mutable {
            --m_pending;
            done(ok);
        });
    });
}
