// Fuzzes opening and reading an image file: the bytes become a file, which is opened read-only and read
// through every operation a reader uses (attributes, bitmap, stored and decoded data), checked whole by the
// verifier, then opened for writing and changed once, so the allocator meets whatever the catalog claims.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "common/Progress.h"
#include "imgstore/ImageVerifier.h"
#include "imgstore/Keyring.h"
#include "imgstore/zbimgstr.h"
#include "platform/Process.h"

namespace {

// In memory where the system offers it: the writable open syncs what it commits.
std::string scratchPath()
{
    static const std::string path = [] {
        std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                        ? std::filesystem::path("/dev/shm")
                                        : std::filesystem::temp_directory_path();
        return (dir / ("imbrex-fuzz-" + std::to_string(imbrex::platform::processId()) + ".zbi")).string();
    }();
    return path;
}

void writeFile(const std::string &path, const uint8_t *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

void readEverything(ImageStore &store)
{
    char text[400];
    (void)store.GetImageName(text, 100);
    (void)store.GetImageComment(text, sizeof text);
    std::vector<uint8_t> buffer(131072);
    for (uint32_t n = 1; n <= store.GetPartitionCount() && n <= 8; ++n) {
        if (store.SelectPartition(n, 0) != 0)
            continue;
        uint32_t value = 0, spb = 0, got = 0, compression = 0;
        (void)store.GetPartitionName(text, 100);
        (void)store.GetBlockCount(&value);
        (void)store.ReadBlockBitmap(buffer.data(), static_cast<uint32_t>(buffer.size()), &spb, &got);
        (void)store.ReadBlockBitmapRaw(buffer.data(), static_cast<uint32_t>(buffer.size()), &got,
                                       &compression);
        for (int i = 0; i < 4; ++i)
            if (store.ReadRawData(buffer.data(), static_cast<uint32_t>(buffer.size()), &got, &compression) !=
                    0 ||
                got == 0)
                break;
        (void)store.SeekData(65536, 0);
        for (int i = 0; i < 4; ++i)
            if (store.ReadData(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) != 0 || got == 0)
                break;
        (void)store.ReleasePartition(1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = scratchPath();
    writeFile(path, data, size);
    uint32_t error = 0;
    if (ImageStorePtr store{ImageStoreOpenReadOnly(path.c_str(), nullptr, &error)})
        readEverything(*store);
    imbrex::zbi::ImageVerifier verifier;
    if (verifier.open(path, nullptr) == 0 && verifier.catalogReadable()) {
        imbrex::NoProgress progress;
        imbrex::zbi::PartitionCheck check;
        for (uint32_t n = 1; n <= verifier.catalog().partitions.size() && n <= 8; ++n)
            (void)verifier.verifyPartition(n, progress, &check);
    }
    if (ImageStorePtr store{ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, &error)}) {
        (void)store->SetImageName("fuzz");
        if (store->SelectPartition(1, 0) == 0)
            (void)store->DeleteCurrentPartition();
    }
    std::remove(path.c_str());
    return 0;
}

namespace imbrex::fuzz {

// A real image with partitions of every kind: plain with some blocks unstored, Low, High, the legacy stream,
// and a protected one (whose password is forgotten again, so the fuzzer meets its refusal without paying for
// key derivations).
std::vector<std::vector<uint8_t>> builtInSeeds()
{
    const std::string path = scratchPath() + ".seed";
    uint32_t error = 0;
    {
        ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        if (!store)
            return {};
        (void)store->SetImageName("seed");
        const uint32_t codes[] = {0, 301, 208, 4, 0};
        for (uint32_t p = 0; p < 5; ++p) {
            uint32_t sectors = 24 + 40 * p;
            uint32_t blocks = sectors / 8;
            uint8_t bitmap = p == 0 ? uint8_t{0x07} : static_cast<uint8_t>((1u << blocks) - 1);
            uint32_t used = p == 0 ? 3 : blocks;
            (void)store->AddPartition(6, 1, sectors, static_cast<char>('C' + p), codes[p], 0);
            (void)store->SetNewPartitionName("seed partition");
            if (p == 4)
                (void)store->SetPartitionPassword(ConvertPasswordString("fuzz seed"));
            (void)store->WriteBlockBitmap(&bitmap, 1, 8, blocks, used, codes[p]);
            std::vector<uint8_t> data(used * 4096);
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<uint8_t>((i / 7) * 3 + p);
            uint32_t written = 0;
            (void)store->WriteData(data.data(), static_cast<uint32_t>(data.size()), &written);
            (void)store->ReleasePartition(1);
        }
    }
    imbrex::zbi::forgetPasswordTexts();
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    return {bytes};
}

} // namespace imbrex::fuzz
