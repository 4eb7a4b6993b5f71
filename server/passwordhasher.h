#pragma once

#include <asio/io_context.hpp>
#include <asio/thread_pool.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

// Password hashing off the network thread. A libsodium hash at interactive limits takes
// tens of milliseconds and tens of megabytes; run on the network thread it would stall
// every client at every login.
//
// Every hash of the server (logins, new accounts, password changes) waits in one bounded
// queue kept on the network thread, with a budget per remote address, so that no client
// can fill it for the others. The pool only ever holds the jobs it is running: a job is
// handed over when a worker is free, after asking whether it is still wanted, so the
// work of a client that has gone is skipped, and stopping drops the queue instead of
// working it off. Results are posted back to the io_context, so callbacks run on the
// network thread.
//
// OSTREL_SERVER_FAST_HASH=1 in the environment selects libsodium's minimum limits. It is
// meant for tests and load generation, which log in hundreds of accounts; never set it
// for a server that keeps real accounts. OSTREL_SERVER_TEST_HASH_DELAY_MS=N makes every
// job take at least N ms longer, so that tests can see who waits behind whom.
class PasswordHasher
{
public:
    // Hashes waiting or running, in all and per address. Two workers get through about
    // 256 interactive hashes in under 15 s, the time a connection has to log in.
    static constexpr std::size_t kMaxQueued = 256;
    static constexpr std::size_t kMaxPerAddress = 4;

    enum class Admission { Admitted, Busy, AddressBusy };

    explicit PasswordHasher(asio::io_context &io);
    ~PasswordHasher();

    // Whether a job for the address would be queued now. exempt skips the address budget.
    Admission admits(const std::string &address, bool exempt) const;

    // Queue a job; callers ask admits() first. wanted runs on the network thread just
    // before the job starts; when it says no, the job is skipped and done gets nothing.
    // A hash is empty when hashing failed (out of memory).
    void hash(const std::string &address, std::function<bool()> wanted, std::string password,
              std::function<void(std::optional<std::string>)> done);
    void verify(const std::string &address, std::function<bool()> wanted, std::string hash,
                std::string password, std::function<void(std::optional<bool>)> done);

    // Drops every job not yet started and stops the workers after the running ones.
    void stop();

    std::size_t pending() const { return m_queue.size() + m_running; }
    // Told, on the network thread, how long each job waited before a worker took it.
    std::function<void(std::chrono::duration<double>)> onWaited;
    bool fast() const { return m_fast; }

    // Hashing for callers that are not on the network thread (set-class does not need it,
    // tests that seed accounts may).
    static std::string hashNow(const std::string &password, bool fast);
    static bool verifyNow(const std::string &hash, const std::string &password);

private:
    static constexpr std::size_t kWorkers = 2;

    struct Job
    {
        std::string address;
        std::function<bool()> wanted;
        // Runs on a worker; returns what to run on the network thread with the result.
        std::function<std::function<void()>()> work;
        std::function<void()> skipped;
        std::chrono::steady_clock::time_point queuedAt;
    };

    void enqueue(Job job);
    void startJobs();
    void release(const std::string &address);

    asio::io_context &m_io;
    asio::thread_pool m_pool;
    std::deque<Job> m_queue;
    std::unordered_map<std::string, std::size_t> m_perAddress;
    std::size_t m_running = 0;
    bool m_fast = false;
    bool m_stopped = false;
    std::chrono::milliseconds m_delay{0};
};
