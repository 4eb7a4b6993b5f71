#pragma once

#include <chrono>
#include <string>
#include <unordered_map>

// Failed logins per remote address. The first few failures cost nothing; after that each
// failure doubles a wait (capped) during which logins from that address are refused
// without even looking at the password, so guessing stays slow and costs us no hashing.
// A successful login does not clear the count: otherwise someone holding one valid
// account could interleave it with guesses at others.
class LoginThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFreeFailures = 3;
    static constexpr std::chrono::seconds kMaxWait{300};
    // An address with no failure for this long starts afresh.
    static constexpr std::chrono::minutes kForget{15};

    // Seconds the address must still wait, 0 when it may try now.
    long long waitSeconds(const std::string &address, Clock::time_point now) const;
    void recordFailure(const std::string &address, Clock::time_point now);
    // Drops forgotten entries; called from the periodic tick so the table stays small.
    void prune(Clock::time_point now);

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point lastFailure;
        Clock::time_point blockedUntil;
    };
    std::unordered_map<std::string, Entry> m_entries;
};
