#include "index/ImageIndex.h"

#include <vector>

#include <gtest/gtest.h>

#include "engine/EngineMemory.h"
#include "tests/support/FakeStore.h"

namespace imbrex::index {
namespace {

// Every block stored except those listed.
class Blocks : public BlockMap
{
public:
    explicit Blocks(std::vector<uint32_t> missing = {}) : m_missing(std::move(missing)) {}
    bool isSet(uint32_t b) const override
    {
        for (uint32_t m : m_missing)
            if (m == b)
                return false;
        return true;
    }
    uint32_t NextSet(uint32_t b) const override
    {
        while (!isSet(b))
            ++b;
        return b;
    }
    uint64_t CountSet(uint32_t from, uint32_t to) const override
    {
        uint64_t n = 0;
        for (uint32_t b = from; b < to; ++b)
            n += isSet(b) ? 1u : 0u;
        return n;
    }

private:
    std::vector<uint32_t> m_missing;
};

struct Sized
{
    test::FakeStore store;
    ImageIndex index;
};

void size(Sized &s, uint32_t lastUsedBlock, uint32_t blockBytes, uint32_t compression, uint32_t stateSize = 0)
{
    test::FakePartition p;
    p.decoderStateSize = stateSize;
    s.store.partitions.push_back(p);
    ASSERT_EQ(s.store.SelectPartition(1, 0), 0);
    s.index.compressionType = compression;
    s.index.lastUsedBlock = lastUsedBlock;
    s.index.blockBytes = blockBytes;
    ASSERT_EQ(s.index.allocateFor(s.store), 0);
}

TEST(ImageIndexSizingTest, CheckpointSpacingFollowsTheBlockSize)
{
    Sized big;
    size(big, 99, 65536, 208);
    EXPECT_EQ(big.index.groupShift, 0u);
    EXPECT_EQ(big.index.capacity(), 101u);

    Sized small;
    size(small, 999, 4096, 208, 24);
    EXPECT_EQ(small.index.groupShift, 4u);
    EXPECT_EQ(small.index.groupMask, 15u);
    EXPECT_EQ(small.index.capacity(), 1000u / 16 + 1);
    EXPECT_EQ(small.index.entryBytes(), 16u + 24u);
    EXPECT_EQ(small.store.callsStartingWith("SaveDecoderState").size(), 1u);

    Sized plain;
    size(plain, 999, 4096, 0);
    EXPECT_EQ(plain.index.groupShift, 0u);
    EXPECT_EQ(plain.index.capacity(), 1000u);
}

TEST(ImageIndexSizingTest, LargePartitionsStayWithinTheBoundAndTheirLastEntryFits)
{
    Sized s;
    size(s, 1u << 20, 4096, 0);
    EXPECT_EQ(s.index.capacity(), kMaxIndexBytes / 8);
    // (1 << 20) >> 1 is exactly the capacity: the spacing must widen once more for that entry to fit.
    EXPECT_EQ(s.index.groupShift, 2u);
    Blocks all;
    EXPECT_EQ(s.index.skipLookup(1u << 20, all), uint64_t{1u << 20} * 4096);
    EXPECT_EQ(s.index.lastIndexEntry, (1u << 20) >> 2);
    EXPECT_LT(s.index.lastIndexEntry, s.index.capacity());
}

TEST(ImageIndexSizingTest, SpannedImagesBuildTheirSpanTableFirst)
{
    Sized s;
    s.index.spanned = true;
    s.store.buildSpanTableError = 1812;
    test::FakePartition p;
    s.store.partitions.push_back(p);
    ASSERT_EQ(s.store.SelectPartition(1, 0), 0);
    s.index.lastUsedBlock = 10;
    s.index.blockBytes = 4096;
    EXPECT_EQ(s.index.allocateFor(s.store), 1812);
    EXPECT_FALSE(s.index.allocated());
}

TEST(ImageIndexSkipTest, StoresOneEntryPerGroupBoundaryAndStartsFromIt)
{
    Sized s;
    size(s, 1u << 20, 4096, 0);
    ASSERT_EQ(s.index.groupShift, 2u);
    Blocks map({1, 6});
    EXPECT_EQ(s.index.skipLookup(10, map), 8u * 4096);
    EXPECT_EQ(s.index.lastIndexEntry, 2u);
    EXPECT_EQ(s.index.positions()[1], 3u * 4096);
    EXPECT_EQ(s.index.positions()[2], 6u * 4096);
    // Within a stored group: nothing new is stored, the walk starts at the group's entry.
    EXPECT_EQ(s.index.skipLookup(7, map), 5u * 4096);
    EXPECT_EQ(s.index.lastIndexEntry, 2u);
    EXPECT_EQ(s.index.skipLookup(12, map), 10u * 4096);
    EXPECT_EQ(s.index.lastIndexEntry, 3u);
}

TEST(ImageIndexCheckpointTest, ChoiceSkipsDuplicatedEntriesAndAppendsStopAtCapacity)
{
    Sized s;
    size(s, 63, 4096, 208);
    ASSERT_EQ(s.index.capacity(), 5u);
    // A chunk that jumps from group 0 into group 3 leaves copies of entry 0 for groups 1 and 2.
    ASSERT_EQ(s.index.extend(50, 100, 200000, s.store), 0);
    EXPECT_EQ(s.index.lastIndexEntry, 3u);
    EXPECT_EQ(s.index.at(1).position, 0u);
    EXPECT_EQ(s.index.at(3).firstBlock, 50u);
    EXPECT_EQ(s.index.chooseCheckpoint(20), 2u);
    EXPECT_EQ(s.index.at(s.index.chooseCheckpoint(20)).firstBlock, 0u);
    EXPECT_EQ(s.index.chooseCheckpoint(55), 3u);
    ASSERT_EQ(s.index.extend(200, 0, 400000, s.store), 0);
    EXPECT_EQ(s.index.lastIndexEntry, 4u) << "no entry beyond the capacity";
}

} // namespace
} // namespace imbrex::index
