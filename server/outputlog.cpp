#include "outputlog.h"

#include "encryptit.h"

#include <algorithm>
#include <cstring>

namespace {

std::shared_ptr<OutputLog::Block> newBlock(std::uint32_t capacity)
{
    auto block = std::make_shared<OutputLog::Block>();
    block->bytes.reset(new char[capacity]);
    block->capacity = capacity;
    return block;
}

void put(OutputLog::Block &block, std::string_view plain)
{
    char *at = block.bytes.get() + block.size;
    std::memcpy(at, plain.data(), plain.size());
    ostrel::ScrambleInPlace(at, plain.size(), ostrel::kWireKey);
    at[plain.size()] = '\n';
    block.size += static_cast<std::uint32_t>(plain.size() + 1);
}

} // namespace

OutputLog::Line OutputLog::append(std::string_view plain)
{
    const auto need = static_cast<std::uint32_t>(plain.size() + 1);
    // Everyone has taken what the block holds: it starts over instead of a new one.
    if (m_block && m_block.use_count() == 1)
        m_block->size = 0;
    if (!m_block || m_block->capacity - m_block->size < need) {
        const std::uint32_t grown =
            m_block ? std::min(m_maxBlock, m_block->capacity * 2) : m_firstBlock;
        m_block = newBlock(std::max(grown, need));
    }
    const std::uint32_t begin = m_block->size;
    put(*m_block, plain);
    return {m_block, begin, m_block->size};
}

OutputLog::Line OutputLog::single(std::string_view plain)
{
    auto block = newBlock(static_cast<std::uint32_t>(plain.size() + 1));
    put(*block, plain);
    const std::uint32_t end = block->size;
    return {std::move(block), 0, end};
}
