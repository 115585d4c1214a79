#include "store/PartitionProperties.h"

#include <gtest/gtest.h>

#include "PinnedFormats.h"
#include "tests/support/FakeStore.h"

namespace imbrex::store {
namespace {

TEST(SizeTextTest, MegabytesRoundedUpAndPlainBytes)
{
    EXPECT_EQ(sizeText(0), "0 MB  (0 bytes)");
    EXPECT_EQ(sizeText(1), "1 MB  (1 bytes)");
    EXPECT_EQ(sizeText(1048577), "2 MB  (1048577 bytes)");
    EXPECT_EQ(sizeText(uint64_t{4} << 30), "4096 MB  (4294967296 bytes)");
}

PartitionPropertiesFields sampleFields()
{
    PartitionPropertiesFields fields;
    fields.name = "Boot";
    fields.comment = "first line\r\nsecond line";
    fields.driveLetter = 'C';
    fields.partitionTypeId = 0x0B;
    fields.fileSystemType = 1;
    fields.kind = 2;
    fields.spanned = 0;
    fields.password = 0x1234;
    fields.compression = 5;
    fields.sectorCount = 8388608;
    fields.sectorSize = 512;
    fields.usedBlockCount = 1000;
    fields.sectorsPerBlock = 8;
    fields.storedSize = 0x123456789;
    return fields;
}

TEST(PartitionPropertiesTest, LinesTopToBottom)
{
    test::PinnedFormats pinned;
    std::vector<PropertyLine> lines = partitionPropertyLines(sampleFields());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Name:", "Boot"},
        {"Comment:", "first line\r\nsecond line"},
        {"Drive letter:", "C:"},
        {"Partition type:", "FAT 32-bit"},
        {"File system type:", "FAT32"},
        {"Status:", "Primary"},
        {"Spanned:", "No"},
        {"Compression:", "High"},
        {"Password protected:", "Yes"},
        {"Partition size:", "4096 MB  (4294967296 bytes)"},
        {"Used space in partition:", "4 MB  (4096000 bytes)"},
        {"Free space in partition:", "4093 MB  (4290871296 bytes)"},
        {"Physical size in image:", "4661 MB  (4886718345 bytes)"},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].caption, expected[i].first) << i;
        EXPECT_EQ(lines[i].value, expected[i].second) << i;
    }
}

TEST(PartitionPropertiesTest, StatusSpannedAndCompressionVariants)
{
    test::PinnedFormats pinned;
    PartitionPropertiesFields fields = sampleFields();
    fields.kind = 7;
    fields.spanned = 1;
    fields.password = 0;
    fields.compression = 400;
    std::vector<PropertyLine> lines = partitionPropertyLines(fields);
    EXPECT_EQ(lines[5].value, "");
    EXPECT_EQ(lines[6].value, "Yes");
    EXPECT_EQ(lines[7].value, "(400)");
    EXPECT_EQ(lines[8].value, "No");

    fields.spanned = 2; // any nonzero value means spanned
    EXPECT_EQ(partitionPropertyLines(fields)[6].value, "Yes");
}

TEST(PartitionPropertiesTest, UsedAndFreeSpaceEdges)
{
    PartitionPropertiesFields fields = sampleFields();
    fields.usedBlockCount = 0;
    std::vector<PropertyLine> lines = partitionPropertyLines(fields);
    EXPECT_EQ(lines[10].value, "0 MB  (0 bytes)");
    EXPECT_EQ(lines[11].value, lines[9].value);

    fields.usedBlockCount = 1;
    fields.sectorsPerBlock = 1;
    fields.sectorSize = 1;
    fields.sectorCount = 0;
    lines = partitionPropertyLines(fields);
    EXPECT_EQ(lines[10].value, "1 MB  (1 bytes)");
    // More used than the partition holds: free space is none, not a wrapped-around count.
    EXPECT_EQ(lines[11].value, "0 MB  (0 bytes)");

    // Three 32-bit factors whose product does not fit in 64 bits.
    fields.usedBlockCount = 0xFFFFFFFF;
    fields.sectorsPerBlock = 0xFFFFFFFF;
    fields.sectorSize = 0xFFFFFFFF;
    fields.sectorCount = 0xFFFFFFFF;
    lines = partitionPropertyLines(fields);
    EXPECT_EQ(lines[10].value, sizeText(UINT64_MAX));
    EXPECT_EQ(lines[11].value, "0 MB  (0 bytes)");
}

TEST(PartitionPropertiesTest, WordsAndCaptionsAreTranslated)
{
    test::PinnedFormats pinned(true);
    std::vector<PropertyLine> lines = partitionPropertyLines(sampleFields());
    EXPECT_EQ(lines[0].caption, "<Name:>");
    EXPECT_EQ(lines[0].value, "Boot");
    EXPECT_EQ(lines[5].value, "<Primary>");
    EXPECT_EQ(lines[6].value, "<No>");
    EXPECT_EQ(lines[7].value, "<High>");
    EXPECT_EQ(lines[9].value, "4096< MB  (>4294967296< bytes)>");
}

TEST(PartitionPropertiesTest, ReadsSelectedPartitionAndReleasesIt)
{
    test::PinnedFormats pinned;
    test::FakeStore store;
    store.partitions.resize(1);
    test::FakePartition &partition = store.partitions[0];
    partition.name = std::string(300, 'n');
    partition.comment = "note";
    partition.driveLetter = 'E';
    partition.typeId = 0x83;
    partition.fileSystemType = 9;
    partition.kind = 1;
    partition.spanned = 1;
    partition.compression = 301;
    partition.sectorCount = 4096;
    partition.sectorSize = 512;
    partition.usedBlockCount = 2;
    partition.sectorsPerBlock = 8;
    partition.storedSize = uint64_t{5} << 32;

    std::vector<PropertyLine> lines = partitionPropertyLines(store, 1);
    EXPECT_EQ(lines[0].value, std::string(255, 'n'));
    EXPECT_EQ(lines[1].value, "note");
    EXPECT_EQ(lines[2].value, "E:");
    EXPECT_EQ(lines[3].value, "Linux native file system (ext2fs/xiafs)");
    EXPECT_EQ(lines[4].value, "Linux");
    EXPECT_EQ(lines[5].value, "Logical");
    EXPECT_EQ(lines[6].value, "Yes");
    EXPECT_EQ(lines[7].value, "Low");
    EXPECT_EQ(lines[8].value, "No");
    EXPECT_EQ(lines[9].value, "2 MB  (2097152 bytes)");
    EXPECT_EQ(lines[10].value, "1 MB  (8192 bytes)");
    EXPECT_EQ(lines[11].value, "2 MB  (2088960 bytes)");
    EXPECT_EQ(lines[12].value, "20480 MB  (21474836480 bytes)");

    EXPECT_EQ(store.calls.front(), "SelectPartition(1)");
    EXPECT_EQ(store.calls.back(), "ReleasePartition(1)");
    EXPECT_EQ(store.callsStartingWith("GetPartitionName"), std::vector<std::string>{"GetPartitionName(256)"});
    EXPECT_EQ(store.callsStartingWith("GetPartitionComment"),
              std::vector<std::string>{"GetPartitionComment(256)"});
}

} // namespace
} // namespace imbrex::store
