// What the index needs to know about which blocks of a partition are stored: the partition access hands its
// block bitmap in through this interface, so the index does not depend on how the bitmap is kept.
#pragma once

#include <cstdint>

namespace imbrex::index {

inline constexpr uint32_t kNoBlock = 0xFFFFFFFF;

class BlockMap
{
public:
    virtual ~BlockMap() = default;
    // Whether block b is stored; false for any block beyond the map.
    virtual bool isSet(uint32_t b) const = 0;
    // The first stored block at or after b, or kNoBlock.
    virtual uint32_t NextSet(uint32_t b) const = 0;
    // The number of stored blocks in [from, to).
    virtual uint64_t CountSet(uint32_t from, uint32_t to) const = 0;
};

} // namespace imbrex::index
