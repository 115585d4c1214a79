// Index files through the main window: File Restore of a compressed partition puts an index file that cannot
// be used to the person, creates and saves an index on request, and offers a temporary index for saving once
// the browser closes. Dialogs are answered by a script that watches the modal window, message boxes by the
// scripted handler, file dialogs by the main window's file-name hook.
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QSettings>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include "imgstore/zbimgstr.h"
#include "index/TfrmAssociateIndex.h"
#include "restore/PARTITION_ACCESS.h"
#include "restore/TfrmFileRestore.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/ui/VolumeImages.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmProgress.h"

using namespace imbrex::ui;
namespace fs = std::filesystem;
namespace test = imbrex::test;

namespace {

constexpr uint32_t kLow = 301;
const QString kAcceptStart = QStringLiteral("<start>"); // a file dialog answered with the name it proposed

// The association dialog's buttons, pressed by the script.
using Button = QPushButton *TfrmAssociateIndex::*;
constexpr Button kContinue = &TfrmAssociateIndex::btnIgnore;
constexpr Button kCreate = &TfrmAssociateIndex::btnCreate;
constexpr Button kBrowse = &TfrmAssociateIndex::btnBrowse;
constexpr Button kCancel = &TfrmAssociateIndex::btnCancel;

template <class T> T takeNext(std::deque<T> &answers, T whenNone)
{
    if (answers.empty())
        return whenNone;
    T answer = answers.front();
    answers.pop_front();
    return answer;
}

struct AssociationShown
{
    QString error, imageName, indexName;
};

struct FileAsked
{
    FileDialogKind kind;
    QString title, start;
};

class IndexWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const QString dir = QString::fromStdString(m_dir.path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
        setMessageBoxHandler([this](const MessageBoxRequest &request) {
            m_messages.push_back(request.text);
            return request.buttons == MessageButtons::YesNo ? takeNext(m_yesNo, mrNo) : mrOk;
        });
        m_watch.setInterval(0);
        QObject::connect(&m_watch, &QTimer::timeout, [this] { poll(); });
    }
    void TearDown() override { setMessageBoxHandler({}); }

    // An image of the volume, partition 1 stored with compression; empty when the volume is missing.
    std::string makeImage(const fs::path &raw, uint32_t compression)
    {
        const std::string image = m_dir.file(raw.stem().string() + ".zbi");
        if (!fs::exists(raw) || !test::writeVolumeImage(raw, image, compression))
            return {};
        return image;
    }

    std::unique_ptr<TfrmMain> openMain(const std::string &image)
    {
        MainWindowOptions options;
        options.programDir = QString::fromStdString(m_dir.path().string());
        options.askFileName = [this](FileDialogKind kind, const QString &title, const QString &start) {
            m_filesAsked.push_back({kind, title, start});
            const QString answer = takeNext(m_files, QString());
            return answer == kAcceptStart ? start : answer;
        };
        auto main = std::make_unique<TfrmMain>(options);
        main->OpenImageFile(QString::fromStdString(image));
        EXPECT_TRUE(main->store());
        main->lstImage->setCurrentRow(0);
        main->UpdateMenus();
        return main;
    }

    // File Restore of partition 1: the browser, once it lists, is closed at once.
    void fileRestore(TfrmMain &main)
    {
        m_watch.start();
        main.itmPartitionFileRestoreClick();
        m_watch.stop();
    }

    static std::string indexOf(const TfrmMain &main) { return main.indexFileOf(0).toStdString(); }

    test::TempDir m_dir;
    std::deque<Button> m_answers;  // for the association dialog
    std::deque<QString> m_files;   // for the file dialogs; empty text: cancelled
    std::deque<int> m_yesNo;       // for questions; none left: No
    bool m_cancelProgress = false; // Cancel on the extension progress of a save
    std::vector<AssociationShown> m_shown;
    std::vector<FileAsked> m_filesAsked;
    std::vector<std::string> m_messages;
    int m_browsed = 0;

private:
    void poll()
    {
        if (m_cancelProgress)
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *progress = qobject_cast<TfrmProgress *>(w); progress && progress->isVisible())
                    progress->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<TfrmAssociateIndex *>(modal)) {
            m_shown.push_back({dialog->mmoErrorMsg->toPlainText(), dialog->lblImageName->text(),
                               dialog->lblIndexName->text()});
            (dialog->*takeNext(m_answers, kCancel))->click();
        } else if (auto *browser = qobject_cast<TfrmFileRestore *>(modal)) {
            if (browser->openResult() == 0) {
                ++m_browsed;
                browser->btnCancel->click();
            }
        }
    }

    QTimer m_watch;
};

#define REQUIRE(image)                                                                                       \
    if ((image).empty())                                                                                     \
    GTEST_SKIP() << "the volume was not made"

TEST_F(IndexWindowTest, ALowImageAsksOnceCreatesItsIndexBesideTheImageAndUsesItTheNextTime)
{
    const std::string image = makeImage(test::fixtureDir() / "fat16.img", kLow);
    REQUIRE(image);
    auto main = openMain(image);
    const std::string proposed = m_dir.file("fat16.zbx");

    m_answers = {kCreate};
    m_files = {kAcceptStart};
    fileRestore(*main);
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].error, QStringLiteral("No image index file has been associated with this image."));
    EXPECT_EQ(m_shown[0].imageName.toStdString(), image);
    EXPECT_EQ(m_shown[0].indexName, QStringLiteral("(None)"));
    ASSERT_EQ(m_filesAsked.size(), 1u);
    EXPECT_EQ(m_filesAsked[0].kind, FileDialogKind::SaveIndex);
    EXPECT_EQ(m_filesAsked[0].title, QStringLiteral("Save Image Index"));
    EXPECT_EQ(m_filesAsked[0].start.toStdString(), proposed);
    EXPECT_TRUE(fs::exists(proposed));
    EXPECT_EQ(indexOf(*main), proposed);
    EXPECT_EQ(m_browsed, 1);
    EXPECT_TRUE(m_messages.empty()); // the saved index is the one in memory: nothing to offer

    fileRestore(*main);
    EXPECT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_browsed, 2);
    EXPECT_EQ(m_filesAsked.size(), 1u);
    EXPECT_TRUE(m_messages.empty());

    // The association outlives the program with the recent list.
    main->SaveSettings();
    QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
    EXPECT_EQ(settings.value(QStringLiteral("Recent/0")).toString().toStdString(), image + "|" + proposed);
}

TEST_F(IndexWindowTest, CancelKeepsTheIndexFileAndContinueForgetsItAndOffersTheTemporaryIndex)
{
    const std::string image = makeImage(test::fixtureDir() / "fat16.img", kLow);
    REQUIRE(image);
    const std::string missing = m_dir.file("gone.zbx");
    const std::string readOnly = m_dir.file("locked.zbx");
    std::ofstream(readOnly) << "kept";
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto main = openMain(image);
    main->setIndexFileOf(0, QString::fromStdString(missing));

    m_answers = {kCancel};
    fileRestore(*main);
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].error, QStringLiteral("The image index file was not found."));
    EXPECT_EQ(m_shown[0].indexName.toStdString(), missing);
    EXPECT_EQ(m_browsed, 0);
    EXPECT_EQ(indexOf(*main), missing);
    EXPECT_TRUE(m_messages.empty());

    // Continue browses with a temporary index, offered for saving afterwards. A file that cannot take it
    // brings the save dialog back at that name; cancelling it is told.
    m_answers = {kContinue};
    m_yesNo = {mrYes};
    m_files = {QString::fromStdString(readOnly), QString()};
    fileRestore(*main);
    EXPECT_EQ(m_browsed, 1);
    EXPECT_EQ(m_messages,
              (std::vector<std::string>{
                  "To enable faster restoring of files from this partition a temporary image index "
                  "has been generated.\n\nWould you like to save the image index to a file for "
                  "future use?",
                  "Error opening the image index file.", "Image Index was not saved."}));
    ASSERT_EQ(m_filesAsked.size(), 2u);
    EXPECT_EQ(m_filesAsked[0].start.toStdString(), m_dir.file("fat16.zbx"));
    EXPECT_EQ(m_filesAsked[1].start.toStdString(), readOnly);
    EXPECT_EQ(indexOf(*main), "");
    EXPECT_EQ(test::slurp(readOnly), "kept");
}

TEST_F(IndexWindowTest, CancelOnTheExtensionOfASaveLeavesNoFile)
{
    const fs::path raw = test::makeFatWithFarFile(m_dir.path());
    if (raw.empty())
        GTEST_SKIP() << "mkfs.fat or mtools are missing";
    const std::string image = makeImage(raw, kLow);
    REQUIRE(image);
    auto main = openMain(image);

    m_answers = {kContinue};
    m_yesNo = {mrYes};
    m_files = {QString::fromStdString(m_dir.file("far.zbx"))};
    m_cancelProgress = true;
    fileRestore(*main);
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1], "Image Index was not saved.");
    EXPECT_EQ(m_filesAsked.size(), 1u); // a cancelled save does not ask for another file
    EXPECT_FALSE(fs::exists(m_dir.file("far.zbx")));
    EXPECT_EQ(indexOf(*main), "");
    EXPECT_TRUE(main->isEnabled());
}

TEST_F(IndexWindowTest, BrowseUsesTheChosenFileAndCreateIntoAFileThatHasTheIndexOpensWithIt)
{
    const std::string image = makeImage(test::fixtureDir() / "fat16.img", kLow);
    REQUIRE(image);
    const std::string saved = m_dir.file("saved.zbx");
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreOpenReadOnly(image.c_str(), nullptr, &error));
        ASSERT_TRUE(store) << error;
        ASSERT_EQ(store->SelectPartition(1, 0), 0);
        imbrex::restore::PARTITION_ACCESS access;
        ASSERT_EQ(access.Open(store.get(), ""), 0);
        ASSERT_EQ(access.WriteIndexFile(saved), 0);
    }
    auto main = openMain(image);

    m_answers = {kBrowse};
    m_files = {QString::fromStdString(saved)};
    fileRestore(*main);
    ASSERT_EQ(m_filesAsked.size(), 1u);
    EXPECT_EQ(m_filesAsked[0].kind, FileDialogKind::OpenIndex);
    EXPECT_EQ(m_filesAsked[0].start.toStdString(), m_dir.file("fat16.zbx"));
    EXPECT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_browsed, 1);
    EXPECT_EQ(indexOf(*main), saved);
    EXPECT_TRUE(m_messages.empty());

    main->setIndexFileOf(0, QString());
    m_answers = {kCreate};
    m_files = {QString::fromStdString(saved)};
    fileRestore(*main);
    EXPECT_EQ(m_shown.size(), 2u); // the second open loaded the file without asking
    EXPECT_EQ(m_browsed, 2);
    EXPECT_EQ(indexOf(*main), saved);
    EXPECT_EQ(m_messages, std::vector<std::string>{"The image index already exists in this file."});

    // Create whose save is given up gives the partition up too.
    main->setIndexFileOf(0, QString());
    m_answers = {kCreate};
    fileRestore(*main);
    EXPECT_EQ(m_shown.size(), 3u);
    EXPECT_EQ(m_browsed, 2);
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(IndexWindowTest, AnUncompressedPartitionIsNeverAskedAboutAnIndex)
{
    const std::string image = makeImage(test::fixtureDir() / "fat12.img", 0);
    REQUIRE(image);
    auto main = openMain(image);
    main->setIndexFileOf(0, QString::fromStdString(m_dir.file("gone.zbx")));
    fileRestore(*main);
    EXPECT_EQ(m_browsed, 1);
    EXPECT_TRUE(m_shown.empty());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(m_filesAsked.empty());
}

} // namespace
