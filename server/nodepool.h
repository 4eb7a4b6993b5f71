#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// Fixed-size pieces of memory cut from large chunks and taken back into a free list. The
// nodes of a map of thousands, allocated one by one amid everything else a login
// allocates, end up a page apart each; walking the map then costs a cache and a TLB miss
// per node. From a pool they lie side by side.
//
// A pool belongs to one thread (Allocator keeps one per thread and piece size); a piece
// freed on another thread joins that thread's pool. A pool keeps what its maps held at
// their peak; it frees its chunks when it ends with all its pieces back, and otherwise
// leaves them, as a piece may still be in use.
class NodePool
{
public:
    explicit NodePool(std::size_t pieceSize);
    NodePool(const NodePool &) = delete;
    NodePool &operator=(const NodePool &) = delete;
    ~NodePool();

    void *take();
    void give(void *piece);

    // For standard containers: single objects come from the calling thread's pool for
    // their size, arrays (a hash map's buckets) from the usual allocator.
    template <class T> class Allocator
    {
    public:
        using value_type = T;

        Allocator() = default;
        template <class U> Allocator(const Allocator<U> &) {}

        T *allocate(std::size_t n)
        {
            if (n == 1)
                return static_cast<T *>(pool().take());
            return std::allocator<T>().allocate(n);
        }
        void deallocate(T *p, std::size_t n)
        {
            if (n == 1)
                pool().give(p);
            else
                std::allocator<T>().deallocate(p, n);
        }
        template <class U> bool operator==(const Allocator<U> &) const { return true; }

    private:
        static NodePool &pool()
        {
            static thread_local NodePool pool(sizeof(T));
            return pool;
        }
    };

private:
    struct Free
    {
        Free *next;
    };

    std::size_t m_pieceSize;
    std::size_t m_chunkPieces = 64;
    Free *m_free = nullptr;
    std::vector<void *> m_chunks;
    long m_outstanding = 0; // pieces taken and not given back to this pool
};
