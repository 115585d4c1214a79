#include "engine/ntfs/NTFS_RUNLIST.h"

#include <algorithm>

#include "common/ResultCodes.h"

namespace imbrex::engine {

namespace {

// A little-endian field of `size` bytes, sign-extended from its highest byte. Sizes of 0 or above 8 give 0.
int64_t loadSigned(std::span<const std::byte> b, size_t offset, size_t size)
{
    if (size == 0 || size > 8)
        return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i)
        v |= std::to_integer<uint64_t>(b[offset + i]) << (8 * i);
    if (size < 8 && (std::to_integer<uint8_t>(b[offset + size - 1]) & 0x80) != 0)
        v |= ~uint64_t{0} << (8 * size);
    return static_cast<int64_t>(v);
}

} // namespace

int NTFS_RUNLIST::appendExtent(std::span<const std::byte> attribute, size_t mappingPairsOffset,
                               uint64_t lowestVcn, uint64_t vcnLimit, uint64_t totalClusters)
{
    if (lowestVcn != endVcn())
        return rc::kNtfsRunlistShort;
    uint64_t vcn = lowestVcn;
    int64_t cluster = 0;
    size_t pos = mappingPairsOffset;
    // Each pair takes at least one byte and lies inside the attribute, so the loop ends.
    while (vcn < vcnLimit) {
        if (pos >= attribute.size())
            return rc::kNtfsRunlistBeyondAttribute;
        const auto header = std::to_integer<uint8_t>(attribute[pos]);
        if (header == 0)
            break;
        const size_t lengthBytes = header & 0x0F;
        const size_t offsetBytes = header >> 4;
        if (attribute.size() - pos - 1 < lengthBytes + offsetBytes)
            return rc::kNtfsRunlistBeyondAttribute;
        const int64_t length = loadSigned(attribute, pos + 1, lengthBytes);
        const int64_t delta = loadSigned(attribute, pos + 1 + lengthBytes, offsetBytes);
        pos += 1 + lengthBytes + offsetBytes;
        if (length <= 0)
            return rc::kNtfsRunlistBeyondAttribute;
        const auto clusters = static_cast<uint64_t>(length);
        if (clusters > vcnLimit - vcn)
            return rc::kNtfsRunlistBeyondAttribute;

        Run run{vcn, clusters, kSparse};
        if (offsetBytes != 0) {
            // Both values are bounded (the running cluster by the volume, the delta by 64 bits), so the sum
            // is formed without overflow.
            if ((delta > 0 && cluster > INT64_MAX - delta) || (delta < 0 && cluster < INT64_MIN - delta))
                return rc::kNtfsRunBeyondVolume;
            cluster += delta;
            if (cluster < 0) {
                run.cluster = kNegative;
            } else {
                if (static_cast<uint64_t>(cluster) > totalClusters ||
                    clusters > totalClusters - static_cast<uint64_t>(cluster))
                    return rc::kNtfsRunBeyondVolume;
                run.cluster = cluster;
            }
        }
        m_runs.push_back(run);
        vcn += clusters;
    }
    return rc::kOk;
}

const NTFS_RUNLIST::Run *NTFS_RUNLIST::find(uint64_t vcn) const
{
    auto it = std::upper_bound(m_runs.begin(), m_runs.end(), vcn,
                               [](uint64_t v, const Run &run) { return v < run.vcn; });
    if (it == m_runs.begin())
        return nullptr;
    --it;
    return vcn - it->vcn < it->length ? &*it : nullptr;
}

} // namespace imbrex::engine
