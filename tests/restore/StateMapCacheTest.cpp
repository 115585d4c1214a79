#include <cstddef>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/EngineMemory.h"
#include "restore/PA_CACHE.h"
#include "restore/STATE_MAP.h"

namespace imbrex::restore {
namespace {

STATE_MAP mapOf(uint32_t blocks, const std::vector<uint32_t> &set)
{
    STATE_MAP map;
    EXPECT_EQ(map.create(blocks), 0);
    std::vector<std::byte> bytes((blocks + 7) / 8);
    for (uint32_t b : set)
        bytes[b / 8] |= std::byte{static_cast<unsigned char>(1u << (b % 8))};
    map.loadBytes(bytes);
    return map;
}

TEST(StateMapTest, SearchesAndCountsAcrossWords)
{
    STATE_MAP map = mapOf(100, {0, 31, 32, 63, 64, 99});
    EXPECT_EQ(map.WordCount(), 100u / 32 + 1);
    EXPECT_TRUE(map.isSet(31));
    EXPECT_FALSE(map.isSet(30));
    EXPECT_FALSE(map.isSet(100));
    EXPECT_FALSE(map.isSet(0xFFFFFFFF));
    EXPECT_EQ(map.NextSet(1), 31u);
    EXPECT_EQ(map.NextSet(33), 63u);
    EXPECT_EQ(map.NextSet(65), 99u);
    EXPECT_EQ(map.NextSet(100), index::kNoBlock);
    EXPECT_EQ(map.LastSetBelow(101), 99u);
    EXPECT_EQ(map.LastSetBelow(99), 64u);
    EXPECT_EQ(map.LastSetBelow(32), 31u);
    EXPECT_EQ(map.LastSetBelow(0), index::kNoBlock);
    EXPECT_EQ(map.CountSet(0, 100), 6u);
    EXPECT_EQ(map.CountSet(1, 64), 3u);
    EXPECT_EQ(map.CountSet(64, 64), 0u);
    EXPECT_EQ(map.CountSet(50, 1000), 3u);
}

TEST(StateMapTest, BitsBeyondTheBlocksNeverCount)
{
    // The store's last byte has bits set past block 9; they must not turn into stored blocks.
    STATE_MAP map;
    ASSERT_EQ(map.create(10), 0);
    std::vector<std::byte> bytes{std::byte{0x00}, std::byte{0xFF}};
    map.loadBytes(bytes);
    EXPECT_TRUE(map.isSet(9));
    EXPECT_FALSE(map.isSet(10));
    EXPECT_EQ(map.NextSet(10), index::kNoBlock);
    EXPECT_EQ(map.LastSetBelow(1000), 9u);
    EXPECT_EQ(mapOf(0, {}).LastSetBelow(1), index::kNoBlock);
}

TEST(StateMapTest, AllocationFailureIsReported)
{
    engine::setMemoryFaultHook([](size_t) { return true; });
    STATE_MAP map;
    EXPECT_EQ(map.create(64), rc::kOutOfMemory);
    engine::setMemoryFaultHook({});
}

class CacheRingTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(ring.create(), 0); }
    PaCacheRing ring;
};

TEST_F(CacheRingTest, NewRingIsEmptyAndLeastRecentlyUsedIsHead)
{
    EXPECT_EQ(ring.size(), 4u);
    EXPECT_EQ(ring.Clock(), 1u);
    bool current = true;
    EXPECT_EQ(ring.lookup(0, &current), nullptr);
    EXPECT_EQ(ring.lookup(0xFFFFFFFE, &current), nullptr);
    EXPECT_EQ(ring.leastRecentlyUsed(), ring.head());
}

TEST_F(CacheRingTest, EvictsTheLeastRecentlyUsedAndKnowsTheCurrentNode)
{
    std::vector<PA_CACHE *> used;
    for (uint32_t i = 0; i < 4; ++i) {
        PA_CACHE *node = ring.leastRecentlyUsed();
        ASSERT_EQ(ring.makeCurrent(node), 0);
        node->firstBlock = node->lastBlock = i;
        used.push_back(node);
    }
    bool current = false;
    EXPECT_EQ(ring.lookup(3, &current), used[3]);
    EXPECT_TRUE(current);
    // A hit on an older node touches it; the head is then no longer current.
    EXPECT_EQ(ring.lookup(0, &current), used[0]);
    EXPECT_FALSE(current);
    EXPECT_FALSE(ring.isCurrent(used[3]));
    EXPECT_EQ(ring.leastRecentlyUsed(), used[1]);
}

TEST_F(CacheRingTest, AMovedStreamLeavesNoNodeCurrentUntilTheNextFill)
{
    PA_CACHE *node = ring.leastRecentlyUsed();
    ASSERT_EQ(ring.makeCurrent(node), 0);
    node->firstBlock = node->lastBlock = 7;
    ring.streamMoved();
    bool current = true;
    EXPECT_EQ(ring.lookup(7, &current), node);
    EXPECT_FALSE(current);
    // The hit touched the head, which must not make it current again.
    EXPECT_FALSE(ring.isCurrent(node));
    ASSERT_EQ(ring.makeCurrent(node), 0);
    EXPECT_TRUE(ring.isCurrent(node));
}

TEST_F(CacheRingTest, ClockRestartKeepsTheRingUsable)
{
    ring.setClock(kClockLimit);
    PA_CACHE *node = ring.leastRecentlyUsed();
    ASSERT_EQ(ring.makeCurrent(node), 0);
    EXPECT_EQ(ring.Clock(), 1u);
    EXPECT_EQ(node->stamp, 1u);
    EXPECT_TRUE(ring.isCurrent(node));
    PA_CACHE *other = ring.leastRecentlyUsed();
    EXPECT_NE(other, node);
    ASSERT_EQ(ring.makeCurrent(other), 0);
    EXPECT_EQ(ring.Clock(), 2u);
}

TEST_F(CacheRingTest, ForeignNodesAndAllocationFailures)
{
    PA_CACHE stranger;
    EXPECT_EQ(ring.touch(&stranger), rc::kNoCacheNode);
    engine::setMemoryFaultHook([](size_t size) { return size == kCacheBufferBytes; });
    EXPECT_EQ(ring.create(), rc::kCacheAllocation);
    engine::setMemoryFaultHook({});
    EXPECT_EQ(ring.size(), 0u);
    EXPECT_EQ(ring.leastRecentlyUsed(), nullptr);
}

} // namespace
} // namespace imbrex::restore
