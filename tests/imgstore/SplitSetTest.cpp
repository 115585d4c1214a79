#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/ImageFile.h"
#include "imgstore/zbimgstr.h"
#include "platform/File.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using imbrex::test::PartitionSpec;

namespace {

constexpr uint32_t kSplit = 10000000;

// Answers the store's questions from a script and records them.
class ScriptedCallback : public IMGSTORE_UI_CALLBACK
{
public:
    bool answer = false;
    std::vector<std::string> asked;

    bool PromptMediaWithFile(const char *file) override { return record("media " + std::string(file)); }
    bool PromptNumberedMedia(const char *file, int number) override
    {
        return record("numbered " + std::to_string(number) + " " + file);
    }
    bool PromptNewMediaForFile(const char *file) override { return record("new media " + std::string(file)); }
    bool ConfirmReplaceFile(const char *file) override { return record("replace " + std::string(file)); }
    void ReportWrongMedia() override { asked.push_back("wrong media"); }
    void ReportMediaFull() override { asked.push_back("media full"); }

private:
    bool record(const std::string &what)
    {
        asked.push_back(what);
        return answer;
    }
};

PartitionSpec bigPartition(uint32_t seed = 1)
{
    PartitionSpec spec;
    spec.sectorCount = 48000; // about 24.6 MB of data: three parts of 10 MB
    spec.seed = seed;
    return spec;
}

ImageStorePtr createSplit(const std::string &path, IMGSTORE_UI_CALLBACK *callback = nullptr)
{
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreCreateNew(path.c_str(), kSplit, 0, 0, callback, &error));
    EXPECT_EQ(error, 0u);
    return store;
}

} // namespace

TEST(SplitSet, PartNamesReplaceTheExtension)
{
    EXPECT_EQ(zbi::partPath("/a/b/disk.zbi", 1), "/a/b/disk.zbi");
    EXPECT_EQ(zbi::partPath("/a/b/disk.zbi", 2), "/a/b/disk.002");
    EXPECT_EQ(zbi::partPath("/a/b/disk.zbi", 123), "/a/b/disk.123");
    EXPECT_EQ(zbi::partPath("/a/b.d/disk", 3), "/a/b.d/disk.003");
    EXPECT_EQ(zbi::partPath("disk", 2), "disk.002");
}

TEST(SplitSet, DataIsSpreadOverPartsOfAtMostTheSplitSize)
{
    test::TempDir dir;
    std::string path = dir.file("set.zbi");
    PartitionSpec spec = bigPartition();
    {
        ImageStorePtr store = createSplit(path);
        ASSERT_EQ(test::addPartition(*store, spec, 1 << 20), 0);
    }
    for (uint32_t k = 1; k <= 3; ++k) {
        std::string part = zbi::partPath(path, k);
        ASSERT_TRUE(std::filesystem::exists(part)) << part;
        EXPECT_LE(std::filesystem::file_size(part), kSplit);
    }
    EXPECT_FALSE(std::filesystem::exists(zbi::partPath(path, 4)));

    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
    ASSERT_TRUE(store) << error;
    uint32_t spanned = 0;
    EXPECT_EQ(store->IsSpanned(&spanned), 0);
    EXPECT_EQ(spanned, 1u);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(spec));

    EXPECT_EQ(store->BuildSpanTable(), 0);
    uint32_t count = 0;
    const void *records = nullptr;
    ASSERT_EQ(store->GetSpanTable(&count, &records), 0);
    ASSERT_EQ(count, 3u);
    std::vector<uint8_t> copy(static_cast<const uint8_t *>(records),
                              static_cast<const uint8_t *>(records) + 24);
    EXPECT_EQ(store->SetSpanTable(3, copy.data()), 0);
    copy[12] ^= 1; // another image's records
    EXPECT_EQ(store->SetSpanTable(3, copy.data()), rc::kInvalidArgument);
    EXPECT_EQ(store->SetSpanTable(2, copy.data()), rc::kInvalidArgument);
}

TEST(SplitSet, DeletingThePartitionRemovesTheLaterParts)
{
    test::TempDir dir;
    std::string path = dir.file("set");
    ImageStorePtr store = createSplit(path);
    ASSERT_EQ(test::addPartition(*store, bigPartition(), 1 << 20), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("set.003")));
    ASSERT_EQ(store->SelectPartition(1, 0), 0);
    ASSERT_EQ(store->DeleteCurrentPartition(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("set.002")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("set.003")));
    EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
}

TEST(SplitSet, AMissingPartIsAskedForAndCancelFailsCleanly)
{
    test::TempDir dir;
    std::string path = dir.file("set.zbi");
    PartitionSpec spec = bigPartition();
    {
        ImageStorePtr store = createSplit(path);
        ASSERT_EQ(test::addPartition(*store, spec, 1 << 20), 0);
        ASSERT_EQ(store->SetImageName("keep the catalog in the first part"), 0);
    }
    std::filesystem::rename(dir.file("set.002"), dir.file("elsewhere"));
    ScriptedCallback callback;
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(path.c_str(), &callback, &error));
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->SelectPartition(1, 0), rc::kSpanned);
    ASSERT_FALSE(callback.asked.empty());
    EXPECT_EQ(callback.asked[0], "media " + dir.file("set.002"));

    // Put back, and the person presses OK: the part is found and the data reads.
    std::filesystem::rename(dir.file("elsewhere"), dir.file("set.002"));
    callback.answer = true;
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(spec));
}

TEST(SplitSet, APartOfAnotherSetIsReportedAsWrongMedia)
{
    test::TempDir dir;
    {
        ImageStorePtr first = createSplit(dir.file("one.zbi"));
        ASSERT_EQ(test::addPartition(*first, bigPartition(1), 1 << 20), 0);
        ASSERT_EQ(first->SetImageName("x"), 0);
        ImageStorePtr second = createSplit(dir.file("two.zbi"));
        ASSERT_EQ(test::addPartition(*second, bigPartition(2), 1 << 20), 0);
    }
    std::filesystem::copy_file(dir.file("two.002"), dir.file("one.002"),
                               std::filesystem::copy_options::overwrite_existing);
    ScriptedCallback callback;
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(dir.file("one.zbi").c_str(), &callback, &error));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->SelectPartition(1, 0), rc::kSpanned);
    ASSERT_GE(callback.asked.size(), 2u);
    EXPECT_EQ(callback.asked[0], "wrong media");
    EXPECT_EQ(callback.asked[1], "numbered 2 " + dir.file("one.002"));
}

TEST(SplitSet, AnOldPartInTheWayIsReplacedOnlyWithLeave)
{
    test::TempDir dir;
    std::string path = dir.file("set.zbi");
    {
        ImageStorePtr old = createSplit(path);
        ASSERT_EQ(test::addPartition(*old, bigPartition(1), 1 << 20), 0);
    }
    ScriptedCallback callback;
    {
        ImageStorePtr store = createSplit(path, &callback); // a new set over the old one's parts
        EXPECT_EQ(test::addPartition(*store, bigPartition(2), 1 << 20), rc::kCancelled);
        EXPECT_EQ(callback.asked.at(0), "replace " + dir.file("set.002"));
        EXPECT_EQ(store->GetPartitionCount(), 0u);
    }
    callback.answer = true;
    callback.asked.clear();
    ImageStorePtr store = createSplit(path, &callback);
    ASSERT_EQ(test::addPartition(*store, bigPartition(2), 1 << 20), 0);
    EXPECT_EQ(callback.asked.size(), 2u); // .002 and .003
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*store, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(bigPartition(2)));
}

namespace {
int fullOnThirdPart(platform::IoOperation operation, const std::string &path, uint64_t, size_t)
{
    bool third = path.size() > 4 && path.compare(path.size() - 4, 4, ".003") == 0;
    return operation == platform::IoOperation::Write && third ? platform::kErrorDiskFull : 0;
}
} // namespace

TEST(SplitSet, AFullDiskIsReportedAndCancelGives1817)
{
    test::TempDir dir;
    ScriptedCallback callback;
    ImageStorePtr store = createSplit(dir.file("set.zbi"), &callback);
    platform::setIoFaultHook(fullOnThirdPart);
    int e = test::addPartition(*store, bigPartition(), 1 << 20);
    platform::setIoFaultHook(nullptr);
    EXPECT_EQ(e, rc::kMediaFull);
    ASSERT_GE(callback.asked.size(), 2u);
    EXPECT_EQ(callback.asked[0], "media full");
    EXPECT_EQ(callback.asked[1], "new media " + dir.file("set.003"));
    EXPECT_EQ(store->DeleteCurrentPartition(), 0);
    EXPECT_EQ(store->GetPartitionCount(), 0u);
}

TEST(SplitSet, SplitSizesBelowTheMinimumAreRefused)
{
    test::TempDir dir;
    uint32_t error = 0;
    EXPECT_FALSE(ImageStoreCreateNew(dir.file("a.zbi").c_str(), 9999999, 0, 0, nullptr, &error));
    EXPECT_EQ(error, static_cast<uint32_t>(rc::kInvalidArgument));
    ImageStorePtr single(ImageStoreCreateNew(dir.file("b.zbi").c_str(), 0, 0, 0, nullptr, &error));
    ASSERT_TRUE(single);
    uint32_t spanned = 1, count = 7;
    EXPECT_EQ(single->IsSpanned(&spanned), 0);
    EXPECT_EQ(spanned, 0u);
    EXPECT_EQ(single->GetSpanTable(&count, nullptr), 0);
    EXPECT_EQ(count, 0u);
}

// A stored-form copy between a single file and a set goes file to file in pieces that end where parts end.
TEST(SplitSet, StoredFormCopyCrossesPartsBothWays)
{
    test::TempDir dir;
    PartitionSpec spec = bigPartition(7);
    uint32_t error = 0;
    ImageStorePtr single(ImageStoreCreateNew(dir.file("one.zbi").c_str(), kNoSplit, 0, 0, nullptr, &error));
    ASSERT_EQ(test::addPartition(*single, spec), 0);
    {
        ImageStorePtr set = createSplit(dir.file("set.zbi"));
        ASSERT_EQ(test::copyStoredForm(*single, 1, *set, 4u << 20), 0);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.file("set.003")));
    for (const char *part : {"set.zbi", "set.002"})
        EXPECT_EQ(std::filesystem::file_size(dir.file(part)), kSplit);

    ImageStorePtr set(ImageStoreOpenReadOnly(dir.file("set.zbi").c_str(), nullptr, &error));
    ASSERT_TRUE(set);
    ImageStorePtr back(ImageStoreCreateNew(dir.file("back.zbi").c_str(), kNoSplit, 0, 0, nullptr, &error));
    ASSERT_EQ(test::copyStoredForm(*set, 1, *back, 4u << 20), 0);
    std::vector<uint8_t> stream;
    ASSERT_EQ(test::readStream(*back, 1, &stream), 0);
    EXPECT_EQ(stream, test::storedStream(spec));
}
