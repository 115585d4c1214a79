#include "PartitionNames.h"

#include <array>
#include <string_view>

#include "translate/Translate.h"

namespace imbrex::store {

namespace {

constexpr std::string_view kUnknown = "Unknown";

constexpr std::array<std::string_view, 17> kFileSystemNames = {
    "Unknown", "FAT",       "Xenix",       "Free",    "NTFS",    "Extended", "EPBR",  "HPFS",        "BADMBR",
    "Linux",   "OS/2 Boot", "Linux/Minix", "Unknown", "NetWare", "Tarrow",   "FAT32", "Unformatted",
};

constexpr uint32_t kFatCode = 1;

bool isFat32TypeId(uint32_t partitionTypeId)
{
    return partitionTypeId == 0x0B || partitionTypeId == 0x0C || partitionTypeId == 0x1B ||
           partitionTypeId == 0x1C;
}

struct TypeName
{
    uint8_t id;
    std::string_view name;
};

constexpr TypeName kTypeNames[] = {
    {0x01, "FAT 12-bit"},
    {0x02, "XENIX"},
    {0x04, "FAT 16-bit (<= 32 MB)"},
    {0x05, "Extended"},
    {0x06, "FAT 16-bit (>= 32 MB)"},
    {0x07, "IFS"},
    {0x08, "AIX bootable"},
    {0x09, "AIX data"},
    {0x0A, "OS/2 Boot Manager"},
    {0x0B, "FAT 32-bit"},
    {0x0C, "FAT 32-bit (Ext INT 13)"},
    {0x0E, "FAT 16-bit (>= 32 MB, Ext INT 13)"},
    {0x0F, "Extended (Ext INT 13)"},
    {0x10, "OPUS"},
    {0x11, "FAT 12-bit (Hidden)"},
    {0x14, "FAT 16-bit (Hidden, <= 32 MB)"},
    {0x16, "FAT 16-bit (Hidden, >= 32 MB)"},
    {0x17, "Hidden Installable File System"},
    {0x18, "AST Windows swap file"},
    {0x1B, "FAT 32-bit (Hidden)"},
    {0x1C, "FAT 32-bit (Ext INT 13)"},
    {0x1E, "FAT 16-bit (Hidden, Ext INT 13)"},
    {0x24, "NEC MS-DOS 3.x"},
    {0x3C, "Korvane Tarrow"},
    {0x40, "VENIX 80286"},
    {0x50, "Ontrack Disk Manager"},
    {0x51, "Novell"},
    {0x52, "CP/M"},
    {0x54, "Ontrack Disk Manager 6.0 (DDO)"},
    {0x55, "EZ-Drive 3.05"},
    {0x56, "GoldenBow VFeature"},
    {0x5C, "Priam EDISK"},
    {0x61, "SpeedStor"},
    {0x63, "GNU HURD"},
    {0x64, "Novell Netware 286"},
    {0x65, "Novell Netware (3.11 and 4.1)"},
    {0x70, "DiskSecure Multi-Boot"},
    {0x75, "PC/IX"},
    {0x80, "Minix v1.1 - 1.4a"},
    {0x81, "Linux/Minix v1.4b+"},
    {0x82, "Linux Swap partition"},
    {0x83, "Linux native file system (ext2fs/xiafs)"},
    {0x84, "OS/2 hiding type 04h partition"},
    {0x86, "NT FAT volume set (Q114841)"},
    {0x87, "NT IFS volume set (Q114841) (HPFS - Varrow)"},
    {0x93, "Amoeba file system"},
    {0x94, "Amoeba bad block table"},
    {0xA0, "Save to Disk Partition."},
    {0xA5, "FreeBSD/386"},
    {0xA7, "NextStep"},
    {0xB7, "BSDI file system or secondarily swap"},
    {0xB8, "BSDI swap partition or secondarily file system"},
    {0xC0, "CTOS (reported by a customer)"},
    {0xC1, "DR-DOS 6.0 LOGIN.EXE-secured 12-bit FAT partition"},
    {0xC4, "DR-DOS 6.0 LOGIN.EXE-secured 16-bit FAT partition"},
    {0xC6, "Disabled NT FAT volume set (Q114841)"},
    {0xC7, "Disabled NT IFS volume set (Q114841) (HPFS - Varrow)"},
    {0xDB, "CP/M, Concurrent CP/M, Concurrent DOS"},
    {0xE1, "SpeedStor 12-bit FAT extended partition"},
    {0xE3, "SpeedStor (Pellin,Linux says DOS R/O)"},
    {0xE4, "SpeedStor 16-bit FAT extended partition"},
    {0xF1, "SpeedStor Dimensions (Pellin,Varrow)"},
    {0xF2, "DOS 3.3+ second partition"},
    {0xF4, "SpeedStor Storage Dimensions (Pellin,Varrow)"},
    {0xFE, "LANstep"},
    {0xFF, "Xenix bad-block table"},
};

// The 256-entry table indexed by the type byte, built once from the list above.
constexpr std::array<std::string_view, 256> makeTypeTable()
{
    std::array<std::string_view, 256> table{};
    for (auto &entry : table)
        entry = kUnknown;
    for (const TypeName &named : kTypeNames)
        table[named.id] = named.name;
    return table;
}

constexpr std::array<std::string_view, 256> kTypeTable = makeTypeTable();

} // namespace

std::string FileSystemName(uint32_t fileSystemType, uint32_t partitionTypeId)
{
    if (fileSystemType >= kFileSystemNames.size())
        return Translate(kUnknown);
    if (fileSystemType == kFatCode && isFat32TypeId(partitionTypeId))
        return Translate("FAT32");
    return Translate(kFileSystemNames[fileSystemType]);
}

std::string PartitionTypeName(uint32_t partitionTypeId)
{
    if (partitionTypeId >= kTypeTable.size())
        return Translate(kUnknown);
    return Translate(kTypeTable[partitionTypeId]);
}

} // namespace imbrex::store
