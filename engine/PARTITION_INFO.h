// PARTITION_INFO: the engine's descriptor of one open partition. Whoever opens a partition fills one in and
// hands it to a volume reader, which registers it in the engine's slot table (EngineSlots.h) and reads the
// partition's sectors through that slot. Only the fields the volume readers use are kept here.
#pragma once

#include <cstdint>

namespace imbrex::engine {

// Bits of PARTITION_INFO::openFlags.
inline constexpr uint32_t kPartitionOpen = 0x001;    // without it the slot table refuses the descriptor
inline constexpr uint32_t kPartitionLogical = 0x080; // the NTFS reader mounts only descriptors with it
inline constexpr uint32_t kPartitionFileRestore = 0x200;
// What the partition access sets for File Restore: open, logical, file restore.
inline constexpr uint32_t kPartitionFlagsForRestore = 0x281;

// File-system codes of PARTITION_INFO::fileSystemCode.
inline constexpr uint8_t kFileSystemFat = 1;
inline constexpr uint8_t kFileSystemNtfs = 4;
inline constexpr uint8_t kFileSystemFat32 = 15;

struct PARTITION_INFO
{
    uint32_t openFlags = 0;
    void *diskHandle = nullptr; // unused by file restore: reads go to the current SectorSource
    uint32_t firstSector = 0;   // added to every logical sector number before the physical read
    uint32_t sectorCount = 0;   // logical reads beyond it fail with 56
    uint8_t fileSystemCode = 0;
    uint16_t bytesPerSector = 512; // size of one sector of the physical read
    uint16_t sectorMultiplier = 1; // physical sectors per sector of the scaled logical read; 0 is refused
};

} // namespace imbrex::engine
