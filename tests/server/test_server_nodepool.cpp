// The pool the server's table of players takes its nodes from, in the process.
#include "nodepool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Pieces of every size are aligned, apart from each other and whole: each is filled
// with its own byte while all are taken, and still holds it afterwards. Given back, they
// are taken again before a new chunk is cut.
TEST(NodePool, PiecesAreAlignedApartAndReused)
{
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{8}, std::size_t{24}, std::size_t{56}, std::size_t{100}}) {
        SCOPED_TRACE(size);
        NodePool pool(size);
        std::vector<unsigned char *> pieces;
        for (int i = 0; i < 5000; ++i) {
            auto *piece = static_cast<unsigned char *>(pool.take());
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(piece) % alignof(std::max_align_t), 0u);
            std::memset(piece, i & 0xFF, size);
            pieces.push_back(piece);
        }
        for (std::size_t i = 0; i < pieces.size(); ++i)
            for (std::size_t b = 0; b < size; ++b)
                ASSERT_EQ(pieces[i][b], i & 0xFF) << "piece " << i << " byte " << b;

        const std::set<void *> given(pieces.begin(), pieces.begin() + 100);
        for (void *piece : given)
            pool.give(piece);
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(given.count(pool.take()));
        for (std::size_t i = 100; i < pieces.size(); ++i)
            pool.give(pieces[i]);
    }
}

TEST(NodePool, AMapOfThousandsKeepsItsContent)
{
    std::unordered_map<std::string, int, std::hash<std::string>, std::equal_to<std::string>,
                       NodePool::Allocator<std::pair<const std::string, int>>>
        map;
    for (int i = 0; i < 20000; ++i)
        map.emplace("a fairly long player key " + std::to_string(i), i);
    for (int i = 0; i < 20000; i += 2)
        map.erase("a fairly long player key " + std::to_string(i));
    for (int i = 20000; i < 25000; ++i)
        map.emplace("a fairly long player key " + std::to_string(i), i);
    ASSERT_EQ(map.size(), 15000u);
    for (const auto &[key, value] : map)
        EXPECT_EQ(key, "a fairly long player key " + std::to_string(value));
}

} // namespace
