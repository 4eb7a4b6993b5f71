#pragma once

#include <chrono>
#include <cstdint>
#include <random>

// The waits between automatic tries to get back to the lobby server after a connection
// was lost: 2, 4, 8, 16, 32 seconds, then 60 seconds for every further try, each spread
// by a random share so that many clients cut off together do not come back together.
class ReconnectPolicy
{
public:
    static constexpr std::chrono::milliseconds kFirst{2000};
    static constexpr std::chrono::milliseconds kCap{60000};

    explicit ReconnectPolicy(std::uint32_t seed = std::random_device{}());

    // The nominal wait before try number `attempt` (0 is the first), without spread.
    static std::chrono::milliseconds baseDelay(int attempt);

    // The wait before the next try; every call counts as one more try.
    std::chrono::milliseconds nextDelay();
    // A successful login starts the schedule over.
    void reset() { m_attempt = 0; }
    int attempts() const { return m_attempt; }

    // How far a wait may stray from its nominal value, as a fraction (0.2: ±20%).
    void setJitter(double fraction) { m_jitter = fraction < 0 ? 0 : fraction; }
    double jitter() const { return m_jitter; }
    // Every wait is multiplied by this: tests run the schedule in milliseconds.
    void setScale(double scale) { m_scale = scale < 0 ? 0 : scale; }
    double scale() const { return m_scale; }
    void seed(std::uint32_t value) { m_random.seed(value); }

private:
    std::mt19937 m_random;
    int m_attempt = 0;
    double m_jitter = 0.2;
    double m_scale = 1.0;
};
