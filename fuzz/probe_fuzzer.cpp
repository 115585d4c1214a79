// Fuzzes the volume probe and the choice of used blocks. Input layout: the boot sector (512 bytes,
// zero-padded when shorter), then optionally the partition size (u64, little-endian; 1 TiB when absent), then
// optionally an NTFS file record for the label reader. A partition of at most 8 MiB is also read as a volume
// made of the whole input (zeros beyond it), for the blocks its file system uses.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <string_view>

#include "FuzzTarget.h"
#include "capture/UsedBlocks.h"
#include "capture/VolumeProbe.h"
#include "common/ByteOrder.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"

using namespace imbrex;
using namespace imbrex::capture;

namespace {

constexpr size_t kSizeFieldBytes = 8;
constexpr uint64_t kDefaultVolumeBytes = uint64_t{1} << 40;
constexpr uint64_t kMaxScannedVolumeBytes = 8u << 20;

// A recognised volume must fit in the partition and describe a consistent layout; anything else is a bug.
void checkInvariants(const VolumeProbe &probe, uint64_t volumeBytes, uint64_t sectorCount)
{
    if (probe.kind == FileSystemKind::Unknown)
        return;
    const uint64_t totalSectors =
        probe.kind == FileSystemKind::Ntfs ? probe.ntfs.totalSectors : probe.fat.totalSectors;
    if (probe.bytesPerSector < 512 || probe.sectorsPerCluster == 0 || totalSectors == 0 ||
        totalSectors > volumeBytes / probe.bytesPerSector)
        std::abort();
    if (probe.kind != FileSystemKind::Ntfs &&
        (probe.fat.clusterCount == 0 || probe.fat.firstDataSector >= probe.fat.totalSectors))
        std::abort();
    const uint32_t spb = chooseSectorsPerBlock(probe, sectorCount);
    if (spb == 0 || (spb & (spb - 1)) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto input = std::as_bytes(std::span(data, size));
    std::vector<std::byte> sector(kBootSectorBytes);
    std::copy_n(input.begin(), std::min(size, kBootSectorBytes), sector.begin());

    uint64_t volumeBytes = kDefaultVolumeBytes;
    std::span<const std::byte> rest;
    if (size >= kBootSectorBytes + kSizeFieldBytes) {
        volumeBytes = loadLe64(input, kBootSectorBytes);
        rest = input.subspan(kBootSectorBytes + kSizeFieldBytes);
    }

    const VolumeProbe probe = probeVolume(sector, volumeBytes);
    checkInvariants(probe, volumeBytes, volumeBytes / 512);
    (void)ntfsFileRecordOffset(probe, 3);
    (void)ntfsVolumeLabel(rest);
    if (volumeBytes <= kMaxScannedVolumeBytes) {
        const uint64_t blockBytes = uint64_t{chooseSectorsPerBlock(probe, volumeBytes / 512)} * 512;
        const auto blockCount = static_cast<uint32_t>((volumeBytes + blockBytes - 1) / blockBytes);
        const auto bitmap = usedBlockBitmap(
            probe, volumeBytes, blockBytes, blockCount, [&](uint64_t at, std::span<std::byte> out) {
                std::fill(out.begin(), out.end(), std::byte{0});
                if (at < input.size())
                    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at),
                                std::min<uint64_t>(out.size(), input.size() - at), out.begin());
                return 0;
            });
        if (bitmap.size() != (uint64_t{blockCount} + 7) / 8)
            std::abort();
    }
    // Inputs shorter than a sector must be refused, not read past.
    (void)probeVolume(input.first(std::min(size, kBootSectorBytes - 1)), volumeBytes);
    return 0;
}

namespace imbrex::fuzz {

namespace {

void put(std::vector<uint8_t> &b, size_t off, uint64_t v, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

void putText(std::vector<uint8_t> &b, size_t off, std::string_view text)
{
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
}

std::vector<uint8_t> bootSector()
{
    std::vector<uint8_t> b(kBootSectorBytes + kSizeFieldBytes);
    put(b, 0, 0x903CEB, 3);
    put(b, 11, 512, 2);
    put(b, 21, 0xF8, 1);
    put(b, 510, 0xAA55, 2);
    put(b, kBootSectorBytes, 64ull << 20, 8);
    return b;
}

} // namespace

std::vector<std::vector<uint8_t>> builtInSeeds()
{
    std::vector<uint8_t> fat16 = bootSector();
    put(fat16, 13, 4, 1);
    put(fat16, 14, 4, 2);
    put(fat16, 16, 2, 1);
    put(fat16, 17, 512, 2);
    put(fat16, 22, 128, 2);
    put(fat16, 32, 131072, 4);
    put(fat16, 38, 0x29, 1);
    putText(fat16, 43, "FUZZ       ");

    std::vector<uint8_t> fat32 = bootSector();
    put(fat32, 13, 1, 1);
    put(fat32, 14, 32, 2);
    put(fat32, 16, 2, 1);
    put(fat32, 32, 131072, 4);
    put(fat32, 36, 1024, 4);
    put(fat32, 44, 2, 4);
    put(fat32, 66, 0x29, 1);
    putText(fat32, 71, "FUZZ       ");

    std::vector<uint8_t> ntfs = bootSector();
    putText(ntfs, 3, "NTFS    ");
    put(ntfs, 13, 8, 1);
    put(ntfs, 0x28, 131071, 8);
    put(ntfs, 0x30, 4, 8);
    put(ntfs, 0x38, 8191, 8);
    put(ntfs, 0x40, 0xF6, 1);
    put(ntfs, 0x44, 1, 1);
    // $Volume file record with the label "Fuzz" and update sequence 1.
    std::vector<uint8_t> record(1024);
    putText(record, 0, "FILE");
    put(record, 4, 0x30, 2);
    put(record, 6, 3, 2);
    put(record, 0x30, 1, 2);
    put(record, 0x14, 0x38, 2);
    put(record, 0x16, 1, 2);
    put(record, 0x28, 1, 2); // next attribute instance
    put(record, 0x38, 0x60, 4);
    put(record, 0x3C, 0x20, 4);
    put(record, 0x48, 8, 4);
    put(record, 0x4C, 0x18, 2);
    putText(record, 0x50, std::string_view("F\0u\0z\0z\0", 8));
    put(record, 0x58, 0xFFFFFFFF, 4);
    put(record, 0x18, 0x60, 4);
    put(record, 510, 1, 2);
    put(record, 1022, 1, 2);
    ntfs.insert(ntfs.end(), record.begin(), record.end());

    // Whole small volumes, their size written over the second sector, which neither uses.
    test::FatImageBuilder::Geometry g;
    g.reservedSectors = 2;
    g.totalSectors = 256;
    test::FatImageBuilder fat(g);
    fat.addFile(0, "DATA    BIN", std::vector<uint8_t>(3000, 0x41));
    std::vector<uint8_t> fatVolume = fat.image();
    put(fatVolume, kBootSectorBytes, fatVolume.size(), 8);

    test::NtfsVolumeBuilder ntfsBuilder;
    ntfsBuilder.addFile(test::NtfsVolumeBuilder::kRoot, u"data.bin", std::vector<std::byte>(9000), false);
    const std::vector<std::byte> built = ntfsBuilder.build();
    std::vector<uint8_t> ntfsVolume(built.size());
    std::transform(built.begin(), built.end(), ntfsVolume.begin(),
                   [](std::byte b) { return std::to_integer<uint8_t>(b); });
    put(ntfsVolume, kBootSectorBytes, ntfsVolume.size(), 8);

    return {fat16, fat32, ntfs, fatVolume, ntfsVolume, {}};
}

} // namespace imbrex::fuzz
