#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/Keyring.h"
#include "imgstore/zbimgstr.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using imbrex::test::PartitionSpec;

namespace {

ImageStorePtr createImage(const std::string &path)
{
    uint32_t error = 0;
    return ImageStorePtr(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
}

ImageStorePtr openReadOnly(const std::string &path)
{
    uint32_t error = 0;
    return ImageStorePtr(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
}

uint64_t storedSize(ImageStore &store, uint32_t number)
{
    uint32_t low = 0, high = 0;
    EXPECT_EQ(store.SelectPartition(number, 0), 0);
    EXPECT_EQ(store.GetStoredSize(&low, &high, 0), 0);
    EXPECT_EQ(store.ReleasePartition(1), 0);
    return (uint64_t{high} << 32) | low;
}

std::vector<uint8_t> fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Copies partition 1 of source into target in stored form, as a copy that keeps compression and password
// does.
void copyStoredForm(ImageStore &source, ImageStore &target, uint32_t password)
{
    ASSERT_EQ(source.SelectPartition(1, 0), 0);
    uint32_t type = 0, fs = 0, sectors = 0, compression = 0, blocks = 0, used = 0, spb = 0;
    ASSERT_EQ(source.GetPartitionTypeId(&type), 0);
    ASSERT_EQ(source.GetFileSystemType(&fs), 0);
    ASSERT_EQ(source.GetSectorCount(&sectors), 0);
    ASSERT_EQ(source.GetCompression(&compression), 0);
    ASSERT_EQ(source.GetBlockCount(&blocks), 0);
    ASSERT_EQ(source.GetUsedBlockCount(&used), 0);
    ASSERT_EQ(source.GetSectorsPerBlock(&spb), 0);
    ASSERT_EQ(target.AddPartition(type, fs, sectors, 'C', compression, 0), 0);
    ASSERT_EQ(target.SetPartitionPassword(password), 0);
    std::vector<uint8_t> buffer(131072);
    uint32_t bytes = 0, got = 0, written = 0;
    ASSERT_EQ(source.ReadBlockBitmapRaw(buffer.data(), 131072, &bytes, &compression), 0);
    ASSERT_EQ(target.WriteBlockBitmapRaw(buffer.data(), bytes, spb, blocks, used, compression), 0);
    for (;;) {
        ASSERT_EQ(source.ReadRawData(buffer.data(), 131072, &got, &compression), 0);
        if (got == 0)
            break;
        ASSERT_EQ(target.WriteRawData(buffer.data(), got, &written, compression), 0);
    }
    ASSERT_EQ(source.ReleasePartition(1), 0);
    ASSERT_EQ(target.ReleasePartition(1), 0);
}

class Compression : public ::testing::TestWithParam<uint32_t>
{
};

} // namespace

TEST_P(Compression, RoundTripsAndResumesAnywhere)
{
    test::TempDir dir;
    PartitionSpec spec;
    spec.compression = GetParam();
    spec.compressible = true;
    spec.sectorCount = 5000;
    spec.sectorsPerBlock = 4;
    spec.storedBlocks.assign(1250, true);
    for (size_t b = 7; b < 1250; b += 11)
        spec.storedBlocks[b] = false;
    std::string path = dir.file("a.zbi");
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, spec, 12345), 0);
    }
    ImageStorePtr store = openReadOnly(path);
    ASSERT_TRUE(store);
    std::vector<uint8_t> expected = test::storedStream(spec);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream, 65536), 0);
    ASSERT_EQ(stream, expected);
    uint32_t compression = 0;
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    ASSERT_EQ(store->GetCompression(&compression), 0);
    EXPECT_EQ(compression, GetParam());

    // Reading 64 KiB after a seek to a position the stream reported gives what reading on from the start
    // gives.
    std::mt19937 random(GetParam());
    std::vector<uint8_t> buffer(65536);
    for (int i = 0; i < 25; ++i) {
        uint64_t position = random() % expected.size();
        if (i % 2 == 0)
            position -= position % 65536; // chunk boundaries, where checkpoints lie
        ASSERT_EQ(store->SeekData(static_cast<uint32_t>(position), 0), 0);
        ASSERT_EQ(store->GetDataPosition(), position);
        uint32_t got = 0;
        ASSERT_EQ(store->ReadData(buffer.data(), 65536, &got), 0);
        ASSERT_EQ(got, std::min<uint64_t>(65536, expected.size() - position));
        ASSERT_TRUE(
            std::equal(buffer.begin(), buffer.begin() + got, expected.begin() + static_cast<long>(position)))
            << "at " << position;
        EXPECT_EQ(store->GetDataPosition(), position + got);
    }
    // Skipping moves the position as reading would, and stops at the end; the one stream of the legacy
    // codes cannot be passed over without decoding it.
    ASSERT_EQ(store->SeekData(0, 0), 0);
    uint32_t skipped = 0;
    if (GetParam() >= 1 && GetParam() <= 8) {
        EXPECT_EQ(store->SkipData(100000, &skipped), rc::kNotSupported);
    } else {
        ASSERT_EQ(store->SkipData(100000, &skipped), 0);
        EXPECT_EQ(skipped, 100000u);
        uint32_t got = 0;
        ASSERT_EQ(store->ReadData(buffer.data(), 65536, &got), 0);
        ASSERT_EQ(got, 65536u);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), expected.begin() + 100000));
        ASSERT_EQ(store->SeekData(static_cast<uint32_t>(expected.size() - 10), 0), 0);
        ASSERT_EQ(store->SkipData(65536, &skipped), 0);
        EXPECT_EQ(skipped, 10u);
        EXPECT_EQ(store->GetDataPosition(), expected.size());
    }

    uint32_t stateSize = 1, tail = 1;
    EXPECT_EQ(store->GetDecoderStateSize(&stateSize), 0);
    EXPECT_EQ(store->GetTailByteCount(&tail), 0);
    EXPECT_EQ(stateSize, 0u);
    EXPECT_EQ(tail, 0u);
    EXPECT_EQ(store->ReleasePartition(1), 0);

    // The stored form moves to another image unchanged and still reads the same.
    ImageStorePtr copy = createImage(dir.file("b.zbi"));
    copyStoredForm(*store, *copy, 0);
    ASSERT_EQ(test::readStream(*copy, 1, &stream), 0);
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(storedSize(*copy, 1), storedSize(*store, 1));
}

INSTANTIATE_TEST_SUITE_P(Codes, Compression, ::testing::Values(0u, 100u, 301u, 305u, 200u, 208u, 1u, 8u));

// Readers of a volume go forward through files, jump to tables and back, and come back to chunks they read
// long before; chunks decoded ahead by the workers, kept for later, read straight into the caller's buffer or
// taken from the read window must come back as exactly the chunk asked for. The partition is larger than the
// decoded chunks kept (16 MiB), so chunks are also dropped and decoded again.
TEST(CompressionFamilies, ReadsGoingOnJumpingAndComingBackGiveTheStoredBytes)
{
    test::TempDir dir;
    PartitionSpec spec;
    spec.compressible = true;
    spec.sectorCount = 48 * 2048; // 24 MiB
    spec.sectorsPerBlock = 8;
    for (auto [compression, password] :
         {std::pair<uint32_t, const char *>{100, ""}, {100, "sesame"}, {0, ""}, {0, "sesame"}, {208, ""}}) {
        spec.compression = compression;
        spec.password = password;
        std::string path = dir.file(std::to_string(compression) + password + ".zbi");
        {
            ImageStorePtr store = createImage(path);
            ASSERT_EQ(test::addPartition(*store, spec), 0);
        }
        const std::vector<uint8_t> expected = test::storedStream(spec);
        ImageStorePtr store = openReadOnly(path);
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        std::mt19937 random(7);
        std::vector<uint8_t> buffer(2 * 65536);
        uint64_t position = 0;
        for (int step = 0; step < 600; ++step) {
            switch (random() % 4) {
            case 0: // a jump anywhere
                position = random() % expected.size();
                break;
            case 1: // back a little, as to a table read before
                position -= std::min<uint64_t>(position, random() % (3 * 65536));
                break;
            default: // on from where the last read ended
                break;
            }
            if (position >= expected.size())
                position = 0;
            auto size = static_cast<uint32_t>(1 + random() % buffer.size());
            ASSERT_EQ(store->SeekData(static_cast<uint32_t>(position), 0), 0);
            uint32_t got = 0;
            ASSERT_EQ(store->ReadData(buffer.data(), size, &got), 0);
            ASSERT_EQ(got, std::min<uint64_t>(size, expected.size() - position));
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + got,
                                   expected.begin() + static_cast<long>(position)))
                << "code " << compression << ", password \"" << password << "\", step " << step << ", at "
                << position;
            position += got;
        }
        EXPECT_EQ(store->ReleasePartition(1), 0);
    }
}

TEST(CompressionFamilies, HighStoresLessThanLowWhichStoresLessThanNone)
{
    test::TempDir dir;
    ImageStorePtr store = createImage(dir.file("a.zbi"));
    for (uint32_t code : {0u, 301u, 208u, 5u}) {
        PartitionSpec spec;
        spec.compression = code;
        spec.compressible = true;
        spec.sectorCount = 4096;
        ASSERT_EQ(test::addPartition(*store, spec), 0) << code;
    }
    uint64_t none = storedSize(*store, 1), low = storedSize(*store, 2), high = storedSize(*store, 3);
    uint64_t legacy = storedSize(*store, 4);
    EXPECT_LT(low, none / 2);
    EXPECT_LT(high, low * 95 / 100);
    EXPECT_LT(legacy, none / 2);
}

TEST(CompressionFamilies, IncompressibleChunksAreStoredPlainOrInTheStream)
{
    test::TempDir dir;
    ImageStorePtr store = createImage(dir.file("a.zbi"));
    for (uint32_t code : {301u, 3u}) {
        PartitionSpec spec;
        spec.compression = code;
        spec.sectorCount = 1024;
        ASSERT_EQ(test::addPartition(*store, spec), 0) << code;
    }
    for (uint32_t n : {1u, 2u}) {
        std::vector<uint8_t> stream;
        ASSERT_EQ(test::readStream(*store, n, &stream), 0);
        PartitionSpec spec;
        spec.sectorCount = 1024;
        EXPECT_EQ(stream, test::storedStream(spec));
        EXPECT_LT(storedSize(*store, n), 1024u * 512 + 16 * 1024);
    }
}

TEST(CompressionFamilies, DamagedCompressedChunkIsAnError)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    PartitionSpec spec;
    spec.compression = 208;
    spec.compressible = true;
    spec.sectorCount = 4096;
    {
        ImageStorePtr store = createImage(path);
        ASSERT_EQ(test::addPartition(*store, spec), 0);
    }
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096 + 20000);
        f.put('\x01');
    }
    ImageStorePtr store = openReadOnly(path);
    std::vector<uint8_t> stream;
    EXPECT_EQ(test::readStream(*store, 1, &stream), rc::kDataDamaged);
}

TEST(Password, ProtectedDataIsEncryptedAndNeedsThePassword)
{
    test::TempDir dir;
    std::string path = dir.file("a.zbi");
    PartitionSpec spec;
    spec.password = "correct horse";
    spec.sectorCount = 2048;
    spec.compressible = true;
    for (uint32_t code : {0u, 301u}) {
        spec.compression = code;
        {
            ImageStorePtr store = createImage(path);
            ASSERT_EQ(test::addPartition(*store, spec), 0);
            uint32_t value = 0;
            ASSERT_EQ(store->SelectPartition(1, 0), 0);
            ASSERT_EQ(store->GetPartitionPassword(&value), 0);
            EXPECT_EQ(value, ConvertPasswordString("correct horse"));
            EXPECT_EQ(store->ReleasePartition(1), 0);
        }
        // No 64-byte run of the content is in the file.
        std::vector<uint8_t> content = test::storedStream(spec);
        std::vector<uint8_t> file = fileBytes(path);
        for (size_t offset = 0; offset + 64 <= content.size(); offset += 4093)
            ASSERT_EQ(std::search(file.begin(), file.end(), content.begin() + static_cast<long>(offset),
                                  content.begin() + static_cast<long>(offset) + 64),
                      file.end())
                << "compression " << code << ", offset " << offset;

        // Another process that never saw the password text cannot read it; with the text it can.
        pid_t child = ::fork();
        if (child == 0) {
            zbi::forgetPasswordTexts();
            ImageStorePtr store = openReadOnly(path);
            std::vector<uint8_t> stream;
            if (test::readStream(*store, 1, &stream) != rc::kWrongPassword)
                ::_exit(1);
            std::vector<uint8_t> bitmap(64);
            uint32_t spb = 0, got = 0;
            (void)store->SelectPartition(1, 0);
            if (store->ReadBlockBitmap(bitmap.data(), 64, &spb, &got) != rc::kWrongPassword)
                ::_exit(2);
            (void)store->ReleasePartition(1);
            (void)ConvertPasswordString("wrong horse");
            if (test::readStream(*store, 1, &stream) != rc::kWrongPassword)
                ::_exit(3);
            (void)ConvertPasswordString("correct horse");
            if (test::readStream(*store, 1, &stream) != 0 || stream != test::storedStream(spec))
                ::_exit(4);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
}

TEST(Password, StoredFormCopyMovesCiphertextAndKeepsItsProtection)
{
    test::TempDir dir;
    PartitionSpec spec;
    spec.password = "s3cret!";
    spec.compression = 208;
    spec.compressible = true;
    spec.sectorCount = 1500;
    ImageStorePtr source = createImage(dir.file("a.zbi"));
    ASSERT_EQ(test::addPartition(*source, spec), 0);
    ImageStorePtr target = createImage(dir.file("b.zbi"));
    uint32_t value = ConvertPasswordString("s3cret!");
    copyStoredForm(*source, *target, value);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*target, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(spec));

    // The stored form of a protected partition cannot go into one that is not protected.
    ASSERT_EQ(source->SelectPartition(1, 0), 0);
    std::vector<uint8_t> bitmap(4096);
    uint32_t bytes = 0, compression = 0;
    ASSERT_EQ(source->ReadBlockBitmapRaw(bitmap.data(), 4096, &bytes, &compression), 0);
    ASSERT_EQ(target->AddPartition(6, 1, 1500, 'D', 208, 0), 0);
    EXPECT_EQ(target->WriteBlockBitmapRaw(bitmap.data(), bytes, 8, 188, 188, 208), rc::kInvalidArgument);
}

TEST(Password, ANewPasswordNeedsItsText)
{
    test::TempDir dir;
    ImageStorePtr store = createImage(dir.file("a.zbi"));
    ASSERT_EQ(store->AddPartition(6, 1, 16, 'C', 0, 0), 0);
    ASSERT_EQ(store->SetPartitionPassword(0x12345678), 0); // a value no text was converted to
    uint8_t bitmap = 3;
    EXPECT_EQ(store->WriteBlockBitmap(&bitmap, 1, 8, 2, 2, 0), rc::kWrongPassword);
}

TEST(Password, ConvertPasswordStringIsFnv1a)
{
    EXPECT_EQ(ConvertPasswordString(""), 0u);
    EXPECT_EQ(ConvertPasswordString(nullptr), 0u);
    EXPECT_EQ(ConvertPasswordString("a"), 0xE40C292Cu);
    EXPECT_EQ(ConvertPasswordString("foobar"), 0xBF9CF968u);
    EXPECT_NE(ConvertPasswordString("secret"), ConvertPasswordString("Secret"));
}
