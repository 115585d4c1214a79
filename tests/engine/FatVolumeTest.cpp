// FAT_VOLUME over volumes built byte by byte: the layouts the reader must get right, and damaged ones it must
// refuse without hanging, crashing or reading outside its buffers.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/EngineMemory.h"
#include "engine/FAT_VOLUME.h"
#include "engine/SectorSource.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/FatTestSupport.h"

using namespace imbrex;
using namespace imbrex::engine;
using imbrex::test::FatImageBuilder;
using imbrex::test::MountedFat;

namespace {

using Names = std::vector<std::string>;

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>((i * 31 + seed) ^ (i >> 9));
    return data;
}

// A small FAT12 volume: 1 sector per cluster, 64 root entries.
FatImageBuilder smallFat12(uint32_t totalSectors = 512)
{
    FatImageBuilder::Geometry g;
    g.totalSectors = totalSectors;
    return FatImageBuilder(g);
}

TEST(FatMount, TwelveFatSectorsAreFat12AndThirteenFat16)
{
    for (const uint32_t sectorsPerFat : {12u, 13u}) {
        FatImageBuilder::Geometry g;
        g.sectorsPerFat = sectorsPerFat;
        g.fatBits = sectorsPerFat == 12 ? 12 : 16;
        g.totalSectors = 2000;
        FatImageBuilder b(g);
        b.addFile(0, "A       BIN", pattern(1500, 1));
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        EXPECT_EQ(fat.volume().Vars()->fatType, sectorsPerFat == 12 ? kFat12 : kFat16);
        std::vector<uint8_t> data;
        ASSERT_EQ(fat.readAll("\\A.BIN", data), 0);
        EXPECT_EQ(data, pattern(1500, 1));
    }
}

TEST(FatMount, TotalSectorsAreClampedToWhatTheFatAddresses)
{
    // One FAT12 sector maps 339 clusters; the boot sector claims 1000 sectors.
    FatImageBuilder::Geometry g;
    g.sectorsPerFat = 1;
    g.totalSectors = 1000;
    FatImageBuilder b(g);
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    const FAT_VARS &v = *fat.volume().Vars();
    EXPECT_EQ(v.totalSectors, 339u + v.firstDataSector);
    EXPECT_EQ(v.clusterCount, 339u);
}

TEST(FatMount, RefusesBootSectorsItCannotUse)
{
    struct Case
    {
        const char *what;
        size_t offset;
        uint64_t value;
        size_t width;
        int expected;
    };
    const Case cases[] = {
        {"signature", 510, 0, 2, rc::kBadBootSignature},
        {"zero bytes per sector", 11, 0, 2, rc::kFatBadGeometry},
        {"odd bytes per sector", 11, 520, 2, rc::kFatBadGeometry},
        {"zero sectors per cluster", 13, 0, 1, rc::kFatBadGeometry},
        {"no FATs", 16, 0, 1, rc::kFatBadGeometry},
        {"no reserved sectors", 14, 0, 2, rc::kFatBadGeometry},
        {"FAT area beyond the volume", 22, 600, 2, rc::kFatBadGeometry},
        {"more sectors than the partition", 19, 520, 2, rc::kVolumeBeyondPartition},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FatImageBuilder b = smallFat12();
        b.put(c.offset, c.value, c.width);
        MountedFat fat(b.image());
        EXPECT_EQ(fat.mount(), c.expected);
        EXPECT_FALSE(fat.volume().FatLoaded());
        std::unique_ptr<FAT_FILE> file;
        EXPECT_EQ(fat.volume().OpenPath("\\X", file), rc::kFatNotLoaded);
    }
}

FatImageBuilder smallFat32()
{
    return FatImageBuilder(FatImageBuilder::fat32(8, 1100, 32));
}

TEST(FatMount, Fat32VersionActiveFatAndRootCluster)
{
    {
        FatImageBuilder b = smallFat32();
        b.addFile(0, "HELLO   TXT", pattern(700, 3));
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        EXPECT_EQ(fat.volume().Vars()->fatType, kFat32);
        Names names;
        ASSERT_EQ(fat.list("\\", names), 0);
        EXPECT_EQ(names, Names{"HELLO.TXT"});
    }
    {
        FatImageBuilder b = smallFat32();
        b.put(42, 1, 2);
        MountedFat fat(b.image());
        EXPECT_EQ(fat.mount(), rc::kBadFileSystemVersion);
    }
    for (const uint32_t root : {0u, 1u, 5000u}) {
        FatImageBuilder b = smallFat32();
        b.put(44, root, 4);
        MountedFat fat(b.image());
        EXPECT_EQ(fat.mount(), rc::kFatBadRootCluster) << root;
    }
    {
        // Only FAT 1 active, and only FAT 1 holds the chain of the file.
        FatImageBuilder b = smallFat32();
        b.addFile(0, "HELLO   TXT", pattern(1200, 3));
        const uint32_t fatBytes = 8 * 512;
        std::memset(b.image().data() + 32 * 512, 0, fatBytes);
        b.put(40, 0x81, 2);
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        EXPECT_EQ(fat.volume().Vars()->activeFat, 1);
        std::vector<uint8_t> data;
        ASSERT_EQ(fat.readAll("\\HELLO.TXT", data), 0);
        EXPECT_EQ(data, pattern(1200, 3));
        b.put(40, 0x82, 2); // a FAT that does not exist
        MountedFat bad(b.image());
        EXPECT_EQ(bad.mount(), rc::kFatBadGeometry);
    }
}

TEST(FatMount, OutOfMemoryAndNinthVolume)
{
    FatImageBuilder b = smallFat12();
    {
        MountedFat fat(b.image());
        setMemoryFaultHook([](size_t size) { return size > 1000; });
        EXPECT_EQ(fat.mount(), rc::kOutOfMemory);
        setMemoryFaultHook({});
        EXPECT_EQ(fat.mount(), 0);
    }
    MountedFat first(b.image());
    std::vector<std::unique_ptr<FAT_VOLUME>> others;
    for (int i = 1; i < kSlotCount; ++i)
        others.push_back(std::make_unique<FAT_VOLUME>(&first.info()));
    FAT_VOLUME ninth(&first.info());
    EXPECT_EQ(ninth.Mount(), rc::kSlotNotOpen);
}

TEST(FatList, LongNamesShortNamesAndWhatIsNotListed)
{
    FatImageBuilder b = smallFat12();
    b.addRaw(0, FatImageBuilder::shortEntry("IMBREX     ", 0x08, 0, 0)); // volume label
    b.addFile(0, "FOURTE~1TXT", pattern(10, 1), u"Fourteen chars");
    // A deleted file with a long name: every entry starts with 0xE5.
    for (auto e :
         FatImageBuilder::longEntries(u"Deleted long name", FatImageBuilder::checksum("DELETE~1TXT"))) {
        e[0] = 0xE5;
        b.addRaw(0, e);
    }
    auto deleted = FatImageBuilder::shortEntry("DELETE~1TXT", 0x20, 0, 0);
    deleted[0] = 0xE5;
    b.addRaw(0, deleted);
    b.addFile(0, "EA DATA  SF", pattern(5, 2));
    b.addRaw(0, FatImageBuilder::shortEntry("ODDDIR     ", 0x18, 0, 0));
    b.addDirectory(0, "DOCS       ");
    // A long-name set claiming 21 parts has no room; its short name is listed instead.
    auto tooLong = FatImageBuilder::longEntries(u"x", FatImageBuilder::checksum("TOOLONG TXT"));
    tooLong[0][0] = 0x40 | 21;
    b.addRaw(0, tooLong[0]);
    b.addFile(0, "TOOLONG TXT", {});
    // A set with a part missing falls back to the short name as well.
    auto partial = FatImageBuilder::longEntries(u"Twenty-seven characters....",
                                                FatImageBuilder::checksum("PARTIA~1   "));
    b.addRaw(0, partial[0]);
    b.addRaw(0, partial[2]);
    b.addFile(0, "PARTIA~1   ", {});

    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    DIRLIST list;
    Names names;
    ASSERT_EQ(fat.list("\\", names, &list), 0);
    EXPECT_EQ(names, (Names{"Fourteen chars", "ODDDIR", "DOCS", "TOOLONG.TXT", "PARTIA~1"}));
    EXPECT_EQ(list.Entry(1)->attributes, 0x18u);
    const DirListEntry &first = *list.Entry(0);
    EXPECT_EQ(first.size, 10u);
    EXPECT_EQ(first.entryOffset, 3 * 32); // after the label and two long-name entries
    EXPECT_EQ(first.date.year, 41);
    EXPECT_EQ(first.date.month, 3);
    EXPECT_EQ(first.date.day, 4);
    EXPECT_EQ(first.time.hour, 5);
    EXPECT_EQ(first.time.minute, 3);
    EXPECT_EQ(first.time.second, 8);
    EXPECT_EQ(first.rawEntry[0], 'F');

    ASSERT_EQ(fat.list("\\DOCS", names), 0);
    EXPECT_EQ(names, (Names{".", ".."}));
    EXPECT_EQ(fat.list("\\FOURTE~1.TXT", names), rc::kPathNotFound); // a file is not a directory
}

TEST(FatList, FullFixedRootWithoutEndEntryListsEverything)
{
    FatImageBuilder::Geometry g;
    g.rootEntries = 16;
    FatImageBuilder b(g);
    for (int i = 0; i < 16; ++i)
        b.addFile(0, "F" + std::string(1, static_cast<char>('A' + i)) + "      BIN", {});
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    Names names;
    ASSERT_EQ(fat.list("\\", names), 0);
    EXPECT_EQ(names.size(), 16u);
}

TEST(FatList, ListsADirectoryFileAndDotDotLeadsToTheRoot)
{
    FatImageBuilder b = smallFat12();
    const uint32_t docs = b.addDirectory(0, "DOCS       ");
    b.addFile(docs, "README  TXT", pattern(20, 4));
    b.addFile(0, "TOP     BIN", {});
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    DIRLIST list;
    std::unique_ptr<FAT_FILE> opened;
    ASSERT_EQ(fat.volume().ListDirectory(list, "\\DOCS", nullptr, &opened, 1), 0);
    ASSERT_TRUE(opened);
    DIRLIST again;
    ASSERT_EQ(fat.volume().ListDirectory(again, "", opened.get(), nullptr, 1), 0);
    ASSERT_EQ(again.GetCount(), 3);
    EXPECT_EQ(again.Entry(2)->name, "README.TXT");
    std::unique_ptr<FAT_FILE> parent;
    ASSERT_EQ(fat.volume().MakeFile(again.Entry(1)->rawEntry.data(), parent), 0);
    DIRLIST root;
    ASSERT_EQ(fat.volume().ListDirectory(root, "", parent.get(), nullptr, 1), 0);
    ASSERT_EQ(root.GetCount(), 2);
    EXPECT_EQ(root.Entry(1)->name, "TOP.BIN");
}

TEST(FatPath, EightThreeComponentsMatchExactly)
{
    FatImageBuilder b = smallFat12();
    const uint32_t docs = b.addDirectory(0, "DOCS       ", u"Documents");
    b.addFile(docs, "README  TXT", pattern(20, 4));
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);

    std::array<uint8_t, 32> entry;
    FatEntryLocation where;
    ASSERT_EQ(fat.volume().FindPath("\\DOCS\\README.TXT", 0, entry, where), 0);
    EXPECT_EQ(std::memcmp(entry.data(), "README  TXT", 11), 0);
    EXPECT_EQ(where.parentCluster, static_cast<int32_t>(docs));
    EXPECT_EQ(where.cluster, static_cast<int32_t>(docs));
    EXPECT_EQ(where.sector, 0);
    EXPECT_EQ(where.entryIndex, 2);
    EXPECT_EQ(fat.volume().FindPath("C:\\docs\\readme.txt", 0, entry, where), 0);
    EXPECT_EQ(fat.volume().FindPath("\\Documents\\README.TXT", 0, entry, where), rc::kPathNotFound);
    EXPECT_EQ(fat.volume().FindPath("\\DOCS\\README.TX", 0, entry, where), rc::kPathNotFound);
    EXPECT_EQ(fat.volume().FindPath("\\DOCS\\README.TXT", 0x10, entry, where), rc::kPathNotFound);
    EXPECT_EQ(fat.volume().FindPath("\\DOCS\\README.TXT\\X", 0, entry, where), rc::kPathNotFound);
    EXPECT_EQ(fat.volume().FindPath("\\", 0, entry, where), rc::kPathNotFound);
}

TEST(FatRead, OneClusterFileAndOneBytePastIt)
{
    FatImageBuilder b = smallFat12();
    b.addFile(0, "ONE     BIN", pattern(512, 5));
    b.addFile(0, "EMPTY   BIN", {});
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    std::unique_ptr<FAT_FILE> file;
    ASSERT_EQ(fat.volume().OpenPath("\\ONE.BIN", file), 0);
    std::vector<uint8_t> data(513);
    EXPECT_EQ(fat.volume().ReadFile(*file, data.data(), 513), rc::kBeyondEnd);
    ASSERT_EQ(fat.volume().ReadFile(*file, data.data(), 512), 0);
    data.resize(512);
    EXPECT_EQ(data, pattern(512, 5));
    EXPECT_EQ(fat.volume().ReadFile(*file, data.data(), 1), rc::kBeyondEnd);
    EXPECT_EQ(fat.volume().Seek(*file, 513), rc::kSeekBeyondEnd);

    ASSERT_EQ(fat.volume().OpenPath("\\EMPTY.BIN", file), 0);
    EXPECT_EQ(fat.volume().ReadFile(*file, data.data(), 0), 0);
    EXPECT_EQ(fat.volume().ReadFile(*file, data.data(), 1), rc::kBeyondEnd);
}

TEST(FatRead, LargeFileInTwoPiecesAndBackwards)
{
    FatImageBuilder b = smallFat12(600);
    const auto content = pattern(65537, 6);
    b.addFile(0, "BIG     BIN", content);
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    std::unique_ptr<FAT_FILE> file;
    ASSERT_EQ(fat.volume().OpenPath("\\BIG.BIN", file), 0);
    std::vector<uint8_t> data(65537);
    ASSERT_EQ(fat.volume().ReadFile(*file, data.data(), 40000), 0);
    ASSERT_EQ(fat.volume().ReadFile(*file, data.data() + 40000, 25537), 0);
    EXPECT_EQ(data, content);

    // Seeking below the current cluster walks the chain again from its start.
    ASSERT_EQ(fat.volume().Seek(*file, 1000), 0);
    EXPECT_EQ(file->clusterIndex, 1u);
    uint8_t piece[600];
    ASSERT_EQ(fat.volume().ReadFile(*file, piece, sizeof piece), 0);
    EXPECT_EQ(std::memcmp(piece, content.data() + 1000, sizeof piece), 0);
    ASSERT_EQ(fat.volume().Seek(*file, 65537), 0);
    EXPECT_EQ(fat.volume().ReadFile(*file, piece, 1), rc::kBeyondEnd);
}

TEST(FatRead, ChainShorterThanTheSize)
{
    FatImageBuilder b = smallFat12();
    const uint32_t first = b.addFile(0, "SHORT   BIN", pattern(2000, 7));
    b.setFat(first + 1, 0xFFF); // two clusters for four clusters' worth of bytes
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    std::vector<uint8_t> data;
    EXPECT_EQ(fat.readAll("\\SHORT.BIN", data), rc::kBeyondEnd);
    std::unique_ptr<FAT_FILE> file;
    ASSERT_EQ(fat.volume().OpenPath("\\SHORT.BIN", file), 0);
    EXPECT_EQ(fat.volume().Seek(*file, 1600), rc::kSeekBeyondEnd);
    EXPECT_EQ(file->clusterIndex, 0xFFFFu);
    ASSERT_EQ(fat.volume().Seek(*file, 600), 0); // a seek within the chain still works afterwards
    uint8_t piece[100];
    ASSERT_EQ(fat.volume().ReadFile(*file, piece, sizeof piece), 0);
    EXPECT_EQ(std::memcmp(piece, pattern(2000, 7).data() + 600, sizeof piece), 0);
}

TEST(FatDamage, LoopsAndStrayClustersAreRefused)
{
    struct Case
    {
        const char *what;
        uint32_t offset; // cluster, relative to the file's first
        uint32_t value;  // 0xFFFF: point back to the first cluster
        int expected;
    };
    const Case cases[] = {
        {"loop to the start", 3, 0xFFFF, rc::kFatChainLoop},
        {"self loop", 2, 0xFFFE, rc::kFatChainLoop},
        {"beyond the FAT", 1, 4000, rc::kFatClusterOutOfRange},
        {"cluster 1", 1, 1, rc::kFatClusterOutOfRange},
        {"free cluster", 2, 0, rc::kFatClusterOutOfRange},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FatImageBuilder b = smallFat12();
        const uint32_t first = b.addFile(0, "FILE    BIN", pattern(5 * 512, 8));
        const uint32_t at = first + c.offset;
        b.setFat(at, c.value == 0xFFFF ? first : c.value == 0xFFFE ? at : c.value);
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        std::vector<uint8_t> data;
        EXPECT_EQ(fat.readAll("\\FILE.BIN", data), c.expected);
    }
    // A file that starts outside the data area, and one that starts on cluster 0 but claims bytes.
    for (const uint32_t start : {0u, 1u, 4000u}) {
        FatImageBuilder b = smallFat12();
        b.addRaw(0, FatImageBuilder::shortEntry("BAD     BIN", 0x20, start, 100));
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        std::vector<uint8_t> data;
        EXPECT_EQ(fat.readAll("\\BAD.BIN", data), rc::kFatClusterOutOfRange) << start;
    }
}

TEST(FatDamage, DirectoriesThatLoopOrNeverEnd)
{
    {
        FatImageBuilder b = smallFat12();
        const uint32_t dir = b.addDirectory(0, "LOOP       ");
        b.setFat(dir, dir);
        b.addFile(0, "AFTER   BIN", {});
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        Names names;
        EXPECT_EQ(fat.list("\\LOOP", names), rc::kFatChainLoop);
        std::array<uint8_t, 32> entry;
        FatEntryLocation where;
        EXPECT_EQ(fat.volume().FindPath("\\LOOP\\X", 0, entry, where), rc::kFatChainLoop);
    }
    {
        // 2 MiB of deleted entries and more: a directory larger than any FAT directory may be.
        FatImageBuilder::Geometry g;
        g.sectorsPerCluster = 8;
        g.fatBits = 12;
        g.totalSectors = 4400 + 100;
        g.sectorsPerFat = 12;
        FatImageBuilder b(g);
        const uint32_t clusters = (kMaxDirectoryEntries * 32) / 4096 + 1;
        const uint32_t dir = b.allocate(clusters);
        b.addRaw(0, FatImageBuilder::shortEntry("HUGE       ", 0x10, dir, 0));
        for (uint32_t i = 0; i < clusters * 4096; i += 32)
            b.image()[b.clusterOffset(dir) + i] = 0xE5;
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        Names names;
        EXPECT_EQ(fat.list("\\HUGE", names), rc::kFatDirectoryTooLarge);
        std::array<uint8_t, 32> entry;
        FatEntryLocation where;
        EXPECT_EQ(fat.volume().FindPath("\\HUGE\\X", 0, entry, where), rc::kFatDirectoryTooLarge);
    }
    {
        // A FAT32 root whose chain meets a free cluster.
        FatImageBuilder b = smallFat32();
        b.setFat(2, 0);
        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        Names names;
        EXPECT_EQ(fat.list("\\", names), rc::kPathNotFound);
    }
}

// Passes reads on, except that reads touching sectors first .. last fail while failing is set.
class FailingSectors : public SectorSource
{
public:
    static constexpr int kCode = 77;
    FailingSectors(SectorSource &inner, uint32_t first, uint32_t last)
        : m_inner(inner), m_first(first), m_last(last)
    {
    }
    int ReadSectors(uint32_t sector, void *buffer, uint32_t count) override
    {
        if (failing && sector <= m_last && sector + count > m_first)
            return kCode;
        return m_inner.ReadSectors(sector, buffer, count);
    }
    bool failing = true;

private:
    SectorSource &m_inner;
    uint32_t m_first;
    uint32_t m_last;
};

TEST(FatDamage, FatSectorsThatCannotBeReadFailTheChainsThatReachThem)
{
    // A FAT32 table of two pieces; the second piece's sectors fail. A file inside the first piece reads;
    // one whose chain runs into the second gives the read's error, and reads once the sectors come back.
    const FatImageBuilder::Geometry g = FatImageBuilder::fat32(40, 32 + 2 * 40 + 4300, 32);
    FatImageBuilder b(g);
    const uint32_t entriesPerPiece = FAT_VARS::kFatPieceSectors * 512 / 4;
    b.addFile(0, "EARLY   BIN", pattern(3 * 512, 1));
    b.allocate(entriesPerPiece - 10);
    b.addFile(0, "LATE    BIN", pattern(20 * 512, 2));
    MountedFat fat(b.image());
    const uint32_t secondPiece = g.reservedSectors + FAT_VARS::kFatPieceSectors;
    FailingSectors source(fat.source(), secondPiece, secondPiece + FAT_VARS::kFatPieceSectors - 1);
    setCurrentSectorSource(&source);
    ASSERT_EQ(fat.mount(), 0);
    std::vector<uint8_t> data;
    ASSERT_EQ(fat.readAll("\\EARLY.BIN", data), 0);
    EXPECT_EQ(data, pattern(3 * 512, 1));
    EXPECT_EQ(fat.readAll("\\LATE.BIN", data), FailingSectors::kCode);
    source.failing = false;
    ASSERT_EQ(fat.readAll("\\LATE.BIN", data), 0);
    EXPECT_EQ(data, pattern(20 * 512, 2));
    setCurrentSectorSource(&fat.source());
}

} // namespace
