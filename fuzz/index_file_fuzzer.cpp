// Fuzzes reading an image index file: the bytes become a .zbx file that is read for partition 1 of a small
// compressed image made once per process, and when the read is accepted, sectors are read through the
// loaded checkpoints from the first, a middle and the last stored block.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "imgstore/zbimgstr.h"
#include "platform/Process.h"
#include "restore/PARTITION_ACCESS.h"

namespace {

constexpr uint32_t kBlocks = 96;
constexpr uint32_t kSectorsPerBlock = 8;

std::string scratch(const char *suffix)
{
    std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                    ? std::filesystem::path("/dev/shm")
                                    : std::filesystem::temp_directory_path();
    return (dir / ("imbrex-index-fuzz-" + std::to_string(imbrex::platform::processId()) + suffix)).string();
}

void writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

// A compressed partition with a few blocks left out, in an image that lives as long as the process.
ImageStore *image()
{
    static ImageStorePtr store = [] {
        const std::string path = scratch(".zbi");
        uint32_t error = 0;
        {
            ImageStorePtr writer(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
            if (!writer)
                return ImageStorePtr();
            std::vector<uint8_t> bitmap(kBlocks / 8, 0xFF);
            bitmap[3] = 0x0F;
            uint32_t used = kBlocks - 4;
            (void)writer->AddPartition(6, 1, kBlocks * kSectorsPerBlock, 'C', 208, 0);
            (void)writer->WriteBlockBitmap(bitmap.data(), static_cast<uint32_t>(bitmap.size()),
                                           kSectorsPerBlock, kBlocks, used, 208);
            std::vector<uint8_t> data(size_t{used} * kSectorsPerBlock * 512);
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<uint8_t>((i / 512) ^ (i * 13));
            uint32_t written = 0;
            (void)writer->WriteData(data.data(), static_cast<uint32_t>(data.size()), &written);
            (void)writer->ReleasePartition(1);
        }
        ImageStorePtr reader(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
        std::remove(path.c_str());
        if (reader)
            (void)reader->SelectPartition(1, 0);
        return reader;
    }();
    return store.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImageStore *store = image();
    if (!store)
        return 0;
    const std::string path = scratch(".zbx");
    writeFile(path, data, size);
    imbrex::restore::PARTITION_ACCESS access;
    if (access.OpenSectors(store, "") == 0 && access.ReadIndexFile(path) == 0) {
        std::vector<uint8_t> buffer(8 * 512);
        for (uint32_t block : {0u, kBlocks / 2, kBlocks - 1})
            (void)access.ReadSectors(block * kSectorsPerBlock, buffer.data(), 8);
        (void)access.CheckIndexFile(path);
    }
    std::remove(path.c_str());
    return 0;
}

namespace imbrex::fuzz {

// A complete index file for the partition, and one holding only a header and an empty pointer table.
std::vector<std::vector<uint8_t>> builtInSeeds()
{
    ImageStore *store = image();
    if (!store)
        return {};
    const std::string path = scratch(".seed.zbx");
    std::remove(path.c_str());
    restore::PARTITION_ACCESS access;
    if (access.OpenSectors(store, "") != 0 || access.WriteIndexFile(path) != 0)
        return {};
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    std::vector<uint8_t> empty(
        bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(bytes.size(), 20)));
    if (empty.size() == 20)
        empty[16] = empty[17] = empty[18] = empty[19] = 0xFF;
    return {bytes, empty};
}

} // namespace imbrex::fuzz
