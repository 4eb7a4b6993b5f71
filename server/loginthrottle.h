#pragma once

#include <chrono>
#include <string>
#include <unordered_map>

// Failed logins, counted per remote address and account together and per account alone.
// An attempt counts as failed when its check starts, so guesses sent side by side are
// held back like guesses sent one after another; a success gives the account a clean
// slate. The first few failures cost nothing; after that each one doubles a wait
// (capped) during which logins are refused without looking at the password, so guessing
// stays slow and costs us no hashing.
//
// Keying by address and account means that a player behind the same address (a NAT) as
// someone guessing at another account is not locked out. The count per account, with a
// larger allowance, holds back guesses at one account spread over many addresses.
class LoginThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kFreeFailures = 3;
    static constexpr int kFreeAccountFailures = 10;
    static constexpr std::chrono::seconds kMaxWait{300};
    // An entry with no failure for this long starts afresh.
    static constexpr std::chrono::minutes kForget{15};

    enum class Holder { None, Address, Account };
    struct Wait
    {
        Holder holder = Holder::None;
        long long seconds = 0;
    };

    // Whether a login of the account (its key) from the address must wait, and who holds
    // it back.
    Wait wait(const std::string &address, const std::string &account, Clock::time_point now) const;
    void recordAttempt(const std::string &address, const std::string &account,
                       Clock::time_point now);
    void recordSuccess(const std::string &address, const std::string &account);
    // Drops forgotten entries; called from the periodic tick so the tables stay small.
    void prune(Clock::time_point now);

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point lastFailure;
        Clock::time_point blockedUntil;
    };
    static void count(Entry &entry, int free, Clock::time_point now);
    static long long secondsLeft(const std::unordered_map<std::string, Entry> &table,
                                 const std::string &key, Clock::time_point now);

    std::unordered_map<std::string, Entry> m_pairs; // address, a line feed, account key
    std::unordered_map<std::string, Entry> m_accounts;
};
