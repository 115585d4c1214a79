// Result codes shared by the store, the engine and the program. A code is a plain int, 0 = success. The
// numbers are fixed: stored files, peers and callers compare them, so never renumber one.
#pragma once

#include <string_view>

namespace imbrex::rc {

inline constexpr int kOk = 0;
inline constexpr int kGeneralFailure = 1;
inline constexpr int kOutOfMemory = 3;
inline constexpr int kCancelled = 7;
inline constexpr int kSlotNotOpen = 21;
inline constexpr int kUnsupportedFileSystem = 47;
inline constexpr int kBeyondEnd = 56;
inline constexpr int kBlockNotStored = 305;
inline constexpr int kNoIndexFile = 504;
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
inline constexpr int kNoCacheNode = 1896;

// Codes of our own image store. They live in a block of their own so that they never meet the fixed ones.
inline constexpr int kNotAnImage = 1900;
inline constexpr int kImageDamaged = 1901;
inline constexpr int kDataDamaged = 1902;
inline constexpr int kImageLocked = 1903;
inline constexpr int kImageReadOnly = 1904;
inline constexpr int kNoPartitionSelected = 1905;
inline constexpr int kInvalidArgument = 1906;
inline constexpr int kUnsupportedCompression = 1907;
inline constexpr int kWrongPassword = 1908;
inline constexpr int kBadPartitionNumber = 1909;
inline constexpr int kWrongSequence = 1910;
inline constexpr int kIoError = 1911;
inline constexpr int kImageTooLarge = 1912;

// A short English description of a code, for diagnostics and the command-line tool.
std::string_view describe(int code);

} // namespace imbrex::rc
