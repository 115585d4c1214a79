// NTFS_RUNLIST: the runs of a non-resident attribute in VCN order, decoded from the mapping pairs of each of
// its attribute records (extents).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace imbrex::engine {

class NTFS_RUNLIST
{
public:
    // Start cluster of a run without clusters (a hole that reads as zeros) and of a run whose decoded cluster
    // number is negative.
    static constexpr int64_t kSparse = -2;
    static constexpr int64_t kNegative = -1;

    struct Run
    {
        uint64_t vcn = 0;
        uint64_t length = 0; // clusters, never 0
        int64_t cluster = 0; // kSparse, kNegative or the first cluster
    };

    // Appends the runs of one attribute record whose mapping pairs start at mappingPairsOffset within
    // attribute (the attribute's bytes) and whose first VCN is lowestVcn, which must be where the runs
    // decoded so far end. Runs end at the terminating zero byte or at vcnLimit (the attribute's allocated
    // clusters). 1533: the pairs run out of the attribute, a run length is not positive or a run passes
    // vcnLimit; 1523: a run reaches beyond totalClusters; 1531: lowestVcn does not continue the runs decoded
    // so far.
    int appendExtent(std::span<const std::byte> attribute, size_t mappingPairsOffset, uint64_t lowestVcn,
                     uint64_t vcnLimit, uint64_t totalClusters);

    // The run that holds vcn, or nullptr.
    const Run *find(uint64_t vcn) const;
    // The VCN after the last run (0 when empty).
    uint64_t endVcn() const { return m_runs.empty() ? 0 : m_runs.back().vcn + m_runs.back().length; }
    const std::vector<Run> &runs() const { return m_runs; }
    void clear() { m_runs.clear(); }

private:
    std::vector<Run> m_runs;
};

} // namespace imbrex::engine
