#include "accountstoreworker.h"

#include <asio/post.hpp>

#include <exception>
#include <utility>

AccountStoreWorker::AccountStoreWorker(asio::io_context &io, std::unique_ptr<AccountStore> store,
                                       std::chrono::milliseconds requestTime)
    : m_io(io), m_store(std::move(store)), m_requestTime(requestTime),
      m_self(std::make_shared<AccountStoreWorker *>(this))
{
    m_thread = std::thread([this] { loop(); });
}

AccountStoreWorker::~AccountStoreWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_quitBy = Clock::now() + kStopGrace;
    }
    m_wake.notify_one();
    m_thread.join();
    // Answers still posted find nobody.
    *m_self = nullptr;
    m_self.reset();
}

void AccountStoreWorker::run(Work work, Failed failed)
{
    if (m_waiting.size() >= kMaxWaiting) {
        asio::post(m_io, [failed = std::move(failed)]() {
            failed("the account store is busy: too many requests waiting");
        });
        return;
    }
    const auto id = m_nextId++;
    auto abandoned = std::make_shared<std::atomic<bool>>(false);
    auto timer = std::make_unique<asio::steady_timer>(m_io);
    timer->expires_after(m_requestTime);
    timer->async_wait([weak = std::weak_ptr(m_self), id](const std::error_code &error) {
        const auto self = weak.lock();
        if (!error && self && *self)
            (*self)->expire(id);
    });
    m_waiting.emplace(id, Waiting{std::move(failed), abandoned, std::move(timer)});
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(
            Job{id, Clock::now() + m_requestTime, std::move(abandoned), std::move(work)});
    }
    m_wake.notify_one();
}

void AccountStoreWorker::loop()
{
    const std::weak_ptr<AccountStoreWorker *> self = m_self;
    for (;;) {
        Job job;
        Clock::time_point quitBy;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            quitBy = m_quitBy;
        }
        Then then;
        std::string error;
        // A request whose client has been told it failed is not started any more.
        const auto now = Clock::now();
        const bool ran = !job.abandoned->load() && now < job.deadline && now < quitBy;
        if (ran) {
            try {
                then = job.work(*m_store);
            } catch (const std::exception &e) {
                error = e.what();
            } catch (...) {
                error = "unknown failure";
            }
        }
        // What the work captured goes here, not on the network thread.
        job.work = nullptr;
        asio::post(m_io, [self, id = job.id, then = std::move(then), error = std::move(error),
                          ran]() mutable {
            if (const auto worker = self.lock(); worker && *worker)
                (*worker)->finished(id, std::move(then), error, ran);
        });
    }
}

void AccountStoreWorker::finished(std::uint64_t id, Then then, const std::string &error, bool ran)
{
    const auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return; // timed out: its client knows already
    Waiting waiting = std::move(it->second);
    m_waiting.erase(it);
    waiting.timer->cancel();
    if (!ran) {
        ++m_timedOut;
        m_trouble = "no answer within " + std::to_string(m_requestTime.count()) + " ms";
        waiting.failed(m_trouble);
        return;
    }
    m_trouble = error;
    if (!error.empty()) {
        waiting.failed(error);
        return;
    }
    if (!then)
        return;
    try {
        then();
    } catch (const std::exception &e) {
        waiting.failed(e.what());
    }
}

void AccountStoreWorker::expire(std::uint64_t id)
{
    const auto it = m_waiting.find(id);
    if (it == m_waiting.end())
        return;
    Waiting waiting = std::move(it->second);
    m_waiting.erase(it);
    waiting.abandoned->store(true);
    ++m_timedOut;
    m_trouble = "no answer within " + std::to_string(m_requestTime.count()) + " ms";
    waiting.failed(m_trouble);
}
