#include "passwordhasher.h"

#include <asio/post.hpp>
#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

bool fastHashRequested()
{
    const char *value = std::getenv("OSTREL_SERVER_FAST_HASH");
    return value && std::strcmp(value, "1") == 0;
}

std::chrono::milliseconds testDelay()
{
    const char *value = std::getenv("OSTREL_SERVER_TEST_HASH_DELAY_MS");
    if (!value)
        return std::chrono::milliseconds(0);
    const long ms = std::strtol(value, nullptr, 10);
    return std::chrono::milliseconds(ms > 0 && ms < 10000 ? ms : 0);
}

} // namespace

PasswordHasher::PasswordHasher(asio::io_context &io)
    : m_io(io), m_pool(kWorkers), m_fast(fastHashRequested()), m_delay(testDelay())
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

PasswordHasher::~PasswordHasher()
{
    stop();
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

PasswordHasher::Admission PasswordHasher::admits(const std::string &address, bool exempt) const
{
    if (m_stopped || pending() >= kMaxQueued)
        return Admission::Busy;
    if (!exempt) {
        const auto it = m_perAddress.find(address);
        if (it != m_perAddress.end() && it->second >= kMaxPerAddress)
            return Admission::AddressBusy;
    }
    return Admission::Admitted;
}

void PasswordHasher::hash(const std::string &address, std::function<bool()> wanted,
                          std::string password,
                          std::function<void(std::optional<std::string>)> done)
{
    auto shared =
        std::make_shared<std::function<void(std::optional<std::string>)>>(std::move(done));
    enqueue(Job{address,
                std::move(wanted),
                [this, password = std::move(password), shared]() mutable -> std::function<void()> {
                    std::string result = hashNow(password, m_fast);
                    sodium_memzero(password.data(), password.size());
                    return [shared, result = std::move(result)]() mutable {
                        (*shared)(std::move(result));
                    };
                },
                [shared]() { (*shared)(std::nullopt); },
                {}});
}

void PasswordHasher::verify(const std::string &address, std::function<bool()> wanted,
                            std::string hash, std::string password,
                            std::function<void(std::optional<bool>)> done)
{
    auto shared = std::make_shared<std::function<void(std::optional<bool>)>>(std::move(done));
    enqueue(Job{address,
                std::move(wanted),
                [hash = std::move(hash), password = std::move(password),
                 shared]() mutable -> std::function<void()> {
                    const bool ok = verifyNow(hash, password);
                    sodium_memzero(password.data(), password.size());
                    return [shared, ok]() { (*shared)(ok); };
                },
                [shared]() { (*shared)(std::nullopt); },
                {}});
}

void PasswordHasher::enqueue(Job job)
{
    if (m_stopped)
        return;
    ++m_perAddress[job.address];
    job.queuedAt = std::chrono::steady_clock::now();
    m_queue.push_back(std::move(job));
    startJobs();
}

void PasswordHasher::startJobs()
{
    while (!m_stopped && m_running < kWorkers && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        if (job.wanted && !job.wanted()) {
            release(job.address);
            job.skipped();
            continue;
        }
        ++m_running;
        if (onWaited)
            onWaited(std::chrono::steady_clock::now() - job.queuedAt);
        asio::post(m_pool, [this, delay = m_delay, address = std::move(job.address),
                            work = std::move(job.work)]() mutable {
            if (delay.count() > 0)
                std::this_thread::sleep_for(delay);
            auto finish = work();
            asio::post(m_io, [this, address = std::move(address), finish = std::move(finish)]() {
                --m_running;
                release(address);
                if (!m_stopped)
                    finish();
                startJobs();
            });
        });
    }
}

void PasswordHasher::release(const std::string &address)
{
    const auto it = m_perAddress.find(address);
    if (it != m_perAddress.end() && --it->second == 0)
        m_perAddress.erase(it);
}

void PasswordHasher::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_queue.clear();
    m_perAddress.clear();
    m_pool.stop();
}
