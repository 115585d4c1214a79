#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/Checksum.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using imbrex::test::PartitionSpec;

namespace {

ImageStorePtr createImage(const std::string &path)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
    EXPECT_EQ(error, 0u);
    return store;
}

ImageStorePtr openImage(const std::string &path, uint32_t *error = nullptr)
{
    uint32_t e = 0;
    ImageStorePtr store(ImageStoreOpen(path.c_str(), kNoSplit, 0, nullptr, &e));
    if (error)
        *error = e;
    return store;
}

ImageStorePtr openReadOnly(const std::string &path, uint32_t *error = nullptr)
{
    uint32_t e = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), nullptr, &e));
    if (error)
        *error = e;
    return store;
}

std::string partitionName(ImageStore &store, uint32_t number)
{
    char name[100] = {};
    EXPECT_EQ(store.SelectPartition(number, 0), 0);
    EXPECT_EQ(store.GetPartitionName(name, sizeof name), 0);
    EXPECT_EQ(store.ReleasePartition(1), 0);
    return name;
}

uint64_t fileSize(const std::string &path)
{
    return std::filesystem::file_size(path);
}

void flipByte(const std::string &path, uint64_t offset)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x5A);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(&c, 1);
}

} // namespace

TEST(ZbiImageStore, NewImageIsEmptyAndKeepsItsIdentity)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    uint32_t id = 0;
    {
        ImageStorePtr store = createImage(path);
        ASSERT_TRUE(store);
        EXPECT_EQ(store->GetPartitionCount(), 0u);
        EXPECT_EQ(store->GetImageId(&id), 0);
        EXPECT_NE(id, 0u);
    }
    ImageStorePtr store = openImage(path);
    ASSERT_TRUE(store);
    uint32_t again = 0;
    EXPECT_EQ(store->GetImageId(&again), 0);
    EXPECT_EQ(again, id);
    EXPECT_EQ(store->GetPartitionCount(), 0u);
}

TEST(ZbiImageStore, PartitionRoundTripsAttributesBitmapAndData)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    PartitionSpec spec;
    spec.sectorCount = 1001; // not a whole number of blocks
    spec.sectorsPerBlock = 4;
    spec.storedBlocks.assign(251, false);
    for (size_t b = 0; b < spec.storedBlocks.size(); b += 3)
        spec.storedBlocks[b] = true;
    spec.storedBlocks[250] = true;
    spec.name = "System";
    spec.comment = "first partition";
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, spec, 1000), 0);
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        EXPECT_EQ(store->SetPartitionDate(2001, 2, 3), 0);
        EXPECT_EQ(store->SetPartitionAttributeC(77), 0);
        EXPECT_EQ(store->ReleasePartition(1), 0);
    }
    ImageStorePtr store = openReadOnly(path);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->GetPartitionCount(), 1u);
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    uint32_t v = 0;
    EXPECT_EQ(store->GetSectorCount(&v), 0);
    EXPECT_EQ(v, 1001u);
    EXPECT_EQ(store->GetBlockCount(&v), 0);
    EXPECT_EQ(v, 251u);
    EXPECT_EQ(store->GetUsedBlockCount(&v), 0);
    EXPECT_EQ(v, 85u);
    EXPECT_EQ(store->GetSectorSize(&v), 0);
    EXPECT_EQ(v, 512u);
    EXPECT_EQ(store->GetPartitionAttributeC(&v), 0);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(store->GetPartitionKind(&v), 0);
    EXPECT_EQ(v, 2u);
    uint16_t y = 0, m = 0, d = 0;
    EXPECT_EQ(store->GetPartitionDate(&y, &m, &d), 0);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20010203);
    char comment[256];
    EXPECT_EQ(store->GetPartitionComment(comment, sizeof comment), 0);
    EXPECT_STREQ(comment, "first partition");

    std::vector<uint8_t> bitmap(32);
    uint32_t spb = 0, got = 0;
    ASSERT_EQ(store->ReadBlockBitmap(bitmap.data(), 32, &spb, &got), 0);
    EXPECT_EQ(got, 32u);
    EXPECT_EQ(spb, 4u);
    EXPECT_EQ(bitmap, test::bitmapOf(spec));
    EXPECT_EQ(store->ReleasePartition(1), 0);

    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream, 777), 0);
    EXPECT_EQ(stream, test::storedStream(spec));
}

TEST(ZbiImageStore, SeekThenReadMatchesSequentialReading)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    PartitionSpec spec;
    spec.sectorCount = 2000;
    ImageStorePtr store = createImage(path);
    ASSERT_EQ(test::addPartition(*store, spec), 0);
    std::vector<uint8_t> expected = test::storedStream(spec);
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    std::vector<uint8_t> buffer(70000);
    for (uint64_t position : {0ull, 1ull, 65535ull, 65536ull, 300000ull, 1023999ull - 69999ull}) {
        ASSERT_EQ(store->SeekData(static_cast<uint32_t>(position), 0), 0);
        EXPECT_EQ(store->GetDataPosition(), position);
        uint32_t got = 0;
        ASSERT_EQ(store->ReadData(buffer.data(), 70000, &got), 0);
        ASSERT_EQ(got, std::min<uint64_t>(70000, expected.size() - position));
        EXPECT_TRUE(
            std::equal(buffer.begin(), buffer.begin() + got, expected.begin() + static_cast<long>(position)))
            << "at " << position;
    }
    EXPECT_EQ(store->SeekData(static_cast<uint32_t>(expected.size() + 1), 0), rc::kInvalidArgument);
    EXPECT_EQ(store->ResetStream(), 0);
    EXPECT_EQ(store->GetDataPosition(), 0u);
}

TEST(ZbiImageStore, StoredFormCopyMovesChunksUntouched)
{
    test::TempDir dir;
    PartitionSpec spec;
    spec.sectorCount = 3000;
    spec.sectorsPerBlock = 2;
    ImageStorePtr source = createImage(dir.file("src.zbi"));
    ASSERT_EQ(test::addPartition(*source, spec), 0);
    ImageStorePtr target = createImage(dir.file("dst.zbi"));

    ASSERT_EQ(source->SelectPartition(1, 0), 0);
    uint32_t minimum = 0;
    ASSERT_EQ(source->GetMinimumBufferSize(&minimum), 0);
    std::vector<uint8_t> buffer(131072);
    ASSERT_GE(buffer.size(), minimum);
    ASSERT_EQ(target->AddPartition(spec.typeId, spec.fileSystemType, spec.sectorCount, 'D', 0, 0), 0);
    uint32_t bytes = 0, compression = 99;
    ASSERT_EQ(source->ReadBlockBitmapRaw(buffer.data(), 131072, &bytes, &compression), 0);
    EXPECT_EQ(compression, 0u);
    ASSERT_EQ(target->WriteBlockBitmapRaw(buffer.data(), bytes, 2, 1500, 1500, compression), 0);
    for (;;) {
        uint32_t got = 0;
        ASSERT_EQ(source->ReadRawData(buffer.data(), 131072, &got, &compression), 0);
        if (got == 0)
            break;
        uint32_t written = 0;
        ASSERT_EQ(target->WriteRawData(buffer.data(), got, &written, compression), 0);
        EXPECT_EQ(written, got);
    }
    ASSERT_EQ(source->ReleasePartition(1), 0);
    ASSERT_EQ(target->ReleasePartition(1), 0);

    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*target, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(spec));
}

// Between two of our images the records go file to file: what arrives is what ReadRawData gives, in runs of
// any step down to one record, plain or compressed and protected alike.
TEST(ZbiImageStore, StoredFormCopiesFileToFile)
{
    test::TempDir dir;
    PartitionSpec plain;
    plain.sectorCount = 3000;
    plain.sectorsPerBlock = 2;
    plain.storedBlocks.assign(1500, true);
    for (size_t b = 100; b < 300; ++b)
        plain.storedBlocks[b] = false; // the records still lie one after another
    PartitionSpec low;
    low.sectorCount = 5000;
    low.compression = 301;
    low.compressible = true;
    low.password = "s3cret!";
    low.seed = 2;
    ImageStorePtr source = createImage(dir.file("src.zbi"));
    ASSERT_EQ(test::addPartition(*source, plain), 0);
    ASSERT_EQ(test::addPartition(*source, low), 0);
    std::vector<uint8_t> sourceRecords[2];
    for (uint32_t n = 1; n <= 2; ++n)
        ASSERT_EQ(test::readRawStream(*source, n, &sourceRecords[n - 1]), 0);

    const uint32_t oneRecord = 32 + 65536;
    for (uint32_t step : {oneRecord, 200000u, 4u << 20}) {
        SCOPED_TRACE(step);
        const std::string path = dir.file("dst" + std::to_string(step) + ".zbi");
        {
            ImageStorePtr target = createImage(path);
            ASSERT_EQ(test::copyStoredForm(*source, 1, *target, step), 0);
            ASSERT_EQ(test::copyStoredForm(*source, 2, *target, step), 0);
        }
        ImageStorePtr copy = openReadOnly(path);
        ASSERT_TRUE(copy);
        std::vector<uint8_t> records, stream;
        ASSERT_EQ(test::readRawStream(*copy, 1, &records), 0);
        EXPECT_EQ(records, sourceRecords[0]);
        ASSERT_EQ(test::readRawStream(*copy, 2, &records), 0);
        EXPECT_EQ(records, sourceRecords[1]);
        ASSERT_EQ(test::readStream(*copy, 1, &stream), 0);
        EXPECT_EQ(stream, test::storedStream(plain));
        ASSERT_EQ(test::readStream(*copy, 2, &stream), 0);
        EXPECT_EQ(stream, test::storedStream(low));
    }

    // A step smaller than the record at hand moves nothing; the copy then goes on with a larger one.
    ImageStorePtr target = createImage(dir.file("small.zbi"));
    ASSERT_EQ(source->SelectPartition(1, 0), 0);
    std::vector<uint8_t> bitmap(4096);
    uint32_t bytes = 0, compression = 0, moved = 0;
    ASSERT_EQ(source->ReadBlockBitmapRaw(bitmap.data(), 4096, &bytes, &compression), 0);
    ASSERT_EQ(target->AddPartition(plain.typeId, plain.fileSystemType, plain.sectorCount, 'C', 0, 0), 0);
    ASSERT_EQ(target->WriteBlockBitmapRaw(bitmap.data(), bytes, 2, 1500, 1300, 0), 0);
    EXPECT_EQ(target->CopyRawDataFrom(*source, oneRecord - 1, &moved), rc::kInvalidArgument);
    do
        ASSERT_EQ(target->CopyRawDataFrom(*source, 1 << 20, &moved), 0);
    while (moved != 0);
    EXPECT_EQ(target->ReleasePartition(1), 0);
    // The stored form may not be mixed with plain data.
    ASSERT_EQ(source->ResetStream(), 0);
    ASSERT_EQ(target->AddPartition(plain.typeId, plain.fileSystemType, plain.sectorCount, 'C', 0, 0), 0);
    ASSERT_EQ(target->WriteBlockBitmapRaw(bitmap.data(), bytes, 2, 1500, 1300, 0), 0);
    ASSERT_EQ(target->CopyRawDataFrom(*source, 1 << 20, &moved), 0);
    uint32_t written = 0;
    EXPECT_EQ(target->WriteData(bitmap.data(), 512, &written), rc::kWrongSequence);
}

TEST(ZbiImageStore, RawWritesRejectRecordsThatDoNotFit)
{
    test::TempDir dir;
    PartitionSpec spec;
    spec.sectorCount = 512;
    ImageStorePtr source = createImage(dir.file("src.zbi"));
    ASSERT_EQ(test::addPartition(*source, spec), 0);
    ASSERT_EQ(source->SelectPartition(1, 0), 0);
    std::vector<uint8_t> buffer(1 << 20);
    uint32_t got = 0, compression = 0;
    ASSERT_EQ(source->ReadRawData(buffer.data(), 1000, &got, &compression), rc::kInvalidArgument);
    ASSERT_EQ(source->ReadRawData(buffer.data(), 1 << 20, &got, &compression), 0);

    ImageStorePtr target = createImage(dir.file("dst.zbi"));
    std::vector<uint8_t> bitmap = test::bitmapOf(spec);
    ASSERT_EQ(target->AddPartition(6, 1, 512, 'C', 0, 0), 0);
    ASSERT_EQ(target->WriteBlockBitmap(bitmap.data(), 8, 8, 64, 64, 0), 0);
    uint32_t written = 0;
    // A cut record, a damaged record, and a record of the wrong compression are all refused whole.
    EXPECT_EQ(target->WriteRawData(buffer.data(), got - 5, &written, 0), rc::kInvalidArgument);
    buffer[100] ^= 1;
    EXPECT_EQ(target->WriteRawData(buffer.data(), got, &written, 0), rc::kDataDamaged);
    buffer[100] ^= 1;
    EXPECT_EQ(target->WriteRawData(buffer.data(), got, &written, 208), rc::kInvalidArgument);
    EXPECT_EQ(target->WriteRawData(buffer.data(), got, &written, 0), 0);
    EXPECT_EQ(target->ReleasePartition(1), 0);
}

TEST(ZbiImageStore, ReleaseRefusesAPartitionWithMissingData)
{
    test::TempDir dir;
    ImageStorePtr store = createImage(dir.file("a.zbi"));
    std::vector<uint8_t> bitmap(1, 0x03);
    ASSERT_EQ(store->AddPartition(6, 1, 16, 'C', 0, 0), 0);
    EXPECT_EQ(store->ReleasePartition(1), rc::kWrongSequence);                              // no bitmap yet
    EXPECT_EQ(store->WriteBlockBitmap(bitmap.data(), 1, 8, 2, 1, 0), rc::kInvalidArgument); // count disagrees
    ASSERT_EQ(store->WriteBlockBitmap(bitmap.data(), 1, 8, 2, 2, 0), 0);
    std::vector<uint8_t> data(8192, 7);
    uint32_t written = 0;
    ASSERT_EQ(store->WriteData(data.data(), 4096, &written), 0);
    EXPECT_EQ(store->ReleasePartition(1), rc::kWrongSequence);
    EXPECT_EQ(store->WriteData(data.data(), 8192, &written),
              rc::kInvalidArgument); // more than the blocks hold
    ASSERT_EQ(store->WriteData(data.data(), 4096, &written), 0);
    EXPECT_EQ(store->ReleasePartition(1), 0);
    EXPECT_EQ(store->GetPartitionCount(), 1u);
    // The refused release left no short chunk behind: the image opens again with the data whole.
    ASSERT_EQ(store->Close(), 0);
    store = openImage(dir.file("a.zbi"));
    ASSERT_TRUE(store);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream), 0);
    EXPECT_EQ(stream, std::vector<uint8_t>(8192, 7));
}

TEST(ZbiImageStore, UnreleasedPartitionIsNeverKept)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, PartitionSpec{}), 0);
        ASSERT_EQ(store->AddPartition(6, 1, 64, 'E', 0, 0), 0);
        ASSERT_EQ(store->SetNewPartitionName("half"), 0);
        EXPECT_EQ(store->GetPartitionCount(), 1u);
    } // destroyed without release
    ImageStorePtr store = openImage(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->GetPartitionCount(), 1u);
}

TEST(ZbiImageStore, NamesAndCommentsAreClampedAndPersist)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(store->SetImageName(std::string(150, 'n').c_str()), 0);
        ASSERT_EQ(store->SetImageComment(std::string(500, 'c').c_str()), 0);
        ASSERT_EQ(test::addPartition(*store, PartitionSpec{}), 0);
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        // A multi-byte character is not cut in half at the limit.
        ASSERT_EQ(store->SetPartitionName((std::string(98, 'p') + "\xC3\xA9").c_str()), 0);
        ASSERT_EQ(store->ReleasePartition(1), 0);
    }
    ImageStorePtr store = openImage(path);
    char name[100], comment[400];
    ASSERT_EQ(store->GetImageName(name, sizeof name), 0);
    EXPECT_EQ(std::string(name), std::string(99, 'n'));
    ASSERT_EQ(store->GetImageComment(comment, sizeof comment), 0);
    EXPECT_EQ(std::string(comment), std::string(399, 'c'));
    EXPECT_EQ(partitionName(*store, 1), std::string(98, 'p'));
    char small[4];
    ASSERT_EQ(store->GetImageName(small, sizeof small), 0);
    EXPECT_STREQ(small, "nnn");
}

TEST(ZbiImageStore, DeletingGivesSpaceBackAndCyclesDoNotGrowTheFile)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    ImageStorePtr store = createImage(path);
    uint64_t empty = fileSize(path);
    PartitionSpec small;
    small.sectorCount = 2048;
    PartitionSpec big = small;
    big.sectorCount = 8192;
    big.seed = 2;
    ASSERT_EQ(test::addPartition(*store, small), 0);
    ASSERT_EQ(test::addPartition(*store, big), 0);
    uint64_t both = fileSize(path);
    EXPECT_GT(both, empty + (2048 + 8192) * 512u);

    ASSERT_EQ(store->SelectPartition(2, 0), 0);
    ASSERT_EQ(store->DeleteCurrentPartition(), 0);
    EXPECT_LT(fileSize(path), both - 8192 * 512u + 65536);

    uint64_t largest = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        big.seed = 10 + static_cast<uint32_t>(cycle);
        ASSERT_EQ(test::addPartition(*store, big), 0);
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        ASSERT_EQ(store->DeleteCurrentPartition(), 0);
        ASSERT_EQ(test::addPartition(*store, small), 0);
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        ASSERT_EQ(store->DeleteCurrentPartition(), 0);
        largest = std::max(largest, fileSize(path));
    }
    EXPECT_LT(largest, 2 * both);
    ASSERT_EQ(store->GetPartitionCount(), 1u);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(small));
}

TEST(ZbiImageStore, SecondWriterIsRefusedButReadersAreNot)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    ImageStorePtr writer = createImage(path);
    ASSERT_EQ(test::addPartition(*writer, PartitionSpec{}), 0);
    ASSERT_EQ(writer->SetImageName("committed"), 0); // a change commits the released partition with it
    uint32_t error = 0;
    EXPECT_FALSE(openImage(path, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kImageLocked));
    uint32_t unused = 0;
    EXPECT_FALSE(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &unused));
    ImageStorePtr reader = openReadOnly(path, &error);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->GetPartitionCount(), 1u);
    EXPECT_EQ(reader->SetImageName("x"), rc::kImageReadOnly);
    writer.reset();
    EXPECT_TRUE(openImage(path));
}

TEST(ZbiImageStore, ReadOnlyFileOpensOnlyReadOnly)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    createImage(path).reset();
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    uint32_t error = 0;
    EXPECT_FALSE(openImage(path, &error));
    EXPECT_EQ(error, 5u);
    ImageStorePtr store = openReadOnly(path);
    ASSERT_TRUE(store);
    uint32_t readOnly = 0;
    EXPECT_EQ(store->IsReadOnly(&readOnly), 0);
    EXPECT_EQ(readOnly, 1u);
}

TEST(ZbiImageStore, NewerFormatVersionIsRefused)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    createImage(path).reset();
    // Rewrite the live superblock with version 2 and a correct checksum.
    std::vector<std::byte> slot(512);
    {
        std::ifstream in(path, std::ios::binary);
        in.seekg(512);
        in.read(reinterpret_cast<char *>(slot.data()), 512);
    }
    slot[8] = std::byte{2};
    uint64_t sum = zbi::checksum(std::span<const std::byte>(slot).first(504));
    for (int i = 0; i < 8; ++i)
        slot[504 + static_cast<size_t>(i)] = static_cast<std::byte>((sum >> (8 * i)) & 0xFF);
    {
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(512);
        out.write(reinterpret_cast<const char *>(slot.data()), 512);
    }
    uint32_t error = 0;
    EXPECT_FALSE(openImage(path, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kNewerVersion));
    EXPECT_FALSE(openReadOnly(path, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kNewerVersion));
}

TEST(ZbiImageStore, DamageIsReportedNeverReturnedAsData)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    PartitionSpec spec;
    spec.sectorCount = 4096;
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, spec), 0);
    }
    // A byte in the middle of the data: the chunk holding it fails, the ones before it still read.
    flipByte(path, 4096 + 1024 * 1024);
    ImageStorePtr store = openReadOnly(path);
    ASSERT_TRUE(store);
    std::vector<uint8_t> stream;
    EXPECT_EQ(test::readStream(*store, 1, &stream), rc::kDataDamaged);
    EXPECT_FALSE(stream.empty());
    // Whole chunks and small pieces, read going forward, are checked as surely as chunks kept for later:
    // what comes before the damaged chunk is the stored data, and the damage stops the reader.
    const std::vector<uint8_t> expected = test::storedStream(spec);
    for (uint32_t readSize : {65536u, 3 * 65536u, 4096u, 5000u}) {
        EXPECT_EQ(test::readStream(*store, 1, &stream, readSize), rc::kDataDamaged) << readSize;
        ASSERT_FALSE(stream.empty()) << readSize;
        ASSERT_LT(stream.size(), expected.size()) << readSize;
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), expected.begin())) << readSize;
    }
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    std::vector<uint8_t> buffer(200000);
    uint32_t got = 0, compression = 0;
    uint32_t result = 0;
    for (int i = 0; i < 40 && result == 0; ++i) {
        result = static_cast<uint32_t>(store->ReadRawData(buffer.data(), 200000, &got, &compression));
        if (got == 0)
            break;
    }
    EXPECT_EQ(result, static_cast<uint32_t>(rc::kDataDamaged));
}

TEST(ZbiImageStore, GarbageAndTruncatedFilesAreRefusedCleanly)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, PartitionSpec{}), 0);
    }
    uint32_t error = 0;
    std::filesystem::resize_file(path, 2000);
    EXPECT_FALSE(openReadOnly(path, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kImageDamaged));

    std::ofstream(dir.file("empty.zbi")).close();
    EXPECT_FALSE(openReadOnly(dir.file("empty.zbi"), &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kNotAnImage));

    std::vector<uint8_t> junk = test::patternBytes(100000, 5);
    std::ofstream(dir.file("junk.zbi"), std::ios::binary)
        .write(reinterpret_cast<const char *>(junk.data()), 100000);
    EXPECT_FALSE(openImage(dir.file("junk.zbi"), &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kNotAnImage));

    EXPECT_FALSE(openReadOnly(dir.file("missing.zbi"), &error));
    EXPECT_EQ(error, 2u);
}

TEST(ZbiImageStore, CreateNewReplacesAnExistingImage)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, PartitionSpec{}), 0);
    }
    ImageStorePtr store = createImage(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->GetPartitionCount(), 0u);
    // No temporary file is left beside it.
    size_t files = 0;
    for (auto &entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.is_regular_file() ? 1u : 0u;
    EXPECT_EQ(files, 1u);
}

TEST(ZbiImageStore, SelectionRulesAreEnforced)
{
    test::TempDir dir;
    ImageStorePtr store = createImage(dir.file("a.zbi"));
    ASSERT_EQ(test::addPartition(*store, PartitionSpec{}), 0);
    uint32_t v = 0;
    EXPECT_EQ(store->GetSectorCount(&v), rc::kNoPartitionSelected);
    EXPECT_EQ(store->SelectPartition(0, 0), rc::kBadPartitionNumber);
    EXPECT_EQ(store->SelectPartition(2, 0), rc::kBadPartitionNumber);
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    EXPECT_EQ(store->SetPartitionPassword(5), rc::kWrongSequence);
    EXPECT_EQ(store->GetPartitionNumber(&v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(store->AddPartition(6, 1, 64, 'D', 150, 0), rc::kUnsupportedCompression);
    ASSERT_EQ(store->AddPartition(6, 1, 64, 'D', 0, 0), 0);
    EXPECT_EQ(store->SelectPartition(1, 0), rc::kWrongSequence);
    EXPECT_EQ(store->GetPartitionNumber(&v), 0);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(store->DeleteCurrentPartition(), 0);
    EXPECT_EQ(store->GetPartitionCount(), 1u);
    EXPECT_EQ(store->Close(), 0);
    const void *records = &v;
    EXPECT_EQ(store->GetSpanTable(&v, &records), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(store->SelectPartition(1, 0), rc::kWrongSequence);
}
