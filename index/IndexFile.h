// Image index files (.zbx): the saved indexes of one image, one section per partition, appended one at a
// time.
//
// All integers are little-endian and unsigned, with no padding.
//
//   header, 16 bytes at offset 0:
//     0  u32  file signature 0x12263355
//     4  u16  format version (2; files above 2 are refused)
//     6  u16  reserved, 0
//     8  u32  image identity (the store's GetImageId)
//    12  u32  partition count P (the store's GetPartitionCount)
//   pointer table at 16: P x u32, entry n - 1 for partition n: the file offset of its section, or 0xFFFFFFFF
//   section, at the offset its table entry gives:
//     0  u32  section signature 0x14378310
//     4  u32  D, decoder state bytes per checkpoint
//     8  u32  s, spacing shift
//    12  u32  C, checkpoint count (0 for a partition that is not compressed)
//    16  u32  R, span record count
//    20       R x 8 bytes of span records, as the store gave them
//             C x u64 stream positions, C x u32 first blocks, C x u32 block offsets, C x D bytes of states
//
// A section is written completely before its table entry, so a section that failed half-way is never
// referenced. Nothing in a file is ever rewritten except that one entry.
//
// Nothing in the format guards its bytes, so a section is only used when every checkpoint agrees with the
// partition itself: the store must know a chunk that begins at the checkpoint's stream position, and the
// checkpoint's first block, counted through the block bitmap, must begin at the checkpoint's offset from that
// chunk's start. A damaged or foreign file is thus refused instead of steering reads to other data.
#pragma once

#include <cstdint>
#include <string>

#include "imgstore/ImageStore.h"
#include "index/BlockMap.h"
#include "index/ImageIndex.h"

namespace imbrex::index {

inline constexpr uint32_t kIndexFileSignature = 0x12263355;
inline constexpr uint16_t kIndexFileVersion = 2;
inline constexpr uint32_t kSectionSignature = 0x14378310;
inline constexpr uint32_t kNoSection = 0xFFFFFFFF;
inline constexpr size_t kFileHeaderBytes = 16;
inline constexpr size_t kSectionHeaderBytes = 20;
inline constexpr size_t kSpanRecordBytes = 8;

// Replaces index by the file's section for the store's selected partition. index must describe the partition
// (compressionType, spanned, lastUsedBlock, blockBytes) and map hold its block bitmap. A section without
// checkpoints only hands its span records to the store and leaves index as it was. On failure index is
// unchanged. 0 or a code of the index file operations (504, 1810, 1811, 1818, 1890, 1891, 1892), the store's
// or the memory library's.
int ReadIndexFile(const std::string &path, ImageStore &store, const BlockMap &map, ImageIndex &index);

// Appends index as a new section for the selected partition, creating the file when it does not exist.
// The caller has extended index to the end of the partition. 0, 1805, 1810, 1811, 1817, 1818, 1890, 1891,
// 1893 or the store's code.
int WriteIndexFile(const std::string &path, ImageStore &store, const ImageIndex &index);

// The index file proposed for an image that has none: the image's own file name with its extension replaced
// by "zbx".
std::string proposedIndexPath(const std::string &imagePath);

// True when the partition needs no index (neither compressed nor spanned), or when the file holds a section
// for it that ReadIndexFile would use. Never changes index.
bool CheckIndexFile(const std::string &path, ImageStore &store, const BlockMap &map, const ImageIndex &index);

} // namespace imbrex::index
