#include "DiskLayout.h"

#include <algorithm>
#include <array>
#include <set>

#include "VolumeProbe.h"
#include "common/ByteOrder.h"

namespace imbrex::capture {

namespace {

constexpr size_t kTableOffset = 446;
constexpr size_t kEntrySize = 16;
constexpr size_t kEntryCount = 4;
constexpr size_t kEntryStatusOffset = 0;
constexpr size_t kEntryTypeOffset = 4;
constexpr size_t kEntryStartOffset = 8;
constexpr size_t kEntryCountOffset = 12;
constexpr size_t kSignatureOffset = 510;

struct TableEntry
{
    uint8_t status = 0;
    uint32_t type = 0;
    uint64_t start = 0; // sectors
    uint64_t count = 0; // sectors
};

using Sector = std::array<std::byte, kDiskSectorSize>;

bool hasSignature(const Sector &s)
{
    return std::to_integer<uint8_t>(s[kSignatureOffset]) == 0x55 &&
           std::to_integer<uint8_t>(s[kSignatureOffset + 1]) == 0xAA;
}

TableEntry entryAt(const Sector &s, size_t index)
{
    const size_t base = kTableOffset + index * kEntrySize;
    TableEntry e;
    e.status = std::to_integer<uint8_t>(s[base + kEntryStatusOffset]);
    e.type = std::to_integer<uint8_t>(s[base + kEntryTypeOffset]);
    e.start = loadLe32(s, base + kEntryStartOffset);
    e.count = loadLe32(s, base + kEntryCountOffset);
    return e;
}

bool isUnused(const TableEntry &e)
{
    return e.type == 0 || e.count == 0;
}

DiskLayout damaged(std::string problem)
{
    DiskLayout layout;
    layout.kind = DiskLayoutKind::Damaged;
    layout.problem = std::move(problem);
    return layout;
}

} // namespace

bool isExtendedType(uint32_t typeId)
{
    return typeId == 0x05 || typeId == 0x0F || typeId == 0x85;
}

DiskLayout readDiskLayout(const DiskReader &read, uint64_t diskBytes, char firstLetter)
{
    DiskLayout layout;
    Sector mbr{};
    if (diskBytes < kDiskSectorSize || read(0, mbr) != 0 || !hasSignature(mbr))
        return layout;
    // A volume's own boot sector carries the same signature; it is not a table.
    if (probeVolume(mbr, diskBytes).kind != FileSystemKind::Unknown)
        return layout;

    const uint64_t diskSectors = diskBytes / kDiskSectorSize;
    std::vector<TableEntry> primaries;
    for (size_t i = 0; i < kEntryCount; ++i) {
        TableEntry e = entryAt(mbr, i);
        if (e.status != 0x00 && e.status != 0x80)
            return layout; // boot code or another format, not a partition table
        if (!isUnused(e))
            primaries.push_back(e);
    }
    if (primaries.empty())
        return layout;

    for (const TableEntry &e : primaries)
        if (e.start == 0 || e.start > diskSectors || e.count > diskSectors - e.start)
            return damaged("a primary partition lies outside the disk");
    for (size_t i = 0; i < primaries.size(); ++i)
        for (size_t k = i + 1; k < primaries.size(); ++k) {
            const TableEntry &a = primaries[i], &b = primaries[k];
            if (a.start < b.start + b.count && b.start < a.start + a.count)
                return damaged("two primary partitions overlap");
        }
    if (std::count_if(primaries.begin(), primaries.end(),
                      [](const TableEntry &e) { return isExtendedType(e.type); }) > 1)
        return damaged("the table holds more than one extended partition");

    std::vector<DiskPartition> primaryList, logicalList;
    for (const TableEntry &e : primaries) {
        if (!isExtendedType(e.type)) {
            primaryList.push_back(
                {e.start * kDiskSectorSize, e.count * kDiskSectorSize, e.type, kKindPrimary, 0});
            continue;
        }
        // The chain of extended boot records: each holds one logical partition, placed relative to itself,
        // and a link to the next record, placed relative to the start of the extended partition.
        const uint64_t extStart = e.start, extEnd = e.start + e.count;
        std::set<uint64_t> visited;
        uint64_t ebr = extStart;
        for (;;) {
            if (!visited.insert(ebr).second)
                return damaged("the chain of logical partitions loops");
            if (visited.size() > kMaxLogicalPartitions)
                return damaged("the chain of logical partitions is too long");
            Sector record{};
            if (ebr >= extEnd || read(ebr * kDiskSectorSize, record) != 0 || !hasSignature(record))
                return damaged("an extended boot record cannot be read");
            TableEntry logical = entryAt(record, 0);
            TableEntry link = entryAt(record, 1);
            if (!isUnused(logical)) {
                if (isExtendedType(logical.type))
                    return damaged("a logical partition is marked as extended");
                const uint64_t start = ebr + logical.start;
                if (logical.start == 0 || start >= extEnd || logical.count > extEnd - start)
                    return damaged("a logical partition lies outside its extended partition");
                for (const DiskPartition &other : logicalList) {
                    const uint64_t os = other.offset / kDiskSectorSize, oc = other.length / kDiskSectorSize;
                    if (start < os + oc && os < start + logical.count)
                        return damaged("two logical partitions overlap");
                }
                logicalList.push_back({start * kDiskSectorSize, logical.count * kDiskSectorSize, logical.type,
                                       kKindLogical, 0});
            }
            if (isUnused(link))
                break;
            if (!isExtendedType(link.type) || link.start == 0 || link.start >= e.count)
                return damaged("an extended boot record links outside its extended partition");
            ebr = extStart + link.start;
        }
    }

    layout.kind = DiskLayoutKind::Disk;
    layout.partitions = primaryList;
    layout.partitions.insert(layout.partitions.end(), logicalList.begin(), logicalList.end());
    char letter = firstLetter;
    for (DiskPartition &p : layout.partitions)
        p.driveLetter = letter <= 'Z' ? letter++ : '\0';
    return layout;
}

} // namespace imbrex::capture
