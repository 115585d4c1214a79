// Result codes shared by the store, the engine and the program. A code is a plain int, 0 = success. The
// numbers are fixed: stored files, peers and callers compare them, so never renumber one.
#pragma once

#include <string_view>

namespace imbrex::rc {

inline constexpr int kOk = 0;
inline constexpr int kGeneralFailure = 1;
inline constexpr int kNotFound = 2; // also: a list index at or beyond the list's count
inline constexpr int kOutOfMemory = 3;
inline constexpr int kCancelled = 7;
inline constexpr int kSlotNotOpen = 21;
inline constexpr int kSeekBeyondEnd = 46; // seek beyond a file's size, or its cluster chain ends early
inline constexpr int kUnsupportedFileSystem = 47;
inline constexpr int kBeyondEnd = 56;
inline constexpr int kBadBootSignature = 102;   // boot sector signature missing
inline constexpr int kVolumeBeyondPartition = 113; // the boot sector describes more sectors than the partition holds
inline constexpr int kBlockNotStored = 305;
inline constexpr int kNoIndexFile = 504;
inline constexpr int kPathNotFound = 504; // a path component is not in its directory; a root without an end entry
inline constexpr int kBadFileSystemVersion = 510;
inline constexpr int kFatNotLoaded = 2019; // a file operation before the volume's FAT was read
inline constexpr int kBitmapSizeMismatch = 1802;
inline constexpr int kTargetReadOnly = 1803;
inline constexpr int kWriteShort = 1805;
inline constexpr int kCacheAllocation = 1806;
inline constexpr int kLegacyCompression = 1807;
inline constexpr int kCannotOpen = 1810;
inline constexpr int kReadShort = 1811;
inline constexpr int kSpanned = 1812;
inline constexpr int kMediaFull = 1817;
inline constexpr int kNewerVersion = 1818;
inline constexpr int kInvalidIndexFile = 1890;
inline constexpr int kIndexMismatch = 1891;
inline constexpr int kNoIndexForPartition = 1892;
inline constexpr int kIndexExists = 1893;
inline constexpr int kDialogCancelled = 1894;
inline constexpr int kIndexTryAgain = 1895; // the association dialog named another index file: read it
inline constexpr int kNoCacheNode = 1896;

// Codes of our own image store. They live in a block of their own so that they never meet the fixed ones.
inline constexpr int kNotAnImage = 1900;
inline constexpr int kImageDamaged = 1901;
inline constexpr int kDataDamaged = 1902;
inline constexpr int kImageLocked = 1903; // another program holds the image's writer lock
inline constexpr int kImageReadOnly = 1904;
inline constexpr int kNoPartitionSelected = 1905;
inline constexpr int kInvalidArgument = 1906;
inline constexpr int kUnsupportedCompression = 1907;
inline constexpr int kWrongPassword = 1908;
inline constexpr int kBadPartitionNumber = 1909;
inline constexpr int kWrongSequence = 1910;
inline constexpr int kIoError = 1911;
inline constexpr int kImageTooLarge = 1912;
// The store cannot do this; the caller has another way.
inline constexpr int kNotSupported = 1913;
// The newest state the image file records cannot be read and an older one is shown; changes would build on
// it and give the newer one up, so they wait until the user accepts that.
inline constexpr int kDamagedImageNotAccepted = 1914;

// Codes of the NTFS volume reader.
inline constexpr int kNtfsNotRegistered = 4;          // release of an unregistered record; entry time unusable
inline constexpr int kNtfsNoBootSectorMemory = 9;     // no memory for the boot sector buffer
inline constexpr int kNtfsReadPastEnd = 10;           // read past the runlist or beyond a resident value
inline constexpr int kNtfsOffsetBeyondData = 46;      // read offset beyond the data size
inline constexpr int kNtfsNotLogical = 53;            // descriptor without the logical flag 0x80
inline constexpr int kNtfsDirectoryNotFound = 503;    // listing: path not found or not a directory in use
inline constexpr int kNtfsNameNotFound = 504;         // path component not found
inline constexpr int kNtfsPathEndsWithSeparator = 505;
inline constexpr int kNtfsExtensionRecord = 721;      // record is an extension record
inline constexpr int kNtfsSparseOrNegativeRun = 722;  // read reaches an unreadable run
inline constexpr int kNtfsNotOpen = 725;              // volume, record or attribute not open
inline constexpr int kNtfsTooManyAttributes = 732;    // more than 8 attributes open in one record
inline constexpr int kNtfsTooManyRecords = 733;       // more than 8 records open in the volume
inline constexpr int kNtfsNotNtfs = 1500;             // jump byte or OEM name
inline constexpr int kNtfsBadClusterSize = 1503;
inline constexpr int kNtfsBadRecordSignature = 1507;  // not "FILE"
inline constexpr int kNtfsBadIndexSignature = 1508;   // not "INDX"
inline constexpr int kNtfsBadLayout = 1513;           // record or attribute layout
inline constexpr int kNtfsAttributeNotFound = 1517;
inline constexpr int kNtfsResidentBeyondRecord = 1518;
inline constexpr int kNtfsListMismatch = 1520;        // attribute list entry and extension record disagree
inline constexpr int kNtfsMustBeNonResident = 1521;
inline constexpr int kNtfsMustBeResident = 1522;
inline constexpr int kNtfsRunBeyondVolume = 1523;
inline constexpr int kNtfsTooLarge = 1524;            // total sectors or a cluster number beyond 32 bits
inline constexpr int kNtfsIndexBlockSize = 1525;
inline constexpr int kNtfsNoClosingEntry = 1526;
inline constexpr int kNtfsBadFixup = 1527;            // update sequence offset, count or fix-up word
inline constexpr int kNtfsRunlistShort = 1531;        // runlist does not reach the wanted VCN
inline constexpr int kNtfsRunlistBeyondAttribute = 1533;
inline constexpr int kNtfsListMissing = 1535;
inline constexpr int kNtfsBadRecordSize = 1541;
inline constexpr int kNtfsListInExtension = 1544;
inline constexpr int kNtfsTypesOutOfOrder = 1545;
inline constexpr int kNtfsBadResidentFlag = 1546;
inline constexpr int kNtfsTooFewRecords = 1548;
inline constexpr int kNtfsTooManyRecordsInMft = 1549;
inline constexpr int kNtfsBadInstance = 1550;
inline constexpr int kNtfsRecordNotInUse = 1552;
inline constexpr int kNtfsNoAllocation = 1617;        // sub-node in a directory without $INDEX_ALLOCATION
// Codes of our own for the NTFS reader, in a block of their own.
inline constexpr int kNtfsIndexLoop = 1940;           // an index block reached twice in one walk
inline constexpr int kNtfsVolumeBeyondPartition = 1941; // boot sector claims more sectors than the partition
inline constexpr int kNtfsCompressed = 1942;          // compressed data cannot be read

// Codes of the partition access for stores and index files that do not add up, in a block of their own.
inline constexpr int kStreamEnded = 1960;      // the data stream ended before the wanted block was reached
inline constexpr int kBadGeometry = 1961;      // sector size, sectors per block or block count cannot be used
inline constexpr int kBadStreamRead = 1962;    // the store delivered more bytes than asked for
inline constexpr int kNoVolumeOpen = 1963;     // a file operation with no volume mounted or no file open

// Codes of the FAT reader for damaged volumes that it refuses instead of walking into them.
inline constexpr int kFatBadGeometry = 1920;      // zero or impossible sector/cluster sizes, data area outside the volume
inline constexpr int kFatChainLoop = 1921;        // a cluster chain comes back to a cluster it already passed
inline constexpr int kFatClusterOutOfRange = 1922; // a chain leads to a free cluster or one beyond the FAT
inline constexpr int kFatDirectoryTooLarge = 1923; // a directory runs past 65536 entries without an end entry
inline constexpr int kFatBadRootCluster = 1924;    // the FAT32 root directory cluster is not a data cluster

// Codes the directory walks of both readers share.
inline constexpr int kDirectoryLoop = 1930; // a folder inside itself or its own subfolder; or nested too deep

// A short English description of a code, for diagnostics and the command-line tool.
std::string_view describe(int code);

} // namespace imbrex::rc
