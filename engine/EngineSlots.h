// The engine's table of eight open-partition slots and the logical sector reads that go through it.
//
// A volume reader registers its PARTITION_INFO in the first free slot when it is constructed and reads by
// slot number. zbLogRead checks the slot and the range against the descriptor, adds the descriptor's first
// sector and hands the read to the current SectorSource. zbLogReadScaled is the form the FAT reader uses: its
// sector numbers and counts are in units of sectorMultiplier physical sectors.
#pragma once

#include <cstdint>

#include "engine/PARTITION_INFO.h"

namespace imbrex::engine {

inline constexpr int kSlotCount = 8;
inline constexpr int kNoSlot = -1;

// Registers info in the first free slot and stores its number in slot. Fails with 21 (slot stays kNoSlot)
// when all slots are taken, info is null, or info lacks the kPartitionOpen flag.
int zbRegisterPartition(PARTITION_INFO *info, int &slot);
// Frees the slot; out-of-range numbers and free slots are ignored.
void zbReleasePartition(int slot);
// The descriptor registered in slot, or nullptr.
PARTITION_INFO *zbGetPartition(int slot);

// Reads count physical sectors starting at logical sector `sector` of the partition in slot into buffer,
// which must hold count x bytesPerSector bytes. 21: slot not open (or no current SectorSource); 56: the
// read reaches beyond the descriptor's sector count. A count of 0 reads nothing and succeeds.
int zbLogRead(int slot, uint32_t sector, void *buffer, uint32_t count);
// As zbLogRead with sector and count first multiplied by the descriptor's sectorMultiplier (0 -> 1). The
// buffer must hold count x sectorMultiplier x bytesPerSector bytes.
int zbLogReadScaled(int slot, uint32_t sector, void *buffer, uint32_t count);

} // namespace imbrex::engine
