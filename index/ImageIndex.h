// ImageIndex: where reading can start in a partition's data stream. For a partition that is not compressed it
// is a skip table (entry j: the stream position at which block j x 2^groupShift begins); for a compressed one
// a list of checkpoints (stream position, first block that begins in the chunk read from there, that block's
// offset in the chunk, and the decoder state needed to resume).
//
// The entries live in one allocation of the engine's memory library, four arrays of `capacity` entries laid
// out one after the other: positions (u64), first blocks (u32), block offsets (u32), decoder states
// (decoderStateSize bytes each). A skip table uses the first array only. Entries are only ever appended, and
// never beyond the capacity: an append that would not fit is skipped, which makes later walks longer but
// never wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/EngineMemory.h"
#include "imgstore/ImageStore.h"
#include "index/BlockMap.h"

namespace imbrex::index {

// The index never takes more memory than this.
inline constexpr uint64_t kMaxIndexBytes = 4 * 1024 * 1024;
// Bytes of decoded data a checkpoint stands for: one chunk of the decompressing stream.
inline constexpr uint32_t kChunkBytes = 65536;

struct Checkpoint
{
    uint64_t position = 0;
    uint32_t firstBlock = 0;
    uint32_t blockOffset = 0;
    std::span<const std::byte> decoderState;
};

class ImageIndex
{
public:
    // What the index is built for; set by the partition access before sizing or loading.
    uint32_t compressionType = 0;
    bool spanned = false;
    uint32_t lastUsedBlock = 0;
    uint32_t blockBytes = 0;

    // Bytes of decoder state per checkpoint (0 for a skip table) and the spacing: one entry per 2^groupShift
    // blocks.
    uint32_t decoderStateSize = 0;
    uint32_t groupShift = 0;
    uint32_t groupMask = 0;
    // Entries 0 to lastIndexEntry are valid.
    uint32_t lastIndexEntry = 0;

    bool compressed() const { return compressionType != 0; }
    bool allocated() const { return !m_entries.empty(); }
    uint32_t capacity() const { return m_capacity; }
    uint64_t entryBytes() const { return entryBytesFor(compressed(), decoderStateSize); }
    static uint64_t entryBytes(bool compressed, uint32_t decoderStateSize)
    {
        return entryBytesFor(compressed, decoderStateSize);
    }

    // Sizes a fresh index for the partition: builds the store's span table for a spanned image, takes the
    // decoder state size of a compressed one, picks the spacing so that the entries stay within
    // kMaxIndexBytes, allocates (halving the capacity while memory runs short) and fills entry 0 with the
    // start of the stream. 0, the store's code, or the memory library's code.
    int allocateFor(ImageStore &store);

    // Takes over entries read from an index file: count entries laid out as the arrays described above with
    // capacity count. Replaces whatever the index held.
    void adopt(engine::EngineBuffer entries, uint32_t count, uint32_t stateSize, uint32_t shift);
    void clear();

    // Skip table: the stream position at which block target's data begins. Stores an entry at every group
    // boundary it passes beyond the last one.
    uint64_t skipLookup(uint32_t target, const BlockMap &map);

    // Checkpoints: the one from which a read of block target resumes.
    uint32_t chooseCheckpoint(uint32_t target) const;
    Checkpoint at(uint32_t i) const;
    // After a chunk has been decoded: nextBlock is the first block that begins after it, nextOffset that
    // block's offset in the following chunk and position the stream position behind the chunk. Appends the
    // checkpoints up to entry nextBlock >> groupShift (copies of the last one for groups the chunk skipped
    // over, then a new one with the store's saved decoder state). 0 or the store's code.
    int extend(uint64_t nextBlock, uint32_t nextOffset, uint64_t position, ImageStore &store);

    // The valid entries of each array, for writing them out.
    std::span<const uint64_t> positions() const { return {m_positions, entryCount()}; }
    std::span<const uint32_t> firstBlocks() const { return {m_firstBlocks, compressed() ? entryCount() : 0}; }
    std::span<const uint32_t> blockOffsets() const
    {
        return {m_blockOffsets, compressed() ? entryCount() : 0};
    }
    std::span<const std::byte> decoderStates() const
    {
        return {m_states, m_states ? size_t{entryCount()} * decoderStateSize : 0};
    }
    size_t entryCount() const { return allocated() ? size_t{lastIndexEntry} + 1 : 0; }

private:
    static uint64_t entryBytesFor(bool compressed, uint32_t stateSize)
    {
        return compressed ? 16 + uint64_t{stateSize} : 8;
    }
    // Whether the last used block's entry fits n entries at spacing shift.
    bool fits(uint64_t n, uint32_t shift) const { return (uint64_t{lastUsedBlock} >> shift) < n; }
    void layOut(uint32_t capacity);

    engine::EngineBuffer m_entries;
    uint32_t m_capacity = 0;
    uint64_t *m_positions = nullptr;
    uint32_t *m_firstBlocks = nullptr;
    uint32_t *m_blockOffsets = nullptr;
    std::byte *m_states = nullptr;
};

} // namespace imbrex::index
