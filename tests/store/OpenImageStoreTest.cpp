#include "store/OpenImageStore.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ScriptedExports.h"
#include "common/ResultCodes.h"
#include "tests/support/FakeStore.h"
#include "tests/support/TempDir.h"

namespace imbrex::store {
namespace {

using Names = std::vector<std::string>;

class OpenImageStoreTest : public ::testing::Test
{
protected:
    std::string existingFile(bool readOnly)
    {
        std::string path = m_dir.file("image.zbi");
        std::ofstream(path) << "x";
        if (readOnly)
            std::filesystem::permissions(path, std::filesystem::perms::owner_read);
        return path;
    }

    test::TempDir m_dir;
    test::ScriptedExports m_exports;
    test::FakeStore m_store;
    IMGSTORE_UI_CALLBACK m_callback;
};

TEST_F(OpenImageStoreTest, MissingFileIsCreated)
{
    m_exports.createNew.store = &m_store;
    std::string path = m_dir.file("new.zbi");
    OpenedImageStore opened = OpenImageStore(path, 650000000, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store.get(), &m_store);
    EXPECT_EQ(opened.error, 0);
    EXPECT_FALSE(opened.readOnly);
    ASSERT_EQ(m_exports.callNames(), Names{"ImageStoreCreateNew"});
    EXPECT_EQ(m_exports.calls[0].path, path);
    EXPECT_EQ(m_exports.calls[0].splitSize, 650000000u);
    EXPECT_EQ(m_exports.calls[0].callback, &m_callback);
}

// The error of a failed creation (a full medium, say) is what the caller reports, so no read-only attempt on
// the missing file may replace it.
TEST_F(OpenImageStoreTest, FailedCreationKeepsItsError)
{
    m_exports.createNew.error = rc::kMediaFull;
    m_exports.openReadOnly.store = &m_store;
    OpenedImageStore opened =
        OpenImageStore(m_dir.file("new.zbi"), kNoSplit, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store, nullptr);
    EXPECT_EQ(opened.error, rc::kMediaFull);
    EXPECT_FALSE(opened.readOnly);
    EXPECT_EQ(m_exports.callNames(), Names{"ImageStoreCreateNew"});
}

TEST_F(OpenImageStoreTest, WritableFileOpensForWriting)
{
    m_exports.open.store = &m_store;
    std::string path = existingFile(false);
    OpenedImageStore opened = OpenImageStore(path, kNoSplit, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store.get(), &m_store);
    EXPECT_EQ(opened.error, 0);
    EXPECT_FALSE(opened.readOnly);
    ASSERT_EQ(m_exports.callNames(), Names{"ImageStoreOpen"});
    EXPECT_EQ(m_exports.calls[0].splitSize, kNoSplit);
}

TEST_F(OpenImageStoreTest, ReadOnlyFileSkipsTheWritingOpen)
{
    m_exports.open.store = &m_store; // would succeed, but must not be tried
    m_exports.openReadOnly.store = &m_store;
    OpenedImageStore opened = OpenImageStore(existingFile(true), kNoSplit, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store.get(), &m_store);
    EXPECT_TRUE(opened.readOnly);
    EXPECT_EQ(m_exports.callNames(), Names{"ImageStoreOpenReadOnly"});
}

TEST_F(OpenImageStoreTest, FailedWritingOpenFallsBackToReadOnly)
{
    m_exports.open.error = rc::kImageLocked;
    m_exports.openReadOnly.store = &m_store;
    OpenedImageStore opened = OpenImageStore(existingFile(false), kNoSplit, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store.get(), &m_store);
    EXPECT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.readOnly);
    EXPECT_EQ(m_exports.callNames(), (Names{"ImageStoreOpen", "ImageStoreOpenReadOnly"}));
}

TEST_F(OpenImageStoreTest, ErrorIsThatOfTheLastAttempt)
{
    m_exports.open.error = rc::kNewerVersion;
    m_exports.openReadOnly.error = rc::kNotAnImage;
    OpenedImageStore opened = OpenImageStore(existingFile(false), kNoSplit, &m_callback, m_exports.exports());

    EXPECT_EQ(opened.store, nullptr);
    EXPECT_EQ(opened.error, rc::kNotAnImage);
    EXPECT_FALSE(opened.readOnly);
    EXPECT_EQ(m_exports.callNames(), (Names{"ImageStoreOpen", "ImageStoreOpenReadOnly"}));
}

TEST_F(OpenImageStoreTest, StoreIsDestroyedWithItsHandle)
{
    m_exports.open.store = &m_store;
    {
        OpenedImageStore opened =
            OpenImageStore(existingFile(false), kNoSplit, &m_callback, m_exports.exports());
        EXPECT_FALSE(m_store.destroyed);
    }
    EXPECT_TRUE(m_store.destroyed);
}

} // namespace
} // namespace imbrex::store
