// The chunk table is read in pages: with few pages kept, a reader still reads the whole stream, forwards and
// by jumps, and a page spoilt on disk after the table was checked is found when it is read again.
#include "imgstore/ChunkReader.h"

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/CatalogCommitter.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;

TEST(ChunkReader, TablePagesAreReadAgainAndChecked)
{
    test::TempDir dir;
    const std::string path = dir.file("image.zbi");
    test::PartitionSpec spec;
    spec.sectorCount = 80000; // 625 chunks: 79 pages of 8, and more than one page of the writer
    spec.compression = 100;
    spec.compressible = true;
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        ASSERT_EQ(test::addPartition(*store, spec), 0);
    }
    const std::vector<uint8_t> expected = test::storedStream(spec);

    zbi::ImageFile file;
    ASSERT_EQ(file.open(path, false), 0);
    zbi::CatalogCommitter catalog(file, false);
    ASSERT_EQ(catalog.load(), 0);
    const zbi::PartitionRecord p = catalog.catalog().partitions.at(0);
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
