#include "restore/FileExtents.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "tests/engine/FatImageBuilder.h"
#include "tests/engine/FatTestSupport.h"

using namespace imbrex;
using imbrex::test::FatImageBuilder;

namespace {

using Extents = std::vector<std::pair<uint64_t, uint64_t>>;

struct Walked
{
    std::map<std::string, Extents> files;
    std::vector<restore::WalkProblem> problems;
    int result = -1;
};

Walked walk(engine::VOLUME_BASE &volume)
{
    Walked w;
    w.result = restore::walkFileExtents(
        volume,
        [&](const restore::WalkedFile &file) {
            Extents &extents = w.files[file.path];
            for (const restore::FileExtent &e : file.extents)
                extents.emplace_back(e.offset, e.length);
            return true;
        },
        &w.problems);
    return w;
}

bool hasProblem(const Walked &w, const std::string &path)
{
    for (const restore::WalkProblem &p : w.problems)
        if (p.path == path)
            return true;
    return false;
}

TEST(FileExtents, FatChainsGiveTheClustersInFileOrderAndHostileChainsAreCut)
{
    FatImageBuilder b(FatImageBuilder::Geometry{});
    const uint64_t cluster = b.clusterBytes();
    // A fragmented file: clusters 2, 4, 3.
    const uint32_t a = b.addFile(0, "A       BIN", std::vector<uint8_t>(3 * cluster, 0x41));
    b.setFat(a, a + 2);
    b.setFat(a + 2, a + 1);
    b.setFat(a + 1, 0x0FFFFFFF);
    // A file whose chain loops back while its size asks for more.
    const uint32_t c = b.allocate(2);
    b.setFat(c + 1, c);
    b.addRaw(0, FatImageBuilder::shortEntry("C       BIN", 0x20, c, static_cast<uint32_t>(10 * cluster)));
    // A folder holding a file, and an entry that leads back to the root.
    const uint32_t dir = b.addDirectory(0, "DIR        ");
    const uint32_t inner = b.addFile(dir, "B       TXT", std::vector<uint8_t>(100, 0x42));
    b.addRaw(dir, FatImageBuilder::shortEntry("BACK       ", 0x10, 0, 0));
    b.addFile(0, "EMPTY   TXT", {});

    test::MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    Walked w = walk(fat.volume());
    EXPECT_EQ(w.result, 0);

    EXPECT_EQ(w.files["\\A.BIN"], (Extents{{b.clusterOffset(a), cluster},
                                           {b.clusterOffset(a + 2), cluster},
                                           {b.clusterOffset(a + 1), cluster}}));
    EXPECT_EQ(w.files["\\C.BIN"], (Extents{{b.clusterOffset(c), 2 * cluster}}));
    EXPECT_TRUE(hasProblem(w, "\\C.BIN"));
    EXPECT_EQ(w.files["\\DIR"], (Extents{{b.clusterOffset(dir), cluster}}));
    EXPECT_EQ(w.files["\\DIR\\B.TXT"], (Extents{{b.clusterOffset(inner), cluster}}));
    EXPECT_TRUE(w.files.count("\\EMPTY.TXT"));
    EXPECT_TRUE(w.files["\\EMPTY.TXT"].empty());
    EXPECT_TRUE(hasProblem(w, "\\DIR\\BACK"));
    EXPECT_FALSE(w.files.count("\\DIR\\BACK"));
    // The root area and the tables are named too, so damage there is not left without a name.
    EXPECT_EQ(w.files["(file allocation tables)"], (Extents{{512, 2 * 2 * 512}}));
    EXPECT_EQ(w.files["\\"], (Extents{{5 * 512, 4 * 512}}));
}

TEST(FileExtents, TheVisitorCanEndTheWalk)
{
    FatImageBuilder b(FatImageBuilder::Geometry{});
    b.addFile(0, "A       BIN", std::vector<uint8_t>(10, 1));
    test::MountedFat fat(b.image());
    ASSERT_EQ(fat.mount(), 0);
    std::vector<restore::WalkProblem> problems;
    int visits = 0;
    EXPECT_EQ(restore::walkFileExtents(
                  fat.volume(), [&](const restore::WalkedFile &) { return ++visits < 2; }, &problems),
              rc::kCancelled);
    EXPECT_EQ(visits, 2);
}

} // namespace
