#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>

// Hands freed heap memory back to the system now and then. A crowd logging in fills the
// shared output blocks with its presence news and gives every newcomer its player list at
// once; once written, that memory is free but scattered between live allocations, so the
// allocator cannot shrink the heap by itself. Trimming releases the free pages in the
// middle of the heap too.
class HeapTrimmer
{
public:
    // Every interval, trims when at least minFree bytes of the heap are free and either
    // the free bytes or the process have grown by as much since the last trim.
    HeapTrimmer(asio::io_context &io, std::chrono::milliseconds interval, std::size_t minFree);

    void start();
    void stop();

    // Free bytes the allocator holds in its heap; 0 where that cannot be told.
    static std::size_t freeHeapBytes();
    // Bytes of the heap in use, the allocator's own large blocks included.
    static std::size_t usedHeapBytes();
    // Returns free heap pages to the system.
    static void trim();
    // Resident bytes of this process; 0 where that cannot be told.
    static std::size_t residentBytes();

private:
    void schedule();

    asio::steady_timer m_timer;
    std::chrono::milliseconds m_interval;
    std::size_t m_minFree;
    std::size_t m_residentAfterTrim = 0;
    std::size_t m_freeAfterTrim = 0;
};
