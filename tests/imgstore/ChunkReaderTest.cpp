// The chunk table is read in pages: with few pages kept, a reader still reads the whole stream, forwards and
// by jumps, and a page spoilt on disk after the table was checked is found when it is read again. A
// compressed partition whose chunks are partly stored as they are gives back the same bytes however it is
// read. Whole chunks reached by jumps are kept for the reader coming back to them.
#include "imgstore/ChunkReader.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/CatalogCommitter.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;

namespace {

// Stores spec as the only partition of a new image at path and opens that image in file.
zbi::PartitionRecord storeAndOpen(const test::PartitionSpec &spec, const std::string &path,
                                  zbi::ImageFile &file)
{
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        EXPECT_EQ(test::addPartition(*store, spec), 0);
    }
    EXPECT_EQ(file.open(path, false), 0);
    zbi::CatalogCommitter catalog(file, false);
    EXPECT_EQ(catalog.load(), 0);
    return catalog.catalog().partitions.at(0);
}

} // namespace

TEST(ChunkReader, TablePagesAreReadAgainAndChecked)
{
    test::TempDir dir;
    const std::string path = dir.file("image.zbi");
    test::PartitionSpec spec;
    spec.sectorCount = 80000; // 625 chunks: 79 pages of 8, and more than one page of the writer
    spec.compression = 100;
    spec.compressible = true;
    zbi::ImageFile file;
    const zbi::PartitionRecord p = storeAndOpen(spec, path, file);
    const std::vector<uint8_t> expected = test::storedStream(spec);
    zbi::ChunkReader reader(file, 8, 2);
    reader.start(p);

    std::vector<uint8_t> stream(expected.size());
    for (size_t at = 0; at < stream.size();) {
        uint32_t got = 0;
        ASSERT_EQ(reader.read(reinterpret_cast<std::byte *>(stream.data() + at), 100000, &got), 0);
        ASSERT_GT(got, 0u);
        at += got;
    }
    EXPECT_EQ(stream, expected);
    // Backwards, one piece of each page, every page read again.
    for (uint64_t chunk = p.chunkCount; chunk-- > 0;) {
        const uint64_t position = chunk * 65536 + 1000;
        std::vector<uint8_t> piece(3000);
        uint32_t got = 0;
        ASSERT_EQ(reader.seek(position), 0);
        ASSERT_EQ(reader.read(reinterpret_cast<std::byte *>(piece.data()), 3000, &got), 0);
        ASSERT_EQ(got, 3000u);
        ASSERT_TRUE(
            std::equal(piece.begin(), piece.end(), expected.begin() + static_cast<ptrdiff_t>(position)));
    }

    // Page 37 (records 296 to 303, no longer among the decoded chunks kept) changes on disk: when it is
    // needed again it is refused, not followed.
    test::spoilByte(path, p.chunkTable.offset + 37 * 64 + 7);
    std::vector<uint8_t> piece(65536);
    uint32_t got = 0;
    ASSERT_EQ(reader.seek(0), 0);
    ASSERT_EQ(reader.read(reinterpret_cast<std::byte *>(piece.data()), 65536, &got), 0);
    ASSERT_EQ(reader.seek(uint64_t{300} * 65536), 0);
    EXPECT_EQ(reader.read(reinterpret_cast<std::byte *>(piece.data()), 65536, &got), rc::kDataDamaged);
    // A reader starting afresh checks the whole table first.
    reader.start(p);
    EXPECT_EQ(reader.read(reinterpret_cast<std::byte *>(piece.data()), 65536, &got), rc::kDataDamaged);
}

TEST(ChunkReader, ChunksStoredAsTheyAreAmongCompressedOnesReadBackEqual)
{
    // Runs of random chunks (stored as they are) and text chunks (compressed) of different lengths, so that
    // a reader going forward crosses from one kind to the other while the workers decode ahead.
    test::PartitionSpec spec;
    spec.sectorCount = 128 * 60; // 60 chunks
    spec.compression = 100;
    const std::vector<uint8_t> random = test::patternBytes(size_t{spec.sectorCount} * 512, 7);
    const std::vector<uint8_t> text = test::textBytes(size_t{spec.sectorCount} * 512, 7);
    for (size_t chunk = 0; chunk < 60; ++chunk) {
        const std::vector<uint8_t> &from = (chunk % 7) < 3 ? random : text;
        spec.content.insert(spec.content.end(), from.begin() + static_cast<ptrdiff_t>(chunk * 65536),
                            from.begin() + static_cast<ptrdiff_t>((chunk + 1) * 65536));
    }
    test::TempDir dir;
    const std::string path = dir.file("image.zbi");
    zbi::ImageFile file;
    const zbi::PartitionRecord p = storeAndOpen(spec, path, file);
    const std::vector<uint8_t> expected = test::storedStream(spec);
    ASSERT_LT(p.storedSize, expected.size()) << "nothing was compressed";
    zbi::ChunkReader reader(file);

    // Pieces smaller than a chunk, whole chunks, pieces across chunks; then forward again with a jump back
    // to the first chunk (as a volume's reader goes back to its tables) between every two pieces.
    for (uint32_t piece : {4096u, 65536u, 100000u, 3u * 65536 + 17}) {
        SCOPED_TRACE(piece);
        reader.start(p);
        std::vector<uint8_t> stream(expected.size());
        for (size_t at = 0; at < stream.size();) {
            uint32_t got = 0;
            ASSERT_EQ(reader.read(reinterpret_cast<std::byte *>(stream.data() + at), piece, &got), 0);
            ASSERT_GT(got, 0u);
            at += got;
            if (piece == 4096)
                continue;
            std::vector<uint8_t> table(512);
            ASSERT_EQ(reader.seek(512), 0);
            ASSERT_EQ(reader.read(reinterpret_cast<std::byte *>(table.data()), 512, &got), 0);
            ASSERT_TRUE(std::equal(table.begin(), table.end(), expected.begin() + 512));
            ASSERT_EQ(reader.seek(at), 0);
        }
        auto [a, b] = std::mismatch(stream.begin(), stream.end(), expected.begin());
        EXPECT_TRUE(a == stream.end()) << "first difference at " << (a - stream.begin());
    }
}

TEST(ChunkReader, WholeChunksReachedByJumpsAreKept)
{
    // A volume's reader takes small files' chunks whole, in an order of its own, and comes back to them for
    // the next file. Once every record on disk is spoilt, only the chunks it kept can still be read.
    test::PartitionSpec spec;
    spec.sectorCount = 128 * 40;
    spec.compression = 100;
    spec.compressible = true;
    test::TempDir dir;
    const std::string path = dir.file("image.zbi");
    zbi::ImageFile file;
    const zbi::PartitionRecord p = storeAndOpen(spec, path, file);
    const std::vector<uint8_t> expected = test::storedStream(spec);
    zbi::ChunkReader reader(file);
    reader.start(p);
    std::vector<uint8_t> chunk(65536);
    auto readChunk = [&](uint64_t index) {
        uint32_t got = 0;
        EXPECT_EQ(reader.seek(index * 65536), 0);
        const int e = reader.read(reinterpret_cast<std::byte *>(chunk.data()), 65536, &got);
        if (e == 0) {
            EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(),
                                   expected.begin() + static_cast<ptrdiff_t>(index * 65536)))
                << "chunk " << index;
        }
        return e;
    };
    for (uint64_t index : {30u, 5u, 20u})
        ASSERT_EQ(readChunk(index), 0);
    for (const zbi::Extent &extent : p.extents)
        for (uint64_t at = 0; at < extent.length; at += 512)
            test::spoilByte(path, extent.offset + at);
    EXPECT_EQ(readChunk(5), 0);
    EXPECT_EQ(readChunk(30), 0);
    EXPECT_EQ(readChunk(12), rc::kDataDamaged);
}
