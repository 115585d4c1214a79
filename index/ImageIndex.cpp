#include "ImageIndex.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/ResultCodes.h"

namespace imbrex::index {

namespace {

constexpr uint32_t kMaxShift = 31;

} // namespace

void ImageIndex::layOut(uint32_t capacity)
{
    m_capacity = capacity;
    std::byte *base = m_entries.data();
    m_positions = reinterpret_cast<uint64_t *>(base);
    if (compressed()) {
        m_firstBlocks = reinterpret_cast<uint32_t *>(base + size_t{8} * capacity);
        m_blockOffsets = reinterpret_cast<uint32_t *>(base + size_t{12} * capacity);
        m_states = decoderStateSize ? base + size_t{16} * capacity : nullptr;
    } else {
        m_firstBlocks = nullptr;
        m_blockOffsets = nullptr;
        m_states = nullptr;
    }
}

void ImageIndex::clear()
{
    m_entries.reset();
    m_capacity = 0;
    m_positions = nullptr;
    m_firstBlocks = nullptr;
    m_blockOffsets = nullptr;
    m_states = nullptr;
    lastIndexEntry = 0;
}

int ImageIndex::allocateFor(ImageStore &store)
{
    clear();
    decoderStateSize = 0;
    if (spanned)
        if (int e = store.BuildSpanTable())
            return e;
    if (compressed())
        if (int e = store.GetDecoderStateSize(&decoderStateSize))
            return e;
    const uint64_t entry = entryBytes();

    uint64_t n = uint64_t{lastUsedBlock} + 1;
    uint32_t shift = 0;
    if (compressed()) {
        uint32_t perChunk = blockBytes ? kChunkBytes / blockBytes : 0;
        while (shift < kMaxShift && (uint64_t{1} << shift) < perChunk)
            ++shift;
        n = n / (uint64_t{1} << shift) + 1;
    }
    if (entry * n > kMaxIndexBytes)
        n = kMaxIndexBytes / entry;
    // Every entry a walk can reach must fit: widen the spacing until the last used block's entry does.
    while (shift < kMaxShift && !fits(n, shift))
        ++shift;

    int e = rc::kOutOfMemory;
    while (n != 0) {
        e = m_entries.allocate(static_cast<size_t>(entry * n));
        if (e == 0)
            break;
        n /= 2;
        while (shift < kMaxShift && !fits(n, shift))
            ++shift;
    }
    if (n == 0)
        return e;

    groupShift = shift;
    groupMask = static_cast<uint32_t>((uint64_t{1} << shift) - 1);
    layOut(static_cast<uint32_t>(n));
    lastIndexEntry = 0;
    m_positions[0] = 0;
    if (compressed()) {
        m_firstBlocks[0] = 0;
        m_blockOffsets[0] = 0;
        if (m_states)
            if (int s = store.SaveDecoderState(m_states)) {
                clear();
                return s;
            }
    }
    return rc::kOk;
}

void ImageIndex::adopt(engine::EngineBuffer entries, uint32_t count, uint32_t stateSize, uint32_t shift)
{
    clear();
    m_entries = std::move(entries);
    decoderStateSize = stateSize;
    groupShift = std::min(shift, kMaxShift);
    groupMask = static_cast<uint32_t>((uint64_t{1} << groupShift) - 1);
    layOut(count);
    lastIndexEntry = count ? count - 1 : 0;
}

uint64_t ImageIndex::skipLookup(uint32_t target, const BlockMap &map)
{
    const uint64_t groupBlocks = uint64_t{1} << groupShift;
    uint32_t j = target >> groupShift;
    uint32_t start = std::min(j, lastIndexEntry);
    uint64_t position = m_positions[start];
    uint64_t b = uint64_t{start} << groupShift;
    const bool extending = j > lastIndexEntry;
    while (b < target) {
        uint64_t end = std::min<uint64_t>((b / groupBlocks + 1) * groupBlocks, target);
        position += map.CountSet(static_cast<uint32_t>(b), static_cast<uint32_t>(end)) * blockBytes;
        b = end;
        if (extending && (b & groupMask) == 0) {
            uint64_t entry = b >> groupShift;
            if (entry == uint64_t{lastIndexEntry} + 1 && entry < m_capacity) {
                m_positions[entry] = position;
                lastIndexEntry = static_cast<uint32_t>(entry);
            }
        }
    }
    return position;
}

uint32_t ImageIndex::chooseCheckpoint(uint32_t target) const
{
    uint32_t i = std::min(target >> groupShift, lastIndexEntry);
    while (i > 0 && target < m_firstBlocks[i])
        --i;
    while (i < lastIndexEntry && target >= m_firstBlocks[i + 1])
        ++i;
    return i;
}

Checkpoint ImageIndex::at(uint32_t i) const
{
    Checkpoint c;
    c.position = m_positions[i];
    if (compressed()) {
        c.firstBlock = m_firstBlocks[i];
        c.blockOffset = m_blockOffsets[i];
        if (m_states)
            c.decoderState = {m_states + size_t{i} * decoderStateSize, decoderStateSize};
    }
    return c;
}

int ImageIndex::extend(uint64_t nextBlock, uint32_t nextOffset, uint64_t position, ImageStore &store)
{
    if (!compressed() || !allocated())
        return rc::kOk;
    const uint64_t q = nextBlock >> groupShift;
    const size_t d = decoderStateSize;
    while (uint64_t{lastIndexEntry} + 1 < q && lastIndexEntry + 1 < m_capacity) {
        uint32_t from = lastIndexEntry;
        uint32_t to = from + 1;
        m_positions[to] = m_positions[from];
        m_firstBlocks[to] = m_firstBlocks[from];
        m_blockOffsets[to] = m_blockOffsets[from];
        if (m_states)
            std::memcpy(m_states + to * d, m_states + from * d, d);
        lastIndexEntry = to;
    }
    if (uint64_t{lastIndexEntry} < q && lastIndexEntry + 1 < m_capacity) {
        uint32_t to = lastIndexEntry + 1;
        if (m_states)
            if (int e = store.SaveDecoderState(m_states + to * d))
                return e;
        m_positions[to] = position;
        m_firstBlocks[to] = static_cast<uint32_t>(std::min<uint64_t>(nextBlock, kNoBlock));
        m_blockOffsets[to] = nextOffset;
        lastIndexEntry = to;
    }
    return rc::kOk;
}

} // namespace imbrex::index
