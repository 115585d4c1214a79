// The NTFS parsers on crafted byte buffers: boot sector, fix-ups, file records, runlists, index entries, the
// case table and file times.
#include <cstdlib>
#include <ctime>
#include <vector>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ntfs/NTFS_RUNLIST.h"
#include "engine/ntfs/NtfsBootSector.h"
#include "engine/ntfs/NtfsIndexNode.h"
#include "engine/ntfs/NtfsNames.h"
#include "engine/ntfs/NtfsRecord.h"
#include "engine/ntfs/NtfsTime.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"

using namespace imbrex;
using namespace imbrex::engine;
using namespace imbrex::engine::ntfs;
using imbrex::test::NtfsVolumeBuilder;

namespace {

std::vector<std::byte> bootSector(uint8_t jump = 0xEB, uint8_t sectorsPerCluster = 8,
                                  uint8_t perRecord = 0xF6)
{
    std::vector<std::byte> b(512);
    b[0] = std::byte{jump};
    const char oem[] = "NTFS    ";
    for (size_t i = 0; i < 8; ++i)
        b[3 + i] = std::byte(oem[i]);
    storeLe16(b, 11, 512);
    b[13] = std::byte{sectorsPerCluster};
    storeLe64(b, 40, 8192);
    storeLe64(b, 48, 4);
    b[64] = std::byte{perRecord};
    return b;
}

TEST(NtfsBootSectorTest, AcceptsBothJumpsAndDerivesRecordGeometry)
{
    for (uint8_t jump : {uint8_t{0xEB}, uint8_t{0xE9}}) {
        NtfsBootSector g;
        ASSERT_EQ(NtfsBootSector::parse(bootSector(jump), g), rc::kOk);
        EXPECT_EQ(g.clusterBytes, 4096u);
        EXPECT_EQ(g.recordBytes, 1024u);
        EXPECT_EQ(g.sectorsPerRecord, 2u);
        EXPECT_EQ(g.totalClusters, 1024u);
        EXPECT_EQ(g.mftCluster, 4u);
    }
    NtfsBootSector g;
    ASSERT_EQ(NtfsBootSector::parse(bootSector(0xEB, 1, 2), g), rc::kOk);
    EXPECT_EQ(g.recordBytes, 1024u); // two clusters of 512 bytes
}

TEST(NtfsBootSectorTest, RefusesWhatIsNotAUsableNtfsBootSector)
{
    NtfsBootSector g;
    EXPECT_EQ(NtfsBootSector::parse(bootSector(0xEA), g), rc::kNtfsNotNtfs);
    auto oem = bootSector();
    oem[7] = std::byte{'X'};
    EXPECT_EQ(NtfsBootSector::parse(oem, g), rc::kNtfsNotNtfs);
    EXPECT_EQ(NtfsBootSector::parse(bootSector(0xEB, 0), g), rc::kNtfsBadClusterSize);
    EXPECT_EQ(NtfsBootSector::parse(bootSector(0xEB, 3), g), rc::kNtfsBadClusterSize);
    auto noSectorSize = bootSector();
    storeLe16(noSectorSize, 11, 0);
    EXPECT_EQ(NtfsBootSector::parse(noSectorSize, g), rc::kNtfsBadClusterSize);
    // Record sizes: 0 clusters, more than 4 clusters, 256 and 8192 bytes.
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0x05}, uint8_t{0xF8}, uint8_t{0xF3}})
        EXPECT_EQ(NtfsBootSector::parse(bootSector(0xEB, 8, v), g), rc::kNtfsBadRecordSize) << int{v};
    auto huge = bootSector();
    storeLe64(huge, 40, uint64_t{1} << 32);
    EXPECT_EQ(NtfsBootSector::parse(huge, g), rc::kNtfsTooLarge);
}

TEST(NtfsFixupTest, RestoresSectorEndsAndRefusesTornSectors)
{
    std::vector<std::byte> rec(1024);
    storeLe16(rec, 510, 0x1111);
    storeLe16(rec, 1022, 0x2222);
    NtfsVolumeBuilder::protect(rec, 48, 0x0007);
    auto torn = rec;
    ASSERT_EQ(ApplyFixups(rec, 48, 2), rc::kOk);
    EXPECT_EQ(loadLe16(rec, 510), 0x1111);
    EXPECT_EQ(loadLe16(rec, 1022), 0x2222);

    storeLe16(torn, 1022, 0x0008); // second sector written by another update
    EXPECT_EQ(ApplyFixups(torn, 48, 2), rc::kNtfsBadFixup);
    EXPECT_EQ(ApplyFixups(torn, 1020, 2), rc::kNtfsBadFixup); // array outside the buffer
}

// A record as the builder lays it out, with its attributes, before protection.
std::vector<std::byte> recordWith(uint16_t usaOffset, const std::function<void(NtfsVolumeBuilder &)> &add,
                                  const std::function<void(std::span<std::byte>)> &damage = {})
{
    NtfsVolumeBuilder b(64, usaOffset);
    const uint32_t n = b.newRecord(false);
    add(b);
    if (damage)
        b.mutateRecord(n, damage);
    const auto image = b.build();
    const size_t offset = size_t{NtfsVolumeBuilder::kMftCluster} * 4096 + size_t{n} * 1024;
    return {image.begin() + static_cast<std::ptrdiff_t>(offset),
            image.begin() + static_cast<std::ptrdiff_t>(offset + 1024)};
}

TEST(NtfsRecordTest, ParsesBothArrayOffsetsAndListsAttributes)
{
    for (uint16_t usa : {uint16_t{42}, uint16_t{48}}) {
        auto rec = recordWith(usa, [](NtfsVolumeBuilder &b) {
            b.addResident(16, 0x80, u"", std::vector<std::byte>(5, std::byte{'x'}));
            b.addResident(16, 0x80, u"alt", std::vector<std::byte>(3));
        });
        FileRecord r;
        ASSERT_EQ(parseFileRecord(rec, 2, r), rc::kOk) << usa;
        ASSERT_EQ(r.attributes.size(), 2u);
        EXPECT_EQ(r.attributes[0].valueLength, 5u);
        EXPECT_EQ(r.attributes[1].name, u"alt");
        EXPECT_FALSE(r.isExtension());
    }
}

TEST(NtfsRecordTest, RefusesDamagedRecords)
{
    auto data = [](NtfsVolumeBuilder &b) { b.addResident(16, 0x80, u"", std::vector<std::byte>(5)); };
    auto withData = [&](uint16_t usa, std::function<void(std::span<std::byte>)> damage) {
        return recordWith(usa, data, std::move(damage));
    };
    const size_t first = 56;
    struct Case
    {
        const char *what;
        std::function<void(std::span<std::byte>)> damage;
        int expected;
    } cases[] = {
        {"signature", [](auto r) { r[0] = std::byte{'B'}; }, rc::kNtfsBadRecordSignature},
        {"not in use", [](auto r) { storeLe16(r, 22, 0); }, rc::kNtfsRecordNotInUse},
        {"array offset 46", [](auto r) { storeLe16(r, 4, 46); }, rc::kNtfsBadFixup},
        {"array count", [](auto r) { storeLe16(r, 6, 2); }, rc::kNtfsBadFixup},
        {"attribute length 0", [&](auto r) { storeLe32(r, first + 4, 0); }, rc::kNtfsBadLayout},
        {"attribute past bytes in use", [&](auto r) { storeLe32(r, first + 4, 1000); }, rc::kNtfsBadLayout},
        {"value offset", [&](auto r) { storeLe16(r, first + 20, 32); }, rc::kNtfsBadLayout},
        {"resident flag 2", [&](auto r) { r[first + 8] = std::byte{2}; }, rc::kNtfsBadResidentFlag},
        {"instance", [](auto r) { storeLe16(r, 40, 0); }, rc::kNtfsBadInstance},
        {"first attribute offset", [](auto r) { storeLe16(r, 20, 64); }, rc::kNtfsBadLayout},
        {"no end marker",
         [](auto r) {
             storeLe32(r, 24, 1024);
             std::fill(r.begin() + 88, r.end(), std::byte{0});
         },
         rc::kNtfsBadLayout},
    };
    for (const Case &c : cases) {
        auto rec = withData(48, c.damage);
        FileRecord r;
        EXPECT_EQ(parseFileRecord(rec, 2, r), c.expected) << c.what;
    }

    auto decreasing = recordWith(
        48,
        [](NtfsVolumeBuilder &b) {
            b.addResident(16, 0x80, u"", {});
            b.addResident(16, 0x30, u"", std::vector<std::byte>(66));
        },
        [](auto r) { storeLe32(r, 56, 0x90); });
    FileRecord parsed;
    EXPECT_EQ(parseFileRecord(decreasing, 2, parsed), rc::kNtfsTypesOutOfOrder);

    auto listInExtension = recordWith(
        48, [](NtfsVolumeBuilder &b) { b.addResident(16, 0x20, u"", {}); },
        [](auto r) { storeLe64(r, 32, 5); });
    EXPECT_EQ(parseFileRecord(listInExtension, 2, parsed), rc::kNtfsListInExtension);
}

TEST(NtfsRunlistTest, DecodesSparseAndBackwardRuns)
{
    // 4 clusters at 100, a hole of 3, 2 clusters at 100 - 60 = 40, 1 cluster at 40 + 1000.
    const auto pairs = NtfsVolumeBuilder::encodeRuns({{100, 4}, {-1, 3}, {40, 2}, {1040, 1}});
    NTFS_RUNLIST runs;
    ASSERT_EQ(runs.appendExtent(pairs, 0, 0, 10, 2000), rc::kOk);
    ASSERT_EQ(runs.runs().size(), 4u);
    EXPECT_EQ(runs.find(5)->cluster, NTFS_RUNLIST::kSparse);
    EXPECT_EQ(runs.find(8)->cluster, 40);
    EXPECT_EQ(runs.find(9)->cluster, 1040);
    EXPECT_EQ(runs.find(10), nullptr);
    EXPECT_EQ(runs.endVcn(), 10u);

    NTFS_RUNLIST negative;
    ASSERT_EQ(negative.appendExtent(NtfsVolumeBuilder::encodeRuns({{5, 1}, {-1, 1}}), 0, 0, 2, 100), rc::kOk);
    std::vector<std::byte> belowZero = {std::byte{0x11}, std::byte{1}, std::byte{0xF0}, std::byte{0}}; // -16
    NTFS_RUNLIST below;
    ASSERT_EQ(below.appendExtent(belowZero, 0, 0, 1, 100), rc::kOk);
    EXPECT_EQ(below.find(0)->cluster, NTFS_RUNLIST::kNegative);
}

TEST(NtfsRunlistTest, RefusesRunsOutsideVolumeOrAttribute)
{
    NTFS_RUNLIST runs;
    EXPECT_EQ(runs.appendExtent(NtfsVolumeBuilder::encodeRuns({{95, 10}}), 0, 0, 10, 100),
              rc::kNtfsRunBeyondVolume);
    auto cut = NtfsVolumeBuilder::encodeRuns({{10, 300}});
    cut.resize(3); // header says 2 + 1 bytes follow, only 2 remain
    runs.clear();
    EXPECT_EQ(runs.appendExtent(cut, 0, 0, 1000, 10000), rc::kNtfsRunlistBeyondAttribute);
    std::vector<std::byte> zeroLength = {std::byte{0x11}, std::byte{0}, std::byte{5}, std::byte{0}};
    runs.clear();
    EXPECT_EQ(runs.appendExtent(zeroLength, 0, 0, 10, 100), rc::kNtfsRunlistBeyondAttribute);
    // An extent must continue where the runs end.
    runs.clear();
    EXPECT_EQ(runs.appendExtent(NtfsVolumeBuilder::encodeRuns({{10, 1}}), 0, 3, 10, 100),
              rc::kNtfsRunlistShort);
}

TEST(NtfsIndexNodeTest, WalksEntriesAndRefusesNodesWithoutClosingEntry)
{
    auto entry = [](uint16_t length, uint16_t flags) {
        std::vector<std::byte> e(length);
        storeLe16(e, 8, length);
        storeLe16(e, 12, flags);
        return e;
    };
    std::vector<std::byte> root(32);
    storeLe32(root, 16, 16);
    auto first = entry(24, 1); // sub-node, no key
    storeLe64(first, 16, 7);
    root.insert(root.end(), first.begin(), first.end());
    auto node = IndexNode::forRoot(root);
    IndexNode::Entry e;
    ASSERT_EQ(node.next(e), rc::kOk);
    EXPECT_TRUE(e.hasSubNode);
    EXPECT_EQ(e.subNodeVcn, 7u);
    EXPECT_EQ(node.next(e), rc::kNtfsNoClosingEntry);

    auto zero = root;
    storeLe16(zero, 32 + 8, 0); // length 0 would never advance
    auto stuck = IndexNode::forRoot(zero);
    EXPECT_EQ(stuck.next(e), rc::kNtfsNoClosingEntry);

    IndexRoot r{4096, 1};
    EXPECT_EQ(indexVcnUnit(r, 4096), 4096u);
    EXPECT_EQ(indexVcnUnit(IndexRoot{4096, 8}, 65536), 512u); // blocks smaller than a cluster
    EXPECT_EQ(indexVcnUnit(IndexRoot{4096, 2}, 4096), 0u);
    EXPECT_EQ(indexVcnUnit(IndexRoot{0, 0}, 4096), 0u);
}

TEST(NtfsNamesTest, ComparesWithTheBuiltInCaseTable)
{
    EXPECT_EQ(CompareNames(u"WinNT", u"WINNT"), 0);
    EXPECT_EQ(CompareNames(u"\u00ff", u"\u0178"), 0); // ÿ and Ÿ
    EXPECT_EQ(CompareNames(u"\u03c2", u"\u03a3"), 0); // final sigma
    EXPECT_EQ(CompareNames(u"\u0444", u"\u0424"), 0); // Cyrillic ef
    EXPECT_EQ(CompareNames(u"\uff41", u"\uff21"), 0); // full-width a
    EXPECT_NE(CompareNames(u"\u10d0", u"\u10a0"), 0); // Georgian stays apart
    EXPECT_EQ(NtfsUpcase(u'\u0188'), u'\u0187');
    EXPECT_EQ(NtfsUpcase(u'\u0189'), u'\u0189'); // between the steps of 0188-018C/4
    EXPECT_EQ(NtfsUpcase(u'\u1f51'), u'\u1f59');
    EXPECT_LT(CompareNames(u"abc", u"ABCD"), 0);
    EXPECT_GT(CompareNames(u"b", u"A"), 0);
}

class NtfsTimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char *tz = std::getenv("TZ");
        m_saved = tz != nullptr ? tz : "";
        m_hadTz = tz != nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override
    {
        if (m_hadTz)
            ::setenv("TZ", m_saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_saved;
    bool m_hadTz = false;
};

TEST_F(NtfsTimeTest, ConvertsToDosDateAndTime)
{
    // 2021-03-04 05:06:09.5 UTC: seconds cut, then rounded down to an even second.
    const uint64_t t = (uint64_t{1614834369} + 11644473600ull) * 10'000'000 + 5'000'000;
    NtfsDosTime d;
    ASSERT_TRUE(NtfsFileTimeToDos(t, d));
    EXPECT_EQ(d.day, 4);
    EXPECT_EQ(d.month, 3);
    EXPECT_EQ(d.year, 41);
    EXPECT_EQ(d.hour, 5);
    EXPECT_EQ(d.minute, 6);
    EXPECT_EQ(d.second, 8);
    EXPECT_FALSE(NtfsFileTimeToDos((uint64_t{315532799} + 11644473600ull) * 10'000'000, d)); // 1979-12-31
    EXPECT_FALSE(NtfsFileTimeToDos(0, d));
    EXPECT_FALSE(NtfsFileTimeToDos(UINT64_MAX, d));
}

} // namespace
