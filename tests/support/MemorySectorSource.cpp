#include "tests/support/MemorySectorSource.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace imbrex::test {

MemorySectorSource::MemorySectorSource(const std::vector<uint8_t> &data) : m_data(data.size())
{
    if (!data.empty())
        std::memcpy(m_data.data(), data.data(), data.size());
}

MemorySectorSource MemorySectorSource::fromFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::byte> data(bytes.size());
    if (!bytes.empty())
        std::memcpy(data.data(), bytes.data(), bytes.size());
    return MemorySectorSource(std::move(data));
}

int MemorySectorSource::ReadSectors(uint32_t sector, void *buffer, uint32_t count)
{
    ++m_reads;
    m_lastSector = sector;
    m_lastCount = count;
    const uint64_t offset = uint64_t{sector} * kSectorBytes;
    const uint64_t length = uint64_t{count} * kSectorBytes;
    if (offset > m_data.size() || length > m_data.size() - offset)
        return 56;
    if (length > 0)
        std::memcpy(buffer, m_data.data() + offset, length);
    return 0;
}

engine::PARTITION_INFO MemorySectorSource::partitionInfo(uint8_t fileSystemCode) const
{
    engine::PARTITION_INFO info;
    info.openFlags = engine::kPartitionFlagsForRestore;
    info.sectorCount = sectorCount();
    info.fileSystemCode = fileSystemCode;
    info.bytesPerSector = kSectorBytes;
    info.sectorMultiplier = 1;
    return info;
}

} // namespace imbrex::test
