// FAT_FILE: one open file or directory of a FAT_VOLUME: a copy of its 32-byte directory entry, where it
// stands in its cluster chain, and where its directory entry lies (all -1 when the file was made from a
// listed entry rather than found by path). A new FAT_FILE stands at position 0 on its start cluster.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/ByteOrder.h"

namespace imbrex::engine {

class FAT_VOLUME;

// Byte offsets in a 32-byte directory entry.
struct FatDirEntry
{
    static constexpr size_t kBytes = 32;
    static constexpr size_t kName = 0;
    static constexpr size_t kNameBytes = 8;
    static constexpr size_t kExtension = 8;
    static constexpr size_t kExtensionBytes = 3;
    static constexpr size_t kAttributes = 11;
    static constexpr size_t kReserved = 12;
    static constexpr size_t kClusterHigh = 20;
    static constexpr size_t kTime = 22;
    static constexpr size_t kDate = 24;
    static constexpr size_t kClusterLow = 26;
    static constexpr size_t kSize = 28;

    static constexpr uint8_t kEndMarker = 0x00;
    static constexpr uint8_t kDeletedMarker = 0xE5;
    static constexpr uint8_t kLongNameAttributes = 0x0F;
};

struct FatEntryLocation
{
    int32_t parentCluster = -1; // first cluster of the directory holding the entry (0: FAT12/16 fixed root)
    int32_t cluster = -1;       // cluster holding the entry (0: fixed root)
    int32_t sector = -1;        // sector within that cluster (within the root area for the fixed root)
    int32_t entryIndex = -1;    // entry within that sector
};

class FAT_FILE
{
public:
    FAT_FILE(FAT_VOLUME *volume, const std::array<uint8_t, FatDirEntry::kBytes> &entry, uint32_t startCluster,
             const FatEntryLocation &location = {});

    FAT_VOLUME *volume = nullptr;
    std::array<uint8_t, FatDirEntry::kBytes> entry{};
    uint32_t currentCluster = 0;
    uint32_t clusterIndex = 0;
    uint32_t position = 0;
    FatEntryLocation location;

    uint32_t startCluster() const { return m_startCluster; }
    uint8_t attributes() const { return entry[FatDirEntry::kAttributes]; }
    uint32_t size() const { return loadLe32(std::as_bytes(std::span(entry)), FatDirEntry::kSize); }
    bool isDirectory() const { return (attributes() & 0x10) != 0; }
    // A regular file: neither a directory nor a volume label.
    bool isRegular() const { return (attributes() & 0x18) == 0; }

    // Set once the whole cluster chain has been checked for loops and stray cluster numbers.
    bool chainChecked = false;

private:
    uint32_t m_startCluster = 0;
};

} // namespace imbrex::engine
