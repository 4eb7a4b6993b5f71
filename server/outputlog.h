#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// Scrambled protocol lines laid end to end in shared blocks. A line sent to many clients
// is written once into the log of its audience (the lobby, a room) and every receiver's
// queue refers to its bytes; a receiver's queue merges lines that follow each other in a
// block into one entry. So a crowd's news costs each connection a few entries for what it
// has not read yet, not one per line, and the bytes once for everyone.
//
// A block never moves or shrinks while anyone refers to it: it is only appended to, and
// the bytes already handed out stay where they are. It is freed when the last reference
// goes; the log starts it over when nobody but the log still refers to it.
class OutputLog
{
public:
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::uint32_t capacity = 0;
        std::uint32_t size = 0;
    };

    // One line, or several consecutive ones, of a block.
    struct Line
    {
        std::shared_ptr<const Block> block;
        std::uint32_t begin = 0;
        std::uint32_t end = 0;

        std::size_t size() const { return end - begin; }
        const char *data() const { return block->bytes.get() + begin; }
        std::string_view view() const { return {data(), size()}; }
        explicit operator bool() const { return block != nullptr; }
        // Whether next starts where this ends, in the same block.
        bool joins(const Line &next) const { return block == next.block && end == next.begin; }
    };

    // Blocks start at firstBlock bytes and double while they fill, up to maxBlock; a
    // longer line gets a block of its own size. A log of one connection's lines keeps its
    // blocks small: a block lives as long as any of its lines is unwritten, and a client
    // that is behind holds one for its next private line.
    static constexpr std::uint32_t kFirstBlock = 512;
    static constexpr std::uint32_t kMaxBlock = 16 * 1024;

    explicit OutputLog(std::uint32_t firstBlock = kFirstBlock, std::uint32_t maxBlock = kMaxBlock)
        : m_firstBlock(firstBlock), m_maxBlock(maxBlock)
    {
    }

    // Scrambles plain, adds the line end and appends it.
    Line append(std::string_view plain);
    // Lets go of the current block once nobody else refers to it: the next line starts a
    // new, small one. For a log of one connection's own lines, so that a long reply (a
    // member list of thousands) is freed as soon as it is written.
    void releaseIfUnused()
    {
        if (m_block.use_count() == 1)
            m_block.reset();
    }

    // Bytes of the block lines are appended to now; 0 when none is held.
    std::size_t blockCapacity() const { return m_block ? m_block->capacity : 0; }

    // A line of its own block, for one that goes out once (a PING to everyone).
    static Line single(std::string_view plain);

private:
    std::uint32_t m_firstBlock;
    std::uint32_t m_maxBlock;
    std::shared_ptr<Block> m_block;
};
