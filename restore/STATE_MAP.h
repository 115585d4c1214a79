// STATE_MAP: the bitmap of a partition's blocks; bit b set means block b is stored in the image. Bit b is bit
// (b mod 32) of word b / 32, least significant first, which is the bit order of the store's block bitmap read
// as little-endian words. The map has blockCount / 32 + 1 words, so there is always a spare bit; bits at or
// beyond blockCount are kept clear.
#pragma once

#include <cstdint>
#include <span>

#include "engine/EngineMemory.h"
#include "index/BlockMap.h"

namespace imbrex::restore {

class STATE_MAP final : public index::BlockMap
{
public:
    // Sizes the map for blockCount bits, all clear. 0, or 3 when the words cannot be allocated.
    int create(uint32_t blockCount);
    // Loads the map from the store's bitmap bytes (bit b mod 8 of byte b / 8); missing bytes read as clear.
    void loadBytes(std::span<const std::byte> bytes);

    bool isSet(uint32_t b) const override;
    uint32_t NextSet(uint32_t b) const override;
    uint64_t CountSet(uint32_t from, uint32_t to) const override;
    // The last set bit below n, or kNoBlock.
    uint32_t LastSetBelow(uint64_t n) const;

    uint32_t BlockCount() const { return m_blockCount; }
    uint32_t WordCount() const { return m_wordCount; }
    // The words as bytes, for reading the store's bitmap straight into them.
    std::span<std::byte> bytes() { return m_words.span(); }

private:
    const uint32_t *words() const { return reinterpret_cast<const uint32_t *>(m_words.data()); }
    uint32_t *words() { return reinterpret_cast<uint32_t *>(m_words.data()); }

    engine::EngineBuffer m_words;
    uint32_t m_wordCount = 0;
    uint32_t m_blockCount = 0;
};

} // namespace imbrex::restore
