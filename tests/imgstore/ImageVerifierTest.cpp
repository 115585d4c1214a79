#include "imgstore/ImageVerifier.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "common/ByteOrder.h"
#include "common/ResultCodes.h"
#include "imgstore/Keyring.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using imbrex::test::flipByte;
using imbrex::test::PartitionSpec;
using zbi::ByteRange;
using zbi::PieceKind;

namespace {

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An image with one partition of 48 blocks of 4 KiB (three chunks), every other block of the second half
// left out, so that stream and partition offsets part ways.
PartitionSpec spec(uint32_t compression, const std::string &password = {})
{
    PartitionSpec s;
    s.sectorCount = 48 * 8 + 16 * 8;
    s.sectorsPerBlock = 8;
    s.storedBlocks.assign(64, true);
    for (size_t b = 33; b < 64; b += 2)
        s.storedBlocks[b] = false;
    s.compressible = true;
    s.compression = compression;
    s.password = password;
    return s;
}

class ImageVerifierTest : public ::testing::Test
{
protected:
    void make(const PartitionSpec &s)
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreCreateNew(m_path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        ASSERT_TRUE(store) << error;
        ASSERT_EQ(test::addPartition(*store, s), 0);
        ASSERT_EQ(store->Close(), 0);
    }

    zbi::PartitionCheck verify(int *openResult = nullptr,
                               std::vector<zbi::DamagedPiece> *imageDamage = nullptr)
    {
        zbi::ImageVerifier verifier;
        int e = verifier.open(m_path, nullptr);
        if (openResult)
            *openResult = e;
        if (imageDamage)
            *imageDamage = verifier.imageDamage();
        zbi::PartitionCheck check;
        if (e == 0 && verifier.catalogReadable() && !verifier.catalog().partitions.empty()) {
            NoProgress progress;
            EXPECT_EQ(verifier.verifyPartition(1, progress, &check), 0);
        }
        return check;
    }

    zbi::PartitionRecord record()
    {
        zbi::ImageVerifier verifier;
        EXPECT_EQ(verifier.open(m_path, nullptr), 0);
        return verifier.catalog().partitions.at(0);
    }

    uint64_t chunkOffset(uint64_t index)
    {
        const zbi::PartitionRecord p = record();
        std::string bytes = fileBytes(m_path);
        return loadLe64(std::as_bytes(std::span(bytes)), p.chunkTable.offset + index * 8);
    }

    test::TempDir m_dir;
    std::string m_path = m_dir.file("image.zbi");
};

TEST(PartitionRanges, StreamBytesLandInTheirUsedBlocks)
{
    // Blocks of 1024 bytes; blocks 0, 1, 3 and 6 are stored.
    const std::byte bits[] = {std::byte{0b01001011}};
    struct Case
    {
        ByteRange stream;
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
    };
    const Case cases[] = {
        {{0, 2048}, {{0, 2048}}},                     // blocks 0 and 1 lie side by side
        {{1000, 1048}, {{1000, 1048}}},               // inside them, across their border
        {{1024, 2048}, {{1024, 1024}, {3072, 1024}}}, // block 1, then block 3 past the gap
        {{2500, 1596}, {{3524, 572}, {6144, 1024}}},  // part of block 3, then block 6
        {{4096, 100}, {}},                            // beyond the stored blocks
    };
    for (const Case &c : cases) {
        auto ranges = zbi::partitionRangesOf(bits, 7, 1024, c.stream);
        std::vector<std::pair<uint64_t, uint64_t>> got;
        for (const ByteRange &r : ranges)
            got.emplace_back(r.offset, r.length);
        EXPECT_EQ(got, c.ranges) << c.stream.offset;
    }
}

TEST_F(ImageVerifierTest, CleanImagesShowNoDamageAndTheFileIsNotChanged)
{
    for (uint32_t compression : {0u, 301u, 208u, 3u}) {
        make(spec(compression));
        const std::string before = fileBytes(m_path);
        int opened = -1;
        std::vector<zbi::DamagedPiece> imageDamage;
        zbi::PartitionCheck check = verify(&opened, &imageDamage);
        EXPECT_EQ(opened, 0);
        EXPECT_TRUE(imageDamage.empty());
        EXPECT_TRUE(check.damage.empty()) << compression;
        EXPECT_EQ(check.chunksChecked, 3u);
        EXPECT_EQ(fileBytes(m_path), before);
    }
}

TEST_F(ImageVerifierTest, AProtectedPartitionIsDecodedOnlyWithItsPassword)
{
    make(spec(301, "secret words"));
    zbi::PartitionCheck check = verify();
    EXPECT_TRUE(check.damage.empty());
    EXPECT_FALSE(check.keyMissing);

    zbi::forgetPasswordTexts();
    check = verify();
    EXPECT_TRUE(check.damage.empty());
    EXPECT_TRUE(check.keyMissing);
    // Without the key the checksums still see damage.
    flipByte(m_path, chunkOffset(1) + 100);
    check = verify();
    ASSERT_EQ(check.damage.size(), 1u);
    EXPECT_EQ(check.damage[0].firstChunk, 1u);
    EXPECT_FALSE(check.damage[0].placeKnown); // the bitmap is encrypted
}

TEST_F(ImageVerifierTest, ADamagedChunkIsPlacedInThePartition)
{
    make(spec(0));
    flipByte(m_path, chunkOffset(2) + 40);
    zbi::PartitionCheck check = verify();
    ASSERT_EQ(check.damage.size(), 1u);
    const zbi::DamagedPiece &piece = check.damage[0];
    EXPECT_EQ(piece.kind, PieceKind::Chunks);
    EXPECT_EQ(piece.firstChunk, 2u);
    EXPECT_EQ(piece.lastChunk, 2u);
    EXPECT_EQ(piece.code, rc::kDataDamaged);
    // Stream bytes 131072-196607: used blocks 32-47, which are blocks 32, 34, 36, ... of the partition.
    ASSERT_TRUE(piece.placeKnown);
    ASSERT_EQ(piece.partitionRanges.size(), 16u);
    EXPECT_EQ(piece.partitionRanges[0].offset, 32u * 4096);
    EXPECT_EQ(piece.partitionRanges[0].length, 4096u);
    EXPECT_EQ(piece.partitionRanges[1].offset, 34u * 4096);
    EXPECT_EQ(piece.partitionRanges[15].offset, 62u * 4096);
}

TEST_F(ImageVerifierTest, DamagedMetadataIsReported)
{
    make(spec(301));
    const zbi::PartitionRecord p = record();

    flipByte(m_path, p.bitmap.offset + 50);
    zbi::PartitionCheck check = verify();
    ASSERT_EQ(check.damage.size(), 1u);
    EXPECT_EQ(check.damage[0].kind, PieceKind::Bitmap);
    EXPECT_TRUE(check.damage[0].wholePartition);
    flipByte(m_path, p.bitmap.offset + 50);

    flipByte(m_path, p.chunkTable.offset + 3);
    check = verify();
    ASSERT_EQ(check.damage.size(), 1u);
    EXPECT_EQ(check.damage[0].kind, PieceKind::ChunkTable);
    flipByte(m_path, p.chunkTable.offset + 3);

    // The current superblock: the image is still read, from the older slot, and the damage is named.
    EXPECT_TRUE(verify().damage.empty());
    zbi::ImageVerifier verifier;
    ASSERT_EQ(verifier.open(m_path, nullptr), 0);
    const uint64_t slot = verifier.generation() % 2;
    flipByte(m_path, zbi::kSuperblockOffset[slot] + 30);
    std::vector<zbi::DamagedPiece> imageDamage;
    int opened = -1;
    verify(&opened, &imageDamage);
    EXPECT_EQ(opened, 0);
    ASSERT_EQ(imageDamage.size(), 1u);
    EXPECT_EQ(imageDamage[0].kind, PieceKind::Superblock);
    EXPECT_EQ(imageDamage[0].slot, slot);
    flipByte(m_path, zbi::kSuperblockOffset[slot] + 30);

    // The current catalog: nothing of the image can be read, and the verifier says so instead of an empty
    // image.
    zbi::Superblock sb;
    const std::string bytes = fileBytes(m_path);
    ASSERT_EQ(
        zbi::parseSuperblock(std::as_bytes(std::span(bytes)).subspan(zbi::kSuperblockOffset[slot], 512), &sb),
        zbi::SlotState::Valid);
    flipByte(m_path, sb.catalogOffset + 10);
    zbi::ImageVerifier damaged;
    ASSERT_EQ(damaged.open(m_path, nullptr), 0);
    EXPECT_FALSE(damaged.catalogReadable());
    ASSERT_EQ(damaged.imageDamage().size(), 1u);
    EXPECT_EQ(damaged.imageDamage()[0].kind, PieceKind::Catalog);
}

TEST_F(ImageVerifierTest, TheOneStreamKindLosesEverythingAfterADamagedChunk)
{
    make(spec(3));
    flipByte(m_path, chunkOffset(0) + 40);
    zbi::PartitionCheck check = verify();
    ASSERT_EQ(check.damage.size(), 2u);
    EXPECT_EQ(check.damage[0].firstChunk, 0u);
    EXPECT_EQ(check.damage[0].lastChunk, 0u);
    EXPECT_EQ(check.damage[1].firstChunk, 1u);
    EXPECT_EQ(check.damage[1].lastChunk, 2u);
}

} // namespace
