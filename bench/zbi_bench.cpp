// Measures the image store on an existing image: sequential decoded reading of a partition, and a stored-form
// copy of it into a new image (what a copy that keeps compression and password does). Prints MB/s of
// partition data and the peak resident memory.
//
// Usage: zbi_bench IMAGE N [TARGET]
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "imgstore/zbimgstr.h"

namespace {

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: zbi_bench IMAGE N [TARGET]\n");
        return 2;
    }
    uint32_t number = static_cast<uint32_t>(std::stoul(argv[2]));
    uint32_t error = 0;
    ImageStorePtr source(ImageStoreOpenReadOnly(argv[1], nullptr, &error));
    if (!source || source->SelectPartition(number, 0) != 0) {
        std::fprintf(stderr, "cannot open %s partition %u (error %u)\n", argv[1], number, error);
        return 1;
    }
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t total = 0;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        uint32_t got = 0;
        if (int e = source->ReadData(buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) {
            std::fprintf(stderr, "read error %d\n", e);
            return 1;
        }
        if (got == 0)
            break;
        total += got;
    }
    double t = seconds(start);
    std::printf("decoded read: %.1f MiB in %.3f s = %.1f MiB/s\n", double(total) / 1048576, t,
                double(total) / 1048576 / t);

    if (argc > 3) {
        uint32_t type = 0, fs = 0, sectors = 0, compression = 0, blocks = 0, used = 0, spb = 0, password = 0;
        (void)source->GetPartitionTypeId(&type);
        (void)source->GetFileSystemType(&fs);
        (void)source->GetSectorCount(&sectors);
        (void)source->GetCompression(&compression);
        (void)source->GetBlockCount(&blocks);
        (void)source->GetUsedBlockCount(&used);
        (void)source->GetSectorsPerBlock(&spb);
        (void)source->GetPartitionPassword(&password);
        start = std::chrono::steady_clock::now();
        ImageStorePtr target(ImageStoreCreateNew(argv[3], kNoSplit, 0, 0, nullptr, &error));
        uint32_t bytes = 0, got = 0, written = 0;
        uint64_t stored = 0;
        if (!target || target->AddPartition(type, fs, sectors, 'C', compression, 0) != 0 ||
            target->SetPartitionPassword(password) != 0 ||
            source->ReadBlockBitmapRaw(buffer.data(), static_cast<uint32_t>(buffer.size()), &bytes,
                                       &compression) != 0 ||
            target->WriteBlockBitmapRaw(buffer.data(), bytes, spb, blocks, used, compression) != 0) {
            std::fprintf(stderr, "cannot start the copy\n");
            return 1;
        }
        for (;;) {
            if (source->ReadRawData(buffer.data(), static_cast<uint32_t>(buffer.size()), &got,
                                    &compression) != 0 ||
                (got && target->WriteRawData(buffer.data(), got, &written, compression) != 0)) {
                std::fprintf(stderr, "copy error\n");
                return 1;
            }
            if (got == 0)
                break;
            stored += got;
        }
        if (target->ReleasePartition(1) != 0 || target->Close() != 0) {
            std::fprintf(stderr, "cannot finish the copy\n");
            return 1;
        }
        t = seconds(start);
        std::printf("stored-form copy: %.1f MiB stored in %.3f s = %.1f MiB/s\n", double(stored) / 1048576, t,
                    double(stored) / 1048576 / t);
    }
    std::printf("peak memory: %ld KiB\n", peakKiB());
    return 0;
}
