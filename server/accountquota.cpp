#include "accountquota.h"

bool AccountQuota::allows(const std::string &address, Clock::time_point now)
{
    const auto it = m_creations.find(address);
    if (it == m_creations.end())
        return m_perPeriod > 0;
    auto &times = it->second;
    while (!times.empty() && now - times.front() >= kPeriod)
        times.pop_front();
    return times.size() < m_perPeriod;
}

void AccountQuota::record(const std::string &address, Clock::time_point now)
{
    m_creations[address].push_back(now);
}

void AccountQuota::refund(const std::string &address)
{
    const auto it = m_creations.find(address);
    if (it == m_creations.end())
        return;
    if (!it->second.empty())
        it->second.pop_back();
    if (it->second.empty())
        m_creations.erase(it);
}

void AccountQuota::prune(Clock::time_point now)
{
    std::erase_if(m_creations, [now](const auto &item) {
        return item.second.empty() || now - item.second.back() >= kPeriod;
    });
}
