// zbitool as a user runs it: real volumes from the file-system tools go into an image and come back out.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/support/ImageBuilder.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

using imbrex::test::TempDir;

namespace {

struct ToolRun
{
    int status = -1;
    std::string out;
    std::string err;
};

using imbrex::test::quote;
using imbrex::test::slurp;

class Zbitool : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // CTest makes the volumes once for the whole run; a test program started by hand makes its own.
        if (std::filesystem::exists(imbrex::test::fixtureDir() / "ntfs.img")) {
            s_fixtureDir = imbrex::test::fixtureDir();
            s_haveFixtures = true;
            return;
        }
        s_ownFixtures = std::make_unique<TempDir>();
        s_fixtureDir = s_ownFixtures->path();
        std::string script = (imbrex::test::sourceDir() / "tests/fixtures/make-fixtures.sh").string();
        std::string command =
            "bash " + quote(script) + " " + quote(s_fixtureDir.string()) + " >/dev/null 2>&1";
        s_haveFixtures = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() { s_ownFixtures.reset(); }

    void SetUp() override
    {
        if (!s_haveFixtures)
            GTEST_SKIP() << "the fixture tools (mkfs.fat, mtools, mkntfs) are not installed";
    }

    static std::string fixture(const std::string &name) { return (s_fixtureDir / name).string(); }

    ToolRun run(const std::string &args)
    {
        std::string tool = (imbrex::test::binaryDir() / "cli/zbitool").string();
        std::string out = m_dir.file("stdout"), err = m_dir.file("stderr");
        std::string command =
            quote(tool) + " " + args + " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
        int raw = std::system(command.c_str());
        ToolRun r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }

    std::string file(const std::string &name) { return m_dir.file(name); }

    TempDir m_dir;
    static std::unique_ptr<TempDir> s_ownFixtures;
    static std::filesystem::path s_fixtureDir;
    static bool s_haveFixtures;
};

std::unique_ptr<TempDir> Zbitool::s_ownFixtures;
std::filesystem::path Zbitool::s_fixtureDir;
bool Zbitool::s_haveFixtures = false;

struct VolumeCase
{
    const char *file;
    const char *row;  // the list row, without the date field
    const char *type; // the Properties' partition type
};

class ZbitoolVolumes : public Zbitool, public ::testing::WithParamInterface<VolumeCase>
{
};

std::string withoutDate(const std::string &row)
{
    // Fields: name|drive|type|status|date|size|compression|
    size_t start = 0;
    for (int i = 0; i < 4; ++i)
        start = row.find('|', start) + 1;
    size_t end = row.find('|', start);
    return row.substr(0, start) + row.substr(end + 1);
}

} // namespace

TEST_P(ZbitoolVolumes, CreateListInfoExportRoundTrip)
{
    const VolumeCase &c = GetParam();
    std::string raw = fixture(c.file);
    std::string image = file("image.zbi");
    ToolRun created = run("create " + quote(image) + " " + quote(raw) + " --name 'Test image'");
    ASSERT_EQ(created.status, 0) << created.err;

    ToolRun listed = run("list " + quote(image));
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(withoutDate(listed.out.substr(0, listed.out.find('\n'))), c.row);

    ToolRun info = run("info " + quote(image) + " 1");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find(std::string("Partition type: ") + c.type + "\n"), std::string::npos) << info.out;
    uint64_t bytes = std::filesystem::file_size(raw);
    EXPECT_NE(info.out.find("(" + std::to_string(bytes) + " bytes)"), std::string::npos) << info.out;

    std::string out = file("out.img");
    ToolRun exported = run("export " + quote(image) + " 1 " + quote(out));
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(slurp(out), slurp(raw));
}

INSTANTIATE_TEST_SUITE_P(
    RealVolumes, ZbitoolVolumes,
    ::testing::Values(VolumeCase{"fat12.img", "IMBREX12|C:|FAT|Primary|2 MB|None|", "FAT 12-bit"},
                      VolumeCase{"fat16.img", "IMBREX16|C:|FAT|Primary|20 MB|None|", "FAT 16-bit (<= 32 MB)"},
                      VolumeCase{"fat32.img", "IMBREX32|C:|FAT32|Primary|40 MB|None|",
                                 "FAT 32-bit (Ext INT 13)"},
                      VolumeCase{"ntfs.img", "Imbrex NTFS|C:|NTFS|Primary|16 MB|None|", "IFS"}),
    [](const auto &param) {
        return std::string(param.param.file).substr(0, std::string(param.param.file).find('.'));
    });

TEST_F(Zbitool, SeveralVolumesGetDriveLettersInOrder)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(
        run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " " + quote(fixture("ntfs.img")))
            .status,
        0);
    ToolRun listed = run("list " + quote(image));
    EXPECT_NE(listed.out.find("IMBREX12|C:|FAT|"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Imbrex NTFS|D:|NTFS|"), std::string::npos) << listed.out;
    std::string out = file("ntfs-out.img");
    ASSERT_EQ(run("export " + quote(image) + " 2 " + quote(out)).status, 0);
    EXPECT_EQ(slurp(out), slurp(fixture("ntfs.img")));
}

TEST_F(Zbitool, RenameAndCommentTheImageAndAPartition)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img"))).status, 0);
    EXPECT_EQ(run("rename " + quote(image) + " 'New image name'").status, 0);
    EXPECT_EQ(run("rename " + quote(image) + " 1 System").status, 0);
    EXPECT_EQ(run("comment " + quote(image) + " 1 'Boot files'").status, 0);
    ToolRun long_ = run("rename " + quote(image) + " 1 " + std::string(120, 'x'));
    EXPECT_EQ(long_.status, 0);
    EXPECT_NE(long_.err.find("only the first 99"), std::string::npos);
    EXPECT_EQ(run("rename " + quote(image) + " 1 System").status, 0);

    ToolRun info = run("info " + quote(image) + " 1");
    EXPECT_NE(info.out.find("Name: System\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Comment: Boot files\n"), std::string::npos) << info.out;
    EXPECT_EQ(run("rename " + quote(image) + " 2 Nothing").status, 1);
}

TEST_F(Zbitool, DamagedDataIsReportedAndNothingIsExported)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat16.img"))).status, 0);
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096 + 5 * 65536 + 100);
        f.put('\x42');
    }
    std::string out = file("out.img");
    ToolRun exported = run("export " + quote(image) + " 1 " + quote(out));
    EXPECT_EQ(exported.status, 1);
    EXPECT_NE(exported.err.find("could not be exported; nothing was written"), std::string::npos)
        << exported.err;
    EXPECT_NE(exported.err.find("error 1902"), std::string::npos) << exported.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    size_t files = 0;
    for (auto &entry : std::filesystem::directory_iterator(m_dir.path()))
        files += entry.path().filename().string().find(".part-") != std::string::npos ? 1u : 0u;
    EXPECT_EQ(files, 0u);
}

TEST_F(Zbitool, ASpoiltSuperblockNeitherEmptiesNorCutsTheImage)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat16.img")) + " --compression low").status,
              0);
    const auto size = std::filesystem::file_size(image);
    for (uint64_t offset : {30u, 542u}) {
        imbrex::test::spoilByte(image, offset);
        ToolRun listed = run("list " + quote(image));
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_NE(listed.out.find("|C:|FAT|"), std::string::npos) << listed.out;
        EXPECT_EQ(run("rename " + quote(image) + " X" + std::to_string(offset)).status, 0);
        EXPECT_GE(std::filesystem::file_size(image), size);
    }
}

// An image whose newest state cannot be read shows an older one: every command says so, and changes wait
// for --accept-damaged.
TEST_F(Zbitool, OlderStateOfADamagedImageIsNamedAndKeptUntilAccepted)
{
    std::string image = file("old.zbi");
    ASSERT_TRUE(imbrex::test::makeSingleSlotImage(image));
    imbrex::test::spoilByte(image, 30); // slot 0 holds the newest state, 2
    const std::string before = slurp(image);

    ToolRun listed = run("list " + quote(image));
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.out, "");
    EXPECT_NE(listed.err.find("is damaged: its newest state (2) cannot be read. It shows the older state 1."),
              std::string::npos)
        << listed.err;
    for (const std::string &change : {"rename " + quote(image) + " X", "comment " + quote(image) + " X",
                                      "delete " + quote(image) + " 1"}) {
        ToolRun refused = run(change);
        EXPECT_EQ(refused.status, 1) << change;
        EXPECT_NE(refused.err.find("--accept-damaged"), std::string::npos) << change << ": " << refused.err;
        EXPECT_NE(refused.err.find("error 1914"), std::string::npos) << change << ": " << refused.err;
    }
    std::string other = file("other.zbi");
    ASSERT_EQ(run("create " + quote(other) + " " + quote(fixture("fat12.img"))).status, 0);
    ToolRun into = run("copy " + quote(other) + " " + quote(image));
    EXPECT_EQ(into.status, 1);
    EXPECT_NE(into.err.find("error 1914"), std::string::npos) << into.err;
    EXPECT_EQ(slurp(image), before);
    // Copying out of it says which state is copied.
    ToolRun from = run("copy " + quote(image) + " " + quote(file("new.zbi")));
    EXPECT_NE(from.err.find("It shows the older state 1."), std::string::npos) << from.err;

    EXPECT_EQ(run("rename " + quote(image) + " X --accept-damaged").status, 0);
    listed = run("list " + quote(image));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.err, "");
}

TEST_F(Zbitool, ASecondWriterIsToldTheImageIsInUse)
{
    std::string image = file("w.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img"))).status, 0);
    uint32_t error = 0;
    ImageStorePtr writer(ImageStoreOpen(image.c_str(), kNoSplit, 0, nullptr, &error));
    ASSERT_TRUE(writer) << error;
    std::string source = file("s.zbi");
    ASSERT_EQ(run("create " + quote(source) + " " + quote(fixture("fat12.img"))).status, 0);
    for (const std::string &change :
         {"rename " + quote(image) + " X", "comment " + quote(image) + " 1 X",
          "delete " + quote(image) + " 1", "copy " + quote(source) + " " + quote(image)}) {
        ToolRun refused = run(change);
        EXPECT_EQ(refused.status, 1) << change;
        EXPECT_NE(refused.err.find("is in use by another program"), std::string::npos)
            << change << ": " << refused.err;
        EXPECT_EQ(refused.err.find("read-only"), std::string::npos) << change << ": " << refused.err;
    }
}

TEST_F(Zbitool, BadInputGetsTheProgramsOwnWords)
{
    std::string junk = file("junk.zbi");
    std::ofstream(junk) << "this is not an image";
    ToolRun listed = run("list " + quote(junk));
    EXPECT_EQ(listed.status, 1);
    EXPECT_NE(listed.err.find("Either it is not a Korvane Image file, it's corrupted"), std::string::npos)
        << listed.err;

    ToolRun missing = run("list " + quote(file("missing.zbi")));
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(std::filesystem::exists(file("missing.zbi"))); // listing never creates an image

    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("frobnicate").status, 2);
    EXPECT_EQ(run("info " + quote(junk)).status, 2);
    EXPECT_EQ(run("list " + quote(junk) + " --bogus").status, 2);
    EXPECT_EQ(run("--help").status, 0);

    // A raw file that does not exist leaves no image behind; an existing image is not replaced by accident.
    std::string image = file("image.zbi");
    EXPECT_EQ(run("create " + quote(image) + " " + quote(file("nope.img"))).status, 1);
    EXPECT_FALSE(std::filesystem::exists(image));
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img"))).status, 0);
    EXPECT_EQ(run("create " + quote(image) + " " + quote(fixture("fat16.img"))).status, 1);
    std::string out = file("out.img");
    std::ofstream(out) << "keep me";
    EXPECT_EQ(run("export " + quote(image) + " 1 " + quote(out)).status, 1);
    EXPECT_EQ(slurp(out), "keep me");
    EXPECT_EQ(run("export " + quote(image) + " 1 " + quote(out) + " --force").status, 0);
    EXPECT_EQ(slurp(out), slurp(fixture("fat12.img")));
}

TEST_F(Zbitool, ARawFileOfPartialSectorsIsPaddedWithZeros)
{
    std::string raw = file("odd.img");
    std::string content(1000, 'q');
    std::ofstream(raw, std::ios::binary) << content;
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(raw)).status, 0);
    ToolRun listed = run("list " + quote(image));
    EXPECT_EQ(listed.out.rfind("odd|C:|Unknown|Primary|", 0), 0u) << listed.out;
    std::string out = file("out.img");
    ASSERT_EQ(run("export " + quote(image) + " 1 " + quote(out)).status, 0);
    EXPECT_EQ(slurp(out), content + std::string(24, '\0'));
}

TEST_F(Zbitool, CompressedProtectedAndSplitImagesRoundTrip)
{
    std::string raw = fixture("fat32.img");
    std::string password = file("password");
    std::ofstream(password) << "hunter22\n";
    struct Case
    {
        const char *options;
        const char *word;
    };
    for (Case c : {Case{"--compression low", "Low"}, Case{"--compression high", "High"},
                   Case{"--compression 3", "High"}, Case{"--compression high --password-file ", "High"}}) {
        std::string image = file("image.zbi");
        std::string options = c.options;
        bool protectedImage = options.find("--password-file") != std::string::npos;
        if (protectedImage)
            options += quote(password);
        ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --force " + options).status, 0)
            << options;
        ToolRun listed = run("list " + quote(image));
        EXPECT_NE(listed.out.find(std::string("|") + c.word + "|"), std::string::npos) << listed.out;
        std::string out = file("out.img");
        std::filesystem::remove(out);
        ToolRun exported = run("export " + quote(image) + " 1 " + quote(out) +
                               (protectedImage ? " --password-file " + quote(password) : std::string()));
        ASSERT_EQ(exported.status, 0) << options << exported.err;
        EXPECT_EQ(slurp(out), slurp(raw)) << options;
        if (protectedImage) {
            std::string wrong = file("wrong");
            std::ofstream(wrong) << "hunter23\n";
            std::filesystem::remove(out);
            ToolRun refused =
                run("export " + quote(image) + " 1 " + quote(out) + " --password-file " + quote(wrong));
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.err.find("Password entered is not valid for this partition."),
                      std::string::npos);
            EXPECT_EQ(run("export " + quote(image) + " 1 " + quote(out)).status, 1); // no terminal, no file
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}

TEST_F(Zbitool, SplitImageNeedsAllItsParts)
{
    // 40 MB of data in a volume of no known file system, so that every block is stored: five parts of 10 MB.
    std::string raw = file("raw.img");
    {
        std::vector<uint8_t> bytes = imbrex::test::patternBytes(40000000, 7);
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string image = file("set.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --split-size 10,000,000").status, 0);
    EXPECT_TRUE(std::filesystem::exists(file("set.005")));
    EXPECT_LE(std::filesystem::file_size(file("set.002")), 10000000u);
    EXPECT_NE(run("info " + quote(image) + " 1").out.find("Spanned: Yes\n"), std::string::npos);
    std::string out = file("out.img");
    ASSERT_EQ(run("export " + quote(image) + " 1 " + quote(out)).status, 0);
    EXPECT_EQ(slurp(out), slurp(raw));

    std::filesystem::rename(file("set.003"), file("away"));
    std::filesystem::remove(out);
    ToolRun missing = run("export " + quote(image) + " 1 " + quote(out));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("set.003 is missing"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("error 1812"), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(run("create " + quote(file("x.zbi")) + " " + quote(raw) + " --split-size 9999999").status, 2);
}

namespace {

// Every regular file below root, by relative path, with its bytes.
std::map<std::string, std::string> treeOf(const std::filesystem::path &root)
{
    std::map<std::string, std::string> tree;
    for (auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string relative = std::filesystem::relative(entry.path(), root).string();
        tree[relative] = entry.is_directory() ? std::string("<dir>") : slurp(entry.path().string());
    }
    return tree;
}

struct RestoreCase
{
    const char *volume;
    const char *compression;
};

class ZbitoolRestore : public Zbitool, public ::testing::WithParamInterface<RestoreCase>
{
};

} // namespace

TEST_P(ZbitoolRestore, ExtractedTreeEqualsWhatTheFileSystemToolsCopyOut)
{
    const RestoreCase &c = GetParam();
    std::string raw = fixture(c.volume);
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --compression " + c.compression).status, 0);
    std::string out = file("out");
    ToolRun extracted = run("extract " + quote(image) + " 1 '\\' -o " + quote(out));
    ASSERT_EQ(extracted.status, 0) << extracted.err;

    std::string reference = file("reference");
    std::filesystem::create_directories(reference);
    bool ntfs = std::string(c.volume).rfind("ntfs", 0) == 0;
    if (ntfs) {
        // The NTFS fixture holds its files in the root; ntfscat gives each one's data.
        ToolRun listed = run("ls " + quote(image) + " 1");
        std::istringstream rows(listed.out);
        std::string row;
        while (std::getline(rows, row)) {
            std::string name = row.substr(0, row.find('|'));
            std::string command = "ntfscat " + quote(raw) + " " + quote(name) + " > " +
                                  quote(reference + "/" + name) + " 2>/dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0) << name;
        }
    } else {
        std::string command =
            "MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + quote(raw) + " ::/ " + quote(reference) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    auto expected = treeOf(reference);
    EXPECT_GE(expected.size(), 9u);
    EXPECT_EQ(treeOf(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ZbitoolRestore,
                         ::testing::Values(RestoreCase{"fat12.img", "none"}, RestoreCase{"fat16.img", "high"},
                                           RestoreCase{"fat32.img", "low"}, RestoreCase{"ntfs.img", "none"},
                                           RestoreCase{"ntfs.img", "low"}),
                         [](const auto &param) {
                             std::string name =
                                 std::string(param.param.volume) + "_" + param.param.compression;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST_F(Zbitool, LsAndExtractByNamePatternAndWithExistingFiles)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat16.img")) + " --compression low").status,
              0);
    ToolRun listed = run("ls " + quote(image) + " 1 'mixed case folder'");
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("lower case.txt|File|513|"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("UPPER.TXT|File|65,536|"), std::string::npos) << listed.out;

    std::string out = file("out");
    ASSERT_EQ(run("extract " + quote(image) + " 1 '\\Mixed Case Folder\\*.TXT' -o " + quote(out)).status, 0);
    EXPECT_EQ(std::filesystem::file_size(out + "/lower case.txt"), 513u);
    EXPECT_EQ(std::filesystem::file_size(out + "/UPPER.TXT"), 65536u);

    std::ofstream(out + "/UPPER.TXT") << "mine";
    ToolRun kept = run("extract " + quote(image) + " 1 '\\Mixed Case Folder\\UPPER.TXT' -o " + quote(out) +
                       " --skip-existing");
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(slurp(out + "/UPPER.TXT"), "mine");
    ASSERT_EQ(run("extract " + quote(image) + " 1 '\\Mixed Case Folder\\UPPER.TXT' -o " + quote(out) +
                  " --overwrite")
                  .status,
              0);
    EXPECT_EQ(std::filesystem::file_size(out + "/UPPER.TXT"), 65536u);

    EXPECT_EQ(run("extract " + quote(image) + " 1 '\\nothing.txt' -o " + quote(out)).status, 1);
    EXPECT_EQ(run("extract " + quote(image) + " 1 '\\Do*\\a.txt' -o " + quote(out)).status, 1);
    EXPECT_EQ(run("extract " + quote(image) + " 1 '\\README.TXT'").status, 2); // no -o

    // The old one-stream compression cannot be read at random: refused in the program's words.
    ASSERT_EQ(
        run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --compression 5 --force").status,
        0);
    ToolRun legacy = run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(out));
    EXPECT_EQ(legacy.status, 1);
    EXPECT_NE(legacy.err.find("Restoring a file from this compressed image (type 5) is not supported."),
              std::string::npos);
}

TEST_F(Zbitool, IndexBuildAndCheck)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(
        run("create " + quote(image) + " " + quote(fixture("fat32.img")) + " --compression high").status, 0);
    std::string index = file("image.zbx");
    ToolRun built = run("index build " + quote(image) + " 1 " + quote(index));
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(run("index check " + quote(image) + " 1 " + quote(index)).status, 0);
    EXPECT_EQ(run("index build " + quote(image) + " 1 " + quote(index)).status, 1); // already there
    std::string out = file("out");
    ToolRun extracted =
        run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(out) + " --index " + quote(index));
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(std::filesystem::file_size(out + "/README.TXT"), 21u);
}
