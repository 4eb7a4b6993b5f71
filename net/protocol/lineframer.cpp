#include "lineframer.h"

#include <cstring>

namespace ostrel {

bool LineFramer::append(std::string_view chunk)
{
    if (m_overflow)
        return false;
    // Drop what was handed out before growing, so the buffer holds only pending bytes.
    if (m_start > 0) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    m_buffer.append(chunk.data(), chunk.size());
    // Only the text after the last line feed counts as a pending partial line; complete
    // lines in a large burst are fine. Look at the new chunk only, so a long line that
    // arrives in many small pieces costs linear time.
    const auto lastFeed = chunk.rfind('\n');
    m_partial =
        lastFeed == std::string_view::npos ? m_partial + chunk.size() : chunk.size() - lastFeed - 1;
    if (m_partial > m_maxPending) {
        // Only the unfinished tail is dropped: the complete lines ahead of it were sent
        // before the fault and are still handed out.
        m_overflow = true;
        m_buffer.resize(m_buffer.size() - m_partial);
        m_partial = 0;
        return false;
    }
    return true;
}

bool LineFramer::nextLine(std::string_view &line)
{
    const char *base = m_buffer.data() + m_start;
    const std::size_t available = m_buffer.size() - m_start;
    if (m_scanned >= available)
        return false;
    const void *hit = std::memchr(base + m_scanned, '\n', available - m_scanned);
    if (!hit) {
        m_scanned = available;
        return false;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char *>(hit) - base);
    line = std::string_view(base, length);
    m_start += length + 1;
    m_scanned = 0;
    return true;
}

void LineFramer::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_scanned = 0;
    m_partial = 0;
    m_overflow = false;
}

} // namespace ostrel
