#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

// Cuts a byte stream into lines at line feeds. The line feed is removed; a carriage
// return before it stays part of the line. Text after the last line feed waits for
// the next chunk. The pending partial line is capped: a peer that never ends its line
// must not grow our memory without bound.
class LineFramer
{
public:
    static constexpr std::size_t kDefaultMaxPending = 8u * 1024u * 1024u;

    explicit LineFramer(std::size_t maxPending = kDefaultMaxPending) : m_maxPending(maxPending) {}

    // Appends a chunk. Returns false when the pending partial line would exceed the cap;
    // the framer is then in overflow: it drops that partial line, still hands out the
    // complete lines queued ahead of it, and takes nothing more until clear().
    bool append(std::string_view chunk);

    // Takes the next complete line (without its line feed). The view stays valid until
    // the next append() or clear().
    bool nextLine(std::string_view &line);

    void clear();
    bool overflowed() const { return m_overflow; }
    std::size_t pendingSize() const { return m_buffer.size() - m_start; }

private:
    std::string m_buffer;
    std::size_t m_start = 0;   // first byte not yet handed out
    std::size_t m_scanned = 0; // bytes from m_start known to hold no line feed
    std::size_t m_partial = 0; // bytes after the last line feed seen
    std::size_t m_maxPending;
    bool m_overflow = false;
};

} // namespace ostrel
