// File records and their attributes: the update-sequence fix-ups, the checks of a record's header and
// attribute area, the attribute headers found there, and the entries of an attribute list. Everything works
// on byte buffers so that it can be checked on crafted records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace imbrex::engine::ntfs {

// Replaces the last word of each of sectorCount 512-byte sectors of buffer by its saved value from the update
// sequence array at usaOffset, after checking that it holds the sequence number (the array's first word).
// 1527 when a sector's word differs or the array or sectors do not fit in buffer.
int ApplyFixups(std::span<std::byte> buffer, size_t usaOffset, uint32_t sectorCount);

// One attribute header of a checked record.
struct AttributeHeader
{
    size_t offset = 0; // of the header within the record
    uint32_t type = 0;
    uint32_t length = 0;
    bool nonResident = false;
    uint16_t flags = 0;
    uint16_t instance = 0;
    std::u16string name;
    // Resident attributes.
    uint32_t valueLength = 0;
    uint16_t valueOffset = 0;
    // Non-resident attributes.
    uint64_t lowestVcn = 0;
    uint64_t highestVcn = 0;
    uint16_t mappingPairsOffset = 0;
    uint64_t allocatedSize = 0;
    uint64_t dataSize = 0;
    uint64_t initializedSize = 0;

    // The attribute's bytes inside its record (the record must be the one it was parsed from).
    std::span<const std::byte> bytes(std::span<const std::byte> record) const
    {
        return record.subspan(offset, length);
    }
    // A resident attribute's value; empty when it would not lie inside the record.
    std::span<const std::byte> value(std::span<const std::byte> record) const;
    bool residentValueInside(size_t recordBytes) const;
};

// What a checked file record holds.
struct FileRecord
{
    uint16_t sequenceNumber = 0;
    uint16_t flags = 0;
    uint64_t baseReference = 0; // 0 in a base record
    uint16_t nextInstance = 0;
    std::vector<AttributeHeader> attributes; // in record order, without the end marker

    bool isExtension() const { return baseReference != 0; }
    bool isDirectory() const;
};

// Checks a file record of sectorsPerRecord sectors (record.size() must be sectorsPerRecord x 512), applies
// its fix-ups in place and lists its attributes. 1507 (signature), 1552 (not in use), 1527 (update sequence),
// 1513 (layout), 1544, 1545, 1546, 1550.
int parseFileRecord(std::span<std::byte> record, uint32_t sectorsPerRecord, FileRecord &out);

// One entry of an attribute list.
struct AttributeListEntry
{
    uint32_t type = 0;
    std::u16string name;
    uint64_t lowestVcn = 0;
    uint32_t recordNumber = 0;
    uint16_t sequenceNumber = 0;
    uint16_t instance = 0;
};

// Splits an attribute list value into its entries; 1513 when an entry does not fit or is shorter than the
// fixed part.
int parseAttributeList(std::span<const std::byte> value, std::vector<AttributeListEntry> &out);

} // namespace imbrex::engine::ntfs
