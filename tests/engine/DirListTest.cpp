#include "engine/DIRLIST.h"

#include <array>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

using namespace imbrex::engine;

namespace {

TEST(DirList, GrowsBy2048KeepingEarlierEntries)
{
    DIRLIST list;
    for (int i = 0; i < kDirListGrowth; ++i) {
        const DirListDate date{static_cast<uint8_t>(i % 28 + 1), 2, 41, 0};
        ASSERT_EQ(list.AddEntry(std::to_string(i).c_str(), 0x20, static_cast<uint32_t>(i), 1, &date, nullptr,
                                i * 32, nullptr),
                  0);
    }
    EXPECT_EQ(list.GetCapacity(), kDirListGrowth);
    ASSERT_EQ(list.AddEntry("2048", 0x10, 0, 0, nullptr, nullptr, -1, nullptr), 0);
    EXPECT_EQ(list.GetCapacity(), 2 * kDirListGrowth);
    EXPECT_EQ(list.GetCount(), kDirListGrowth + 1);

    for (int i = 0; i < kDirListGrowth; ++i) {
        char name[16];
        uint32_t attributes = 0;
        uint64_t size = 0;
        DirListDate date;
        int32_t offset = 0;
        ASSERT_EQ(list.GetEntry(i, name, sizeof name, &attributes, &size, &date, nullptr, &offset, nullptr),
                  0);
        EXPECT_EQ(std::string(name), std::to_string(i));
        EXPECT_EQ(size, (uint64_t{1} << 32) | static_cast<uint32_t>(i));
        EXPECT_EQ(date.day, i % 28 + 1);
        EXPECT_EQ(offset, i * 32);
    }
}

TEST(DirList, MissingDateAndTimeReadBackAsDefaults)
{
    DIRLIST list;
    std::array<uint8_t, 32> raw{};
    raw[0] = 'A';
    raw[31] = 0x7E;
    ASSERT_EQ(list.AddEntry("A", 0x01, 5, 0, nullptr, nullptr, 64, raw.data()), 0);
    DirListDate date{9, 9, 9, 9};
    DirListTime time{9, 9, 9, 9};
    const uint8_t *stored = nullptr;
    ASSERT_EQ(list.GetEntry(0, nullptr, 0, nullptr, nullptr, &date, &time, nullptr, &stored), 0);
    EXPECT_EQ(date.day, 1);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.year, 0);
    EXPECT_EQ(date.zero, 0);
    EXPECT_EQ(time.hour + time.minute + time.second + time.hundredths, 0);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::memcmp(stored, raw.data(), raw.size()), 0);
}

TEST(DirList, IndexAtCountFailsAndWritesNothing)
{
    DIRLIST list;
    ASSERT_EQ(list.AddEntry("only", 0, 0, 0, nullptr, nullptr, 0, nullptr), 0);
    char name[8] = "keep";
    uint32_t attributes = 77;
    EXPECT_EQ(list.GetEntry(1, name, sizeof name, &attributes, nullptr, nullptr, nullptr, nullptr, nullptr),
              2);
    EXPECT_EQ(list.GetEntry(-1, name, sizeof name, &attributes, nullptr, nullptr, nullptr, nullptr, nullptr),
              2);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(attributes, 77u);
}

TEST(DirList, NameIsCutToTheBufferAndTerminated)
{
    DIRLIST list;
    ASSERT_EQ(list.AddEntry("A rather long name.txt", 0, 0, 0, nullptr, nullptr, 0, nullptr), 0);
    char name[7];
    std::memset(name, '#', sizeof name);
    ASSERT_EQ(list.GetEntry(0, name, sizeof name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "A rath");
}

} // namespace
