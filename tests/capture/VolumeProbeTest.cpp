#include "capture/VolumeProbe.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using namespace imbrex::capture;

namespace {

using Bytes = std::vector<std::byte>;

// Running the file-system tools.

// The tools live in /sbin or /usr/sbin, which an unprivileged PATH often lacks.
bool haveTool(const std::string &name)
{
    const std::string command = "PATH=\"$PATH:/sbin:/usr/sbin\" command -v " + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct CommandResult
{
    int status = -1;
    std::string output;
};

CommandResult run(const std::string &command)
{
    CommandResult result;
    const std::string full = "PATH=\"$PATH:/sbin:/usr/sbin\" " + command + " 2>&1";
    FILE *pipe = ::popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    result.status = ::pclose(pipe);
    return result;
}

Bytes readBytes(const std::string &path, uint64_t offset, size_t count)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes data(count);
    in.read(reinterpret_cast<char *>(data.data()), static_cast<std::streamsize>(count));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

VolumeProbe probeFile(const std::string &path, uint64_t volumeBytes)
{
    return probeVolume(readBytes(path, 0, kBootSectorBytes), volumeBytes);
}

VolumeProbe probeFile(const std::string &path)
{
    return probeFile(path, std::filesystem::file_size(path));
}

// "name: value" lines of a tool's report, keys trimmed.
std::map<std::string, std::string> keyValues(const std::string &text)
{
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const size_t keyStart = line.find_first_not_of(" \t");
        const size_t valueStart = line.find_first_not_of(' ', colon + 1);
        if (keyStart >= colon || valueStart == std::string::npos)
            continue;
        values[line.substr(keyStart, colon - keyStart)] = line.substr(valueStart);
    }
    return values;
}

// The cluster total from fsck.fat's summary line "name: F files, U/T clusters".
std::optional<uint64_t> fsckClusterCount(const std::string &image)
{
    const CommandResult fsck = run("fsck.fat -n " + image);
    const size_t slash = fsck.output.rfind('/');
    const size_t word = fsck.output.rfind(" clusters");
    if (fsck.status != 0 || slash == std::string::npos || word == std::string::npos || word < slash)
        return std::nullopt;
    return std::stoull(fsck.output.substr(slash + 1, word - slash - 1));
}

std::optional<std::string> ntfsLabelOfImage(const std::string &image, const VolumeProbe &probe)
{
    constexpr uint64_t kVolumeRecord = 3;
    const auto offset = ntfsFileRecordOffset(probe, kVolumeRecord);
    if (!offset)
        return std::nullopt;
    return ntfsVolumeLabel(readBytes(image, *offset, probe.ntfs.bytesPerFileRecord));
}

// Volumes made by mkfs.fat.

struct FatCase
{
    const char *name;
    int fatBits;
    uint64_t sizeKiB;
    uint32_t sectorBytes;
    uint32_t sectorsPerCluster;
    FileSystemKind kind;
    uint32_t partitionTypeId;
};

class MkfsFatProbe : public ::testing::TestWithParam<FatCase>
{
};

TEST_P(MkfsFatProbe, AgreesWithMkfsAndFsck)
{
    if (!haveTool("mkfs.fat") || !haveTool("fsck.fat"))
        GTEST_SKIP() << "dosfstools is not installed";
    const FatCase &c = GetParam();
    test::TempDir dir;
    const std::string image = dir.file("volume.img");
    ASSERT_EQ(run("truncate -s " + std::to_string(c.sizeKiB) + "K " + image).status, 0);
    const CommandResult mkfs =
        run("mkfs.fat --invariant -n IMBREX -F " + std::to_string(c.fatBits) + " -S " +
            std::to_string(c.sectorBytes) + " -s " + std::to_string(c.sectorsPerCluster) + " " + image);
    ASSERT_EQ(mkfs.status, 0) << mkfs.output;

    const uint64_t volumeBytes = c.sizeKiB * 1024;
    const VolumeProbe probe = probeFile(image, volumeBytes);
    EXPECT_EQ(probe.kind, c.kind);
    EXPECT_EQ(probe.fileSystemType, kFileSystemTypeFat);
    EXPECT_EQ(probe.partitionTypeId, c.partitionTypeId);
    EXPECT_EQ(probe.bytesPerSector, c.sectorBytes);
    EXPECT_EQ(probe.sectorsPerCluster, c.sectorsPerCluster);
    EXPECT_EQ(probe.label, "IMBREX");
    // mkfs.fat may leave a few sectors at the end unused.
    const uint64_t fsBytes = probe.fat.totalSectors * c.sectorBytes;
    EXPECT_LE(fsBytes, volumeBytes);
    EXPECT_GT(fsBytes, volumeBytes - 64 * 1024);
    EXPECT_EQ(fsckClusterCount(image), std::optional<uint64_t>(probe.fat.clusterCount));
    if (c.kind == FileSystemKind::Fat32) {
        EXPECT_EQ(probe.fat.rootCluster, 2u);
    }

    // The same volume claimed by a smaller partition is not trusted.
    EXPECT_EQ(probeFile(image, fsBytes).kind, c.kind);
    EXPECT_EQ(probeFile(image, fsBytes - 1).kind, FileSystemKind::Unknown);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, MkfsFatProbe,
    ::testing::Values(FatCase{"Fat12Floppy", 12, 1440, 512, 1, FileSystemKind::Fat12, 0x01},
                      FatCase{"Fat12Clusters4", 12, 6144, 512, 4, FileSystemKind::Fat12, 0x01},
                      FatCase{"Fat16Small", 16, 20480, 512, 4, FileSystemKind::Fat16, 0x04},
                      FatCase{"Fat16Just32MiB", 16, 32768, 512, 2, FileSystemKind::Fat16, 0x06},
                      FatCase{"Fat16Clusters64", 16, 262144, 512, 64, FileSystemKind::Fat16, 0x06},
                      FatCase{"Fat16Sector4096", 16, 65536, 4096, 1, FileSystemKind::Fat16, 0x06},
                      FatCase{"Fat32Clusters1", 32, 40960, 512, 1, FileSystemKind::Fat32, 0x0C},
                      FatCase{"Fat32Clusters8", 32, 614400, 512, 8, FileSystemKind::Fat32, 0x0C},
                      // Too few clusters for FAT32; mkfs.fat warns but writes the FAT32 layout.
                      FatCase{"Fat32FewClusters", 32, 8192, 512, 1, FileSystemKind::Fat32, 0x0C}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// Volumes made by mkntfs.

struct NtfsCase
{
    const char *name;
    uint64_t sizeMiB;
    uint32_t sectorBytes;
    uint32_t clusterBytes;
    uint8_t rawSectorsPerCluster; // the byte mkntfs writes at offset 13
    bool readable = true;         // clusters above 64 KiB are written as a negated exponent, which the reader
                                  // does not take
};

class MkntfsProbe : public ::testing::TestWithParam<NtfsCase>
{
};

TEST_P(MkntfsProbe, AgreesWithNtfsinfo)
{
    if (!haveTool("mkntfs") || !haveTool("ntfsinfo"))
        GTEST_SKIP() << "ntfs-3g is not installed";
    const NtfsCase &c = GetParam();
    test::TempDir dir;
    const std::string image = dir.file("volume.img");
    ASSERT_EQ(run("truncate -s " + std::to_string(c.sizeMiB) + "M " + image).status, 0);
    const CommandResult mkfs = run("mkntfs -F -Q -T -L 'Imbrex vol' -s " + std::to_string(c.sectorBytes) +
                                   " -c " + std::to_string(c.clusterBytes) + " " + image);
    ASSERT_EQ(mkfs.status, 0) << mkfs.output;
    const Bytes boot = readBytes(image, 0, kBootSectorBytes);
    ASSERT_EQ(boot.size(), kBootSectorBytes);
    ASSERT_EQ(std::to_integer<uint8_t>(boot[13]), c.rawSectorsPerCluster);

    const VolumeProbe probe = probeVolume(boot, c.sizeMiB << 20);
    if (!c.readable) {
        EXPECT_EQ(probe.kind, FileSystemKind::Unknown);
        return;
    }
    ASSERT_EQ(probe.kind, FileSystemKind::Ntfs);
    EXPECT_EQ(probe.fileSystemType, kFileSystemTypeNtfs);
    EXPECT_EQ(probe.partitionTypeId, kPartitionTypeNtfs);
    EXPECT_EQ(probe.bytesPerSector, c.sectorBytes);
    EXPECT_EQ(uint64_t{probe.bytesPerSector} * probe.sectorsPerCluster, c.clusterBytes);

    auto info = keyValues(run("ntfsinfo -m " + image).output);
    EXPECT_EQ(std::to_string(probe.ntfs.clusterCount), info["Volume Size in Clusters"]);
    EXPECT_EQ(std::to_string(probe.ntfs.bytesPerFileRecord), info["MFT Record Size"]);
    EXPECT_EQ(std::to_string(probe.ntfs.bytesPerIndexRecord), info["Index Block Size"]);
    EXPECT_EQ(std::to_string(probe.ntfs.mftCluster), info["LCN of Data Attribute for FILE_MFT"]);
    EXPECT_EQ(std::to_string(probe.ntfs.mftMirrorCluster), info["LCN of Data Attribute for File_MFTMirr"]);
    EXPECT_EQ(ntfsLabelOfImage(image, probe), std::optional<std::string>("Imbrex vol"));

    // NTFS counts all sectors but the backup boot sector at the end.
    EXPECT_EQ(probeVolume(boot, probe.ntfs.totalSectors * c.sectorBytes).kind, FileSystemKind::Ntfs);
    EXPECT_EQ(probeVolume(boot, probe.ntfs.totalSectors * c.sectorBytes - 1).kind, FileSystemKind::Unknown);
}

INSTANTIATE_TEST_SUITE_P(Geometries, MkntfsProbe,
                         ::testing::Values(NtfsCase{"Clusters512", 16, 512, 512, 1},
                                           NtfsCase{"Clusters4K", 16, 512, 4096, 8},
                                           NtfsCase{"Clusters64K", 64, 512, 65536, 128},
                                           NtfsCase{"Clusters128K", 64, 512, 131072, 0xF8, false},
                                           NtfsCase{"Clusters2M", 128, 512, 2097152, 0xF4, false},
                                           NtfsCase{"Sector4096", 64, 4096, 4096, 1}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

// The fixture script.

TEST(FixtureScript, BuildsTheFourVolumes)
{
    for (const char *tool : {"bash", "python3", "mkfs.fat", "mcopy", "mkntfs", "ntfscp"}) {
        if (!haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    }
    test::TempDir dir;
    const std::string script = (test::sourceDir() / "tests/fixtures/make-fixtures.sh").string();
    const CommandResult made = run("bash " + script + " " + dir.path().string());
    ASSERT_EQ(made.status, 0) << made.output;

    const VolumeProbe fat12 = probeFile(dir.file("fat12.img"));
    EXPECT_EQ(fat12.kind, FileSystemKind::Fat12);
    EXPECT_EQ(fat12.label, "IMBREX12");
    const VolumeProbe fat16 = probeFile(dir.file("fat16.img"));
    EXPECT_EQ(fat16.kind, FileSystemKind::Fat16);
    EXPECT_EQ(fat16.label, "IMBREX16");
    const VolumeProbe fat32 = probeFile(dir.file("fat32.img"));
    EXPECT_EQ(fat32.kind, FileSystemKind::Fat32);
    EXPECT_EQ(fat32.label, "IMBREX32");
    const VolumeProbe ntfs = probeFile(dir.file("ntfs.img"));
    EXPECT_EQ(ntfs.kind, FileSystemKind::Ntfs);
    EXPECT_EQ(ntfsLabelOfImage(dir.file("ntfs.img"), ntfs), std::optional<std::string>("Imbrex NTFS"));

    // The files went in: mtools and ntfs-3g list the 300 KB file on each volume.
    for (const char *fat : {"fat12.img", "fat16.img", "fat32.img"}) {
        const CommandResult dirList = run("MTOOLS_SKIP_CHECK=1 mdir -i " + dir.file(fat) + " ::/Documents");
        EXPECT_NE(dirList.output.find("307213"), std::string::npos) << fat << "\n" << dirList.output;
    }
    EXPECT_NE(run("ntfsls -l " + dir.file("ntfs.img")).output.find("307213"), std::string::npos);
}

// Crafted boot sectors.

constexpr uint64_t kVolumeBytes = 64ull << 20;

void put8(Bytes &b, size_t off, uint8_t v)
{
    b[off] = std::byte{v};
}
void put16(Bytes &b, size_t off, uint16_t v)
{
    storeLe16(b, off, v);
}
void put32(Bytes &b, size_t off, uint32_t v)
{
    storeLe32(b, off, v);
}
void put64(Bytes &b, size_t off, uint64_t v)
{
    storeLe64(b, off, v);
}

// A consistent FAT16 boot sector: 64 MiB, 4 sectors per cluster, 2 FATs of 128 sectors, 512 root entries.
Bytes fat16BootSector()
{
    Bytes b(kBootSectorBytes);
    put8(b, 0, 0xEB);
    put8(b, 1, 0x3C);
    put8(b, 2, 0x90);
    put16(b, 11, 512);
    put8(b, 13, 4);
    put16(b, 14, 4);
    put8(b, 16, 2);
    put16(b, 17, 512);
    put8(b, 21, 0xF8);
    put16(b, 22, 128);
    put32(b, 32, 131072);
    put8(b, 38, 0x29);
    for (size_t i = 0; i < 11; ++i)
        put8(b, 43 + i, static_cast<uint8_t>("CRAFTED    "[i]));
    put8(b, 510, 0x55);
    put8(b, 511, 0xAA);
    return b;
}

// A consistent FAT32 boot sector: 64 MiB, 1 sector per cluster, 2 FATs of 1024 sectors.
Bytes fat32BootSector()
{
    Bytes b = fat16BootSector();
    for (size_t i = 38; i < 62; ++i) // the FAT16 extended record overlaps the FAT32 fields
        put8(b, i, 0);
    put8(b, 13, 1);
    put16(b, 14, 32);
    put16(b, 17, 0);
    put16(b, 22, 0);
    put32(b, 36, 1024);
    put32(b, 44, 2);
    put8(b, 66, 0x29);
    for (size_t i = 0; i < 11; ++i)
        put8(b, 71 + i, static_cast<uint8_t>("CRAFTED    "[i]));
    return b;
}

// A consistent NTFS boot sector: 64 MiB, 4 KiB clusters, 1 KiB file records, 4 KiB index records.
Bytes ntfsBootSector()
{
    Bytes b(kBootSectorBytes);
    put8(b, 0, 0xEB);
    put8(b, 1, 0x52);
    put8(b, 2, 0x90);
    for (size_t i = 0; i < 8; ++i)
        put8(b, 3 + i, static_cast<uint8_t>("NTFS    "[i]));
    put16(b, 11, 512);
    put8(b, 13, 8);
    put8(b, 21, 0xF8);
    put64(b, 0x28, 131071);
    put64(b, 0x30, 4);
    put64(b, 0x38, 8191);
    put8(b, 0x40, 0xF6);
    put8(b, 0x44, 1);
    put8(b, 510, 0x55);
    put8(b, 511, 0xAA);
    return b;
}

TEST(CraftedBootSector, BaselinesAreRecognised)
{
    const VolumeProbe fat16 = probeVolume(fat16BootSector(), kVolumeBytes);
    EXPECT_EQ(fat16.kind, FileSystemKind::Fat16);
    EXPECT_EQ(fat16.label, "CRAFTED");
    EXPECT_EQ(fat16.fat.firstDataSector, 4u + 2 * 128 + 32);
    EXPECT_EQ(fat16.fat.clusterCount, (131072u - 292) / 4);

    const VolumeProbe fat32 = probeVolume(fat32BootSector(), kVolumeBytes);
    EXPECT_EQ(fat32.kind, FileSystemKind::Fat32);
    EXPECT_EQ(fat32.label, "CRAFTED");
    EXPECT_EQ(fat32.fat.clusterCount, 131072u - 32 - 2048);

    const VolumeProbe ntfs = probeVolume(ntfsBootSector(), kVolumeBytes);
    EXPECT_EQ(ntfs.kind, FileSystemKind::Ntfs);
    EXPECT_EQ(ntfs.ntfs.bytesPerFileRecord, 1024u);
    EXPECT_EQ(ntfs.ntfs.bytesPerIndexRecord, 4096u);
    EXPECT_TRUE(ntfs.label.empty());
}

TEST(CraftedBootSector, Fat16TypeIdFollowsThe32MiBLine)
{
    Bytes b = fat16BootSector();
    put8(b, 13, 1);
    put16(b, 22, 256);
    put32(b, 32, 65535); // one sector short of 32 MiB
    EXPECT_EQ(probeVolume(b, kVolumeBytes).partitionTypeId, kPartitionTypeFat16Small);
    put32(b, 32, 65536);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).partitionTypeId, kPartitionTypeFat16);
}

TEST(CraftedBootSector, Fat12OrFat16AsTheReaderDecides)
{
    // On 512-byte sectors the size of the FAT decides: up to 12 sectors is FAT12, whatever the cluster count.
    // Metadata: 4 reserved sectors, 2 FATs, 32 sectors of root directory; clusters of one sector.
    Bytes b = fat16BootSector();
    put8(b, 13, 1);
    put16(b, 22, 12);
    put32(b, 32, 60 + 4000);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat12);
    put16(b, 22, 13);
    put32(b, 32, 62 + 3000);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat16);
    put16(b, 22, 256);
    put32(b, 32, 548 + 4084);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat16);
    put32(b, 32, 548 + 65524);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat16);
    put32(b, 32, 548 + 65525); // more than 16-bit entries can address
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Unknown);

    // On larger sectors the cluster count decides (below 4085 is FAT12): 1 reserved sector, 2 FATs of 4,
    // 4 sectors of root directory.
    put16(b, 11, 4096);
    put16(b, 14, 1);
    put16(b, 22, 4);
    put32(b, 32, 13 + 4084);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat12);
    put32(b, 32, 13 + 4085);
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Fat16);
}

TEST(CraftedBootSector, NeedsTheBootSignature)
{
    Bytes noSignature = fat16BootSector();
    put16(noSignature, 510, 0);
    EXPECT_EQ(probeVolume(noSignature, kVolumeBytes).kind, FileSystemKind::Unknown);
    Bytes noJump = fat16BootSector();
    put8(noJump, 0, 0);
    EXPECT_EQ(probeVolume(noJump, kVolumeBytes).kind, FileSystemKind::Fat16);
    // FAT32 keeps its signature as the word at 508, zero, followed by 0xAA55.
    Bytes fat32 = fat32BootSector();
    put16(fat32, 508, 1);
    EXPECT_EQ(probeVolume(fat32, kVolumeBytes).kind, FileSystemKind::Unknown);
}

TEST(CraftedBootSector, NtfsNegativeClusterShiftIsNotRead)
{
    Bytes b = ntfsBootSector();
    put8(b, 13, 0xF4); // 2^12 sectors of 512 bytes = 2 MiB
    put64(b, 0x38, 16);
    put8(b, 0x44, 0xF4); // index records of 2^12 bytes
    EXPECT_EQ(probeVolume(b, kVolumeBytes).kind, FileSystemKind::Unknown);
}

TEST(CraftedBootSector, ShortInputIsUnknown)
{
    const Bytes b = fat16BootSector();
    EXPECT_EQ(probeVolume(std::span(b).first(511), kVolumeBytes).kind, FileSystemKind::Unknown);
    EXPECT_EQ(probeVolume({}, kVolumeBytes).kind, FileSystemKind::Unknown);
}

// A field written over a baseline: width bytes at offset, little-endian.
struct Patch
{
    size_t offset;
    size_t width;
    uint64_t value;
};

struct HostileCase
{
    const char *name;
    Bytes (*base)();
    std::vector<Patch> patches;
    uint64_t volumeBytes = kVolumeBytes;
};

class HostileBootSector : public ::testing::TestWithParam<HostileCase>
{
};

void apply(Bytes &b, const Patch &p)
{
    for (size_t i = 0; i < p.width; ++i)
        put8(b, p.offset + i, static_cast<uint8_t>(p.value >> (8 * i)));
}

TEST_P(HostileBootSector, IsUnknown)
{
    Bytes b = GetParam().base();
    for (const Patch &p : GetParam().patches)
        apply(b, p);
    const VolumeProbe probe = probeVolume(b, GetParam().volumeBytes);
    EXPECT_EQ(probe.kind, FileSystemKind::Unknown);
    EXPECT_EQ(probe.fileSystemType, kFileSystemTypeUnknown);
    EXPECT_EQ(probe.partitionTypeId, 0u);
    EXPECT_EQ(probe.bytesPerSector, 0u);
    EXPECT_EQ(probe.sectorsPerCluster, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Fat, HostileBootSector,
    ::testing::Values(HostileCase{"ZeroBytesPerSector", fat16BootSector, {{11, 2, 0}}},
                      HostileCase{"BytesPerSector256", fat16BootSector, {{11, 2, 256}}},
                      HostileCase{"BytesPerSectorNotPowerOfTwo", fat16BootSector, {{11, 2, 768}}},
                      HostileCase{"BytesPerSector8192", fat16BootSector, {{11, 2, 8192}}},
                      HostileCase{"ZeroSectorsPerCluster", fat16BootSector, {{13, 1, 0}}},
                      HostileCase{"SectorsPerClusterNotPowerOfTwo", fat16BootSector, {{13, 1, 3}}},
                      HostileCase{"SectorsPerCluster255", fat16BootSector, {{13, 1, 255}}},
                      HostileCase{"ZeroReserved", fat16BootSector, {{14, 2, 0}}},
                      HostileCase{"ZeroFats", fat16BootSector, {{16, 1, 0}}},
                      HostileCase{"BadMedia", fat16BootSector, {{21, 1, 0x12}}},
                      HostileCase{"ZeroTotalSectors", fat16BootSector, {{32, 4, 0}}},
                      HostileCase{"ZeroFatSize", fat32BootSector, {{36, 4, 0}}},
                      HostileCase{"LargerThanPartition", fat16BootSector, {{32, 4, 131073}}},
                      HostileCase{
                          "TotalSectorsOf4GiBSectors", fat16BootSector, {{11, 2, 4096}, {32, 4, 0xFFFFFFFF}}},
                      HostileCase{"MetadataFillsVolume", fat16BootSector, {{22, 2, 0xFFFF}}},
                      // One sector after the root directory, less than a cluster: no cluster at all.
                      HostileCase{"NoDataCluster", fat16BootSector, {{32, 4, 293}}},
                      // 255 FATs of 2^32-1 sectors: the metadata alone needs more than 32 bits, and the
                      // partition is as large as anything, so only 64-bit sums catch it.
                      HostileCase{"FatSectorsOverflow32Bits",
                                  fat32BootSector,
                                  {{14, 2, 0xFFFF}, {16, 1, 255}, {32, 4, 0xFFFFFFFF}, {36, 4, 0xFFFFFFFF}},
                                  UINT64_MAX},
                      HostileCase{"ClustersBeyondFat32Limit",
                                  fat32BootSector,
                                  {{16, 1, 1}, {32, 4, 0xFFFFFFFF}, {36, 4, 0x04000000}},
                                  UINT64_MAX},
                      HostileCase{"FatTooSmallForClusters", fat16BootSector, {{22, 2, 16}}},
                      HostileCase{"Fat16WithoutRootDirectory", fat16BootSector, {{17, 2, 0}}},
                      HostileCase{"Fat32WithFixedRoot", fat32BootSector, {{17, 2, 512}}},
                      HostileCase{"Fat32RootClusterZero", fat32BootSector, {{44, 4, 0}}},
                      HostileCase{"Fat32RootClusterPastEnd", fat32BootSector, {{44, 4, 131072}}}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ntfs, HostileBootSector,
    ::testing::Values(HostileCase{"ZeroSectorsPerCluster", ntfsBootSector, {{13, 1, 0}}},
                      HostileCase{"SectorsPerClusterNotPowerOfTwo", ntfsBootSector, {{13, 1, 6}}},
                      HostileCase{"AbsurdClusterShift", ntfsBootSector, {{13, 1, 0x81}}},
                      HostileCase{"ClusterShift13", ntfsBootSector, {{13, 1, 0xF3}}},
                      HostileCase{"Clusters16MiB", ntfsBootSector, {{11, 2, 4096}, {13, 1, 0xF4}}},
                      HostileCase{"ZeroBytesPerSector", ntfsBootSector, {{11, 2, 0}}},
                      HostileCase{"ZeroTotalSectors", ntfsBootSector, {{0x28, 8, 0}}},
                      HostileCase{
                          "TotalBytesOverflow", ntfsBootSector, {{0x28, 8, UINT64_MAX / 256}}, UINT64_MAX},
                      HostileCase{"LargerThanPartition", ntfsBootSector, {{0x28, 8, 131073}}},
                      HostileCase{"MftPastEnd", ntfsBootSector, {{0x30, 8, 16384}}},
                      HostileCase{"MftMirrorPastEnd", ntfsBootSector, {{0x38, 8, UINT64_MAX}}},
                      HostileCase{"ZeroFileRecordSize", ntfsBootSector, {{0x40, 1, 0}}},
                      HostileCase{"FileRecordShift64", ntfsBootSector, {{0x40, 1, 0xC0}}},
                      HostileCase{"FileRecordOf3Clusters", ntfsBootSector, {{0x40, 1, 3}}},
                      HostileCase{"IndexRecordOf127Clusters", ntfsBootSector, {{0x44, 1, 127}}},
                      HostileCase{"FatFieldsSet", ntfsBootSector, {{14, 2, 1}}},
                      HostileCase{"NoSignature", ntfsBootSector, {{510, 2, 0}}}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(CraftedBootSector, BlankSectorsAreUnknown)
{
    EXPECT_EQ(probeVolume(Bytes(512, std::byte{0x00}), kVolumeBytes).kind, FileSystemKind::Unknown);
    EXPECT_EQ(probeVolume(Bytes(512, std::byte{0xFF}), UINT64_MAX).kind, FileSystemKind::Unknown);
}

// NTFS volume label.

// A $Volume-like file record of 1024 bytes with update sequence 0x0007 and the given attributes.
Bytes fileRecord(const std::vector<Bytes> &attributes)
{
    Bytes r(1024);
    for (size_t i = 0; i < 4; ++i)
        put8(r, i, static_cast<uint8_t>("FILE"[i]));
    put16(r, 4, 0x30);
    put16(r, 6, 3);
    put16(r, 0x30, 7);
    put16(r, 0x14, 0x38);
    put16(r, 0x16, 1);
    put16(r, 0x28, static_cast<uint16_t>(attributes.size() + 1)); // next attribute instance
    size_t pos = 0x38;
    for (const Bytes &a : attributes) {
        std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(pos));
        pos += a.size();
    }
    put32(r, pos, 0xFFFFFFFF);
    put32(r, 0x18, static_cast<uint32_t>(pos + 8));
    // Move the last two bytes of each 512-byte stride into the array and mark the stride.
    for (size_t i = 1; i <= 2; ++i) {
        put16(r, 0x30 + 2 * i, loadLe16(r, i * 512 - 2));
        put16(r, i * 512 - 2, 7);
    }
    return r;
}

Bytes residentAttribute(uint32_t type, const std::u16string &value)
{
    const size_t length = (0x18 + value.size() * 2 + 7) / 8 * 8;
    Bytes a(length);
    put32(a, 0, type);
    put32(a, 4, static_cast<uint32_t>(length));
    put32(a, 0x10, static_cast<uint32_t>(value.size() * 2));
    put16(a, 0x14, 0x18);
    for (size_t i = 0; i < value.size(); ++i)
        put16(a, 0x18 + 2 * i, static_cast<uint16_t>(value[i]));
    return a;
}

TEST(NtfsVolumeLabel, DecodesUtf16IncludingSurrogatePairs)
{
    const Bytes info = residentAttribute(0x10, std::u16string(24, u'\0'));
    EXPECT_EQ(ntfsVolumeLabel(fileRecord({info, residentAttribute(0x60, u"Daten \u00e9\U0001F600")})),
              std::optional<std::string>("Daten \xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_EQ(ntfsVolumeLabel(fileRecord({info, residentAttribute(0x60, u"a\xD800z")})),
              std::optional<std::string>("a\xEF\xBF\xBDz"));
    EXPECT_EQ(ntfsVolumeLabel(fileRecord({info})), std::optional<std::string>(""));
    EXPECT_EQ(ntfsVolumeLabel(fileRecord({info, residentAttribute(0x70, u"\x0301")})),
              std::optional<std::string>(""));
}

TEST(NtfsVolumeLabel, RejectsDamagedRecords)
{
    const Bytes good = fileRecord({residentAttribute(0x60, u"label")});
    ASSERT_TRUE(ntfsVolumeLabel(good));

    const std::vector<std::pair<const char *, Patch>> damage = {
        {"stride mark differs", {1022, 2, 8}},
        {"wrong magic", {0, 1, 'B'}},
        {"not in use", {0x16, 2, 0}},
        {"update sequence count", {6, 2, 2}},
        {"update sequence past end", {4, 2, 1020}},
        {"attribute offset past use", {0x14, 2, 0x3F0}},
        {"bytes in use past record", {0x18, 4, 4096}},
        {"zero attribute length", {0x38 + 4, 4, 0}},
        {"attribute past use", {0x38 + 4, 4, 0x1000}},
        {"value past attribute", {0x38 + 0x10, 4, 0x100}},
        {"odd value length", {0x38 + 0x10, 4, 3}},
        {"non-resident", {0x38 + 8, 1, 1}},
    };
    for (const auto &[name, patch] : damage) {
        Bytes r = good;
        apply(r, patch);
        EXPECT_EQ(ntfsVolumeLabel(r), std::nullopt) << name;
    }
    EXPECT_EQ(ntfsVolumeLabel(std::span(good).first(512)), std::nullopt);
    EXPECT_EQ(ntfsVolumeLabel({}), std::nullopt);
}

TEST(NtfsFileRecordOffset, OnlyForSystemRecordsOfNtfs)
{
    const VolumeProbe ntfs = probeVolume(ntfsBootSector(), kVolumeBytes);
    EXPECT_EQ(ntfsFileRecordOffset(ntfs, 3), std::optional<uint64_t>(4 * 4096 + 3 * 1024));
    EXPECT_EQ(ntfsFileRecordOffset(ntfs, 16), std::nullopt);
    EXPECT_EQ(ntfsFileRecordOffset(probeVolume(fat16BootSector(), kVolumeBytes), 3), std::nullopt);

    VolumeProbe forged = ntfs;
    forged.ntfs.mftCluster = UINT64_MAX / 4096;
    EXPECT_EQ(ntfsFileRecordOffset(forged, 3), std::nullopt);
}

// Block size.

VolumeProbe withCluster(uint32_t bytesPerSector, uint32_t sectorsPerCluster)
{
    VolumeProbe p;
    p.kind = FileSystemKind::Fat32;
    p.bytesPerSector = bytesPerSector;
    p.sectorsPerCluster = sectorsPerCluster;
    return p;
}

TEST(ChooseSectorsPerBlock, FollowsTheClusterSize)
{
    EXPECT_EQ(chooseSectorsPerBlock(VolumeProbe{}, 1000), 8u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 1), 1000), 1u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 64), 1000), 64u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(4096, 1), 1000), 8u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(4096, 128), 1000), 128u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 4096), 1000), 128u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 0), 1000), 8u);
}

TEST(ChooseSectorsPerBlock, KeepsTheBitmapWithin8MiB)
{
    constexpr uint64_t kMaxBlocks = uint64_t{1} << 26;
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 1), kMaxBlocks), 1u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 1), kMaxBlocks + 1), 2u);
    EXPECT_EQ(chooseSectorsPerBlock(VolumeProbe{}, 8 * kMaxBlocks), 8u);
    EXPECT_EQ(chooseSectorsPerBlock(VolumeProbe{}, 8 * kMaxBlocks + 1), 16u);
    EXPECT_EQ(chooseSectorsPerBlock(withCluster(512, 128), 1000 * kMaxBlocks), 1024u);

    for (uint64_t sectors : {uint64_t{0}, uint64_t{1}, uint64_t{12345678901}, uint64_t{1} << 40}) {
        const uint32_t spb = chooseSectorsPerBlock(withCluster(512, 1), sectors);
        EXPECT_LE((sectors + spb - 1) / spb, kMaxBlocks) << sectors;
        EXPECT_TRUE(spb == 1 || (sectors + spb / 2 - 1) / (spb / 2) > kMaxBlocks)
            << "not the smallest: " << sectors;
    }
    // Beyond what 32-bit blocks can cover the doubling stops instead of overflowing.
    EXPECT_EQ(chooseSectorsPerBlock(VolumeProbe{}, UINT64_MAX), 1u << 31);
}

} // namespace
