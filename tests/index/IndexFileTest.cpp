// Index files written and read through the partition access over the fake store: the byte layout, appending,
// every refusal, a full disk, and the association loop of the open.
#include "index/IndexFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "platform/File.h"
#include "restore/PARTITION_ACCESS.h"
#include "tests/restore/FakeVolume.h"
#include "tests/support/TempDir.h"

namespace imbrex::index {
namespace {

using restore::PARTITION_ACCESS;
using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t le32(const Bytes &b, size_t off)
{
    return loadLe32(std::as_bytes(std::span(b)), off);
}

void putLe32(Bytes &b, size_t off, uint32_t v)
{
    storeLe32(std::as_writable_bytes(std::span(b)), off, v);
}

// Three partitions: 1 plain, 2 compressed with decoder states, 3 compressed without.
class IndexFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        volumes.push_back(test::makeFakeVolume({.blockCount = 64, .seed = 1}));
        volumes.push_back(
            test::makeFakeVolume({.blockCount = 64, .compression = 208, .decoderStateSize = 16, .seed = 2}));
        volumes.push_back(test::makeFakeVolume({.blockCount = 64, .compression = 301, .seed = 3}));
        for (auto &v : volumes)
            store.partitions.push_back(v.partition);
        store.imageId = 0xC0FFEE;
        store.recordCalls = false;
        path = dir.file("image.zbx");
    }
    // Opens partition n with an index path; 0 or the open's code.
    int open(uint32_t n, const std::string &indexPath = "", IndexProblemHandler *problems = nullptr)
    {
        access.Destroy();
        EXPECT_EQ(store.SelectPartition(n, 0), 0);
        return access.OpenSectors(&store, indexPath, problems);
    }
    int save(uint32_t n, const std::string &file)
    {
        EXPECT_EQ(open(n), 0);
        return access.WriteIndexFile(file);
    }
    bool readsMatch(uint32_t n)
    {
        std::mt19937 rng(n);
        auto stored = [&](uint32_t b) { return access.StateMap().isSet(b); };
        for (int i = 0; i < 200; ++i) {
            test::RandomRead r = test::randomRead(rng, 64, 8, stored);
            Bytes got(size_t{r.count} * 512);
            if (access.ReadSectors(r.sector, got.data(), r.count) != 0)
                return false;
            if (!std::equal(got.begin(), got.end(), volumes[n - 1].raw.begin() + size_t{r.sector} * 512))
                return false;
        }
        return true;
    }

    test::TempDir dir;
    std::vector<test::FakeVolume> volumes;
    test::FakeStore store;
    PARTITION_ACCESS access;
    std::string path;
};

TEST_F(IndexFileTest, SecondPartitionOfThreeIntoANewFile)
{
    ASSERT_EQ(save(2, path), 0);
    Bytes file = readFile(path);
    const uint32_t checkpoints = 5; // one per 16 blocks of 4 KiB, and one behind the last block
    ASSERT_EQ(file.size(), 28u + 20u + checkpoints * (16u + 16u));
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{0x55, 0x33, 0x26, 0x12}));
    EXPECT_EQ(file[4], 2);
    EXPECT_EQ(file[5], 0);
    EXPECT_EQ(le32(file, 8), 0xC0FFEEu);
    EXPECT_EQ(le32(file, 12), 3u);
    EXPECT_EQ(le32(file, 16), 0xFFFFFFFFu);
    EXPECT_EQ(le32(file, 20), 28u);
    EXPECT_EQ(le32(file, 24), 0xFFFFFFFFu);
    EXPECT_EQ(Bytes(file.begin() + 28, file.begin() + 32), (Bytes{0x10, 0x83, 0x37, 0x14}));
    EXPECT_EQ(le32(file, 32), 16u);         // D
    EXPECT_EQ(le32(file, 36), 4u);          // s
    EXPECT_EQ(le32(file, 40), checkpoints); // C
    EXPECT_EQ(le32(file, 44), 0u);          // R
    for (uint32_t i = 0; i < checkpoints; ++i) {
        EXPECT_EQ(le32(file, 48 + 8 * i), i * 65536u);
        EXPECT_EQ(le32(file, 48 + 8 * checkpoints + 4 * i), i * 16u);
        EXPECT_EQ(le32(file, 48 + 12 * checkpoints + 4 * i), 0u);
        // The fake's state: the position it was saved at.
        EXPECT_EQ(le32(file, 48 + 16 * checkpoints + 16 * i), i * 65536u);
    }

    // Loading it: the open reads no data, and every read resumes from a loaded checkpoint.
    store.recordCalls = true;
    store.calls.clear();
    ASSERT_EQ(open(2, path), 0);
    EXPECT_EQ(access.Index().lastIndexEntry, checkpoints - 1);
    EXPECT_TRUE(store.callsStartingWith("ReadData").empty());
    EXPECT_TRUE(store.callsStartingWith("SaveDecoderState").empty());
    EXPECT_TRUE(readsMatch(2));
    EXPECT_TRUE(access.CheckIndexFile(path));
}

TEST_F(IndexFileTest, AppendsASecondSectionAndRefusesARepeat)
{
    ASSERT_EQ(save(2, path), 0);
    Bytes first = readFile(path);
    ASSERT_EQ(save(3, path), 0);
    Bytes second = readFile(path);
    ASSERT_GT(second.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin() + 28, first.end(), second.begin() + 28));
    EXPECT_EQ(le32(second, 24), first.size());
    EXPECT_EQ(le32(second, 20), 28u);
    EXPECT_EQ(le32(second, 16), 0xFFFFFFFFu);
    EXPECT_EQ(save(2, path), rc::kIndexExists);
    EXPECT_EQ(readFile(path), second);

    ASSERT_EQ(open(3, path), 0);
    EXPECT_EQ(access.Index().lastIndexEntry, 4u);
    EXPECT_TRUE(readsMatch(3));
    // The plain partition needs no index; its entry stays empty.
    EXPECT_EQ(open(1, path), 0);
    EXPECT_TRUE(access.CheckIndexFile(""));
    EXPECT_EQ(access.ReadIndexFile(path), rc::kNoIndexForPartition);
}

TEST_F(IndexFileTest, ShortSectionIsAcceptedAndNeverOverrun)
{
    // A section one checkpoint short of complete: C = lastUsedBlock >> s.
    ASSERT_EQ(save(2, path), 0);
    Bytes file = readFile(path);
    const uint32_t c = 4;
    Bytes cut(file.begin(), file.begin() + 48);
    putLe32(cut, 40, c);
    for (uint32_t part = 0; part < 3; ++part) {
        size_t width = part == 0 ? 8 : 4;
        size_t from = 48 + (part == 0 ? 0 : part == 1 ? 8 * 5 : 12 * 5);
        cut.insert(cut.end(), file.begin() + static_cast<std::ptrdiff_t>(from),
                   file.begin() + static_cast<std::ptrdiff_t>(from + width * c));
    }
    cut.insert(cut.end(), file.begin() + 48 + 16 * 5, file.begin() + 48 + 16 * 5 + 16 * c);
    writeFile(path, cut);
    ASSERT_EQ(open(2, path), 0);
    EXPECT_EQ(access.Index().capacity(), c);
    EXPECT_EQ(access.Index().lastIndexEntry, c - 1);
    EXPECT_TRUE(readsMatch(2));
    EXPECT_EQ(access.Index().lastIndexEntry, c - 1);

    putLe32(cut, 40, c - 1);
    writeFile(path, cut);
    EXPECT_EQ(open(2, path), 0) << "a section that does not fit leaves a temporary index";
    EXPECT_EQ(access.ReadIndexFile(path), rc::kInvalidIndexFile);
}

TEST_F(IndexFileTest, EveryRefusal)
{
    ASSERT_EQ(save(2, path), 0);
    const Bytes good = readFile(path);
    ASSERT_EQ(open(2), 0);
    auto readWith = [&](const Bytes &bytes) {
        writeFile(path, bytes);
        return access.ReadIndexFile(path);
    };
    auto changed = [&](size_t off, uint32_t v) {
        Bytes b = good;
        putLe32(b, off, v);
        return b;
    };
    EXPECT_EQ(access.ReadIndexFile(""), rc::kNoIndexFile);
    EXPECT_EQ(access.ReadIndexFile(dir.file("missing.zbx")), rc::kNoIndexFile);
    EXPECT_EQ(access.ReadIndexFile(dir.path().string()), rc::kCannotOpen);
    EXPECT_EQ(readWith(Bytes(good.begin(), good.begin() + 15)), rc::kReadShort);
    EXPECT_EQ(readWith(Bytes(good.begin(), good.begin() + 22)), rc::kReadShort);
    EXPECT_EQ(readWith(changed(0, 0x12263356)), rc::kInvalidIndexFile);
    Bytes newer = changed(8, 1);
    newer[4] = 3;
    EXPECT_EQ(readWith(newer), rc::kNewerVersion);
    EXPECT_EQ(readWith(changed(8, 0xC0FFEF)), rc::kIndexMismatch);
    EXPECT_EQ(readWith(changed(12, 4)), rc::kIndexMismatch);
    EXPECT_EQ(readWith(changed(20, 0xFFFFFFFF)), rc::kNoIndexForPartition);
    EXPECT_EQ(readWith(changed(28, 0x14378311)), rc::kInvalidIndexFile);
    EXPECT_EQ(readWith(Bytes(good.begin(), good.begin() + 40)), rc::kReadShort);
    EXPECT_EQ(readWith(changed(32, 8)), rc::kInvalidIndexFile) << "decoder state size of another store";
    EXPECT_EQ(readWith(changed(36, 40)), rc::kInvalidIndexFile) << "spacing shift";
    EXPECT_EQ(readWith(changed(40, 0x10000000)), rc::kInvalidIndexFile) << "more than the index bound";
    EXPECT_EQ(readWith(changed(44, 0x0FFFFFFF)), rc::kReadShort) << "span records beyond the file";
    EXPECT_EQ(readWith(Bytes(good.begin(), good.end() - 1)), rc::kReadShort);
    EXPECT_EQ(readWith(changed(48 + 40 + 8, 3)), rc::kInvalidIndexFile) << "first blocks going back";
    EXPECT_EQ(readWith(changed(48 + 8 * 5 + 4, 1000)), rc::kInvalidIndexFile) << "first block beyond the end";
    // None of the refusals touched the index in memory.
    EXPECT_EQ(access.Index().lastIndexEntry, 0u);
    EXPECT_TRUE(readsMatch(2));
    EXPECT_EQ(readWith(good), 0);

    // Checkpoints for a partition that is not compressed are not taken.
    ASSERT_EQ(open(1), 0);
    Bytes forPlain = good;
    putLe32(forPlain, 16, 28);
    putLe32(forPlain, 20, 0xFFFFFFFF);
    EXPECT_EQ(readWith(forPlain), rc::kInvalidIndexFile);
}

TEST_F(IndexFileTest, StoreWithoutALastUsedBlockStillLoadsItsIndex)
{
    // The open finds the last used block in the bitmap; the saved section is held against that.
    store.partitions[1].lastUsedBlock = 0;
    ASSERT_EQ(save(2, path), 0);
    ASSERT_EQ(open(2, path), 0);
    EXPECT_EQ(access.LastUsedBlock(), 63u);
    EXPECT_EQ(access.Index().lastIndexEntry, 4u);
    EXPECT_TRUE(readsMatch(2));
}

TEST_F(IndexFileTest, CheckIndexFile)
{
    ASSERT_EQ(open(1), 0);
    EXPECT_TRUE(access.CheckIndexFile(""));
    ASSERT_EQ(open(2), 0);
    EXPECT_FALSE(access.CheckIndexFile(""));
    EXPECT_FALSE(access.CheckIndexFile(path));
    ASSERT_EQ(save(3, path), 0);
    ASSERT_EQ(open(2), 0);
    EXPECT_FALSE(access.CheckIndexFile(path));
    ASSERT_EQ(open(3), 0);
    EXPECT_TRUE(access.CheckIndexFile(path));
    Bytes broken = readFile(path);
    putLe32(broken, 28, 0);
    writeFile(path, broken);
    EXPECT_FALSE(access.CheckIndexFile(path));
}

TEST_F(IndexFileTest, CheckpointsAreHeldAgainstTheStoresChunks)
{
    // Chunks of 65536 bytes and a 2-byte tail: the saved positions are the starts of such chunks.
    store.partitions[2].tailBytes = 2;
    ASSERT_EQ(save(3, path), 0);
    ASSERT_EQ(open(3, path), 0);
    EXPECT_EQ(access.Index().lastIndexEntry, 4u);
    EXPECT_TRUE(readsMatch(3));
    EXPECT_TRUE(access.CheckIndexFile(path));

    // A checkpoint's block offset a sector off: the file is refused, and CheckIndexFile says so too.
    Bytes off = readFile(path);
    const size_t at = 48 + 12 * 5 + 4 * 2;
    const uint32_t was = le32(off, at);
    putLe32(off, at, was >= 512 ? was - 512 : was + 512);
    writeFile(path, off);
    EXPECT_EQ(access.ReadIndexFile(path), rc::kInvalidIndexFile);
    EXPECT_FALSE(access.CheckIndexFile(path));

    // A store that cannot tell where its chunks begin leaves saved checkpoints unchecked: they are not used.
    ASSERT_EQ(save(3, dir.file("other.zbx")), 0);
    store.faults.push_back({"LocateChunk", 1, rc::kNotSupported});
    EXPECT_EQ(access.ReadIndexFile(dir.file("other.zbx")), rc::kInvalidIndexFile);
}

TEST(ProposedIndexPathTest, TheImagesOwnNameWithItsExtensionReplaced)
{
    EXPECT_EQ(proposedIndexPath("/a/b/disk.zbi"), "/a/b/disk.zbx");
    EXPECT_EQ(proposedIndexPath("/data/v1.2/disk.zbi"), "/data/v1.2/disk.zbx");
    EXPECT_EQ(proposedIndexPath("/a/disk"), "/a/disk.zbx");
    EXPECT_EQ(proposedIndexPath("/a.b/disk"), "/a.b/disk.zbx");
    EXPECT_EQ(proposedIndexPath("/a/disk.tar.zbi"), "/a/disk.tar.zbx");
    EXPECT_EQ(proposedIndexPath("C:\\Data.1\\disk.zbi"), "C:\\Data.1\\disk.zbx");
    EXPECT_EQ(proposedIndexPath("disk.zbi"), "disk.zbx");
}

TEST_F(IndexFileTest, ReadOnlyFileIsRefusedForSavingButStillLoads)
{
    ASSERT_EQ(save(3, path), 0);
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    Bytes before = readFile(path);
    EXPECT_EQ(save(2, path), rc::kCannotOpen);
    EXPECT_EQ(readFile(path), before);
    ASSERT_EQ(open(3, path), 0);
    EXPECT_EQ(access.Index().lastIndexEntry, 4u);
}

int g_writes = 0;
int diskFullAfter(platform::IoOperation operation, const std::string &, uint64_t, size_t)
{
    if (operation != platform::IoOperation::Write)
        return 0;
    return g_writes-- > 0 ? 0 : platform::kErrorDiskFull;
}

TEST_F(IndexFileTest, FullDiskLeavesThePointerEmpty)
{
    ASSERT_EQ(save(3, path), 0);
    const Bytes before = readFile(path);
    for (int writes : {0, 1, 3}) {
        g_writes = writes;
        platform::setIoFaultHook(diskFullAfter);
        EXPECT_EQ(save(2, path), rc::kMediaFull) << writes;
        platform::setIoFaultHook(nullptr);
        Bytes after = readFile(path);
        EXPECT_EQ(le32(after, 20), 0xFFFFFFFFu);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
        EXPECT_EQ(access.ReadIndexFile(path), rc::kNoIndexForPartition);
    }
    // The index in memory survived: a later save to another file works.
    EXPECT_EQ(access.WriteIndexFile(dir.file("other.zbx")), 0);
    g_writes = 0;
    platform::setIoFaultHook(diskFullAfter);
    EXPECT_EQ(save(2, dir.file("new.zbx")), rc::kMediaFull);
    platform::setIoFaultHook(nullptr);
}

TEST_F(IndexFileTest, SpannedPlainPartitionSavesOnlySpanRecords)
{
    store.partitions[0].spanned = 1;
    store.spanRecords = {1, 0, 0, 0, 0xEE, 0xFF, 0xC0, 0x00, 2, 0, 0, 0, 0xEE, 0xFF, 0xC0, 0x00};
    ASSERT_EQ(save(1, path), 0);
    Bytes file = readFile(path);
    ASSERT_EQ(file.size(), 28u + 20u + 16u);
    EXPECT_EQ(le32(file, 28 + 12), 0u);
    EXPECT_EQ(le32(file, 28 + 16), 2u);
    EXPECT_EQ(Bytes(file.begin() + 48, file.end()), store.spanRecords);

    store.recordCalls = true;
    ASSERT_EQ(open(1, path), 0);
    EXPECT_EQ(store.callsStartingWith("SetSpanTable(2)").size(), 1u);
    EXPECT_EQ(access.Index().lastIndexEntry, 0u);
    EXPECT_TRUE(access.CheckIndexFile(path));
    EXPECT_TRUE(readsMatch(1));
    // Records that do not describe this set are refused by the store.
    store.spanRecords[0] = 9;
    EXPECT_EQ(access.ReadIndexFile(path), rc::kInvalidArgument);
}

class ScriptedProblems : public IndexProblemHandler
{
public:
    int ShowIndexProblem(int result, std::string &path) override
    {
        results.push_back(result);
        if (answers.empty())
            return 0;
        auto [answer, next] = answers.front();
        answers.erase(answers.begin());
        if (answer == rc::kIndexTryAgain)
            path = next;
        return answer;
    }
    std::vector<std::pair<int, std::string>> answers;
    std::vector<int> results;
};

TEST_F(IndexFileTest, AssociationLoop)
{
    ASSERT_EQ(save(2, path), 0);
    ScriptedProblems browse;
    browse.answers = {{rc::kIndexTryAgain, dir.file("nothing.zbx")}, {rc::kIndexTryAgain, path}};
    ASSERT_EQ(open(2, "", &browse), 0);
    EXPECT_EQ(browse.results, (std::vector<int>{rc::kNoIndexFile, rc::kNoIndexFile}));
    EXPECT_EQ(access.Index().lastIndexEntry, 4u);

    ScriptedProblems cancel;
    cancel.answers = {{rc::kDialogCancelled, ""}};
    EXPECT_EQ(open(2, dir.file("nothing.zbx"), &cancel), rc::kDialogCancelled);

    ScriptedProblems goOn;
    EXPECT_EQ(open(3, path, &goOn), 0);
    EXPECT_EQ(goOn.results, (std::vector<int>{rc::kNoIndexForPartition}));
    EXPECT_EQ(access.Index().lastIndexEntry, 0u);
    EXPECT_TRUE(readsMatch(3));

    // A partition that needs no index never asks.
    ScriptedProblems never;
    EXPECT_EQ(open(1, "", &never), 0);
    EXPECT_TRUE(never.results.empty());
    EXPECT_EQ(indexFileMessage(rc::kNoIndexFile, ""),
              "No image index file has been associated with this image.");
    EXPECT_EQ(indexFileMessage(rc::kNoIndexFile, "x.zbx"), "The image index file was not found.");
}

} // namespace
} // namespace imbrex::index
