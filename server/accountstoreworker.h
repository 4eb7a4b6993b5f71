#pragma once

#include "accountstore.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

// The account store on a thread of its own, so that a database that is slow, locked or
// silent never holds the network thread: every call of the server goes through run().
//
// A request is work for the store's thread and what to do with its result on the
// network thread. Requests run one at a time, in the order they came (one connection to
// the database, and a player's changes land in the order they were made). Each has a
// time to get its answer; when that passes, it is answered with an error at once, on the
// network thread, and its result is dropped if it still comes. The store bounds each of
// its own calls as well (see PostgresAccountStore, SqliteAccountStore), so the thread is
// free again soon after and a queue behind a dead link fails in time instead of waiting
// for it.
//
// Nothing of the network thread's is touched on the store's thread: work sees only the
// store and what it captured by value, and what it captured is destroyed there, so it
// holds values, `this` and weak pointers only. Destroying the worker lets the requests
// already queued run for a little while longer (kStopGrace), so that writes such as the
// minutes played at shutdown still land, skips the rest, waits for the call under way
// (bounded by the store) and drops every answer: the server is gone by then.
class AccountStoreWorker
{
public:
    // How long a request may take before its client is told it failed. Long enough for
    // the store to connect again (5 s at most) and still answer; well short of the time
    // in which a client gives up on a login or is found silent (three ping intervals).
    static constexpr std::chrono::seconds kRequestTime{10};
    // Requests waiting at most; more are refused at once. Each client has at most one
    // waiting (its input waits behind it), so this is about a burst of logins.
    static constexpr std::size_t kMaxWaiting = 1024;
    // How long queued requests still run once the worker is being destroyed.
    static constexpr std::chrono::seconds kStopGrace{2};

    // What runs on the network thread with the result; empty when nothing is to be done.
    using Then = std::function<void()>;
    // Runs on the store's thread. It may throw: the request then fails.
    using Work = std::function<Then(AccountStore &store)>;
    // Runs on the network thread when the request failed, timed out or was refused.
    using Failed = std::function<void(const std::string &error)>;

    AccountStoreWorker(asio::io_context &io, std::unique_ptr<AccountStore> store,
                       std::chrono::milliseconds requestTime = kRequestTime);
    ~AccountStoreWorker();
    AccountStoreWorker(const AccountStoreWorker &) = delete;
    AccountStoreWorker &operator=(const AccountStoreWorker &) = delete;

    // Network thread only. Neither then nor failed ever runs inside this call.
    void run(Work work, Failed failed);

    // Requests queued or running.
    std::size_t waiting() const { return m_waiting.size(); }
    std::uint64_t timedOut() const { return m_timedOut; }
    // Empty while the store answers; otherwise what its latest request met.
    const std::string &trouble() const { return m_trouble; }

private:
    using Clock = std::chrono::steady_clock;

    struct Job
    {
        std::uint64_t id = 0;
        Clock::time_point deadline;
        std::shared_ptr<std::atomic<bool>> abandoned;
        Work work;
    };
    // Network thread.
    struct Waiting
    {
        Failed failed;
        std::shared_ptr<std::atomic<bool>> abandoned;
        std::unique_ptr<asio::steady_timer> timer;
    };

    void loop();
    void finished(std::uint64_t id, Then then, const std::string &error, bool ran);
    void expire(std::uint64_t id);

    asio::io_context &m_io;
    std::unique_ptr<AccountStore> m_store;
    std::chrono::milliseconds m_requestTime;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_quit = false;
    Clock::time_point m_quitBy = Clock::time_point::max();

    std::unordered_map<std::uint64_t, Waiting> m_waiting;
    std::uint64_t m_nextId = 1;
    std::uint64_t m_timedOut = 0;
    std::string m_trouble;
    // Answers posted by the store's thread find the worker through this, or nothing.
    std::shared_ptr<AccountStoreWorker *> m_self;
    std::thread m_thread;
};
