// DIRLIST: the listing of one directory as the volume readers deliver it to File Restore, in directory order.
// Each entry holds the name as 8-bit text, FAT-style attribute bits, size, date and time, the entry's byte
// offset within its directory and, for FAT, the 32-byte directory entry as stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imbrex::engine {

struct DirListTime
{
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint8_t hundredths = 0;
};

struct DirListDate
{
    uint8_t day = 1;
    uint8_t month = 1;
    uint16_t year = 0; // years since 1980
    uint8_t zero = 0;
};

inline constexpr size_t kRawEntryBytes = 32;
inline constexpr int kDirListGrowth = 2048;

// Attribute bits, in the FAT encoding for both readers.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrVolumeLabel = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

struct DirListEntry
{
    std::string name;
    uint32_t attributes = 0;
    DirListTime time;
    DirListDate date;
    uint64_t size = 0;
    int32_t entryOffset = -1;
    std::array<uint8_t, kRawEntryBytes> rawEntry{};
    // NTFS: the modification time as the directory records it, in 100 ns units since 1601 (0 when none);
    // the date and time above keep only the seconds of it.
    uint64_t fileTime = 0;
    // NTFS: the file's record in the master file table (0 elsewhere).
    uint32_t recordNumber = 0;
};

class DIRLIST
{
public:
    DIRLIST() = default;

    // Appends an entry. name is zero-terminated (nullptr counts as ""); date, time and rawEntry may be
    // nullptr (date then reads back as 1.1. year 0, time as 0:00:00.00, rawEntry as zeros). 0, or 3 when
    // memory runs out; the entries added before stay valid.
    int AddEntry(const char *name, uint32_t attributes, uint32_t sizeLow, uint32_t sizeHigh,
                 const DirListDate *date, const DirListTime *time, int32_t entryOffset, const void *rawEntry);

    // Copies entry `index` out. The name goes to nameBuffer, cut to nameBufferLength - 1 bytes and always
    // zero-terminated (nothing is written when nameBufferLength is 0). Every out pointer except attributes
    // may be nullptr; *rawEntry points into the list and stays valid until the list changes. 2 when index is
    // negative or at least GetCount(), and then nothing is written.
    int GetEntry(int index, char *nameBuffer, size_t nameBufferLength, uint32_t *attributes, uint64_t *size,
                 DirListDate *date, DirListTime *time, int32_t *entryOffset, const uint8_t **rawEntry) const;

    int GetCount() const { return static_cast<int>(m_entries.size()); }
    int GetCapacity() const { return m_capacity; }

    // Gives the entry added last its full-precision time (does nothing on an empty list).
    void SetLastFileTime(uint64_t fileTime);
    // Gives the entry added last the number of its file record (does nothing on an empty list).
    void SetLastRecordNumber(uint32_t recordNumber);

    // The entry at index, or nullptr when there is none; for callers that prefer std::string.
    const DirListEntry *Entry(int index) const;

    int detailsWanted = 1;

private:
    std::vector<DirListEntry> m_entries;
    int m_capacity = 0;
};

} // namespace imbrex::engine
