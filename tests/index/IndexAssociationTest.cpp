// The open that may ask for its index to be created first, and the texts of a failed save.
#include "index/IndexAssociation.h"

#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"

namespace imbrex::index {
namespace {

// An open that asks for the index to be created on the opens listed in requestOn, and a save that answers
// from saves in turn.
struct ScriptedOpen
{
    std::vector<int> requestOn; // open numbers, from 1
    std::vector<int> opens;     // the result of each open; 0 when not listed
    std::vector<int> saves;
    int openCount = 0;
    int saveCount = 0;
    bool requestSeenByOpen = false; // the request was still set when an open began

    int run(bool &request)
    {
        return openWithCreateRequests(
            request,
            [&] {
                requestSeenByOpen = requestSeenByOpen || request;
                ++openCount;
                for (int n : requestOn)
                    if (n == openCount)
                        request = true;
                const auto n = static_cast<size_t>(openCount);
                return n <= opens.size() ? opens[n - 1] : 0;
            },
            [&] { return saves.at(static_cast<size_t>(saveCount++)); });
    }
};

TEST(IndexAssociationTest, CreateRequestsSaveAndReopenOnlyWhenTheIndexWasAlreadyInTheFile)
{
    bool request = true; // left over from an earlier open: cleared before opening
    ScriptedOpen plain;
    EXPECT_EQ(plain.run(request), 0);
    EXPECT_EQ(plain.openCount, 1);
    EXPECT_EQ(plain.saveCount, 0);
    EXPECT_FALSE(plain.requestSeenByOpen);

    ScriptedOpen saved{{1}, {}, {rc::kOk}};
    EXPECT_EQ(saved.run(request), 0);
    EXPECT_EQ(saved.openCount, 1);
    EXPECT_FALSE(request);

    // Already in the file: opened again, which loads it; a second Create there saves again.
    ScriptedOpen exists{{1, 2}, {}, {rc::kIndexExists, rc::kIndexExists}};
    EXPECT_EQ(exists.run(request), 0);
    EXPECT_EQ(exists.openCount, 3);
    EXPECT_EQ(exists.saveCount, 2);
    EXPECT_FALSE(exists.requestSeenByOpen);

    ScriptedOpen notSaved{{1}, {}, {rc::kCancelled}};
    EXPECT_EQ(notSaved.run(request), rc::kCancelled);
    EXPECT_EQ(notSaved.openCount, 1);
    EXPECT_FALSE(request);

    // A failed open is the result, whatever it asked for; a reopen that fails likewise.
    ScriptedOpen refused{{1}, {rc::kDialogCancelled}, {}};
    EXPECT_EQ(refused.run(request), rc::kDialogCancelled);
    EXPECT_EQ(refused.saveCount, 0);
    ScriptedOpen reopenFails{{1}, {0, rc::kWrongPassword}, {rc::kIndexExists}};
    EXPECT_EQ(reopenFails.run(request), rc::kWrongPassword);
}

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
