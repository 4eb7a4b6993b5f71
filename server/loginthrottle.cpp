#include "loginthrottle.h"

#include <algorithm>

namespace {

std::string pairKey(const std::string &address, const std::string &account)
{
    return address + '\n' + account;
}

} // namespace

long long LoginThrottle::secondsLeft(const std::unordered_map<std::string, Entry> &table,
                                     const std::string &key, Clock::time_point now)
{
    const auto it = table.find(key);
    if (it == table.end() || it->second.blockedUntil <= now)
        return 0;
    return std::chrono::ceil<std::chrono::seconds>(it->second.blockedUntil - now).count();
}

LoginThrottle::Wait LoginThrottle::wait(const std::string &address, const std::string &account,
                                        Clock::time_point now) const
{
    if (const auto seconds = secondsLeft(m_pairs, pairKey(address, account), now))
        return {Holder::Address, seconds};
    if (const auto seconds = secondsLeft(m_accounts, account, now))
        return {Holder::Account, seconds};
    return {};
}

void LoginThrottle::count(Entry &entry, int free, Clock::time_point now)
{
    if (entry.failures > 0 && now - entry.lastFailure > kForget)
        entry = Entry{};
    ++entry.failures;
    entry.lastFailure = now;
    if (entry.failures > free) {
        const int doublings = std::min(entry.failures - free - 1, 16);
        const auto wait =
            std::min<std::chrono::seconds>(std::chrono::seconds(1LL << doublings), kMaxWait);
        entry.blockedUntil = now + wait;
    }
}

void LoginThrottle::recordAttempt(const std::string &address, const std::string &account,
                                  Clock::time_point now)
{
    count(m_pairs[pairKey(address, account)], kFreeFailures, now);
    count(m_accounts[account], kFreeAccountFailures, now);
}

void LoginThrottle::recordSuccess(const std::string &address, const std::string &account)
{
    m_pairs.erase(pairKey(address, account));
    m_accounts.erase(account);
}

void LoginThrottle::prune(Clock::time_point now)
{
    const auto forgotten = [now](const auto &item) {
        return now - item.second.lastFailure > kForget && item.second.blockedUntil <= now;
    };
    std::erase_if(m_pairs, forgotten);
    std::erase_if(m_accounts, forgotten);
}
