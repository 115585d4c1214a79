// Partitions for the fake store whose stored data comes from a known raw volume, so that every sector read
// through the partition access can be compared with the raw bytes.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/FakeStore.h"
#include "tests/support/ImageBuilder.h"

namespace imbrex::test {

struct FakeVolumeSpec
{
    uint32_t blockCount = 256;
    uint32_t sectorsPerBlock = 8;
    // One flag per block; empty means every block is stored.
    std::vector<bool> stored{};
    uint32_t compression = 0;
    uint32_t tailBytes = 0;
    uint32_t decoderStateSize = 0;
    uint32_t fileSystemType = 1;
    uint32_t spanned = 0;
    uint32_t seed = 7;
};

struct FakeVolume
{
    std::vector<uint8_t> raw;
    FakePartition partition;
};

inline FakeVolume makeFakeVolume(const FakeVolumeSpec &spec)
{
    FakeVolume v;
    const uint32_t blockBytes = spec.sectorsPerBlock * 512;
    v.raw = patternBytes(size_t{spec.blockCount} * blockBytes, spec.seed);
    FakePartition &p = v.partition;
    p.blockCount = spec.blockCount;
    p.sectorsPerBlock = spec.sectorsPerBlock;
    p.sectorCount = spec.blockCount * spec.sectorsPerBlock;
    p.compression = spec.compression;
    p.tailBytes = spec.tailBytes;
    p.decoderStateSize = spec.decoderStateSize;
    p.fileSystemType = spec.fileSystemType;
    p.spanned = spec.spanned;
    p.bitmap.assign((spec.blockCount + 7) / 8, 0);
    for (uint32_t b = 0; b < spec.blockCount; ++b) {
        if (!spec.stored.empty() && !spec.stored[b])
            continue;
        p.bitmap[b / 8] = static_cast<uint8_t>(p.bitmap[b / 8] | (1u << (b % 8)));
        p.stream.insert(p.stream.end(), v.raw.begin() + size_t{b} * blockBytes,
                        v.raw.begin() + size_t{b + 1} * blockBytes);
        p.lastUsedBlock = b;
        ++p.usedBlockCount;
    }
    return v;
}

// A random read as the volume readers make them: 1 to maxSectors sectors inside one run of stored blocks.
struct RandomRead
{
    uint32_t sector = 0;
    uint32_t count = 0;
};

template <typename IsStored>
RandomRead randomRead(std::mt19937 &rng, uint32_t blockCount, uint32_t sectorsPerBlock, IsStored isStored,
                      uint32_t maxSectors = 128)
{
    for (;;) {
        uint32_t block = std::uniform_int_distribution<uint32_t>(0, blockCount - 1)(rng);
        if (!isStored(block))
            continue;
        uint32_t sector =
            block * sectorsPerBlock + std::uniform_int_distribution<uint32_t>(0, sectorsPerBlock - 1)(rng);
        uint32_t want = std::uniform_int_distribution<uint32_t>(1, maxSectors)(rng);
        uint32_t count = 0;
        while (count < want) {
            uint32_t b = (sector + count) / sectorsPerBlock;
            if (b >= blockCount || !isStored(b))
                break;
            ++count;
        }
        return {sector, count};
    }
}

} // namespace imbrex::test
