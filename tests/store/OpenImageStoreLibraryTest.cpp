// OpenImageStore over the image store library itself: the files it makes and the opens it chooses.
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/File.h"
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

} // namespace
} // namespace imbrex::store
