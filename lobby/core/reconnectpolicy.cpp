#include "reconnectpolicy.h"

#include <algorithm>
#include <cmath>

ReconnectPolicy::ReconnectPolicy(std::uint32_t seed) : m_random(seed) {}

std::chrono::milliseconds ReconnectPolicy::baseDelay(int attempt)
{
    // Doubling stops at the cap long before the shift could overflow.
    std::chrono::milliseconds wait = kFirst;
    for (int i = 0; i < attempt && wait < kCap; ++i)
        wait *= 2;
    return std::min(wait, kCap);
}

std::chrono::milliseconds ReconnectPolicy::nextDelay()
{
    const double base = static_cast<double>(baseDelay(m_attempt).count());
    ++m_attempt;
    double factor = 1.0;
    if (m_jitter > 0) {
        std::uniform_real_distribution<double> spread(1.0 - m_jitter, 1.0 + m_jitter);
        factor = spread(m_random);
    }
    return std::chrono::milliseconds(std::llround(base * factor * m_scale));
}
