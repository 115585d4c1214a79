// A partition kept in memory, served to the engine as its SectorSource. Reads beyond the bytes held fail
// with 56; every read is counted. The test installs it with engine::setCurrentSectorSource and describes it
// to a volume with partitionInfo().
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/PARTITION_INFO.h"
#include "engine/SectorSource.h"

namespace imbrex::test {

class MemorySectorSource : public engine::SectorSource
{
public:
    static constexpr uint32_t kSectorBytes = 512;

    MemorySectorSource() = default;
    explicit MemorySectorSource(std::vector<std::byte> data) : m_data(std::move(data)) {}
    explicit MemorySectorSource(const std::vector<uint8_t> &data);
    // Reads a whole file; empty when it cannot be read.
    static MemorySectorSource fromFile(const std::filesystem::path &path);

    int ReadSectors(uint32_t sector, void *buffer, uint32_t count) override;

    // A descriptor as the partition access fills it: open for file restore, the whole data as its sectors.
    engine::PARTITION_INFO partitionInfo(uint8_t fileSystemCode = engine::kFileSystemFat) const;

    std::vector<std::byte> &data() { return m_data; }
    uint32_t sectorCount() const { return static_cast<uint32_t>(m_data.size() / kSectorBytes); }
    uint64_t reads() const { return m_reads; }
    uint32_t lastSector() const { return m_lastSector; }
    uint32_t lastCount() const { return m_lastCount; }

private:
    std::vector<std::byte> m_data;
    uint64_t m_reads = 0;
    uint32_t m_lastSector = 0;
    uint32_t m_lastCount = 0;
};

} // namespace imbrex::test
