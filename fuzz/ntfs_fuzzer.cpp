// Fuzzes the NTFS reader. The input is a whole volume (cut to whole 512-byte sectors): it is mounted, the
// whole tree is walked by path as extraction walks it (as deep as the reader's own guards let it go, a
// bounded number of entries per directory), and every listed file is opened and read in part. Anything the
// reader may meet on a hostile disk must end in a result code, never a crash, a hang or unbounded memory.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "SeedVolumes.h"
#include "engine/DIRLIST.h"
#include "engine/SectorSource.h"
#include "engine/ntfs/NTFS_VOLUME.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"

using namespace imbrex;
using namespace imbrex::engine;

namespace {

constexpr size_t kSector = 512;
constexpr int kMaxEntries = 64;
// Directories named from several places without a loop make a tree that grows with every level; this bounds
// the listings and file reads of one input without bounding the depth.
constexpr int kMaxSteps = 4096;
constexpr uint64_t kMaxReadBytes = 256 * 1024;

class InputSource : public SectorSource
{
public:
    InputSource(const uint8_t *data, size_t sectors) : m_data(data), m_sectors(sectors) {}
    int ReadSectors(uint32_t sector, void *buffer, uint32_t count) override
    {
        if (sector > m_sectors || count > m_sectors - sector)
            return 56;
        std::memcpy(buffer, m_data + size_t{sector} * kSector, size_t{count} * kSector);
        return 0;
    }

private:
    const uint8_t *m_data;
    size_t m_sectors;
};

void readFile(NTFS_VOLUME &volume, const std::string &path)
{
    NtfsFileHandle *handle = nullptr;
    if (volume.NtfsOpenFile(path.c_str(), &handle) != 0)
        return;
    const uint64_t size = std::min(volume.NtfsGetFileSize64(handle), kMaxReadBytes);
    (void)volume.NtfsGetFileSize(handle);
    std::vector<std::byte> buffer(65536);
    for (uint64_t done = 0; done < size;) {
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(size - done, buffer.size()));
        if (volume.NtfsReadFile(handle, buffer.data(), n) != 0)
            break;
        done += n;
    }
    (void)volume.NtfsCloseFile(handle);
}

void walk(NTFS_VOLUME &volume, const std::string &path, int &steps)
{
    if (++steps > kMaxSteps)
        return;
    DIRLIST list;
    (void)volume.NtfsListDirectory(list, path.empty() ? "\\" : path.c_str(), 1);
    for (int i = 0; i < std::min(list.GetCount(), kMaxEntries); ++i) {
        const DirListEntry *entry = list.Entry(i);
        const std::string child = path + "\\" + entry->name;
        if ((entry->attributes & kAttrDirectory) != 0) {
            walk(volume, child, steps);
        } else if (++steps <= kMaxSteps) {
            readFile(volume, child);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const size_t sectors = size / kSector;
    InputSource source(data, sectors);
    setCurrentSectorSource(&source);
    {
        PARTITION_INFO info;
        info.openFlags = kPartitionFlagsForRestore;
        info.sectorCount = static_cast<uint32_t>(std::min<size_t>(sectors, UINT32_MAX));
        info.fileSystemCode = kFileSystemNtfs;
        NTFS_VOLUME volume(&info);
        if (volume.Mount() == 0) {
            int steps = 0;
            walk(volume, "", steps);
            readFile(volume, "\\$Boot");
            readFile(volume, "\\$MFT");
            DIRLIST dos;
            (void)volume.NtfsListDirectory(dos, "\\", 2);
        }
    }
    setCurrentSectorSource(nullptr);
    return 0;
}

namespace imbrex::fuzz {

namespace {

std::vector<uint8_t> toBytes(const std::vector<std::byte> &image)
{
    std::vector<uint8_t> out(image.size());
    std::memcpy(out.data(), image.data(), image.size());
    return out;
}

} // namespace

std::vector<std::vector<uint8_t>> builtInSeeds()
{
    using test::NtfsVolumeBuilder;
    // Small files resident and not, a subdirectory, a named stream.
    NtfsVolumeBuilder small(16);
    const uint32_t dir = small.addDirectory(5, u"Folder");
    small.addFile(dir, u"inner.txt", seedText("inside"));
    const uint32_t ads = small.addFile(5, u"ads.txt", seedText("unnamed"));
    small.addResident(ads, 0x80, u"s", seedText("named"));
    small.addFile(5, u"data.bin", std::vector<std::byte>(5000, std::byte{0x5A}), false);

    // A root index in blocks, a sparse file and a file whose data is found through an attribute list.
    NtfsVolumeBuilder blocks(20);
    for (int i = 0; i < 10; ++i)
        blocks.addFile(5, u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i)), seedText("x"));
    blocks.useIndexAllocation(5, 3);
    const uint32_t sparse = blocks.newRecord(false);
    const uint32_t c = blocks.allocate(1);
    blocks.addNonResident(sparse, 0x80, u"", {{c, 1}, {-1, 3}}, 4 * 4096);
    blocks.addEntry(5, u"sparse.bin", sparse, false, 4 * 4096, 1, NtfsVolumeBuilder::kDefaultTime);
    const uint32_t base = blocks.newRecord(false);
    const uint32_t extension = blocks.newRecord(false);
    blocks.addNonResident(extension, 0x80, u"", {{c, 1}}, 100);
    blocks.mutateRecord(extension,
                        [base](std::span<std::byte> r) { storeLe64(r, 32, base | (uint64_t{1} << 48)); });
    std::vector<std::byte> list(32);
    storeLe32(list, 0, 0x80);
    storeLe16(list, 4, 32);
    list[7] = std::byte{26};
    storeLe64(list, 16, extension | (uint64_t{1} << 48));
    blocks.addResident(base, 0x20, u"", list);
    blocks.addEntry(5, u"listed.bin", base, false, 100, 1, NtfsVolumeBuilder::kDefaultTime);

    return {toBytes(small.build()), toBytes(blocks.build()), toBytes(seedNtfsLoops()), {}};
}

} // namespace imbrex::fuzz
