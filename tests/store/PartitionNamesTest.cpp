#include "store/PartitionNames.h"

#include <set>

#include <gtest/gtest.h>

#include "PinnedFormats.h"

namespace imbrex::store {
namespace {

TEST(FileSystemNameTest, FatCodeTellsFat32FromTheTypeId)
{
    for (uint32_t typeId : {0x0Bu, 0x0Cu, 0x1Bu, 0x1Cu})
        EXPECT_EQ(FileSystemName(1, typeId), "FAT32") << typeId;
    for (uint32_t typeId : {0x00u, 0x01u, 0x04u, 0x06u, 0x0Eu, 0x10Bu})
        EXPECT_EQ(FileSystemName(1, typeId), "FAT") << typeId;
    EXPECT_EQ(FileSystemName(15, 0x06), "FAT32");
}

TEST(FileSystemNameTest, EveryCodeAndTheCodesAround)
{
    const char *expected[] = {"Unknown", "FAT",     "Xenix",  "Free",  "NTFS",       "Extended",
                              "EPBR",    "HPFS",    "BADMBR", "Linux", "OS/2 Boot",  "Linux/Minix",
                              "Unknown", "NetWare", "Tarrow", "FAT32", "Unformatted"};
    for (uint32_t code = 0; code < 17; ++code)
        EXPECT_EQ(FileSystemName(code, 0x83), expected[code]) << code;
    EXPECT_EQ(FileSystemName(12, 0x0B), "Unknown");
    EXPECT_EQ(FileSystemName(17, 0x0B), "Unknown");
    EXPECT_EQ(FileSystemName(0xFFFFFFFF, 0), "Unknown");
}

TEST(PartitionTypeNameTest, NamedIdsAndGaps)
{
    EXPECT_EQ(PartitionTypeName(0x01), "FAT 12-bit");
    EXPECT_EQ(PartitionTypeName(0x07), "IFS");
    EXPECT_EQ(PartitionTypeName(0x0C), "FAT 32-bit (Ext INT 13)");
    EXPECT_EQ(PartitionTypeName(0x1C), "FAT 32-bit (Ext INT 13)");
    EXPECT_EQ(PartitionTypeName(0x83), "Linux native file system (ext2fs/xiafs)");
    EXPECT_EQ(PartitionTypeName(0xA0), "Save to Disk Partition.");
    EXPECT_EQ(PartitionTypeName(0xFF), "Xenix bad-block table");
    for (uint32_t gap :
         {0x00u, 0x03u, 0x0Du, 0x12u, 0x13u, 0x15u, 0x19u, 0x1Au, 0x1Du, 0xFDu, 0x100u, 0xFFFFFFFFu})
        EXPECT_EQ(PartitionTypeName(gap), "Unknown") << gap;
}

// The table names exactly 66 ids; the only repeated text is the one shared by 0x0C and 0x1C.
TEST(PartitionTypeNameTest, SixtySixNamedIds)
{
    int named = 0;
    std::set<std::string> texts;
    for (uint32_t id = 0; id < 256; ++id) {
        std::string name = PartitionTypeName(id);
        if (name != "Unknown") {
            ++named;
            texts.insert(name);
        }
    }
    EXPECT_EQ(named, 66);
    EXPECT_EQ(texts.size(), 65u);
}

TEST(PartitionNamesTest, NamesAreTranslated)
{
    test::PinnedFormats pinned(true);
    EXPECT_EQ(FileSystemName(1, 0x0C), "<FAT32>");
    EXPECT_EQ(FileSystemName(40, 0), "<Unknown>");
    EXPECT_EQ(PartitionTypeName(0x82), "<Linux Swap partition>");
    EXPECT_EQ(PartitionTypeName(300), "<Unknown>");
}

} // namespace
} // namespace imbrex::store
