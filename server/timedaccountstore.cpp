#include "timedaccountstore.h"

#include <chrono>

TimedAccountStore::TimedAccountStore(std::unique_ptr<AccountStore> store,
                                     MetricsRegistry::Histogram &seconds,
                                     MetricsRegistry::Counter &errors)
    : m_store(std::move(store)), m_seconds(seconds), m_errors(errors)
{
}

template <typename Call> auto TimedAccountStore::timed(Call &&call) -> decltype(call())
{
    const auto started = std::chrono::steady_clock::now();
    struct Observe
    {
        MetricsRegistry::Histogram &seconds;
        std::chrono::steady_clock::time_point started;
        ~Observe()
        {
            seconds.observe(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
    } observe{m_seconds, started};
    try {
        return call();
    } catch (...) {
        m_errors.add();
        throw;
    }
}

std::optional<AccountRecord> TimedAccountStore::find(std::string_view name)
{
    return timed([&] { return m_store->find(name); });
}

bool TimedAccountStore::insert(const AccountRecord &account)
{
    return timed([&] { return m_store->insert(account); });
}

void TimedAccountStore::recordLogin(std::string_view name, double now)
{
    timed([&] { m_store->recordLogin(name, now); });
}

void TimedAccountStore::updateProfile(std::string_view name, const ostrel::TOrvexUser &profile)
{
    timed([&] { m_store->updateProfile(name, profile); });
}

void TimedAccountStore::updatePasswordHash(std::string_view name, const std::string &hash)
{
    timed([&] { m_store->updatePasswordHash(name, hash); });
}

void TimedAccountStore::setSilenceUntil(std::string_view name, std::int64_t until)
{
    timed([&] { m_store->setSilenceUntil(name, until); });
}

void TimedAccountStore::addMinutesPlayed(std::string_view name, std::int32_t minutes)
{
    timed([&] { m_store->addMinutesPlayed(name, minutes); });
}

bool TimedAccountStore::setAccountClass(std::string_view name, std::string_view accountClass)
{
    return timed([&] { return m_store->setAccountClass(name, accountClass); });
}

std::optional<std::string> TimedAccountStore::accountClass(std::string_view name)
{
    return timed([&] { return m_store->accountClass(name); });
}

std::int64_t TimedAccountStore::count()
{
    return timed([&] { return m_store->count(); });
}

void TimedAccountStore::forEachAccount(const std::function<void(const AccountRecord &)> &visit)
{
    timed([&] { m_store->forEachAccount(visit); });
}

void TimedAccountStore::storeMessage(std::string_view recipient, std::string_view sender,
                                     std::string_view text, std::int64_t storedAt)
{
    timed([&] { m_store->storeMessage(recipient, sender, text, storedAt); });
}

AccountStore::StoredCounts TimedAccountStore::storedMessageCounts(std::string_view recipient,
                                                                  std::string_view sender)
{
    return timed([&] { return m_store->storedMessageCounts(recipient, sender); });
}

std::vector<StoredMessage> TimedAccountStore::storedMessages(std::string_view recipient,
                                                             std::int64_t notBefore)
{
    return timed([&] { return m_store->storedMessages(recipient, notBefore); });
}

void TimedAccountStore::forEachStoredMessage(
    const std::function<void(const std::string &recipient, const StoredMessage &)> &visit)
{
    timed([&] { m_store->forEachStoredMessage(visit); });
}

void TimedAccountStore::deleteStoredMessages(std::string_view recipient, std::int64_t upToId)
{
    timed([&] { m_store->deleteStoredMessages(recipient, upToId); });
}

std::int64_t TimedAccountStore::purgeStoredMessages(std::int64_t before)
{
    return timed([&] { return m_store->purgeStoredMessages(before); });
}
