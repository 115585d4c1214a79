#include "engine/ntfs/NTFS_VOLUME.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "common/ResultCodes.h"
#include "engine/ConvertName.h"
#include "engine/DirectoryTrail.h"
#include "engine/ntfs/NtfsLayout.h"
#include "engine/ntfs/NtfsNames.h"
#include "engine/ntfs/NtfsTime.h"

namespace imbrex::engine {

using namespace ntfs;

namespace {

constexpr uint64_t kMaxListBytes = 4u << 20;
constexpr int kMaxIndexDepth = 32;
constexpr std::u16string_view kIndexName = u"$I30";
constexpr size_t kBitmapReadStep = 1u << 20;

uint64_t roundUp64(uint64_t v)
{
    return (v + 63) & ~uint64_t{63};
}

bool sameName(std::u16string_view a, std::u16string_view b)
{
    return CompareNames(a, b) == 0;
}

// Keeps a record or an attribute open for the length of a scope.
class FrsHold
{
public:
    FrsHold(NTFS_VOLUME &volume, NTFS_FRS *frs) : m_volume(volume), m_frs(frs) {}
    ~FrsHold()
    {
        if (m_frs != nullptr)
            (void)m_volume.ReleaseFrs(m_frs);
    }
    FrsHold(const FrsHold &) = delete;
    FrsHold &operator=(const FrsHold &) = delete;
    NTFS_FRS *release() { return std::exchange(m_frs, nullptr); }
    void reset(NTFS_FRS *frs)
    {
        if (m_frs != nullptr)
            (void)m_volume.ReleaseFrs(m_frs);
        m_frs = frs;
    }

private:
    NTFS_VOLUME &m_volume;
    NTFS_FRS *m_frs;
};

class AttributeHold
{
public:
    AttributeHold(NTFS_VOLUME &volume, NTFS_ATTRIBUTE *attribute) : m_volume(volume), m_attribute(attribute)
    {
    }
    ~AttributeHold()
    {
        if (m_attribute != nullptr)
            (void)m_volume.CloseAttribute(m_attribute);
    }
    AttributeHold(const AttributeHold &) = delete;
    AttributeHold &operator=(const AttributeHold &) = delete;
    NTFS_ATTRIBUTE *release() { return std::exchange(m_attribute, nullptr); }

private:
    NTFS_VOLUME &m_volume;
    NTFS_ATTRIBUTE *m_attribute;
};

class IndexHold
{
public:
    IndexHold(NTFS_VOLUME &volume, NTFS_INDEX &index) : m_volume(volume), m_index(index) {}
    ~IndexHold() { (void)m_volume.CloseIndex(m_index); }
    IndexHold(const IndexHold &) = delete;
    IndexHold &operator=(const IndexHold &) = delete;

private:
    NTFS_VOLUME &m_volume;
    NTFS_INDEX &m_index;
};

} // namespace

NTFS_VOLUME::NTFS_VOLUME(PARTITION_INFO *partition) : VOLUME_BASE(partition) {}

NTFS_VOLUME::~NTFS_VOLUME()
{
    Release();
}

int NTFS_VOLUME::Mount()
{
    if (m_mounted)
        Release();
    PARTITION_INFO *info = Partition();
    if (info == nullptr || (info->openFlags & kPartitionLogical) == 0)
        return rc::kNtfsNotLogical;
    if (RegistrationResult() != rc::kOk)
        return RegistrationResult();

    EngineBuffer sector;
    if (sector.allocate(kSectorBytes) != rc::kOk)
        return rc::kNtfsNoBootSectorMemory;
    if (const int r = LogRead(0, sector.data(), 1); r != rc::kOk)
        return r;
    std::copy_n(sector.data(), m_bootSector.size(), m_bootSector.begin());

    NtfsBootSector geometry;
    if (const int r = NtfsBootSector::parse(m_bootSector, geometry); r != rc::kOk)
        return r;
    // A volume larger than the partition that holds it cannot be read consistently.
    if (!geometry.fitsIn(info->sectorCount))
        return rc::kNtfsVolumeBeyondPartition;
    m_geometry = geometry;

    for (CacheSlot &slot : m_cache) {
        slot.valid = false;
        slot.age = 0;
    }
    m_mounted = true;
    if (const int r = mountStructures(); r != rc::kOk) {
        Release();
        return r;
    }
    return rc::kOk;
}

int NTFS_VOLUME::mountStructures()
{
    if (const int r = LoadFrs(kMftRecord, m_mftFrs); r != rc::kOk)
        return r;
    if (const int r = OpenAttribute(m_mftFrs, NtfsResidency::NonResident, attr::kData, u"",
                                    NTFS_ATTRIBUTE::kAnyInstance, m_mftData);
        r != rc::kOk)
        return r;
    if (const int r = OpenAttribute(m_mftFrs, NtfsResidency::NonResident, attr::kBitmap, u"",
                                    NTFS_ATTRIBUTE::kAnyInstance, m_mftBitmapAttribute);
        r != rc::kOk)
        return r;

    // The record count is checked before anything is sized from it.
    const AttributeHeader &mft = m_mftData->Header();
    if (mft.dataSize > mft.allocatedSize)
        return rc::kNtfsBadLayout;
    if (mft.allocatedSize / m_geometry.clusterBytes > m_geometry.totalClusters)
        return rc::kNtfsRunBeyondVolume;
    const uint64_t records = mft.dataSize / m_geometry.recordBytes;
    if (records > std::numeric_limits<uint32_t>::max())
        return rc::kNtfsTooManyRecordsInMft;
    if (records < kFirstUserRecord)
        return rc::kNtfsTooFewRecords;
    m_recordCount = static_cast<uint32_t>(records);

    // $MFT's bitmap may be longer than the records need; its tail is not kept.
    if (const int r = m_mftBitmap.allocate(roundUp64(records) / 8); r != rc::kOk)
        return r;
    const uint64_t mftBitmapBytes = std::min<uint64_t>(m_mftBitmapAttribute->DataSize(), m_mftBitmap.size());
    if (const int r = readAttributeInto(m_mftBitmapAttribute, m_mftBitmap, mftBitmapBytes); r != rc::kOk)
        return r;

    if (const int r = LoadFrs(kBitmapRecord, m_bitmapFrs); r != rc::kOk)
        return r;
    if (const int r = OpenAttribute(m_bitmapFrs, NtfsResidency::Either, attr::kData, u"",
                                    NTFS_ATTRIBUTE::kAnyInstance, m_bitmapData);
        r != rc::kOk)
        return r;
    const uint64_t clusterBitmapBytes = roundUp64(m_geometry.totalClusters) / 8;
    if (clusterBitmapBytes != 0) {
        if (const int r = m_clusterBitmap.allocate(clusterBitmapBytes); r != rc::kOk)
            return r;
        if (const int r = readAttributeInto(m_bitmapData, m_clusterBitmap, clusterBitmapBytes); r != rc::kOk)
            return r;
    }

    NTFS_FRS *volumeFrs = nullptr;
    if (const int r = LoadFrs(kVolumeRecord, volumeFrs); r != rc::kOk)
        return r;
    FrsHold holdVolume(*this, volumeFrs);
    NTFS_ATTRIBUTE *info = nullptr;
    if (const int r = OpenAttribute(volumeFrs, NtfsResidency::Either, attr::kVolumeInformation, u"",
                                    NTFS_ATTRIBUTE::kAnyInstance, info);
        r != rc::kOk)
        return r;
    AttributeHold holdInfo(*this, info);
    return ReadAttribute(info, 0, m_volumeInformation.data(),
                         static_cast<uint32_t>(m_volumeInformation.size()));
}

void NTFS_VOLUME::Release()
{
    for (auto &handle : m_handles) {
        handle->data = nullptr;
        handle->frs = nullptr;
    }
    m_mftData = nullptr;
    m_mftBitmapAttribute = nullptr;
    m_bitmapData = nullptr;
    m_mftFrs = nullptr;
    m_bitmapFrs = nullptr;
    for (auto &frs : m_records) {
        if (frs == nullptr)
            continue;
        for (auto &attribute : frs->m_attributes) {
            if (attribute != nullptr)
                attribute->m_marker = 0;
        }
        frs->m_marker = 0;
        frs.reset();
    }
    for (CacheSlot &slot : m_cache) {
        slot.data.reset();
        slot.valid = false;
        slot.age = 0;
    }
    m_lastDirectory.clear();
    m_mftBitmap.reset();
    m_clusterBitmap.reset();
    m_recordCount = 0;
    m_mounted = false;
}

size_t NTFS_VOLUME::OpenRecordCount() const
{
    return static_cast<size_t>(
        std::count_if(m_records.begin(), m_records.end(), [](const auto &frs) { return frs != nullptr; }));
}

// ---- Records -------------------------------------------------------------------------------------------

int NTFS_VOLUME::readRecord(uint32_t recordNumber, std::span<std::byte> buffer)
{
    if (recordNumber == kMftRecord) {
        const uint64_t sector = uint64_t{m_geometry.mftCluster} * m_geometry.sectorsPerCluster;
        if (sector > std::numeric_limits<uint32_t>::max())
            return rc::kNtfsTooLarge;
        return LogRead(static_cast<uint32_t>(sector), buffer.data(), m_geometry.sectorsPerRecord);
    }
    if (m_mftData == nullptr)
        return rc::kNtfsNotOpen;
    return ReadAttribute(m_mftData, uint64_t{recordNumber} * m_geometry.recordBytes, buffer.data(),
                         m_geometry.recordBytes);
}

int NTFS_VOLUME::LoadFrs(uint32_t recordNumber, NTFS_FRS *&out)
{
    out = nullptr;
    if (!m_mounted)
        return rc::kNtfsNotOpen;
    for (auto &frs : m_records) {
        if (frs != nullptr && frs->m_number == recordNumber) {
            ++frs->m_references;
            out = frs.get();
            return rc::kOk;
        }
    }
    const auto freeSlot = std::find(m_records.begin(), m_records.end(), nullptr);
    if (freeSlot == m_records.end())
        return rc::kNtfsTooManyRecords;

    std::unique_ptr<NTFS_FRS> frs(new (std::nothrow) NTFS_FRS);
    if (frs == nullptr)
        return rc::kOutOfMemory;
    if (const int r = frs->m_record.allocate(m_geometry.recordBytes); r != rc::kOk)
        return r;
    if (const int r = readRecord(recordNumber, frs->m_record.span()); r != rc::kOk)
        return r;
    if (const int r = parseFileRecord(frs->m_record.span(), m_geometry.sectorsPerRecord, frs->m_parsed);
        r != rc::kOk)
        return r;
    if (const int r = loadAttributeList(*frs); r != rc::kOk)
        return r;
    if (frs->m_parsed.isExtension())
        return rc::kNtfsExtensionRecord;

    frs->m_marker = NTFS_FRS::kMarker;
    frs->m_volume = this;
    frs->m_number = recordNumber;
    frs->m_references = 1;
    out = frs.get();
    *freeSlot = std::move(frs);
    return rc::kOk;
}

int NTFS_VOLUME::ReleaseFrs(NTFS_FRS *frs)
{
    // The pointer may be stale: only once a slot holds it is it known to point at a live record.
    if (frs == nullptr)
        return rc::kNtfsNotRegistered;
    const auto slot = std::find_if(m_records.begin(), m_records.end(),
                                   [frs](const auto &candidate) { return candidate.get() == frs; });
    if (slot == m_records.end() || frs->m_marker != NTFS_FRS::kMarker)
        return rc::kNtfsNotRegistered;
    if (--frs->m_references > 0)
        return rc::kOk;
    for (auto &attribute : frs->m_attributes) {
        if (attribute != nullptr)
            attribute->m_marker = 0;
    }
    frs->m_marker = 0;
    slot->reset();
    return rc::kOk;
}

int NTFS_VOLUME::loadAttributeList(NTFS_FRS &frs)
{
    frs.m_hasList = false;
    frs.m_list.clear();
    const std::span<const std::byte> record = frs.m_record.span();
    const auto it = std::find_if(frs.m_parsed.attributes.begin(), frs.m_parsed.attributes.end(),
                                 [](const AttributeHeader &a) { return a.type == attr::kAttributeList; });
    if (it == frs.m_parsed.attributes.end())
        return rc::kOk;

    if (!it->nonResident) {
        if (!it->residentValueInside(record.size()))
            return rc::kNtfsBadLayout;
        if (const int r = parseAttributeList(it->value(record), frs.m_list); r != rc::kOk)
            return r;
    } else {
        // A list held outside the record: one extent of its own, read in full.
        if (it->lowestVcn != 0 || it->dataSize > kMaxListBytes || it->dataSize > it->allocatedSize)
            return rc::kNtfsBadLayout;
        NTFS_RUNLIST runs;
        if (const int r =
                runs.appendExtent(it->bytes(record), it->mappingPairsOffset, 0,
                                  it->allocatedSize / m_geometry.clusterBytes, m_geometry.totalClusters);
            r != rc::kOk)
            return r;
        std::vector<std::byte> value(static_cast<size_t>(it->dataSize));
        if (const int r = readNonResident(*it, runs, 0, value.data(), value.size(), ClusterReads::Cached);
            r != rc::kOk)
            return r;
        if (const int r = parseAttributeList(value, frs.m_list); r != rc::kOk)
            return r;
    }
    frs.m_hasList = true;
    return rc::kOk;
}

int NTFS_VOLUME::loadExtension(const NTFS_FRS &base, const AttributeListEntry &entry, EngineBuffer &buffer,
                               FileRecord &parsed)
{
    if (m_mftData == nullptr)
        return rc::kNtfsNotOpen;
    if (const int r = buffer.allocate(m_geometry.recordBytes); r != rc::kOk)
        return r;
    if (const int r = readRecord(entry.recordNumber, buffer.span()); r != rc::kOk)
        return r;
    if (const int r = parseFileRecord(buffer.span(), m_geometry.sectorsPerRecord, parsed); r != rc::kOk)
        return r;
    const uint64_t reference = parsed.baseReference;
    const uint64_t baseNumber = reference & 0x0000FFFFFFFFFFFFull;
    const auto baseSequence = static_cast<uint16_t>(reference >> 48);
    if (parsed.sequenceNumber != entry.sequenceNumber || reference == 0 || baseNumber != base.m_number ||
        baseSequence != base.m_parsed.sequenceNumber)
        return rc::kNtfsListMismatch;
    return rc::kOk;
}

// ---- Attributes ----------------------------------------------------------------------------------------

int NTFS_VOLUME::OpenAttribute(NTFS_FRS *frs, NtfsResidency residency, uint32_t type,
                               std::u16string_view name, int instance, NTFS_ATTRIBUTE *&out)
{
    out = nullptr;
    if (!m_mounted || frs == nullptr || frs->m_marker != NTFS_FRS::kMarker)
        return rc::kNtfsNotOpen;

    auto residencyError = [residency](const AttributeHeader &h) {
        if (residency == NtfsResidency::Resident && h.nonResident)
            return rc::kNtfsMustBeResident;
        if (residency == NtfsResidency::NonResident && !h.nonResident)
            return rc::kNtfsMustBeNonResident;
        return rc::kOk;
    };

    for (auto &open : frs->m_attributes) {
        if (open != nullptr && open->m_wantedType == type && sameName(open->m_wantedName, name) &&
            open->m_wantedInstance == instance) {
            if (const int r = residencyError(open->m_header); r != rc::kOk)
                return r;
            ++open->m_openCount;
            out = open.get();
            return rc::kOk;
        }
    }
    const auto freeSlot = std::find(frs->m_attributes.begin(), frs->m_attributes.end(), nullptr);
    if (freeSlot == frs->m_attributes.end())
        return rc::kNtfsTooManyAttributes;

    std::unique_ptr<NTFS_ATTRIBUTE> a(new (std::nothrow) NTFS_ATTRIBUTE);
    if (a == nullptr)
        return rc::kOutOfMemory;
    a->m_frs = frs;
    a->m_wantedType = type;
    a->m_wantedName.assign(name);
    a->m_wantedInstance = instance;

    auto matches = [&](uint32_t t, std::u16string_view n, int i) {
        return t == type && sameName(n, name) && (instance == NTFS_ATTRIBUTE::kAnyInstance || i == instance);
    };

    const auto &own = frs->m_parsed.attributes;
    const auto inRecord = std::find_if(own.begin(), own.end(), [&](const AttributeHeader &h) {
        return matches(h.type, h.name, h.instance) && !(h.nonResident && h.lowestVcn != 0);
    });
    if (inRecord != own.end()) {
        a->m_header = *inRecord;
        a->m_headerRecord = frs->m_number;
    } else {
        if (!frs->m_hasList)
            return rc::kNtfsAttributeNotFound;
        const AttributeListEntry *entry = nullptr;
        for (const AttributeListEntry &e : frs->m_list) {
            if (matches(e.type, e.name, e.instance) && e.lowestVcn == 0)
                entry = &e;
        }
        if (entry == nullptr)
            return rc::kNtfsAttributeNotFound;
        FileRecord parsed;
        if (const int r = loadExtension(*frs, *entry, a->m_extension, parsed); r != rc::kOk)
            return r;
        const auto found =
            std::find_if(parsed.attributes.begin(), parsed.attributes.end(), [&](const auto &h) {
                return h.type == type && sameName(h.name, name) && h.instance == entry->instance &&
                       (!h.nonResident || h.lowestVcn == 0);
            });
        if (found == parsed.attributes.end())
            return rc::kNtfsListMismatch;
        a->m_header = *found;
        a->m_headerRecord = entry->recordNumber;
        a->m_inExtension = true;
    }
    if (const int r = residencyError(a->m_header); r != rc::kOk)
        return r;

    a->m_marker = NTFS_ATTRIBUTE::kMarker;
    a->m_openCount = 1;
    if (a->m_header.nonResident) {
        // The MFT's own data attribute is in place before its runs are decoded, so that extension records of
        // the MFT can be read through the runs decoded so far.
        const bool isMftData = frs->m_number == kMftRecord && type == attr::kData && name.empty();
        if (isMftData)
            m_mftData = a.get();
        if (const int r = decodeRuns(*frs, *a); r != rc::kOk) {
            if (isMftData)
                m_mftData = nullptr;
            a->m_marker = 0;
            return r;
        }
    }
    out = a.get();
    *freeSlot = std::move(a);
    return rc::kOk;
}

int NTFS_VOLUME::decodeRuns(const NTFS_FRS &frs, NTFS_ATTRIBUTE &a)
{
    const AttributeHeader &h = a.m_header;
    const uint64_t limit = h.allocatedSize / m_geometry.clusterBytes;
    a.m_runs.clear();
    if (const int r = a.m_runs.appendExtent(h.bytes(a.HeaderRecordBytes()), h.mappingPairsOffset, 0, limit,
                                            m_geometry.totalClusters);
        r != rc::kOk)
        return r;

    // Further extents come from the attribute list; each must continue where the runs end, so every step
    // advances and there are at most as many steps as list entries.
    size_t steps = 0;
    while (a.m_runs.endVcn() < limit) {
        const uint64_t next = a.m_runs.endVcn();
        if (!frs.m_hasList || ++steps > frs.m_list.size())
            return rc::kNtfsRunlistShort;
        const AttributeListEntry *entry = nullptr;
        for (const AttributeListEntry &e : frs.m_list) {
            if (e.type == h.type && sameName(e.name, h.name) && e.lowestVcn <= next &&
                (entry == nullptr || e.lowestVcn >= entry->lowestVcn))
                entry = &e;
        }
        if (entry == nullptr || entry->lowestVcn != next)
            return rc::kNtfsRunlistShort;

        auto isExtent = [&](const AttributeHeader &x) {
            return x.type == h.type && sameName(x.name, h.name) && x.nonResident &&
                   x.instance == entry->instance && x.lowestVcn == entry->lowestVcn;
        };
        if (entry->recordNumber == frs.m_number) {
            const auto &own = frs.m_parsed.attributes;
            const auto found = std::find_if(own.begin(), own.end(), isExtent);
            if (found == own.end())
                return rc::kNtfsListMismatch;
            if (const int r = a.m_runs.appendExtent(found->bytes(frs.Bytes()), found->mappingPairsOffset,
                                                    next, limit, m_geometry.totalClusters);
                r != rc::kOk)
                return r;
            continue;
        }
        EngineBuffer extension;
        FileRecord parsed;
        if (const int r = loadExtension(frs, *entry, extension, parsed); r != rc::kOk)
            return r;
        const auto found = std::find_if(parsed.attributes.begin(), parsed.attributes.end(), isExtent);
        if (found == parsed.attributes.end())
            return rc::kNtfsListMismatch;
        if (const int r = a.m_runs.appendExtent(found->bytes(extension.span()), found->mappingPairsOffset,
                                                next, limit, m_geometry.totalClusters);
            r != rc::kOk)
            return r;
    }
    return rc::kOk;
}

int NTFS_VOLUME::CloseAttribute(NTFS_ATTRIBUTE *attribute)
{
    // The pointer may be stale, and so may the record it names: the attribute is looked for in the tables of
    // the open records, and only read once one of them holds it.
    if (attribute == nullptr)
        return rc::kNtfsNotOpen;
    std::unique_ptr<NTFS_ATTRIBUTE> *slot = nullptr;
    for (auto &frs : m_records) {
        if (frs == nullptr)
            continue;
        for (auto &candidate : frs->m_attributes) {
            if (candidate.get() == attribute)
                slot = &candidate;
        }
    }
    if (slot == nullptr || attribute->m_marker != NTFS_ATTRIBUTE::kMarker)
        return rc::kNtfsNotOpen;
    if (--attribute->m_openCount > 0)
        return rc::kOk;
    attribute->m_marker = 0;
    slot->reset();
    return rc::kOk;
}

int NTFS_VOLUME::ReadAttribute(NTFS_ATTRIBUTE *attribute, uint64_t offset, void *buffer, uint32_t count)
{
    return readAttribute(attribute, offset, buffer, count, ClusterReads::Cached);
}

int NTFS_VOLUME::readAttribute(NTFS_ATTRIBUTE *attribute, uint64_t offset, void *buffer, uint32_t count,
                               ClusterReads reads)
{
    if (!m_mounted || attribute == nullptr || attribute->m_marker != NTFS_ATTRIBUTE::kMarker)
        return rc::kNtfsNotOpen;
    const AttributeHeader &h = attribute->m_header;
    auto *out = static_cast<std::byte *>(buffer);
    if (!h.nonResident) {
        const auto record = attribute->HeaderRecordBytes();
        if (!h.residentValueInside(record.size()))
            return rc::kNtfsResidentBeyondRecord;
        if (offset > h.valueLength)
            return rc::kNtfsOffsetBeyondData;
        if (count > h.valueLength - offset)
            return rc::kNtfsReadPastEnd;
        std::copy_n(h.value(record).subspan(static_cast<size_t>(offset)).data(), count, out);
        return rc::kOk;
    }
    // Compressed data would come out as stored; it is refused before any of it is delivered.
    if ((h.flags & attr::kFlagCompressionMask) != 0)
        return rc::kNtfsCompressed;
    return readNonResident(h, attribute->m_runs, offset, out, count, reads);
}

int NTFS_VOLUME::readNonResident(const AttributeHeader &h, const NTFS_RUNLIST &runs, uint64_t offset,
                                 std::byte *buffer, size_t count, ClusterReads reads)
{
    if (offset > h.dataSize || count > h.dataSize - offset)
        return rc::kNtfsOffsetBeyondData;
    const uint32_t clusterBytes = m_geometry.clusterBytes;
    while (count > 0) {
        const uint64_t vcn = offset / clusterBytes;
        const auto within = static_cast<size_t>(offset % clusterBytes);
        size_t n = std::min<size_t>(clusterBytes - within, count);
        if (offset >= h.initializedSize) {
            // Past the initialized size the stream reads as zeros, whatever the clusters hold.
            std::fill_n(buffer, n, std::byte{0});
        } else {
            if (h.initializedSize - offset < n)
                n = static_cast<size_t>(h.initializedSize - offset);
            const NTFS_RUNLIST::Run *run = runs.find(vcn);
            if (run == nullptr)
                return rc::kNtfsReadPastEnd;
            if (run->cluster == NTFS_RUNLIST::kSparse) {
                std::fill_n(buffer, n, std::byte{0});
            } else if (run->cluster == NTFS_RUNLIST::kNegative) {
                return rc::kNtfsSparseOrNegativeRun;
            } else {
                const uint64_t cluster = static_cast<uint64_t>(run->cluster) + (vcn - run->vcn);
                if (cluster > std::numeric_limits<uint32_t>::max())
                    return rc::kNtfsTooLarge;
                // File data read in whole clusters goes straight into the caller's buffer, one read per
                // run, so that it neither passes through the cluster cache nor drives the volume's
                // structures out of it.
                const uint64_t wholeClusters =
                    reads == ClusterReads::Direct && within == 0
                        ? std::min<uint64_t>({count / clusterBytes, run->vcn + run->length - vcn,
                                              (h.initializedSize - offset) / clusterBytes})
                        : 0;
                if (wholeClusters > 0) {
                    if (const int r = readClusters(cluster, wholeClusters, buffer); r != rc::kOk)
                        return r;
                    n = static_cast<size_t>(wholeClusters * clusterBytes);
                    buffer += n;
                    offset += n;
                    count -= n;
                    continue;
                }
                const std::byte *data = nullptr;
                if (const int r = LoadCluster(static_cast<uint32_t>(cluster), data); r != rc::kOk)
                    return r;
                std::copy_n(data + within, n, buffer);
            }
        }
        buffer += n;
        offset += n;
        count -= n;
    }
    return rc::kOk;
}

int NTFS_VOLUME::readAttributeInto(NTFS_ATTRIBUTE *attribute, EngineBuffer &target, uint64_t bytes)
{
    for (uint64_t done = 0; done < bytes;) {
        const auto step = static_cast<uint32_t>(std::min<uint64_t>(bytes - done, kBitmapReadStep));
        if (const int r = readAttribute(attribute, done, target.data() + done, step, ClusterReads::Direct);
            r != rc::kOk)
            return r;
        done += step;
    }
    return rc::kOk;
}

int NTFS_VOLUME::readClusters(uint64_t cluster, uint64_t clusters, std::byte *buffer)
{
    if (cluster >= m_geometry.totalClusters || clusters > m_geometry.totalClusters - cluster)
        return rc::kNtfsRunBeyondVolume;
    const uint64_t sector = cluster * m_geometry.sectorsPerCluster;
    const uint64_t sectors = clusters * m_geometry.sectorsPerCluster;
    if (sector + sectors - 1 > std::numeric_limits<uint32_t>::max())
        return rc::kNtfsTooLarge;
    return LogRead(static_cast<uint32_t>(sector), buffer, static_cast<uint32_t>(sectors));
}

int NTFS_VOLUME::LoadCluster(uint32_t cluster, const std::byte *&out)
{
    out = nullptr;
    if (!m_mounted)
        return rc::kNtfsNotOpen;
    if (cluster >= m_geometry.totalClusters)
        return rc::kNtfsRunBeyondVolume;
    for (CacheSlot &slot : m_cache) {
        if (slot.valid && slot.cluster == cluster) {
            slot.age = 0;
            out = slot.data.data();
            return rc::kOk;
        }
    }
    CacheSlot *victim = nullptr;
    for (CacheSlot &slot : m_cache) {
        if (slot.valid) {
            if (slot.age < kMaxAge)
                ++slot.age;
        } else if (victim == nullptr) {
            victim = &slot;
        }
    }
    if (victim == nullptr) {
        victim = &m_cache[0];
        for (CacheSlot &slot : m_cache) {
            if (slot.age > victim->age)
                victim = &slot;
        }
    }
    victim->valid = false;
    if (victim->data.empty()) {
        if (const int r = victim->data.allocate(m_geometry.clusterBytes); r != rc::kOk)
            return r;
    }
    const uint64_t sector = uint64_t{cluster} * m_geometry.sectorsPerCluster;
    if (sector > std::numeric_limits<uint32_t>::max())
        return rc::kNtfsTooLarge;
    if (const int r =
            LogRead(static_cast<uint32_t>(sector), victim->data.data(), m_geometry.sectorsPerCluster);
        r != rc::kOk)
        return r;
    victim->valid = true;
    victim->cluster = cluster;
    victim->age = 0;
    out = victim->data.data();
    return rc::kOk;
}

// ---- Indexes -------------------------------------------------------------------------------------------

int NTFS_VOLUME::OpenIndex(NTFS_FRS *frs, NTFS_INDEX &index)
{
    index = NTFS_INDEX{};
    NTFS_ATTRIBUTE *root = nullptr;
    if (const int r = OpenAttribute(frs, NtfsResidency::Resident, attr::kIndexRoot, kIndexName,
                                    NTFS_ATTRIBUTE::kAnyInstance, root);
        r != rc::kOk)
        return r;
    AttributeHold holdRoot(*this, root);
    const auto value = root->Header().value(root->HeaderRecordBytes());
    if (!root->Header().residentValueInside(root->HeaderRecordBytes().size()))
        return rc::kNtfsResidentBeyondRecord;
    IndexRoot rootInfo;
    if (const int r = parseIndexRoot(value, rootInfo); r != rc::kOk)
        return r;

    NTFS_ATTRIBUTE *allocation = nullptr;
    const int r = OpenAttribute(frs, NtfsResidency::NonResident, attr::kIndexAllocation, kIndexName,
                                NTFS_ATTRIBUTE::kAnyInstance, allocation);
    if (r != rc::kOk && r != rc::kNtfsAttributeNotFound)
        return r;
    AttributeHold holdAllocation(*this, allocation);
    if (allocation != nullptr) {
        index.vcnUnit = indexVcnUnit(rootInfo, m_geometry.clusterBytes);
        if (index.vcnUnit == 0)
            return rc::kNtfsIndexBlockSize;
        index.blockBytes = rootInfo.blockBytes;
    }
    index.frs = frs;
    index.root = holdRoot.release();
    index.allocation = holdAllocation.release();
    return rc::kOk;
}

int NTFS_VOLUME::CloseIndex(NTFS_INDEX &index)
{
    int result = rc::kOk;
    if (index.allocation != nullptr)
        result = CloseAttribute(index.allocation);
    if (index.root != nullptr) {
        const int r = CloseAttribute(index.root);
        if (result == rc::kOk)
            result = r;
    }
    index = NTFS_INDEX{};
    return result;
}

int NTFS_VOLUME::ReadIndexBlock(NTFS_INDEX &index, uint64_t vcn, std::span<std::byte> block)
{
    if (index.allocation == nullptr)
        return rc::kNtfsNoAllocation;
    if (block.size() != index.blockBytes || index.vcnUnit == 0)
        return rc::kNtfsIndexBlockSize;
    if (index.retainedValid && index.retainedVcn == vcn) {
        std::copy_n(index.retainedBlock.data(), block.size(), block.data());
        return rc::kOk;
    }
    if (vcn > std::numeric_limits<uint64_t>::max() / index.vcnUnit)
        return rc::kNtfsOffsetBeyondData;
    if (const int r = ReadAttribute(index.allocation, vcn * index.vcnUnit, block.data(), index.blockBytes);
        r != rc::kOk)
        return r;
    if (const int r = parseIndexBlock(block); r != rc::kOk)
        return r;
    if (!index.retainedValid && index.retainedBlock.allocate(block.size()) == rc::kOk) {
        std::copy_n(block.data(), block.size(), index.retainedBlock.data());
        index.retainedVcn = vcn;
        index.retainedValid = true;
    }
    return rc::kOk;
}

int NTFS_VOLUME::rootNode(const NTFS_INDEX &index, std::optional<IndexNode> &node) const
{
    if (index.root == nullptr)
        return rc::kNtfsNotOpen;
    const auto record = index.root->HeaderRecordBytes();
    if (!index.root->Header().residentValueInside(record.size()))
        return rc::kNtfsResidentBeyondRecord;
    node.emplace(IndexNode::forRoot(index.root->Header().value(record)));
    return rc::kOk;
}

int NTFS_VOLUME::WalkIndex(NTFS_INDEX &index, const IndexVisitor &visit)
{
    std::optional<IndexNode> root;
    if (const int r = rootNode(index, root); r != rc::kOk)
        return r;
    std::vector<uint64_t> visited;
    const int r = walkNode(index, *root, 0, visited, visit);
    return r == kStopWalk ? rc::kOk : r;
}

int NTFS_VOLUME::readSubNode(NTFS_INDEX &index, const IndexNode::Entry &entry, int depth,
                             std::vector<uint64_t> &visited, EngineBuffer &block)
{
    if (index.allocation == nullptr)
        return rc::kNtfsNoAllocation;
    // A block met twice would make the walk repeat itself or never end.
    if (depth >= kMaxIndexDepth ||
        std::find(visited.begin(), visited.end(), entry.subNodeVcn) != visited.end())
        return rc::kNtfsIndexLoop;
    visited.push_back(entry.subNodeVcn);
    if (const int r = block.allocate(index.blockBytes); r != rc::kOk)
        return r;
    return ReadIndexBlock(index, entry.subNodeVcn, block.span());
}

int NTFS_VOLUME::walkNode(NTFS_INDEX &index, IndexNode node, int depth, std::vector<uint64_t> &visited,
                          const IndexVisitor &visit)
{
    while (!node.done()) {
        IndexNode::Entry entry;
        if (const int r = node.next(entry); r != rc::kOk)
            return r;
        if (entry.hasSubNode) {
            EngineBuffer block;
            if (const int r = readSubNode(index, entry, depth, visited, block); r != rc::kOk)
                return r;
            if (const int r = walkNode(index, IndexNode::forBlock(block.span()), depth + 1, visited, visit);
                r != rc::kOk)
                return r;
        }
        if (!entry.key.empty()) {
            FileNameKey key;
            if (const int r = parseFileNameKey(entry.key, key); r != rc::kOk)
                return r;
            if (const int r = visit(entry, key); r != rc::kOk)
                return r;
        }
    }
    return rc::kOk;
}

int NTFS_VOLUME::SeekIndex(NTFS_INDEX &index, std::u16string_view name, const IndexVisitor &visit)
{
    std::optional<IndexNode> root;
    if (const int r = rootNode(index, root); r != rc::kOk)
        return r;
    std::vector<uint64_t> visited;
    const int r = seekNode(index, *root, 0, visited, name, visit);
    return r == kStopWalk ? rc::kOk : r;
}

int NTFS_VOLUME::seekNode(NTFS_INDEX &index, IndexNode node, int depth, std::vector<uint64_t> &visited,
                          std::u16string_view name, const IndexVisitor &visit)
{
    while (!node.done()) {
        IndexNode::Entry entry;
        if (const int r = node.next(entry); r != rc::kOk)
            return r;
        // The end entry sorts after every name.
        int order = 1;
        FileNameKey key;
        if (!entry.key.empty()) {
            if (const int r = parseFileNameKey(entry.key, key); r != rc::kOk)
                return r;
            order = CompareNames(key.name, name);
            if (order < 0)
                continue; // the entry and everything in its sub-node sort before the name
        }
        if (entry.hasSubNode) {
            EngineBuffer block;
            if (const int r = readSubNode(index, entry, depth, visited, block); r != rc::kOk)
                return r;
            if (const int r =
                    seekNode(index, IndexNode::forBlock(block.span()), depth + 1, visited, name, visit);
                r != rc::kOk)
                return r;
        }
        if (order > 0)
            return rc::kOk;
        if (const int r = visit(entry, key); r != rc::kOk)
            return r;
    }
    return rc::kOk;
}

// ---- Paths and files -----------------------------------------------------------------------------------

int NTFS_VOLUME::LookupPath(const char *path, uint32_t &record, uint32_t &parent)
{
    if (!m_mounted)
        return rc::kNtfsNotOpen;
    std::string text = path != nullptr ? path : "";
    // The root is found through its own "." entry, the one name that may lead back to a directory on the
    // path.
    const bool root = text == "\\";
    if (root)
        text = ".";
    else if (!text.empty() && text.back() == '\\')
        return rc::kNtfsPathEndsWithSeparator;
    else if (!text.empty() && text.front() == '\\')
        text.erase(0, 1);
    const std::u16string wide = ansiToUtf16(text);

    // Files are looked up directory by directory, so the directory of the previous lookup is where the next
    // one most often begins.
    const size_t lastSeparator = wide.rfind(u'\\');
    const bool sameDirectory = lastSeparator != std::u16string::npos && m_lastDirectory.valid &&
                               std::u16string_view(wide).substr(0, lastSeparator) == m_lastDirectory.path;
    DirectoryTrail trail = sameDirectory ? m_lastDirectory.trail : DirectoryTrail(kRootRecord);
    NTFS_FRS *dir = nullptr;
    if (const int r = LoadFrs(sameDirectory ? m_lastDirectory.record : kRootRecord, dir); r != rc::kOk)
        return r;
    FrsHold holdDir(*this, dir);
    size_t start = sameDirectory ? lastSeparator + 1 : 0;
    for (;;) {
        const size_t end = std::min(wide.find(u'\\', start), wide.size());
        const std::u16string_view component(wide.data() + start, end - start);
        NTFS_INDEX index;
        if (const int r = OpenIndex(dir, index); r != rc::kOk)
            return r;
        bool found = false;
        uint32_t foundRecord = 0;
        {
            IndexHold holdIndex(*this, index);
            // Names that differ only in case can stand side by side; the one spelled exactly as asked wins,
            // else the first one that matches without regard to case.
            const IndexVisitor match = [&](const IndexNode::Entry &entry, const FileNameKey &key) {
                if (!sameName(key.name, component))
                    return rc::kOk;
                if (!found || key.name == component) {
                    found = true;
                    foundRecord = entry.recordNumber;
                }
                return key.name == component ? kStopWalk : rc::kOk;
            };
            // The index is sorted, so a search finds the name along one path of blocks. A volume sorted by
            // another case table than ours could hide it from the search; the whole index is walked then.
            int r = SeekIndex(index, component, match);
            if (r == rc::kOk && !found)
                r = WalkIndex(index, match);
            if (r != rc::kOk)
                return r;
        }
        if (!found)
            return rc::kNtfsNameNotFound;
        if (end == wide.size()) {
            // A name that leads back to a directory on the path would let a walk list it again inside itself.
            if (!root && trail.contains(foundRecord))
                return rc::kDirectoryLoop;
            record = foundRecord;
            parent = dir->RecordNumber();
            if (lastSeparator != std::u16string::npos && !sameDirectory) {
                m_lastDirectory.path.assign(wide, 0, lastSeparator);
                m_lastDirectory.record = parent;
                m_lastDirectory.trail = trail;
                m_lastDirectory.valid = true;
            }
            return rc::kOk;
        }
        if (const int r = trail.push(foundRecord); r != rc::kOk)
            return r;
        NTFS_FRS *next = nullptr;
        holdDir.reset(nullptr);
        if (const int r = LoadFrs(foundRecord, next); r != rc::kOk)
            return r;
        holdDir.reset(next);
        dir = next;
        start = end + 1;
    }
}

bool NTFS_VOLUME::ownsHandle(const NtfsFileHandle *handle) const
{
    return handle != nullptr && std::any_of(m_handles.begin(), m_handles.end(),
                                            [handle](const auto &owned) { return owned.get() == handle; });
}

int NTFS_VOLUME::NtfsOpenFile(const char *path, NtfsFileHandle **handle)
{
    if (handle == nullptr)
        return rc::kNtfsNotOpen;
    *handle = nullptr;
    const std::string_view text = path != nullptr ? path : "";
    if (!text.empty() && text.back() == '\\')
        return rc::kNtfsPathEndsWithSeparator;
    uint32_t recordNumber = 0;
    uint32_t parent = 0;
    if (const int r = LookupPath(path, recordNumber, parent); r != rc::kOk)
        return r;
    return NtfsOpenRecord(recordNumber, handle);
}

int NTFS_VOLUME::NtfsOpenRecord(uint32_t recordNumber, NtfsFileHandle **handle)
{
    if (handle == nullptr)
        return rc::kNtfsNotOpen;
    *handle = nullptr;
    NTFS_FRS *frs = nullptr;
    if (const int r = LoadFrs(recordNumber, frs); r != rc::kOk)
        return r;
    FrsHold holdFrs(*this, frs);
    NTFS_ATTRIBUTE *data = nullptr;
    if (const int r =
            OpenAttribute(frs, NtfsResidency::Either, attr::kData, u"", NTFS_ATTRIBUTE::kAnyInstance, data);
        r != rc::kOk)
        return r;
    AttributeHold holdData(*this, data);

    // Streams are counted by their first extents; with an attribute list they may lie in extension records.
    size_t streams = 0;
    if (frs->HasAttributeList()) {
        streams = static_cast<size_t>(std::count_if(
            frs->AttributeList().begin(), frs->AttributeList().end(),
            [](const AttributeListEntry &e) { return e.type == attr::kData && e.lowestVcn == 0; }));
    } else {
        for (const AttributeHeader &h : frs->Parsed().attributes) {
            if (h.type > attr::kData)
                break;
            if (h.type == attr::kData && (!h.nonResident || h.lowestVcn == 0))
                ++streams;
        }
    }

    std::unique_ptr<NtfsFileHandle> owned(new (std::nothrow) NtfsFileHandle);
    if (owned == nullptr)
        return rc::kOutOfMemory;
    try {
        m_handles.reserve(m_handles.size() + 1);
    } catch (const std::bad_alloc &) {
        return rc::kOutOfMemory;
    }
    owned->data = holdData.release();
    owned->frs = holdFrs.release();
    owned->flags = streams > 1 ? kNtfsHandleMultipleData : 0;
    *handle = owned.get();
    m_handles.push_back(std::move(owned));
    return rc::kOk;
}

uint64_t NTFS_VOLUME::NtfsGetFileSize64(const NtfsFileHandle *handle) const
{
    if (!ownsHandle(handle) || handle->data == nullptr)
        return 0;
    return handle->data->DataSize();
}

uint32_t NTFS_VOLUME::NtfsGetFileSize(const NtfsFileHandle *handle) const
{
    const uint64_t size = NtfsGetFileSize64(handle);
    return size > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(size);
}

int NTFS_VOLUME::NtfsReadFile(NtfsFileHandle *handle, void *buffer, uint32_t count)
{
    if (!ownsHandle(handle) || handle->data == nullptr)
        return rc::kNtfsNotOpen;
    if (const int r = readAttribute(handle->data, handle->position, buffer, count, ClusterReads::Direct);
        r != rc::kOk)
        return r;
    handle->position += count;
    return rc::kOk;
}

int NTFS_VOLUME::NtfsCloseFile(NtfsFileHandle *handle)
{
    const auto it = std::find_if(m_handles.begin(), m_handles.end(),
                                 [handle](const auto &owned) { return owned.get() == handle; });
    if (handle == nullptr || it == m_handles.end())
        return rc::kNtfsNotOpen;
    int result = rc::kOk;
    if (handle->data != nullptr)
        result = CloseAttribute(handle->data);
    if (handle->frs != nullptr) {
        const int r = ReleaseFrs(handle->frs);
        if (result == rc::kOk)
            result = r;
    }
    m_handles.erase(it);
    return result;
}

int NTFS_VOLUME::NtfsDataStart(uint32_t recordNumber, uint64_t *cluster)
{
    *cluster = 0;
    NtfsFileHandle *handle = nullptr;
    if (const int r = NtfsOpenRecord(recordNumber, &handle); r != rc::kOk)
        return r;
    if (handle->data->NonResident())
        for (const NTFS_RUNLIST::Run &run : handle->data->Runs().runs())
            if (run.cluster >= 0) {
                *cluster = static_cast<uint64_t>(run.cluster);
                break;
            }
    return NtfsCloseFile(handle);
}

int NTFS_VOLUME::NtfsListDirectory(DIRLIST &list, const char *path, int nameSpaceChoice)
{
    uint32_t recordNumber = 0;
    uint32_t parent = 0;
    if (const int r = LookupPath(path, recordNumber, parent); r != rc::kOk)
        return r == rc::kNtfsNameNotFound ? rc::kNtfsDirectoryNotFound : r;
    NTFS_FRS *frs = nullptr;
    if (const int r = LoadFrs(recordNumber, frs); r != rc::kOk)
        return r;
    FrsHold holdFrs(*this, frs);
    if (!frs->Parsed().isDirectory())
        return rc::kNtfsDirectoryNotFound;
    // The lookup bounds the directories on the way; the one listed is the last of them.
    if (directoryDepth(path != nullptr ? path : "") > kMaxDirectoryDepth)
        return rc::kDirectoryLoop;
    NTFS_INDEX index;
    if (const int r = OpenIndex(frs, index); r != rc::kOk)
        return r;
    IndexHold holdIndex(*this, index);

    return WalkIndex(index, [&](const IndexNode::Entry &entry, const FileNameKey &key) {
        if (entry.recordNumber < kFirstUserRecord)
            return rc::kOk;
        // Choice 2 lists the DOS names (namespaces 2 and 3). Otherwise every other name is listed: the Win32
        // ones and also POSIX names, which hard links and names written by other systems carry.
        const bool wanted = nameSpaceChoice == 2 ? (key.nameSpace & 2) != 0 : key.nameSpace != 2;
        if (!wanted)
            return rc::kOk;
        const std::string name = utf16ToAnsi(key.name);
        const uint32_t attributes =
            (key.fileAttributes & index::kFileAttributeDirectory) != 0 ? kAttrDirectory : 0;
        if (list.detailsWanted == 0) {
            const int added = list.AddEntry(name.c_str(), attributes, 0, 0, nullptr, nullptr, -1, nullptr);
            if (added == rc::kOk)
                list.SetLastRecordNumber(entry.recordNumber);
            return added;
        }
        // A time outside the DOS range leaves the entry without date and time instead of failing the listing.
        NtfsDosTime dos;
        DirListDate date;
        DirListTime time;
        const bool hasTime = NtfsFileTimeToDos(key.modificationTime, dos);
        if (hasTime) {
            date.day = dos.day;
            date.month = dos.month;
            date.year = dos.year;
            time.hour = dos.hour;
            time.minute = dos.minute;
            time.second = dos.second;
        }
        const int added = list.AddEntry(name.c_str(), attributes, static_cast<uint32_t>(key.dataSize),
                                        static_cast<uint32_t>(key.dataSize >> 32), hasTime ? &date : nullptr,
                                        hasTime ? &time : nullptr, -1, nullptr);
        if (added == rc::kOk) {
            list.SetLastFileTime(key.modificationTime);
            list.SetLastRecordNumber(entry.recordNumber);
        }
        return added;
    });
}

} // namespace imbrex::engine
