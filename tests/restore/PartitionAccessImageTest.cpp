// The partition access over our own image store: real FAT and NTFS volumes imported plain, Low, High and into
// split sets, read back sector for sector, with and without a saved index.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeVolume.h"
#include "capture/RawVolume.h"
#include "common/ByteOrder.h"
#include "common/Progress.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "restore/PARTITION_ACCESS.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace imbrex::restore {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSplitSize = 10000000;

Bytes readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ImageStorePtr openImage(const std::string &path)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
    EXPECT_TRUE(store) << error;
    if (store) {
        EXPECT_EQ(store->SelectPartition(1, 0), 0);
    }
    return store;
}

// Random reads of 1 to 128 sectors inside stored runs, compared with the raw volume.
void expectRandomReadsMatch(PARTITION_ACCESS &access, const Bytes &raw, uint32_t seed, int reads)
{
    std::mt19937 rng(seed);
    const uint32_t spb = access.SectorsPerBlock();
    const uint32_t blocks = static_cast<uint32_t>(raw.size() / 512 / spb);
    auto stored = [&](uint32_t b) { return access.StateMap().isSet(b); };
    Bytes got;
    for (int i = 0; i < reads; ++i) {
        test::RandomRead r = test::randomRead(rng, blocks, spb, stored);
        got.assign(size_t{r.count} * 512, 0);
        ASSERT_EQ(access.ReadSectors(r.sector, got.data(), r.count), 0) << r.sector << " + " << r.count;
        ASSERT_TRUE(std::equal(got.begin(), got.end(), raw.begin() + size_t{r.sector} * 512))
            << r.sector << " + " << r.count;
    }
}

// A file reader's pattern: a run of consecutive reads of up to 256 sectors going forward, each followed by a
// short read somewhere else (a table or a directory), so the forward run keeps crossing cache buffers that
// the short reads have moved the stream away from.
void expectInterleavedReadsMatch(PARTITION_ACCESS &access, const Bytes &raw, uint32_t seed, int runs)
{
    std::mt19937 rng(seed);
    const uint32_t spb = access.SectorsPerBlock();
    const uint32_t blocks = static_cast<uint32_t>(raw.size() / 512 / spb);
    auto stored = [&](uint32_t b) { return access.StateMap().isSet(b); };
    auto expectRead = [&](uint32_t sector, uint32_t count) {
        Bytes got(size_t{count} * 512, 0);
        ASSERT_EQ(access.ReadSectors(sector, got.data(), count), 0) << sector << " + " << count;
        ASSERT_TRUE(std::equal(got.begin(), got.end(), raw.begin() + size_t{sector} * 512))
            << sector << " + " << count;
    };
    for (int i = 0; i < runs; ++i) {
        test::RandomRead forward = test::randomRead(rng, blocks, spb, stored, 2048);
        for (uint32_t done = 0; done < forward.count;) {
            const uint32_t step =
                std::min(forward.count - done, std::uniform_int_distribution<uint32_t>(1, 256)(rng));
            ASSERT_NO_FATAL_FAILURE(expectRead(forward.sector + done, step));
            done += step;
            const test::RandomRead aside = test::randomRead(rng, blocks, spb, stored, 8);
            ASSERT_NO_FATAL_FAILURE(expectRead(aside.sector, aside.count));
        }
    }
}

void writeImage(const std::string &image, const test::PartitionSpec &spec)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(image.c_str(), kNoSplit, 0, 0, nullptr, &error));
    ASSERT_TRUE(store) << error;
    ASSERT_EQ(test::addPartition(*store, spec), 0);
}

struct VolumeCase
{
    const char *volume;
    uint32_t compression;
    bool split;
};

class RealVolumeTest : public ::testing::TestWithParam<VolumeCase>
{
};

// A file is open when the volume is mounted again: the new volume starts without it, and its files read
// the same as before.
void expectRemountWithAFileOpenReadsAgain(PARTITION_ACCESS &access)
{
    const engine::DIRLIST &list = *access.GetDirList();
    const engine::DirListEntry *file = nullptr;
    for (int i = 0; i < list.GetCount() && file == nullptr; ++i)
        if (const engine::DirListEntry *entry = list.Entry(i);
            entry && (entry->attributes & 0x18) == 0 && entry->size > 0 && entry->size < 65536)
            file = entry;
    ASSERT_NE(file, nullptr);
    const std::string path = "\\" + file->name;
    auto readWhole = [&](Bytes &out) {
        int kind = 0;
        ASSERT_EQ(access.OpenFile(path, &kind), 0) << path;
        EXPECT_EQ(kind, kFileKindSingleStream);
        out.assign(access.GetFileSize64(), 0);
        ASSERT_EQ(access.ReadFile(out.data(), static_cast<uint32_t>(out.size())), 0);
    };
    Bytes before;
    readWhole(before);
    ASSERT_EQ(access.MountVolume(), 0);
    EXPECT_EQ(access.GetFileSize64(), 0u);
    EXPECT_EQ(access.ReadFile(before.data(), 1), rc::kNoVolumeOpen);
    Bytes after;
    readWhole(after);
    EXPECT_EQ(before, after);
    EXPECT_EQ(access.CloseFile(), 0);
    ASSERT_EQ(access.ListDirectoryFrom("\\"), 0);
}

TEST_P(RealVolumeTest, SectorsMatchTheRawVolumeWithAndWithoutASavedIndex)
{
    const VolumeCase c = GetParam();
    const std::filesystem::path rawPath = test::fixtureDir() / c.volume;
    const Bytes raw = readFile(rawPath);
    ASSERT_FALSE(raw.empty()) << rawPath;
    test::TempDir dir;
    const std::string image = dir.file("image.zbi");
    {
        uint32_t error = 0;
        ImageStorePtr store(
            ImageStoreCreateNew(image.c_str(), c.split ? kSplitSize : kNoSplit, 0, 0, nullptr, &error));
        ASSERT_TRUE(store) << error;
        capture::ImportOptions options;
        options.compression = c.compression;
        NoProgress progress;
        ASSERT_EQ(capture::importPartition(*store, rawPath.string(), options, progress), 0);
        ASSERT_EQ(store->Close(), 0);
    }
    const std::string index = dir.file("image.zbx");

    ImageStorePtr store = openImage(image);
    ASSERT_TRUE(store);
    PARTITION_ACCESS access;
    ASSERT_EQ(access.OpenSectors(store.get(), ""), 0);
    if (c.compression != 0) {
        // Reading the last stored sector walks the whole stream, passing over what it does not need.
        // Every checkpoint must then name where its block really begins: in our stream a block begins
        // after all the stored blocks before it.
        const uint32_t last = access.LastUsedBlock();
        const uint32_t spb = access.SectorsPerBlock();
        Bytes sector(512);
        ASSERT_EQ(access.ReadSectors(last * spb, sector.data(), 1), 0);
        const auto at = static_cast<std::ptrdiff_t>(size_t{last} * spb * 512);
        ASSERT_TRUE(std::equal(sector.begin(), sector.end(), raw.begin() + at));
        const index::ImageIndex &built = access.Index();
        for (uint32_t i = 0; i <= built.lastIndexEntry; ++i) {
            const index::Checkpoint point = built.at(i);
            EXPECT_EQ(point.position + point.blockOffset,
                      access.StateMap().CountSet(0, point.firstBlock) * spb * 512)
                << "checkpoint " << i;
        }
    }
    ASSERT_EQ(access.MountVolume(), 0);
    ASSERT_EQ(access.ListDirectoryFrom("\\"), 0);
    EXPECT_GT(access.GetDirList()->GetCount(), 0);
    expectRemountWithAFileOpenReadsAgain(access);

    EXPECT_EQ((access.Flags() & kFlagSpanned) != 0, c.split);
    EXPECT_EQ((access.Flags() & kFlagCompressed) != 0, c.compression != 0);
    expectRandomReadsMatch(access, raw, 1, 1000);
    expectInterleavedReadsMatch(access, raw, 4, 100);

    if (c.compression == 0 && !c.split) {
        EXPECT_TRUE(access.CheckIndexFile(""));
        return;
    }
    EXPECT_FALSE(access.CheckIndexFile(index));
    ASSERT_EQ(access.WriteIndexFile(index), 0);
    EXPECT_TRUE(access.CheckIndexFile(index));
    access.Destroy();
    store = openImage(image);
    ASSERT_EQ(access.OpenSectors(store.get(), index), 0);
    if (c.compression != 0) {
        EXPECT_GT(access.Index().lastIndexEntry, 0u);
    }
    expectRandomReadsMatch(access, raw, 2, 1000);
    expectInterleavedReadsMatch(access, raw, 5, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, RealVolumeTest,
    ::testing::Values(VolumeCase{"fat12.img", 0, false}, VolumeCase{"fat12.img", 301, false},
                      VolumeCase{"fat12.img", 208, false}, VolumeCase{"fat16.img", 0, true},
                      VolumeCase{"fat16.img", 208, true}, VolumeCase{"fat32.img", 301, false},
                      VolumeCase{"ntfs.img", 208, false}, VolumeCase{"ntfs.img", 301, true}),
    [](const auto &test) {
        std::string name = test.param.volume;
        name = name.substr(0, name.find('.'));
        return name + "_" + std::to_string(test.param.compression) + (test.param.split ? "_split" : "");
    });

TEST(StoredBlocksTest, UnstoredBlocksAndTheEndOnACompressedImage)
{
    test::TempDir dir;
    const std::string image = dir.file("gaps.zbi");
    test::PartitionSpec spec;
    spec.sectorCount = 8 * 200;
    spec.compression = 208;
    spec.compressible = true;
    spec.storedBlocks.assign(200, true);
    for (uint32_t b = 0; b < 200; ++b)
        if (b % 5 == 2 || b >= 190)
            spec.storedBlocks[b] = false;
    ASSERT_NO_FATAL_FAILURE(writeImage(image, spec));
    const Bytes raw = test::volumeBytes(spec);
    ImageStorePtr store = openImage(image);
    PARTITION_ACCESS access;
    ASSERT_EQ(access.OpenSectors(store.get(), ""), 0);
    EXPECT_EQ(access.LastUsedBlock(), 189u);
    Bytes buffer(512, 0x33);
    EXPECT_EQ(access.ReadSectors(2 * 8, buffer.data(), 1), rc::kBlockNotStored);
    EXPECT_EQ(access.ReadSectors(190 * 8, buffer.data(), 1), rc::kBeyondEnd);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x33; }));
    expectRandomReadsMatch(access, raw, 3, 1000);
    expectInterleavedReadsMatch(access, raw, 6, 100);
}

TEST(StoredBlocksTest, ReadsGoOnRightAfterTheStreamIsReset)
{
    test::TempDir dir;
    const std::string image = dir.file("reset.zbi");
    test::PartitionSpec spec;
    spec.sectorCount = 8 * 400;
    spec.compression = 301;
    spec.compressible = true;
    spec.storedBlocks.assign(400, true);
    ASSERT_NO_FATAL_FAILURE(writeImage(image, spec));
    const Bytes raw = test::volumeBytes(spec);
    ImageStorePtr store = openImage(image);
    PARTITION_ACCESS access;
    ASSERT_EQ(access.OpenSectors(store.get(), ""), 0);
    // The first read leaves the stream right behind the buffer it decoded; after the reset a read that runs
    // on past that buffer must not take the stream's start for what follows it.
    Bytes got(512 * 512, 0);
    ASSERT_EQ(access.ReadSectors(0, got.data(), 64), 0);
    ASSERT_EQ(access.ResetStream(), 0);
    ASSERT_EQ(access.ReadSectors(64, got.data(), 512), 0);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), raw.begin() + 64 * 512));
}

TEST(StoredBlocksTest, ARangeWithAMissingBlockInsideIsRefused)
{
    for (uint32_t compression : {0u, 208u}) {
        test::TempDir dir;
        const std::string image = dir.file("hole.zbi");
        test::PartitionSpec spec;
        spec.sectorCount = 8 * 64;
        spec.compression = compression;
        spec.storedBlocks.assign(64, true);
        spec.storedBlocks[10] = false;
        ASSERT_NO_FATAL_FAILURE(writeImage(image, spec));
        const Bytes raw = test::volumeBytes(spec);
        ImageStorePtr store = openImage(image);
        PARTITION_ACCESS access;
        ASSERT_EQ(access.OpenSectors(store.get(), ""), 0);
        Bytes got(3 * 8 * 512, 0);
        // Blocks 9 to 11 with 10 missing: the stored bytes of 11 would land where 10 belongs.
        EXPECT_EQ(access.ReadSectors(9 * 8, got.data(), 3 * 8), rc::kBlockNotStored) << compression;
        ASSERT_EQ(access.ReadSectors(11 * 8, got.data(), 3 * 8), 0) << compression;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), raw.begin() + 11 * 8 * 512)) << compression;
    }
}

// A saved index whose checkpoints do not agree with the partition: refused when it is read, so that reads go
// on with a temporary index and still return the partition's own bytes.
class DisagreeingIndexTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // 4 KiB blocks with holes, so that a checkpoint's offset depends on the bitmap; about ten chunks.
        spec.sectorCount = 8 * 240;
        spec.compression = 301;
        spec.compressible = true;
        spec.storedBlocks.assign(240, true);
        for (uint32_t b = 0; b < 240; ++b)
            if (b % 7 == 3 || (b >= 100 && b < 120))
                spec.storedBlocks[b] = false;
        ASSERT_NO_FATAL_FAILURE(writeImage(image, spec));
        raw = test::volumeBytes(spec);
        store = openImage(image);
        ASSERT_EQ(access.OpenSectors(store.get(), ""), 0);
        ASSERT_EQ(access.WriteIndexFile(index), 0);
        good = readFile(index);
        // Header, one pointer, section header and the checkpoints; nothing else.
        checkpoints = (good.size() - 40) / 16;
        ASSERT_GT(checkpoints, 8u);
        ASSERT_EQ(good.size(), 40 + 16 * checkpoints);
    }
    // Opens the partition with bytes as its index file; the code its read gave, 0 when it was used.
    int openWith(const Bytes &bytes)
    {
        std::ofstream(index, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        struct Recorder final : index::IndexProblemHandler
        {
            int code = 0;
            int ShowIndexProblem(int result, std::string &) override
            {
                code = result;
                return 0;
            }
        } problems;
        EXPECT_EQ(access.OpenSectors(store.get(), index, &problems), 0);
        return problems.code;
    }
    // Reads every stored block from the last to the first, so that each read of a new chunk resumes from a
    // checkpoint, and compares it with the volume.
    bool everyBlockMatches()
    {
        Bytes got(4096);
        for (uint32_t b = access.LastUsedBlock() + 1; b-- > 0;) {
            if (!access.StateMap().isSet(b))
                continue;
            if (access.ReadSectors(b * 8, got.data(), 8) != 0 ||
                !std::equal(got.begin(), got.end(), raw.begin() + size_t{b} * 4096))
                return false;
        }
        return true;
    }
    uint64_t position(const Bytes &bytes, size_t i) const
    {
        return loadLe64(std::as_bytes(std::span(bytes)), 40 + 8 * i);
    }
    void setPosition(Bytes &bytes, size_t i, uint64_t value) const
    {
        storeLe64(std::as_writable_bytes(std::span(bytes)), 40 + 8 * i, value);
    }

    test::TempDir dir;
    const std::string image = dir.file("holes.zbi");
    const std::string index = dir.file("holes.zbx");
    test::PartitionSpec spec;
    Bytes raw;
    ImageStorePtr store;
    PARTITION_ACCESS access;
    Bytes good;
    size_t checkpoints = 0;
};

TEST_F(DisagreeingIndexTest, CheckpointsShiftedByAChunkAreRefused)
{
    ASSERT_EQ(openWith(good), 0);
    EXPECT_EQ(access.Index().lastIndexEntry, checkpoints - 1);
    EXPECT_TRUE(everyBlockMatches());

    // From checkpoint 2 on, each names the chunk before its own: every position is still a chunk's start
    // and they still rise, only the blocks do not begin where the checkpoints say.
    Bytes shifted = good;
    for (size_t i = 2; i < checkpoints; ++i)
        setPosition(shifted, i, position(good, i) - 65536);
    EXPECT_EQ(openWith(shifted), rc::kInvalidIndexFile);
    EXPECT_EQ(access.Index().lastIndexEntry, 0u) << "the open went on with a temporary index";
    EXPECT_TRUE(everyBlockMatches());
    EXPECT_FALSE(access.CheckIndexFile(index));

    // A position that no chunk begins at.
    Bytes inside = good;
    setPosition(inside, 3, position(good, 3) + 512);
    EXPECT_EQ(openWith(inside), rc::kInvalidIndexFile);
    EXPECT_TRUE(everyBlockMatches());
}

TEST_F(DisagreeingIndexTest, EverySingleByteFlipIsRefusedOrReadsRight)
{
    size_t used = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        for (int flip : {0x01, 0x80, 0xFF}) {
            Bytes damaged = good;
            damaged[at] = static_cast<uint8_t>(damaged[at] ^ flip);
            if (openWith(damaged) == 0)
                ++used;
            ASSERT_TRUE(everyBlockMatches()) << "byte " << at << " ^ " << flip;
        }
    }
    // The version, the reserved field and a spacing that only slows the search keep a file usable.
    EXPECT_GT(used, 0u);
}

} // namespace
} // namespace imbrex::restore
