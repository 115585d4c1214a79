// OpenImageStore over the image store library itself: the files it makes and the opens it chooses.
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "platform/File.h"
#include "store/ImageModel.h"
#include "store/OpenImageStore.h"
#include "tests/support/TempDir.h"

namespace imbrex::store {
namespace {

TEST(OpenImageStoreLibraryTest, MissingFileBecomesAnEmptyImage)
{
    test::TempDir dir;
    std::string path = dir.file("new.zbi");
    IMGSTORE_UI_CALLBACK callback;
    {
        OpenedImageStore opened = OpenImageStore(path, kNoSplit, &callback);
        ASSERT_NE(opened.store, nullptr) << opened.error;
        EXPECT_EQ(opened.error, 0);
        EXPECT_FALSE(opened.readOnly);
        EXPECT_EQ(opened.store->GetPartitionCount(), 0u);
        EXPECT_EQ(opened.store->Close(), 0);
    }
    EXPECT_TRUE(platform::fileExists(path));

    OpenedImageStore reopened = OpenImageStore(path, kNoSplit, &callback);
    ASSERT_NE(reopened.store, nullptr) << reopened.error;
    EXPECT_FALSE(reopened.readOnly);
    uint32_t readOnly = 1;
    ASSERT_EQ(reopened.store->IsReadOnly(&readOnly), 0);
    EXPECT_EQ(readOnly, 0u);
}

TEST(OpenImageStoreLibraryTest, ReadOnlyFileOpensReadOnly)
{
    test::TempDir dir;
    std::string path = dir.file("image.zbi");
    IMGSTORE_UI_CALLBACK callback;
    {
        OpenedImageStore created = OpenImageStore(path, kNoSplit, &callback);
        ASSERT_NE(created.store, nullptr) << created.error;
        ASSERT_EQ(created.store->Close(), 0);
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);

    OpenedImageStore opened = OpenImageStore(path, kNoSplit, &callback);
    ASSERT_NE(opened.store, nullptr) << opened.error;
    EXPECT_TRUE(opened.readOnly);
    uint32_t readOnly = 0;
    ASSERT_EQ(opened.store->IsReadOnly(&readOnly), 0);
    EXPECT_NE(readOnly, 0u);
}

TEST(OpenImageStoreLibraryTest, FileThatIsNoImageFailsBothOpens)
{
    test::TempDir dir;
    std::string path = dir.file("text.zbi");
    {
        std::FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("this is not an image file\n", file);
        std::fclose(file);
    }
    IMGSTORE_UI_CALLBACK callback;
    OpenedImageStore opened = OpenImageStore(path, kNoSplit, &callback);
    EXPECT_EQ(opened.store, nullptr);
    EXPECT_NE(opened.error, 0);
    EXPECT_FALSE(opened.readOnly);
}

// A second writer falls back to reading, but keeps the reason: the first writer's lock, not the file's mode.
TEST(OpenImageStoreLibraryTest, SecondWriterKnowsTheImageIsInUse)
{
    test::TempDir dir;
    std::string path = dir.file("w.zbi");
    IMGSTORE_UI_CALLBACK callback;
    OpenedImageStore first = OpenImageStore(path, kNoSplit, &callback);
    ASSERT_NE(first.store, nullptr) << first.error;
    ASSERT_FALSE(first.readOnly);

    OpenedImageStore second = OpenImageStore(path, kNoSplit, &callback);
    ASSERT_NE(second.store, nullptr) << second.error;
    EXPECT_TRUE(second.readOnly);
    EXPECT_EQ(second.writeError, rc::kImageLocked);
    EXPECT_EQ(notWritableMessage(path, second.writeError), "'" + path + "' is in use by another program.");

    second.store.reset();
    first.store.reset();
    OpenedImageStore third = OpenImageStore(path, kNoSplit, &callback);
    ASSERT_NE(third.store, nullptr) << third.error;
    EXPECT_FALSE(third.readOnly);
    EXPECT_EQ(third.writeError, 0);
}

} // namespace
} // namespace imbrex::store
