// Builds small FAT12/FAT16/FAT32 volumes byte by byte, for tests and fuzz seeds that need layouts the
// formatting tools do not make: loops and stray clusters in the FAT, odd geometry, hand-placed long names.
// Clusters are handed out from 2 upwards; directories are given by their first cluster, 0 for the root.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace imbrex::test {

class FatImageBuilder
{
public:
    struct Geometry
    {
        uint16_t bytesPerSector = 512;
        uint8_t sectorsPerCluster = 1;
        uint16_t reservedSectors = 1;
        uint8_t numberOfFats = 2;
        uint16_t rootEntries = 64; // 0 for FAT32
        uint32_t totalSectors = 512;
        uint32_t sectorsPerFat = 2;
        int fatBits = 12; // how entries are written: 12, 16 or 32
        bool fat32Layout = false;
        uint32_t rootCluster = 2;
    };

    // A FAT32 layout: 32-bit entries, no fixed root directory, the root in cluster 2.
    static Geometry fat32(uint32_t sectorsPerFat, uint32_t totalSectors, uint16_t reservedSectors = 1)
    {
        Geometry g;
        g.fat32Layout = true;
        g.fatBits = 32;
        g.rootEntries = 0;
        g.reservedSectors = reservedSectors;
        g.sectorsPerFat = sectorsPerFat;
        g.totalSectors = totalSectors;
        return g;
    }

    explicit FatImageBuilder(const Geometry &g) : m_g(g), m_image(size_t{g.totalSectors} * g.bytesPerSector)
    {
        put(11, g.bytesPerSector, 2);
        put(13, g.sectorsPerCluster, 1);
        put(14, g.reservedSectors, 2);
        put(16, g.numberOfFats, 1);
        put(17, g.rootEntries, 2);
        put(21, 0xF8, 1);
        if (g.totalSectors < 0x10000 && !g.fat32Layout)
            put(19, g.totalSectors, 2);
        else
            put(32, g.totalSectors, 4);
        if (g.fat32Layout) {
            put(36, g.sectorsPerFat, 4);
            put(44, g.rootCluster, 4);
            put(48, 1, 2);
            put(50, 6, 2);
            put(66, 0x29, 1);
            put(508, 0xAA550000, 4);
        } else {
            put(22, g.sectorsPerFat, 2);
            put(38, 0x29, 1);
            put(39, 0x12345678, 4);
        }
        put(510, 0xAA55, 2);
        setFat(0, 0x0FFFFFF8);
        setFat(1, 0x0FFFFFFF);
        if (g.fat32Layout) {
            m_nextCluster = g.rootCluster + 1;
            setFat(g.rootCluster, 0x0FFFFFFF);
        }
    }

    std::vector<uint8_t> &image() { return m_image; }
    const Geometry &geometry() const { return m_g; }

    void put(size_t offset, uint64_t value, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            m_image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    uint32_t firstDataSector() const
    {
        const uint32_t rootSectors =
            (uint32_t{m_g.rootEntries} * 32 + m_g.bytesPerSector - 1) / m_g.bytesPerSector;
        return m_g.reservedSectors + m_g.numberOfFats * m_g.sectorsPerFat + rootSectors;
    }
    size_t clusterBytes() const { return size_t{m_g.bytesPerSector} * m_g.sectorsPerCluster; }
    size_t clusterOffset(uint32_t cluster) const
    {
        return (firstDataSector() + size_t{cluster - 2} * m_g.sectorsPerCluster) * m_g.bytesPerSector;
    }

    // Writes a FAT entry into every copy of the FAT.
    void setFat(uint32_t cluster, uint32_t value)
    {
        for (uint32_t f = 0; f < m_g.numberOfFats; ++f) {
            const size_t base = (m_g.reservedSectors + size_t{f} * m_g.sectorsPerFat) * m_g.bytesPerSector;
            if (m_g.fatBits == 12) {
                const size_t at = base + cluster * 3 / 2;
                uint16_t pair = static_cast<uint16_t>(m_image[at] | (m_image[at + 1] << 8));
                if (cluster & 1)
                    pair = static_cast<uint16_t>((pair & 0x000F) | ((value & 0xFFF) << 4));
                else
                    pair = static_cast<uint16_t>((pair & 0xF000) | (value & 0xFFF));
                put(at, pair, 2);
            } else if (m_g.fatBits == 16) {
                put(base + cluster * 2, value & 0xFFFF, 2);
            } else {
                put(base + cluster * 4, value & 0x0FFFFFFF, 4);
            }
        }
    }

    // Allocates a chain of count clusters (at least one) and returns its first cluster.
    uint32_t allocate(size_t count)
    {
        const uint32_t first = m_nextCluster;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t c = m_nextCluster++;
            setFat(c, i + 1 == count ? 0x0FFFFFFF : c + 1);
        }
        return first;
    }

    // Appends a raw 32-byte entry to a directory (0 = root); directories grow by one cluster when full.
    void addRaw(uint32_t directory, const std::array<uint8_t, 32> &entry)
    {
        size_t &used = m_used[directory];
        size_t offset;
        if (directory == 0 && !m_g.fat32Layout) {
            offset =
                (m_g.reservedSectors + size_t{m_g.numberOfFats} * m_g.sectorsPerFat) * m_g.bytesPerSector +
                used;
        } else {
            uint32_t cluster = directory == 0 ? m_g.rootCluster : directory;
            size_t skip = used / clusterBytes();
            for (; skip > 0; --skip) {
                uint32_t next = fatValue(cluster);
                if (isEnd(next)) {
                    next = m_nextCluster++;
                    setFat(cluster, next);
                    setFat(next, 0x0FFFFFFF);
                }
                cluster = next;
            }
            offset = clusterOffset(cluster) + used % clusterBytes();
        }
        std::copy(entry.begin(), entry.end(), m_image.begin() + static_cast<std::ptrdiff_t>(offset));
        used += 32;
    }

    static std::array<uint8_t, 32> shortEntry(std::string_view name83, uint8_t attributes, uint32_t cluster,
                                              uint32_t size)
    {
        std::array<uint8_t, 32> e{};
        std::fill(e.begin(), e.begin() + 11, ' ');
        std::copy(name83.begin(),
                  name83.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(11, name83.size())),
                  e.begin());
        e[11] = attributes;
        e[20] = static_cast<uint8_t>(cluster >> 16);
        e[21] = static_cast<uint8_t>(cluster >> 24);
        e[22] = 0x64; // 05:03:08
        e[23] = 0x28;
        e[24] = 0x64; // 2021-03-04
        e[25] = 0x52;
        e[26] = static_cast<uint8_t>(cluster);
        e[27] = static_cast<uint8_t>(cluster >> 8);
        for (size_t i = 0; i < 4; ++i)
            e[28 + i] = static_cast<uint8_t>(size >> (8 * i));
        return e;
    }

    static uint8_t checksum(std::string_view name83)
    {
        uint8_t sum = 0;
        for (size_t i = 0; i < 11; ++i)
            sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(name83[i]));
        return sum;
    }

    // The long-name entries of name, last part first, as they precede their short entry.
    static std::vector<std::array<uint8_t, 32>> longEntries(std::u16string_view name, uint8_t sum)
    {
        const size_t parts = (name.size() + 12) / 13;
        std::vector<std::array<uint8_t, 32>> out;
        static constexpr size_t kSlots[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t n = parts; n >= 1; --n) {
            std::array<uint8_t, 32> e{};
            e[0] = static_cast<uint8_t>(n | (n == parts ? 0x40 : 0));
            e[11] = 0x0F;
            e[13] = sum;
            for (size_t k = 0; k < 13; ++k) {
                const size_t at = (n - 1) * 13 + k;
                const char16_t c = at < name.size() ? name[at] : at == name.size() ? u'\0' : u'\xFFFF';
                e[kSlots[k]] = static_cast<uint8_t>(c);
                e[kSlots[k] + 1] = static_cast<uint8_t>(c >> 8);
            }
            out.push_back(e);
        }
        return out;
    }

    // A file with data in a fresh chain; returns its first cluster (0 for empty files).
    uint32_t addFile(uint32_t directory, std::string_view name83, const std::vector<uint8_t> &data,
                     std::u16string_view longName = {}, uint8_t attributes = 0x20)
    {
        const size_t clusters = (data.size() + clusterBytes() - 1) / clusterBytes();
        const uint32_t first = clusters == 0 ? 0 : allocate(clusters);
        for (size_t i = 0; i < data.size(); ++i)
            m_image[clusterOffset(first + static_cast<uint32_t>(i / clusterBytes())) + i % clusterBytes()] =
                data[i];
        if (!longName.empty())
            for (const auto &e : longEntries(longName, checksum(name83)))
                addRaw(directory, e);
        addRaw(directory, shortEntry(name83, attributes, first, static_cast<uint32_t>(data.size())));
        return first;
    }

    // A directory with "." and ".." entries; returns its first cluster.
    uint32_t addDirectory(uint32_t parent, std::string_view name83, std::u16string_view longName = {})
    {
        const uint32_t cluster = allocate(1);
        if (!longName.empty())
            for (const auto &e : longEntries(longName, checksum(name83)))
                addRaw(parent, e);
        addRaw(parent, shortEntry(name83, 0x10, cluster, 0));
        addRaw(cluster, shortEntry(".", 0x10, cluster, 0));
        addRaw(cluster, shortEntry("..", 0x10, parent, 0));
        return cluster;
    }

    bool isEnd(uint32_t value) const
    {
        return m_g.fatBits == 12 ? value >= 0xFF8 : m_g.fatBits == 16 ? value >= 0xFFF8 : value >= 0x0FFFFFF8;
    }

    uint32_t fatValue(uint32_t cluster) const
    {
        const size_t base = size_t{m_g.reservedSectors} * m_g.bytesPerSector;
        if (m_g.fatBits == 12) {
            const size_t at = base + cluster * 3 / 2;
            const uint32_t pair = m_image[at] | (uint32_t{m_image[at + 1]} << 8);
            return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
        }
        if (m_g.fatBits == 16)
            return m_image[base + cluster * 2] | (uint32_t{m_image[base + cluster * 2 + 1]} << 8);
        const size_t at = base + cluster * 4;
        return (m_image[at] | (uint32_t{m_image[at + 1]} << 8) | (uint32_t{m_image[at + 2]} << 16) |
                (uint32_t{m_image[at + 3]} << 24)) &
               0x0FFFFFFF;
    }

private:
    Geometry m_g;
    std::vector<uint8_t> m_image;
    uint32_t m_nextCluster = 2;
    std::map<uint32_t, size_t> m_used; // bytes of entries written per directory
};

} // namespace imbrex::test
