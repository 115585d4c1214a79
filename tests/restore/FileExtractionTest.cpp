#include "restore/FileExtraction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "platform/File.h"
#include "restore/FileRows.h"
#include "restore/PathLookup.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using namespace imbrex::restore;
using Answer = RestoreQuestions::Answer;

namespace {

// A volume in memory: paths ("\"-separated) to file contents, and directories.
class FakeSource final : public FileSource
{
public:
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, std::vector<std::string>> directories; // path -> child names
    std::set<std::string> severalStreams;
    int failReadAt = -1; // fail the n-th read with failReadCode
    int failReadCode = rc::kIoError;
    std::map<std::string, int> listingErrors;  // directories whose listing ends with this code
    std::map<std::string, uint64_t> fileTimes; // recorded times, in NTFS units
    std::vector<uint32_t> reads;
    std::map<std::string, uint64_t> dataStarts; // by file name; 0 when not given
    std::vector<std::string> opened;

    void addFile(const std::string &dir, const std::string &name, std::vector<uint8_t> data)
    {
        directories[dir].push_back(name);
        files[(dir == "\\" ? "" : dir) + "\\" + name] = std::move(data);
    }
    void addDirectory(const std::string &dir, const std::string &name)
    {
        directories[dir].push_back(name);
        directories[(dir == "\\" ? "" : dir) + "\\" + name];
    }

    bool isFatVolume() override { return false; }
    int openEntry(const std::array<uint8_t, 32> &) override { return 1; }
    int openRecord(uint32_t, int *) override { return 1; }
    int openFile(const std::string &path, int *kind) override
    {
        auto it = files.find(path);
        if (it == files.end())
            return rc::kNoIndexFile;
        m_current = &it->second;
        m_position = 0;
        opened.push_back(path);
        *kind = severalStreams.count(path) ? 2 : 1;
        return 0;
    }
    uint64_t fileSize() override { return m_current ? m_current->size() : 0; }
    int readFile(void *buffer, uint32_t count) override
    {
        reads.push_back(count);
        if (failReadAt >= 0 && static_cast<int>(reads.size()) == failReadAt + 1)
            return failReadCode;
        if (!m_current || m_position + count > m_current->size())
            return rc::kBeyondEnd;
        std::memcpy(buffer, m_current->data() + m_position, count);
        m_position += count;
        return 0;
    }
    int closeFile() override
    {
        m_current = nullptr;
        return 0;
    }
    int listDirectory(const std::string &path, const std::array<uint8_t, 32> *,
                      std::vector<engine::DirListEntry> *entries) override
    {
        auto it = directories.find(path.empty() ? "\\" : path);
        if (it == directories.end())
            return 503;
        entries->clear();
        for (const std::string &name : it->second) {
            engine::DirListEntry entry;
            entry.name = name;
            std::string child = (it->first == "\\" ? "" : it->first) + "\\" + name;
            entry.attributes = directories.count(child) ? engine::kAttrDirectory : engine::kAttrArchive;
            entry.fileTime = fileTimes.count(child) ? fileTimes[child] : 0;
            entries->push_back(entry);
        }
        auto failed = listingErrors.find(it->first);
        return failed == listingErrors.end() ? 0 : failed->second;
    }
    int resetStream() override { return 0; }
    uint64_t dataStart(const RestoreItem &item) override
    {
        auto it = dataStarts.find(item.name);
        return it == dataStarts.end() ? 0 : it->second;
    }

private:
    const std::vector<uint8_t> *m_current = nullptr;
    size_t m_position = 0;
};

class ScriptedQuestions final : public RestoreQuestions
{
public:
    std::vector<Answer> replaceAnswers, createAnswers;
    Answer subdirectories = Answer::Yes;
    bool errorAnswer = true;
    std::vector<std::string> asked;
    std::vector<int> percents;
    int cancelAtPercent = -1;

    Answer replaceFile(const std::string &message, bool offerAll) override
    {
        asked.push_back("replace " + message + (offerAll ? " (all)" : ""));
        return next(replaceAnswers);
    }
    Answer createDirectory(const std::string &message, bool offerAll) override
    {
        asked.push_back("create " + message + (offerAll ? " (all)" : ""));
        return next(createAnswers);
    }
    Answer includeSubdirectories() override
    {
        asked.push_back("subdirectories");
        return subdirectories;
    }
    bool error(const std::string &text, bool) override
    {
        asked.push_back("error " + text);
        return errorAnswer;
    }
    void information(const std::string &text) override { asked.push_back("info " + text); }
    void currentFile(const std::string &) override {}
    bool filePercent(int percent) override
    {
        percents.push_back(percent);
        return percent != cancelAtPercent;
    }
    void firstStreamOnly(const std::string &path) override { asked.push_back("first stream " + path); }

private:
    static Answer next(std::vector<Answer> &answers)
    {
        if (answers.empty())
            return Answer::No;
        Answer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

std::string slurp(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr uint64_t kFileTime = 132593079681234567ull; // 2021-03-04 05:06:08.1234567 UTC
constexpr int64_t kUnixSeconds = 1614834368;

timespec modifiedAt(const std::filesystem::path &path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

std::string text(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(FileExtraction, CopiesFilesInPiecesOfAtMost64KiB)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "empty.bin", {});
    source.addFile("\\", "big.bin", test::patternBytes(65537, 1));
    ScriptedQuestions questions;
    FileExtraction extraction(source, questions);
    EXPECT_EQ(extraction.run("empty.bin", "\\", dir.path().string(), {}), RestoreOutcome::Restored);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "empty.bin"));
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "empty.bin"), 0u);
    EXPECT_TRUE(source.reads.empty());

    questions.percents.clear();
    EXPECT_EQ(extraction.run("big.bin", "\\", dir.path().string() + "/", {}), RestoreOutcome::Restored);
    EXPECT_EQ(source.reads, (std::vector<uint32_t>{65536, 1}));
    EXPECT_EQ(questions.percents, (std::vector<int>{0, 100, 100})); // 99.998 rounds up
    EXPECT_EQ(slurp(dir.path() / "big.bin"), text(source.files["\\big.bin"]));

    // A larger file is written on another thread while it is read, still in the same pieces.
    source.addFile("\\", "larger.bin", test::patternBytes(1000001, 2));
    source.reads.clear();
    EXPECT_EQ(extraction.run("larger.bin", "\\", dir.path().string(), {}), RestoreOutcome::Restored);
    EXPECT_EQ(source.reads.size(), 16u);
    EXPECT_EQ(source.reads.back(), 1000001u % 65536);
    EXPECT_EQ(slurp(dir.path() / "larger.bin"), text(source.files["\\larger.bin"]));
}

TEST(FileExtraction, ExistingFilesAreReplacedOnlyWhenTheAnswerSaysSo)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "a.txt", {'n', 'e', 'w'});
    source.addFile("\\", "b.txt", {'B'});
    source.addFile("\\", "c.txt", {'C'});
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        std::ofstream(dir.path() / name) << "old";
    ScriptedQuestions questions;
    FileExtraction single(source, questions);
    EXPECT_EQ(single.run("a.txt", "\\", dir.path().string(), {}), RestoreOutcome::Kept);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0],
              "replace File already exists. " + (dir.path() / "a.txt").string()); // no "all"
    EXPECT_EQ(slurp(dir.path() / "a.txt"), "old");

    // Several items: Replace All once, then no more questions.
    questions.asked.clear();
    questions.replaceAnswers = {Answer::All};
    FileExtraction several(source, questions);
    std::vector<RestoreItem> items = {
        {"a.txt", false, std::nullopt}, {"b.txt", false, std::nullopt}, {"c.txt", false, std::nullopt}};
    EXPECT_EQ(several.run("", "\\", dir.path().string(), items), RestoreOutcome::Restored);
    EXPECT_EQ(questions.asked.size(), 1u);
    EXPECT_NE(questions.asked[0].find("(all)"), std::string::npos);
    EXPECT_EQ(slurp(dir.path() / "a.txt"), "new");
    EXPECT_EQ(slurp(dir.path() / "c.txt"), "C");
}

TEST(FileExtraction, MissingDirectoriesAreCreatedFromTheTop)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "f.txt", {'x'});
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::Yes};
    FileExtraction extraction(source, questions);
    std::string target = (dir.path() / "one" / "two").string();
    EXPECT_EQ(extraction.run("f.txt", "\\", target, {}), RestoreOutcome::Restored);
    EXPECT_EQ(slurp(dir.path() / "one" / "two" / "f.txt"), "x");
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0], "create Directory does not exist. " + target);

    questions.asked.clear();
    questions.createAnswers = {Answer::No};
    FileExtraction refused(source, questions);
    EXPECT_EQ(refused.run("f.txt", "\\", (dir.path() / "three" / "four").string(), {}),
              RestoreOutcome::Stopped);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "three"));
}

TEST(FileExtraction, TreesAreRestoredWithEmptyDirectoriesAndSafeNames)
{
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "Docs");
    source.addFile("\\Docs", "a.txt", {'a'});
    source.addDirectory("\\Docs", "Empty");
    source.addDirectory("\\Docs", "Deep");
    source.addFile("\\Docs\\Deep", "b.txt", {'b'});
    source.addFile("\\Docs", "..", {'!'});                       // a hostile name that would climb out
    source.addFile("\\Docs", "sub/dir", {'s'});                  // a separator inside a name
    source.addFile("\\Docs", std::string("bad\xff.txt"), {'x'}); // not UTF-8
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    std::vector<RestoreItem> items = {{"Docs", true, std::nullopt}};
    EXPECT_EQ(extraction.run("Docs", "\\", (dir.path() / "out").string(), items), RestoreOutcome::Restored);
    EXPECT_EQ(slurp(dir.path() / "out/Docs/a.txt"), "a");
    EXPECT_EQ(slurp(dir.path() / "out/Docs/Deep/b.txt"), "b");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "out/Docs/Empty"));
    // A file whose name reads ".." holds data of its own: it is kept under a safe name, with a notice.
    EXPECT_EQ(slurp(dir.path() / "out/Docs/_.."), "!");
    EXPECT_EQ(slurp(dir.path() / "out/Docs/sub_dir"), "s");
    EXPECT_EQ(slurp(dir.path() / "out/Docs/badx.txt"), "x");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/!"));
    // A name given by hand that would climb out is restored under a safe name inside the target.
    source.addFile("\\", "..", {'?'});
    EXPECT_EQ(extraction.run("..", "\\", (dir.path() / "out").string(), {}), RestoreOutcome::Restored);
    EXPECT_EQ(slurp(dir.path() / "out/_.."), "?");
    // Nothing was written outside the target.
    size_t outside = 0;
    for (auto &entry : std::filesystem::directory_iterator(dir.path()))
        outside += entry.path().filename() != "out" ? 1u : 0u;
    EXPECT_EQ(outside, 0u);
}

TEST(FileExtraction, FailuresAndCancelLeaveNoPartialFile)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "big.bin", test::patternBytes(200000, 2));
    source.addFile("\\", "next.bin", {'n'});
    source.failReadAt = 1; // the second piece
    ScriptedQuestions questions;
    FileExtraction extraction(source, questions);
    std::vector<RestoreItem> items = {{"big.bin", false, std::nullopt}, {"next.bin", false, std::nullopt}};
    EXPECT_EQ(extraction.run("", "\\", dir.path().string(), items),
              RestoreOutcome::Failed); // the run goes on with the next item, and says one failed
    EXPECT_EQ(extraction.failures(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "big.bin"));
    EXPECT_EQ(slurp(dir.path() / "next.bin"), "n");
    ASSERT_FALSE(questions.asked.empty());
    EXPECT_EQ(questions.asked[0], "error Error 1911 reading file \\big.bin");

    source.failReadAt = -1;
    std::filesystem::remove(dir.path() / "next.bin");
    questions.cancelAtPercent = 33;
    FileExtraction cancelled(source, questions);
    EXPECT_EQ(cancelled.run("", "\\", dir.path().string(), items), RestoreOutcome::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "big.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "next.bin"));
}

TEST(FileExtraction, FullDiskIsReportedAndTheFileRemoved)
{
    // Written on the reading thread (100,000 bytes) and behind it (2,000,000 bytes): either way the run
    // reports the full disk once and leaves nothing under the file's name, nor under a temporary one.
    for (size_t size : {100000u, 2000000u}) {
        SCOPED_TRACE(size);
        test::TempDir dir;
        FakeSource source;
        source.addFile("\\", "big.bin", test::patternBytes(size, 3));
        ScriptedQuestions questions;
        FileExtraction extraction(source, questions);
        platform::setIoFaultHook([](platform::IoOperation op, const std::string &, uint64_t offset, size_t) {
            return op == platform::IoOperation::Write && offset > 0 ? platform::kErrorDiskFull : 0;
        });
        RestoreOutcome result = extraction.run("big.bin", "\\", dir.path().string(), {});
        platform::setIoFaultHook(nullptr);
        EXPECT_EQ(result, RestoreOutcome::Failed);
        ASSERT_EQ(questions.asked.size(), 1u);
        EXPECT_EQ(questions.asked[0], "error An error occurred while writing to '" +
                                          (dir.path() / "big.bin").string() +
                                          "'. The drive is out of storage space.");
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
}

TEST(FileExtraction, SeveralDataStreamsAreReported)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "ads.txt", {'1'});
    source.severalStreams.insert("\\ads.txt");
    ScriptedQuestions questions;
    FileExtraction extraction(source, questions);
    EXPECT_EQ(extraction.run("ads.txt", "\\", dir.path().string(), {}), RestoreOutcome::Restored);
    EXPECT_EQ(questions.asked, (std::vector<std::string>{"first stream \\ads.txt"}));
    EXPECT_EQ(extraction.run("missing.txt", "\\", dir.path().string(), {}), RestoreOutcome::Failed);
    EXPECT_EQ(questions.asked.back(), "error File \\missing.txt not found");
}

TEST(FileRows, WildcardsOnlyInTheFileName)
{
    EXPECT_FALSE(checkWildcards("README.TXT").hasPattern);
    EXPECT_TRUE(checkWildcards("*.TXT").hasPattern);
    EXPECT_TRUE(checkWildcards("\\DOCS\\*.TXT").hasPattern);
    EXPECT_TRUE(checkWildcards("\\DO?S\\*.TXT").failed);
    EXPECT_TRUE(checkWildcards("*\\A").failed);
}

TEST(FileRows, PatternsMatchWholeNamesWithoutRegardToCase)
{
    EXPECT_TRUE(patternMatches("*.txt", "README.TXT"));
    EXPECT_TRUE(patternMatches("r?adme.*", "README.TXT"));
    EXPECT_TRUE(patternMatches("*", ""));
    EXPECT_TRUE(patternMatches("A*", "A"));
    EXPECT_FALSE(patternMatches("A**", "A")); // only a single "*" may be left over
    EXPECT_FALSE(patternMatches("*.TXT", "README.TXTX"));
    EXPECT_FALSE(patternMatches("?", ""));
    EXPECT_TRUE(patternMatches("*a*b*c", "xxaxxbxxc"));
    EXPECT_FALSE(patternMatches("*a*b*c", std::string(200, 'a'))); // no exponential backtracking either
}

TEST(FileRows, FolderAndFileRows)
{
    engine::DirListEntry folder;
    folder.name = "Docs";
    folder.attributes = engine::kAttrDirectory;
    folder.date = {4, 3, 41, 0};
    folder.time = {5, 6, 8, 50};
    engine::DirListEntry file = folder;
    file.name = "big.bin";
    file.attributes = engine::kAttrArchive;
    file.size = 5368709120ull;
    EXPECT_EQ(fileRowText(folder), "D Docs|Folder| |3/4/2021 5:06:08|");
    EXPECT_EQ(fileRowText(file), "F big.bin|File|5,368,709,120|3/4/2021 5:06:08|");
}

TEST(PathLookup, DirectoriesAreFoundByLongNamesWithoutRegardToCase)
{
    FakeSource source;
    source.addDirectory("\\", "Docs");
    source.addDirectory("\\Docs", "Deep");
    source.addFile("\\Docs", "note.txt", {'n'});
    LocatedDirectory where;
    ASSERT_EQ(locateDirectory(source, "\\docs\\DEEP\\", &where), 0);
    EXPECT_EQ(where.path, "\\Docs\\Deep");
    EXPECT_EQ(locateDirectory(source, "\\Docs\\note.txt", &where), rc::kNoIndexFile); // a file is no folder
    EXPECT_EQ(locateDirectory(source, "\\Nowhere", &where), rc::kNoIndexFile);
    EXPECT_EQ(splitPartitionPath("\\A\\B"), (std::pair<std::string, std::string>{"\\A", "B"}));
    EXPECT_EQ(splitPartitionPath("\\B"), (std::pair<std::string, std::string>{"\\", "B"}));
    std::array<uint8_t, 32> raw{};
    std::memcpy(raw.data(), "README  TXT", 11);
    EXPECT_EQ(fatShortName(raw), "README.TXT");
}

namespace {

size_t entriesIn(const std::filesystem::path &dir)
{
    size_t n = 0;
    for ([[maybe_unused]] auto &entry : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

bool anyAsked(const ScriptedQuestions &questions, const std::string &part)
{
    return std::any_of(questions.asked.begin(), questions.asked.end(),
                       [&](const std::string &a) { return a.find(part) != std::string::npos; });
}

} // namespace

// Whatever is not restored is named, the rest is still restored, and the run says it failed.
TEST(FileExtraction, WhatIsNotRestoredIsNamedAndTheRunGoesOn)
{
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "Docs");
    source.addFile("\\Docs", "first.txt", {'1'});
    source.addFile("\\Docs", "second.txt", {'2'});
    source.addDirectory("\\Docs", "Broken");
    source.addFile("\\Docs\\Broken", "listed.txt", {'l'});
    source.listingErrors["\\Docs\\Broken"] = 503; // cut after its first entry
    source.addDirectory("\\Docs", "Blocked");
    source.addFile("\\Docs\\Blocked", "inside.txt", {'i'});
    source.failReadAt = 0;
    source.failReadCode = 3; // the volume's out-of-memory code, once also the "stop quietly" result
    std::filesystem::create_directories(dir.path() / "out/Docs");
    std::ofstream(dir.path() / "out/Docs/Blocked") << "a file where a folder must go";
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    std::vector<RestoreItem> items = {{"Docs", true, std::nullopt}};
    EXPECT_EQ(extraction.run("Docs", "\\", (dir.path() / "out").string(), items), RestoreOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/Docs/first.txt"));
    EXPECT_EQ(slurp(dir.path() / "out/Docs/second.txt"), "2"); // a failed file does not end its folder
    EXPECT_EQ(slurp(dir.path() / "out/Docs/Broken/listed.txt"), "l");
    EXPECT_TRUE(anyAsked(questions, "error Error 3 reading file \\Docs\\first.txt"));
    EXPECT_TRUE(anyAsked(questions, "error Error 503 traversing directories at \\Docs\\Broken"));
    EXPECT_TRUE(anyAsked(questions, "Blocked\n\nA file of that name is in the way."));
    EXPECT_TRUE(
        anyAsked(questions, "creating file " + (dir.path() / "out/Docs/Blocked/inside.txt").string()));
    EXPECT_EQ(extraction.failures(), 4u); // first.txt, Broken, Blocked and inside.txt
    EXPECT_EQ(extraction.filesRestored(), 2u);

    // A target that is a file: every item fails, by name.
    std::ofstream(dir.path() / "plain") << "x";
    FileExtraction intoFile(source, questions);
    EXPECT_EQ(intoFile.run("second.txt", "\\Docs", (dir.path() / "plain").string(), {}),
              RestoreOutcome::Failed);
    EXPECT_EQ(intoFile.failures(), 2u); // the target directory and the file
    EXPECT_EQ(slurp(dir.path() / "plain"), "x");
}

// Files go to their name only when complete: a run killed half-way leaves neither a partial file under the
// real name nor a damaged older file.
TEST(FileExtraction, AKilledRunLeavesNoPartialFileUnderItsName)
{
    test::TempDir dir;
    std::ofstream(dir.path() / "kept.bin") << "old";
    for (const char *name : {"new.bin", "kept.bin"}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            FakeSource source;
            source.addFile("\\", name, test::patternBytes(300000, 5));
            ScriptedQuestions questions;
            questions.replaceAnswers = {Answer::Yes};
            platform::setIoFaultHook(
                [](platform::IoOperation op, const std::string &, uint64_t offset, size_t) {
                    if (op == platform::IoOperation::Write && offset >= 131072)
                        _exit(9); // the process dies with two pieces written
                    return 0;
                });
            FileExtraction extraction(source, questions);
            (void)extraction.run(name, "\\", dir.path().string(), {});
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 9);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.bin"));
    EXPECT_EQ(slurp(dir.path() / "kept.bin"), "old");
}

// Nothing below the target is reached through a link that was already there.
TEST(FileExtraction, LinksInTheTargetAreNeverFollowed)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "outside");
    std::filesystem::create_directories(dir.path() / "T");
    std::filesystem::create_directory_symlink("../outside", dir.path() / "T/DOCS");
    std::filesystem::create_directory_symlink("../nowhere", dir.path() / "T/GONE");
    std::ofstream(dir.path() / "outside/linked.txt") << "outside";
    std::filesystem::create_hard_link(dir.path() / "outside/linked.txt", dir.path() / "T/linked.txt");
    std::ofstream(dir.path() / "outside/pointed.txt") << "outside";
    std::filesystem::create_symlink("../outside/pointed.txt", dir.path() / "T/pointed.txt");

    FakeSource source;
    source.addDirectory("\\", "DOCS");
    source.addFile("\\DOCS", "readme.txt", {'r'});
    source.addDirectory("\\", "GONE");
    source.addFile("\\GONE", "lost.txt", {'g'});
    source.addFile("\\", "linked.txt", {'n', 'e', 'w'});
    source.addFile("\\", "pointed.txt", {'n', 'e', 'w'});
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    questions.replaceAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    std::vector<RestoreItem> items = {{"DOCS", true, std::nullopt},
                                      {"GONE", true, std::nullopt},
                                      {"linked.txt", false, std::nullopt},
                                      {"pointed.txt", false, std::nullopt}};
    EXPECT_EQ(extraction.run("", "\\", (dir.path() / "T").string(), items), RestoreOutcome::Failed);
    EXPECT_EQ(entriesIn(dir.path() / "outside"), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "nowhere"));
    EXPECT_EQ(slurp(dir.path() / "outside/linked.txt"), "outside");
    EXPECT_EQ(slurp(dir.path() / "outside/pointed.txt"), "outside");
    // The links and the other name of the file were replaced as names.
    EXPECT_EQ(slurp(dir.path() / "T/linked.txt"), "new");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.path() / "T/pointed.txt"));
    EXPECT_EQ(slurp(dir.path() / "T/pointed.txt"), "new");
    // Both directory links, the dangling one too, are reported.
    EXPECT_TRUE(anyAsked(questions, "T/DOCS\n\nA symbolic link stands there; it is not followed."));
    EXPECT_TRUE(anyAsked(questions, "T/GONE\n\nA symbolic link stands there; it is not followed."))
        << ::testing::PrintToString(questions.asked);
    EXPECT_EQ(extraction.failures(), 4u);
    EXPECT_EQ(entriesIn(dir.path() / "T"), 4u); // no temporary file left behind
}

// Names that read "." or ".." hold data: kept under a safe name, with a notice. A FAT folder's own two dot
// entries are not files and stay out.
TEST(FileExtraction, DotNamesAreSavedUnderSafeNames)
{
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "D");
    source.addFile("\\D", ".", {'d'});
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    std::vector<RestoreItem> items = {{"D", true, std::nullopt}};
    std::string out = (dir.path() / "out").string();
    EXPECT_EQ(extraction.run("D", "\\", out, items), RestoreOutcome::Restored);
    EXPECT_EQ(slurp(dir.path() / "out/D/_."), "d");
    EXPECT_TRUE(anyAsked(questions,
                         "info Error 123 creating file " + out + "/D/.\n\nFile saved as " + out + "/D/_.."));

    engine::DirListEntry entry;
    entry.attributes = engine::kAttrDirectory;
    entry.name = "..";
    std::memcpy(entry.rawEntry.data(), "..         ", 11);
    EXPECT_TRUE(isDotEntry(entry, true));
    std::memcpy(entry.rawEntry.data(), ".          ", 11);
    EXPECT_TRUE(isDotEntry(entry, true));
    EXPECT_FALSE(isDotEntry(entry, false)); // NTFS lists no such entries: a "." there is a file's name
    entry.attributes = engine::kAttrArchive;
    EXPECT_FALSE(isDotEntry(entry, true));
    entry.attributes = engine::kAttrDirectory;
    std::memcpy(entry.rawEntry.data(), "DOTDOT~1   ", 11); // a folder whose long name is ".."
    EXPECT_FALSE(isDotEntry(entry, true));
}

TEST(FileExtraction, RecordedTimesAreKeptWhenAsked)
{
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "D");
    source.addFile("\\D", "f.txt", {'f'});
    source.addFile("\\D", "undated.txt", {'u'});
    source.fileTimes["\\D"] = kFileTime;
    source.fileTimes["\\D\\f.txt"] = kFileTime;
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    engine::DirListEntry d;
    d.name = "D";
    d.attributes = engine::kAttrDirectory;
    d.fileTime = kFileTime;
    std::vector<RestoreItem> items = {{"D", true, std::nullopt, recordedTime(d, false)}};

    FileExtraction keeping(source, questions);
    keeping.setKeepTimes(true);
    EXPECT_EQ(keeping.run("D", "\\", (dir.path() / "kept").string(), items), RestoreOutcome::Restored);
    for (const char *p : {"kept/D/f.txt", "kept/D"}) {
        timespec t = modifiedAt(dir.path() / p);
        EXPECT_EQ(t.tv_sec, kUnixSeconds) << p;
        EXPECT_EQ(t.tv_nsec, 123456700) << p;
    }
    EXPECT_GT(modifiedAt(dir.path() / "kept/D/undated.txt").tv_sec, kUnixSeconds); // none recorded: now

    questions.createAnswers = {Answer::All};
    FileExtraction current(source, questions); // the window's way: the time of restoring
    EXPECT_EQ(current.run("D", "\\", (dir.path() / "now").string(), items), RestoreOutcome::Restored);
    EXPECT_GT(modifiedAt(dir.path() / "now/D/f.txt").tv_sec, kUnixSeconds);
    EXPECT_GT(modifiedAt(dir.path() / "now/D").tv_sec, kUnixSeconds);
}

TEST(FileExtraction, FilesOfATreeAreRestoredInTheOrderOfTheirDataAcrossFolders)
{
    // Two files in each of 70 folders: the first ones' data lies folder after folder, the second ones' after
    // all of them in the opposite order. Restored in data order, the folders are gone through twice, more of
    // them than are kept open, and each still gets its recorded time once all its files are written.
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "T");
    std::vector<std::string> expectedOrder(140);
    for (int i = 0; i < 70; ++i) {
        const std::string folder = "F" + std::to_string(i);
        const std::string first = "a" + std::to_string(i), second = "b" + std::to_string(i);
        source.addDirectory("\\T", folder);
        source.addFile("\\T\\" + folder, first, {uint8_t('a'), uint8_t(i)});
        source.addFile("\\T\\" + folder, second, {uint8_t('b'), uint8_t(i)});
        source.fileTimes["\\T\\" + folder] = kFileTime;
        source.dataStarts[first] = 10 + static_cast<uint64_t>(i);
        source.dataStarts[second] = 1000 - static_cast<uint64_t>(i);
        expectedOrder[static_cast<size_t>(i)] = "\\T\\" + folder + "\\" + first;
        expectedOrder[static_cast<size_t>(139 - i)] = "\\T\\" + folder + "\\" + second;
    }
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    extraction.setKeepTimes(true);
    EXPECT_EQ(extraction.run("T", "\\", dir.path().string(), {{"T", true, std::nullopt, std::nullopt}}),
              RestoreOutcome::Restored);
    EXPECT_EQ(source.opened, expectedOrder);
    EXPECT_TRUE(std::is_sorted(questions.percents.begin(), questions.percents.end()));
    EXPECT_EQ(questions.percents.back(), 100);
    for (int i = 0; i < 70; ++i) {
        const std::filesystem::path folder = dir.path() / "T" / ("F" + std::to_string(i));
        EXPECT_EQ(slurp(folder / ("b" + std::to_string(i))), (std::string{'b', static_cast<char>(i)}));
        EXPECT_EQ(modifiedAt(folder).tv_sec, kUnixSeconds) << folder;
    }

    // Batches are bounded by the bytes of their names and paths as well: one byte, and every file is a batch
    // of its own, restored in the order of the walk.
    std::vector<std::string> walkOrder;
    for (int i = 0; i < 70; ++i)
        for (const char *prefix : {"\\T\\F%d\\a%d", "\\T\\F%d\\b%d"}) {
            char path[32];
            std::snprintf(path, sizeof path, prefix, i, i);
            walkOrder.push_back(path);
        }
    source.opened.clear();
    questions.createAnswers = {Answer::All};
    FileExtraction small(source, questions);
    small.setBatchLimits(SIZE_MAX, 1);
    EXPECT_EQ(small.run("T", "\\", (dir.path() / "walk").string(), {{"T", true, std::nullopt, std::nullopt}}),
              RestoreOutcome::Restored);
    EXPECT_EQ(source.opened, walkOrder);
}

TEST(FileExtraction, FoldersClosedWhileABatchWasRestoredStillGetTheirTimes)
{
    // 70 folders of one file each, then P with a file and a subfolder Q with another: the batch is full in Q.
    // P's and Q's files come first in data order, the 70 others close P and Q, and the walk leaves them only
    // after that: their times are set through directories opened again.
    test::TempDir dir;
    FakeSource source;
    source.addDirectory("\\", "R");
    for (int i = 0; i < 70; ++i) {
        source.addDirectory("\\R", "E" + std::to_string(i));
        source.addFile("\\R\\E" + std::to_string(i), "e" + std::to_string(i), {'e'});
        source.dataStarts["e" + std::to_string(i)] = 10 + static_cast<uint64_t>(i);
    }
    source.addDirectory("\\R", "P");
    source.addFile("\\R\\P", "p", {'p'});
    source.addDirectory("\\R\\P", "Q");
    source.addFile("\\R\\P\\Q", "q", {'q'});
    source.dataStarts["p"] = 1;
    source.dataStarts["q"] = 2;
    source.fileTimes["\\R\\P"] = source.fileTimes["\\R\\P\\Q"] = kFileTime;
    ScriptedQuestions questions;
    questions.createAnswers = {Answer::All};
    FileExtraction extraction(source, questions);
    extraction.setKeepTimes(true);
    extraction.setBatchLimits(72, SIZE_MAX);
    EXPECT_EQ(extraction.run("R", "\\", dir.path().string(), {{"R", true, std::nullopt, std::nullopt}}),
              RestoreOutcome::Restored);
    EXPECT_EQ(source.opened.front(), "\\R\\P\\p");
    EXPECT_EQ(source.opened.back(), "\\R\\E69\\e69");
    for (const char *folder : {"R/P", "R/P/Q"})
        EXPECT_EQ(modifiedAt(dir.path() / folder).tv_sec, kUnixSeconds) << folder;
    EXPECT_EQ(slurp(dir.path() / "R/P/Q/q"), "q");
}

TEST(FileExtraction, FatTimesAreLocalAndInvalidOnesAreNotUsed)
{
    const char *zone = std::getenv("TZ");
    std::string saved = zone ? zone : "";
    setenv("TZ", "UTC-2", 1); // two hours east of UTC
    tzset();
    engine::DirListEntry entry;
    entry.date = {4, 3, 41, 0};
    entry.time = {5, 6, 8, 0};
    auto time = recordedTime(entry, true);
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(time->seconds, 1614834368 - 2 * 3600);
    entry.date = {30, 2, 41, 0}; // 30 February
    EXPECT_FALSE(recordedTime(entry, true).has_value());
    entry.date = {4, 13, 41, 0};
    EXPECT_FALSE(recordedTime(entry, true).has_value());
    entry.date = {4, 3, 41, 0};
    entry.time = {24, 0, 0, 0};
    EXPECT_FALSE(recordedTime(entry, true).has_value());
    entry.fileTime = 0; // NTFS: no time recorded
    EXPECT_FALSE(recordedTime(entry, false).has_value());
    if (zone)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
