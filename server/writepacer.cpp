#include "writepacer.h"

#include "clientsession.h"

#include <asio/post.hpp>

#include <algorithm>

WritePacer::WritePacer(asio::io_context &io, Clock::duration window)
    : m_io(io), m_window(window),
      m_slotWidth(std::max<Clock::duration>(std::chrono::milliseconds(1), window / (kSlots / 2))),
      m_timer(io)
{
}

std::int64_t WritePacer::slotOf(Clock::time_point t) const
{
    // Rounded up: a client never leaves before its window has passed.
    const auto since = t.time_since_epoch().count();
    const auto width = m_slotWidth.count();
    return static_cast<std::int64_t>((since + width - 1) / width);
}

bool WritePacer::request(ClientSession &session, Clock::time_point lastWrite, double linesPerSecond,
                         std::uint32_t ticket)
{
    const auto now = Clock::now();
    const double perWindow = linesPerSecond * std::chrono::duration<double>(m_window).count();
    const auto due = lastWrite + m_window;
    if (perWindow < kBusyLines || due <= now) {
        requestNow(session, ticket);
        return false;
    }
    std::int64_t slot = slotOf(due);
    if (m_waiting == 0)
        m_done = slotOf(now) - 1;
    // A loop turn that ran long may have left the wheel behind: whoever would be due
    // beyond its reach is written with the last slot it reaches, a little early.
    slot = std::clamp(slot, m_done + 1, m_done + kSlots);
    m_wheel[static_cast<std::size_t>(slot % kSlots)].push_back({session.weak_from_this(), ticket});
    ++m_waiting;
    if (m_armedFor < 0 || slot < m_armedFor)
        arm(slot);
    return true;
}

void WritePacer::requestNow(ClientSession &session, std::uint32_t ticket)
{
    m_thisTurn.push_back({session.weak_from_this(), ticket});
    if (m_posted)
        return;
    m_posted = true;
    // Runs after the handlers already waiting, which may queue more lines for the same
    // clients.
    asio::post(m_io, [this] {
        m_posted = false;
        pass(m_thisTurn);
    });
}

void WritePacer::arm(std::int64_t slot)
{
    m_armedFor = slot;
    m_timer.expires_at(Clock::time_point(m_slotWidth * slot));
    m_timer.async_wait([this](const std::error_code &error) {
        if (error)
            return; // armed again for an earlier slot
        m_armedFor = -1;
        onTimer();
    });
}

void WritePacer::onTimer()
{
    // Everyone whose slot has come, however late the timer ran.
    const std::int64_t now = Clock::now().time_since_epoch() / m_slotWidth;
    const std::int64_t last = std::min(now, m_done + kSlots);
    for (std::int64_t slot = m_done + 1; slot <= last; ++slot) {
        auto &entries = m_wheel[static_cast<std::size_t>(slot % kSlots)];
        m_waiting -= entries.size();
        m_due.insert(m_due.end(), entries.begin(), entries.end());
        entries.clear();
    }
    m_done = std::max(m_done, now);
    pass(m_due);
    if (m_waiting == 0)
        return;
    for (std::int64_t slot = m_done + 1; slot <= m_done + kSlots; ++slot)
        if (!m_wheel[static_cast<std::size_t>(slot % kSlots)].empty()) {
            if (m_armedFor < 0 || slot < m_armedFor)
                arm(slot);
            return;
        }
}

void WritePacer::pass(Entries &entries)
{
    m_writing.swap(entries);
    for (const auto &entry : m_writing)
        if (const auto session = entry.session.lock())
            session->writeDue(entry.ticket);
    m_writing.clear();
}
