#include "ZbiImageStore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "Checksum.h"
#include "Keyring.h"
#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

constexpr uint32_t kMinimumBufferSize = 69632; // one chunk record, rounded up to 4 KiB
constexpr size_t kWriteBehindSize = 1 << 20;
constexpr size_t kReadWindow = 1 << 20;
constexpr uint64_t kDecodeAheadDepth = 8; // chunks handed to the workers ahead of a reader going forward

std::string clampText(const char *text, size_t maxLength)
{
    std::string s = text ? text : "";
    if (s.size() <= maxLength)
        return s;
    s.resize(maxLength);
    // Do not leave half of a UTF-8 sequence behind.
    size_t cut = s.size();
    size_t back = 0;
    while (cut > 0 && back < 4 && (static_cast<unsigned char>(s[cut - 1]) & 0xC0) == 0x80) {
        --cut;
        ++back;
    }
    if (cut > 0 && static_cast<unsigned char>(s[cut - 1]) >= 0xC0) {
        unsigned char lead = static_cast<unsigned char>(s[cut - 1]);
        size_t need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
        if (back < need)
            s.resize(cut - 1);
    }
    return s;
}

int copyText(const std::string &text, char *buffer, uint32_t size)
{
    if (!buffer || size == 0)
        return rc::kInvalidArgument;
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return rc::kOk;
}

uint32_t newImageId()
{
    std::random_device device;
    uint32_t id = 0;
    while (id == 0)
        id = device();
    return id;
}

void today(uint16_t *year, uint16_t *month, uint16_t *day)
{
    using namespace std::chrono;
    year_month_day date{floor<days>(system_clock::now())};
    *year = static_cast<uint16_t>(static_cast<int>(date.year()));
    *month = static_cast<uint16_t>(static_cast<unsigned>(date.month()));
    *day = static_cast<uint16_t>(static_cast<unsigned>(date.day()));
}

uint64_t chunkLength(const PartitionRecord &p, uint64_t index)
{
    uint64_t start = index * kChunkSize;
    return std::min<uint64_t>(kChunkSize, p.decodedLength - start);
}

} // namespace

ZbiImageStore::ZbiImageStore(std::string path, bool writable, IMGSTORE_UI_CALLBACK *callback)
    : m_path(std::move(path)), m_writable(writable), m_callback(callback)
{
}

ZbiImageStore::~ZbiImageStore() = default;

int ZbiImageStore::open(const std::string &path, bool writable, IMGSTORE_UI_CALLBACK *callback,
                        std::unique_ptr<ZbiImageStore> *out)
{
    if (writable && platform::isReadOnlyFile(path))
        return platform::kErrorAccessDenied;
    std::unique_ptr<ZbiImageStore> store(new ZbiImageStore(path, writable, callback));
    store->m_file.setCallback(callback);
    if (int e = store->m_file.open(path, writable))
        return e;
    if (writable && !store->m_file.tryLockExclusive())
        return rc::kImageLocked;
    if (int e = store->load())
        return e;
    *out = std::move(store);
    return rc::kOk;
}

int ZbiImageStore::create(const std::string &path, uint32_t splitSize, IMGSTORE_UI_CALLBACK *callback,
                          std::unique_ptr<ZbiImageStore> *out)
{
    // The file being replaced must not be in another writer's hands, and must be ours to replace.
    platform::File existing;
    if (platform::fileExists(path)) {
        if (platform::isReadOnlyFile(path))
            return platform::kErrorAccessDenied;
        if (int e = existing.open(path, platform::FileAccess::ReadWrite))
            return e;
        if (!existing.tryLockExclusive())
            return rc::kImageLocked;
    }

    std::unique_ptr<ZbiImageStore> store(new ZbiImageStore(path, true, callback));
    std::string temp;
    std::random_device device;
    for (int attempt = 0;; ++attempt) {
        temp = platform::directoryOf(path) + "/." + platform::fileNameOf(path) + ".new-" +
               std::to_string(device());
        int e = store->m_file.createTemporary(temp, path);
        if (e == 0)
            break;
        if (e != platform::kErrorFileExists || attempt > 16)
            return e;
    }
    if (!store->m_file.tryLockExclusive()) {
        (void)platform::removeFile(temp);
        return rc::kImageLocked;
    }

    store->m_catalog.imageId = newImageId();
    store->m_file.setCallback(callback);
    store->m_file.setLayout(splitSize, store->m_catalog.imageId);
    Catalog empty = store->m_catalog;
    int e = store->commit(empty);
    if (e == 0)
        e = store->m_file.rename();
    if (e != 0) {
        store->m_file.close();
        (void)platform::removeFile(temp);
        return e;
    }
    *out = std::move(store);
    return rc::kOk;
}

int ZbiImageStore::load()
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

int ZbiImageStore::loadCatalog(const Superblock &sb, Catalog *out)
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

std::vector<Extent> ZbiImageStore::extentsInUse(const Catalog *next) const
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
    if (m_selection == Selection::Pending)
        addPartition(m_pending);
    return used;
}

int ZbiImageStore::commit(Catalog next)
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

void ZbiImageStore::giveBackSpace()
{
    // Only a store that may write, and that knows what the disk holds: a damaged image keeps every byte until
    // the user accepts the state shown, and after a failed commit the newer state may lie beyond this end.
    m_space.rebuild(extentsInUse());
    if (!m_writable || m_broken || m_closed || (m_damaged && !m_damageAccepted))
        return;
    m_file.shrinkTo(m_space.end());
}

int ZbiImageStore::GetDamage(uint32_t *damaged, uint64_t *shown, uint64_t *newest)
{
    if (int e = checkUsable())
        return e;
    *damaged = m_damaged ? 1 : 0;
    *shown = m_damaged ? m_super.generation : 0;
    *newest = m_damaged ? m_newestGeneration : 0;
    return rc::kOk;
}

int ZbiImageStore::AcceptDamage()
{
    if (int e = checkUsable())
        return e;
    m_damageAccepted = true;
    return rc::kOk;
}

void ZbiImageStore::Destroy()
{
    (void)Close();
    delete this;
}

int ZbiImageStore::Close()
{
    if (m_closed)
        return rc::kOk;
    clearSelection();
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
    m_file.close();
    m_closed = true;
    return e;
}

uint32_t ZbiImageStore::GetPartitionCount()
{
    return m_closed ? 0 : static_cast<uint32_t>(m_catalog.partitions.size());
}

int ZbiImageStore::checkUsable() const
{
    if (m_closed)
        return rc::kWrongSequence;
    return rc::kOk;
}

int ZbiImageStore::checkWritable() const
{
    if (int e = checkUsable())
        return e;
    if (!m_writable)
        return rc::kImageReadOnly;
    if (m_broken)
        return rc::kIoError;
    if (m_damaged && !m_damageAccepted)
        return rc::kDamagedImageNotAccepted;
    return rc::kOk;
}

const PartitionRecord *ZbiImageStore::current() const
{
    switch (m_selection) {
    case Selection::Existing:
        return &m_catalog.partitions[m_selected];
    case Selection::Pending:
        return &m_pending;
    case Selection::None:
        break;
    }
    return nullptr;
}

void ZbiImageStore::dropPending()
{
    if (m_selection == Selection::Pending) {
        m_selection = Selection::None;
        m_pending = PartitionRecord{};
        // What the partition had written may have grown the file up to a full disk.
        giveBackSpace();
    }
}

void ZbiImageStore::clearSelection()
{
    dropPending();
    m_selection = Selection::None;
    m_chunkOffsets.clear();
    m_chunkOffsets.shrink_to_fit();
    m_chunkTableLoaded = false;
    m_storedBitmap.clear();
    m_bitmapLoaded = false;
    m_position = 0;
    m_rawChunk = 0;
    invalidateWindow();
    for (DecodedChunk &chunk : m_decodedChunks)
        chunk.index = UINT64_MAX;
    m_lastRecord = UINT64_MAX;
    m_lastMiss = UINT64_MAX;
    m_ahead.drain();
    ++m_readGeneration;
    m_writeFill = 0;
    m_writeBehind.clear();
    m_encoder.reset();
    m_decoder.resetStream();
    m_key.reset();
    m_pendingBitmapWritten = false;
    m_pendingFailed = false;
    m_pendingRawWrites = false;
}

int ZbiImageStore::AddPartition(uint32_t typeId, uint32_t fileSystemType, uint32_t sectorCount,
                                char driveLetter, uint32_t compression, uint32_t)
{
    if (int e = checkWritable())
        return e;
    if (m_selection == Selection::Pending)
        return rc::kWrongSequence;
    if (familyOf(compression) == CompressionFamily::Unsupported)
        return rc::kUnsupportedCompression;
    if (m_catalog.partitions.size() >= kMaxPartitions)
        return rc::kImageTooLarge;
    clearSelection();
    m_pending = PartitionRecord{};
    m_pending.typeId = typeId;
    m_pending.fileSystemType = fileSystemType;
    m_pending.sectorCount = sectorCount;
    m_pending.driveLetter = static_cast<uint8_t>(driveLetter);
    m_pending.compression = compression;
    today(&m_pending.year, &m_pending.month, &m_pending.day);
    m_selection = Selection::Pending;
    return rc::kOk;
}

int ZbiImageStore::SelectPartition(uint32_t number, uint32_t)
{
    if (int e = checkUsable())
        return e;
    if (m_selection == Selection::Pending)
        return rc::kWrongSequence;
    if (number == 0 || number > m_catalog.partitions.size())
        return rc::kBadPartitionNumber;
    clearSelection();
    // Every part that holds this partition's data must be at hand.
    const PartitionRecord &p = m_catalog.partitions[number - 1];
    int e = m_file.checkPresent(p.bitmap.offset, p.bitmap.length);
    if (e == 0)
        e = m_file.checkPresent(p.chunkTable.offset, p.chunkTable.length);
    for (const Extent &extent : p.extents)
        if (e == 0)
            e = m_file.checkPresent(extent.offset, extent.length);
    if (e != 0)
        return e == rc::kCancelled ? rc::kSpanned : e;
    m_selection = Selection::Existing;
    m_selected = number - 1;
    return rc::kOk;
}

int ZbiImageStore::DeleteCurrentPartition()
{
    if (int e = checkWritable())
        return e;
    if (m_selection == Selection::Pending) {
        clearSelection();
        return rc::kOk;
    }
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    Catalog next = m_catalog;
    next.partitions.erase(next.partitions.begin() + static_cast<std::ptrdiff_t>(m_selected));
    const bool released = m_selected >= m_committed.partitions.size();
    clearSelection();
    if (released && m_uncommitted) {
        // Released in this run and never committed: nothing on disk names it, so it goes without a commit,
        // which a full disk could refuse, and its space goes back at once.
        m_catalog = std::move(next);
        m_uncommitted = m_catalog.partitions.size() > m_committed.partitions.size();
        giveBackSpace();
        return rc::kOk;
    }
    return commit(std::move(next));
}

int ZbiImageStore::ReleasePartition(uint32_t)
{
    if (int e = checkUsable())
        return e;
    int e = rc::kOk;
    if (m_selection == Selection::Pending) {
        e = finishPending();
        if (e != 0)
            return e; // still pending: the caller may delete it
    }
    clearSelection();
    return e;
}

int ZbiImageStore::ResetPartitionSelection(uint32_t)
{
    if (int e = checkUsable())
        return e;
    clearSelection();
    return rc::kOk;
}

int ZbiImageStore::finishPending()
{
    if (m_pendingFailed)
        return rc::kIoError;
    if (!m_pendingBitmapWritten)
        return rc::kWrongSequence;
    if (m_writeFill > 0) {
        if (int e = storeChunk(std::span(m_writeBuffer).first(m_writeFill)))
            return e;
        m_writeFill = 0;
    }
    if (int e = flushWriteBehind())
        return e;
    if (m_pending.decodedLength != m_pending.expectedDecodedLength())
        return rc::kWrongSequence;

    std::vector<std::byte> table(m_chunkOffsets.size() * 8);
    for (size_t i = 0; i < m_chunkOffsets.size(); ++i)
        storeLe64(table, i * 8, m_chunkOffsets[i]);
    m_pending.chunkCount = m_chunkOffsets.size();
    m_pending.chunkTable.length = static_cast<uint32_t>(table.size());
    m_pending.chunkTable.checksum = checksum(table);
    m_pending.chunkTable.offset = m_space.allocate(table.size());
    if (int e = m_file.writeAt(m_pending.chunkTable.offset, table)) {
        m_pendingFailed = true;
        return e;
    }
    // The partition joins the image at the next commit (Close, Destroy or any other change), so that all the
    // partitions a run adds arrive together, or none of them when the run dies before it ends.
    m_catalog.partitions.push_back(m_pending);
    m_uncommitted = true;
    m_selection = Selection::None;
    m_pending = PartitionRecord{};
    m_space.rebuild(extentsInUse());
    return rc::kOk;
}

// ---- block bitmap
// -------------------------------------------------------------------------------------------

int ZbiImageStore::ensureStoredBitmap()
{
    if (m_bitmapLoaded)
        return rc::kOk;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    std::vector<std::byte> stored(p.bitmap.length);
    size_t got = 0;
    if (int e = m_file.readAt(p.bitmap.offset, stored, &got))
        return e;
    stored.resize(got);
    std::span<const std::byte> bits;
    if (int e = checkStoredBitmap(p, stored, &bits))
        return e;
    m_storedBitmap = std::move(stored);
    m_bitmapLoaded = true;
    return rc::kOk;
}

int ZbiImageStore::ensureKey()
{
    const PartitionRecord *p = current();
    if (!p || (p->flags & kFlagEncrypted) == 0 || m_key)
        return rc::kOk;
    Salt salt;
    KeyCheck check;
    std::memcpy(salt.data(), p->salt, salt.size());
    std::memcpy(check.data(), p->keyCheck, check.size());
    m_key = findPartitionKey(p->password, salt, check);
    return m_key ? rc::kOk : rc::kWrongPassword;
}

void ZbiImageStore::applyKey(uint64_t index, std::span<std::byte> data) const
{
    const PartitionRecord *p = current();
    Salt salt;
    std::memcpy(salt.data(), p->salt, salt.size());
    applyKeystream(*m_key, salt, index, data);
}

int ZbiImageStore::ReadBlockBitmap(void *buffer, uint32_t size, uint32_t *sectorsPerBlock,
                                   uint32_t *bytesRead)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    if (int e = ensureStoredBitmap())
        return e;
    if (int e = ensureKey())
        return e;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    std::vector<std::byte> bits(m_storedBitmap.begin() + kBitmapHeaderSize, m_storedBitmap.end());
    if (p.flags & kFlagEncrypted)
        applyKey(kBitmapKeyIndex, bits);
    if (countBlocks(bits, p.blockCount) != p.usedBlockCount)
        return rc::kDataDamaged;
    size_t n = std::min<size_t>(size, bits.size());
    if (n)
        std::memcpy(buffer, bits.data(), n);
    if (sectorsPerBlock)
        *sectorsPerBlock = p.sectorsPerBlock;
    *bytesRead = static_cast<uint32_t>(n);
    return rc::kOk;
}

int ZbiImageStore::ReadBlockBitmapRaw(void *buffer, uint32_t size, uint32_t *bytesRead, uint32_t *compression)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    if (int e = ensureStoredBitmap())
        return e;
    if (size < m_storedBitmap.size())
        return rc::kInvalidArgument;
    std::memcpy(buffer, m_storedBitmap.data(), m_storedBitmap.size());
    *bytesRead = static_cast<uint32_t>(m_storedBitmap.size());
    *compression = m_catalog.partitions[m_selected].compression;
    return rc::kOk;
}

int ZbiImageStore::checkPendingGeometry(uint32_t sectorsPerBlock, uint32_t blockCount,
                                        uint32_t usedBlockCount, uint32_t compression) const
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending || m_pendingBitmapWritten || m_pendingFailed)
        return rc::kWrongSequence;
    const PartitionRecord &p = m_pending;
    if (compression != p.compression || sectorsPerBlock == 0)
        return rc::kInvalidArgument;
    uint64_t blocks = (static_cast<uint64_t>(p.sectorCount) + sectorsPerBlock - 1) / sectorsPerBlock;
    if (blocks != blockCount || usedBlockCount > blockCount)
        return rc::kInvalidArgument;
    return rc::kOk;
}

int ZbiImageStore::storeBitmap(std::span<const std::byte> stored, uint32_t sectorsPerBlock,
                               uint32_t blockCount, uint32_t usedBlockCount)
{
    PartitionRecord &p = m_pending;
    p.sectorsPerBlock = sectorsPerBlock;
    p.blockCount = blockCount;
    p.usedBlockCount = usedBlockCount;
    p.bitmap.length = static_cast<uint32_t>(stored.size());
    p.bitmap.checksum = checksum(stored);
    p.bitmap.offset = m_space.allocate(stored.size());
    if (int e = m_file.writeAt(p.bitmap.offset, stored)) {
        m_pendingFailed = true;
        return e;
    }
    m_pendingBitmapWritten = true;
    m_encoder = std::make_unique<ChunkEncoder>(p.compression);
    return rc::kOk;
}

int ZbiImageStore::WriteBlockBitmap(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                    uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkPendingGeometry(sectorsPerBlock, blockCount, usedBlockCount, compression))
        return e;
    if (size != bitmapBytes(blockCount) || (size && !buffer))
        return rc::kInvalidArgument;
    std::vector<std::byte> bits(size);
    if (size)
        std::memcpy(bits.data(), buffer, size);
    // Bits beyond the last block carry nothing; keep them clear so equal bitmaps are stored equally.
    if (blockCount % 8)
        bits.back() &= static_cast<std::byte>((1u << (blockCount % 8)) - 1);
    if (countBlocks(bits, blockCount) != usedBlockCount)
        return rc::kInvalidArgument;

    BitmapHeader header;
    header.bitmapLength = size;
    PartitionRecord &p = m_pending;
    if (p.password != 0) {
        // A protected partition gets its own salt and key; the password text must be known to the store.
        Salt salt;
        PartitionKey key;
        KeyCheck check;
        if (!newPartitionKey(p.password, &salt, &key, &check))
            return rc::kWrongPassword;
        p.flags |= kFlagEncrypted;
        std::memcpy(p.salt, salt.data(), kSaltSize);
        std::memcpy(p.keyCheck, check.data(), kKeyCheckBytes);
        m_key = key;
        header.flags = kFlagEncrypted;
        std::memcpy(header.salt, p.salt, kSaltSize);
        std::memcpy(header.keyCheck, p.keyCheck, kKeyCheckBytes);
        applyKey(kBitmapKeyIndex, bits);
    }
    return storeBitmap(encodeBitmap(header, bits), sectorsPerBlock, blockCount, usedBlockCount);
}

int ZbiImageStore::WriteBlockBitmapRaw(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                       uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkPendingGeometry(sectorsPerBlock, blockCount, usedBlockCount, compression))
        return e;
    if (!buffer)
        return rc::kInvalidArgument;
    auto stored = std::span(static_cast<const std::byte *>(buffer), size);
    BitmapHeader header;
    std::span<const std::byte> bits;
    if (parseBitmap(stored, &header, &bits) != 0 || bits.size() != bitmapBytes(blockCount))
        return rc::kInvalidArgument;
    PartitionRecord &p = m_pending;
    bool encrypted = (header.flags & kFlagEncrypted) != 0;
    // The stored form keeps its protection: a protected source goes only to a partition with its value.
    if (encrypted != (p.password != 0))
        return rc::kInvalidArgument;
    if (encrypted) {
        p.flags |= kFlagEncrypted;
        std::memcpy(p.salt, header.salt, kSaltSize);
        std::memcpy(p.keyCheck, header.keyCheck, kKeyCheckBytes);
    } else if (countBlocks(bits, blockCount) != usedBlockCount) {
        return rc::kInvalidArgument;
    }
    return storeBitmap(stored, sectorsPerBlock, blockCount, usedBlockCount);
}

// ---- data stream
// ---------------------------------------------------------------------------------------------

int ZbiImageStore::ensureChunkTable()
{
    if (m_chunkTableLoaded)
        return rc::kOk;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    std::vector<std::byte> table(p.chunkTable.length);
    size_t got = 0;
    if (int e = m_file.readAt(p.chunkTable.offset, table, &got))
        return e;
    if (got != table.size() || checksum(table) != p.chunkTable.checksum)
        return rc::kDataDamaged;
    m_chunkOffsets.resize(p.chunkCount);
    for (uint64_t i = 0; i < p.chunkCount; ++i)
        m_chunkOffsets[i] = loadLe64(table, i * 8);
    m_chunkTableLoaded = true;
    return rc::kOk;
}

bool ZbiImageStore::recordFits(const PartitionRecord &p, uint32_t codec)
{
    return codecFitsPartition(codec, p.compression, (p.flags & kFlagEncrypted) != 0);
}

RecordExpectation ZbiImageStore::expectedRecord(uint64_t index) const
{
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    RecordExpectation expected;
    expected.index = index;
    expected.decodedLength = static_cast<uint32_t>(chunkLength(p, index));
    expected.compressionCode = p.compression;
    expected.encrypted = (p.flags & kFlagEncrypted) != 0;
    return expected;
}

int ZbiImageStore::fillWindow(uint64_t index, bool sequential, size_t minimum)
{
    // Records of a partition lie one after another, so a reader going forward gets more of them read ahead
    // the longer it goes on; a reader that jumps about gets just the record it asked for. The chunk table
    // tells where the records end; where it cannot (the last record, records not in order) the largest a
    // record can be is read.
    if (!m_window)
        m_window = std::make_unique_for_overwrite<std::byte[]>(kReadWindow);
    const uint64_t offset = m_chunkOffsets[index];
    const uint64_t records = sequential ? uint64_t{1} + m_forwardRecords : 1;
    const uint64_t end = std::min<uint64_t>(index + records, m_chunkOffsets.size());
    size_t want = std::min<size_t>(kReadWindow, kMaxChunkRecord * records);
    if (end < m_chunkOffsets.size() && m_chunkOffsets[end] > offset && m_chunkOffsets[end] - offset <= want)
        want = static_cast<size_t>(m_chunkOffsets[end] - offset);
    want = std::clamp(want, std::min(minimum, kReadWindow), kReadWindow);
    size_t got = 0;
    invalidateWindow();
    if (int e = m_file.readAt(offset, std::span(m_window.get(), want), &got))
        return e;
    m_windowLength = got;
    m_windowBase = offset;
    return rc::kOk;
}

void ZbiImageStore::invalidateWindow()
{
    m_windowBase = UINT64_MAX;
    m_windowLength = 0;
    m_checkedRecord = UINT64_MAX;
}

bool ZbiImageStore::inWindow(uint64_t offset, size_t length) const
{
    return m_windowBase != UINT64_MAX && offset >= m_windowBase && offset - m_windowBase <= m_windowLength &&
           length <= m_windowLength - (offset - m_windowBase);
}

int ZbiImageStore::readRecord(uint64_t index, ChunkHeader *header)
{
    // The look-ahead reads a record and the reader asks for it again: it was checked then.
    if (index == m_checkedRecord) {
        *header = m_checkedHeader;
        return rc::kOk;
    }
    m_checkedRecord = UINT64_MAX;
    uint64_t offset = m_chunkOffsets[index];
    bool sequential = index == m_lastRecord + 1;
    m_forwardRecords = sequential ? std::min<uint32_t>(m_forwardRecords + 1, 1024) : 0;
    m_lastRecord = index;
    if (!inWindow(offset, kChunkHeaderSize))
        if (int e = fillWindow(index, sequential, kChunkHeaderSize))
            return e;
    if (!inWindow(offset, kChunkHeaderSize))
        return rc::kDataDamaged;
    auto window = std::span<const std::byte>(m_window.get(), m_windowLength);
    auto at = static_cast<size_t>(offset - m_windowBase);
    ChunkHeader h;
    if (int e = parseChunkHeader(window.subspan(at), &h))
        return e;
    if (!inWindow(offset, kChunkHeaderSize + h.payloadLength)) {
        if (int e = fillWindow(index, sequential, kChunkHeaderSize + h.payloadLength))
            return e;
        window = std::span<const std::byte>(m_window.get(), m_windowLength);
        at = 0;
        if (!inWindow(offset, kChunkHeaderSize + h.payloadLength))
            return rc::kDataDamaged;
    }
    if (int e = checkChunkRecord(window.subspan(at), expectedRecord(index), &h, &m_recordBytes))
        return e;
    m_checkedRecord = index;
    m_checkedHeader = h;
    *header = h;
    return rc::kOk;
}

int ZbiImageStore::decodeChunk(uint64_t index, std::vector<std::byte> &out)
{
    // The record is checked against the chunk's length from the catalog, so that length is what it decodes
    // to.
    out.resize(chunkLength(m_catalog.partitions[m_selected], index));
    return decodeChunkInto(index, out);
}

int ZbiImageStore::decodeChunkInto(uint64_t index, std::span<std::byte> out)
{
    ChunkHeader h;
    if (int e = readRecord(index, &h))
        return e;
    if (h.decodedLength != out.size())
        return rc::kDataDamaged;
    std::span<const std::byte> payload = m_recordBytes.subspan(kChunkHeaderSize);
    if (h.codec & kCodecEncrypted) {
        m_payload.assign(payload.begin(), payload.end());
        applyKey(index, m_payload);
        payload = m_payload;
    }
    return m_decoder.decode(h.codec & kCodecMask, index, payload, out);
}

ZbiImageStore::DecodedChunk *ZbiImageStore::cachedChunk(uint64_t index)
{
    // Small reads come many to a chunk: the one found last is looked at before all 256 are.
    if (m_decodedChunks[m_lastFound].index == index)
        return &m_decodedChunks[m_lastFound];
    for (size_t i = 0; i < m_decodedChunks.size(); ++i)
        if (m_decodedChunks[i].index == index) {
            m_lastFound = i;
            return &m_decodedChunks[i];
        }
    return nullptr;
}

bool ZbiImageStore::plainInWindow(uint64_t index, std::span<const std::byte> *out)
{
    // A reader going forward through plain chunks takes their bytes from the read window, where they were
    // checked, instead of from a copy among the decoded chunks; one that jumps here may come back, and gets
    // the chunk kept. A record that cannot be read here is left to the decoded chunks' path, which reports
    // it.
    if (index != m_checkedRecord) {
        if (index != m_lastMiss + 1 || cachedChunk(index))
            return false;
        ChunkHeader h;
        if (readRecord(index, &h) != rc::kOk)
            return false;
        m_lastMiss = index;
    }
    if (m_checkedHeader.codec != kCodecPlain)
        return false;
    *out = m_recordBytes.subspan(kChunkHeaderSize);
    return out->size() == chunkLength(m_catalog.partitions[m_selected], index);
}

ZbiImageStore::DecodedChunk *ZbiImageStore::leastRecentChunk()
{
    DecodedChunk *slot = &m_decodedChunks[0];
    for (DecodedChunk &chunk : m_decodedChunks)
        if (chunk.stamp < slot->stamp)
            slot = &chunk;
    slot->index = UINT64_MAX;
    return slot;
}

void ZbiImageStore::collectDecodedAhead()
{
    // What the worker decoded on speculation is kept like any chunk: the reader may come back to it later.
    for (;;) {
        DecodedChunk *slot = leastRecentChunk();
        uint64_t index = 0;
        if (!m_ahead.takeAnyDone(m_readGeneration, &index, slot->bytes))
            return;
        if (cachedChunk(index))
            continue;
        slot->index = index;
        slot->stamp = ++m_decodedClock;
    }
}

int ZbiImageStore::decodeIntoCache(uint64_t index, DecodedChunk **out)
{
    DecodedChunk *slot = leastRecentChunk();
    if (!m_ahead.take(m_readGeneration, index, slot->bytes))
        if (int e = decodeChunk(index, slot->bytes))
            return e;
    slot->index = index;
    slot->stamp = ++m_decodedClock;
    *out = slot;
    return rc::kOk;
}

bool ZbiImageStore::useCached(uint64_t index, const std::vector<std::byte> **out)
{
    DecodedChunk *chunk = cachedChunk(index);
    if (chunk == nullptr)
        return false;
    chunk->stamp = ++m_decodedClock;
    *out = &chunk->bytes;
    return true;
}

int ZbiImageStore::ensureDecoded(uint64_t index, const std::vector<std::byte> **out)
{
    // 256 decoded chunks (16 MiB) are kept: readers of a volume go back and forth between its tables and its
    // data, and files restored in name order lie all over the volume.
    if (useCached(index, out))
        return rc::kOk;
    if (int e = ensureKey())
        return e;
    const bool legacy = familyOf(m_catalog.partitions[m_selected].compression) == CompressionFamily::Legacy;
    if (legacy) {
        // One stream from the start: going back means decoding again from chunk 0.
        if (index < m_decoder.nextStreamChunk())
            m_decoder.resetStream();
        DecodedChunk *scratch = leastRecentChunk();
        for (uint64_t i = m_decoder.nextStreamChunk(); i < index; ++i)
            if (int e = decodeChunk(i, scratch->bytes))
                return e;
    } else {
        collectDecodedAhead();
        if (useCached(index, out))
            return rc::kOk;
    }
    DecodedChunk *slot = nullptr;
    if (int e = decodeIntoCache(index, &slot))
        return e;
    *out = &slot->bytes;
    if (!legacy)
        scheduleAhead(index);
    return rc::kOk;
}

int ZbiImageStore::readWholeChunk(uint64_t index, std::span<std::byte> out)
{
    // A reader taking whole chunks (a file's data, a partition read out in one go) seldom comes back to
    // them, so they go straight into its buffer: a plain chunk is checked in the read window and copied
    // once, a compressed one is decoded where it is wanted. The decoded chunks stay for the short reads of
    // tables that a volume's reader goes back to.
    if (int e = ensureKey())
        return e;
    collectDecodedAhead();
    const std::vector<std::byte> *cached = nullptr;
    if (useCached(index, &cached)) {
        if (cached->size() != out.size())
            return rc::kDataDamaged;
        std::memcpy(out.data(), cached->data(), out.size());
        return rc::kOk;
    }
    if (m_ahead.take(m_readGeneration, index, m_aheadBytes) && m_aheadBytes.size() == out.size()) {
        std::memcpy(out.data(), m_aheadBytes.data(), out.size());
    } else if (int e = decodeChunkInto(index, out)) {
        return e;
    }
    scheduleAhead(index);
    return rc::kOk;
}

void ZbiImageStore::scheduleAhead(uint64_t index)
{
    // Whatever brought the reader here (a file's data, a volume's tables), it most often reads on; one that
    // came here from the chunk before is reading a long stretch, and with several chunks in hand the workers
    // need not wait for the reader between them.
    const bool forward = index == m_lastMiss + 1;
    m_lastMiss = index;
    const uint64_t depth = forward ? kDecodeAheadDepth : 1;
    ++m_aheadRequest;
    for (uint64_t next = index + 1; next <= index + depth; ++next)
        decodeAhead(next);
}

void ZbiImageStore::decodeAhead(uint64_t index)
{
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    if (index >= p.chunkCount || m_ahead.renew(m_readGeneration, index, m_aheadRequest) || cachedChunk(index))
        return;
    // Nothing to decode in a partition of plain chunks; the record need not even be read.
    if (familyOf(p.compression) == CompressionFamily::None && !(p.flags & kFlagEncrypted))
        return;
    DecodeAhead::Job job;
    job.generation = m_readGeneration;
    job.request = m_aheadRequest;
    job.index = index;
    job.decodedLength = static_cast<uint32_t>(chunkLength(p, index));
    if (p.flags & kFlagEncrypted) {
        if (!m_key)
            return;
        job.key = m_key;
        std::memcpy(job.salt.data(), p.salt, job.salt.size());
    }
    // Where the chunk table tells the record's length and the record lies in the first file, the worker
    // reads it itself; otherwise (other parts of a set may have to be asked for) it is read here.
    const uint64_t offset = m_chunkOffsets[index];
    const uint64_t next = index + 1 < p.chunkCount ? m_chunkOffsets[index + 1] : 0;
    if (next > offset && next - offset <= kMaxChunkRecord) {
        job.recordBytes = static_cast<uint32_t>(next - offset);
        job.file = m_file.firstPartHolding(offset, job.recordBytes, &job.fileOffset);
        if (job.file) {
            job.expected = expectedRecord(index);
            m_ahead.start(job, {});
            return;
        }
    }
    // A record that cannot be read or checked is left to the reader, who will report it.
    ChunkHeader h;
    if (readRecord(index, &h) != rc::kOk)
        return;
    // Plain chunks cost no more to copy on this thread than to hand over.
    if ((h.codec & kCodecMask) == kCodecPlain && !(h.codec & kCodecEncrypted))
        return;
    job.codec = h.codec & kCodecMask;
    m_ahead.start(job, m_recordBytes.subspan(kChunkHeaderSize));
}

int ZbiImageStore::SeekData(uint32_t positionLow, uint32_t positionHigh)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    uint64_t position = (static_cast<uint64_t>(positionHigh) << 32) | positionLow;
    if (position > m_catalog.partitions[m_selected].decodedLength)
        return rc::kInvalidArgument;
    m_position = position;
    return rc::kOk;
}

int ZbiImageStore::ReadData(void *buffer, uint32_t size, uint32_t *bytesRead)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    if (int e = ensureChunkTable())
        return e;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    auto *out = static_cast<std::byte *>(buffer);
    uint32_t done = 0;
    const bool legacy = familyOf(p.compression) == CompressionFamily::Legacy;
    const bool plain = familyOf(p.compression) == CompressionFamily::None && !(p.flags & kFlagEncrypted);
    while (done < size && m_position < p.decodedLength) {
        uint64_t index = m_position / kChunkSize;
        const uint64_t length = chunkLength(p, index);
        if (!legacy && m_position % kChunkSize == 0 && size - done >= length) {
            if (int e = readWholeChunk(index, std::span(out + done, static_cast<size_t>(length))))
                return e;
            done += static_cast<uint32_t>(length);
            m_position += length;
            continue;
        }
        std::span<const std::byte> bytes;
        if (!plain || !plainInWindow(index, &bytes)) {
            const std::vector<std::byte> *decoded = nullptr;
            if (int e = ensureDecoded(index, &decoded))
                return e;
            bytes = *decoded;
        }
        auto offset = static_cast<size_t>(m_position % kChunkSize);
        size_t n = std::min<size_t>(size - done, bytes.size() - offset);
        std::memcpy(out + done, bytes.data() + offset, n);
        done += static_cast<uint32_t>(n);
        m_position += n;
    }
    *bytesRead = done;
    return rc::kOk;
}

// Chunks decode independently and their decoded lengths are known from the catalog, so bytes that a reader
// passes over are never decoded.
int ZbiImageStore::SkipData(uint32_t size, uint32_t *skipped)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    if (familyOf(m_catalog.partitions[m_selected].compression) == CompressionFamily::Legacy)
        return rc::kNotSupported;
    const uint64_t length = m_catalog.partitions[m_selected].decodedLength;
    const uint64_t n = std::min<uint64_t>(size, length - std::min(m_position, length));
    m_position += n;
    *skipped = static_cast<uint32_t>(n);
    return rc::kOk;
}

int ZbiImageStore::ReadRawData(void *buffer, uint32_t size, uint32_t *bytesRead, uint32_t *compression)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    if (int e = ensureChunkTable())
        return e;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    auto *out = static_cast<std::byte *>(buffer);
    size_t done = 0;
    while (m_rawChunk < p.chunkCount) {
        ChunkHeader h;
        if (int e = readRecord(m_rawChunk, &h))
            return e;
        size_t length = kChunkHeaderSize + h.payloadLength;
        if (size - done < length)
            break;
        std::memcpy(out + done, m_recordBytes.data(), length);
        done += length;
        ++m_rawChunk;
    }
    if (done == 0 && m_rawChunk < p.chunkCount)
        return rc::kInvalidArgument; // smaller than GetMinimumBufferSize
    *bytesRead = static_cast<uint32_t>(done);
    *compression = p.compression;
    return rc::kOk;
}

int ZbiImageStore::storeRecord(std::span<const std::byte> header, std::span<const std::byte> payload)
{
    uint64_t size = header.size() + payload.size();
    std::vector<Extent> &extents = m_pending.extents;
    uint64_t offset = 0;
    if (!extents.empty() && m_space.allocateAt(extents.back().offset + extents.back().length, size)) {
        offset = extents.back().offset + extents.back().length;
        extents.back().length += size;
    } else {
        offset = m_space.allocate(size);
        extents.push_back({offset, size});
    }
    // Records that follow each other in the file go out in one write.
    if (!m_writeBehind.empty() && m_writeBehindOffset + m_writeBehind.size() != offset)
        if (int e = flushWriteBehind())
            return e;
    if (m_writeBehind.empty()) {
        m_writeBehind.reserve(kWriteBehindSize + kMaxChunkRecord);
        m_writeBehindOffset = offset;
    }
    m_writeBehind.insert(m_writeBehind.end(), header.begin(), header.end());
    m_writeBehind.insert(m_writeBehind.end(), payload.begin(), payload.end());
    m_chunkOffsets.push_back(offset);
    m_pending.storedSize += size;
    return m_writeBehind.size() >= kWriteBehindSize ? flushWriteBehind() : rc::kOk;
}

int ZbiImageStore::flushWriteBehind()
{
    if (m_writeBehind.empty())
        return rc::kOk;
    int e = m_file.writeAt(m_writeBehindOffset, m_writeBehind);
    m_writeBehind.clear();
    if (e != 0)
        m_pendingFailed = true;
    return e;
}

int ZbiImageStore::storeChunk(std::span<const std::byte> plain)
{
    bool last = m_pending.decodedLength + plain.size() == m_pending.expectedDecodedLength();
    uint32_t codec = kCodecPlain;
    if (int e = m_encoder->encode(plain, last, m_payload, &codec)) {
        m_pendingFailed = true;
        return e;
    }
    ChunkHeader h;
    h.index = m_chunkOffsets.size();
    if (m_pending.flags & kFlagEncrypted) {
        applyKey(h.index, m_payload);
        codec |= kCodecEncrypted;
    }
    h.codec = codec;
    h.payloadLength = static_cast<uint32_t>(m_payload.size());
    h.decodedLength = static_cast<uint32_t>(plain.size());
    std::byte header[kChunkHeaderSize];
    encodeChunkHeader(h, m_payload, header);
    if (int e = storeRecord(header, m_payload))
        return e;
    m_pending.decodedLength += plain.size();
    return rc::kOk;
}

int ZbiImageStore::WriteData(const void *buffer, uint32_t size, uint32_t *bytesWritten)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending || !m_pendingBitmapWritten || m_pendingFailed || m_pendingRawWrites)
        return rc::kWrongSequence;
    uint64_t expected = m_pending.expectedDecodedLength();
    if (size > expected - m_pending.decodedLength - m_writeFill)
        return rc::kInvalidArgument; // more data than the used blocks hold
    m_writeBuffer.resize(kChunkSize);
    const auto *in = static_cast<const std::byte *>(buffer);
    uint32_t done = 0;
    while (done < size) {
        if (m_writeFill == 0 && size - done >= kChunkSize) {
            // Whole chunks go straight from the caller's buffer.
            if (int e = storeChunk(std::span(in + done, kChunkSize)))
                return e;
            done += kChunkSize;
            continue;
        }
        size_t n = std::min<size_t>(size - done, kChunkSize - m_writeFill);
        std::memcpy(m_writeBuffer.data() + m_writeFill, in + done, n);
        m_writeFill += n;
        done += static_cast<uint32_t>(n);
        if (m_writeFill == kChunkSize) {
            if (int e = storeChunk(m_writeBuffer))
                return e;
            m_writeFill = 0;
        }
    }
    *bytesWritten = done;
    return rc::kOk;
}

int ZbiImageStore::WriteRawData(const void *buffer, uint32_t size, uint32_t *bytesWritten,
                                uint32_t compression)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending || !m_pendingBitmapWritten || m_pendingFailed || m_writeFill > 0)
        return rc::kWrongSequence;
    if (compression != m_pending.compression)
        return rc::kInvalidArgument;
    auto in = std::span(static_cast<const std::byte *>(buffer), size);
    uint64_t expected = m_pending.expectedDecodedLength();
    // Check every record of the buffer before storing any, so a bad buffer leaves the partition as it was.
    size_t offset = 0;
    uint64_t decoded = m_pending.decodedLength;
    uint64_t index = m_chunkOffsets.size();
    while (offset < in.size()) {
        ChunkHeader h;
        if (parseChunkHeader(in.subspan(offset), &h) != 0 ||
            in.size() - offset - kChunkHeaderSize < h.payloadLength)
            return rc::kInvalidArgument;
        auto payload = in.subspan(offset + kChunkHeaderSize, h.payloadLength);
        if (!verifyChunk(in.subspan(offset), payload, h.checksum))
            return rc::kDataDamaged;
        bool lastChunk = decoded + h.decodedLength == expected;
        if (h.index != index || !recordFits(m_pending, h.codec) || decoded + h.decodedLength > expected ||
            (h.decodedLength != kChunkSize && !lastChunk) ||
            ((h.codec & kCodecMask) == kCodecPlain && h.payloadLength != h.decodedLength))
            return rc::kInvalidArgument;
        decoded += h.decodedLength;
        offset += kChunkHeaderSize + h.payloadLength;
        ++index;
    }
    m_pendingRawWrites = true;
    if (in.empty()) {
        *bytesWritten = 0;
        return rc::kOk;
    }
    // The records go in as one run, written straight from the caller's buffer.
    if (int e = flushWriteBehind())
        return e;
    std::vector<Extent> &extents = m_pending.extents;
    uint64_t start = 0;
    if (!extents.empty() && m_space.allocateAt(extents.back().offset + extents.back().length, in.size())) {
        start = extents.back().offset + extents.back().length;
        extents.back().length += in.size();
    } else {
        start = m_space.allocate(in.size());
        extents.push_back({start, in.size()});
    }
    if (int e = m_file.writeAt(start, in)) {
        m_pendingFailed = true;
        return e;
    }
    for (offset = 0; offset < in.size();) {
        ChunkHeader h;
        (void)parseChunkHeader(in.subspan(offset), &h);
        m_chunkOffsets.push_back(start + offset);
        m_pending.decodedLength += h.decodedLength;
        offset += kChunkHeaderSize + h.payloadLength;
    }
    m_pending.storedSize += in.size();
    *bytesWritten = size;
    return rc::kOk;
}

int ZbiImageStore::ResetStream()
{
    if (int e = checkUsable())
        return e;
    m_position = 0;
    m_rawChunk = 0;
    return rc::kOk;
}

uint64_t ZbiImageStore::GetDataPosition()
{
    if (m_selection == Selection::Pending)
        return m_pending.decodedLength + m_writeFill;
    return m_position;
}

// Our chunks are independent of each other, so a reader resumes anywhere with SeekData alone: there is no
// decoder state, no tail, and a checkpoint's offset needs no help from the store.
int ZbiImageStore::GetTailByteCount(uint32_t *out)
{
    *out = 0;
    return checkUsable();
}
int ZbiImageStore::SaveDecoderState(void *)
{
    return checkUsable();
}
int ZbiImageStore::RestoreDecoderState(const void *)
{
    return checkUsable();
}
int ZbiImageStore::GetDecoderStateSize(uint32_t *out)
{
    *out = 0;
    return checkUsable();
}
int ZbiImageStore::SetCheckpointOffset(uint32_t)
{
    return checkUsable();
}
int ZbiImageStore::SetTailShortfall(uint32_t)
{
    return checkUsable();
}

// A span record is 8 bytes: the part number and the image identity, little-endian u32 each; a split image has
// one per part in use, a single file none.
void ZbiImageStore::fillSpanTable()
{
    m_spanTable.clear();
    if (!m_file.isSplit())
        return;
    uint32_t parts = m_file.partOf(m_super.dataEnd - 1);
    m_spanTable.resize(size_t{parts} * 8);
    for (uint32_t k = 1; k <= parts; ++k) {
        storeLe32(m_spanTable, (k - 1) * 8, k);
        storeLe32(m_spanTable, (k - 1) * 8 + 4, m_catalog.imageId);
    }
}

int ZbiImageStore::BuildSpanTable()
{
    if (int e = checkUsable())
        return e;
    fillSpanTable();
    if (int e = m_file.checkPresent(0, m_super.dataEnd))
        return e == rc::kCancelled ? rc::kSpanned : e;
    return rc::kOk;
}

int ZbiImageStore::SetSpanTable(uint32_t count, const void *records)
{
    if (int e = checkUsable())
        return e;
    fillSpanTable();
    // Records from an index file must describe this very set.
    if (size_t{count} * 8 != m_spanTable.size() || (count && !records) ||
        (count && std::memcmp(records, m_spanTable.data(), m_spanTable.size()) != 0))
        return rc::kInvalidArgument;
    return rc::kOk;
}

int ZbiImageStore::GetSpanTable(uint32_t *count, const void **records)
{
    // Asked for after Close too, to learn whether further files of a set were written.
    fillSpanTable();
    *count = static_cast<uint32_t>(m_spanTable.size() / 8);
    if (records)
        *records = m_spanTable.empty() ? nullptr : m_spanTable.data();
    return rc::kOk;
}

// Stream positions are decoded offsets and chunk i holds the 64 KiB from i x 65536 on, so a chunk begins at
// every multiple of the chunk size below the decoded length; the catalog's chunk count (checked against the
// geometry when the catalog was read) bounds them.
int ZbiImageStore::LocateChunk(uint64_t position, uint64_t *decodedStart, uint32_t *decodedLength)
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    const PartitionRecord &p = m_catalog.partitions[m_selected];
    if (position > p.decodedLength || (position % kChunkSize != 0 && position != p.decodedLength) ||
        (position < p.decodedLength && position / kChunkSize >= p.chunkCount))
        return rc::kInvalidArgument;
    *decodedStart = position;
    *decodedLength = static_cast<uint32_t>(std::min<uint64_t>(kChunkSize, p.decodedLength - position));
    return rc::kOk;
}

int ZbiImageStore::IsReadOnly(uint32_t *out)
{
    *out = m_writable ? 0 : 1;
    return checkUsable();
}

int ZbiImageStore::IsSpanned(uint32_t *out)
{
    *out = m_file.isSplit() ? 1 : 0;
    return checkUsable();
}

int ZbiImageStore::GetImageId(uint32_t *out)
{
    if (int e = checkUsable())
        return e;
    *out = m_catalog.imageId;
    return rc::kOk;
}

int ZbiImageStore::GetPartitionNumber(uint32_t *out)
{
    if (int e = checkUsable())
        return e;
    switch (m_selection) {
    case Selection::Existing:
        *out = static_cast<uint32_t>(m_selected + 1);
        return rc::kOk;
    case Selection::Pending:
        *out = static_cast<uint32_t>(m_catalog.partitions.size() + 1);
        return rc::kOk;
    case Selection::None:
        break;
    }
    return rc::kNoPartitionSelected;
}

// ---- names, comments and attributes
// -------------------------------------------------------------------------

int ZbiImageStore::GetImageName(char *buffer, uint32_t size)
{
    if (int e = checkUsable())
        return e;
    return copyText(m_catalog.name, buffer, size);
}

int ZbiImageStore::SetImageName(const char *text)
{
    if (int e = checkWritable())
        return e;
    Catalog next = m_catalog;
    next.name = clampText(text, kMaxImageName);
    if (next.name == m_catalog.name)
        return rc::kOk;
    return commit(std::move(next));
}

int ZbiImageStore::GetImageComment(char *buffer, uint32_t size)
{
    if (int e = checkUsable())
        return e;
    return copyText(m_catalog.comment, buffer, size);
}

int ZbiImageStore::SetImageComment(const char *text)
{
    if (int e = checkWritable())
        return e;
    Catalog next = m_catalog;
    next.comment = clampText(text, kMaxImageComment);
    if (next.comment == m_catalog.comment)
        return rc::kOk;
    return commit(std::move(next));
}

template <typename Change> int ZbiImageStore::changePartition(Change change)
{
    if (int e = checkWritable())
        return e;
    if (m_selection == Selection::Pending) {
        change(m_pending);
        return rc::kOk;
    }
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    Catalog next = m_catalog;
    change(next.partitions[m_selected]);
    return commit(std::move(next));
}

template <typename Field> int ZbiImageStore::readField(uint32_t *out, Field field)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    if (!p)
        return rc::kNoPartitionSelected;
    *out = field(*p);
    return rc::kOk;
}

template <typename Field> int ZbiImageStore::writeField(uint32_t value, Field field)
{
    return changePartition([&](PartitionRecord &p) { field(p) = value; });
}

int ZbiImageStore::GetPartitionName(char *buffer, uint32_t size)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    return p ? copyText(p->name, buffer, size) : rc::kNoPartitionSelected;
}

int ZbiImageStore::SetPartitionName(const char *text)
{
    std::string name = clampText(text, kMaxPartitionName);
    return changePartition([&](PartitionRecord &p) { p.name = name; });
}

int ZbiImageStore::SetNewPartitionName(const char *text)
{
    return SetPartitionName(text);
}

int ZbiImageStore::GetPartitionComment(char *buffer, uint32_t size)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    return p ? copyText(p->comment, buffer, size) : rc::kNoPartitionSelected;
}

int ZbiImageStore::SetPartitionComment(const char *text)
{
    std::string comment = clampText(text, kMaxPartitionComment);
    return changePartition([&](PartitionRecord &p) { p.comment = comment; });
}

int ZbiImageStore::SetNewPartitionComment(const char *text)
{
    return SetPartitionComment(text);
}

int ZbiImageStore::GetPartitionTypeId(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.typeId; });
}
int ZbiImageStore::GetFileSystemType(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.fileSystemType; });
}
int ZbiImageStore::GetBlockCount(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.blockCount; });
}
int ZbiImageStore::GetSectorsPerBlock(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.sectorsPerBlock; });
}
int ZbiImageStore::GetSectorSize(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.sectorSize; });
}
int ZbiImageStore::GetSectorCount(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.sectorCount; });
}
int ZbiImageStore::GetCompression(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.compression; });
}
int ZbiImageStore::GetUsedBlockCount(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.usedBlockCount; });
}
int ZbiImageStore::GetPartitionKind(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.kind; });
}
int ZbiImageStore::GetPartitionPassword(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.password; });
}
int ZbiImageStore::GetLastUsedBlock(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.lastUsedBlock; });
}
int ZbiImageStore::GetPartitionAttributeA(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.attributeA; });
}
int ZbiImageStore::GetPartitionAttributeB(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.attributeB; });
}
int ZbiImageStore::GetPartitionAttributeC(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.attributeC; });
}
int ZbiImageStore::GetPartitionAttributeD(uint32_t *out)
{
    return readField(out, [](const PartitionRecord &p) { return p.attributeD; });
}

int ZbiImageStore::SetPartitionKind(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.kind; });
}
int ZbiImageStore::SetLastUsedBlock(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.lastUsedBlock; });
}
int ZbiImageStore::SetPartitionAttributeA(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.attributeA; });
}
int ZbiImageStore::SetPartitionAttributeB(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.attributeB; });
}
int ZbiImageStore::SetPartitionAttributeC(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.attributeC; });
}
int ZbiImageStore::SetPartitionAttributeD(uint32_t value)
{
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.attributeD; });
}

int ZbiImageStore::SetPartitionPassword(uint32_t value)
{
    // The value guards the partition's data, so it is fixed before the data arrives; a stored partition gets
    // a new value only by being copied.
    if (int e = checkWritable())
        return e;
    if (m_selection == Selection::Existing)
        return rc::kWrongSequence;
    if (m_selection == Selection::Pending && m_pendingBitmapWritten)
        return rc::kWrongSequence;
    return writeField(value, [](PartitionRecord &p) -> uint32_t & { return p.password; });
}

int ZbiImageStore::GetDriveLetter(char *out)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    if (!p)
        return rc::kNoPartitionSelected;
    *out = static_cast<char>(p->driveLetter);
    return rc::kOk;
}

int ZbiImageStore::GetPartitionDate(uint16_t *year, uint16_t *month, uint16_t *day)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    if (!p)
        return rc::kNoPartitionSelected;
    *year = p->year;
    *month = p->month;
    *day = p->day;
    return rc::kOk;
}

int ZbiImageStore::SetPartitionDate(uint16_t year, uint16_t month, uint16_t day)
{
    return changePartition([&](PartitionRecord &p) {
        p.year = year;
        p.month = month;
        p.day = day;
    });
}

int ZbiImageStore::GetStoredSize(uint32_t *low, uint32_t *high, uint32_t)
{
    if (int e = checkUsable())
        return e;
    const PartitionRecord *p = current();
    if (!p)
        return rc::kNoPartitionSelected;
    uint64_t size = p->storedSize + p->bitmap.length + p->chunkTable.length;
    *low = static_cast<uint32_t>(size);
    *high = static_cast<uint32_t>(size >> 32);
    return rc::kOk;
}

int ZbiImageStore::GetMinimumBufferSize(uint32_t *out)
{
    *out = kMinimumBufferSize;
    return checkUsable();
}

} // namespace imbrex::zbi
