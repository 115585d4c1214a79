#include "engine/DIRLIST.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "common/ResultCodes.h"

namespace imbrex::engine {

int DIRLIST::AddEntry(const char *name, uint32_t attributes, uint32_t sizeLow, uint32_t sizeHigh,
                      const DirListDate *date, const DirListTime *time, int32_t entryOffset,
                      const void *rawEntry)
{
    try {
        if (GetCount() == m_capacity) {
            // Grow in fixed steps, as the listing consumers expect the capacity to follow.
            m_entries.reserve(static_cast<size_t>(m_capacity) + kDirListGrowth);
            m_capacity += kDirListGrowth;
        }
        DirListEntry entry;
        entry.name = name != nullptr ? name : "";
        entry.attributes = attributes;
        entry.size = (uint64_t{sizeHigh} << 32) | sizeLow;
        if (date != nullptr)
            entry.date = *date;
        if (time != nullptr)
            entry.time = *time;
        entry.entryOffset = entryOffset;
        if (rawEntry != nullptr)
            std::memcpy(entry.rawEntry.data(), rawEntry, kRawEntryBytes);
        m_entries.push_back(std::move(entry));
    } catch (const std::bad_alloc &) {
        return rc::kOutOfMemory;
    } catch (const std::length_error &) {
        return rc::kOutOfMemory;
    }
    return rc::kOk;
}

void DIRLIST::SetLastFileTime(uint64_t fileTime)
{
    if (!m_entries.empty())
        m_entries.back().fileTime = fileTime;
}

void DIRLIST::SetLastRecordNumber(uint32_t recordNumber)
{
    if (!m_entries.empty())
        m_entries.back().recordNumber = recordNumber;
}

int DIRLIST::GetEntry(int index, char *nameBuffer, size_t nameBufferLength, uint32_t *attributes,
                      uint64_t *size, DirListDate *date, DirListTime *time, int32_t *entryOffset,
                      const uint8_t **rawEntry) const
{
    const DirListEntry *entry = Entry(index);
    if (entry == nullptr)
        return 2;
    if (nameBuffer != nullptr && nameBufferLength > 0) {
        const size_t n = std::min(entry->name.size(), nameBufferLength - 1);
        std::memcpy(nameBuffer, entry->name.data(), n);
        nameBuffer[n] = '\0';
    }
    if (attributes != nullptr)
        *attributes = entry->attributes;
    if (size != nullptr)
        *size = entry->size;
    if (date != nullptr)
        *date = entry->date;
    if (time != nullptr)
        *time = entry->time;
    if (entryOffset != nullptr)
        *entryOffset = entry->entryOffset;
    if (rawEntry != nullptr)
        *rawEntry = entry->rawEntry.data();
    return rc::kOk;
}

const DirListEntry *DIRLIST::Entry(int index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return &m_entries[static_cast<size_t>(index)];
}

} // namespace imbrex::engine
