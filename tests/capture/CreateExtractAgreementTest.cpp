// What capturing a raw volume and restoring files from the image make of the same crafted volumes. Capture
// either reads the file system and keeps only the blocks it uses, or stores the volume whole; restore mounts
// the reader the image names over the stored blocks alone. Both must accept a volume or both refuse it, and
// when they accept, every block the reader needs must have been kept.
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/UsedBlocks.h"
#include "capture/VolumeProbe.h"
#include "common/ByteOrder.h"
#include "engine/SectorSource.h"
#include "engine/ntfs/NTFS_VOLUME.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/FatTestSupport.h"
#include "tests/engine/ntfs/NtfsVolumeBuilder.h"
#include "tests/support/MemorySectorSource.h"

using namespace imbrex;
using namespace imbrex::capture;
using imbrex::test::FatImageBuilder;
using imbrex::test::MemorySectorSource;
using imbrex::test::NtfsVolumeBuilder;

namespace {

using Bytes = std::vector<std::byte>;

constexpr uint32_t kSectorBytes = 512;

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    return out;
}

Bytes asBytes(const std::vector<uint8_t> &v)
{
    Bytes out(v.size());
    std::memcpy(out.data(), v.data(), v.size());
    return out;
}

// A FAT volume holding DATA.BIN (pattern(5000)), changed by `damage` once built.
Bytes fatVolume(FatImageBuilder::Geometry g, const std::function<void(FatImageBuilder &)> &damage = {})
{
    FatImageBuilder b(g);
    b.addFile(0, "DATA    BIN", pattern(5000));
    if (damage)
        damage(b);
    return asBytes(b.image());
}

FatImageBuilder::Geometry fatOfSectors(uint32_t sectorsPerFat)
{
    FatImageBuilder::Geometry g;
    g.sectorsPerFat = sectorsPerFat;
    g.fatBits = sectorsPerFat <= 12 ? 12 : 16;
    g.totalSectors = 2000;
    return g;
}

FatImageBuilder::Geometry fat32()
{
    return FatImageBuilder::fat32(8, 1000);
}

// An NTFS volume holding data.bin (pattern(20000), outside its record), with the word that closes the first
// sector of file record `damagedRecord` changed so that its update sequence no longer checks out.
Bytes ntfsVolume(int damagedRecord = -1)
{
    NtfsVolumeBuilder b;
    const auto data = pattern(20000);
    b.addFile(NtfsVolumeBuilder::kRoot, u"data.bin", asBytes(data), false);
    Bytes image = b.build();
    if (damagedRecord >= 0) {
        const size_t at = size_t{NtfsVolumeBuilder::kMftCluster} * NtfsVolumeBuilder::kClusterBytes +
                          size_t(damagedRecord) * NtfsVolumeBuilder::kRecordBytes + kSectorBytes - 2;
        image[at] ^= std::byte{0x5A};
    }
    return image;
}

// The volume as restore sees it: the blocks capture left out read as zeros.
Bytes storedBlocks(Bytes volume, const std::vector<uint8_t> &bitmap, uint64_t blockBytes)
{
    for (uint64_t offset = 0; offset < volume.size(); offset += blockBytes) {
        const uint64_t block = offset / blockBytes;
        if (((bitmap[block / 8] >> (block % 8)) & 1) == 0)
            std::fill_n(volume.begin() + static_cast<std::ptrdiff_t>(offset),
                        std::min<uint64_t>(blockBytes, volume.size() - offset), std::byte{0});
    }
    return volume;
}

// Mounts the reader for fileSystemType over volume and reads the test file; the first failing result.
int extract(uint32_t fileSystemType, Bytes volume, std::vector<uint8_t> &file)
{
    if (fileSystemType == kFileSystemTypeFat) {
        test::MountedFat fat{MemorySectorSource(std::move(volume))};
        const int r = fat.mount();
        return r != 0 ? r : fat.readAll("\\DATA.BIN", file);
    }
    MemorySectorSource source(std::move(volume));
    engine::PARTITION_INFO info = source.partitionInfo(engine::kFileSystemNtfs);
    engine::setCurrentSectorSource(&source);
    int r = -1;
    {
        engine::NTFS_VOLUME ntfs(&info);
        r = ntfs.Mount();
        engine::NtfsFileHandle *h = nullptr;
        if (r == 0)
            r = ntfs.NtfsOpenFile("\\data.bin", &h);
        if (r == 0) {
            file.assign(ntfs.NtfsGetFileSize64(h), 0);
            r = ntfs.NtfsReadFile(h, file.data(), static_cast<uint32_t>(file.size()));
            if (int closed = ntfs.NtfsCloseFile(h); r == 0)
                r = closed;
        }
    }
    engine::setCurrentSectorSource(nullptr);
    return r;
}

struct AgreementCase
{
    const char *name;
    std::function<Bytes()> volume;
    bool readable;
};

class CreateAndExtract : public ::testing::TestWithParam<AgreementCase>
{
};

TEST_P(CreateAndExtract, AcceptOrRefuseTogether)
{
    const Bytes volume = GetParam().volume();
    const VolumeProbe probe = probeVolume(volume, volume.size());
    const uint64_t sectors = (volume.size() + kSectorBytes - 1) / kSectorBytes;
    const uint64_t blockBytes = uint64_t{chooseSectorsPerBlock(probe, sectors)} * kSectorBytes;
    const auto blockCount = static_cast<uint32_t>((volume.size() + blockBytes - 1) / blockBytes);
    const auto selected = fileSystemBlockBitmap(
        probe, volume.size(), blockBytes, blockCount, [&](uint64_t at, std::span<std::byte> out) {
            std::fill(out.begin(), out.end(), std::byte{0});
            if (at < volume.size())
                std::copy_n(volume.begin() + static_cast<std::ptrdiff_t>(at),
                            std::min<uint64_t>(out.size(), volume.size() - at), out.begin());
            return 0;
        });
    const bool created = selected.has_value();

    // Restore mounts what the image names; a volume stored as unknown is mounted as what its boot sector
    // claims to be, to show that the reader would refuse it too.
    const bool isNtfs = std::memcmp(volume.data() + 3, "NTFS    ", 8) == 0;
    const uint32_t type = probe.fileSystemType != kFileSystemTypeUnknown ? probe.fileSystemType
                          : isNtfs                                       ? kFileSystemTypeNtfs
                                                                         : kFileSystemTypeFat;
    std::vector<uint8_t> file;
    const int extracted = extract(type, created ? storedBlocks(volume, *selected, blockBytes) : volume, file);

    EXPECT_EQ(created, GetParam().readable);
    EXPECT_EQ(extracted == 0, GetParam().readable) << "reader's result " << extracted;
    if (created && extracted == 0) {
        EXPECT_FALSE(file.empty());
        EXPECT_EQ(file, pattern(file.size()));
        bool leftOut = false;
        for (uint32_t b = 0; b < blockCount; ++b)
            leftOut = leftOut || ((*selected)[b / 8] >> (b % 8) & 1) == 0;
        EXPECT_TRUE(leftOut) << "every block was kept, so the stored volume proves nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, CreateAndExtract,
    ::testing::Values(
        // FAT12 and FAT16 told apart as the reader does: by the size of the FAT on 512-byte sectors, not by
        // the 1969 clusters, which would make both FAT12.
        AgreementCase{"Fat12TwelveFatSectors", [] { return fatVolume(fatOfSectors(12)); }, true},
        AgreementCase{"Fat16ThirteenFatSectors", [] { return fatVolume(fatOfSectors(13)); }, true},
        // Only the second FAT is kept up to date; the first claims every cluster free.
        AgreementCase{"Fat32SecondFatActive",
                      [] {
                          return fatVolume(fat32(), [](FatImageBuilder &b) {
                              b.put(40, 0x81, 2);
                              std::fill_n(b.image().begin() + 512 + 8, 8 * 512 - 8, uint8_t{0});
                          });
                      },
                      true},
        AgreementCase{"ZeroBytesPerSector",
                      [] { return fatVolume(fatOfSectors(12), [](FatImageBuilder &b) { b.put(11, 0, 2); }); },
                      false},
        AgreementCase{"Fat32VersionNotZero",
                      [] { return fatVolume(fat32(), [](FatImageBuilder &b) { b.put(42, 1, 2); }); }, false},
        AgreementCase{"JumpWithoutSignature",
                      [] {
                          return fatVolume(fatOfSectors(13), [](FatImageBuilder &b) {
                              b.put(0, 0x90EB, 2);
                              b.put(510, 0, 2);
                          });
                      },
                      false},
        AgreementCase{"LargerThanPartition",
                      [] {
                          Bytes v = fatVolume(fatOfSectors(13));
                          v.resize(v.size() - kSectorBytes);
                          return v;
                      },
                      false},
        AgreementCase{"Ntfs", [] { return ntfsVolume(); }, true},
        AgreementCase{"NtfsMftFixupDamaged", [] { return ntfsVolume(0); }, false},
        AgreementCase{"NtfsVolumeFixupDamaged", [] { return ntfsVolume(3); }, false},
        AgreementCase{"NtfsBitmapFixupDamaged", [] { return ntfsVolume(6); }, false}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace
