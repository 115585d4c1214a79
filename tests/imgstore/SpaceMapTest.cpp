#include "imgstore/SpaceMap.h"

#include <gtest/gtest.h>

using namespace imbrex::zbi;

TEST(SpaceMap, ReusesHolesFirstAndGrowsAtTheEnd)
{
    SpaceMap map;
    map.rebuild({{kDataStart, 100}, {kDataStart + 300, 50}, {kDataStart + 1000, 10}});
    EXPECT_EQ(map.end(), kDataStart + 1010);
    EXPECT_EQ(map.allocate(200), kDataStart + 100);   // the first hole fits exactly
    EXPECT_EQ(map.allocate(100), kDataStart + 350);   // the second hole
    EXPECT_EQ(map.allocate(1000), kDataStart + 1010); // nothing fits: the end
    EXPECT_EQ(map.end(), kDataStart + 2010);
}

TEST(SpaceMap, AllocateAtExtendsOnlyIntoFreeSpace)
{
    SpaceMap map;
    map.rebuild({{kDataStart, 100}, {kDataStart + 200, 100}});
    EXPECT_FALSE(map.allocateAt(kDataStart + 50, 10));  // in use
    EXPECT_TRUE(map.allocateAt(kDataStart + 100, 60));  // start of the hole
    EXPECT_FALSE(map.allocateAt(kDataStart + 160, 41)); // runs into the next range
    EXPECT_TRUE(map.allocateAt(kDataStart + 160, 40));  // the rest of the hole
    EXPECT_TRUE(map.allocateAt(kDataStart + 300, 5));   // the free end
    EXPECT_EQ(map.end(), kDataStart + 305);
    EXPECT_EQ(map.allocate(1), kDataStart + 305);
}

TEST(SpaceMap, OverlappingRangesFromADamagedCatalogAreHarmless)
{
    SpaceMap map;
    map.rebuild({{kDataStart + 10, 100}, {kDataStart + 50, 20}, {kDataStart + 40, 500}, {0, 0}});
    EXPECT_EQ(map.end(), kDataStart + 540);
    EXPECT_EQ(map.allocate(10), kDataStart);
    EXPECT_EQ(map.allocate(1), kDataStart + 540);
}
