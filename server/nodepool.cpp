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

// The chunks stay allocated on purpose: pieces of them may live on in a container that
// another thread's pool serves from now on (see the class comment).
NodePool::~NodePool() = default;

void *NodePool::take()
{
    if (!m_free) {
        // Chunks grow with use, so a small map costs little and a large one few chunks.
        auto *chunk = static_cast<char *>(::operator new(m_pieceSize *m_chunkPieces));
        for (std::size_t i = m_chunkPieces; i-- > 0;)
            give(chunk + i * m_pieceSize);
        m_chunkPieces = std::min(m_chunkPieces * 2, kMaxChunkPieces);
    }
    Free *piece = m_free;
    m_free = piece->next;
    return piece;
}

void NodePool::give(void *piece)
{
    auto *free = static_cast<Free *>(piece);
    free->next = m_free;
    m_free = free;
}
