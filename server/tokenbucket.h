#pragma once

#include <algorithm>
#include <chrono>

// Flood limit of one client: a bucket of `capacity` units (lines or bytes) refilled at
// `rate` units per second. A burst up to the capacity passes; a sustained rate above
// `rate` runs it dry.
class TokenBucket
{
public:
    using Clock = std::chrono::steady_clock;

    TokenBucket(double capacity, double rate)
        : m_capacity(capacity), m_rate(rate), m_tokens(capacity), m_last(Clock::now())
    {
    }

    bool take(Clock::time_point now, double amount = 1.0)
    {
        refill(now);
        if (m_tokens < amount)
            return false;
        m_tokens -= amount;
        return true;
    }

    // Seconds until `amount` units are there (0 when they are now); takes nothing.
    double secondsUntil(Clock::time_point now, double amount)
    {
        refill(now);
        return m_tokens >= amount ? 0.0 : (amount - m_tokens) / m_rate;
    }

private:
    void refill(Clock::time_point now)
    {
        const double elapsed = std::chrono::duration<double>(now - m_last).count();
        m_last = now;
        m_tokens = std::min(m_capacity, m_tokens + elapsed * m_rate);
    }

    double m_capacity;
    double m_rate;
    double m_tokens;
    Clock::time_point m_last;
};
