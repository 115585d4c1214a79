// FAT_VOLUME over the real volumes that mkfs.fat and mcopy made: every directory it lists and every file it
// reads must match what mtools sees in the same image.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ConvertName.h"
#include "tests/engine/FatTestSupport.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using namespace imbrex::engine;

namespace {

constexpr int kMaxDepth = 16;

bool haveMtools()
{
    return std::system("command -v mdir >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1") == 0;
}

std::string shellQuote(const std::string &s)
{
    std::string out = "'";
    for (const char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string &command)
{
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    pclose(pipe);
    return out;
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
    return s;
}

struct Walked
{
    std::string mtoolsPath; // "/Documents/report-2020.txt", "/deep/" for directories
    std::string fatPath;    // by short names: "\DOCUME~1\REPORT~1.TXT"
    std::vector<uint8_t> data;
};

// Lists the tree below dirPath, reading every file, down to kMaxDepth levels.
void walk(test::MountedFat &fat, const std::string &dirPath, const std::string &shown, int depth,
          std::vector<Walked> &out)
{
    ASSERT_LT(depth, kMaxDepth);
    DIRLIST list;
    ASSERT_EQ(fat.volume().ListDirectory(list, dirPath.c_str(), nullptr, nullptr, 1), 0) << dirPath;
    for (int i = 0; i < list.GetCount(); ++i) {
        const DirListEntry &e = *list.Entry(i);
        if (e.name == "." || e.name == "..")
            continue;
        std::string shortName(reinterpret_cast<const char *>(e.rawEntry.data()), 8);
        shortName.erase(shortName.find_last_not_of(' ') + 1);
        std::string extension(reinterpret_cast<const char *>(e.rawEntry.data()) + 8, 3);
        extension.erase(extension.find_last_not_of(' ') + 1);
        if (!extension.empty())
            shortName += "." + extension;
        const std::string fatPath = (dirPath == "\\" ? "" : dirPath) + "\\" + shortName;
        if ((e.attributes & kAttrDirectory) != 0) {
            out.push_back({shown + e.name + "/", fatPath, {}});
            walk(fat, fatPath, shown + e.name + "/", depth + 1, out);
        } else {
            Walked w{shown + e.name, fatPath, {}};
            ASSERT_EQ(fat.readAll(fatPath, w.data), 0) << fatPath;
            EXPECT_EQ(w.data.size(), e.size);
            out.push_back(std::move(w));
        }
    }
}

class FatFixture : public ::testing::TestWithParam<const char *>
{
};

TEST_P(FatFixture, ListingAndContentsMatchMtools)
{
    const std::filesystem::path image = test::fixtureDir() / GetParam();
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << "fixture missing: " << image;
    if (!haveMtools())
        GTEST_SKIP() << "mtools not installed";
    ASSERT_EQ(setAnsiCharset("UTF-8"), 0);

    test::MountedFat fat(test::MemorySectorSource::fromFile(image));
    ASSERT_EQ(fat.mount(), 0);
    std::vector<Walked> ours;
    walk(fat, "\\", "/", 0, ours);

    const std::string env = "MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 ";
    const std::string listing = run(env + "mdir -i " + shellQuote(image.string()) + " -/ -b ::");
    std::vector<std::string> theirs;
    for (size_t at = 0; at < listing.size();) {
        const size_t end = listing.find('\n', at);
        std::string line = listing.substr(at, end - at);
        at = end == std::string::npos ? listing.size() : end + 1;
        if (line.rfind("::", 0) == 0)
            theirs.push_back(line.substr(2));
    }
    ASSERT_FALSE(theirs.empty());
    // Short names are listed as stored (upper case); mtools shows the lower-case flags some entries carry.
    std::vector<std::string> ourPaths;
    for (const Walked &w : ours)
        ourPaths.push_back(upper(w.mtoolsPath));
    for (std::string &t : theirs)
        t = upper(t);
    std::sort(ourPaths.begin(), ourPaths.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ourPaths, theirs);

    test::TempDir temp;
    for (const Walked &w : ours) {
        if (w.mtoolsPath.back() == '/')
            continue;
        SCOPED_TRACE(w.mtoolsPath);
        const std::string target = temp.file("out.bin");
        std::filesystem::remove(target);
        ASSERT_EQ(std::system((env + "mcopy -n -i " + shellQuote(image.string()) + " " +
                               shellQuote("::" + w.mtoolsPath) + " " + shellQuote(target))
                                  .c_str()),
                  0);
        std::ifstream in(target, std::ios::binary);
        const std::vector<uint8_t> expected{std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>()};
        EXPECT_EQ(w.data, expected);
    }
    setAnsiCodePage(0);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatFixture, ::testing::Values("fat12.img", "fat16.img", "fat32.img"),
                         [](const auto &param) { return std::string(param.param).substr(0, 5); });

TEST(FatFixtureTypes, EachVolumeHasItsFatType)
{
    const std::map<std::string, uint8_t> expected = {
        {"fat12.img", kFat12}, {"fat16.img", kFat16}, {"fat32.img", kFat32}};
    for (const auto &[name, type] : expected) {
        const std::filesystem::path image = test::fixtureDir() / name;
        if (!std::filesystem::exists(image))
            GTEST_SKIP() << "fixture missing: " << image;
        test::MountedFat fat(test::MemorySectorSource::fromFile(image));
        ASSERT_EQ(fat.mount(), 0);
        EXPECT_EQ(fat.volume().Vars()->fatType, type) << name;
    }
}

} // namespace
