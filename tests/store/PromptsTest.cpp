// The password loop, the media prompts' texts, and the order in which Delete removes partitions.
#include "store/Prompts.h"

#include <gtest/gtest.h>

#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "store/DeletePartitions.h"
#include "store/MessageText.h"
#include "tests/support/FakeStore.h"

using namespace imbrex;

namespace {

struct TypedPasswords : store::PasswordQuestions
{
    std::vector<std::string> typed;
    size_t asked = 0;
    std::vector<std::string> messages;
    std::optional<std::string> askPassword(const std::string &) override
    {
        if (asked >= typed.size())
            return std::nullopt;
        return typed[asked++];
    }
    void showMessage(const std::string &text, store::MessageKind) override { messages.push_back(text); }
};

struct Answer : store::DeleteQuestions
{
    bool yes = true;
    std::vector<std::string> asked;
    bool confirm(const std::string &question) override
    {
        asked.push_back(question);
        return yes;
    }
};

} // namespace

TEST(AskPartitionPassword, AsksUntilRightOrCancelled)
{
    const uint32_t stored = ConvertPasswordString("right-one");
    TypedPasswords none;
    EXPECT_EQ(store::AskPartitionPassword(0, "P", none), 0);
    EXPECT_EQ(none.asked, 0u);

    TypedPasswords person;
    person.typed = {"a", "b", "c", "right-one"};
    EXPECT_EQ(store::AskPartitionPassword(stored, "P", person), 0);
    EXPECT_EQ(person.messages.size(), 3u);
    EXPECT_EQ(person.messages[0], "Password entered is not valid for this partition.");

    TypedPasswords quitter;
    quitter.typed = {"a"};
    EXPECT_EQ(store::AskPartitionPassword(stored, "P", quitter), rc::kCancelled);
}

TEST(MediaPrompts, NameTheDriveOfTheFile)
{
    EXPECT_EQ(store::mediaDriveText("A:\\IMAGE.002"), "A:");
    EXPECT_EQ(store::mediaDriveText("\\\\srv\\share\\dir\\img.zbi"), "\\\\srv\\share");
    EXPECT_EQ(store::mediaDriveText("\\\\srv"), "");
    auto finder = [](const std::string &) { return std::string("/media/usb"); };
    EXPECT_EQ(store::mediaDriveText("/media/usb/img.002", finder), "/media/usb");
    EXPECT_EQ(store::mediaDriveText("\\\\" + std::string(200, 's') + "\\share\\x").size(), 99u);
    // The running system's root file system holds every absolute path.
    EXPECT_FALSE(store::systemMountPointOf("/").empty());

    EXPECT_EQ(store::mediaPromptText(store::MediaPrompt::NewNumberedMedia, "A:\\IMG.003", 3),
              "Insert a new media 3 for file A:\\IMG.003 into drive A:.");
    EXPECT_EQ(store::mediaPromptText(store::MediaPrompt::NewMediaForFile, "B:\\%s.zbi"),
              "File B:\\%s.zbi is being created.\n\nInsert a new media into drive B:.");
    EXPECT_EQ(
        store::mediaPromptText(store::MediaPrompt::ConfirmReplaceFile, "x.002"),
        "File x.002 already exists.\n\nDo you want to replace it?\n\nWARNING: Existing data in file will "
        "be lost.");
    EXPECT_EQ(store::mediaPromptButtons(store::MediaPrompt::MediaFull), store::MediaButtons::Ok);
    EXPECT_EQ(store::mediaPromptButtons(store::MediaPrompt::ConfirmDeleteMediaFiles),
              store::MediaButtons::YesNo);
}

TEST(MessageText, FillsPlaceholdersInOrderOnce)
{
    EXPECT_EQ(store::fillPlaceholders("Error %d creating file %s", {"5", "a%sb"}),
              "Error 5 creating file a%sb");
    EXPECT_EQ(store::fillPlaceholders("100%% of %s", {}), "100%% of %s");
}

TEST(DeletePartitions, RemovesSelectedRowsFromTheLastDown)
{
    test::FakeStore image;
    image.partitions.resize(4);
    for (size_t i = 0; i < 4; ++i)
        image.partitions[i].name = std::to_string(i + 1);
    Answer answer;
    EXPECT_EQ(store::DeletePartitions(image, {0, 2}, 0, answer), 0);
    EXPECT_EQ(answer.asked, std::vector<std::string>{"Delete all selected partitions?"});
    EXPECT_EQ(image.callsStartingWith("SelectPartition"),
              (std::vector<std::string>{"SelectPartition(3)", "SelectPartition(1)"}));
    ASSERT_EQ(image.partitions.size(), 2u);
    EXPECT_EQ(image.partitions[0].name, "2");
    EXPECT_EQ(image.partitions[1].name, "4");
}

TEST(DeletePartitions, OneRowOrNo)
{
    test::FakeStore image;
    image.partitions.resize(2);
    Answer no;
    no.yes = false;
    EXPECT_EQ(store::DeletePartitions(image, {1}, 1, no), rc::kCancelled);
    EXPECT_EQ(no.asked, std::vector<std::string>{"Delete partition?"});
    EXPECT_EQ(image.partitions.size(), 2u);

    Answer yes;
    EXPECT_EQ(store::DeletePartitions(image, {}, 1, yes), 0);
    EXPECT_EQ(image.callsStartingWith("SelectPartition"), std::vector<std::string>{"SelectPartition(2)"});
    EXPECT_EQ(image.partitions.size(), 1u);
}
