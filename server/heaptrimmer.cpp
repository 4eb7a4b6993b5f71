#include "heaptrimmer.h"

#include <algorithm>
#include <fstream>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr int kLargeBlock = 16 * 1024 * 1024;
constexpr int kHeldTop = 64 * 1024 * 1024;

} // namespace

HeapTrimmer::HeapTrimmer(asio::io_context &io, std::chrono::milliseconds interval,
                         std::size_t minFree)
    : m_timer(io), m_interval(interval), m_minFree(minFree)
{
}

void HeapTrimmer::start()
{
#if defined(__GLIBC__)
    // Large blocks (a member list of thousands for each newcomer of a crowd, a crowd's
    // news) come from the heap as well, and a freed top of the heap stays: the next such
    // block reuses pages already mapped instead of mapping, faulting in and unmapping
    // fresh ones, each unmapping a stop of every thread. These trims give the memory back.
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    mallopt(M_TRIM_THRESHOLD, kHeldTop);
#endif
    schedule();
}

void HeapTrimmer::stop()
{
    m_timer.cancel();
}

std::size_t HeapTrimmer::freeHeapBytes()
{
#if defined(__GLIBC__)
    return mallinfo2().fordblks;
#else
    return 0;
#endif
}

std::size_t HeapTrimmer::usedHeapBytes()
{
#if defined(__GLIBC__)
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

void HeapTrimmer::trim()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

std::size_t HeapTrimmer::residentBytes()
{
    std::ifstream in("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    if (!(in >> size >> resident))
        return 0;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void HeapTrimmer::schedule()
{
    m_timer.expires_after(m_interval);
    m_timer.async_wait([this](const std::error_code &error) {
        if (error)
            return;
        // Pages handed back still count as free heap, so free bytes alone would trim a
        // quiet heap again and again (a millisecond or more each time with thousands
        // online). Worth a pass: more freed since the last one (a burst ending), or the
        // process grown since (free pages used again and freed anew).
        const std::size_t resident = residentBytes();
        const std::size_t free = freeHeapBytes();
        if (free >= m_minFree &&
            (free >= m_freeAfterTrim + m_minFree || resident >= m_residentAfterTrim + m_minFree)) {
            trim();
            m_residentAfterTrim = residentBytes();
            m_freeAfterTrim = freeHeapBytes();
        } else {
            m_residentAfterTrim = std::min(m_residentAfterTrim, resident);
            m_freeAfterTrim = std::min(m_freeAfterTrim, free);
        }
        schedule();
    });
}
