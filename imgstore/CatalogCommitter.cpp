#include "CatalogCommitter.h"

#include <algorithm>

#include "Checksum.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

int CatalogCommitter::load()
{
    std::vector<std::byte> head(2 * kSuperblockSize);
    size_t got = 0;
    if (int e = m_file.readAt(0, head, &got))
        return e;
    head.resize(got);

    Superblock slots[2];
    SlotState states[2] = {SlotState::Empty, SlotState::Empty};
    bool garbled[2] = {false, false}; // no signature, yet not the zeros of a slot never written
    for (int i = 0; i < 2; ++i) {
        auto offset = static_cast<size_t>(kSuperblockOffset[i]);
        if (head.size() < offset + kSuperblockSize)
            continue;
        auto bytes = std::span(head).subspan(offset, kSuperblockSize);
        states[i] = parseSuperblock(bytes, &slots[i]);
        garbled[i] = states[i] == SlotState::Empty &&
                     std::any_of(bytes.begin(), bytes.end(), [](std::byte b) { return b != std::byte{0}; });
    }
    if (states[0] == SlotState::TooNew || states[1] == SlotState::TooNew)
        return rc::kNewerVersion;

    // The valid slots, newest first; the first whose catalog reads is the state shown.
    std::vector<int> candidates;
    for (int i = 0; i < 2; ++i)
        if (states[i] == SlotState::Valid)
            candidates.push_back(i);
    if (candidates.size() == 2 && slots[1].generation > slots[0].generation)
        std::swap(candidates[0], candidates[1]);
    if (candidates.empty()) {
        bool damaged = states[0] == SlotState::Damaged || states[1] == SlotState::Damaged;
        return damaged ? rc::kImageDamaged : rc::kNotAnImage;
    }
    int chosen = -1;
    int firstError = rc::kOk;
    Catalog catalog;
    for (int i : candidates) {
        int e = loadCatalog(slots[i], &catalog);
        if (e == 0) {
            chosen = i;
            break;
        }
        // Only a damaged catalog sends the reader to an older state; a part that is not at hand does not.
        if (e != rc::kImageDamaged)
            return e;
        if (firstError == 0)
            firstError = e;
    }
    if (chosen < 0)
        return firstError;
    const Superblock &sb = slots[chosen];
    m_file.setLayout(sb.splitSize, sb.imageId);

    // Is the state shown the newest the file records? A valid newer slot whose catalog did not read says no.
    // So does an unreadable slot beside one that holds a single generation, unless it held an older one:
    // beside a mirrored slot it is a torn write or a spoilt copy of the state shown.
    m_damaged = false;
    m_newestGeneration = sb.generation;
    const int other = 1 - chosen;
    if (states[other] == SlotState::Valid && slots[other].generation > sb.generation) {
        m_damaged = true;
        m_newestGeneration = slots[other].generation;
    } else if ((states[other] == SlotState::Damaged || garbled[other]) && !(sb.flags & kSuperblockMirrored)) {
        uint64_t claimed = states[other] == SlotState::Damaged ? slots[other].generation : 0;
        if (claimed == 0 || claimed >= sb.generation) {
            m_damaged = true;
            m_newestGeneration = claimed > sb.generation ? claimed : 0;
        }
    }

    m_currentSlots = 1u << chosen;
    if (states[other] == SlotState::Valid && slots[other].generation == sb.generation &&
        slots[other].catalogOffset == sb.catalogOffset && slots[other].catalogChecksum == sb.catalogChecksum)
        m_currentSlots |= 1u << other;
    m_super = sb;
    m_catalog = std::move(catalog);
    m_committed = m_catalog;
    m_space.rebuild(extentsInUse());
    return rc::kOk;
}

int CatalogCommitter::loadCatalog(const Superblock &sb, Catalog *out)
{
    // Everything the image uses lies below the end its superblock records.
    uint64_t fileSize = sb.dataEnd;
    if (sb.catalogLength == 0 || sb.catalogLength > kMaxCatalogSize || sb.catalogOffset < kDataStart ||
        sb.catalogOffset > fileSize || sb.catalogLength > fileSize - sb.catalogOffset)
        return rc::kImageDamaged;
    // The parts of a split set are found through the layout this superblock records.
    m_file.setLayout(sb.splitSize, sb.imageId);
    std::vector<std::byte> catalogBytes(sb.catalogLength);
    size_t got = 0;
    if (int e = m_file.readAt(sb.catalogOffset, catalogBytes, &got))
        return e;
    if (got != catalogBytes.size() || checksum(catalogBytes) != sb.catalogChecksum)
        return rc::kImageDamaged;
    Catalog catalog;
    if (int e = parseCatalog(catalogBytes, fileSize, &catalog))
        return e;
    if (catalog.imageId != sb.imageId)
        return rc::kImageDamaged;
    *out = std::move(catalog);
    return rc::kOk;
}

std::vector<Extent> CatalogCommitter::extentsInUse(const Catalog *next) const
{
    std::vector<Extent> used;
    if (m_super.catalogLength)
        used.push_back({m_super.catalogOffset, m_super.catalogLength});
    auto addPartition = [&used](const PartitionRecord &p) {
        used.push_back({p.bitmap.offset, p.bitmap.length});
        used.push_back({p.chunkTable.offset, p.chunkTable.length});
        used.insert(used.end(), p.extents.begin(), p.extents.end());
    };
    // What the disk's catalog names, and what the catalog in hand (or the one being committed) names.
    for (const PartitionRecord &p : m_committed.partitions)
        addPartition(p);
    for (const PartitionRecord &p : (next ? next->partitions : m_catalog.partitions))
        addPartition(p);
    if (m_work)
        addPartition(*m_work);
    return used;
}

int CatalogCommitter::commit(Catalog next)
{
    std::vector<std::byte> bytes = encodeCatalog(next);
    if (bytes.size() > kMaxCatalogSize)
        return rc::kImageTooLarge;
    // Released partitions that next drops were never committed: their space is free for the new catalog.
    m_space.rebuild(extentsInUse(&next));
    uint64_t offset = m_space.allocate(bytes.size());
    Superblock sb = m_super;
    sb.version = kFormatVersion;
    sb.imageId = next.imageId;
    // Above every generation the file records, also one that could not be read, so no slot is left that
    // claims to be newer than the state this commit makes.
    sb.generation = std::max(m_super.generation, m_newestGeneration) + 1;
    sb.splitSize = m_file.splitSize();
    sb.catalogOffset = offset;
    sb.catalogLength = static_cast<uint32_t>(bytes.size());
    sb.catalogChecksum = checksum(bytes);
    sb.flags = kSuperblockMirrored;

    int e = m_file.writeAt(offset, bytes);
    if (e == 0)
        e = m_file.sync();
    if (e != 0) {
        // Nothing the current image uses was touched; what the catalog's write took of the disk goes back.
        giveBackSpace();
        return e;
    }

    // The new state, and the end of the space it uses.
    Superblock previous = m_super;
    Catalog previousCatalog = std::move(m_catalog);
    m_super = sb;
    m_catalog = std::move(next);
    // The new superblock names the end of what the new catalog uses; the old catalog's space stays reserved
    // until the new one is durable.
    {
        Catalog onDisk = std::move(m_committed);
        m_committed = Catalog{};
        m_space.rebuild(extentsInUse());
        m_super.dataEnd = m_space.end();
        m_committed = std::move(onDisk);
        m_space.rebuild(extentsInUse());
    }

    // First into a slot that does not hold the committed state (the older or unreadable one), so that a torn
    // write leaves that state whole in the other; then into the other, so that both hold the new state.
    std::vector<std::byte> slot = encodeSuperblock(m_super);
    int first = static_cast<int>(m_super.generation % 2);
    if (m_currentSlots == (1u << first))
        first = 1 - first;
    e = m_file.writeAt(kSuperblockOffset[first], slot);
    if (e == 0)
        e = m_file.sync();
    if (e != 0) {
        m_super = previous;
        m_catalog = std::move(previousCatalog);
        m_space.rebuild(extentsInUse());
        m_broken = true;
        return e;
    }
    m_uncommitted = false;
    m_committed = m_catalog;
    m_currentSlots = 1u << first;
    m_damaged = false;
    m_newestGeneration = m_super.generation;
    m_space.rebuild(extentsInUse());
    e = m_file.writeAt(kSuperblockOffset[1 - first], slot);
    if (e == 0)
        e = m_file.sync();
    if (e != 0) {
        // The new state is durable in the first slot, but what the second holds is not known.
        m_broken = true;
        return e;
    }
    m_currentSlots = 3;
    // Space after the last byte in use is given back (also what partitions dropped before this commit had
    // written); a failure here only leaves free bytes at the end.
    m_file.shrinkTo(m_space.end());
    return rc::kOk;
}

void CatalogCommitter::giveBackSpace()
{
    // Only a store that may write, and that knows what the disk holds: a damaged image keeps every byte until
    // the user accepts the state shown, and after a failed commit the newer state may lie beyond this end.
    m_space.rebuild(extentsInUse());
    if (!m_writable || m_broken || m_closed || (m_damaged && !m_damageAccepted))
        return;
    m_file.shrinkTo(m_space.end());
}

int CatalogCommitter::close()
{
    if (m_closed)
        return rc::kOk;
    // Partitions released since the last change become part of the image together, now.
    int e = rc::kOk;
    if (m_uncommitted && m_writable && !m_broken) {
        e = commit(m_catalog);
        if (e != 0) {
            // The released partitions are lost with the run; the file keeps only what the disk's catalog
            // uses.
            m_catalog = m_committed;
            m_uncommitted = false;
            giveBackSpace();
        }
    }
    m_closed = true;
    return e;
}

void CatalogCommitter::addReleased(PartitionRecord p)
{
    m_catalog.partitions.push_back(std::move(p));
    m_uncommitted = true;
    m_space.rebuild(extentsInUse());
}

void CatalogCommitter::dropReleased(Catalog next)
{
    // Nothing on disk names what next drops, so it goes without a commit, which a full disk could refuse.
    m_catalog = std::move(next);
    m_uncommitted = m_catalog.partitions.size() > m_committed.partitions.size();
    giveBackSpace();
}

int CatalogCommitter::checkChangesAllowed() const
{
    if (!m_writable)
        return rc::kImageReadOnly;
    if (m_broken)
        return rc::kIoError;
    if (m_damaged && !m_damageAccepted)
        return rc::kDamagedImageNotAccepted;
    return rc::kOk;
}

} // namespace imbrex::zbi
