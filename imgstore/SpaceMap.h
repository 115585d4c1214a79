// Free space of an image file. Space is free when neither the committed catalog nor work in progress uses it;
// everything from end() on is free too. Allocation is first fit, so space given back by a deleted partition
// is used again before the file grows.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "ZbiFormat.h"

namespace imbrex::zbi {

class SpaceMap
{
public:
    // Builds the map from every range in use; ranges may overlap or touch.
    void rebuild(std::vector<Extent> used);
    // Takes length bytes: the first hole that fits, else the end of the file.
    uint64_t allocate(uint64_t length);
    // Takes exactly [offset, offset + length) when all of it is free.
    bool allocateAt(uint64_t offset, uint64_t length);
    uint64_t end() const { return m_end; }

private:
    std::map<uint64_t, uint64_t> m_holes; // start -> end of each free range below m_end
    uint64_t m_end = kDataStart;
};

} // namespace imbrex::zbi
