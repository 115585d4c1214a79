// Builds small NTFS volumes in memory for the reader's tests and the fuzz seeds: a boot sector, an MFT with
// the metadata records the reader opens, a root directory and files and directories with resident or
// non-resident data. Records stay unprotected until build(), so tests can damage them first (mutateRecord);
// build() then adds the update sequence. Header-only so that the fuzz target can use it as well.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/ByteOrder.h"

namespace imbrex::test {

class NtfsVolumeBuilder
{
public:
    static constexpr uint32_t kClusterBytes = 4096;
    static constexpr uint32_t kRecordBytes = 1024;
    static constexpr uint32_t kMftCluster = 2;
    static constexpr uint32_t kMftClusters = 8; // 32 records
    static constexpr uint32_t kRecordCount = kMftClusters * kClusterBytes / kRecordBytes;
    static constexpr uint32_t kMftBitmapCluster = 10;
    static constexpr uint32_t kBitmapCluster = 11;
    static constexpr uint32_t kFirstFreeCluster = 12;
    static constexpr uint64_t kDefaultTime = 132'000'000'000'000'000ull; // 2019-04-18
    static constexpr uint32_t kRoot = 5;

    struct Run
    {
        int64_t cluster; // -1 for a sparse run
        uint64_t length;
    };

    explicit NtfsVolumeBuilder(uint32_t clusters = 64, uint16_t usaOffset = 48)
        : m_clusters(clusters), m_usaOffset(usaOffset), m_image(size_t{clusters} * kClusterBytes)
    {
        m_nextCluster = kFirstFreeCluster;
        for (uint32_t n = 0; n < 16; ++n)
            m_records[n] = emptyRecord(n, n == kRoot);
        // $MFT: data and bitmap outside the record.
        addNonResident(0, 0x80, u"", {{kMftCluster, kMftClusters}}, uint64_t{kMftClusters} * kClusterBytes);
        addNonResident(0, 0xB0, u"", {{kMftBitmapCluster, 1}}, 8);
        // $Volume: version 3.1 in its volume information.
        std::vector<std::byte> info(12);
        info[8] = std::byte{3};
        info[9] = std::byte{1};
        addResident(3, 0x70, u"", info);
        // $Boot: the first cluster.
        addNonResident(7, 0x80, u"", {{0, 1}}, kClusterBytes);
        m_directories[kRoot] = {};
        addEntry(kRoot, u".", kRoot, true, 0, 3, kDefaultTime);
        for (uint32_t n : {0u, 3u, 6u, 7u})
            addEntry(kRoot, metadataName(n), n, false, 0, 3, kDefaultTime);
        m_nextRecord = 16;
    }

    // A file with its data resident (when small enough and not forced out) or in fresh clusters.
    uint32_t addFile(uint32_t parent, const std::u16string &name, const std::vector<std::byte> &data,
                     bool resident = true, uint8_t nameSpace = 1, uint64_t time = kDefaultTime)
    {
        const uint32_t n = newRecord(false);
        if (resident && data.size() <= 600) {
            addResident(n, 0x80, u"", data);
        } else {
            const uint64_t clusters =
                std::max<uint64_t>(1, (data.size() + kClusterBytes - 1) / kClusterBytes);
            const uint32_t first = allocate(static_cast<uint32_t>(clusters));
            std::copy(data.begin(), data.end(),
                      m_image.begin() + static_cast<std::ptrdiff_t>(first) * kClusterBytes);
            addNonResident(n, 0x80, u"", {{first, clusters}}, data.size());
        }
        addEntry(parent, name, n, false, data.size(), nameSpace, time);
        return n;
    }

    uint32_t addDirectory(uint32_t parent, const std::u16string &name, uint8_t nameSpace = 1)
    {
        const uint32_t n = newRecord(true);
        m_directories[n] = {};
        addEntry(parent, name, n, true, 0, nameSpace, kDefaultTime);
        return n;
    }

    // Spreads a directory's index over blocks of `perBlock` entries below the root (else it stays in the
    // root).
    void useIndexAllocation(uint32_t directory, size_t perBlock) { m_perBlock[directory] = perBlock; }
    // Gives the first entry of the directory's first index block a sub-node that is that block itself.
    void pointFirstBlockAtItself(uint32_t directory) { m_selfPointing.insert(directory); }
    // Sorts the directory's index backwards, as a volume collated by another case table might look.
    void reverseIndexOrder(uint32_t directory) { m_reversed.insert(directory); }

    void addEntry(uint32_t directory, const std::u16string &name, uint32_t record, bool isDirectory,
                  uint64_t size, uint8_t nameSpace, uint64_t time)
    {
        m_directories[directory].push_back({name, record, isDirectory, size, nameSpace, time});
    }

    void addResident(uint32_t n, uint32_t type, const std::u16string &name,
                     const std::vector<std::byte> &value)
    {
        m_attributes[n].push_back(makeResident(type, name, value));
    }

    void addNonResident(uint32_t n, uint32_t type, const std::u16string &name, const std::vector<Run> &runs,
                        uint64_t dataSize, uint64_t lowestVcn = 0, uint64_t allocatedClusters = 0,
                        uint64_t initializedSize = UINT64_MAX, uint16_t flags = 0)
    {
        uint64_t clusters = 0;
        for (const Run &r : runs)
            clusters += r.length;
        if (allocatedClusters == 0)
            allocatedClusters = clusters;
        m_attributes[n].push_back(
            makeNonResident(type, name, encodeRuns(runs), lowestVcn, lowestVcn + clusters - 1,
                            allocatedClusters * kClusterBytes, dataSize,
                            initializedSize == UINT64_MAX ? dataSize : initializedSize, flags));
    }

    uint32_t allocate(uint32_t clusters)
    {
        const uint32_t first = m_nextCluster;
        m_nextCluster += clusters;
        if (m_nextCluster > m_clusters) {
            m_clusters = m_nextCluster;
            m_image.resize(size_t{m_clusters} * kClusterBytes);
        }
        return first;
    }
    std::span<std::byte> cluster(uint32_t c)
    {
        return std::span(m_image).subspan(size_t{c} * kClusterBytes, kClusterBytes);
    }
    uint32_t newRecord(bool directory)
    {
        const uint32_t n = m_nextRecord++;
        m_records[n] = emptyRecord(n, directory);
        return n;
    }
    std::vector<std::byte> &rawRecord(uint32_t n) { return m_records[n]; }
    // Called on the record after its attributes were laid out and before the update sequence is added.
    void mutateRecord(uint32_t n, std::function<void(std::span<std::byte>)> change)
    {
        m_mutations[n].push_back(std::move(change));
    }

    std::vector<std::byte> build()
    {
        for (auto &[dir, entries] : m_directories)
            writeIndex(dir, entries);
        // $Bitmap: one bit per cluster, sized once every cluster is known.
        addNonResident(6, 0x80, u"", {{kBitmapCluster, 1}}, (uint64_t{m_clusters} + 63) / 64 * 8);
        writeBoot();
        // Bitmaps: every record and every used cluster in use.
        auto mftBitmap = cluster(kMftBitmapCluster);
        for (uint32_t n = 0; n < m_nextRecord; ++n)
            mftBitmap[n / 8] |= std::byte(1u << (n % 8));
        auto bitmap = cluster(kBitmapCluster);
        for (uint32_t c = 0; c < m_nextCluster && c / 8 < kClusterBytes; ++c)
            bitmap[c / 8] |= std::byte(1u << (c % 8));
        for (auto &[n, record] : m_records) {
            std::vector<std::byte> rec = record;
            layout(rec, m_attributes[n]);
            for (auto &change : m_mutations[n])
                change(rec);
            protect(rec, m_usaOffset, static_cast<uint16_t>(n + 1));
            const size_t offset = size_t{kMftCluster} * kClusterBytes + size_t{n} * kRecordBytes;
            if (n < kRecordCount)
                std::copy(rec.begin(), rec.end(), m_image.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        return m_image;
    }

    // Adds the update sequence to `bytes` in place: the last word of each sector goes into the array at
    // usaOffset and is replaced by usn.
    static void protect(std::span<std::byte> bytes, size_t usaOffset, uint16_t usn)
    {
        storeLe16(bytes, usaOffset, usn);
        for (size_t i = 0; i < bytes.size() / 512; ++i) {
            storeLe16(bytes, usaOffset + 2 * (i + 1), loadLe16(bytes, 512 * i + 510));
            storeLe16(bytes, 512 * i + 510, usn);
        }
    }

    static std::vector<std::byte> fileNameKey(const std::u16string &name, uint32_t parent, bool isDirectory,
                                              uint64_t size, uint8_t nameSpace, uint64_t time)
    {
        std::vector<std::byte> key(66 + 2 * name.size());
        storeLe64(key, 0, parent | (uint64_t{1} << 48));
        for (size_t t = 0; t < 4; ++t)
            storeLe64(key, 8 + 8 * t, time);
        storeLe64(key, 40, (size + 4095) / 4096 * 4096);
        storeLe64(key, 48, size);
        storeLe32(key, 56, isDirectory ? 0x10000000u : 0x20u);
        key[64] = std::byte(name.size());
        key[65] = std::byte(nameSpace);
        for (size_t i = 0; i < name.size(); ++i)
            storeLe16(key, 66 + 2 * i, name[i]);
        return key;
    }

    static std::vector<std::byte> encodeRuns(const std::vector<Run> &runs)
    {
        std::vector<std::byte> out;
        int64_t previous = 0;
        for (const Run &r : runs) {
            const auto lengthBytes = signedBytes(static_cast<int64_t>(r.length));
            std::vector<std::byte> pair;
            size_t offsetBytes = 0;
            int64_t delta = 0;
            if (r.cluster >= 0) {
                delta = r.cluster - previous;
                offsetBytes = signedBytes(delta);
                previous = r.cluster;
            }
            out.push_back(std::byte(lengthBytes | (offsetBytes << 4)));
            for (size_t i = 0; i < lengthBytes; ++i)
                out.push_back(std::byte((r.length >> (8 * i)) & 0xFF));
            for (size_t i = 0; i < offsetBytes; ++i)
                out.push_back(std::byte((static_cast<uint64_t>(delta) >> (8 * i)) & 0xFF));
        }
        out.push_back(std::byte{0});
        return out;
    }

private:
    struct Entry
    {
        std::u16string name;
        uint32_t record;
        bool isDirectory;
        uint64_t size;
        uint8_t nameSpace;
        uint64_t time;
    };

    static std::u16string metadataName(uint32_t n)
    {
        static const char16_t *names[] = {
            u"$MFT",     u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u".",      u"$Bitmap", u"$Boot",
            u"$BadClus", u"$Secure",  u"$UpCase",  u"$Extend", u"$Res12",   u"$Res13", u"$Res14",  u"$Res15"};
        return names[n];
    }

    static size_t signedBytes(int64_t v)
    {
        size_t n = 1;
        while (n < 8 && !(v >= -(int64_t{1} << (8 * n - 1)) && v < (int64_t{1} << (8 * n - 1))))
            ++n;
        return n;
    }

    std::vector<std::byte> emptyRecord(uint32_t n, bool directory) const
    {
        std::vector<std::byte> rec(kRecordBytes);
        const char sig[] = "FILE";
        for (size_t i = 0; i < 4; ++i)
            rec[i] = std::byte(sig[i]);
        storeLe16(rec, 4, m_usaOffset);
        storeLe16(rec, 6, kRecordBytes / 512 + 1);
        storeLe16(rec, 16, 1); // sequence number
        storeLe16(rec, 18, 1);
        storeLe16(rec, 20, static_cast<uint16_t>((m_usaOffset + 2 * (kRecordBytes / 512 + 1) + 7) & ~7u));
        storeLe16(rec, 22, directory ? 3 : 1);
        storeLe32(rec, 28, kRecordBytes);
        if (m_usaOffset >= 48)
            storeLe32(rec, 44, n);
        return rec;
    }

    static std::vector<std::byte> makeResident(uint32_t type, const std::u16string &name,
                                               const std::vector<std::byte> &value)
    {
        const size_t n = (name.size() * 2 + 7) & ~size_t{7};
        const size_t length = (24 + n + value.size() + 7) & ~size_t{7};
        std::vector<std::byte> a(length);
        storeLe32(a, 0, type);
        storeLe32(a, 4, static_cast<uint32_t>(length));
        a[9] = std::byte(name.size());
        storeLe16(a, 10, 24);
        storeLe32(a, 16, static_cast<uint32_t>(value.size()));
        storeLe16(a, 20, static_cast<uint16_t>(24 + n));
        for (size_t i = 0; i < name.size(); ++i)
            storeLe16(a, 24 + 2 * i, name[i]);
        std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(24 + n));
        return a;
    }

    static std::vector<std::byte> makeNonResident(uint32_t type, const std::u16string &name,
                                                  const std::vector<std::byte> &pairs, uint64_t lowest,
                                                  uint64_t highest, uint64_t allocated, uint64_t dataSize,
                                                  uint64_t initialized, uint16_t flags)
    {
        const size_t n = (name.size() * 2 + 7) & ~size_t{7};
        const size_t length = (64 + n + pairs.size() + 7) & ~size_t{7};
        std::vector<std::byte> a(length);
        storeLe32(a, 0, type);
        storeLe32(a, 4, static_cast<uint32_t>(length));
        a[8] = std::byte{1};
        a[9] = std::byte(name.size());
        storeLe16(a, 10, 64);
        storeLe16(a, 12, flags);
        storeLe64(a, 16, lowest);
        storeLe64(a, 24, highest);
        storeLe16(a, 32, static_cast<uint16_t>(64 + n));
        storeLe64(a, 40, allocated);
        storeLe64(a, 48, dataSize);
        storeLe64(a, 56, initialized);
        for (size_t i = 0; i < name.size(); ++i)
            storeLe16(a, 64 + 2 * i, name[i]);
        std::copy(pairs.begin(), pairs.end(), a.begin() + static_cast<std::ptrdiff_t>(64 + n));
        return a;
    }

    // Places the attributes (sorted by type, stable) in the record with instances 0, 1, ...
    static void layout(std::vector<std::byte> &rec, std::vector<std::vector<std::byte>> attributes)
    {
        std::stable_sort(attributes.begin(), attributes.end(),
                         [](const auto &a, const auto &b) { return loadLe32(a, 0) < loadLe32(b, 0); });
        size_t pos = loadLe16(rec, 20);
        uint16_t instance = 0;
        for (auto &a : attributes) {
            storeLe16(a, 14, instance++);
            std::copy(a.begin(), a.end(), rec.begin() + static_cast<std::ptrdiff_t>(pos));
            pos += a.size();
        }
        storeLe32(rec, pos, 0xFFFFFFFF);
        storeLe32(rec, 24, static_cast<uint32_t>(pos + 8));
        storeLe16(rec, 40, instance);
    }

    static std::vector<std::byte> indexEntry(const Entry *e, uint32_t directory, bool last, int64_t subNode)
    {
        std::vector<std::byte> key;
        if (e != nullptr)
            key = fileNameKey(e->name, directory, e->isDirectory, e->size, e->nameSpace, e->time);
        size_t length = (16 + key.size() + 7) & ~size_t{7};
        if (subNode >= 0)
            length += 8;
        std::vector<std::byte> out(length);
        if (e != nullptr)
            storeLe64(out, 0, e->record | (uint64_t{1} << 48));
        storeLe16(out, 8, static_cast<uint16_t>(length));
        storeLe16(out, 10, static_cast<uint16_t>(key.size()));
        storeLe16(out, 12, static_cast<uint16_t>((last ? 2 : 0) | (subNode >= 0 ? 1 : 0)));
        std::copy(key.begin(), key.end(), out.begin() + 16);
        if (subNode >= 0)
            storeLe64(out, length - 8, static_cast<uint64_t>(subNode));
        return out;
    }

    static std::vector<std::byte> node(const std::vector<std::vector<std::byte>> &entries, size_t headerSpace)
    {
        std::vector<std::byte> out(headerSpace);
        for (const auto &e : entries)
            out.insert(out.end(), e.begin(), e.end());
        return out;
    }

    void writeIndex(uint32_t dir, std::vector<Entry> entries)
    {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry &a, const Entry &b) { return upper(a.name) < upper(b.name); });
        if (m_reversed.count(dir) != 0)
            std::reverse(entries.begin(), entries.end());
        std::vector<std::vector<std::byte>> rootEntries;
        size_t rootBytes = 0;
        for (const Entry &e : entries)
            rootBytes += indexEntry(&e, dir, false, -1).size();
        if (rootBytes > 750 && m_perBlock.find(dir) == m_perBlock.end())
            m_perBlock[dir] = 8; // too large for the record: spread it over blocks
        const auto per = m_perBlock.find(dir);
        if (per == m_perBlock.end()) {
            for (const Entry &e : entries)
                rootEntries.push_back(indexEntry(&e, dir, false, -1));
            rootEntries.push_back(indexEntry(nullptr, dir, true, -1));
        } else {
            // Blocks of `perBlock` entries, each followed in the root by one separating entry.
            const size_t perBlock = per->second;
            std::vector<uint32_t> blockClusters;
            size_t i = 0;
            uint64_t vcn = 0;
            while (i < entries.size() || blockClusters.empty()) {
                std::vector<std::vector<std::byte>> blockEntries;
                for (size_t k = 0; k < perBlock && i < entries.size(); ++k, ++i) {
                    const bool self = k == 0 && blockClusters.empty() && m_selfPointing.count(dir) != 0;
                    blockEntries.push_back(
                        indexEntry(&entries[i], dir, false, self ? static_cast<int64_t>(vcn) : -1));
                }
                blockEntries.push_back(indexEntry(nullptr, dir, true, -1));
                const uint32_t c = allocate(1);
                blockClusters.push_back(c);
                writeBlock(cluster(c), vcn, blockEntries);
                if (i < entries.size()) {
                    rootEntries.push_back(indexEntry(&entries[i], dir, false, static_cast<int64_t>(vcn)));
                    ++i;
                } else {
                    rootEntries.push_back(indexEntry(nullptr, dir, true, static_cast<int64_t>(vcn)));
                }
                ++vcn;
            }
            if (rootEntries.empty() || (loadLe16(rootEntries.back(), 12) & 2) == 0) {
                rootEntries.push_back(indexEntry(nullptr, dir, true, -1));
            }
            std::vector<Run> runs;
            for (uint32_t c : blockClusters)
                runs.push_back({c, 1});
            addNonResident(dir, 0xA0, u"$I30", runs, blockClusters.size() * kClusterBytes);
            std::vector<std::byte> bitmap(8, std::byte{0xFF});
            addResident(dir, 0xB0, u"$I30", bitmap);
        }
        std::vector<std::byte> value = node(rootEntries, 32);
        storeLe32(value, 0, 0x30);
        storeLe32(value, 4, 1);
        storeLe32(value, 8, kClusterBytes);
        value[12] = std::byte{1};
        storeLe32(value, 16, 16);
        storeLe32(value, 20, static_cast<uint32_t>(value.size() - 16));
        storeLe32(value, 24, static_cast<uint32_t>(value.size() - 16));
        value[28] = per == m_perBlock.end() ? std::byte{0} : std::byte{1};
        addResident(dir, 0x90, u"$I30", value);
    }

    static void writeBlock(std::span<std::byte> block, uint64_t vcn,
                           const std::vector<std::vector<std::byte>> &entries)
    {
        const char sig[] = "INDX";
        for (size_t i = 0; i < 4; ++i)
            block[i] = std::byte(sig[i]);
        storeLe16(block, 4, 40);
        storeLe16(block, 6, kClusterBytes / 512 + 1);
        storeLe64(block, 16, vcn);
        size_t pos = 64;
        for (const auto &e : entries) {
            std::copy(e.begin(), e.end(), block.begin() + static_cast<std::ptrdiff_t>(pos));
            pos += e.size();
        }
        storeLe32(block, 24, 40);
        storeLe32(block, 28, static_cast<uint32_t>(pos - 24));
        storeLe32(block, 32, kClusterBytes - 24);
        protect(block, 40, static_cast<uint16_t>(vcn + 7));
    }

    static std::u16string upper(std::u16string s)
    {
        for (auto &c : s) {
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - 32);
        }
        return s;
    }

    void writeBoot()
    {
        auto b = std::span(m_image);
        b[0] = std::byte{0xEB};
        b[1] = std::byte{0x52};
        b[2] = std::byte{0x90};
        const char oem[] = "NTFS    ";
        for (size_t i = 0; i < 8; ++i)
            b[3 + i] = std::byte(oem[i]);
        storeLe16(b, 11, 512);
        b[13] = std::byte{kClusterBytes / 512};
        b[21] = std::byte{0xF8};
        storeLe64(b, 40, uint64_t{m_clusters} * (kClusterBytes / 512));
        storeLe64(b, 48, kMftCluster);
        storeLe64(b, 56, kMftCluster + 1);
        b[64] = std::byte{0xF6};
        b[68] = std::byte{1};
        storeLe16(b, 510, 0xAA55);
    }

    uint32_t m_clusters;
    uint16_t m_usaOffset;
    std::vector<std::byte> m_image;
    uint32_t m_nextCluster = 0;
    uint32_t m_nextRecord = 0;
    std::map<uint32_t, std::vector<std::byte>> m_records;
    std::map<uint32_t, std::vector<std::vector<std::byte>>> m_attributes;
    std::map<uint32_t, std::vector<std::function<void(std::span<std::byte>)>>> m_mutations;
    std::map<uint32_t, std::vector<Entry>> m_directories;
    std::map<uint32_t, size_t> m_perBlock;
    std::set<uint32_t> m_reversed;
    std::set<uint32_t> m_selfPointing;
};

} // namespace imbrex::test
