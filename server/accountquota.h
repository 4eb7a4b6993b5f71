#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

// New accounts per remote address within the last hour. A creation counts when it
// starts and is refunded when no account comes of it, so creations sent side by side
// cannot get past the limit.
class AccountQuota
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kPeriod{1};

    explicit AccountQuota(std::size_t perPeriod) : m_perPeriod(perPeriod) {}

    bool allows(const std::string &address, Clock::time_point now);
    void record(const std::string &address, Clock::time_point now);
    void refund(const std::string &address);
    // Drops addresses with nothing left in the period; called from the periodic tick.
    void prune(Clock::time_point now);

private:
    std::size_t m_perPeriod;
    std::unordered_map<std::string, std::deque<Clock::time_point>> m_creations;
};
