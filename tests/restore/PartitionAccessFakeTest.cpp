// The partition access over the fake store: the open sequence and its refusals, reads of plain partitions,
// and the compressed paths our own store never takes (tail bytes, decoder states, failures in the middle of
// a fill, a cancelled progress).
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeVolume.h"
#include "common/ResultCodes.h"
#include "engine/EngineMemory.h"
#include "engine/SectorSource.h"
#include "restore/PARTITION_ACCESS.h"

namespace imbrex::restore {
namespace {

using test::FakeStore;
using test::FakeVolume;
using test::FakeVolumeSpec;

class FakeAccess
{
public:
    explicit FakeAccess(const FakeVolumeSpec &spec) : volume(test::makeFakeVolume(spec))
    {
        store.partitions.push_back(volume.partition);
        store.imageId = 0x1234;
        EXPECT_EQ(store.SelectPartition(1, 0), 0);
    }
    int open() { return access.OpenSectors(&store, ""); }
    // Reads and compares with the raw volume; returns the read's code.
    int readAndCompare(uint32_t sector, uint32_t count)
    {
        std::vector<uint8_t> got(size_t{count} * 512, 0xEE);
        int e = access.ReadSectors(sector, got.data(), count);
        if (e == 0) {
            EXPECT_TRUE(std::equal(got.begin(), got.end(), volume.raw.begin() + size_t{sector} * 512))
                << "sectors " << sector << " + " << count;
        }
        return e;
    }
    bool stored(uint32_t block) const { return access.StateMap().isSet(block); }
    size_t calls(const std::string &prefix) const { return store.callsStartingWith(prefix).size(); }

    FakeVolume volume;
    FakeStore store;
    PARTITION_ACCESS access;
};

std::vector<bool> withGaps(uint32_t blocks)
{
    std::vector<bool> stored(blocks, true);
    for (uint32_t b = 0; b < blocks; ++b)
        if (b % 7 == 3 || (b >= 40 && b < 47))
            stored[b] = false;
    return stored;
}

class RecordingProgress : public index::IndexProgress
{
public:
    int ExtendIndexProgress(uint32_t start, uint32_t target, uint32_t current) override
    {
        reports.push_back({start, target, current});
        return cancelAt == reports.size() ? rc::kDialogCancelled : 0;
    }
    void CloseIndexProgress() override { ++closes; }
    struct Report
    {
        uint32_t start, target, current;
    };
    std::vector<Report> reports;
    size_t cancelAt = 0;
    int closes = 0;
};

TEST(PartitionAccessOpenTest, FollowsTheOpenSequenceAndBecomesTheSectorSource)
{
    FakeAccess fa({.blockCount = 16, .compression = 301});
    ASSERT_EQ(fa.open(), 0);
    EXPECT_EQ(engine::currentSectorSource(), &fa.access);
    std::vector<std::string> order;
    for (const std::string &call : fa.store.calls)
        if (call.rfind("SelectPartition", 0) != 0)
            order.push_back(call.substr(0, call.find('(')));
    std::vector<std::string> expected{"ResetStream",      "IsSpanned",          "GetCompression",
                                      "GetBlockCount",    "GetSectorsPerBlock", "GetSectorSize",
                                      "ReadBlockBitmap",  "GetSectorCount",     "GetFileSystemType",
                                      "GetLastUsedBlock", "GetDecoderStateSize"};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(fa.store.calls[7], "ReadBlockBitmap(2)");
    EXPECT_EQ(fa.access.Flags(), kFlagCompressed);
    EXPECT_EQ(fa.access.PartitionInfo()->openFlags, 0x281u);
    EXPECT_EQ(fa.access.PartitionInfo()->sectorCount, 128u);
    fa.access.Destroy();
    EXPECT_EQ(engine::currentSectorSource(), nullptr);
}

TEST(PartitionAccessOpenTest, ChoosesTheReaderByFileSystemCode)
{
    // Code 15 is FAT32 and gets the FAT reader, which refuses the pattern bytes as a boot sector.
    FakeAccess fat32({.blockCount = 16, .fileSystemType = 15});
    EXPECT_EQ(fat32.access.Open(&fat32.store, ""), rc::kBadBootSignature);
    EXPECT_EQ(fat32.access.IsFatVolume(), 1);
    EXPECT_EQ(fat32.access.FileSystemCode(), 1);
    FakeAccess other({.blockCount = 16, .fileSystemType = 7});
    EXPECT_EQ(other.access.Open(&other.store, ""), rc::kUnsupportedFileSystem);
    EXPECT_EQ(other.access.IsFatVolume(), 0);
}

TEST(PartitionAccessOpenTest, RefusesLegacyCompressionAndBadGeometry)
{
    for (uint32_t type : {1u, 8u}) {
        FakeAccess fa({.blockCount = 16, .compression = type});
        EXPECT_EQ(fa.open(), rc::kLegacyCompression) << type;
    }
    for (uint32_t type : {9u, 100u, 208u}) {
        FakeAccess fa({.blockCount = 16, .compression = type});
        ASSERT_EQ(fa.open(), 0) << type;
        EXPECT_TRUE(fa.access.Flags() & kFlagCompressed);
        EXPECT_EQ(fa.readAndCompare(17, 20), 0);
    }
    FakeAccess zeroBlocks({.blockCount = 16});
    zeroBlocks.store.partitions[0].sectorsPerBlock = 0;
    EXPECT_EQ(zeroBlocks.open(), rc::kBadGeometry);
    FakeAccess bigSectors({.blockCount = 16});
    bigSectors.store.partitions[0].sectorSize = 4096;
    EXPECT_EQ(bigSectors.open(), rc::kBadGeometry);
}

TEST(PartitionAccessOpenTest, BitmapAndMemoryFailures)
{
    FakeAccess shortBitmap({.blockCount = 20});
    shortBitmap.store.partitions[0].bitmap.resize(2);
    EXPECT_EQ(shortBitmap.open(), rc::kBitmapSizeMismatch);

    FakeAccess noMap({.blockCount = 20});
    engine::setMemoryFaultHook([](size_t size) { return size == (20 / 32 + 1) * 4; });
    EXPECT_EQ(noMap.open(), rc::kOutOfMemory);
    FakeAccess noCache({.blockCount = 20, .compression = 208});
    engine::setMemoryFaultHook([](size_t size) { return size == kCacheBufferBytes; });
    EXPECT_EQ(noCache.open(), rc::kCacheAllocation);
    FakeAccess noIndex({.blockCount = 20});
    engine::setMemoryFaultHook([](size_t size) { return size == 20 * 8; });
    EXPECT_EQ(noIndex.open(), 0) << "a halved index still opens";
    EXPECT_EQ(noIndex.readAndCompare(150, 10), 0);
    engine::setMemoryFaultHook([](size_t size) { return size <= 20 * 8 && size % 8 == 0 && size >= 8; });
    FakeAccess noIndexAtAll({.blockCount = 20});
    EXPECT_EQ(noIndexAtAll.open(), rc::kOutOfMemory);
    engine::setMemoryFaultHook({});
}

TEST(PartitionAccessOpenTest, LastUsedBlockComesFromTheBitmapWhenTheStoreHasNone)
{
    FakeAccess fa({.blockCount = 40, .stored = withGaps(40)});
    fa.store.partitions[0].lastUsedBlock = 0;
    ASSERT_EQ(fa.open(), 0);
    EXPECT_EQ(fa.access.LastUsedBlock(), 39u);
    FakeAccess bogus({.blockCount = 40});
    bogus.store.partitions[0].lastUsedBlock = 1000;
    ASSERT_EQ(bogus.open(), 0);
    EXPECT_EQ(bogus.access.LastUsedBlock(), 39u);
}

TEST(PartitionAccessPlainTest, ReadsSeekToTheBlockAndSector)
{
    FakeAccess fa({.blockCount = 32});
    ASSERT_EQ(fa.open(), 0);
    fa.store.calls.clear();
    EXPECT_EQ(fa.readAndCompare(0, 1), 0);
    EXPECT_EQ(fa.store.calls[0], "SeekData(0)");
    fa.store.calls.clear();
    EXPECT_EQ(fa.readAndCompare(13, 2), 0);
    EXPECT_EQ(fa.store.calls[0], "SeekData(" + std::to_string(4096 + 5 * 512) + ")");
    EXPECT_EQ(fa.store.calls[1], "ReadData(1024)");
}

TEST(PartitionAccessPlainTest, UnstoredAndBeyondTheLastBlockChangeNothing)
{
    for (uint32_t compression : {0u, 301u}) {
        FakeAccess fa({.blockCount = 64, .stored = withGaps(64), .compression = compression});
        ASSERT_EQ(fa.open(), 0);
        fa.store.calls.clear();
        std::vector<uint8_t> buffer(512, 0x5A);
        EXPECT_EQ(fa.access.ReadSectors(3 * 8 + 1, buffer.data(), 1), rc::kBlockNotStored);
        EXPECT_EQ(fa.access.ReadSectors(64 * 8, buffer.data(), 1), rc::kBeyondEnd);
        EXPECT_TRUE(fa.store.calls.empty());
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }));
        EXPECT_EQ(fa.readAndCompare(63 * 8 + 7, 1), 0);
    }
    FakeAccess shorter({.blockCount = 64});
    shorter.store.partitions[0].lastUsedBlock = 50;
    ASSERT_EQ(shorter.open(), 0);
    EXPECT_EQ(shorter.readAndCompare(50 * 8, 8), 0);
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(shorter.access.ReadSectors(51 * 8, buffer.data(), 1), rc::kBeyondEnd);
}

TEST(PartitionAccessPlainTest, SkipTableGrowsByGroupsAndShortReadsFail)
{
    FakeAccess fa({.blockCount = 64, .stored = withGaps(64)});
    ASSERT_EQ(fa.open(), 0);
    EXPECT_EQ(fa.access.Index().lastIndexEntry, 0u);
    EXPECT_EQ(fa.readAndCompare(60 * 8, 8), 0);
    EXPECT_EQ(fa.access.Index().lastIndexEntry, 60u);
    EXPECT_EQ(fa.readAndCompare(11 * 8, 8), 0);
    // The store hands out fewer bytes than the stored blocks promise: an error, not a half-filled buffer.
    fa.store.partitions[0].stream.resize(fa.store.partitions[0].stream.size() - 100);
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(fa.access.ReadSectors(63 * 8, buffer.data(), 8), rc::kStreamEnded);
}

struct CompressedCase
{
    uint32_t sectorsPerBlock;
    uint32_t tailBytes;
    uint32_t decoderStateSize;
};

class CompressedReadTest : public ::testing::TestWithParam<CompressedCase>
{
};

TEST_P(CompressedReadTest, RandomReadsMatchTheRawVolume)
{
    const CompressedCase c = GetParam();
    const uint32_t blocks = 1600 / c.sectorsPerBlock * 8;
    FakeAccess fa({.blockCount = blocks,
                   .sectorsPerBlock = c.sectorsPerBlock,
                   .stored = withGaps(blocks),
                   .compression = 208,
                   .tailBytes = c.tailBytes,
                   .decoderStateSize = c.decoderStateSize});
    fa.store.recordCalls = false;
    ASSERT_EQ(fa.open(), 0);
    std::mt19937 rng(c.sectorsPerBlock * 100 + c.tailBytes + c.decoderStateSize);
    auto stored = [&](uint32_t b) { return fa.stored(b); };
    for (int i = 0; i < 1500; ++i) {
        test::RandomRead r = test::randomRead(rng, blocks, c.sectorsPerBlock, stored);
        ASSERT_EQ(fa.readAndCompare(r.sector, r.count), 0) << i;
    }
    if (c.tailBytes) {
        EXPECT_EQ(fa.store.lastTailShortfall, c.tailBytes < 4 ? 4 - c.tailBytes : 0);
    }
    EXPECT_LT(fa.access.Index().lastIndexEntry, fa.access.Index().capacity());
}

INSTANTIATE_TEST_SUITE_P(Streams, CompressedReadTest,
                         ::testing::Values(CompressedCase{8, 0, 0}, CompressedCase{1, 0, 0},
                                           CompressedCase{8, 3, 0}, CompressedCase{1, 3, 16},
                                           CompressedCase{8, 0, 16}, CompressedCase{256, 5, 0},
                                           CompressedCase{256, 0, 16}),
                         [](const auto &test) {
                             return "spb" + std::to_string(test.param.sectorsPerBlock) + "_tail" +
                                    std::to_string(test.param.tailBytes) + "_state" +
                                    std::to_string(test.param.decoderStateSize);
                         });

TEST(CompressedCacheTest, ReadRunningPastItsBufferContinuesWithoutSeekingBack)
{
    FakeAccess fa({.blockCount = 64, .compression = 208});
    ASSERT_EQ(fa.open(), 0);
    fa.store.calls.clear();
    // Blocks 15 and 16: the chunk boundary lies between them.
    EXPECT_EQ(fa.readAndCompare(15 * 8 + 4, 8), 0);
    EXPECT_EQ(fa.calls("SeekData"), 1u);
    EXPECT_EQ(fa.calls("ReadData"), 2u);
    // The next chunk went into the same node, so it is cached now.
    fa.store.calls.clear();
    EXPECT_EQ(fa.readAndCompare(16 * 8, 16), 0);
    EXPECT_EQ(fa.calls("ReadData"), 0u);
}

TEST(CompressedCacheTest, BlockBeginningInTheLastBytesOfABuffer)
{
    // Chunks of 65539 bytes and 512-byte blocks: block 128 begins 3 bytes before the end of chunk 0.
    FakeAccess fa({.blockCount = 512, .sectorsPerBlock = 1, .compression = 208, .tailBytes = 3});
    ASSERT_EQ(fa.open(), 0);
    EXPECT_EQ(fa.readAndCompare(128, 1), 0);
    EXPECT_EQ(fa.store.lastTailShortfall, 1u);
    EXPECT_EQ(fa.readAndCompare(127, 3), 0);
    fa.access.Destroy();
    // Fresh, reading the sector after it first, then the one that straddles.
    FakeAccess again({.blockCount = 512, .sectorsPerBlock = 1, .compression = 208, .tailBytes = 3});
    ASSERT_EQ(again.open(), 0);
    EXPECT_EQ(again.readAndCompare(129, 1), 0);
    EXPECT_EQ(again.readAndCompare(128, 1), 0);
}

TEST(CompressedCacheTest, FifthBufferEvictsTheLeastRecentlyUsed)
{
    FakeAccess fa({.blockCount = 128, .compression = 208});
    ASSERT_EQ(fa.open(), 0);
    for (uint32_t chunk = 0; chunk < 5; ++chunk)
        ASSERT_EQ(fa.readAndCompare(chunk * 128, 1), 0);
    fa.store.calls.clear();
    EXPECT_EQ(fa.readAndCompare(4 * 128 + 8, 1), 0);
    EXPECT_EQ(fa.readAndCompare(1 * 128, 1), 0);
    EXPECT_EQ(fa.calls("ReadData"), 0u) << "chunks 1 to 4 are still cached";
    EXPECT_EQ(fa.readAndCompare(0, 1), 0);
    EXPECT_EQ(fa.calls("SeekData(0)"), 1u) << "chunk 0 was evicted";
}

TEST(CompressedCacheTest, ClockRestartDuringReads)
{
    FakeAccess fa({.blockCount = 256, .compression = 208});
    ASSERT_EQ(fa.open(), 0);
    paCacheRing().setClock(kClockLimit - 3);
    std::mt19937 rng(5);
    auto stored = [&](uint32_t b) { return fa.stored(b); };
    for (int i = 0; i < 200; ++i) {
        test::RandomRead r = test::randomRead(rng, 256, 8, stored);
        ASSERT_EQ(fa.readAndCompare(r.sector, r.count), 0);
    }
    EXPECT_LT(paCacheRing().Clock(), 1000u);
}

TEST(CompressedCacheTest, StoreFailureInTheMiddleOfAFillIsNeverServedLater)
{
    for (const char *operation : {"ReadData", "GetTailByteCount", "SetTailShortfall"}) {
        FakeAccess fa({.blockCount = 64, .compression = 208, .tailBytes = 2, .decoderStateSize = 16});
        ASSERT_EQ(fa.open(), 0);
        fa.store.faults.push_back({operation, 2, rc::kDataDamaged});
        std::vector<uint8_t> buffer(16 * 512);
        // The read straddles chunk 0 and chunk 1: the failure hits the second fill.
        EXPECT_EQ(fa.access.ReadSectors(15 * 8 + 4, buffer.data(), 8), rc::kDataDamaged) << operation;
        EXPECT_EQ(fa.readAndCompare(15 * 8 + 4, 8), 0) << operation;
        EXPECT_EQ(fa.readAndCompare(16 * 8, 16), 0) << operation;
        EXPECT_EQ(fa.readAndCompare(0, 8), 0) << operation;
    }
    FakeAccess resume({.blockCount = 64, .compression = 208, .decoderStateSize = 16});
    ASSERT_EQ(resume.open(), 0);
    resume.store.faults.push_back({"RestoreDecoderState", 1, rc::kIoError});
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(resume.access.ReadSectors(40 * 8, buffer.data(), 1), rc::kIoError);
    EXPECT_EQ(resume.readAndCompare(40 * 8, 1), 0);
}

TEST(CompressedIndexTest, ProgressWhileExtendingAndCancel)
{
    FakeAccess fa({.blockCount = 2048, .compression = 208, .decoderStateSize = 16});
    fa.store.recordCalls = false;
    ASSERT_EQ(fa.open(), 0);
    RecordingProgress progress;
    progress.cancelAt = 3;
    fa.access.SetIndexProgress(&progress);
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(fa.access.ReadSectors(2047 * 8, buffer.data(), 1), rc::kCancelled);
    EXPECT_EQ(progress.reports.size(), 3u);
    EXPECT_EQ(progress.closes, 1);
    const uint32_t kept = fa.access.Index().lastIndexEntry;
    EXPECT_GT(kept, 0u);

    // Going on resumes from the last checkpoint, reports at most about once a percent and closes once.
    progress = RecordingProgress();
    EXPECT_EQ(fa.readAndCompare(2047 * 8, 8), 0);
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_LE(progress.reports.size(), 101u);
    EXPECT_EQ(progress.reports.front().target, 2047u);
    EXPECT_GT(progress.reports.front().start, 0u);
    EXPECT_EQ(progress.closes, 1);
    EXPECT_EQ(fa.access.Index().lastIndexEntry, 2047u / 16 + 1);

    // With the index complete, earlier reads resume close by and show nothing.
    progress = RecordingProgress();
    EXPECT_EQ(fa.readAndCompare(1000 * 8, 8), 0);
    EXPECT_TRUE(progress.reports.empty());
    EXPECT_EQ(progress.closes, 0);
    EXPECT_EQ(index::extendIndexPercent(5, 5, 5), 0);
    EXPECT_EQ(index::extendIndexPercent(5, 5, 6), 100);
    EXPECT_EQ(index::extendIndexPercent(0, 300, 1), 1);
}

TEST(CompressedIndexTest, HalvedIndexNeverWritesPastItsEntries)
{
    // 512-byte blocks: one checkpoint per 128 blocks, 33 entries for 4096 blocks. The first allocation
    // fails, so only 16 entries remain: the spacing must widen, or the walk would write past them.
    FakeAccess fa({.blockCount = 4096, .sectorsPerBlock = 1, .compression = 208, .decoderStateSize = 8});
    fa.store.recordCalls = false;
    const size_t full = 33 * (16 + 8);
    engine::setMemoryFaultHook([full](size_t size) { return size == full; });
    ASSERT_EQ(fa.open(), 0);
    engine::setMemoryFaultHook({});
    EXPECT_EQ(fa.access.Index().capacity(), 16u);
    EXPECT_EQ(fa.access.Index().groupShift, 8u);
    EXPECT_EQ(fa.readAndCompare(4095, 1), 0);
    EXPECT_LT(fa.access.Index().lastIndexEntry, 16u);
    std::mt19937 rng(11);
    auto stored = [&](uint32_t b) { return fa.stored(b); };
    for (int i = 0; i < 300; ++i) {
        test::RandomRead r = test::randomRead(rng, 4096, 1, stored);
        ASSERT_EQ(fa.readAndCompare(r.sector, r.count), 0);
    }
}

TEST(CompressedIndexTest, WalkPastTheStreamEndFails)
{
    // The bitmap promises more blocks than the stream holds.
    FakeAccess fa({.blockCount = 64, .compression = 208});
    fa.store.partitions[0].stream.resize(20 * 4096);
    ASSERT_EQ(fa.open(), 0);
    std::vector<uint8_t> buffer(512);
    EXPECT_EQ(fa.access.ReadSectors(40 * 8, buffer.data(), 1), rc::kStreamEnded);
    EXPECT_EQ(fa.readAndCompare(8, 1), 0);
}

TEST(FileOperationsTest, WithoutAVolumeEveryOperationRefuses)
{
    FakeAccess fa({.blockCount = 16, .fileSystemType = 7});
    ASSERT_EQ(fa.open(), 0);
    int kind = 0;
    EXPECT_EQ(fa.access.OpenFile("\\A.TXT", &kind), rc::kNoVolumeOpen);
    EXPECT_EQ(fa.access.ListDirectoryFrom("\\"), rc::kNoVolumeOpen);
    uint8_t raw[32] = {};
    EXPECT_EQ(fa.access.OpenEntry(raw), rc::kNoVolumeOpen);
    EXPECT_EQ(fa.access.GetFileSize(), 0u);
    EXPECT_EQ(fa.access.ReadFile(raw, 1), rc::kNoVolumeOpen);
    EXPECT_EQ(fa.access.CloseFile(), 0);
    EXPECT_EQ(fa.access.GetDirList(), nullptr);
}

} // namespace
} // namespace imbrex::restore
