// The file operations of an open PARTITION_ACCESS as the source of file extraction.
#pragma once

#include <optional>

#include "FileExtraction.h"
#include "PARTITION_ACCESS.h"
#include "engine/DirectoryTrail.h"

namespace imbrex::restore {

class PartitionFileSource final : public FileSource
{
public:
    explicit PartitionFileSource(PARTITION_ACCESS &access) : m_access(access) {}

    bool isFatVolume() override { return m_access.IsFatVolume() != 0; }
    int openEntry(const std::array<uint8_t, 32> &rawEntry) override
    {
        return m_access.OpenEntry(rawEntry.data());
    }
    int openFile(const std::string &path, int *kind) override { return m_access.OpenFile(path, kind); }
    int openRecord(uint32_t recordNumber, int *kind) override
    {
        return m_access.OpenRecord(recordNumber, kind);
    }
    uint64_t fileSize() override { return m_access.GetFileSize64(); }
    int readFile(void *buffer, uint32_t count) override { return m_access.ReadFile(buffer, count); }
    int closeFile() override { return m_access.CloseFile(); }
    int listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                      std::vector<engine::DirListEntry> *entries) override;
    int resetStream() override { return m_access.ResetStream(); }
    uint64_t dataStart(const RestoreItem &item) override
    {
        uint64_t cluster = 0;
        return m_access.DataStart(item.rawEntry ? item.rawEntry->data() : nullptr, item.recordNumber,
                                  &cluster) == 0
                   ? cluster
                   : UINT64_MAX;
    }

private:
    // FAT directories listed by their entries: the reader sees no path then, so the directories listed on the
    // way down are remembered here and a directory whose entry leads back to one of them is refused.
    int enterFatDirectory(const std::string &path, const std::array<uint8_t, 32> &rawEntry);

    PARTITION_ACCESS &m_access;
    std::optional<engine::DirectoryTrail> m_fatTrail;
    const engine::FAT_VOLUME *m_fatTrailVolume = nullptr;
};

} // namespace imbrex::restore
