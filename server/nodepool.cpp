#include "nodepool.h"

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t kMaxChunkPieces = 4096;

} // namespace

NodePool::NodePool(std::size_t pieceSize)
    : m_pieceSize((std::max(pieceSize, sizeof(Free)) + alignof(std::max_align_t) - 1) /
                  alignof(std::max_align_t) * alignof(std::max_align_t))
{
}

NodePool::~NodePool()
{
    if (m_outstanding != 0)
        return; // pieces may live on (see the class comment)
    for (void *chunk : m_chunks)
        ::operator delete(chunk);
}

void *NodePool::take()
{
    if (!m_free) {
        // Chunks grow with use, so a small map costs little and a large one few chunks.
        const std::size_t bytes = m_pieceSize * m_chunkPieces;
        auto *chunk = static_cast<char *>(::operator new(bytes));
        m_chunks.push_back(chunk);
        for (std::size_t i = m_chunkPieces; i-- > 0;) {
            auto *free = reinterpret_cast<Free *>(chunk + i * m_pieceSize);
            free->next = m_free;
            m_free = free;
        }
        m_chunkPieces = std::min(m_chunkPieces * 2, kMaxChunkPieces);
    }
    Free *piece = m_free;
    m_free = piece->next;
    ++m_outstanding;
    return piece;
}

void NodePool::give(void *piece)
{
    --m_outstanding;
    auto *free = static_cast<Free *>(piece);
    free->next = m_free;
    m_free = free;
}
