#include "writepacer.h"

#include "clientsession.h"

#include <asio/post.hpp>

#include <algorithm>
#include <cmath>

namespace {

// How often the window is fitted to the share of time the passes took.
constexpr std::chrono::milliseconds kPeriod{100};

} // namespace

WritePacer::WritePacer(asio::io_context &io) : m_io(io), m_timer(io) {}

void WritePacer::request(ClientSession &session, Clock::time_point lastWrite)
{
    const auto now = Clock::now();
    // After a busy spell without passes since, the window is fitted to the quiet first.
    if (now - m_periodStart >= kPeriod)
        adjust(now);
    if (now - lastWrite >= m_window) {
        m_thisTurn.push_back(session.weak_from_this());
        if (!m_posted) {
            m_posted = true;
            // Runs after the handlers already waiting, which may queue more lines for
            // the same clients.
            asio::post(m_io, [this] {
                m_posted = false;
                pass(m_thisTurn);
            });
        }
        return;
    }
    m_windowEnd.push_back(session.weak_from_this());
    if (m_timerArmed)
        return;
    // Those waiting with this one were written in the same pass or later: none of them
    // waits longer than its window.
    m_timerArmed = true;
    m_timer.expires_at(lastWrite + m_window);
    m_timer.async_wait([this](const std::error_code &error) {
        m_timerArmed = false;
        if (!error)
            pass(m_windowEnd);
    });
}

void WritePacer::pass(Waiting &waiting)
{
    const auto start = Clock::now();
    m_writing.swap(waiting);
    for (const auto &weak : m_writing)
        if (const auto session = weak.lock())
            session->writeRequested();
    m_writing.clear();
    const auto end = Clock::now();
    m_busy += end - start;
    if (end - m_periodStart >= kPeriod)
        adjust(end);
}

void WritePacer::adjust(Clock::time_point now)
{
    const double share = std::chrono::duration<double>(m_busy).count() /
                         std::chrono::duration<double>(now - m_periodStart).count();
    // The time the passes take falls in proportion as the window grows (each client
    // carries more lines per call); halfway there in each period, so that one odd period
    // does not swing it.
    const double factor = std::sqrt(std::max(share, 0.01) / kBusyShare);
    const auto next = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(m_window) * factor);
    m_window = std::clamp<Clock::duration>(next, kMinWindow, kMaxWindow);
    m_periodStart = now;
    m_busy = {};
}
