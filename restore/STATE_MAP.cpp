#include "STATE_MAP.h"

#include <algorithm>
#include <bit>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"

namespace imbrex::restore {

int STATE_MAP::create(uint32_t blockCount)
{
    m_wordCount = 0;
    m_blockCount = 0;
    uint32_t wordCount = blockCount / 32 + 1;
    if (int e = m_words.allocate(size_t{wordCount} * 4))
        return e == 0 ? e : rc::kOutOfMemory;
    m_wordCount = wordCount;
    m_blockCount = blockCount;
    return rc::kOk;
}

void STATE_MAP::loadBytes(std::span<const std::byte> bytes)
{
    std::span<std::byte> raw = m_words.span();
    size_t n = std::min(bytes.size(), raw.size());
    // The bytes may already lie in the words themselves (the store read straight into them).
    if (n && bytes.data() != raw.data())
        std::copy_n(bytes.begin(), n, raw.begin());
    std::fill(raw.begin() + static_cast<std::ptrdiff_t>(n), raw.end(), std::byte{0});
    uint32_t *w = words();
    for (uint32_t i = 0; i < m_wordCount; ++i)
        w[i] = loadLe32(raw, size_t{4} * i);
    // Bits past the last block never count as stored.
    uint32_t last = m_blockCount / 32;
    w[last] &= (uint32_t{1} << (m_blockCount % 32)) - 1;
}

bool STATE_MAP::isSet(uint32_t b) const
{
    if (b >= m_blockCount)
        return false;
    return (words()[b / 32] >> (b % 32)) & 1u;
}

uint32_t STATE_MAP::NextSet(uint32_t b) const
{
    if (b >= m_blockCount)
        return index::kNoBlock;
    const uint32_t *w = words();
    uint32_t i = b / 32;
    uint32_t word = w[i] & (~uint32_t{0} << (b % 32));
    while (word == 0) {
        if (++i >= m_wordCount)
            return index::kNoBlock;
        word = w[i];
    }
    return i * 32 + static_cast<uint32_t>(std::countr_zero(word));
}

uint32_t STATE_MAP::LastSetBelow(uint64_t n) const
{
    uint64_t limit = std::min<uint64_t>(n, m_blockCount);
    if (limit == 0)
        return index::kNoBlock;
    const uint32_t *w = words();
    uint64_t b = limit - 1;
    auto i = static_cast<uint32_t>(b / 32);
    uint32_t keep = static_cast<uint32_t>(b % 32);
    uint32_t word = w[i] & (keep == 31 ? ~uint32_t{0} : (uint32_t{2} << keep) - 1);
    while (word == 0) {
        if (i == 0)
            return index::kNoBlock;
        word = w[--i];
    }
    return i * 32 + 31 - static_cast<uint32_t>(std::countl_zero(word));
}

uint64_t STATE_MAP::CountSet(uint32_t from, uint32_t to) const
{
    to = std::min(to, m_blockCount);
    if (from >= to)
        return 0;
    const uint32_t *w = words();
    uint64_t count = 0;
    uint32_t i = from / 32;
    uint32_t last = (to - 1) / 32;
    for (uint32_t k = i; k <= last; ++k) {
        uint32_t word = w[k];
        if (k == i)
            word &= ~uint32_t{0} << (from % 32);
        if (k == last && to % 32 != 0)
            word &= (uint32_t{1} << (to % 32)) - 1;
        count += static_cast<uint64_t>(std::popcount(word));
    }
    return count;
}

} // namespace imbrex::restore
