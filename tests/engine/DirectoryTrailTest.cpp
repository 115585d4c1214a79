// DirectoryTrail: the guard every directory walk keeps against folders that lie inside themselves.
#include "engine/DirectoryTrail.h"

#include <string>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"

using namespace imbrex;
using namespace imbrex::engine;

namespace {

TEST(DirectoryTrail, PushRefusesTheRootAndEveryDirectoryAboveUntilItIsLeft)
{
    DirectoryTrail trail(5);
    EXPECT_EQ(trail.push(5), rc::kDirectoryLoop);
    ASSERT_EQ(trail.push(20), rc::kOk);
    ASSERT_EQ(trail.push(21), rc::kOk);
    EXPECT_EQ(trail.push(21), rc::kDirectoryLoop);
    EXPECT_EQ(trail.push(20), rc::kDirectoryLoop);
    EXPECT_EQ(trail.depth(), 2u);
    trail.pop();
    // Once left, a directory may be entered again.
    EXPECT_EQ(trail.push(21), rc::kOk);
    trail.pop();
    trail.pop();
    trail.pop(); // at the root already: nothing happens
    EXPECT_EQ(trail.depth(), 0u);
    EXPECT_EQ(trail.push(20), rc::kOk);
}

TEST(DirectoryTrail, DepthIsBoundedEvenWithoutARepeat)
{
    DirectoryTrail pushed(0);
    for (uint64_t id = 1; id <= kMaxDirectoryDepth; ++id)
        ASSERT_EQ(pushed.push(id), rc::kOk) << id;
    EXPECT_EQ(pushed.push(kMaxDirectoryDepth + 1), rc::kDirectoryLoop);
    EXPECT_EQ(pushed.depth(), kMaxDirectoryDepth);

    DirectoryTrail entered(0);
    std::string path;
    for (uint64_t id = 1; id <= kMaxDirectoryDepth; ++id) {
        path += "\\D";
        ASSERT_EQ(entered.enter(path, id), rc::kOk) << id;
    }
    EXPECT_EQ(entered.enter(path + "\\D", kMaxDirectoryDepth + 1), rc::kDirectoryLoop);
    EXPECT_EQ(directoryDepth(path), kMaxDirectoryDepth);
    EXPECT_EQ(directoryDepth("\\"), 0u);
    EXPECT_EQ(directoryDepth("A\\B\\"), 2u);
    // Deep paths are refused whatever was entered before them.
    DirectoryTrail fresh(0);
    EXPECT_EQ(fresh.enter(path + "\\D", 7), rc::kDirectoryLoop);
}

TEST(DirectoryTrail, EnteringByPathComparesOnlyWithDirectoriesAbove)
{
    DirectoryTrail trail(0);
    ASSERT_EQ(trail.enter("\\A", 10), rc::kOk);
    ASSERT_EQ(trail.enter("\\A\\B", 11), rc::kOk);
    // Inside itself, inside its parent, inside the root.
    EXPECT_EQ(trail.enter("\\A\\B\\C", 11), rc::kDirectoryLoop);
    EXPECT_EQ(trail.enter("\\A\\B\\C", 10), rc::kDirectoryLoop);
    EXPECT_EQ(trail.enter("\\A\\B\\C", 0), rc::kDirectoryLoop);
    // A refused directory is not remembered: its siblings are still compared with A and B only.
    EXPECT_EQ(trail.enter("\\A\\B\\D\\", 12), rc::kOk);
    EXPECT_EQ(trail.depth(), 3u);

    // Going elsewhere forgets B and D, whose identities are then free to appear below the new path.
    ASSERT_EQ(trail.enter("\\A\\E", 11), rc::kOk);
    EXPECT_EQ(trail.depth(), 2u);
    EXPECT_EQ(trail.enter("\\A\\E\\F", 12), rc::kOk);
    EXPECT_EQ(trail.enter("\\A\\E\\F\\G", 10), rc::kDirectoryLoop);

    // A name that only begins like an earlier directory does not lie below it.
    ASSERT_EQ(trail.enter("\\A", 10), rc::kOk);
    EXPECT_EQ(trail.enter("\\AB", 10), rc::kOk);

    // A path listed without its parents first (a browser jumping there) is compared with what lies above it.
    ASSERT_EQ(trail.enter("\\X\\Y", 30), rc::kOk);
    EXPECT_EQ(trail.enter("\\X\\Y\\Z", 10), rc::kOk);

    // The root forgets everything.
    ASSERT_EQ(trail.enter("\\", 0), rc::kOk);
    EXPECT_EQ(trail.depth(), 0u);
}

} // namespace
