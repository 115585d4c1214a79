// Fuzzes the whole way from an image file to restored files. The bytes become an image file; each of its
// first partitions is opened through the partition access, its root listed and its whole tree extracted into
// a fresh directory, as `zbitool extract IMAGE N \ -o DIR` does, with every question answered "yes, all".
//
// Bounds: the walk is bounded only by the readers' and the file source's own guards against directory loops;
// what a tree that names the same folders from many places could still make is capped by a budget of bytes
// read and directories listed, after which the source reports a cancel. libFuzzer runs it with its memory
// and time limits (-rss_limit_mb, -timeout); CTest gives the replay program a time limit.
//
// Every run also checks that nothing was written beside the target directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "SeedVolumes.h"
#include "common/ResultCodes.h"
#include "engine/PARTITION_INFO.h"
#include "imgstore/zbimgstr.h"
#include "platform/Process.h"
#include "restore/FileExtraction.h"
#include "restore/PARTITION_ACCESS.h"
#include "restore/PartitionFileSource.h"

using namespace imbrex;

namespace {

constexpr uint32_t kMaxPartitions = 4;
constexpr uint64_t kMaxBytesRead = 32u << 20;
constexpr int kMaxListings = 2048;

namespace fs = std::filesystem;

// A directory of this process's own for the image and the restored files; in memory where the system offers
// it.
const fs::path &scratchDirectory()
{
    static const fs::path path = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        return base / ("imbrex-extract-fuzz-" + std::to_string(imbrex::platform::processId()));
    }();
    return path;
}

// The partition's files, with reads and listings counted against the budget.
class BudgetSource final : public restore::FileSource
{
public:
    explicit BudgetSource(restore::FileSource &inner) : m_inner(inner) {}

    bool isFatVolume() override { return m_inner.isFatVolume(); }
    int openEntry(const std::array<uint8_t, 32> &rawEntry) override { return m_inner.openEntry(rawEntry); }
    int openFile(const std::string &path, int *kind) override { return m_inner.openFile(path, kind); }
    int openRecord(uint32_t recordNumber, int *kind) override
    {
        return m_inner.openRecord(recordNumber, kind);
    }
    uint64_t dataStart(const restore::RestoreItem &item) override { return m_inner.dataStart(item); }
    uint64_t fileSize() override { return m_inner.fileSize(); }
    int readFile(void *buffer, uint32_t count) override
    {
        m_bytes += count;
        return m_bytes > kMaxBytesRead ? rc::kCancelled : m_inner.readFile(buffer, count);
    }
    int closeFile() override { return m_inner.closeFile(); }
    int listDirectory(const std::string &path, const std::array<uint8_t, 32> *rawEntry,
                      std::vector<engine::DirListEntry> *entries) override
    {
        if (++m_listings > kMaxListings) {
            entries->clear();
            return rc::kCancelled;
        }
        return m_inner.listDirectory(path, rawEntry, entries);
    }
    int resetStream() override { return m_inner.resetStream(); }

private:
    restore::FileSource &m_inner;
    uint64_t m_bytes = 0;
    int m_listings = 0;
};

class YesToAll final : public restore::RestoreQuestions
{
public:
    Answer replaceFile(const std::string &, bool) override { return Answer::All; }
    Answer createDirectory(const std::string &, bool) override { return Answer::All; }
    Answer includeSubdirectories() override { return Answer::Yes; }
    bool error(const std::string &, bool) override { return true; }
    void information(const std::string &) override {}
    void currentFile(const std::string &) override {}
    bool filePercent(int) override { return true; }
    void firstStreamOnly(const std::string &) override {}
};

void extractPartition(ImageStore &store, uint32_t number, const fs::path &target)
{
    if (store.SelectPartition(number, 0) != 0)
        return;
    restore::PARTITION_ACCESS access;
    if (access.OpenSectors(&store, "") != 0 || access.MountVolume() != 0)
        return;
    restore::PartitionFileSource partitionSource(access);
    BudgetSource source(partitionSource);
    std::vector<engine::DirListEntry> root;
    (void)source.listDirectory("\\", nullptr, &root);
    std::vector<restore::RestoreItem> selected;
    const bool fat = source.isFatVolume();
    for (const engine::DirListEntry &entry : root) {
        if (entry.name == "." || entry.name == "..")
            continue;
        restore::RestoreItem item{entry.name, (entry.attributes & engine::kAttrDirectory) != 0, std::nullopt};
        if (fat)
            item.rawEntry = entry.rawEntry;
        selected.push_back(std::move(item));
    }
    if (selected.empty())
        return;
    YesToAll questions;
    restore::FileExtraction extraction(source, questions);
    const std::string name = selected.size() == 1 ? selected[0].name : std::string();
    (void)extraction.run(name, "\\", target.string(), selected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fs::path &scratch = scratchDirectory();
    std::error_code ec;
    fs::remove_all(scratch, ec);
    fs::create_directories(scratch / "out", ec);
    const fs::path image = scratch / "input.zbi";
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    uint32_t error = 0;
    if (ImageStorePtr store{ImageStoreOpenReadOnly(image.string().c_str(), nullptr, &error)}) {
        const uint32_t count = store->GetPartitionCount();
        for (uint32_t n = 1; n <= count && n <= kMaxPartitions; ++n)
            extractPartition(*store, n, scratch / "out" / std::to_string(n));
    }
    // Restored names are made safe: nothing may appear beside the image and the target directory.
    for (const fs::directory_entry &entry : fs::directory_iterator(scratch, ec)) {
        const fs::path name = entry.path().filename();
        if (name != "input.zbi" && name != "out") {
            std::fprintf(stderr, "extraction wrote outside its target: %s\n", entry.path().c_str());
            std::abort();
        }
    }
    fs::remove_all(scratch, ec);
    return 0;
}

namespace imbrex::fuzz {

namespace {

constexpr uint32_t kSectorsPerBlock = 8;

void addVolume(ImageStore &store, const std::vector<uint8_t> &volume, uint32_t fileSystem, char letter,
               uint32_t compression)
{
    const uint32_t sectors = static_cast<uint32_t>(volume.size() / 512);
    const uint32_t blocks = sectors / kSectorsPerBlock;
    std::vector<uint8_t> bitmap((blocks + 7) / 8, 0xFF);
    (void)store.AddPartition(fileSystem == engine::kFileSystemNtfs ? 0x07 : 0x06, fileSystem, sectors, letter,
                             compression, 0);
    (void)store.SetNewPartitionName("seed");
    (void)store.WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()), kSectorsPerBlock,
                                 blocks, blocks, compression);
    const size_t bytes = size_t{blocks} * kSectorsPerBlock * 512;
    for (size_t done = 0; done < bytes;) {
        uint32_t written = 0;
        if (store.WriteData(volume.data() + done, static_cast<uint32_t>(bytes - done), &written) != 0 ||
            written == 0)
            break;
        done += written;
    }
    (void)store.ReleasePartition(1);
}

} // namespace

// One image with a FAT partition stored plain, the same compressed, and an NTFS partition; every volume holds
// folders that lead back into themselves.
std::vector<std::vector<uint8_t>> builtInSeeds()
{
    const fs::path path = scratchDirectory().string() + "-seed.zbi";
    uint32_t error = 0;
    {
        ImageStorePtr store(ImageStoreCreateNew(path.string().c_str(), kNoSplit, 0, 0, nullptr, &error));
        if (!store)
            return {};
        const std::vector<uint8_t> fat = seedFatVolume(true);
        addVolume(*store, fat, engine::kFileSystemFat, 'C', 0);
        addVolume(*store, fat, engine::kFileSystemFat, 'D', 301);
        const std::vector<std::byte> ntfs = seedNtfsLoops();
        std::vector<uint8_t> ntfsBytes(ntfs.size());
        for (size_t i = 0; i < ntfs.size(); ++i)
            ntfsBytes[i] = std::to_integer<uint8_t>(ntfs[i]);
        addVolume(*store, ntfsBytes, engine::kFileSystemNtfs, 'E', 0);
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::error_code ec;
    fs::remove(path, ec);
    return {bytes};
}

} // namespace imbrex::fuzz
