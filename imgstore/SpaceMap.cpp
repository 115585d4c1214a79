#include "SpaceMap.h"

#include <algorithm>

namespace imbrex::zbi {

void SpaceMap::rebuild(std::vector<Extent> used)
{
    std::sort(used.begin(), used.end(), [](const Extent &a, const Extent &b) { return a.offset < b.offset; });
    m_holes.clear();
    uint64_t cursor = kDataStart;
    for (const Extent &e : used) {
        if (e.length == 0)
            continue;
        if (e.offset > cursor)
            m_holes.emplace(cursor, e.offset);
        cursor = std::max(cursor, e.offset + e.length);
    }
    m_end = cursor;
}

uint64_t SpaceMap::allocate(uint64_t length)
{
    for (auto it = m_holes.begin(); it != m_holes.end(); ++it) {
        if (it->second - it->first >= length) {
            uint64_t offset = it->first;
            uint64_t holeEnd = it->second;
            m_holes.erase(it);
            if (offset + length < holeEnd)
                m_holes.emplace(offset + length, holeEnd);
            return offset;
        }
    }
    uint64_t offset = m_end;
    m_end += length;
    return offset;
}

bool SpaceMap::allocateAt(uint64_t offset, uint64_t length)
{
    if (offset >= m_end) {
        if (offset > m_end)
            m_holes.emplace(m_end, offset);
        m_end = offset + length;
        return true;
    }
    auto it = m_holes.upper_bound(offset);
    if (it == m_holes.begin())
        return false;
    --it;
    uint64_t holeStart = it->first;
    uint64_t holeEnd = it->second;
    if (offset < holeStart || offset >= holeEnd)
        return false;
    if (offset + length > holeEnd) {
        // A hole that reaches the end of the file continues into the free tail.
        if (holeEnd != m_end)
            return false;
        m_holes.erase(it);
        if (holeStart < offset)
            m_holes.emplace(holeStart, offset);
        m_end = offset + length;
        return true;
    }
    m_holes.erase(it);
    if (holeStart < offset)
        m_holes.emplace(holeStart, offset);
    if (offset + length < holeEnd)
        m_holes.emplace(offset + length, holeEnd);
    return true;
}

} // namespace imbrex::zbi
