// Fuzzes the FAT reader. The input is the partition: mounted as a FAT volume through an in-memory sector
// source, the whole tree is walked as extraction walks it (each directory listed through its entry, kept
// from looping by the DirectoryTrail that extraction's file source keeps) and every directory is also
// listed by its 8.3 path; every file found is opened by path and by its listed entry and read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "SeedVolumes.h"
#include "engine/DIRLIST.h"
#include "engine/DirectoryTrail.h"
#include "engine/FAT_VOLUME.h"
#include "engine/SectorSource.h"

using namespace imbrex::engine;

namespace {

constexpr uint32_t kSector = 512;
constexpr int kMaxEntriesPerDirectory = 64;
// Directories that share their clusters without a loop (a folder named from many places) make a tree that
// grows with every level; this bounds the listings and file reads of one input without bounding the depth.
constexpr int kMaxSteps = 4096;
constexpr uint32_t kMaxReadBytes = 1 << 20;

class InputSource : public SectorSource
{
public:
    InputSource(const uint8_t *data, size_t size) : m_data(data, data + size) {}
    int ReadSectors(uint32_t sector, void *buffer, uint32_t count) override
    {
        const uint64_t offset = uint64_t{sector} * kSector;
        const uint64_t length = uint64_t{count} * kSector;
        if (offset > m_data.size() || length > m_data.size() - offset)
            return 56;
        std::memcpy(buffer, m_data.data() + offset, length);
        return 0;
    }
    uint32_t sectors() const { return static_cast<uint32_t>(m_data.size() / kSector); }

private:
    std::vector<uint8_t> m_data;
};

void readFile(FAT_VOLUME &volume, FAT_FILE &file, std::vector<uint8_t> &buffer)
{
    const uint32_t size = std::min(file.size(), kMaxReadBytes);
    buffer.resize(size + 1);
    // In two pieces, then backwards, then one byte too many.
    const uint32_t half = size / 2;
    if (volume.ReadFile(file, buffer.data(), half) == 0)
        (void)volume.ReadFile(file, buffer.data() + half, size - half);
    if (volume.Seek(file, half) == 0)
        (void)volume.ReadFile(file, buffer.data(), 1);
    (void)volume.Seek(file, 0);
    (void)volume.ReadFile(file, buffer.data(), size + 1);
}

struct Walk
{
    FAT_VOLUME &volume;
    DirectoryTrail trail;
    std::vector<uint8_t> buffer;
    int steps = 0;
};

// Lists the directory at path (8.3 components) through its entry, or the root when directory is nullptr.
void walk(Walk &w, const std::string &path, FAT_FILE *directory)
{
    FAT_VOLUME &volume = w.volume;
    if (++w.steps > kMaxSteps)
        return;
    DIRLIST list;
    if (directory != nullptr) {
        // By path too, which goes through the reader's own guard; its listing is not walked further.
        DIRLIST byPath;
        std::unique_ptr<FAT_FILE> opened;
        (void)volume.ListDirectory(byPath, path.c_str(), nullptr, &opened, 1);
    }
    (void)volume.ListDirectory(list, directory != nullptr ? "" : "\\", directory, nullptr, 1);
    const int count = std::min(list.GetCount(), kMaxEntriesPerDirectory);
    for (int i = 0; i < count; ++i) {
        const DirListEntry &e = *list.Entry(i);
        if (e.name == "." || e.name == "..")
            continue;
        std::string shortName(reinterpret_cast<const char *>(e.rawEntry.data()), 11);
        const std::string child =
            (path == "\\" ? "" : path) + "\\" + shortName.substr(0, shortName.find(' '));
        std::unique_ptr<FAT_FILE> file;
        if (volume.MakeFile(e.rawEntry.data(), file) != 0)
            continue;
        if ((e.attributes & kAttrDirectory) != 0) {
            if (w.trail.enter(child, volume.DirectoryIdentity(e.rawEntry.data())) == 0)
                walk(w, child, file.get());
            continue;
        }
        if (++w.steps > kMaxSteps)
            return;
        readFile(volume, *file, w.buffer);
        std::unique_ptr<FAT_FILE> byPath;
        if (volume.OpenPath(child.c_str(), byPath) == 0)
            readFile(volume, *byPath, w.buffer);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputSource source(data, size);
    setCurrentSectorSource(&source);
    PARTITION_INFO info;
    info.openFlags = kPartitionFlagsForRestore;
    info.sectorCount = source.sectors();
    info.fileSystemCode = kFileSystemFat;
    {
        FAT_VOLUME volume(&info);
        if (volume.Mount() == 0) {
            Walk w{volume, DirectoryTrail(volume.DirectoryIdentity(nullptr)), {}, 0};
            walk(w, "\\", nullptr);
        }
    }
    setCurrentSectorSource(nullptr);
    return 0;
}

namespace imbrex::fuzz {

std::vector<std::vector<uint8_t>> builtInSeeds()
{
    return {seedFatVolume(false), seedFatVolume(true)};
}

} // namespace imbrex::fuzz
