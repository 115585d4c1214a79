// FAT volumes whose directories lead back into themselves, or whose directory chains loop or break off: a
// walk over the whole tree ends with the damage's code after a few listings, and a listing never comes back
// shortened with success.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "engine/DirectoryTrail.h"
#include "engine/FAT_VOLUME.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/FatTestSupport.h"

using namespace imbrex;
using namespace imbrex::engine;
using imbrex::test::FatImageBuilder;
using imbrex::test::MountedFat;

namespace {

// Walks the whole tree as extraction does: every directory is listed through its entry and entered with its
// path, the guard deciding whether it may be. The first failing code; listings counts the listings made.
class TreeWalk
{
public:
    explicit TreeWalk(FAT_VOLUME &volume) : m_volume(volume), m_trail(volume.DirectoryIdentity(nullptr)) {}

    int run() { return walk("\\", nullptr); }
    int listings = 0;

private:
    int walk(const std::string &path, FAT_FILE *directory)
    {
        DIRLIST list;
        ++listings;
        if (const int r = m_volume.ListDirectory(list, directory ? "" : "\\", directory, nullptr, 1); r != 0)
            return r;
        for (int i = 0; i < list.GetCount(); ++i) {
            const DirListEntry &e = *list.Entry(i);
            if ((e.attributes & kAttrDirectory) == 0 || e.name == "." || e.name == "..")
                continue;
            const std::string child = (path == "\\" ? "" : path) + "\\" + e.name;
            if (const int r = m_trail.enter(child, m_volume.DirectoryIdentity(e.rawEntry.data())); r != 0)
                return r;
            std::unique_ptr<FAT_FILE> file;
            if (const int r = m_volume.MakeFile(e.rawEntry.data(), file); r != 0)
                return r;
            if (const int r = walk(child, file.get()); r != 0)
                return r;
        }
        return 0;
    }

    FAT_VOLUME &m_volume;
    DirectoryTrail m_trail;
};

FatImageBuilder::Geometry geometry(bool fat32)
{
    if (fat32)
        return FatImageBuilder::fat32(8, 1024);
    FatImageBuilder::Geometry g;
    g.totalSectors = 1024;
    g.sectorsPerFat = 3;
    return g;
}

struct LoopCase
{
    const char *what;
    bool fat32;
    // Damages a volume whose root holds folder P (first cluster p, two clusters of entries); returns the path
    // that a listing by path must refuse.
    std::function<std::string(FatImageBuilder &, uint32_t p)> damage;
    int expected;
};

std::string subdirectory(FatImageBuilder &b, uint32_t p, uint32_t start)
{
    b.addRaw(p, FatImageBuilder::shortEntry("BACK", 0x10, start, 0));
    return "\\P\\BACK";
}

TEST(FatDirectoryLoop, EveryShapeEndsTheWalkWithItsCode)
{
    const std::vector<LoopCase> cases = {
        {"a folder naming itself", false, [](auto &b, uint32_t p) { return subdirectory(b, p, p); },
         rc::kDirectoryLoop},
        {"a folder naming its parent", false,
         [](auto &b, uint32_t p) {
             const uint32_t c = b.addDirectory(p, "C          ");
             b.addRaw(c, FatImageBuilder::shortEntry("UP", 0x10, p, 0));
             return std::string("\\P\\C\\UP");
         },
         rc::kDirectoryLoop},
        {"a folder at cluster 0, the root", false, [](auto &b, uint32_t p) { return subdirectory(b, p, 0); },
         rc::kDirectoryLoop},
        {"a folder at cluster 1, read as the root", false,
         [](auto &b, uint32_t p) { return subdirectory(b, p, 1); }, rc::kDirectoryLoop},
        {"FAT32: a folder at cluster 0", true, [](auto &b, uint32_t p) { return subdirectory(b, p, 0); },
         rc::kDirectoryLoop},
        {"FAT32: a folder at the root cluster", true,
         [](auto &b, uint32_t p) { return subdirectory(b, p, b.geometry().rootCluster); },
         rc::kDirectoryLoop},
        {"a directory chain that loops", false,
         [](auto &b, uint32_t p) {
             b.setFat(b.fatValue(p), p);
             return std::string("\\P");
         },
         rc::kFatChainLoop},
        {"a directory chain cut by a free cluster", false,
         [](auto &b, uint32_t p) {
             b.setFat(p, 300);
             return std::string("\\P");
         },
         rc::kFatClusterOutOfRange},
        {"a directory chain cut by a bad cluster", false,
         [](auto &b, uint32_t p) {
             b.setFat(p, 0xFF7);
             return std::string("\\P");
         },
         rc::kFatClusterOutOfRange},
        {"FAT32: a directory chain cut by a bad cluster", true,
         [](auto &b, uint32_t p) {
             b.setFat(p, 0x0FFFFFF7);
             return std::string("\\P");
         },
         rc::kFatClusterOutOfRange},
    };
    for (const LoopCase &c : cases) {
        SCOPED_TRACE(c.what);
        FatImageBuilder b(geometry(c.fat32));
        const uint32_t p = b.addDirectory(0, "P          ");
        // Enough files that P needs a second cluster, which the walk must reach.
        for (int i = 0; i < 20; ++i)
            b.addFile(p, "F" + std::to_string(100 + i) + "     TXT", {1, 2, 3});
        ASSERT_FALSE(b.isEnd(b.fatValue(p)));
        const std::string refused = c.damage(b, p);

        MountedFat fat(b.image());
        ASSERT_EQ(fat.mount(), 0);
        TreeWalk walk(fat.volume());
        EXPECT_EQ(walk.run(), c.expected);
        EXPECT_LE(walk.listings, 3);
        std::vector<std::string> names;
        EXPECT_EQ(fat.list(refused, names), c.expected);
    }
}

TEST(FatDirectoryLoop, NestingIsBoundedEvenWithoutALoop)
{
    FatImageBuilder::Geometry g = geometry(false);
    FatImageBuilder b(g);
    uint32_t parent = 0;
    std::string path;
    for (size_t depth = 0; depth <= kMaxDirectoryDepth; ++depth) {
        parent = b.addDirectory(parent, "D          ");
        path += "\\D";
    }
    MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    TreeWalk walk(fat.volume());
    EXPECT_EQ(walk.run(), rc::kDirectoryLoop);
    EXPECT_EQ(walk.listings, static_cast<int>(kMaxDirectoryDepth) + 1);
    std::vector<std::string> names;
    EXPECT_EQ(fat.list(path, names), rc::kDirectoryLoop);
    // One level less is still listed.
    EXPECT_EQ(fat.list(path.substr(0, path.size() - 2), names), rc::kOk);
}

} // namespace
