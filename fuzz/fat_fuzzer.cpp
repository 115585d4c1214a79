// Fuzzes the FAT reader. The input is the partition: mounted as a FAT volume through an in-memory sector
// source, its root and the directories below it are listed (a few levels deep), and every file found is
// opened by path and by its listed entry and read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "engine/DIRLIST.h"
#include "engine/FAT_VOLUME.h"
#include "engine/SectorSource.h"
#include "tests/engine/FatImageBuilder.h"

using namespace imbrex::engine;

namespace {

constexpr uint32_t kSector = 512;
constexpr int kMaxDepth = 4;
constexpr int kMaxEntriesPerDirectory = 64;
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

void walk(FAT_VOLUME &volume, const std::string &path, FAT_FILE *directory, int depth,
          std::vector<uint8_t> &buffer)
{
    DIRLIST list;
    std::unique_ptr<FAT_FILE> opened;
    (void)volume.ListDirectory(list, path.c_str(), directory, &opened, 1);
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
            if (depth < kMaxDepth) {
                walk(volume, "", file.get(), depth + 1, buffer);
                walk(volume, child, nullptr, depth + 1, buffer);
            }
            continue;
        }
        readFile(volume, *file, buffer);
        std::unique_ptr<FAT_FILE> byPath;
        if (volume.OpenPath(child.c_str(), byPath) == 0)
            readFile(volume, *byPath, buffer);
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
            std::vector<uint8_t> buffer;
            walk(volume, "\\", nullptr, 0, buffer);
        }
    }
    setCurrentSectorSource(nullptr);
    return 0;
}

namespace imbrex::fuzz {

std::vector<std::vector<uint8_t>> builtInSeeds()
{
    using imbrex::test::FatImageBuilder;
    FatImageBuilder::Geometry g;
    g.totalSectors = 96;
    g.sectorsPerFat = 1;
    g.rootEntries = 16;
    FatImageBuilder b(g);
    std::vector<uint8_t> text(700);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<uint8_t>('a' + i % 26);
    b.addFile(0, "README  TXT", text);
    b.addFile(0, "EMPTY   BIN", {});
    const uint32_t docs = b.addDirectory(0, "DOCS       ", u"Documents");
    b.addFile(docs, "LONGNA~1TXT", std::vector<uint8_t>(1100, 0x5A), u"A long name.txt");
    const uint32_t deeper = b.addDirectory(docs, "DEEPER     ");
    b.addFile(deeper, "LEAF    BIN", std::vector<uint8_t>(10, 1));
    return {b.image()};
}

} // namespace imbrex::fuzz
