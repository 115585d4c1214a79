#include "store/ImageModel.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "PinnedFormats.h"
#include "ScriptedExports.h"
#include "common/ResultCodes.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TempDir.h"

namespace imbrex::store {
namespace {

using Names = std::vector<std::string>;

class ImageModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_dir.file("disk.zbi");
        std::ofstream(m_path) << "x";
        m_exports.open.store = &m_store;
    }

    ImageModel load() { return loadImageModel(m_path, &m_callback, m_exports.exports()); }

    test::PinnedFormats m_pinned;
    test::TempDir m_dir;
    std::string m_path;
    test::ScriptedExports m_exports;
    test::FakeStore m_store;
    IMGSTORE_UI_CALLBACK m_callback;
};

TEST_F(ImageModelTest, ReadsNamesAndOneRowPerPartition)
{
    m_store.imageName = "Backup";
    m_store.imageComment = "weekly";
    m_store.partitions.resize(2);
    m_store.partitions[0].name = "One";
    m_store.partitions[0].sectorCount = 2048;
    m_store.partitions[1].name = "Two";
    m_store.partitions[1].compression = 1234;

    ImageModel model = load();
    ASSERT_NE(model.store, nullptr);
    EXPECT_EQ(model.error, 0);
    EXPECT_EQ(model.name, "Backup");
    EXPECT_EQ(model.comment, "weekly");
    ASSERT_EQ(model.rows.size(), 2u);
    EXPECT_EQ(model.rows[0], "One|C:|NTFS|Primary|2024-01-01|1 MB|None|");
    EXPECT_EQ(model.rows[1], "Two|C:|NTFS|Primary|2024-01-01|0 MB|(1,234)|");
    EXPECT_TRUE(model.spannedPartitions.empty());
    EXPECT_TRUE(m_store.everySelectionReleased());
    EXPECT_EQ(m_exports.calls.at(0).splitSize, kNoSplit);
    EXPECT_EQ(m_exports.calls.at(0).callback, &m_callback);
}

TEST_F(ImageModelTest, CallOrder)
{
    m_store.partitions.resize(2);
    ImageModel model = load();

    Names order;
    for (const std::string &call : m_store.calls)
        if (call.rfind("Select", 0) == 0 || call.rfind("Release", 0) == 0 || call.rfind("Reset", 0) == 0 ||
            call.rfind("GetImage", 0) == 0 || call == "GetPartitionCount")
            order.push_back(call);
    const Names expected = {
        "GetPartitionCount",   "SelectPartition(1)",         "ReleasePartition(1)", "SelectPartition(2)",
        "ReleasePartition(1)", "ResetPartitionSelection(0)", "GetImageName(100)",   "GetImageComment(400)",
        "GetPartitionCount",   "SelectPartition(1)",         "ReleasePartition(1)", "SelectPartition(2)",
        "ReleasePartition(1)",
    };
    EXPECT_EQ(order, expected);
}

TEST_F(ImageModelTest, SpannedPartitionsAreNotedAndStillListed)
{
    m_store.partitions.resize(3);
    m_store.partitions[1].selectError = rc::kSpanned;
    m_store.partitions[2].selectError = rc::kSpanned;

    ImageModel model = load();
    ASSERT_NE(model.store, nullptr);
    EXPECT_EQ(model.spannedPartitions, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(model.rows.size(), 3u);

    // In the first pass a spanned selection is not released; in the second every one is.
    Names firstPass(m_store.calls.begin(),
                    std::find(m_store.calls.begin(), m_store.calls.end(), "ResetPartitionSelection(0)"));
    Names selectAndRelease;
    for (const std::string &call : firstPass)
        if (call != "GetPartitionCount")
            selectAndRelease.push_back(call);
    EXPECT_EQ(selectAndRelease, (Names{"SelectPartition(1)", "ReleasePartition(1)", "SelectPartition(2)",
                                       "SelectPartition(3)"}));
    EXPECT_EQ(m_store.callsStartingWith("ReleasePartition").size(), 4u);
}

TEST_F(ImageModelTest, EmptyImageHasNoRows)
{
    ImageModel model = load();
    ASSERT_NE(model.store, nullptr);
    EXPECT_TRUE(model.rows.empty());
    EXPECT_EQ(m_store.callsStartingWith("SelectPartition").size(), 0u);
}

TEST_F(ImageModelTest, LongTextsAreCutToTheirBuffers)
{
    m_store.imageName = std::string(150, 'n');
    m_store.imageComment = std::string(500, 'c');
    ImageModel model = load();
    EXPECT_EQ(model.name, std::string(99, 'n'));
    EXPECT_EQ(model.comment, std::string(399, 'c'));
}

TEST_F(ImageModelTest, FailedOpenGivesEmptyModelWithTheError)
{
    m_exports.open = {};
    m_exports.open.error = rc::kNewerVersion;
    m_exports.openReadOnly.error = rc::kNewerVersion;
    ImageModel model = load();
    EXPECT_EQ(model.store, nullptr);
    EXPECT_EQ(model.error, rc::kNewerVersion);
    EXPECT_TRUE(model.name.empty());
    EXPECT_TRUE(model.comment.empty());
    EXPECT_TRUE(model.rows.empty());
    EXPECT_TRUE(m_store.calls.empty());
}

TEST_F(ImageModelTest, AMissingFileIsCreatedOrReportedAsTheCallerAsks)
{
    std::remove(m_path.c_str());
    m_exports.createNew.store = &m_store;
    ImageModel reported = loadImageModel(m_path, &m_callback, m_exports.exports(), MissingImage::Fail);
    EXPECT_EQ(reported.store, nullptr);
    EXPECT_EQ(reported.error, rc::kNotFound);
    EXPECT_TRUE(m_exports.calls.empty()); // nothing was created

    ImageModel created = load();
    EXPECT_NE(created.store, nullptr);
    ASSERT_EQ(m_exports.calls.size(), 1u);
    EXPECT_EQ(m_exports.calls[0].name, "ImageStoreCreateNew");
}

TEST(ImageModelMessagesTest, TextsAreTranslatedThenFilled)
{
    test::PinnedFormats pinned(true);
    EXPECT_EQ(
        openFailureMessage("a.zbi", rc::kNewerVersion),
        "<The image file 'a.zbi' was created with a newer version of Imbrex.>\n\n"
        "<We recommend upgrading to the latest version to ensure full compatibility with this image file.>");
    EXPECT_EQ(
        openFailureMessage("a.zbi", rc::kNotAnImage),
        "<An error occurred while trying to open the file 'a.zbi'. Either it is not a Korvane Image file, "
        "it's corrupted, or the disk is not in the drive.>");
    EXPECT_EQ(
        spannedImageMessage("a.zbi"),
        "<The image file 'a.zbi' is spanned across multiple media. This version of Imbrex File Editor does "
        "not support spanned image files.>");
    EXPECT_EQ(closeErrorMessage(1911, "a.zbi"), "<Error 1911 closing file a.zbi>");
    // The reason line translates its frame and the store's words separately, so either can be looked up.
    EXPECT_EQ(openFailureReason(rc::kImageDamaged),
              "<Error 1901: <the image file's catalog is damaged (checksum mismatch)>.>");
}

TEST(ImageModelMessagesTest, PlaceholdersInThePathAreNotFilledAgain)
{
    EXPECT_EQ(closeErrorMessage(5, "%d%s.zbi"), "Error 5 closing file %d%s.zbi");
    setTranslator([](std::string_view) { return std::string("file %s failed with %d"); });
    EXPECT_EQ(closeErrorMessage(5, "x"), "file x failed with 5");
    setTranslator({});
}

} // namespace
} // namespace imbrex::store
