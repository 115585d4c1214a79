#include "restore/FileExtraction.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

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
    int failReadAt = -1; // fail the n-th read with 1911
    std::vector<uint32_t> reads;

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
    int openFile(const std::string &path, int *kind) override
    {
        auto it = files.find(path);
        if (it == files.end())
            return rc::kNoIndexFile;
        m_current = &it->second;
        m_position = 0;
        *kind = severalStreams.count(path) ? 2 : 1;
        return 0;
    }
    uint64_t fileSize() override { return m_current ? m_current->size() : 0; }
    int readFile(void *buffer, uint32_t count) override
    {
        reads.push_back(count);
        if (failReadAt >= 0 && static_cast<int>(reads.size()) == failReadAt + 1)
            return rc::kIoError;
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
            entries->push_back(entry);
        }
        return 0;
    }
    int resetStream() override { return 0; }

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
    EXPECT_EQ(extraction.run("empty.bin", "\\", dir.path().string(), {}), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "empty.bin"));
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "empty.bin"), 0u);
    EXPECT_TRUE(source.reads.empty());

    questions.percents.clear();
    EXPECT_EQ(extraction.run("big.bin", "\\", dir.path().string() + "/", {}), 0);
    EXPECT_EQ(source.reads, (std::vector<uint32_t>{65536, 1}));
    EXPECT_EQ(questions.percents, (std::vector<int>{0, 100, 100})); // 99.998 rounds up
    EXPECT_EQ(slurp(dir.path() / "big.bin"), text(source.files["\\big.bin"]));
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
    EXPECT_EQ(single.run("a.txt", "\\", dir.path().string(), {}), kRestoreKept);
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
    EXPECT_EQ(several.run("", "\\", dir.path().string(), items), 0);
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
    EXPECT_EQ(extraction.run("f.txt", "\\", target, {}), 0);
    EXPECT_EQ(slurp(dir.path() / "one" / "two" / "f.txt"), "x");
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0], "create Directory does not exist. " + target);

    questions.asked.clear();
    questions.createAnswers = {Answer::No};
    FileExtraction refused(source, questions);
    EXPECT_EQ(refused.run("f.txt", "\\", (dir.path() / "three" / "four").string(), {}), kRestoreStopQuietly);
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
    EXPECT_EQ(extraction.run("Docs", "\\", (dir.path() / "out").string(), items), 0);
    EXPECT_EQ(slurp(dir.path() / "out/Docs/a.txt"), "a");
    EXPECT_EQ(slurp(dir.path() / "out/Docs/Deep/b.txt"), "b");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "out/Docs/Empty"));
    EXPECT_FALSE(
        std::filesystem::exists(dir.path() / "out/Docs/_..")); // listed ".." is the parent link: skipped
    EXPECT_EQ(slurp(dir.path() / "out/Docs/sub_dir"), "s");
    EXPECT_EQ(slurp(dir.path() / "out/Docs/badx.txt"), "x");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out/!"));
    // A name given by hand that would climb out is restored under a safe name inside the target.
    source.addFile("\\", "..", {'?'});
    EXPECT_EQ(extraction.run("..", "\\", (dir.path() / "out").string(), {}), 0);
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
    EXPECT_EQ(extraction.run("", "\\", dir.path().string(), items), 0); // the run goes on with the next item
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "big.bin"));
    EXPECT_EQ(slurp(dir.path() / "next.bin"), "n");
    ASSERT_FALSE(questions.asked.empty());
    EXPECT_EQ(questions.asked[0], "error Error 1911 reading file \\big.bin");

    source.failReadAt = -1;
    std::filesystem::remove(dir.path() / "next.bin");
    questions.cancelAtPercent = 33;
    FileExtraction cancelled(source, questions);
    EXPECT_EQ(cancelled.run("", "\\", dir.path().string(), items), rc::kCancelled);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "big.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "next.bin"));
}

TEST(FileExtraction, FullDiskIsReportedAndTheFileRemoved)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "big.bin", test::patternBytes(100000, 3));
    ScriptedQuestions questions;
    FileExtraction extraction(source, questions);
    platform::setIoFaultHook([](platform::IoOperation op, const std::string &, uint64_t offset, size_t) {
        return op == platform::IoOperation::Write && offset > 0 ? platform::kErrorDiskFull : 0;
    });
    int result = extraction.run("big.bin", "\\", dir.path().string(), {});
    platform::setIoFaultHook(nullptr);
    EXPECT_EQ(result, platform::kErrorDiskFull);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0], "error An error occurred while writing to '" +
                                      (dir.path() / "big.bin").string() +
                                      "'. The drive is out of storage space.");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "big.bin"));
}

TEST(FileExtraction, SeveralDataStreamsAreReported)
{
    test::TempDir dir;
    FakeSource source;
    source.addFile("\\", "ads.txt", {'1'});
    source.severalStreams.insert("\\ads.txt");
    ScriptedQuestions questions;
    FileExtraction extraction(source, questions);
    EXPECT_EQ(extraction.run("ads.txt", "\\", dir.path().string(), {}), 0);
    EXPECT_EQ(questions.asked, (std::vector<std::string>{"first stream \\ads.txt"}));
    EXPECT_EQ(extraction.run("missing.txt", "\\", dir.path().string(), {}), rc::kNoIndexFile);
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
