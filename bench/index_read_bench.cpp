// How much a saved image index saves: on a High (208) partition, the time to read its last sector after an
// open without an index (the whole stream is decoded and indexed) and with a saved one (a few chunks), the
// cost of random 4 KiB reads once the index is complete, and the peak memory of the reading process.
//
// Usage:
//   index_read_bench create IMAGE SIZE_MIB   make IMAGE with one High partition of SIZE_MIB MiB
//   index_read_bench measure IMAGE           measure (run in a process of its own, so that the peak memory
//                                            is that of reading only)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "imgstore/zbimgstr.h"
#include "restore/PARTITION_ACCESS.h"

namespace {

constexpr uint32_t kSectorsPerBlock = 8;
constexpr uint32_t kBlockBytes = kSectorsPerBlock * 512;

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Text-like data: compresses to roughly a third, as file system contents often do.
void fillText(std::vector<uint8_t> &data, std::mt19937 &rng)
{
    static const char *const kWords[] = {"partition ", "image ",   "index ", "sector ", "block ",  "restore ",
                                         "volume ",    "cluster ", "file ",  "data ",   "stream ", "\n"};
    size_t i = 0;
    while (i < data.size()) {
        const char *word = kWords[rng() % 12];
        for (const char *p = word; *p && i < data.size(); ++p)
            data[i++] = static_cast<uint8_t>(*p);
        if (rng() % 5 == 0 && i < data.size())
            data[i++] = static_cast<uint8_t>('0' + rng() % 10);
    }
}

int create(const std::string &path, uint32_t mib)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
    if (!store) {
        std::fprintf(stderr, "cannot create %s (error %u)\n", path.c_str(), error);
        return 1;
    }
    const uint32_t blocks = mib * (1048576 / kBlockBytes);
    std::vector<uint8_t> bitmap(blocks / 8, 0xFF);
    int e = store->AddPartition(6, 1, blocks * kSectorsPerBlock, 'C', 208, 0);
    if (e == 0)
        e = store->WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()), kSectorsPerBlock,
                                    blocks, blocks, 208);
    std::vector<uint8_t> piece(1048576);
    std::mt19937 rng(1);
    for (uint32_t m = 0; e == 0 && m < mib; ++m) {
        fillText(piece, rng);
        uint32_t written = 0;
        e = store->WriteData(piece.data(), static_cast<uint32_t>(piece.size()), &written);
    }
    if (e == 0)
        e = store->ReleasePartition(1);
    if (e == 0)
        e = store->Close();
    if (e != 0) {
        std::fprintf(stderr, "cannot write the partition (error %d)\n", e);
        return 1;
    }
    return 0;
}

int measure(const std::string &image)
{
    const std::string index = image + ".zbx";
    std::remove(index.c_str());
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(image.c_str(), nullptr, &error));
    if (!store || store->SelectPartition(1, 0) != 0) {
        std::fprintf(stderr, "cannot open %s (error %u)\n", image.c_str(), error);
        return 1;
    }
    const long baseKiB = peakKiB();
    imbrex::restore::PARTITION_ACCESS access;
    std::vector<uint8_t> sector(kBlockBytes);
    using Clock = std::chrono::steady_clock;

    auto t0 = Clock::now();
    int e = access.OpenSectors(store.get(), "");
    auto t1 = Clock::now();
    const uint32_t last = access.LastUsedBlock() * kSectorsPerBlock + kSectorsPerBlock - 1;
    if (e == 0)
        e = access.ReadSectors(last, sector.data(), 1);
    auto t2 = Clock::now();
    if (e == 0)
        e = access.WriteIndexFile(index);
    if (e != 0) {
        std::fprintf(stderr, "reading without an index failed (error %d)\n", e);
        return 1;
    }
    const double walkOpen = seconds(t1 - t0), walkRead = seconds(t2 - t1);
    const uint32_t entries = access.Index().lastIndexEntry + 1;
    const uint64_t indexBytes = uint64_t{access.Index().capacity()} * access.Index().entryBytes();

    access.Destroy();
    t0 = Clock::now();
    e = access.OpenSectors(store.get(), index);
    t1 = Clock::now();
    if (e == 0)
        e = access.ReadSectors(last, sector.data(), 1);
    t2 = Clock::now();
    if (e != 0 || access.Index().lastIndexEntry == 0) {
        std::fprintf(stderr, "reading with the saved index failed (error %d)\n", e);
        return 1;
    }
    const double savedOpen = seconds(t1 - t0), savedRead = seconds(t2 - t1);

    const uint32_t blocks = access.LastUsedBlock() + 1;
    std::mt19937 rng(7);
    const int reads = 4000;
    t0 = Clock::now();
    for (int i = 0; i < reads && e == 0; ++i)
        e = access.ReadSectors(static_cast<uint32_t>(rng() % blocks) * kSectorsPerBlock, sector.data(),
                               kSectorsPerBlock);
    t1 = Clock::now();
    if (e != 0) {
        std::fprintf(stderr, "random read failed (error %d)\n", e);
        return 1;
    }
    const double perRead = seconds(t1 - t0) / reads;
    const long peak = peakKiB();

    std::printf("partition: %.0f MiB, High (208), %u checkpoints (index %.1f KiB)\n",
                static_cast<double>(blocks) * kBlockBytes / 1048576.0, entries,
                static_cast<double>(indexBytes) / 1024.0);
    std::printf("last sector, no saved index: open %9.3f ms  read %9.3f ms\n", walkOpen * 1e3,
                walkRead * 1e3);
    std::printf("last sector, saved index:    open %9.3f ms  read %9.3f ms\n", savedOpen * 1e3,
                savedRead * 1e3);
    std::printf("ratio saved / full walk (open + read): %.2f %% (target < 5 %%)\n",
                100.0 * (savedOpen + savedRead) / (walkOpen + walkRead));
    std::printf("random 4 KiB read, warm index: %.1f us each (%d reads)\n", perRead * 1e6, reads);
    std::printf("peak memory: %.1f MiB, of which %.1f MiB after the image was opened (bound: 4 MiB index + "
                "4 x 128 KiB buffers = 4.5 MiB)\n",
                static_cast<double>(peak) / 1024.0, static_cast<double>(peak - baseKiB) / 1024.0);
    std::remove(index.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "create")
        return create(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 3 && std::string(argv[1]) == "measure")
        return measure(argv[2]);
    std::fprintf(stderr, "usage: index_read_bench create IMAGE SIZE_MIB | measure IMAGE\n");
    return 2;
}
