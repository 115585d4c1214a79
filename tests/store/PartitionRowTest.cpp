#include "store/PartitionRow.h"

#include <vector>

#include <gtest/gtest.h>

#include "PinnedFormats.h"
#include "common/ResultCodes.h"
#include "tests/support/FakeStore.h"

namespace imbrex::store {
namespace {

TEST(SizeInMegabytesTest, RoundsUp)
{
    EXPECT_EQ(sizeInMegabytes(0), 0u);
    EXPECT_EQ(sizeInMegabytes(1), 1u);
    EXPECT_EQ(sizeInMegabytes(1048576), 1u);
    EXPECT_EQ(sizeInMegabytes(1048577), 2u);
    EXPECT_EQ(sizeInMegabytes(uint64_t{4} << 30), 4096u);
    EXPECT_EQ(sizeInMegabytes(UINT64_MAX), (UINT64_MAX >> 20) + 1);
}

TEST(CompressionTextTest, WordsByRangeAndNumbersOtherwise)
{
    test::PinnedFormats pinned;
    struct Case
    {
        uint32_t code;
        const char *text;
    };
    const Case cases[] = {
        {0, "None"},
        {1, "High"},
        {5, "High"},
        {8, "High"},
        {9, "(9)"},
        {99, "(99)"},
        {100, "Low"},
        {105, "Low"},
        {106, "(106)"},
        {150, "(150)"},
        {199, "(199)"},
        {200, "High"},
        {208, "High"},
        {209, "High"},
        {210, "(210)"},
        {299, "(299)"},
        {300, "Low"},
        {301, "Low"},
        {305, "Low"},
        {306, "(306)"},
        {400, "(400)"},
        {1234, "(1,234)"},
        {4294967295u, "(4,294,967,295)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CompressionText(c.code), c.text) << c.code;
}

TEST(CompressionTextTest, WordsAreTranslatedButNumbersAreNot)
{
    test::PinnedFormats pinned(true);
    EXPECT_EQ(CompressionText(0), "<None>");
    EXPECT_EQ(CompressionText(301), "<Low>");
    EXPECT_EQ(CompressionText(208), "<High>");
    EXPECT_EQ(CompressionText(1234), "(1,234)");
}

TEST(PartitionDateTest, ValidDates)
{
    EXPECT_TRUE(isValidDate(2024, 2, 29));
    EXPECT_TRUE(isValidDate(2000, 2, 29));
    EXPECT_TRUE(isValidDate(1, 1, 1));
    EXPECT_TRUE(isValidDate(9999, 12, 31));
    EXPECT_FALSE(isValidDate(2023, 2, 29));
    EXPECT_FALSE(isValidDate(1900, 2, 29));
    EXPECT_FALSE(isValidDate(2024, 4, 31));
    EXPECT_FALSE(isValidDate(2024, 13, 1));
    EXPECT_FALSE(isValidDate(2024, 0, 1));
    EXPECT_FALSE(isValidDate(2024, 1, 0));
    EXPECT_FALSE(isValidDate(0, 1, 1));
    EXPECT_FALSE(isValidDate(10000, 1, 1));
}

TEST(PartitionDateTest, InvalidDateShowsFirstOfJanuary1980)
{
    test::PinnedFormats pinned;
    EXPECT_EQ(partitionDateText(2024, 2, 29), "2024-02-29");
    EXPECT_EQ(partitionDateText(2023, 2, 29), "1980-01-01");
    EXPECT_EQ(partitionDateText(0, 0, 0), "1980-01-01");
    EXPECT_EQ(partitionDateText(65535, 65535, 65535), "1980-01-01");
}

PartitionRowFields sampleFields()
{
    PartitionRowFields fields;
    fields.name = "System";
    fields.driveLetter = 'C';
    fields.fileSystemType = 1;
    fields.partitionTypeId = 0x0C;
    fields.kind = 2;
    fields.year = 2003;
    fields.month = 7;
    fields.day = 14;
    fields.sectorCount = 8388608;
    fields.sectorSize = 512;
    fields.compression = 301;
    return fields;
}

TEST(PartitionRowTest, SevenFieldsEachEndedByBar)
{
    test::PinnedFormats pinned;
    EXPECT_EQ(formatPartitionRow(sampleFields()), "System|C:|FAT32|Primary|2003-07-14|4096 MB|Low|");
}

TEST(PartitionRowTest, StatusSizeAndDateVariants)
{
    test::PinnedFormats pinned;
    PartitionRowFields fields = sampleFields();
    fields.kind = 1;
    fields.sectorCount = 0;
    fields.month = 2;
    fields.day = 30;
    fields.compression = 150;
    EXPECT_EQ(formatPartitionRow(fields), "System|C:|FAT32|Logical|1980-01-01|0 MB|(150)|");

    fields.kind = 3;
    fields.sectorCount = 2049; // 1048576 + 512 bytes
    EXPECT_EQ(GetRowField(formatPartitionRow(fields), 4), "");
    EXPECT_EQ(GetRowField(formatPartitionRow(fields), 6), "2 MB");
}

TEST(PartitionRowTest, LargestPartitionDoesNotOverflow)
{
    test::PinnedFormats pinned;
    PartitionRowFields fields = sampleFields();
    fields.sectorCount = 0xFFFFFFFF;
    fields.sectorSize = 4096; // just under 16 TiB
    EXPECT_EQ(GetRowField(formatPartitionRow(fields), 6), "16777216 MB");
}

// A bar inside a field would shift every later field, and with it the sizes the status bar adds up.
TEST(PartitionRowTest, BarInNameKeepsFieldPositions)
{
    test::PinnedFormats pinned;
    PartitionRowFields fields = sampleFields();
    fields.name = "a|b";
    std::string row = formatPartitionRow(fields);
    EXPECT_EQ(GetRowField(row, 1), "a/b");
    EXPECT_EQ(GetRowField(row, 6), "4096 MB");
}

TEST(PartitionRowTest, MissingDriveLetterShowsColonOnly)
{
    test::PinnedFormats pinned;
    PartitionRowFields fields = sampleFields();
    fields.driveLetter = '\0';
    std::string row = formatPartitionRow(fields);
    EXPECT_EQ(row.find('\0'), std::string::npos);
    EXPECT_EQ(GetRowField(row, 2), ":");
}

TEST(GetRowFieldTest, FieldsByPosition)
{
    const std::string row = "name|C:|NTFS|Primary|1/2/2003|10 MB|None|";
    EXPECT_EQ(GetRowField(row, 1), "name");
    EXPECT_EQ(GetRowField(row, 2), "C:");
    EXPECT_EQ(GetRowField(row, 6), "10 MB");
    EXPECT_EQ(GetRowField(row, 7), "None");
    EXPECT_EQ(GetRowField(row, 8), "");
    EXPECT_EQ(GetRowField(row, 9), "");
    EXPECT_EQ(GetRowField(row, 0), "");
    EXPECT_EQ(GetRowField("a|b", 2), "b");
    EXPECT_EQ(GetRowField("||", 2), "");
}

TEST(GetRowFieldTest, TextWithoutBarIsEveryField)
{
    EXPECT_EQ(GetRowField("plain", 1), "plain");
    EXPECT_EQ(GetRowField("plain", 5), "plain");
    EXPECT_EQ(GetRowField("", 3), "");
}

TEST(BuildPartitionRowTest, SelectsReadsAndReleases)
{
    test::PinnedFormats pinned;
    test::FakeStore store;
    store.partitions.resize(2);
    store.partitions[1].name = "Data";
    store.partitions[1].driveLetter = 'D';
    store.partitions[1].fileSystemType = 4;
    store.partitions[1].kind = 1;
    store.partitions[1].year = 2010;
    store.partitions[1].month = 12;
    store.partitions[1].day = 31;
    store.partitions[1].sectorCount = 2048;
    store.partitions[1].sectorSize = 512;
    store.partitions[1].compression = 208;

    EXPECT_EQ(buildPartitionRow(store, 2), "Data|D:|NTFS|Logical|2010-12-31|1 MB|High|");
    const std::vector<std::string> expected = {
        "SelectPartition(2)", "GetPartitionName(100)", "GetDriveLetter",      "GetFileSystemType",
        "GetPartitionTypeId", "GetPartitionKind",      "GetPartitionDate",    "GetSectorCount",
        "GetSectorSize",      "GetCompression",        "ReleasePartition(1)",
    };
    EXPECT_EQ(store.calls, expected);
}

TEST(BuildPartitionRowTest, SpannedPartitionStillGetsItsRow)
{
    test::PinnedFormats pinned;
    test::FakeStore store;
    store.partitions.resize(1);
    store.partitions[0].name = "Span";
    store.partitions[0].selectError = rc::kSpanned;
    EXPECT_EQ(GetRowField(buildPartitionRow(store, 1), 1), "Span");
    EXPECT_TRUE(store.everySelectionReleased());
}

// A failed selection leaves the outs unwritten; the row must show zero values, not whatever was in memory.
TEST(BuildPartitionRowTest, FailedSelectionGivesZeroRow)
{
    test::PinnedFormats pinned;
    test::FakeStore store;
    EXPECT_EQ(buildPartitionRow(store, 3), "|:|Unknown||1980-01-01|0 MB|None|");
}

} // namespace
} // namespace imbrex::store
