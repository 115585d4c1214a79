// zbitool as a user runs it: real volumes from the file-system tools go into an image and come back out.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/PartitionCommands.h"
#include "platform/File.h"
#include "tests/engine/FatImageBuilder.h"
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

    // prefix goes before the tool's name (a wrapper such as timeout).
    ToolRun run(const std::string &args, const std::string &prefix = "")
    {
        std::string tool = (imbrex::test::binaryDir() / "cli/zbitool").string();
        std::string out = m_dir.file("stdout"), err = m_dir.file("stderr");
        std::string command =
            prefix + quote(tool) + " " + args + " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
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

TEST_F(Zbitool, VersionIsPrintedAndTheManualPageSaysWhatHelpSays)
{
    ToolRun version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("zbitool ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find('\n'), version.out.size() - 1);

    ToolRun help = run("--help");
    ASSERT_EQ(help.status, 0);
    // The page, with its roff escapes read back.
    std::string page = slurp((imbrex::test::binaryDir() / "cli/zbitool.1").string());
    for (size_t at = 0; (at = page.find("\\e", at)) != std::string::npos; ++at)
        page.replace(at, 2, "\\");
    for (size_t at = 0; (at = page.find("\n\\&", at)) != std::string::npos; ++at)
        page.erase(at + 1, 2);
    std::istringstream lines(help.out);
    std::string line;
    std::getline(lines, line); // the title line is the page's NAME
    int checked = 0;
    while (std::getline(lines, line)) {
        EXPECT_NE(page.find(line + "\n"), std::string::npos) << "missing from the page: " << line;
        ++checked;
    }
    EXPECT_GT(checked, 40);
}

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

namespace {

// Counts the input and output operations of a run (on files whose path holds g_faultPath) and, at operation
// number g_faultAt, fails it as a full disk would or ends the process as a crash would.
int g_faultAt = 0;
bool g_faultCrashes = false;
std::string g_faultPath;

int createFault(imbrex::platform::IoOperation, const std::string &path, uint64_t, size_t)
{
    if (path.find(g_faultPath) == std::string::npos || --g_faultAt != 0)
        return 0;
    if (g_faultCrashes)
        ::_exit(0);
    return imbrex::platform::kErrorDiskFull;
}

struct FaultRun
{
    bool reached = false; // the fault came before the run ended
    int status = -1;      // the run's exit status, when it ended
};

// zbitool create as the test program itself runs it, so that faults can be injected; a crash happens in a
// child process, as it would in a separate run.
FaultRun createWithFault(const std::vector<std::string> &words, int faultAt, bool crash,
                         const std::string &onPath = "")
{
    g_faultPath = onPath;
    g_faultAt = faultAt;
    g_faultCrashes = crash;
    if (!crash) {
        imbrex::platform::setIoFaultHook(createFault);
        int status = imbrex::cli::runCreate(words);
        imbrex::platform::setIoFaultHook(nullptr);
        return {g_faultAt <= 0, status};
    }
    pid_t child = ::fork();
    if (child == 0) {
        imbrex::platform::setIoFaultHook(createFault);
        int status = imbrex::cli::runCreate(words);
        ::_exit(10 + status);
    }
    int raw = 0;
    ::waitpid(child, &raw, 0);
    if (WIFEXITED(raw) && WEXITSTATUS(raw) >= 10)
        return {false, WEXITSTATUS(raw) - 10};
    return {true, -1};
}

// The names in dir, sorted, without those the test made itself.
std::vector<std::string> namesIn(const std::filesystem::path &dir)
{
    std::vector<std::string> names;
    for (auto &entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name != "stdout" && name != "stderr")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(Zbitool, CreateLeavesTheOldImageOrNothingUntilTheNewOneIsComplete)
{
    const std::string image = file("image.zbi");
    const std::string replacement = fixture("fat16.img");

    // Every operation of a replacing run in turn fails (a full disk) or ends the process (a crash).
    for (bool crash : {false, true}) {
        ASSERT_EQ(
            run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --name Old --force").status,
            0);
        const std::string old = slurp(image);
        const std::vector<std::string> names = namesIn(m_dir.path());
        int at = 1;
        for (;; ++at) {
            FaultRun r = createWithFault({image, replacement, "--name", "New", "--force"}, at, crash);
            if (!r.reached) {
                ASSERT_EQ(r.status, 0);
                break;
            }
            ASSERT_TRUE(slurp(image) == old) << "fault at operation " << at << (crash ? ", crashed" : "");
            if (!crash) {
                EXPECT_EQ(r.status, 1) << "failure at operation " << at;
                EXPECT_EQ(namesIn(m_dir.path()), names) << "left behind by a failure at operation " << at;
            }
            ASSERT_LT(at, 10000);
        }
        EXPECT_GT(at, 5);
        EXPECT_NE(run("info " + quote(image) + " 1").out.find("IMBREX16"), std::string::npos);
    }

    // An image another writer holds is not replaced under it.
    imbrex::platform::File held;
    ASSERT_EQ(held.open(image, imbrex::platform::FileAccess::ReadWrite), 0);
    ASSERT_TRUE(held.tryLockExclusive());
    const std::string locked = slurp(image);
    ToolRun refused = run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --force");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("error 1903"), std::string::npos) << refused.err;
    EXPECT_TRUE(slurp(image) == locked);
    held.close();

    // A run that dies before it is complete leaves no image under a new name.
    const std::string fresh = file("fresh.zbi");
    for (int at = 1;; ++at) {
        if (!createWithFault({fresh, replacement}, at, true).reached)
            break;
        ASSERT_FALSE(std::filesystem::exists(fresh)) << "crash at operation " << at;
        ASSERT_LT(at, 10000);
    }
}

TEST_F(Zbitool, ASplitSetIsBuiltBesideItsTargetAndOpensUnderItsFinalNames)
{
    // 24 MB stored whole: three parts of 10 MB.
    std::string raw = file("raw.img");
    {
        std::vector<uint8_t> bytes = imbrex::test::patternBytes(24000000, 5);
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string image = file("set.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img"))).status, 0);
    const std::string old = slurp(image);

    // A run that ends out of space in its third part leaves the old image and no part.
    FaultRun failed = createWithFault({image, raw, "--split-size", "10000000", "--force"}, 2, false, ".003");
    EXPECT_TRUE(failed.reached);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(slurp(image) == old);
    EXPECT_EQ(namesIn(m_dir.path()), (std::vector<std::string>{"raw.img", "set.zbi"}));

    ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --split-size 10000000 --force").status, 0);
    EXPECT_EQ(namesIn(m_dir.path()), (std::vector<std::string>{"raw.img", "set.002", "set.003", "set.zbi"}));
    std::string out = file("out.img");
    ASSERT_EQ(run("export " + quote(image) + " 1 " + quote(out)).status, 0);
    EXPECT_EQ(slurp(out), slurp(raw));
}

TEST_F(Zbitool, ACommandNeverWritesOverItsOwnInput)
{
    const std::string raw = file("raw.img");
    std::filesystem::copy_file(fixture("fat12.img"), raw);
    const std::string volume = slurp(raw);
    std::filesystem::create_hard_link(raw, file("alias.zbi"));
    std::filesystem::create_symlink(raw, file("link.zbi"));
    for (const char *target : {"raw.img", "alias.zbi", "link.zbi"}) {
        ToolRun refused = run("create " + quote(file(target)) + " " + quote(raw) + " --force");
        EXPECT_EQ(refused.status, 1) << target;
        EXPECT_NE(refused.err.find("choose another output"), std::string::npos) << refused.err;
        EXPECT_EQ(slurp(raw), volume) << target;
    }

    const std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --compression low").status, 0);
    const std::string stored = slurp(image);
    std::filesystem::create_hard_link(image, file("other-name.img"));
    for (const char *target : {"image.zbi", "other-name.img"}) {
        ToolRun refused = run("export " + quote(image) + " 1 " + quote(file(target)) + " --force");
        EXPECT_EQ(refused.status, 1) << target;
        EXPECT_NE(refused.err.find("choose another output"), std::string::npos) << refused.err;
        EXPECT_EQ(slurp(image), stored) << target;
    }
    EXPECT_EQ(run("index build " + quote(image) + " 1 " + quote(file("other-name.img"))).status, 1);
    EXPECT_EQ(slurp(image), stored);
}

TEST_F(Zbitool, FifosAndDevicesAreRefusedWithoutWaitingOrBeingReplaced)
{
    const std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --compression low").status,
              0);
    const std::string fifo = file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string f = quote(fifo), i = quote(image);
    // A command that waited on the FIFO would never end; timeout turns that into a failure here.
    for (const std::string &args :
         {"list " + f, "info " + f + " 1", "rename " + f + " X", "delete " + f + " 1", "ls " + f + " 1",
          "ls " + i + " 1 --index " + f, "index check " + i + " 1 " + f, "index build " + i + " 1 " + f,
          "create " + quote(file("new.zbi")) + " " + f,
          "create " + f + " " + quote(fixture("fat12.img")) + " --force",
          "export " + i + " 1 " + f + " --force", "export " + f + " 1 " + quote(file("out.img")),
          "copy " + f + " " + quote(file("copy.zbi")), "copy " + i + " " + f}) {
        ToolRun refused = run(args, "timeout 120 ");
        EXPECT_EQ(refused.status, 1) << args;
        EXPECT_NE(refused.err.find("is a FIFO"), std::string::npos) << args << "\n" << refused.err;
        EXPECT_EQ(imbrex::platform::fileKindOf(fifo), imbrex::platform::FileKind::Fifo) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(file("new.zbi")));
    EXPECT_FALSE(std::filesystem::exists(file("copy.zbi")));

    ToolRun device = run("create " + quote(file("new.zbi")) + " /dev/zero");
    EXPECT_EQ(device.status, 1);
    EXPECT_NE(device.err.find("'/dev/zero' is a character device"), std::string::npos) << device.err;
    ToolRun folder = run("list " + quote(m_dir.path().string()));
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
}

TEST_F(Zbitool, ControlCharactersInNamesAreEscapedAndPaddingIsSaid)
{
    // A volume of no known file system is named after its file; this one's name holds a newline and an
    // escape.
    const std::string raw = file("two\nlines\x1b.img");
    std::ofstream(raw, std::ios::binary) << std::string(1000, 'q');
    const std::string image = file("image.zbi");
    ToolRun created = run("create " + quote(image) + " " + quote(raw));
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_NE(created.err.find("warning: '" + raw + "' is not a whole number of 512-byte sectors"),
              std::string::npos)
        << created.err;
    EXPECT_NE(created.err.find("24 zero bytes"), std::string::npos) << created.err;
    EXPECT_EQ(run("create " + quote(file("whole.zbi")) + " " + quote(fixture("fat12.img"))).err, "");

    ToolRun listed = run("list " + quote(image));
    EXPECT_EQ(listed.out.rfind("two\\nlines\\x1b|C:|Unknown|", 0), 0u) << listed.out;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1);
    EXPECT_NE(run("info " + quote(image) + " 1").out.find("Name: two\\nlines\\x1b\n"), std::string::npos);

    // A long name inside a FAT volume with a newline in it: its characters are not covered by a checksum.
    std::string volume = slurp(fixture("fat12.img"));
    const std::string mixed("M\0i\0x\0e\0d\0", 10);
    size_t at = volume.find(mixed);
    ASSERT_NE(at, std::string::npos);
    volume[at + 4] = '\n';
    const std::string patched = file("patched.img");
    std::ofstream(patched, std::ios::binary) << volume;
    ASSERT_EQ(run("create " + quote(file("fat.zbi")) + " " + quote(patched)).status, 0);
    ToolRun ls = run("ls " + quote(file("fat.zbi")) + " 1");
    ASSERT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(ls.out.find("Mi\\ned Case Folder|Folder|"), std::string::npos) << ls.out;
    EXPECT_EQ(ls.out.find("\ned Case Folder"), std::string::npos) << ls.out;
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
    const std::string saved = slurp(index);
    ToolRun again = run("index build " + quote(image) + " 1 " + quote(index));
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("The image index already exists in this file."), std::string::npos) << again.err;
    EXPECT_EQ(slurp(index), saved);
    std::string out = file("out");
    ToolRun extracted =
        run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(out) + " --index " + quote(index));
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(extracted.err.find("warning"), std::string::npos) << extracted.err;
    EXPECT_EQ(std::filesystem::file_size(out + "/README.TXT"), 21u);

    // The last checkpoint moved a byte off the start of its chunk: not usable, and the restore goes on
    // without it.
    std::string moved = saved;
    const size_t checkpoints = (saved.size() - 40) / 16;
    ASSERT_GT(checkpoints, 1u);
    moved[40 + 8 * (checkpoints - 1)] = static_cast<char>(moved[40 + 8 * (checkpoints - 1)] + 1);
    std::ofstream(index, std::ios::binary | std::ios::trunc) << moved;
    ToolRun checked = run("index check " + quote(image) + " 1 " + quote(index));
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.err.find("The file is not a valid image index file."), std::string::npos)
        << checked.err;
    std::string unindexed = file("unindexed");
    ToolRun restored = run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(unindexed) +
                           " --index " + quote(index));
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_NE(restored.err.find("warning: The file is not a valid image index file."), std::string::npos)
        << restored.err;
    EXPECT_EQ(slurp(unindexed + "/README.TXT"), slurp(out + "/README.TXT"));
}

namespace {

struct timespec modificationTime(const std::string &path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

} // namespace

TEST_F(Zbitool, ExtractKeepsRecordedDatesUnlessAskedNotTo)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat16.img")) + " --compression low").status,
              0);
    // The fixture's files were dated so, in local time, before they went onto the volume.
    std::string reference = file("reference");
    ASSERT_EQ(std::system(("touch -d '2021-03-04 05:06:08' " + quote(reference)).c_str()), 0);
    const time_t recorded = modificationTime(reference).tv_sec;

    std::string out = file("out");
    ToolRun kept = run("extract " + quote(image) + " 1 '\\' -o " + quote(out));
    ASSERT_EQ(kept.status, 0) << kept.err;
    for (const char *path : {"/README.TXT", "/Documents/report-2020.txt", "/Documents", "/deep/level1"})
        EXPECT_EQ(modificationTime(out + path).tv_sec, recorded) << path;

    std::string now = file("now");
    ASSERT_EQ(run("extract " + quote(image) + " 1 '\\' -o " + quote(now) + " --current-time").status, 0);
    EXPECT_GT(modificationTime(now + "/README.TXT").tv_sec, recorded);
    EXPECT_GT(modificationTime(now + "/Documents").tv_sec, recorded);

    // "Include sub-directories?" answered No: the folder's files only.
    std::string flat = file("flat");
    ASSERT_EQ(run("extract " + quote(image) + " 1 '\\deep' '\\Documents' -o " + quote(flat) +
                  " --no-subdirectories")
                  .status,
              0);
    EXPECT_TRUE(std::filesystem::is_directory(flat + "/deep"));
    EXPECT_FALSE(std::filesystem::exists(flat + "/deep/level1"));
    EXPECT_TRUE(std::filesystem::exists(flat + "/Documents/report-2020.txt"));
}

TEST_F(Zbitool, ExtractNamesWhatItCouldNotRestoreAndFails)
{
    std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img"))).status, 0);
    std::string outside = file("outside");
    std::string out = file("out");
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(out);
    std::filesystem::create_directory_symlink(outside, out + "/Documents");
    ToolRun linked = run("extract " + quote(image) + " 1 '\\' -o " + quote(out));
    EXPECT_EQ(linked.status, 1);
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_NE(linked.err.find(out + "/Documents\n\nA symbolic link stands there; it is not followed."),
              std::string::npos)
        << linked.err;
    EXPECT_NE(linked.err.find("; 3 failed"), std::string::npos) << linked.err; // the folder and its 2 files
    EXPECT_EQ(std::filesystem::file_size(out + "/README.TXT"), 21u);           // the rest was restored
    EXPECT_EQ(std::filesystem::file_size(out + "/deep/level1/level2/level3/leaf.bin"), 8192u);

    // -o naming a file, and a path that names nothing among others that do.
    std::string plain = file("plain");
    std::ofstream(plain) << "x";
    EXPECT_EQ(run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(plain)).status, 1);
    std::string more = file("more");
    ToolRun partly = run("extract " + quote(image) + " 1 '\\nothing.txt' '\\one.bin' -o " + quote(more));
    EXPECT_EQ(partly.status, 1);
    EXPECT_EQ(std::filesystem::file_size(more + "/one.bin"), 1u);

    // An index file that cannot be used is a warning; the restore goes on without it.
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --compression low --force")
                  .status,
              0);
    std::string again = file("again");
    ToolRun unindexed = run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(again) + " --index " +
                            quote(file("missing.zbx")));
    EXPECT_EQ(unindexed.status, 0) << unindexed.err;
    EXPECT_NE(unindexed.err.find("warning: The image index file was not found."), std::string::npos)
        << unindexed.err;
    EXPECT_EQ(std::filesystem::file_size(again + "/README.TXT"), 21u);

    // The old one-stream compression: refused with the way out.
    ASSERT_EQ(
        run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " --compression 5 --force").status,
        0);
    ToolRun legacy = run("extract " + quote(image) + " 1 '\\README.TXT' -o " + quote(again));
    EXPECT_NE(
        legacy.err.find("Use the uncompress option to create an image from which files can be restored."),
        std::string::npos)
        << legacy.err;
}

// A volume crafted with what the formatting tools never write: the unreadable folders are named, the rest
// is restored, and a file whose long name is ".." is saved under a safe name.
TEST_F(Zbitool, ExtractFromADamagedFatVolumeRestoresTheRestAndFails)
{
    imbrex::test::FatImageBuilder fat(imbrex::test::FatImageBuilder::Geometry{});
    fat.addFile(0, "A       TXT", {'a'});
    fat.addFile(0, "DOTDOT~1   ", {'d', 'd'}, u"..");
    uint32_t loop = fat.addDirectory(0, "LOOP       ");
    fat.addFile(loop, "INSIDE  TXT", {'i'});
    fat.setFat(loop, loop); // the folder's chain leads back to itself
    fat.addFile(0, "Z       TXT", {'z'});
    std::string raw = file("crafted.img");
    {
        std::ofstream out(raw, std::ios::binary);
        out.write(reinterpret_cast<const char *>(fat.image().data()),
                  static_cast<std::streamsize>(fat.image().size()));
    }
    std::string image = file("image.zbi");
    ToolRun created = run("create " + quote(image) + " " + quote(raw) + " --all-blocks");
    ASSERT_EQ(created.status, 0) << created.err;
    std::string out = file("out");
    ToolRun extracted = run("extract " + quote(image) + " 1 '\\' -o " + quote(out));
    EXPECT_EQ(extracted.status, 1) << extracted.err;
    EXPECT_EQ(slurp(out + "/A.TXT"), "a");
    EXPECT_EQ(slurp(out + "/Z.TXT"), "z");
    EXPECT_EQ(slurp(out + "/_.."), "dd");
    EXPECT_NE(extracted.err.find("File saved as " + out + "/_.."), std::string::npos) << extracted.err;
    EXPECT_NE(extracted.err.find("traversing directories at \\LOOP"), std::string::npos) << extracted.err;
    EXPECT_NE(extracted.err.find("failed"), std::string::npos) << extracted.err;
}

namespace {

// The inclusive "partition bytes A-B" ranges of verify's report.
std::vector<std::pair<uint64_t, uint64_t>> reportedRanges(const std::string &out)
{
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    std::istringstream lines(out);
    std::string line;
    const std::string key = "  partition bytes ";
    while (std::getline(lines, line))
        if (line.rfind(key, 0) == 0) {
            std::string span = line.substr(key.size());
            size_t dash = span.find('-');
            ranges.emplace_back(std::stoull(span.substr(0, dash)), std::stoull(span.substr(dash + 1)));
        }
    return ranges;
}

} // namespace

TEST_F(Zbitool, VerifyNamesTheDamagedRangeAndTheFileThatHoldsIt)
{
    // The NTFS volume holds the tree's files flattened into its root.
    struct Case
    {
        const char *volume;
        const char *path;
    };
    for (Case c : {Case{"fat16.img", "\\Documents\\A rather long file name for testing.dat"},
                   Case{"ntfs.img", "\\A rather long file name for testing.dat"}}) {
        const std::string raw = fixture(c.volume);
        const std::string image = file("image.zbi");
        ASSERT_EQ(run("create " + quote(image) + " " + quote(raw) + " --force").status, 0);
        ToolRun clean = run("verify " + quote(image));
        EXPECT_EQ(clean.status, 0) << clean.err;
        EXPECT_NE(clean.out.find("no damage found"), std::string::npos) << clean.out;

        // Where a piece of the long file lies in the volume and in the image.
        const std::string out = file("out");
        ASSERT_EQ(
            run("extract " + quote(image) + " 1 " + quote(c.path) + " -o " + quote(out) + " --overwrite")
                .status,
            0);
        const std::string probe = slurp(out + "/A rather long file name for testing.dat").substr(200000, 64);
        const size_t inVolume = slurp(raw).find(probe);
        const size_t inImage = slurp(image).find(probe);
        ASSERT_NE(inVolume, std::string::npos);
        ASSERT_NE(inImage, std::string::npos);
        imbrex::test::flipByte(image, inImage + 10);
        const std::string damagedBytes = slurp(image);

        ToolRun damaged = run("verify " + quote(image) + " 1");
        EXPECT_EQ(damaged.status, 1) << damaged.err;
        EXPECT_NE(damaged.out.find("): chunk "), std::string::npos) << damaged.out;
        EXPECT_NE(damaged.out.find(std::string("  in ") + c.path + "\n"), std::string::npos) << damaged.out;
        EXPECT_NE(damaged.out.find("1 damaged piece found."), std::string::npos) << damaged.out;
        bool covered = false;
        for (auto [first, last] : reportedRanges(damaged.out))
            covered = covered || (first <= inVolume + 10 && inVolume + 10 <= last);
        EXPECT_TRUE(covered) << damaged.out;
        EXPECT_EQ(slurp(image), damagedBytes);                     // verify writes nothing
        EXPECT_EQ(run("verify " + quote(image) + " 2").status, 1); // no such partition
    }
    EXPECT_EQ(run("verify").status, 2);
}

TEST_F(Zbitool, VerifyPassesCompressedAndProtectedImagesAndSeesADamagedSuperblock)
{
    const std::string password = file("password");
    std::ofstream(password) << "hunter22\n";
    const std::string image = file("image.zbi");
    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img")) + " " +
                  quote(fixture("fat32.img")) + " --compression low")
                  .status,
              0);
    ToolRun low = run("verify " + quote(image));
    EXPECT_EQ(low.status, 0) << low.err;
    EXPECT_NE(low.out.find("Checked 2 partitions"), std::string::npos) << low.out;

    ASSERT_EQ(run("create " + quote(image) + " " + quote(fixture("fat12.img")) +
                  " --compression high --force --password-file " + quote(password))
                  .status,
              0);
    const std::string before = slurp(image);
    ToolRun unlocked = run("verify " + quote(image) + " --password-file " + quote(password));
    EXPECT_EQ(unlocked.status, 0) << unlocked.err;
    // Without the password only the checksums can be read, and the run says it could not check everything.
    ToolRun locked = run("verify " + quote(image));
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("only the checksums"), std::string::npos) << locked.err;
    EXPECT_EQ(slurp(image), before);

    // A byte of the newest superblock (slot 0 after two commits): the damage is named, whatever the other
    // slot still shows.
    imbrex::test::flipByte(image, 30);
    ToolRun slot = run("verify " + quote(image));
    EXPECT_EQ(slot.status, 1);
    EXPECT_NE(slot.out.find("superblock slot 0 is damaged"), std::string::npos) << slot.out;
}
