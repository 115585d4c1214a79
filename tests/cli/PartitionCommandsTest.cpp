// zbitool's partition operations as a user runs them, over real volumes made by the file-system tools: what
// goes through copy, compress, span, combine and delete comes back out with the same files.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

using imbrex::test::TempDir;

namespace {

using imbrex::test::quote;
using imbrex::test::slurp;

class PartitionCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_fixtures = imbrex::test::fixtureDir();
        if (!std::filesystem::exists(m_fixtures / "ntfs.img")) {
            m_fixtures = m_dir.path() / "fixtures";
            std::string script = (imbrex::test::sourceDir() / "tests/fixtures/make-fixtures.sh").string();
            if (sh("bash " + quote(script) + " " + quote(m_fixtures.string()) + " >/dev/null 2>&1") != 0)
                GTEST_SKIP() << "the fixture tools (mkfs.fat, mtools, mkntfs) are not installed";
        }
    }

    // Runs a shell command in the test's directory; its exit status.
    int sh(const std::string &command)
    {
        std::string full = "cd " + quote(m_dir.path().string()) +
                           " && export PATH=\"$PATH:/sbin:/usr/sbin\" MTOOLS_SKIP_CHECK=1 && " + command;
        int raw = std::system(full.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    int zbitool(const std::string &args)
    {
        std::string tool = (imbrex::test::binaryDir() / "cli/zbitool").string();
        return sh(quote(tool) + " " + args + " >out.txt 2>err.txt </dev/null");
    }
    std::string out() { return slurp(m_dir.file("out.txt")); }
    std::string err() { return slurp(m_dir.file("err.txt")); }

    std::string fixture(const std::string &name) { return quote((m_fixtures / name).string()); }

    // The names of the partitions of an image, one per line.
    std::string names(const std::string &image)
    {
        EXPECT_EQ(zbitool("list " + image), 0) << err();
        std::string result, text = out();
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            std::string row = text.substr(at, end - at);
            result += row.substr(0, row.find('|')) + ";";
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return result;
    }

    TempDir m_dir;
    std::filesystem::path m_fixtures;
};

} // namespace

TEST_F(PartitionCommands, CompressThenUncompressGivesTheVolumeBack)
{
    ASSERT_EQ(zbitool("create a.zbi " + fixture("fat16.img") + " --all-blocks"), 0) << err();
    ASSERT_EQ(zbitool("compress a.zbi c.zbi"), 0) << err();
    ASSERT_EQ(zbitool("list c.zbi"), 0);
    EXPECT_NE(out().find("|Low|"), std::string::npos);
    ASSERT_EQ(zbitool("uncompress c.zbi u.zbi"), 0) << err();
    ASSERT_EQ(zbitool("export u.zbi 1 back.img"), 0) << err();
    EXPECT_EQ(sh("cmp -s back.img " + fixture("fat16.img")), 0);
}

TEST_F(PartitionCommands, SpanThenCombineGivesTheVolumeBack)
{
    ASSERT_EQ(zbitool("create a.zbi " + fixture("fat32.img") + " --all-blocks"), 0) << err();
    ASSERT_EQ(zbitool("span a.zbi s.zbi --split-size 10000000"), 0) << err();
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("s.003")));
    ASSERT_EQ(zbitool("combine s.zbi c.zbi"), 0) << err();
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("c.002")));
    ASSERT_EQ(zbitool("export c.zbi 1 back.img"), 0) << err();
    EXPECT_EQ(sh("cmp -s back.img " + fixture("fat32.img")), 0);
    // Span never writes into an existing file unless told to.
    EXPECT_EQ(zbitool("span a.zbi c.zbi --split-size 10000000"), 1);
}

TEST_F(PartitionCommands, CopyAppendsChosenPartitionsAndDeleteRemovesRows)
{
    ASSERT_EQ(zbitool("create three.zbi " + fixture("fat12.img") + " " + fixture("fat16.img") + " " +
                      fixture("ntfs.img")),
              0)
        << err();
    ASSERT_EQ(zbitool("create target.zbi " + fixture("fat12.img") + " --name Target"), 0) << err();
    ASSERT_EQ(zbitool("rename target.zbi 1 Old"), 0);
    ASSERT_EQ(zbitool("copy three.zbi target.zbi --partitions 1,3"), 0) << err();
    EXPECT_EQ(names("target.zbi"), "Old;IMBREX12;Imbrex NTFS;");

    ASSERT_EQ(zbitool("copy three.zbi target.zbi --partitions 2"), 0) << err();
    EXPECT_EQ(names("target.zbi"), "Old;IMBREX12;Imbrex NTFS;IMBREX16;");
    ASSERT_EQ(zbitool("delete target.zbi 1 3"), 0) << err();
    EXPECT_EQ(names("target.zbi"), "IMBREX12;IMBREX16;");

    EXPECT_EQ(zbitool("copy three.zbi three.zbi"), 1);
    EXPECT_EQ(zbitool("copy three.zbi x.zbi --partitions 4"), 2);
}

TEST_F(PartitionCommands, ProtectedPartitionsNeedTheirPasswordToBeRecompressed)
{
    ASSERT_EQ(sh("printf 'open-sesame\\n' >pw && printf 'wrong-one\\n' >bad"), 0);
    ASSERT_EQ(zbitool("create p.zbi " + fixture("fat12.img") + " --password-file pw"), 0) << err();
    EXPECT_EQ(zbitool("compress p.zbi c.zbi --password-file bad"), 1);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("c.zbi")));
    ASSERT_EQ(zbitool("compress p.zbi c.zbi --password-file pw --password none"), 0) << err();
    ASSERT_EQ(zbitool("export c.zbi 1 back.img"), 0) << err();
    EXPECT_EQ(sh("mdir -i back.img -/ :: >/dev/null"), 0);
}

// A disk with two primary partitions (FAT16, NTFS) and two logical ones (FAT12, FAT32) in an extended one.
TEST_F(PartitionCommands, CaptureFromADiskImageListsEveryPartition)
{
    const std::string script = R"PY(
import struct, sys
vols = sys.argv[1:5]
sizes = [len(open(v, 'rb').read()) // 512 for v in vols]
def entry(t, start, count):
    return struct.pack('<B3sB3sII', 0, b'\0\0\0', t, b'\0\0\0', start, count)
p1, p2 = 2048, 2048 + sizes[0]
ext = p2 + sizes[1]
l1 = ext + 1
ebr2 = l1 + sizes[2]
l2 = ebr2 + 1
end = l2 + sizes[3]
disk = bytearray(end * 512)
def table(sector, entries):
    raw = b''.join(entries) + b'\0' * (64 - 16 * len(entries))
    disk[sector * 512 + 446: sector * 512 + 510] = raw
    disk[sector * 512 + 510: sector * 512 + 512] = b'\x55\xaa'
table(0, [entry(0x06, p1, sizes[0]), entry(0x07, p2, sizes[1]), entry(0x0F, ext, end - ext)])
table(ext, [entry(0x01, 1, sizes[2]), entry(0x05, ebr2 - ext, end - ebr2)])
table(ebr2, [entry(0x0C, 1, sizes[3])])
for v, start in zip(vols, [p1, p2, l1, l2]):
    data = open(v, 'rb').read()
    disk[start * 512: start * 512 + len(data)] = data
open('disk.img', 'wb').write(disk)
)PY";
    std::ofstream(m_dir.file("mkdisk.py")) << script;
    ASSERT_EQ(sh("python3 mkdisk.py " + fixture("fat16.img") + " " + fixture("ntfs.img") + " " +
                 fixture("fat12.img") + " " + fixture("fat32.img")),
              0);
    ASSERT_EQ(zbitool("create d.zbi disk.img"), 0) << err();
    ASSERT_EQ(zbitool("list d.zbi"), 0);
    std::string rows = out();
    for (const char *expected : {"IMBREX16|C:|FAT|Primary|", "Imbrex NTFS|D:|NTFS|Primary|",
                                 "IMBREX12|E:|FAT|Logical|", "IMBREX32|F:|FAT32|Logical|"})
        EXPECT_NE(rows.find(expected), std::string::npos) << expected << " in\n" << rows;
    EXPECT_NE(rows.find("|20 MB|"), std::string::npos);
    EXPECT_NE(rows.find("|40 MB|"), std::string::npos);
    // The logical FAT32 volume restores with every file.
    ASSERT_EQ(zbitool("export d.zbi 4 back.img"), 0) << err();
    EXPECT_EQ(sh("mkdir a b && mcopy -s -n -i back.img ::/ a/ && mcopy -s -n -i " + fixture("fat32.img") +
                 " ::/ b/ && diff -r a b"),
              0);
}

// Half-empty volumes are stored in about their used space, and every file still restores.
TEST_F(PartitionCommands, HalfEmptyVolumesStoreAboutTheirUsedSpace)
{
    ASSERT_EQ(sh("head -c 25000000 /dev/urandom >big.bin && truncate -s 64M fat32.img && "
                 "mkfs.fat -F 32 fat32.img >/dev/null && mcopy -i fat32.img big.bin ::/big.bin && "
                 "truncate -s 64M ntfs.img && mkntfs -F -Q ntfs.img >/dev/null 2>&1 && "
                 "ntfscp -f ntfs.img big.bin big.bin >/dev/null 2>&1"),
              0);
    for (const char *volume : {"fat32.img", "ntfs.img"}) {
        SCOPED_TRACE(volume);
        ASSERT_EQ(zbitool(std::string("create v.zbi --force ") + volume), 0) << err();
        auto stored = std::filesystem::file_size(m_dir.file("v.zbi"));
        EXPECT_GT(stored, 25'000'000u);
        EXPECT_LT(stored, 25'000'000u + 4'000'000u); // metadata of the file system and the image
        ASSERT_EQ(zbitool("export v.zbi 1 back.img --force"), 0) << err();
        std::string readBack = std::string(volume) == "fat32.img" ? "mcopy -n -i back.img ::/big.bin got.bin"
                                                                  : "ntfscat back.img big.bin >got.bin";
        EXPECT_EQ(sh("rm -f got.bin && " + readBack + " && cmp -s got.bin big.bin"), 0);
    }
}
