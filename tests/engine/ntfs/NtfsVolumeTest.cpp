// NTFS_VOLUME on crafted volumes: mount checks, listings, lookups, reads through every kind of run, attribute
// lists, index blocks, the shared-object limits and hostile structures.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ConvertName.h"
#include "engine/SectorSource.h"
#include "engine/ntfs/NTFS_VOLUME.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"
#include "tests/support/MemorySectorSource.h"

using namespace imbrex;
using namespace imbrex::engine;
using imbrex::test::MemorySectorSource;
using imbrex::test::NtfsVolumeBuilder;

namespace {

std::vector<std::byte> bytes(const std::string &text)
{
    std::vector<std::byte> out(text.size());
    std::memcpy(out.data(), text.data(), text.size());
    return out;
}

std::vector<std::byte> pattern(size_t size, uint8_t seed)
{
    std::vector<std::byte> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = std::byte(static_cast<uint8_t>(i * 7 + seed + (i >> 8)));
    return out;
}

// A crafted volume mounted through an in-memory sector source.
class Volume
{
public:
    explicit Volume(std::vector<std::byte> image, uint32_t flags = kPartitionFlagsForRestore)
        : m_source(std::move(image))
    {
        m_info = m_source.partitionInfo(kFileSystemNtfs);
        m_info.openFlags = flags;
        setCurrentSectorSource(&m_source);
        m_volume = std::make_unique<NTFS_VOLUME>(&m_info);
        mountResult = m_volume->Mount();
    }
    ~Volume()
    {
        m_volume.reset();
        setCurrentSectorSource(nullptr);
    }

    NTFS_VOLUME &operator*() { return *m_volume; }
    NTFS_VOLUME *operator->() { return m_volume.get(); }
    MemorySectorSource &source() { return m_source; }

    // Opens and reads a whole file; the result code of the first failing step.
    int read(const char *path, std::vector<std::byte> &out, uint32_t *flags = nullptr)
    {
        NtfsFileHandle *h = nullptr;
        if (const int r = m_volume->NtfsOpenFile(path, &h); r != rc::kOk)
            return r;
        if (flags != nullptr)
            *flags = h->flags;
        out.assign(m_volume->NtfsGetFileSize64(h), std::byte{0});
        int r = rc::kOk;
        for (size_t done = 0; done < out.size() && r == rc::kOk;) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(out.size() - done, 65536));
            r = m_volume->NtfsReadFile(h, out.data() + done, n);
            done += n;
        }
        const int c = m_volume->NtfsCloseFile(h);
        return r != rc::kOk ? r : c;
    }

    int list(const char *path, std::vector<std::string> &names, DIRLIST *into = nullptr)
    {
        DIRLIST local;
        DIRLIST &l = into != nullptr ? *into : local;
        const int r = m_volume->NtfsListDirectory(l, path, 1);
        names.clear();
        for (int i = 0; i < l.GetCount(); ++i)
            names.push_back(l.Entry(i)->name);
        return r;
    }

    int mountResult = -1;

private:
    MemorySectorSource m_source;
    PARTITION_INFO m_info;
    std::unique_ptr<NTFS_VOLUME> m_volume;
};

TEST(NtfsVolumeTest, MountsAndListsUserFilesOnly)
{
    NtfsVolumeBuilder b;
    b.addFile(5, u"readme.txt", bytes("hello"));
    b.addFile(5, u"Data.bin", pattern(10000, 1), false);
    b.addDirectory(5, u"Folder");
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    EXPECT_EQ(v->RecordCount(), NtfsVolumeBuilder::kRecordCount);
    EXPECT_EQ(std::to_integer<int>(v->VolumeInformation()[8]), 3);
    EXPECT_EQ(v->OpenRecordCount(), 2u); // $MFT and $Bitmap stay open

    std::vector<std::string> names;
    DIRLIST list;
    ASSERT_EQ(v.list("\\", names, &list), rc::kOk);
    EXPECT_EQ(names, (std::vector<std::string>{"Data.bin", "Folder", "readme.txt"}));
    EXPECT_EQ(list.Entry(0)->size, 10000u);
    EXPECT_EQ(list.Entry(1)->attributes, kAttrDirectory);
    EXPECT_EQ(list.Entry(2)->attributes, 0u);
    EXPECT_EQ(v->OpenRecordCount(), 2u); // the listing released what it opened

    // The hidden metadata files still open by name.
    std::vector<std::byte> boot;
    ASSERT_EQ(v.read("\\$Boot", boot), rc::kOk);
    ASSERT_EQ(boot.size(), 4096u);
    EXPECT_EQ(std::memcmp(boot.data() + 3, "NTFS    ", 8), 0);
    uint32_t record = 0;
    uint32_t parent = 0;
    ASSERT_EQ(v->LookupPath("\\$Boot", record, parent), rc::kOk);
    EXPECT_EQ(record, 7u);
    EXPECT_EQ(parent, 5u);
}

TEST(NtfsVolumeTest, MountRefusesBadDescriptorsAndGeometry)
{
    EXPECT_EQ(Volume(NtfsVolumeBuilder().build(), 0x201).mountResult, rc::kNtfsNotLogical);

    auto noRecordSize = NtfsVolumeBuilder().build();
    noRecordSize[64] = std::byte{0};
    EXPECT_EQ(Volume(noRecordSize).mountResult, rc::kNtfsBadRecordSize);

    auto e9 = NtfsVolumeBuilder().build();
    e9[0] = std::byte{0xE9};
    EXPECT_EQ(Volume(e9).mountResult, rc::kOk);

    auto tooLarge = NtfsVolumeBuilder().build();
    storeLe64(tooLarge, 40, loadLe64(tooLarge, 40) + 8);
    EXPECT_EQ(Volume(tooLarge).mountResult, rc::kNtfsVolumeBeyondPartition);

    NtfsVolumeBuilder few;
    few.mutateRecord(0, [](std::span<std::byte> r) { storeLe64(r, 56 + 48, 15 * 1024); }); // $MFT data size
    EXPECT_EQ(Volume(few.build()).mountResult, rc::kNtfsTooFewRecords);

    // $Bitmap's run made to overlap the volume's end: 2 clusters from cluster 63 of 64.
    NtfsVolumeBuilder beyond;
    beyond.mutateRecord(6, [](std::span<std::byte> r) {
        const size_t pairs = 56 + loadLe16(r, 56 + 32);
        const uint8_t run[] = {0x11, 2, 63, 0};
        for (size_t i = 0; i < 4; ++i)
            r[pairs + i] = std::byte{run[i]};
        storeLe64(r, 56 + 40, 2 * 4096); // allocated size
    });
    EXPECT_EQ(Volume(beyond.build()).mountResult, rc::kNtfsRunBeyondVolume);
}

TEST(NtfsVolumeTest, LooksUpNamesWithoutRegardToCaseInEveryNamespace)
{
    NtfsVolumeBuilder b;
    const uint32_t winnt = b.addDirectory(5, u"WinNT");
    const uint32_t system32 = b.addDirectory(winnt, u"System32");
    b.addFile(system32, u"kernel.dll", bytes("MZ"));
    // A long name with its short twin, and a POSIX name as other systems write them.
    const uint32_t longFile = b.addFile(5, u"Long File Name.text", bytes("long"), true, 1);
    b.addEntry(5, u"LONGFI~1.TEX", longFile, false, 4, 2, NtfsVolumeBuilder::kDefaultTime);
    b.addFile(5, u"posix.txt", bytes("posix"), true, 0);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);

    std::vector<std::string> names;
    ASSERT_EQ(v.list("\\WINNT\\SYSTEM32", names), rc::kOk);
    EXPECT_EQ(names, std::vector<std::string>{"kernel.dll"});
    ASSERT_EQ(v.list("\\", names), rc::kOk);
    EXPECT_EQ(names, (std::vector<std::string>{"Long File Name.text", "posix.txt", "WinNT"}));

    std::vector<std::byte> data;
    ASSERT_EQ(v.read("\\longfi~1.tex", data), rc::kOk);
    EXPECT_EQ(data, bytes("long"));
    ASSERT_EQ(v.read("POSIX.TXT", data), rc::kOk);
    EXPECT_EQ(data, bytes("posix"));

    EXPECT_EQ(v.read("\\missing.txt", data), rc::kNtfsNameNotFound);
    EXPECT_EQ(v.read("\\WinNT\\", data), rc::kNtfsPathEndsWithSeparator);
    EXPECT_EQ(v.read("\\WinNT", data), rc::kNtfsAttributeNotFound); // a directory has no unnamed data
    EXPECT_EQ(v.list("\\nowhere", names), rc::kNtfsDirectoryNotFound);
    EXPECT_EQ(v.list("\\posix.txt", names), rc::kNtfsDirectoryNotFound);
    EXPECT_EQ(v->OpenRecordCount(), 2u);
}

TEST(NtfsVolumeTest, NamesDifferingOnlyInCaseOpenByTheirExactSpelling)
{
    NtfsVolumeBuilder b;
    b.addFile(5, u"Case.txt", bytes("mixed"), true, 0);
    b.addFile(5, u"CASE.TXT", bytes("upper"), true, 0);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::byte> data;
    ASSERT_EQ(v.read("\\Case.txt", data), rc::kOk);
    EXPECT_EQ(data, bytes("mixed"));
    ASSERT_EQ(v.read("\\CASE.TXT", data), rc::kOk);
    EXPECT_EQ(data, bytes("upper"));
    ASSERT_EQ(v.read("\\case.Txt", data), rc::kOk); // no exact spelling: the first in key order
    EXPECT_EQ(data.size(), 5u);
}

TEST(NtfsVolumeTest, ListingConvertsNamesAndTimes)
{
    NtfsVolumeBuilder b;
    b.addFile(5, u"caf\u00e9 \u4e2d.txt", bytes("x"));
    b.addFile(5, u"old.txt", bytes("y"), true, 1, 116'444'736'000'000'000ull); // 1970-01-01
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    ASSERT_EQ(setAnsiCodePage(1252), 0);
    DIRLIST list;
    std::vector<std::string> names;
    const int r = v.list("\\", names, &list);
    (void)setAnsiCodePage(0);
    ASSERT_EQ(r, rc::kOk);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "caf\xe9 _.txt"); // é exists in 1252, the CJK character does not
    // A time before 1980 leaves the entry without a date instead of failing the listing.
    EXPECT_EQ(list.Entry(1)->date.year, 0);
    EXPECT_EQ(list.Entry(1)->date.day, 1);
    EXPECT_EQ(list.Entry(0)->date.year, 39); // 2019
}

TEST(NtfsVolumeTest, ReadsSparseUninitializedAndHugeFiles)
{
    NtfsVolumeBuilder b;
    // Cluster A, a hole of two clusters, cluster B; initialized only up to 2.5 clusters.
    const uint32_t a = b.allocate(1);
    const uint32_t c = b.allocate(1);
    const auto dataA = pattern(4096, 3);
    const auto dataB = pattern(4096, 9);
    std::copy(dataA.begin(), dataA.end(), b.cluster(a).begin());
    std::copy(dataB.begin(), dataB.end(), b.cluster(c).begin());
    const uint32_t sparse = b.newRecord(false);
    b.addNonResident(sparse, 0x80, u"", {{a, 1}, {-1, 2}, {c, 1}}, 4 * 4096);
    b.addEntry(5, u"sparse.bin", sparse, false, 4 * 4096, 1, NtfsVolumeBuilder::kDefaultTime);
    const uint32_t partial = b.newRecord(false);
    b.addNonResident(partial, 0x80, u"", {{a, 1}, {c, 1}}, 8000, 0, 0, 5000);
    b.addEntry(5, u"partial.bin", partial, false, 8000, 1, NtfsVolumeBuilder::kDefaultTime);
    // 5 GiB: one hole and the last cluster real.
    const uint64_t huge = uint64_t{5} << 30;
    const uint32_t big = b.newRecord(false);
    b.addNonResident(big, 0x80, u"", {{-1, huge / 4096 - 1}, {c, 1}}, huge);
    b.addEntry(5, u"huge.bin", big, false, huge, 1, NtfsVolumeBuilder::kDefaultTime);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);

    std::vector<std::byte> data;
    ASSERT_EQ(v.read("sparse.bin", data), rc::kOk);
    std::vector<std::byte> expected(4 * 4096);
    std::copy(dataA.begin(), dataA.end(), expected.begin());
    std::copy(dataB.begin(), dataB.end(), expected.begin() + 3 * 4096);
    EXPECT_EQ(data, expected);

    ASSERT_EQ(v.read("partial.bin", data), rc::kOk);
    expected.assign(8000, std::byte{0});
    std::copy(dataA.begin(), dataA.end(), expected.begin());
    std::copy_n(dataB.begin(), 5000 - 4096, expected.begin() + 4096);
    EXPECT_EQ(data, expected);

    NtfsFileHandle *h = nullptr;
    ASSERT_EQ(v->NtfsOpenFile("huge.bin", &h), rc::kOk);
    EXPECT_EQ(v->NtfsGetFileSize(h), 0xFFFFFFFFu);
    EXPECT_EQ(v->NtfsGetFileSize64(h), huge);
    std::vector<std::byte> tail(8192);
    h->position = huge - 8192;
    ASSERT_EQ(v->NtfsReadFile(h, tail.data(), 8192), rc::kOk);
    EXPECT_TRUE(
        std::all_of(tail.begin(), tail.begin() + 4096, [](std::byte x) { return x == std::byte{0}; }));
    EXPECT_TRUE(std::equal(dataB.begin(), dataB.end(), tail.begin() + 4096));
    EXPECT_EQ(h->position, huge);
    EXPECT_EQ(v->NtfsReadFile(h, tail.data(), 1), rc::kNtfsOffsetBeyondData);
    EXPECT_EQ(v->NtfsCloseFile(h), rc::kOk);
}

TEST(NtfsVolumeTest, ReadsFragmentedFilesInStepsOfAnySize)
{
    NtfsVolumeBuilder b;
    // Three runs, the second one placed before the first, with a gap after each.
    const uint32_t second = b.allocate(3);
    b.allocate(2);
    const uint32_t first = b.allocate(2);
    b.allocate(1);
    const uint32_t third = b.allocate(2);
    const uint64_t size = 6 * 4096 + 1000;
    const auto content = pattern(size, 5);
    auto place = [&](uint32_t cluster, size_t from, size_t clusters) {
        for (size_t i = 0; i < clusters; ++i) {
            const size_t at = from + i * 4096;
            const size_t n = std::min<size_t>(4096, size - at);
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(at), n,
                        b.cluster(cluster + static_cast<uint32_t>(i)).begin());
        }
    };
    place(first, 0, 2);
    place(second, 2 * 4096, 3);
    place(third, 5 * 4096, 2);
    const uint32_t record = b.newRecord(false);
    b.addNonResident(record, 0x80, u"", {{first, 2}, {second, 3}, {third, 2}}, size);
    b.addEntry(5, u"pieces.bin", record, false, size, 1, NtfsVolumeBuilder::kDefaultTime);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    for (uint32_t step : {1u, 511u, 4096u, 5000u, 12288u, 65536u}) {
        NtfsFileHandle *h = nullptr;
        ASSERT_EQ(v->NtfsOpenFile("pieces.bin", &h), rc::kOk);
        std::vector<std::byte> data(size);
        for (uint64_t done = 0; done < size;) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(size - done, step));
            ASSERT_EQ(v->NtfsReadFile(h, data.data() + done, n), rc::kOk) << step << " at " << done;
            done += n;
        }
        EXPECT_EQ(data, content) << step;
        EXPECT_EQ(v->NtfsCloseFile(h), rc::kOk);
    }
}

TEST(NtfsVolumeTest, RefusesNegativeRunsAndCompressedData)
{
    NtfsVolumeBuilder b;
    const uint32_t negative = b.newRecord(false);
    b.addNonResident(negative, 0x80, u"", {{20, 1}}, 100);
    b.mutateRecord(negative, [](std::span<std::byte> r) {
        const size_t pairs = 56 + 64;
        r[pairs] = std::byte{0x11};
        r[pairs + 1] = std::byte{1};
        r[pairs + 2] = std::byte{0xF0}; // cluster -16
    });
    b.addEntry(5, u"negative.bin", negative, false, 100, 1, NtfsVolumeBuilder::kDefaultTime);
    const uint32_t compressed = b.newRecord(false);
    b.addNonResident(compressed, 0x80, u"", {{20, 1}}, 100, 0, 0, UINT64_MAX, 0x0001);
    b.addEntry(5, u"compressed.bin", compressed, false, 100, 1, NtfsVolumeBuilder::kDefaultTime);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::byte> data;
    EXPECT_EQ(v.read("negative.bin", data), rc::kNtfsSparseOrNegativeRun);
    EXPECT_EQ(v.read("compressed.bin", data), rc::kNtfsCompressed);
}

TEST(NtfsVolumeTest, ReportsSeveralStreamsAndReadsTheUnnamedOne)
{
    NtfsVolumeBuilder b;
    const uint32_t n = b.addFile(5, u"ads.txt", bytes("main stream"));
    b.addResident(n, 0x80, u"second", bytes("other"));
    b.addFile(5, u"plain.txt", bytes("plain"));
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::byte> data;
    uint32_t flags = 0;
    ASSERT_EQ(v.read("ads.txt", data, &flags), rc::kOk);
    EXPECT_EQ(flags, kNtfsHandleMultipleData);
    EXPECT_EQ(data, bytes("main stream"));
    ASSERT_EQ(v.read("plain.txt", data, &flags), rc::kOk);
    EXPECT_EQ(flags, 0u);
}

// A file whose $DATA lies in two extension records, found through a resident attribute list.
NtfsVolumeBuilder withExtents(bool cyclic)
{
    NtfsVolumeBuilder b;
    const uint32_t first = b.allocate(2);
    const uint32_t second = b.allocate(1);
    auto content = pattern(3 * 4096, 5);
    std::copy_n(content.begin(), 8192, b.cluster(first).begin());
    std::copy_n(content.begin() + 4096, 4096, b.cluster(first + 1).begin());
    std::copy_n(content.begin() + 8192, 4096, b.cluster(second).begin());
    const uint32_t base = b.newRecord(false);
    const uint32_t ext1 = b.newRecord(false);
    const uint32_t ext2 = b.newRecord(false);
    b.addNonResident(ext1, 0x80, u"", {{first, 2}}, 3 * 4096, 0, 3);
    b.addNonResident(ext2, 0x80, u"", {{second, 1}}, 0, 2);
    for (uint32_t e : {ext1, ext2})
        b.mutateRecord(e, [base](std::span<std::byte> r) { storeLe64(r, 32, base | (uint64_t{1} << 48)); });
    std::vector<std::byte> list;
    auto listEntry = [&](uint32_t record, uint64_t vcn) {
        std::vector<std::byte> e(32);
        storeLe32(e, 0, 0x80);
        storeLe16(e, 4, 32);
        e[7] = std::byte{26};
        storeLe64(e, 8, vcn);
        storeLe64(e, 16, record | (uint64_t{1} << 48));
        list.insert(list.end(), e.begin(), e.end());
    };
    listEntry(ext1, 0);
    listEntry(cyclic ? ext1 : ext2, cyclic ? 0 : 2);
    b.addResident(base, 0x20, u"", list);
    b.addEntry(5, u"extents.bin", base, false, 3 * 4096, 1, NtfsVolumeBuilder::kDefaultTime);
    return b;
}

TEST(NtfsVolumeTest, FollowsAttributeListsIntoExtensionRecords)
{
    Volume v(withExtents(false).build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::byte> data;
    ASSERT_EQ(v.read("extents.bin", data), rc::kOk);
    EXPECT_EQ(data, pattern(3 * 4096, 5));

    // An extension record is not opened as a file on its own.
    NTFS_FRS *frs = nullptr;
    EXPECT_EQ(v->LoadFrs(17, frs), rc::kNtfsExtensionRecord);

    Volume cyclic(withExtents(true).build());
    ASSERT_EQ(cyclic.mountResult, rc::kOk);
    EXPECT_EQ(cyclic.read("extents.bin", data), rc::kNtfsRunlistShort);
}

TEST(NtfsVolumeTest, WalksIndexBlocksInKeyOrder)
{
    NtfsVolumeBuilder b;
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "file" + std::to_string(10 + i) + ".txt";
        b.addFile(5, std::u16string(name.begin(), name.end()), bytes(name));
        expected.push_back(name);
    }
    b.useIndexAllocation(5, 3);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::string> names;
    ASSERT_EQ(v.list("\\", names), rc::kOk);
    EXPECT_EQ(names, expected);
    std::vector<std::byte> data;
    ASSERT_EQ(v.read("\\FILE21.TXT", data), rc::kOk);
    EXPECT_EQ(data, bytes("file21.txt"));
}

TEST(NtfsVolumeTest, FindsNamesInAnIndexSortedOtherwise)
{
    for (bool reversed : {false, true}) {
        NtfsVolumeBuilder b;
        for (int i = 0; i < 12; ++i) {
            const std::string name = "file" + std::to_string(10 + i) + ".txt";
            b.addFile(5, std::u16string(name.begin(), name.end()), bytes(name));
        }
        b.useIndexAllocation(5, 3);
        if (reversed)
            b.reverseIndexOrder(5);
        Volume v(b.build());
        ASSERT_EQ(v.mountResult, rc::kOk);
        for (int i = 0; i < 12; ++i) {
            const std::string name = "file" + std::to_string(10 + i) + ".txt";
            std::vector<std::byte> data;
            ASSERT_EQ(v.read(("\\" + name).c_str(), data), rc::kOk) << name << (reversed ? " reversed" : "");
            EXPECT_EQ(data, bytes(name));
        }
        std::vector<std::byte> data;
        EXPECT_EQ(v.read("\\file09.txt", data), rc::kNtfsNameNotFound);
        EXPECT_EQ(v.read("\\file15.tx", data), rc::kNtfsNameNotFound);
        EXPECT_EQ(v.read("\\zzz", data), rc::kNtfsNameNotFound);
    }
}

TEST(NtfsVolumeTest, LookupsGoingFromDirectoryToDirectoryFindEachFileInItsOwn)
{
    // Same file names in directories whose names share a start, looked up in an order that keeps changing
    // the directory, so a lookup that began in the previous one's directory would give the wrong file.
    NtfsVolumeBuilder b;
    const uint32_t a = b.addDirectory(5, u"a");
    const uint32_t ab = b.addDirectory(a, u"b");
    const uint32_t abc = b.addDirectory(a, u"bc");
    b.addFile(ab, u"f.txt", bytes("a/b"));
    b.addFile(abc, u"f.txt", bytes("a/bc"));
    b.addFile(a, u"f.txt", bytes("a"));
    b.addFile(5, u"f.txt", bytes("root"));
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    const std::vector<std::pair<const char *, const char *>> lookups = {
        {"\\a\\b\\f.txt", "a/b"},   {"\\a\\b\\f.txt", "a/b"}, {"\\a\\bc\\f.txt", "a/bc"},
        {"\\A\\BC\\F.TXT", "a/bc"}, {"\\a\\f.txt", "a"},      {"\\f.txt", "root"},
        {"\\a\\b\\f.txt", "a/b"}};
    for (const auto &[path, content] : lookups) {
        std::vector<std::byte> data;
        ASSERT_EQ(v.read(path, data), rc::kOk) << path;
        EXPECT_EQ(data, bytes(content)) << path;
    }
    std::vector<std::byte> data;
    EXPECT_EQ(v.read("\\a\\b\\g.txt", data), rc::kNtfsNameNotFound);
    EXPECT_EQ(v.read("\\a\\bc\\f.txt", data), rc::kOk);
    EXPECT_EQ(data, bytes("a/bc"));
    // A volume mounted again starts afresh.
    ASSERT_EQ(v->Mount(), rc::kOk);
    ASSERT_EQ(v.read("\\a\\b\\f.txt", data), rc::kOk);
    EXPECT_EQ(data, bytes("a/b"));
}

TEST(NtfsVolumeTest, RefusesIndexLoopsAndMissingAllocation)
{
    // Every root entry of this index points to block 0, so a walk would read it again and again.
    NtfsVolumeBuilder loop;
    for (int i = 0; i < 6; ++i)
        loop.addFile(5, u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i)), bytes("x"));
    loop.useIndexAllocation(5, 2);
    loop.mutateRecord(5, [](std::span<std::byte> r) {
        // Point every sub-node of the root at VCN 0.
        for (size_t off = 56; off + 8 < r.size(); ++off) {
            if (loadLe32(r, off) == 0x90) {
                const size_t value = off + loadLe16(r, off + 20);
                size_t e = value + 16 + loadLe32(r, value + 16);
                for (int guard = 0; guard < 64; ++guard) {
                    const size_t len = loadLe16(r, e + 8);
                    if (loadLe16(r, e + 12) & 1)
                        storeLe64(r, e + len - 8, 0);
                    if (loadLe16(r, e + 12) & 2)
                        break;
                    e += len;
                }
                break;
            }
        }
    });
    Volume v(loop.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::string> names;
    EXPECT_EQ(v.list("\\", names), rc::kNtfsIndexLoop);
    EXPECT_EQ(v->OpenRecordCount(), 2u);

    // A sub-node in a directory without $INDEX_ALLOCATION: the attribute's type is changed so that it is not
    // found.
    NtfsVolumeBuilder noAllocation;
    noAllocation.addFile(5, u"a", bytes("x"));
    noAllocation.useIndexAllocation(5, 2);
    noAllocation.mutateRecord(5, [](std::span<std::byte> r) {
        for (size_t off = 56; loadLe32(r, off) != 0xFFFFFFFF; off += loadLe32(r, off + 4)) {
            if (loadLe32(r, off) == 0xA0)
                storeLe32(r, off, 0xA1);
        }
    });
    Volume missing(noAllocation.build());
    ASSERT_EQ(missing.mountResult, rc::kOk);
    EXPECT_EQ(missing.list("\\", names), rc::kNtfsNoAllocation);
}

TEST(NtfsVolumeTest, SharesRecordsWithinTheEightSlotLimit)
{
    NtfsVolumeBuilder b;
    for (int i = 0; i < 8; ++i)
        b.addFile(5, u"f" + std::u16string(1, static_cast<char16_t>(u'0' + i)), bytes("data"));
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<NtfsFileHandle *> handles;
    for (int i = 0; i < 6; ++i) {
        NtfsFileHandle *h = nullptr;
        const std::string path = "f" + std::to_string(i);
        ASSERT_EQ(v->NtfsOpenFile(path.c_str(), &h), rc::kOk) << i;
        handles.push_back(h);
    }
    // Two more records would be needed: the root for the lookup and the file itself.
    NtfsFileHandle *h = nullptr;
    EXPECT_EQ(v->NtfsOpenFile("f6", &h), rc::kNtfsTooManyRecords);
    EXPECT_EQ(h, nullptr);
    // Opening an open file again shares its record.
    NTFS_FRS *shared = nullptr;
    ASSERT_EQ(v->LoadFrs(handles[0]->frs->RecordNumber(), shared), rc::kOk);
    EXPECT_EQ(shared, handles[0]->frs);
    EXPECT_EQ(shared->ReferenceCount(), 2);
    EXPECT_EQ(v->ReleaseFrs(shared), rc::kOk);
    for (NtfsFileHandle *open : handles)
        EXPECT_EQ(v->NtfsCloseFile(open), rc::kOk);
    EXPECT_EQ(v->OpenRecordCount(), 2u);
    NTFS_FRS bogus;
    EXPECT_EQ(v->ReleaseFrs(&bogus), rc::kNtfsNotRegistered);
}

TEST(NtfsVolumeTest, CachesClustersAndSurvivesRelease)
{
    NtfsVolumeBuilder b;
    b.addFile(5, u"data.bin", pattern(3 * 4096, 2), false);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::byte> data;
    ASSERT_EQ(v.read("data.bin", data), rc::kOk);
    // The records and the index come from the cluster cache the second time; the file's three clusters
    // lie in one run and go straight into the caller's buffer in one read.
    uint64_t reads = v.source().reads();
    ASSERT_EQ(v.read("data.bin", data), rc::kOk);
    EXPECT_EQ(v.source().reads(), reads + 1);
    EXPECT_EQ(data, pattern(3 * 4096, 2));
    const std::byte *cluster = nullptr;
    ASSERT_EQ(v->LoadCluster(0, cluster), rc::kOk);
    reads = v.source().reads();
    ASSERT_EQ(v->LoadCluster(0, cluster), rc::kOk);
    EXPECT_EQ(v.source().reads(), reads);

    NtfsFileHandle *h = nullptr;
    ASSERT_EQ(v->NtfsOpenFile("data.bin", &h), rc::kOk);
    v->Release();
    std::byte one[1];
    EXPECT_EQ(v->NtfsReadFile(h, one, 1), rc::kNtfsNotOpen);
    EXPECT_EQ(v->NtfsGetFileSize(h), 0u);
    EXPECT_EQ(v->NtfsCloseFile(h), rc::kOk);
    EXPECT_EQ(v->NtfsCloseFile(h), rc::kNtfsNotOpen);
}

TEST(NtfsVolumeTest, ResidentReadsStayInsideTheValue)
{
    NtfsVolumeBuilder b;
    b.addFile(5, u"small.txt", bytes("0123456789"));
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    NtfsFileHandle *h = nullptr;
    ASSERT_EQ(v->NtfsOpenFile("small.txt", &h), rc::kOk);
    char buf[16] = {};
    ASSERT_EQ(v->NtfsReadFile(h, buf, 4), rc::kOk);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(v->NtfsReadFile(h, buf, 7), rc::kNtfsReadPastEnd); // 6 remain
    ASSERT_EQ(v->NtfsReadFile(h, buf, 6), rc::kOk);
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_EQ(v->NtfsCloseFile(h), rc::kOk);
}

// Walks the tree below path as extraction does, listing every listed directory by its path. The first failing
// code; listings counts the listings made.
int walkTree(Volume &v, const std::string &path, int &listings)
{
    DIRLIST list;
    ++listings;
    if (const int r = v->NtfsListDirectory(list, path.empty() ? "\\" : path.c_str(), 1); r != rc::kOk)
        return r;
    for (int i = 0; i < list.GetCount(); ++i) {
        if ((list.Entry(i)->attributes & kAttrDirectory) == 0)
            continue;
        if (const int r = walkTree(v, path + "\\" + list.Entry(i)->name, listings); r != rc::kOk)
            return r;
    }
    return rc::kOk;
}

TEST(NtfsVolumeTest, NamesLeadingBackToADirectoryOnThePathAreRefused)
{
    NtfsVolumeBuilder b;
    const uint32_t a = b.addDirectory(5, u"A");
    const uint32_t inner = b.addDirectory(a, u"B");
    b.addFile(inner, u"f.txt", bytes("leaf"));
    b.addEntry(inner, u"up", a, true, 0, 1, NtfsVolumeBuilder::kDefaultTime);
    b.addEntry(inner, u"top", 5, true, 0, 1, NtfsVolumeBuilder::kDefaultTime);
    b.addEntry(a, u"me", a, true, 0, 1, NtfsVolumeBuilder::kDefaultTime);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);

    int listings = 0;
    EXPECT_EQ(walkTree(v, "", listings), rc::kDirectoryLoop);
    EXPECT_LE(listings, 4);

    std::vector<std::string> names;
    // A lookup in B first, so that the next ones start from the directory it remembers.
    std::vector<std::byte> data;
    ASSERT_EQ(v.read("\\A\\B\\f.txt", data), rc::kOk);
    EXPECT_EQ(v.list("\\A\\B\\up", names), rc::kDirectoryLoop);
    EXPECT_EQ(v.list("\\A\\B\\top", names), rc::kDirectoryLoop);
    EXPECT_EQ(v.list("\\A\\me", names), rc::kDirectoryLoop);
    EXPECT_EQ(v.read("\\A\\B\\up\\B\\f.txt", data), rc::kDirectoryLoop);
    // The root itself is still found through its "." entry, and the rest of the tree is listed.
    EXPECT_EQ(v.list("\\", names), rc::kOk);
    EXPECT_EQ(v.list("\\A\\B", names), rc::kOk);
    EXPECT_EQ(names, (std::vector<std::string>{"f.txt", "up"}));
    EXPECT_EQ(v->OpenRecordCount(), 2u);
}

TEST(NtfsVolumeTest, AnIndexBlockThatIsItsOwnSubNodeFailsTheListing)
{
    NtfsVolumeBuilder b;
    for (int i = 0; i < 14; ++i)
        b.addFile(5, u"f" + std::u16string(1, static_cast<char16_t>(u'A' + i)), bytes("x"));
    b.useIndexAllocation(5, 4);
    b.pointFirstBlockAtItself(5);
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);
    std::vector<std::string> names;
    EXPECT_EQ(v.list("\\", names), rc::kNtfsIndexLoop);
    int listings = 0;
    EXPECT_EQ(walkTree(v, "", listings), rc::kNtfsIndexLoop);
    EXPECT_EQ(v->OpenRecordCount(), 2u);
}

TEST(NtfsVolumeTest, StalePointersAreRefusedWithoutBeingRead)
{
    NtfsVolumeBuilder b;
    const uint32_t file = b.addFile(5, u"data.bin", pattern(100, 1));
    Volume v(b.build());
    ASSERT_EQ(v.mountResult, rc::kOk);

    NTFS_FRS *frs = nullptr;
    ASSERT_EQ(v->LoadFrs(file, frs), rc::kOk);
    NTFS_ATTRIBUTE *data = nullptr;
    ASSERT_EQ(v->OpenAttribute(frs, NtfsResidency::Either, 0x80, u"", NTFS_ATTRIBUTE::kAnyInstance, data),
              rc::kOk);
    ASSERT_EQ(v->CloseAttribute(data), rc::kOk);
    // Freed: the attribute's memory is gone, and under a sanitizer any read of it fails the test.
    EXPECT_EQ(v->CloseAttribute(data), rc::kNtfsNotOpen);

    ASSERT_EQ(v->OpenAttribute(frs, NtfsResidency::Either, 0x80, u"", NTFS_ATTRIBUTE::kAnyInstance, data),
              rc::kOk);
    ASSERT_EQ(v->ReleaseFrs(frs), rc::kOk);
    // The record went and took its open attribute with it.
    EXPECT_EQ(v->ReleaseFrs(frs), rc::kNtfsNotRegistered);
    EXPECT_EQ(v->CloseAttribute(data), rc::kNtfsNotOpen);
    EXPECT_EQ(v->OpenRecordCount(), 2u);
}

} // namespace
