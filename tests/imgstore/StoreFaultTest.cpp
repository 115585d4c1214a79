// Every write, sync, truncate and replace of a change fails in turn, or the process dies at that moment with
// the write torn in half; the image must then open with either the old or the new content, also when one
// superblock slot is spoilt afterwards.
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "imgstore/Checksum.h"
#include "imgstore/ZbiFormat.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using imbrex::test::PartitionSpec;

namespace {

enum class FaultKind
{
    Fail,  // the operation reports disk full
    Crash, // the process dies; a write is left half done
};

int g_countdown = 0;
FaultKind g_kind = FaultKind::Fail;

int faultHook(platform::IoOperation operation, const std::string &path, uint64_t offset, size_t length)
{
    if (--g_countdown != 0)
        return 0;
    if (g_kind == FaultKind::Fail)
        return platform::kErrorDiskFull;
    if (operation == platform::IoOperation::Write && length > 1) {
        int fd = ::open(path.c_str(), O_WRONLY);
        std::vector<char> junk(length / 2, '\x5A');
        ssize_t n = ::pwrite(fd, junk.data(), junk.size(), static_cast<off_t>(offset));
        (void)n;
        ::close(fd);
    }
    ::_exit(0);
}

// What a person would see of an image: name, comment, and every partition's name, comment and data.
std::string describe(const std::string &path)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
    if (!store)
        return "unreadable " + std::to_string(error);
    char name[100], comment[400];
    (void)store->GetImageName(name, sizeof name);
    (void)store->GetImageComment(comment, sizeof comment);
    std::string out = std::string(name) + "|" + comment;
    for (uint32_t n = 1; n <= store->GetPartitionCount(); ++n) {
        std::vector<uint8_t> stream;
        int e = test::readStream(*store, n, &stream);
        (void)store->SelectPartition(n, 0);
        (void)store->GetPartitionName(name, sizeof name);
        (void)store->GetPartitionComment(comment, 256);
        (void)store->ReleasePartition(1);
        out += "|" + std::string(name) + ":" + comment + ":" + std::to_string(e) + ":" +
               std::to_string(zbi::checksum(std::as_bytes(std::span(stream))));
    }
    return out;
}

bool slotIsValid(const std::string &path, int slot)
{
    zbi::Superblock sb;
    return zbi::parseSuperblock(test::superblockSlot(path, slot), &sb) == zbi::SlotState::Valid;
}

using Change = std::function<void(ImageStore &)>;

struct Scenario
{
    const char *name;
    Change change;
};

PartitionSpec partitionB()
{
    PartitionSpec spec;
    spec.name = "B";
    spec.sectorCount = 700;
    spec.seed = 9;
    return spec;
}

std::vector<Scenario> scenarios()
{
    return {
        {"rename image", [](ImageStore &s) { (void)s.SetImageName("new name"); }},
        {"comment image", [](ImageStore &s) { (void)s.SetImageComment("new comment"); }},
        {"add partition", [](ImageStore &s) { (void)test::addPartition(s, partitionB()); }},
        {"delete partition",
         [](ImageStore &s) {
             if (s.SelectPartition(1, 0) == 0)
                 (void)s.DeleteCurrentPartition();
         }},
        {"rename partition",
         [](ImageStore &s) {
             if (s.SelectPartition(2, 0) == 0) {
                 (void)s.SetPartitionName("renamed");
                 (void)s.ReleasePartition(1);
             }
         }},
    };
}

void makeBase(const std::string &path)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
    ASSERT_TRUE(store);
    ASSERT_EQ(store->SetImageName("old name"), 0);
    PartitionSpec a;
    a.name = "A";
    a.sectorCount = 300;
    ASSERT_EQ(test::addPartition(*store, a), 0);
    PartitionSpec c;
    c.name = "C";
    c.seed = 3;
    ASSERT_EQ(test::addPartition(*store, c), 0);
}

void runChange(const std::string &path, const Change &change)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, &error));
    if (store)
        change(*store);
}

// Runs the change with a fault at operation number n; returns false once n is past the change's last
// operation.
bool runWithFault(const std::string &path, const Change &change, int n, FaultKind kind)
{
    g_countdown = n;
    g_kind = kind;
    if (kind == FaultKind::Fail) {
        platform::setIoFaultHook(faultHook);
        runChange(path, change);
        platform::setIoFaultHook(nullptr);
        return g_countdown <= 0;
    }
    pid_t child = ::fork();
    if (child == 0) {
        platform::setIoFaultHook(faultHook);
        runChange(path, change);
        ::_exit(g_countdown <= 0 ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void checkEveryFault(FaultKind kind)
{
    test::TempDir dir;
    for (const Scenario &scenario : scenarios()) {
        std::string base = dir.file("base.zbi");
        makeBase(base);
        std::string oldState = describe(base);
        std::string expectedNew = dir.file("expected.zbi");
        std::filesystem::copy_file(base, expectedNew, std::filesystem::copy_options::overwrite_existing);
        runChange(expectedNew, scenario.change);
        std::string newState = describe(expectedNew);
        ASSERT_NE(oldState, newState) << scenario.name;

        int faults = 0;
        for (int n = 1; n < 200; ++n) {
            std::string work = dir.file("work.zbi");
            std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
            bool hit = runWithFault(work, scenario.change, n, kind);
            std::string state = describe(work);
            EXPECT_TRUE(state == oldState || state == newState)
                << scenario.name << ", fault at operation " << n << ": " << state;
            // A byte spoilt in one superblock slot afterwards costs nothing while the other slot is whole.
            for (int slot = 0; slot < 2; ++slot) {
                if (!slotIsValid(work, 1 - slot))
                    continue;
                std::string spoilt = dir.file("spoilt.zbi");
                std::filesystem::copy_file(work, spoilt, std::filesystem::copy_options::overwrite_existing);
                test::spoilByte(spoilt, zbi::kSuperblockOffset[slot] + 30);
                std::string after = describe(spoilt);
                EXPECT_TRUE(after == oldState || after == newState)
                    << scenario.name << ", fault at operation " << n << ", slot " << slot << ": " << after;
                // A change that ran to its end is held by both slots.
                if (!hit) {
                    EXPECT_EQ(after, state) << scenario.name << ", slot " << slot;
                }
            }
            // The image stays usable: a change that did not happen succeeds when tried again.
            if (state == oldState) {
                runChange(work, scenario.change);
                EXPECT_EQ(describe(work), newState) << scenario.name << ", retry after fault " << n;
            }
            if (!hit)
                break;
            ++faults;
        }
        EXPECT_GE(faults, 2) << scenario.name;
        std::filesystem::remove(base);
    }
}

} // namespace

TEST(StoreFaults, EveryFailingWriteLeavesOldOrNewContent)
{
    checkEveryFault(FaultKind::Fail);
}

TEST(StoreFaults, CrashAtAnyWriteLeavesOldOrNewContent)
{
    checkEveryFault(FaultKind::Crash);
}

TEST(StoreFaults, CrashWhileCreatingLeavesTheOldFileOrTheNewImage)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    makeBase(path);
    std::string oldState = describe(path);
    Change create = [](ImageStore &) {};
    for (int n = 1; n < 50; ++n) {
        g_countdown = n;
        g_kind = FaultKind::Crash;
        pid_t child = ::fork();
        if (child == 0) {
            platform::setIoFaultHook(faultHook);
            uint32_t error = 0;
            ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
            if (store)
                (void)test::addPartition(*store, partitionB());
            ::_exit(g_countdown <= 0 ? 0 : 3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        std::string state = describe(path);
        bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (state != oldState) {
            // The new image: empty, or with its partition complete.
            EXPECT_EQ(state.rfind("|", 0), 0u) << "fault at " << n << ": " << state;
            EXPECT_TRUE(state == "|" || state.find("|B::0:") != std::string::npos) << state;
        }
        if (!finished)
            break;
        makeBase(path);
    }
}

TEST(StoreFaults, PartitionsOfARunThatDiesBeforeItEndsAreNotKept)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    makeBase(path);
    std::string oldState = describe(path);
    pid_t child = ::fork();
    if (child == 0) {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, &error));
        PartitionSpec first = partitionB();
        PartitionSpec second = partitionB();
        second.seed = 11;
        bool added = store && test::addPartition(*store, first) == 0 &&
                     test::addPartition(*store, second) == 0 && store->GetPartitionCount() == 4;
        ::_exit(added ? 0 : 3); // dies with both partitions released but the run not ended
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(describe(path), oldState);

    // Ended normally, both arrive.
    runChange(path, [](ImageStore &s) {
        (void)test::addPartition(s, partitionB());
        (void)test::addPartition(s, partitionB());
        EXPECT_EQ(s.Close(), 0);
    });
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->GetPartitionCount(), 4u);
}

namespace {

// Writes succeed until g_budget bytes have been written, then fail as on a full disk.
uint64_t g_written = 0;
uint64_t g_budget = 0;

int fullDiskHook(platform::IoOperation operation, const std::string &, uint64_t, size_t length)
{
    if (operation != platform::IoOperation::Write)
        return 0;
    if (g_written + length > g_budget)
        return platform::kErrorDiskFull;
    g_written += length;
    return 0;
}

uint64_t sizeOf(const std::string &path)
{
    return std::filesystem::file_size(path);
}

PartitionSpec bigPartition(uint32_t seed)
{
    PartitionSpec spec;
    spec.name = "big";
    spec.sectorCount = 8192; // 4 MiB of data that does not compress
    spec.seed = seed;
    return spec;
}

struct AbandonCase
{
    const char *name;
    // Runs into the full disk on an open, writable store and abandons the work as a caller would.
    std::function<void(ImageStore &)> run;
};

} // namespace

// Work that a full disk stops, or that is abandoned, gives the space it took back: the file ends where the
// committed state's space ends, with that state intact.
TEST(StoreFaults, AbandonedWorkGivesItsSpaceBack)
{
    const std::vector<AbandonCase> cases = {
        {"partition deleted after a failed write",
         [](ImageStore &s) {
             g_budget = 2u << 20;
             EXPECT_NE(test::addPartition(s, bigPartition(5)), 0);
             EXPECT_EQ(s.DeleteCurrentPartition(), 0);
             EXPECT_EQ(s.Close(), 0);
         }},
        {"store closed with the failed partition pending",
         [](ImageStore &s) {
             g_budget = 2u << 20;
             EXPECT_NE(test::addPartition(s, bigPartition(5)), 0);
             EXPECT_EQ(s.Close(), 0);
         }},
        {"partitions of the run deleted on a full disk",
         [](ImageStore &s) {
             g_budget = 6u << 20;
             EXPECT_EQ(test::addPartition(s, bigPartition(5)), 0);
             EXPECT_NE(test::addPartition(s, bigPartition(6)), 0);
             EXPECT_EQ(s.DeleteCurrentPartition(), 0);
             EXPECT_EQ(s.SelectPartition(s.GetPartitionCount(), 0), 0);
             EXPECT_EQ(s.DeleteCurrentPartition(), 0);
             EXPECT_EQ(s.Close(), 0);
         }},
        {"closing commit fails",
         [](ImageStore &s) {
             g_budget = UINT64_MAX;
             EXPECT_EQ(test::addPartition(s, bigPartition(5)), 0);
             g_budget = g_written;
             EXPECT_NE(s.Close(), 0);
         }},
    };
    test::TempDir dir;
    for (const AbandonCase &c : cases) {
        std::string path = dir.file("a.zbi");
        makeBase(path);
        const std::string oldState = describe(path);
        const uint64_t oldSize = sizeOf(path);
        {
            uint32_t error = 0;
            ImageStorePtr store(ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, &error));
            ASSERT_TRUE(store) << error;
            g_written = 0;
            platform::setIoFaultHook(fullDiskHook);
            c.run(*store);
            platform::setIoFaultHook(nullptr);
            EXPECT_GT(g_written, 1u << 20) << c.name; // the disk did fill up
        }
        EXPECT_EQ(sizeOf(path), oldSize) << c.name;
        EXPECT_EQ(describe(path), oldState) << c.name;
    }
}
