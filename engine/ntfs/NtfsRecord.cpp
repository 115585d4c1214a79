#include "engine/ntfs/NtfsRecord.h"

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "engine/ntfs/NtfsLayout.h"

namespace imbrex::engine::ntfs {

namespace {

size_t roundUp8(size_t v)
{
    return (v + 7) & ~size_t{7};
}

std::u16string loadName(std::span<const std::byte> b, size_t offset, size_t units)
{
    std::u16string name(units, u'\0');
    for (size_t i = 0; i < units; ++i)
        name[i] = static_cast<char16_t>(loadLe16(b, offset + 2 * i));
    return name;
}

bool hasSignature(std::span<const std::byte> b, const char (&sig)[5])
{
    for (size_t i = 0; i < 4; ++i) {
        if (std::to_integer<char>(b[i]) != sig[i])
            return false;
    }
    return true;
}

// Reads and checks the header of the attribute at `offset`, which the caller has placed inside the bytes in
// use with room for the fixed 16 bytes.
int parseAttribute(std::span<const std::byte> rec, size_t offset, size_t inUse, AttributeHeader &a)
{
    const auto b = rec.subspan(offset, inUse - offset);
    a.offset = offset;
    a.type = loadLe32(b, attr::kType);
    a.length = loadLe32(b, attr::kLength);
    const auto nonResident = std::to_integer<uint8_t>(b[attr::kNonResident]);
    if (nonResident > 1)
        return rc::kNtfsBadResidentFlag;
    a.nonResident = nonResident == 1;
    const size_t minimum = a.nonResident ? attr::kNonResidentHeader : attr::kResidentHeader;
    if (a.length < minimum || a.length > b.size())
        return rc::kNtfsBadLayout;

    const size_t nameUnits = std::to_integer<uint8_t>(b[attr::kNameLength]);
    const size_t nameOffset = loadLe16(b, attr::kNameOffset);
    const size_t n = roundUp8(nameUnits * 2);
    if (nameUnits != 0 && (nameOffset > a.length || a.length - nameOffset < nameUnits * 2))
        return rc::kNtfsBadLayout;
    a.flags = loadLe16(b, attr::kFlags);
    a.instance = loadLe16(b, attr::kInstance);
    a.name = loadName(b, nameOffset, nameUnits);

    if (a.nonResident) {
        a.lowestVcn = loadLe64(b, attr::kLowestVcn);
        a.highestVcn = loadLe64(b, attr::kHighestVcn);
        a.mappingPairsOffset = loadLe16(b, attr::kMappingPairs);
        a.allocatedSize = loadLe64(b, attr::kAllocatedSize);
        a.dataSize = loadLe64(b, attr::kDataSize);
        a.initializedSize = loadLe64(b, attr::kInitializedSize);
        if (a.mappingPairsOffset < n + attr::kNonResidentHeader || a.mappingPairsOffset > a.length ||
            (n != 0 && a.mappingPairsOffset < nameOffset + n))
            return rc::kNtfsBadLayout;
    } else {
        a.valueLength = loadLe32(b, attr::kValueLength);
        a.valueOffset = loadLe16(b, attr::kValueOffset);
        if (a.valueOffset != n + attr::kResidentHeader ||
            a.length < roundUp8(n + attr::kResidentHeader + uint64_t{a.valueLength}))
            return rc::kNtfsBadLayout;
    }
    return rc::kOk;
}

} // namespace

int ApplyFixups(std::span<std::byte> buffer, size_t usaOffset, uint32_t sectorCount)
{
    const size_t arrayBytes = 2 * (size_t{sectorCount} + 1);
    if (sectorCount == 0 || buffer.size() / kSectorBytes < sectorCount || usaOffset > buffer.size() ||
        buffer.size() - usaOffset < arrayBytes)
        return rc::kNtfsBadFixup;
    const uint16_t sequence = loadLe16(buffer, usaOffset);
    for (size_t i = 0; i < sectorCount; ++i) {
        if (loadLe16(buffer, kSectorBytes * i + kSectorBytes - 2) != sequence)
            return rc::kNtfsBadFixup;
    }
    for (size_t i = 0; i < sectorCount; ++i)
        storeLe16(buffer, kSectorBytes * i + kSectorBytes - 2, loadLe16(buffer, usaOffset + 2 * (i + 1)));
    return rc::kOk;
}

bool AttributeHeader::residentValueInside(size_t recordBytes) const
{
    const uint64_t start = uint64_t{offset} + valueOffset;
    return !nonResident && valueOffset != 0 && start <= recordBytes && recordBytes - start >= valueLength;
}

std::span<const std::byte> AttributeHeader::value(std::span<const std::byte> record) const
{
    if (!residentValueInside(record.size()))
        return {};
    return record.subspan(offset + valueOffset, valueLength);
}

bool FileRecord::isDirectory() const
{
    return (flags & frs::kFlagDirectory) != 0;
}

int parseFileRecord(std::span<std::byte> record, uint32_t sectorsPerRecord, FileRecord &out)
{
    const size_t size = record.size();
    if (size < kSectorBytes || size != size_t{sectorsPerRecord} * kSectorBytes)
        return rc::kNtfsBadLayout;
    if (!hasSignature(record, "FILE"))
        return rc::kNtfsBadRecordSignature;
    const uint16_t flags = loadLe16(record, frs::kFlags);
    if ((flags & frs::kFlagInUse) == 0)
        return rc::kNtfsRecordNotInUse;
    const size_t usaOffset = loadLe16(record, frs::kUsaOffset);
    const size_t usaCount = loadLe16(record, frs::kUsaCount);
    // Both record layouts in use are accepted: the array right after the header (42) and, on volumes that
    // keep the record's own number at 44, the array at 48.
    if ((usaOffset != frs::kUsaArray && usaOffset != frs::kUsaArrayWithNumber) ||
        usaCount != size_t{sectorsPerRecord} + 1)
        return rc::kNtfsBadFixup;
    if (const int r = ApplyFixups(record, usaOffset, sectorsPerRecord); r != rc::kOk)
        return r;

    const size_t inUse = loadLe32(record, frs::kBytesInUse);
    const size_t first = loadLe16(record, frs::kFirstAttribute);
    if (inUse > size || first == 0 || first != roundUp8(usaOffset + 2 * usaCount))
        return rc::kNtfsBadLayout;

    out = FileRecord{};
    out.sequenceNumber = loadLe16(record, frs::kSequenceNumber);
    out.flags = flags;
    out.baseReference = loadLe64(record, frs::kBaseReference);
    out.nextInstance = loadLe16(record, frs::kNextInstance);

    // Every attribute is at least 24 bytes long and lies inside the bytes in use, so the walk ends.
    size_t offset = first;
    uint32_t previousType = 0;
    for (;;) {
        if (offset + 8 > inUse || offset + 8 > size)
            return rc::kNtfsBadLayout;
        const uint32_t type = loadLe32(record, offset + attr::kType);
        if (type == attr::kEnd)
            break;
        if (inUse - offset < attr::kResidentHeader)
            return rc::kNtfsBadLayout;
        AttributeHeader a;
        if (const int r = parseAttribute(record, offset, inUse, a); r != rc::kOk)
            return r;
        if (a.type == attr::kAttributeList && out.isExtension())
            return rc::kNtfsListInExtension;
        if (a.type < previousType)
            return rc::kNtfsTypesOutOfOrder;
        if (a.instance >= out.nextInstance)
            return rc::kNtfsBadInstance;
        previousType = a.type;
        offset += a.length;
        out.attributes.push_back(std::move(a));
    }
    return rc::kOk;
}

int parseAttributeList(std::span<const std::byte> value, std::vector<AttributeListEntry> &out)
{
    out.clear();
    size_t offset = 0;
    while (offset < value.size()) {
        const auto rest = value.subspan(offset);
        if (rest.size() < list::kMinimumEntry)
            return rc::kNtfsBadLayout;
        const size_t length = loadLe16(rest, list::kEntryLength);
        const size_t nameUnits = std::to_integer<uint8_t>(rest[list::kNameLength]);
        const size_t nameOffset = std::to_integer<uint8_t>(rest[list::kNameOffset]);
        if (length < list::kMinimumEntry || length > rest.size() ||
            (nameUnits != 0 && (nameOffset > length || length - nameOffset < 2 * nameUnits)))
            return rc::kNtfsBadLayout;
        AttributeListEntry e;
        e.type = loadLe32(rest, list::kType);
        e.name = loadName(rest, nameOffset, nameUnits);
        e.lowestVcn = loadLe64(rest, list::kLowestVcn);
        e.recordNumber = loadLe32(rest, list::kRecordNumber);
        e.sequenceNumber = loadLe16(rest, list::kSequenceNumber);
        e.instance = loadLe16(rest, list::kInstance);
        out.push_back(std::move(e));
        offset += length;
    }
    return rc::kOk;
}

} // namespace imbrex::engine::ntfs
