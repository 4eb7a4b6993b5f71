#include "loginthrottle.h"

#include <algorithm>

long long LoginThrottle::waitSeconds(const std::string &address, Clock::time_point now) const
{
    const auto it = m_entries.find(address);
    if (it == m_entries.end() || it->second.blockedUntil <= now)
        return 0;
    const auto left = it->second.blockedUntil - now;
    return std::chrono::ceil<std::chrono::seconds>(left).count();
}

void LoginThrottle::recordFailure(const std::string &address, Clock::time_point now)
{
    auto &entry = m_entries[address];
    if (entry.failures > 0 && now - entry.lastFailure > kForget)
        entry = Entry{};
    ++entry.failures;
    entry.lastFailure = now;
    if (entry.failures > kFreeFailures) {
        const int doublings = std::min(entry.failures - kFreeFailures - 1, 16);
        const auto wait =
            std::min<std::chrono::seconds>(std::chrono::seconds(1LL << doublings), kMaxWait);
        entry.blockedUntil = now + wait;
    }
}

void LoginThrottle::prune(Clock::time_point now)
{
    std::erase_if(m_entries, [now](const auto &item) {
        return now - item.second.lastFailure > kForget && item.second.blockedUntil <= now;
    });
}
