// The texts of a failed index save.
#include "index/IndexAssociation.h"

#include <gtest/gtest.h>

#include "common/ResultCodes.h"

namespace imbrex::index {
namespace {

TEST(IndexAssociationTest, SaveFailuresWithoutATextOfTheirOwnAreWriteErrors)
{
    EXPECT_EQ(indexSaveMessage(rc::kIndexExists), "The image index already exists in this file.");
    EXPECT_EQ(indexSaveMessage(rc::kCannotOpen), "Error opening the image index file.");
    EXPECT_EQ(indexSaveMessage(rc::kIndexMismatch), "The image index file does not match this image file.");
    for (int code : {rc::kMediaFull, rc::kWriteShort, rc::kNoIndexForPartition, rc::kOutOfMemory, 1902})
        EXPECT_EQ(indexSaveMessage(code), "Error writing the image index file.") << code;
    // 504 on a save means the path vanished; the read-side wording about associations would not fit.
    EXPECT_EQ(indexSaveMessage(rc::kNoIndexFile), "Error writing the image index file.");
}

} // namespace
} // namespace imbrex::index
