#include "reconnectpolicy.h"

#include <gtest/gtest.h>

#include <set>

using std::chrono::milliseconds;

TEST(ReconnectPolicy, NominalStepsDoubleUpToTheCap)
{
    const std::pair<int, milliseconds> cases[] = {
        {0, milliseconds(2000)},        {1, milliseconds(4000)},   {2, milliseconds(8000)},
        {3, milliseconds(16000)},       {4, milliseconds(32000)},  {5, milliseconds(60000)},
        {6, milliseconds(60000)},       {40, milliseconds(60000)}, // no overflow far out
        {1000000, milliseconds(60000)},
    };
    for (const auto &[attempt, wait] : cases)
        EXPECT_EQ(ReconnectPolicy::baseDelay(attempt), wait) << attempt;
}

TEST(ReconnectPolicy, WithoutJitterTheWaitsFollowTheStepsAndResetStartsOver)
{
    ReconnectPolicy policy(1);
    policy.setJitter(0);
    const long expected[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000};
    for (long wait : expected)
        EXPECT_EQ(policy.nextDelay().count(), wait);
    EXPECT_EQ(policy.attempts(), 8);
    policy.reset();
    EXPECT_EQ(policy.attempts(), 0);
    EXPECT_EQ(policy.nextDelay().count(), 2000);
}

TEST(ReconnectPolicy, JitterStaysWithinItsBoundsAndVaries)
{
    for (double jitter : {0.2, 0.5}) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            const double base = static_cast<double>(ReconnectPolicy::baseDelay(attempt).count());
            std::set<long> seen;
            for (std::uint32_t seed = 0; seed < 200; ++seed) {
                ReconnectPolicy policy(seed);
                policy.setJitter(jitter);
                milliseconds wait{};
                for (int i = 0; i <= attempt; ++i)
                    wait = policy.nextDelay();
                EXPECT_GE(wait.count(), static_cast<long>(base * (1 - jitter)) - 1);
                EXPECT_LE(wait.count(), static_cast<long>(base * (1 + jitter)) + 1);
                seen.insert(static_cast<long>(wait.count()));
            }
            // Clients cut off together must not all come back at the same moment.
            EXPECT_GT(seen.size(), 50U) << "attempt " << attempt << " jitter " << jitter;
        }
    }
}

TEST(ReconnectPolicy, SameSeedSameWaitsAndScaleShrinksThem)
{
    ReconnectPolicy a(42);
    ReconnectPolicy b(42);
    ReconnectPolicy scaled(42);
    scaled.setScale(0.01);
    for (int i = 0; i < 10; ++i) {
        const milliseconds wa = a.nextDelay();
        EXPECT_EQ(wa, b.nextDelay());
        const milliseconds ws = scaled.nextDelay();
        EXPECT_NEAR(static_cast<double>(ws.count()), wa.count() * 0.01, 1.0);
    }
}
