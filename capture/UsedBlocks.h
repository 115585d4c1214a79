// Which blocks of a volume hold data the file system needs, so that only those are stored. FAT: the reserved
// sectors, the FATs, the fixed root directory and every cluster the active FAT allocates. NTFS: every cluster
// marked in the volume bitmap ($Bitmap), and the backup boot sector after the last cluster. The structures
// are read with the readers' own parsers, so blocks are selected only from a volume the readers can mount
// (for NTFS: whose $MFT, $Volume and $Bitmap records check out). Anything else keeps every block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "VolumeProbe.h"

namespace imbrex::capture {

// Reads exactly out.size() bytes at offset within the volume; 0 or an error code.
using VolumeReader = std::function<int(uint64_t offset, std::span<std::byte> out)>;

// The block bitmap of a volume of volumeBytes bytes stored in blocks of blockBytes: bit b mod 8 of byte b / 8
// is set when block b is to be stored. Bits past blockCount are zero. Every block is set when the file
// system's structures cannot be used.
std::vector<uint8_t> usedBlockBitmap(const VolumeProbe &probe, uint64_t volumeBytes, uint64_t blockBytes,
                                     uint32_t blockCount, const VolumeReader &read);

// The same bitmap, or nullopt when the file system's structures cannot be read or do not check out.
std::optional<std::vector<uint8_t>> fileSystemBlockBitmap(const VolumeProbe &probe, uint64_t volumeBytes,
                                                          uint64_t blockBytes, uint32_t blockCount,
                                                          const VolumeReader &read);

// Every block set.
std::vector<uint8_t> fullBlockBitmap(uint32_t blockCount);

} // namespace imbrex::capture
