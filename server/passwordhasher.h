#pragma once

#include <asio/io_context.hpp>
#include <asio/thread_pool.hpp>

#include <cstddef>
#include <functional>
#include <string>

// Password hashing off the network thread. A libsodium hash at interactive limits takes
// tens of milliseconds and tens of megabytes; run on the network thread it would stall
// every client at every login. Jobs run on a small pool and their results are posted
// back to the io_context, so callbacks run on the network thread.
//
// OSTREL_SERVER_FAST_HASH=1 in the environment selects libsodium's minimum limits. It is
// meant for tests and load generation, which log in hundreds of accounts; never set it
// for a server that keeps real accounts.
class PasswordHasher
{
public:
    explicit PasswordHasher(asio::io_context &io);
    ~PasswordHasher();

    // Empty text when hashing failed (out of memory).
    void hash(std::string password, std::function<void(std::string hash)> done);
    void verify(std::string hash, std::string password, std::function<void(bool ok)> done);

    // Jobs queued or running; the server refuses new logins beyond a limit.
    std::size_t pending() const { return m_pending; }
    bool fast() const { return m_fast; }

    // Hashing for callers that are not on the network thread (set-class does not need it,
    // tests that seed accounts may).
    static std::string hashNow(const std::string &password, bool fast);
    static bool verifyNow(const std::string &hash, const std::string &password);

private:
    asio::io_context &m_io;
    asio::thread_pool m_pool;
    std::size_t m_pending = 0;
    bool m_fast = false;
};
