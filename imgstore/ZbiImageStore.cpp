#include "ZbiImageStore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::zbi {

namespace {

constexpr uint32_t kMinimumBufferSize = 69632; // one chunk record, rounded up to 4 KiB

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

} // namespace

ZbiImageStore::ZbiImageStore(std::string path, bool writable, IMGSTORE_UI_CALLBACK *callback)
    : m_path(std::move(path)), m_writable(writable), m_callback(callback), m_committer(m_file, writable),
      m_reader(m_file), m_writer(m_file, m_committer.space())
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
    if (int e = store->m_committer.load())
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

    Catalog empty;
    empty.imageId = newImageId();
    store->m_file.setCallback(callback);
    store->m_file.setLayout(splitSize, empty.imageId);
    int e = store->m_committer.commit(std::move(empty));
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

int ZbiImageStore::GetDamage(uint32_t *damaged, uint64_t *shown, uint64_t *newest)
{
    if (int e = checkUsable())
        return e;
    const bool d = m_committer.damaged();
    *damaged = d ? 1 : 0;
    *shown = d ? m_committer.shownGeneration() : 0;
    *newest = d ? m_committer.newestGeneration() : 0;
    return rc::kOk;
}

int ZbiImageStore::AcceptDamage()
{
    if (int e = checkUsable())
        return e;
    m_committer.acceptDamage();
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
    int e = m_committer.close();
    m_file.close();
    m_closed = true;
    return e;
}

uint32_t ZbiImageStore::GetPartitionCount()
{
    return m_closed ? 0 : static_cast<uint32_t>(m_committer.catalog().partitions.size());
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
    return m_committer.checkChangesAllowed();
}

int ZbiImageStore::checkReading() const
{
    if (int e = checkUsable())
        return e;
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    return rc::kOk;
}

const PartitionRecord *ZbiImageStore::current() const
{
    switch (m_selection) {
    case Selection::Existing:
        return &m_committer.catalog().partitions[m_selected];
    case Selection::Pending:
        return &m_writer.record();
    case Selection::None:
        break;
    }
    return nullptr;
}

void ZbiImageStore::dropPending()
{
    if (m_selection == Selection::Pending) {
        m_selection = Selection::None;
        m_writer.stop();
        m_committer.setWorkInProgress(nullptr);
        // What the partition had written may have grown the file up to a full disk.
        m_committer.giveBackSpace();
    }
}

void ZbiImageStore::clearSelection()
{
    dropPending();
    m_selection = Selection::None;
    m_reader.stop();
    m_writer.stop();
    m_storedBitmap.clear();
    m_bitmapLoaded = false;
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
    if (m_committer.catalog().partitions.size() >= kMaxPartitions)
        return rc::kImageTooLarge;
    clearSelection();
    PartitionRecord p;
    p.typeId = typeId;
    p.fileSystemType = fileSystemType;
    p.sectorCount = sectorCount;
    p.driveLetter = static_cast<uint8_t>(driveLetter);
    p.compression = compression;
    today(&p.year, &p.month, &p.day);
    m_writer.start(p);
    m_committer.setWorkInProgress(&m_writer.record());
    m_selection = Selection::Pending;
    return rc::kOk;
}

int ZbiImageStore::SelectPartition(uint32_t number, uint32_t)
{
    if (int e = checkUsable())
        return e;
    if (m_selection == Selection::Pending)
        return rc::kWrongSequence;
    const std::vector<PartitionRecord> &partitions = m_committer.catalog().partitions;
    if (number == 0 || number > partitions.size())
        return rc::kBadPartitionNumber;
    clearSelection();
    // Every part that holds this partition's data must be at hand.
    const PartitionRecord &p = partitions[number - 1];
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
    m_reader.start(p);
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
    Catalog next = m_committer.catalog();
    next.partitions.erase(next.partitions.begin() + static_cast<std::ptrdiff_t>(m_selected));
    const bool released = m_selected >= m_committer.committedCount();
    clearSelection();
    if (released && m_committer.hasReleased()) {
        // Released in this run and never committed: nothing on disk names it.
        m_committer.dropReleased(std::move(next));
        return rc::kOk;
    }
    return m_committer.commit(std::move(next));
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
    PartitionRecord finished;
    if (int e = m_writer.finish(&finished))
        return e;
    // The partition joins the image at the next commit (Close, Destroy or any other change), so that all the
    // partitions a run adds arrive together, or none of them when the run dies before it ends.
    m_selection = Selection::None;
    m_writer.stop();
    m_committer.setWorkInProgress(nullptr);
    m_committer.addReleased(std::move(finished));
    return rc::kOk;
}

// ---- block bitmap
// -------------------------------------------------------------------------------------------

int ZbiImageStore::ensureStoredBitmap()
{
    if (m_bitmapLoaded)
        return rc::kOk;
    const PartitionRecord &p = m_committer.catalog().partitions[m_selected];
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

int ZbiImageStore::ReadBlockBitmap(void *buffer, uint32_t size, uint32_t *sectorsPerBlock,
                                   uint32_t *bytesRead)
{
    if (int e = checkReading())
        return e;
    if (int e = ensureStoredBitmap())
        return e;
    if (int e = m_reader.ensureKey())
        return e;
    const PartitionRecord &p = m_committer.catalog().partitions[m_selected];
    std::vector<std::byte> bits(m_storedBitmap.begin() + kBitmapHeaderSize, m_storedBitmap.end());
    if (p.flags & kFlagEncrypted)
        m_reader.applyKey(kBitmapKeyIndex, bits);
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
    if (int e = checkReading())
        return e;
    if (int e = ensureStoredBitmap())
        return e;
    if (size < m_storedBitmap.size())
        return rc::kInvalidArgument;
    std::memcpy(buffer, m_storedBitmap.data(), m_storedBitmap.size());
    *bytesRead = static_cast<uint32_t>(m_storedBitmap.size());
    *compression = m_committer.catalog().partitions[m_selected].compression;
    return rc::kOk;
}

int ZbiImageStore::WriteBlockBitmap(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                    uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending)
        return rc::kWrongSequence;
    return m_writer.writeBitmap(buffer, size, sectorsPerBlock, blockCount, usedBlockCount, compression);
}

int ZbiImageStore::WriteBlockBitmapRaw(const void *buffer, uint32_t size, uint32_t sectorsPerBlock,
                                       uint32_t blockCount, uint32_t usedBlockCount, uint32_t compression)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending)
        return rc::kWrongSequence;
    return m_writer.writeBitmapRaw(buffer, size, sectorsPerBlock, blockCount, usedBlockCount, compression);
}

// ---- data stream
// ---------------------------------------------------------------------------------------------

int ZbiImageStore::SeekData(uint32_t positionLow, uint32_t positionHigh)
{
    if (int e = checkReading())
        return e;
    return m_reader.seek((static_cast<uint64_t>(positionHigh) << 32) | positionLow);
}

int ZbiImageStore::ReadData(void *buffer, uint32_t size, uint32_t *bytesRead)
{
    if (int e = checkReading())
        return e;
    return m_reader.read(static_cast<std::byte *>(buffer), size, bytesRead);
}

int ZbiImageStore::SkipData(uint32_t size, uint32_t *skipped)
{
    if (int e = checkReading())
        return e;
    return m_reader.skip(size, skipped);
}

int ZbiImageStore::ReadRawData(void *buffer, uint32_t size, uint32_t *bytesRead, uint32_t *compression)
{
    if (int e = checkReading())
        return e;
    if (int e = m_reader.readRaw(static_cast<std::byte *>(buffer), size, bytesRead))
        return e;
    *compression = m_committer.catalog().partitions[m_selected].compression;
    return rc::kOk;
}

int ZbiImageStore::WriteData(const void *buffer, uint32_t size, uint32_t *bytesWritten)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending)
        return rc::kWrongSequence;
    return m_writer.write(std::span(static_cast<const std::byte *>(buffer), size), bytesWritten);
}

int ZbiImageStore::WriteRawData(const void *buffer, uint32_t size, uint32_t *bytesWritten,
                                uint32_t compression)
{
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending)
        return rc::kWrongSequence;
    return m_writer.writeRaw(std::span(static_cast<const std::byte *>(buffer), size), bytesWritten,
                             compression);
}

// Between two of our images the records go file to file: read once here to be checked, and copied by the
// kernel where it can.
int ZbiImageStore::CopyRawDataFrom(ImageStore &source, uint32_t size, uint32_t *bytesMoved)
{
    auto *from = dynamic_cast<ZbiImageStore *>(&source);
    if (from == nullptr || from == this)
        return rc::kNotSupported;
    if (int e = checkWritable())
        return e;
    if (m_selection != Selection::Pending)
        return rc::kWrongSequence;
    if (int e = from->checkReading())
        return e;
    uint64_t address = 0;
    std::span<const std::byte> records;
    if (int e = from->m_reader.readRawRun(size, &address, &records))
        return e;
    const uint32_t compression = from->m_committer.catalog().partitions[from->m_selected].compression;
    if (int e = m_writer.copyRaw(from->m_file, address, records, compression))
        return e;
    *bytesMoved = static_cast<uint32_t>(records.size());
    return rc::kOk;
}

int ZbiImageStore::ResetStream()
{
    if (int e = checkUsable())
        return e;
    m_reader.rewind();
    return rc::kOk;
}

uint64_t ZbiImageStore::GetDataPosition()
{
    if (m_selection == Selection::Pending)
        return m_writer.position();
    return m_reader.position();
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
    uint32_t parts = m_file.partOf(m_committer.dataEnd() - 1);
    m_spanTable.resize(size_t{parts} * 8);
    for (uint32_t k = 1; k <= parts; ++k) {
        storeLe32(m_spanTable, (k - 1) * 8, k);
        storeLe32(m_spanTable, (k - 1) * 8 + 4, m_committer.catalog().imageId);
    }
}

int ZbiImageStore::BuildSpanTable()
{
    if (int e = checkUsable())
        return e;
    fillSpanTable();
    if (int e = m_file.checkPresent(0, m_committer.dataEnd()))
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
    const PartitionRecord &p = m_committer.catalog().partitions[m_selected];
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
    *out = m_committer.catalog().imageId;
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
        *out = static_cast<uint32_t>(m_committer.catalog().partitions.size() + 1);
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
    return copyText(m_committer.catalog().name, buffer, size);
}

int ZbiImageStore::SetImageName(const char *text)
{
    if (int e = checkWritable())
        return e;
    Catalog next = m_committer.catalog();
    next.name = clampText(text, kMaxImageName);
    if (next.name == m_committer.catalog().name)
        return rc::kOk;
    return m_committer.commit(std::move(next));
}

int ZbiImageStore::GetImageComment(char *buffer, uint32_t size)
{
    if (int e = checkUsable())
        return e;
    return copyText(m_committer.catalog().comment, buffer, size);
}

int ZbiImageStore::SetImageComment(const char *text)
{
    if (int e = checkWritable())
        return e;
    Catalog next = m_committer.catalog();
    next.comment = clampText(text, kMaxImageComment);
    if (next.comment == m_committer.catalog().comment)
        return rc::kOk;
    return m_committer.commit(std::move(next));
}

template <typename Change> int ZbiImageStore::changePartition(Change change)
{
    if (int e = checkWritable())
        return e;
    if (m_selection == Selection::Pending) {
        change(m_writer.record());
        return rc::kOk;
    }
    if (m_selection != Selection::Existing)
        return rc::kNoPartitionSelected;
    Catalog next = m_committer.catalog();
    change(next.partitions[m_selected]);
    return m_committer.commit(std::move(next));
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
    if (m_selection == Selection::Pending && m_writer.bitmapWritten())
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
