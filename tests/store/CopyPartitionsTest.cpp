// Copying partitions between images through the engine, with scripted answers to its questions: real images
// made by our store in a temporary directory, and the fake store where only the call sequence matters.
#include "store/CopyPartitions.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "platform/File.h"
#include "platform/LocaleFormat.h"
#include "tests/store/ScriptedExports.h"
#include "tests/support/FakeStore.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"

using namespace imbrex;
using store::CompressionChoice;
using store::CopyCommand;
using store::PasswordChoice;

namespace {

struct ScriptedQuestions : store::CopyQuestions
{
    std::function<bool(store::CopyOptionsState &)> answer = [](store::CopyOptionsState &) { return true; };
    std::vector<store::CopyOptionsState> shown;
    std::vector<std::string> passwords;
    size_t passwordAsks = 0;
    std::vector<std::string> messages;

    bool askOptions(store::CopyOptionsState &state) override
    {
        shown.push_back(state);
        return answer(state);
    }
    std::optional<std::string> askPassword(const std::string &) override
    {
        if (passwordAsks >= passwords.size())
            return std::nullopt;
        return passwords[passwordAsks++];
    }
    void showMessage(const std::string &text, store::MessageKind) override { messages.push_back(text); }
};

// Presses Cancel once the given step has shown a percentage.
struct CancellingProgress : store::CopyProgress
{
    uint32_t cancelAtStep = 0;
    uint32_t step = 0;
    bool seen = false;
    std::function<void()> atCancel;
    void setStep(uint32_t s) override { step = s; }
    void setPercent(uint32_t) override { seen = seen || step == cancelAtStep; }
    bool cancelled() override
    {
        bool now = cancelAtStep != 0 && seen;
        if (now && atCancel)
            std::exchange(atCancel, nullptr)();
        return now;
    }
};

class CopyPartitionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::setLocaleFormatter({[](int64_t v) { return platform::groupDigits(v, ",", "\3"); }, {}});
    }
    void TearDown() override { platform::setLocaleFormatter({}); }

    // An image with the partitions given, each of sectorCount sectors of incompressible data.
    std::string makeImage(const std::string &name, std::vector<test::PartitionSpec> specs,
                          uint32_t splitSize = kNoSplit)
    {
        std::string path = m_dir.file(name);
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreCreateNew(path.c_str(), splitSize, 0, 0, nullptr, &error));
        EXPECT_TRUE(image) << error;
        for (const test::PartitionSpec &spec : specs)
            EXPECT_EQ(test::addPartition(*image, spec), 0);
        EXPECT_EQ(image->Close(), 0);
        return path;
    }

    static test::PartitionSpec spec(const std::string &name, uint32_t seed, uint32_t sectors = 64)
    {
        test::PartitionSpec s;
        s.name = name;
        s.seed = seed;
        s.sectorCount = sectors;
        return s;
    }

    // Runs a copy from the image at sourcePath.
    int copy(const std::string &sourcePath, std::vector<uint32_t> rows, const std::string &target,
             CopyCommand command, ScriptedQuestions &questions, store::CopyProgress &progress)
    {
        uint32_t error = 0;
        ImageStorePtr source(ImageStoreOpenReadOnly(sourcePath.c_str(), nullptr, &error));
        EXPECT_TRUE(source);
        store::CopySource from = store::CopySource::allPartitions(*source, sourcePath);
        if (!rows.empty())
            from.selectedRows = rows;
        return store::CopyPartitions(from, target, command, questions, progress, nullptr);
    }

    static std::vector<std::string> names(const std::string &path)
    {
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
        std::vector<std::string> out;
        if (!image)
            return {"unreadable"};
        for (uint32_t n = 1; n <= image->GetPartitionCount(); ++n) {
            char name[100] = {};
            (void)image->SelectPartition(n, 0);
            (void)image->GetPartitionName(name, sizeof name);
            (void)image->ReleasePartition(1);
            out.emplace_back(name);
        }
        return out;
    }

    static std::vector<uint8_t> stream(const std::string &path, uint32_t number)
    {
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreOpenReadOnly(path.c_str(), nullptr, &error));
        std::vector<uint8_t> out;
        EXPECT_EQ(test::readStream(*image, number, &out), 0);
        return out;
    }

    test::TempDir m_dir;
    store::CopyProgress m_progress;
};

} // namespace

TEST_F(CopyPartitionsTest, RefusesItsOwnImageInAnyLetterCase)
{
    std::string source = makeImage("Source.zbi", {spec("A", 1)});
    ScriptedQuestions questions;
    std::string upper = source.substr(0, source.size() - 10) + "SOURCE.ZBI";
    EXPECT_EQ(copy(source, {}, upper, CopyCommand::Copy, questions, m_progress), rc::kCannotOpen);
    ASSERT_EQ(questions.messages.size(), 1u);
    EXPECT_EQ(questions.messages[0], "You cannot copy a partition to its own image file.");
    EXPECT_TRUE(questions.shown.empty());
}

TEST_F(CopyPartitionsTest, ReadOnlyTargetIsRefusedAndLeftAlone)
{
    std::string source = makeImage("source.zbi", {spec("A", 1)});
    std::string target = makeImage("target.zbi", {spec("T", 2)});
    ::chmod(target.c_str(), 0444);
    ScriptedQuestions questions;
    EXPECT_EQ(copy(source, {}, target, CopyCommand::Copy, questions, m_progress), rc::kTargetReadOnly);
    ASSERT_EQ(questions.messages.size(), 1u);
    EXPECT_EQ(questions.messages[0], "'" + target + "' is read-only.\n\nCopying to it is not allowed.");
    EXPECT_TRUE(questions.shown.empty());
    EXPECT_EQ(names(target), std::vector<std::string>{"T"});
}

TEST_F(CopyPartitionsTest, TargetInAnotherWritersHandsIsRefusedAsInUse)
{
    std::string source = makeImage("source.zbi", {spec("A", 1)});
    std::string target = makeImage("target.zbi", {spec("T", 2)});
    uint32_t error = 0;
    ImageStorePtr writer(ImageStoreOpen(target.c_str(), kNoSplit, 0, nullptr, &error));
    ASSERT_TRUE(writer) << error;
    ScriptedQuestions questions;
    EXPECT_EQ(copy(source, {}, target, CopyCommand::Copy, questions, m_progress), rc::kImageLocked);
    ASSERT_EQ(questions.messages.size(), 1u);
    EXPECT_EQ(questions.messages[0],
              "'" + target + "' is in use by another program.\n\nCopying to it is not allowed.");
    writer.reset();
    EXPECT_EQ(names(target), std::vector<std::string>{"T"});
}

TEST_F(CopyPartitionsTest, OptionsStartFromTheCommandAndTheSelection)
{
    test::PartitionSpec locked = spec("Locked", 2);
    locked.password = "secret1";
    std::string source = makeImage("source.zbi", {spec("Plain", 1), locked, spec("Third", 3)});
    uint32_t error = 0;
    ImageStorePtr image(ImageStoreOpenReadOnly(source.c_str(), nullptr, &error));

    auto initial = [&](std::vector<uint32_t> rows, CopyCommand command, uint32_t items = 3) {
        return store::initialCopyOptions(*image, items, rows, "t.zbi", command);
    };
    EXPECT_EQ(initial({0}, CopyCommand::Compress).compression, CompressionChoice::Low);
    EXPECT_EQ(initial({0}, CopyCommand::Uncompress).compression, CompressionChoice::None);
    for (CopyCommand c : {CopyCommand::Copy, CopyCommand::Span, CopyCommand::Combine})
        EXPECT_EQ(initial({0}, c).compression, CompressionChoice::NoChange);

    EXPECT_EQ(initial({0}, CopyCommand::Copy).password, PasswordChoice::None);
    EXPECT_EQ(initial({1}, CopyCommand::Copy).password, PasswordChoice::Same);
    EXPECT_EQ(initial({0, 2}, CopyCommand::Copy).password, PasswordChoice::Same);

    EXPECT_EQ(initial({0}, CopyCommand::Copy).partitionLabel, "Plain");
    EXPECT_EQ(initial({0, 2}, CopyCommand::Copy).partitionLabel, "Selected Partitions");
    EXPECT_EQ(initial({0, 1, 2}, CopyCommand::Span).partitionLabel, "All Partitions");
    EXPECT_EQ(initial({0}, CopyCommand::Span, 1).partitionLabel, "Plain");
    EXPECT_EQ(initial({0}, CopyCommand::Copy).fileSizeText, "670,000,000");
}

TEST_F(CopyPartitionsTest, FileSizeIsCorrectedOrRefused)
{
    auto low = store::ValidateFileSize("9,999,999", true);
    EXPECT_FALSE(low.ok);
    EXPECT_EQ(low.correctedText, "10,000,000");
    EXPECT_EQ(low.message,
              "Invalid File Size '9,999,999'.  Value must be between 10,000,000 and 2,147,483,647 bytes.");

    auto junk = store::ValidateFileSize("abc", true);
    EXPECT_FALSE(junk.ok);
    EXPECT_FALSE(junk.correctedText.has_value());
    EXPECT_EQ(junk.size, store::kMaxSplitSize);

    auto negative = store::ValidateFileSize("-1", true);
    EXPECT_FALSE(negative.ok);
    EXPECT_EQ(negative.correctedText, "2,147,483,647");

    auto fine = store::ValidateFileSize("670,000,000", true);
    EXPECT_TRUE(fine.ok);
    EXPECT_EQ(fine.size, 670'000'000u);
    // A value the dialog wrote itself is taken without a range check.
    EXPECT_TRUE(store::ValidateFileSize("10,000,000", false).ok);
    EXPECT_FALSE(store::ValidateFileSize("99999999999", false).ok);
}

TEST_F(CopyPartitionsTest, PasswordFieldsAreCheckedOnlyWhenTouched)
{
    EXPECT_EQ(store::ValidatePasswords("abc", "abc", true), "Password must be at least 4 characters long.");
    EXPECT_EQ(store::ValidatePasswords("abcd", "abce", true), "Password and Confirm Password do not match.");
    EXPECT_FALSE(store::ValidatePasswords("abcd", "abcd", true));
    EXPECT_FALSE(store::ValidatePasswords("", "", false));
}

TEST_F(CopyPartitionsTest, DialogIsShownAgainUntilItsChecksPass)
{
    std::string source = makeImage("source.zbi", {spec("A", 1)});
    ScriptedQuestions questions;
    int round = 0;
    questions.answer = [&](store::CopyOptionsState &s) {
        if (++round == 1) {
            s.splitImage = true;
            s.fileSizeDirty = true; // ticking the box
            s.fileSizeText = "9,999,999";
        }
        return true;
    };
    std::string target = m_dir.file("t.zbi");
    EXPECT_EQ(copy(source, {}, target, CopyCommand::Copy, questions, m_progress), 0);
    ASSERT_EQ(questions.shown.size(), 2u);
    EXPECT_EQ(questions.shown[1].fileSizeText, "10,000,000");
    EXPECT_FALSE(questions.shown[1].fileSizeDirty);
    EXPECT_EQ(questions.messages.size(), 1u);
}

TEST_F(CopyPartitionsTest, UntouchedNewPasswordIsTheEmptyText)
{
    std::string source = makeImage("source.zbi", {spec("A", 1)});
    ScriptedQuestions questions;
    questions.answer = [](store::CopyOptionsState &s) {
        s.password = PasswordChoice::New;
        return true;
    };
    std::string target = m_dir.file("t.zbi");
    ASSERT_EQ(copy(source, {}, target, CopyCommand::Copy, questions, m_progress), 0);
    EXPECT_TRUE(questions.messages.empty());
    uint32_t error = 0, password = 7;
    ImageStorePtr image(ImageStoreOpenReadOnly(target.c_str(), nullptr, &error));
    ASSERT_EQ(image->SelectPartition(1, 0), 0);
    ASSERT_EQ(image->GetPartitionPassword(&password), 0);
    EXPECT_EQ(password, ConvertPasswordString(""));
}

TEST_F(CopyPartitionsTest, SharedPasswordIsAskedOnceAndWrongOnesAgain)
{
    test::PartitionSpec a = spec("A", 1), b = spec("B", 2);
    a.password = b.password = "shared-pw";
    std::string source = makeImage("source.zbi", {a, b});
    ScriptedQuestions questions;
    questions.answer = [](store::CopyOptionsState &s) {
        s.password = PasswordChoice::None;
        return true;
    };
    questions.passwords = {"wrong-pw", "shared-pw"};
    std::string target = m_dir.file("t.zbi");
    ASSERT_EQ(copy(source, {}, target, CopyCommand::Copy, questions, m_progress), 0);
    EXPECT_EQ(questions.passwordAsks, 2u);
    EXPECT_EQ(questions.messages,
              std::vector<std::string>{"Password entered is not valid for this partition."});
    EXPECT_EQ(stream(target, 2), test::storedStream(b));
}

TEST_F(CopyPartitionsTest, KeptFormGoesStoredAndAChangeGoesDecoded)
{
    auto run = [&](CompressionChoice compression, PasswordChoice password) {
        test::FakeStore source;
        test::FakePartition p;
        p.name = "P";
        p.sectorCount = 64;
        p.blockCount = 8;
        p.usedBlockCount = 8;
        p.bitmap = {0xFF};
        p.stream.assign(8 * 8 * 512, 0x11);
        source.partitions.push_back(p);
        test::FakeStore target;
        test::ScriptedExports exports;
        exports.createNew.store = &target;
        ScriptedQuestions questions;
        questions.answer = [&](store::CopyOptionsState &s) {
            s.compression = compression;
            s.password = password;
            return true;
        };
        store::CopySource from = store::CopySource::allPartitions(source, m_dir.file("s.zbi"));
        EXPECT_EQ(store::CopyPartitions(from, m_dir.file("t.zbi"), CopyCommand::Copy, questions, m_progress,
                                        nullptr, exports.exports()),
                  0);
        return target.callsStartingWith("WriteBlockBitmap");
    };
    EXPECT_EQ(run(CompressionChoice::NoChange, PasswordChoice::Same),
              std::vector<std::string>{"WriteBlockBitmapRaw"});
    EXPECT_EQ(run(CompressionChoice::Low, PasswordChoice::Same),
              std::vector<std::string>{"WriteBlockBitmap"});
}

TEST_F(CopyPartitionsTest, PartsAreNamedAfterTheLastDotOfTheFileName)
{
    EXPECT_EQ(store::numberedPartPath("/d/image.zbi", 2), "/d/image.002");
    EXPECT_EQ(store::numberedPartPath("/d/image", 12), "/d/image.012");
    EXPECT_EQ(store::numberedPartPath("/d.x/image", 3), "/d.x/image.003");
}

// Cancel during the second partition of a new split target: nothing of it stays, whatever its name.
class CancelNewSplitTarget : public CopyPartitionsTest, public ::testing::WithParamInterface<const char *>
{
};

TEST_P(CancelNewSplitTarget, RemovesTheTargetAndItsParts)
{
    // About 12 MB of incompressible data each, so that the first partition alone spills into a second file.
    std::string source = makeImage("source.zbi", {spec("A", 1, 24000), spec("B", 2, 24000)});
    std::string target = m_dir.file(GetParam());
    ScriptedQuestions questions;
    questions.answer = [](store::CopyOptionsState &s) {
        s.splitImage = true;
        s.fileSizeDirty = true;
        s.fileSizeText = "10,000,000";
        return true;
    };
    CancellingProgress progress;
    progress.cancelAtStep = 2;
    bool partWritten = false;
    progress.atCancel = [&] { partWritten = platform::fileExists(store::numberedPartPath(target, 2)); };
    EXPECT_EQ(copy(source, {}, target, CopyCommand::Span, questions, progress), rc::kCancelled);
    EXPECT_TRUE(partWritten);
    EXPECT_TRUE(questions.messages.empty());
    for (const auto &entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().filename(), "source.zbi");
}

INSTANTIATE_TEST_SUITE_P(Names, CancelNewSplitTarget, ::testing::Values("spanned.zbi", "spanned"));

TEST_F(CopyPartitionsTest, SpanOverAnExistingFileThatIsCancelledPutsItBack)
{
    std::string source = makeImage("source.zbi", {spec("A", 1), spec("B", 2)});
    std::string target = makeImage("old.zbi", {spec("Old", 9)});
    ScriptedQuestions questions;
    CancellingProgress progress;
    progress.cancelAtStep = 2;
    EXPECT_EQ(copy(source, {}, target, CopyCommand::Combine, questions, progress), rc::kCancelled);
    EXPECT_EQ(names(target), std::vector<std::string>{"Old"});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 2);
}

TEST_F(CopyPartitionsTest, CopyIntoAnExistingImageAppendsInOrderOrLeavesItAsItWas)
{
    std::string source = makeImage("source.zbi", {spec("One", 1), spec("Two", 2), spec("Three", 3)});
    std::string target = makeImage("target.zbi", {spec("Old", 9)});
    ScriptedQuestions questions;
    CancellingProgress cancel;
    cancel.cancelAtStep = 2;
    EXPECT_EQ(copy(source, {0, 2}, target, CopyCommand::Copy, questions, cancel), rc::kCancelled);
    EXPECT_EQ(names(target), std::vector<std::string>{"Old"});

    ASSERT_EQ(copy(source, {0, 2}, target, CopyCommand::Copy, questions, m_progress), 0);
    EXPECT_EQ(names(target), (std::vector<std::string>{"Old", "One", "Three"}));
    EXPECT_EQ(stream(target, 3), test::storedStream(spec("Three", 3)));
}

// A copy killed in the middle leaves an image it was adding to as it was.
TEST_F(CopyPartitionsTest, KilledCopyLeavesTheExistingTargetAsItWas)
{
    std::string source = makeImage("source.zbi", {spec("Big", 1, 8000)});
    std::string target = makeImage("target.zbi", {spec("Old", 9)});
    static int countdown;
    for (int n : {1, 3, 8}) {
        countdown = n;
        pid_t child = ::fork();
        if (child == 0) {
            platform::setIoFaultHook([](platform::IoOperation, const std::string &path, uint64_t, size_t) {
                if (path.find("target") != std::string::npos && --countdown == 0)
                    ::_exit(0);
                return 0;
            });
            ScriptedQuestions questions;
            store::CopyProgress progress;
            (void)copy(source, {}, target, CopyCommand::Copy, questions, progress);
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy ended before write " << n;
        EXPECT_EQ(names(target), std::vector<std::string>{"Old"}) << "killed at write " << n;
        EXPECT_EQ(stream(target, 1), test::storedStream(spec("Old", 9)));
    }
}
