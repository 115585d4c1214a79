// On-disk layout of the NTFS structures the reader uses: byte offsets inside the boot sector, file records,
// attribute headers, attribute list entries and directory indexes. All values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imbrex::engine::ntfs {

inline constexpr size_t kSectorBytes = 512;

// Boot sector (sector 0 of the partition).
namespace boot {
inline constexpr size_t kJump = 0;               // u8: 0xEB or 0xE9
inline constexpr size_t kOemName = 3;            // 8 bytes "NTFS    "
inline constexpr size_t kBytesPerSector = 11;    // u16
inline constexpr size_t kSectorsPerCluster = 13; // u8
inline constexpr size_t kTotalSectors = 40;      // u64
inline constexpr size_t kMftCluster = 48;        // u64
inline constexpr size_t kMftMirrorCluster = 56;  // u64
inline constexpr size_t kClustersPerRecord = 64; // i8
inline constexpr size_t kClustersPerIndex = 68;  // i8
inline constexpr size_t kSerialNumber = 72;      // u64
} // namespace boot

// File record ("FILE") header.
namespace frs {
inline constexpr size_t kSignature = 0;       // "FILE"
inline constexpr size_t kUsaOffset = 4;       // u16, 42 or 48
inline constexpr size_t kUsaCount = 6;        // u16, sectors per record + 1
inline constexpr size_t kSequenceNumber = 16; // u16
inline constexpr size_t kFirstAttribute = 20; // u16
inline constexpr size_t kFlags = 22;          // u16
inline constexpr size_t kBytesInUse = 24;     // u32
inline constexpr size_t kBaseReference = 32;  // 8 bytes, zero in a base record
inline constexpr size_t kNextInstance = 40;   // u16
inline constexpr size_t kUsaArray = 42;
inline constexpr size_t kUsaArrayWithNumber = 48; // layout with the record number at 44
inline constexpr uint16_t kFlagInUse = 0x0001;
inline constexpr uint16_t kFlagDirectory = 0x0002;
} // namespace frs

// Attribute header; the resident and non-resident forms share the first 16 bytes.
namespace attr {
inline constexpr size_t kType = 0;         // u32, 0xFFFFFFFF ends the list
inline constexpr size_t kLength = 4;       // u32
inline constexpr size_t kNonResident = 8;  // u8
inline constexpr size_t kNameLength = 9;   // u8, UTF-16 units
inline constexpr size_t kNameOffset = 10;  // u16
inline constexpr size_t kFlags = 12;       // u16
inline constexpr size_t kInstance = 14;    // u16
inline constexpr size_t kValueLength = 16; // resident: u32
inline constexpr size_t kValueOffset = 20; // resident: u16
inline constexpr size_t kResidentHeader = 24;
inline constexpr size_t kLowestVcn = 16;       // non-resident: u64
inline constexpr size_t kHighestVcn = 24;      // u64
inline constexpr size_t kMappingPairs = 32;    // u16
inline constexpr size_t kAllocatedSize = 40;   // u64
inline constexpr size_t kDataSize = 48;        // u64
inline constexpr size_t kInitializedSize = 56; // u64
inline constexpr size_t kNonResidentHeader = 64;
inline constexpr uint16_t kFlagCompressionMask = 0x00FF;

inline constexpr uint32_t kEnd = 0xFFFFFFFF;
inline constexpr uint32_t kAttributeList = 0x20;
inline constexpr uint32_t kFileName = 0x30;
inline constexpr uint32_t kVolumeInformation = 0x70;
inline constexpr uint32_t kData = 0x80;
inline constexpr uint32_t kIndexRoot = 0x90;
inline constexpr uint32_t kIndexAllocation = 0xA0;
inline constexpr uint32_t kBitmap = 0xB0;
} // namespace attr

// Entry of an $ATTRIBUTE_LIST value.
namespace list {
inline constexpr size_t kType = 0;            // u32
inline constexpr size_t kEntryLength = 4;     // u16
inline constexpr size_t kNameLength = 6;      // u8
inline constexpr size_t kNameOffset = 7;      // u8
inline constexpr size_t kLowestVcn = 8;       // u64
inline constexpr size_t kRecordNumber = 16;   // low 32 bits of the file reference
inline constexpr size_t kSequenceNumber = 22; // u16
inline constexpr size_t kInstance = 24;       // u16
inline constexpr size_t kMinimumEntry = 26;
} // namespace list

// $INDEX_ROOT value, index blocks ("INDX") and index entries with their $FILE_NAME keys.
namespace index {
inline constexpr size_t kRootBlockBytes = 8;        // u32
inline constexpr size_t kRootClustersPerBlock = 12; // u8
inline constexpr size_t kRootHeader = 16;           // index header inside the root value
inline constexpr size_t kBlockSignature = 0;        // "INDX"
inline constexpr size_t kBlockUsaOffset = 4;        // u16, must be 40
inline constexpr size_t kBlockUsaCount = 6;         // u16, block bytes / 512 + 1
inline constexpr size_t kBlockHeader = 24;          // index header inside a block
inline constexpr size_t kBlockUsaArray = 40;
inline constexpr size_t kHeaderFirstEntry = 0; // u32, relative to the header
inline constexpr size_t kHeaderSize = 16;

inline constexpr size_t kEntryReference = 0;  // u64, low 32 bits = record number
inline constexpr size_t kEntryLength = 8;     // u16
inline constexpr size_t kEntryKeyLength = 10; // u16
inline constexpr size_t kEntryFlags = 12;     // u16
inline constexpr size_t kEntryKey = 16;
inline constexpr size_t kEntryMinimum = 16;
inline constexpr uint16_t kEntryHasSubNode = 0x01;
inline constexpr uint16_t kEntryLast = 0x02;

inline constexpr size_t kKeyModificationTime = 16; // u64
inline constexpr size_t kKeyDataSize = 48;         // u64
inline constexpr size_t kKeyFileAttributes = 56;   // u32
inline constexpr size_t kKeyNameLength = 64;       // u8
inline constexpr size_t kKeyNamespace = 65;        // u8
inline constexpr size_t kKeyName = 66;
inline constexpr uint32_t kFileAttributeDirectory = 0x10000000;
} // namespace index

// Records of the metadata files the reader opens itself.
inline constexpr uint32_t kMftRecord = 0;
inline constexpr uint32_t kVolumeRecord = 3;
inline constexpr uint32_t kRootRecord = 5;
inline constexpr uint32_t kBitmapRecord = 6;
inline constexpr uint32_t kFirstUserRecord = 16;

inline constexpr size_t kMaxRecordBytes = 65536;
inline constexpr size_t kMaxClusterBytes = 2u << 20;
inline constexpr size_t kMaxIndexBlockBytes = 65536;

} // namespace imbrex::engine::ntfs
