// The File Restore windows over real FAT and NTFS volumes in images of our store, driven offscreen: dialogs
// are answered by a script that watches the modal window, message boxes by the scripted handler.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QSettings>
#include <QtCore/QTimer>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>

#include "capture/RawVolume.h"
#include "common/Progress.h"
#include "common/ResultCodes.h"
#include "imgstore/zbimgstr.h"
#include "restore/TfrmCreateDir.h"
#include "restore/TfrmFileRestore.h"
#include "restore/TfrmFileRestoreProg.h"
#include "restore/TfrmReplaceFile.h"
#include "tests/support/FakeStore.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/ui/VolumeImages.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmPassword.h"
#include "ui/TfrmProgress.h"

using namespace imbrex::ui;
namespace fs = std::filesystem;
namespace test = imbrex::test;

namespace {

std::string contentOf(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file under a and b, compared by relative path and content.
void expectSameTree(const fs::path &a, const fs::path &b)
{
    size_t files = 0;
    for (const auto &entry : fs::recursive_directory_iterator(a)) {
        const fs::path other = b / fs::relative(entry.path(), a);
        ASSERT_TRUE(fs::exists(other)) << other;
        if (entry.is_regular_file()) {
            EXPECT_EQ(contentOf(entry.path()), contentOf(other)) << other;
            ++files;
        }
    }
    for (const auto &entry : fs::recursive_directory_iterator(b))
        EXPECT_TRUE(fs::exists(a / fs::relative(entry.path(), b))) << entry.path();
    EXPECT_GT(files, 0u);
}

// Answers whatever modal window the code under test opens, from the event loop.
class DialogScript
{
public:
    DialogScript()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    std::deque<int> replaceAnswers; // mrYes, mrNo, mrOk (all), mrCancel
    std::deque<QString> passwords;  // empty text: Cancel
    int createAnswer = mrOk;
    std::vector<QString> replaceMessages;
    std::vector<bool> replaceOfferedAll;
    int passwordAsked = 0;
    int progressWindows = 0;
    bool streamWarning = false; // the last finished extraction showed the NTFS data-stream warning

private:
    // A dialog answered with done() hides at once, so the next poll sees the window below it.
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *replace = qobject_cast<TfrmReplaceFile *>(modal)) {
            replaceMessages.push_back(replace->mmoMessage->toPlainText());
            replaceOfferedAll.push_back(!replace->btnYesAll->isHidden());
            const int answer = replaceAnswers.empty() ? mrNo : replaceAnswers.front();
            if (!replaceAnswers.empty())
                replaceAnswers.pop_front();
            replace->done(answer);
        } else if (auto *create = qobject_cast<TfrmCreateDir *>(modal)) {
            create->done(createAnswer);
        } else if (auto *password = qobject_cast<TfrmPassword *>(modal)) {
            ++passwordAsked;
            const QString text = passwords.empty() ? QString() : passwords.front();
            if (!passwords.empty())
                passwords.pop_front();
            password->edtPassword()->setText(text);
            password->done(text.isEmpty() ? mrCancel : mrOk);
        } else if (auto *progress = qobject_cast<TfrmFileRestoreProg *>(modal)) {
            if (progress->btnOk->isEnabled()) {
                ++progressWindows;
                streamWarning = progress->lblWarnDataStreams->isVisibleTo(progress);
                progress->btnOk->click();
            }
        }
    }

    QTimer m_timer;
};

class FileRestoreWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        setMessageBoxHandler([this](const MessageBoxRequest &request) {
            m_messages.push_back(request.text);
            if (m_answers.empty())
                return request.buttons == MessageButtons::YesNoCancel ? mrYes : mrOk;
            const int answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }
    void TearDown() override { setMessageBoxHandler({}); }

    // An image holding the fixture volume as partition 1.
    ImageStorePtr makeImage(const char *volume, uint32_t compression = 0, const char *password = nullptr)
    {
        return makeImageOf(test::fixtureDir() / volume, compression, password);
    }

    ImageStorePtr makeImageOf(const fs::path &raw, uint32_t compression = 0, const char *password = nullptr)
    {
        if (!fs::exists(raw))
            return nullptr;
        const std::string image = m_dir.file(raw.filename().string() + ".zbi");
        if (!test::writeVolumeImage(raw, image, compression, password))
            return nullptr;
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreOpenReadOnly(image.c_str(), nullptr, &error));
        EXPECT_TRUE(store) << error;
        return store;
    }

    // The window over partition 1, shown and opened (its timer has run).
    std::unique_ptr<TfrmFileRestore> openWindow(ImageStore *store)
    {
        FileRestoreOptions options;
        options.store = store;
        options.partition = 1;
        options.partitionRow = "Volume|C:|FAT16|Primary|1.1.2020|20 MB|None|";
        options.targetDirectory = QString::fromStdString(m_target.string());
        auto window = std::make_unique<TfrmFileRestore>(nullptr, std::move(options));
        window->show();
        for (int i = 0; i < 100000 && window->openResult() < 0; ++i)
            QCoreApplication::processEvents();
        return window;
    }

    static int rowNamed(TfrmFileRestore &window, const QString &name)
    {
        for (int row = 0; row < window.lstFiles->count(); ++row)
            if (window.lstFilesGetFilename(row) == name)
                return row;
        return -1;
    }

    static QStringList names(TfrmFileRestore &window)
    {
        QStringList out;
        for (int row = 0; row < window.lstFiles->count(); ++row)
            out << window.lstFilesGetFilename(row);
        return out;
    }

    static void selectOnly(TfrmFileRestore &window, std::initializer_list<QString> rows)
    {
        window.lstFiles->clearSelection();
        for (const QString &name : rows) {
            const int row = rowNamed(window, name);
            ASSERT_GE(row, 0) << name.toStdString();
            window.lstFiles->setCurrentRow(row, QItemSelectionModel::Select);
        }
    }

    static void enter(TfrmFileRestore &window, const QString &name)
    {
        const int row = rowNamed(window, name);
        ASSERT_GE(row, 0) << name.toStdString();
        window.lstFiles->setCurrentRow(row);
        window.lstFilesDblClick();
    }

    static void pressKey(QWidget *widget, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(widget, &press);
    }

    test::TempDir m_dir;
    fs::path m_target = m_dir.path() / "restored";
    std::vector<std::string> m_messages;
    std::deque<int> m_answers;
};

#define REQUIRE_IMAGE(store)                                                                                 \
    if (!(store))                                                                                            \
    GTEST_SKIP() << "the fixture volumes were not made"

TEST_F(FileRestoreWindowTest, FatBrowsesIntoFoldersAndBackThroughTheListTheComboAndTheKeys)
{
    ImageStorePtr store = makeImage("fat16.img");
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    EXPECT_EQ(window->cmbFromDir->itemText(0), QStringLiteral("Volume (C:)"));
    EXPECT_TRUE(names(*window).contains(QStringLiteral("README.TXT")));
    // The first file row is selected and named in the edit; folders come in directory order before it.
    EXPECT_EQ(window->edtFilename->text(), window->lstFilesGetFilename(rowNamed(*window, "README.TXT")));

    pressKey(window->lstFiles, Qt::Key_Backspace); // at the root: nothing happens
    EXPECT_EQ(window->cmbFromDir->count(), 1);

    enter(*window, QStringLiteral("deep"));
    enter(*window, QStringLiteral("level1"));
    enter(*window, QStringLiteral("level2"));
    window->lstFiles->setCurrentRow(rowNamed(*window, "level3"));
    pressKey(window->lstFiles, Qt::Key_Return);
    EXPECT_EQ(names(*window), QStringList{QStringLiteral("leaf.bin")});
    EXPECT_EQ(window->cmbFromDir->count(), 5);
    EXPECT_EQ(window->currentPath(), "\\DEEP\\LEVEL1\\LEVEL2\\LEVEL3"); // FAT paths use the short names
    EXPECT_EQ(window->edtFilename->text(), QStringLiteral("leaf.bin"));

    window->cmbFromDir->setCurrentIndex(2);
    window->cmbFromDirClick(2);
    EXPECT_EQ(window->currentPath(), "\\DEEP\\LEVEL1");
    EXPECT_EQ(window->cmbFromDir->count(), 3);
    EXPECT_EQ(names(*window), QStringList{QStringLiteral("level2")});

    pressKey(window->lstFiles, Qt::Key_Backspace);
    EXPECT_EQ(window->currentPath(), "\\DEEP");
    window->btnUpOneLevelClick();
    EXPECT_TRUE(window->currentPath().empty());
    EXPECT_TRUE(names(*window).contains(QStringLiteral("Mixed Case Folder")));
    EXPECT_TRUE(m_messages.empty());
}

// An NTFS volume with folders, written through the ntfs-3g driver; an empty path when that cannot run here.
fs::path makeNtfsTree(const fs::path &dir, const fs::path &tree)
{
    fs::create_directories(tree / "Docs" / "Sub");
    std::ofstream(tree / "Docs" / "note.txt") << "a note";
    std::ofstream(tree / "Docs" / "Sub" / "deeper.bin") << std::string(70000, 'x');
    fs::create_directories(tree / "Docs" / "Empty");
    const fs::path raw = dir / "ntfs-tree.img";
    const fs::path mount = dir / "mnt";
    fs::create_directories(mount);
    const std::string script =
        "PATH=$PATH:/sbin:/usr/sbin; truncate -s 16M " + test::quote(raw.string()) + " && mkntfs -F -Q -q " +
        test::quote(raw.string()) + " >/dev/null 2>&1 && ntfs-3g " + test::quote(raw.string()) + " " +
        test::quote(mount.string()) + " >/dev/null 2>&1 && cp -r " + test::quote((tree / "Docs").string()) +
        " " + test::quote(mount.string()) + "; r=$?; umount " + test::quote(mount.string()) +
        " && ntfscp -q -N second " + test::quote(raw.string()) + " " +
        test::quote((tree / "Docs" / "note.txt").string()) + " Docs/note.txt && exit $r";
    return std::system(script.c_str()) == 0 ? raw : fs::path();
}

TEST_F(FileRestoreWindowTest, NtfsBrowsesIntoFoldersAndBackAndRestoresAFolderAsItsSource)
{
    const fs::path tree = m_dir.path() / "tree";
    const fs::path raw = makeNtfsTree(m_dir.path(), tree);
    if (raw.empty())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    ImageStorePtr store = makeImageOf(raw, 208);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    enter(*window, QStringLiteral("Docs"));
    enter(*window, QStringLiteral("Sub"));
    EXPECT_EQ(window->currentPath(), "\\Docs\\Sub");
    EXPECT_EQ(names(*window), QStringList{QStringLiteral("deeper.bin")});
    pressKey(window->lstFiles, Qt::Key_Backspace);
    EXPECT_EQ(window->currentPath(), "\\Docs");
    EXPECT_EQ(window->cmbFromDir->count(), 2);
    window->btnUpOneLevelClick();

    // The folder with its subfolders (the question about them is answered Yes), the empty one made too.
    DialogScript script;
    selectOnly(*window, {QStringLiteral("Docs")});
    window->btnRestoreClick();
    EXPECT_EQ(m_messages, std::vector<std::string>{"Include sub-directories?"});
    EXPECT_TRUE(script.streamWarning); // note.txt has a second data stream
    EXPECT_TRUE(fs::is_directory(m_target / "Docs" / "Empty"));
    expectSameTree(tree, m_target);
}

TEST_F(FileRestoreWindowTest, NtfsListsItsRootAndRestoresAFileByItsName)
{
    ImageStorePtr store = makeImage("ntfs.img", 301);
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    const QStringList listed = names(*window);
    EXPECT_TRUE(listed.contains(QStringLiteral("A rather long file name for testing.dat")));
    EXPECT_TRUE(listed.contains(QStringLiteral("UPPER.TXT")));

    DialogScript script;
    selectOnly(*window, {QStringLiteral("A rather long file name for testing.dat")});
    window->btnRestoreClick();
    EXPECT_EQ(fs::file_size(m_target / "A rather long file name for testing.dat"), 307213u);
    EXPECT_EQ(script.progressWindows, 1);
    EXPECT_FALSE(script.streamWarning);
}

TEST_F(FileRestoreWindowTest, WildcardsFilterOnlyTheFileNameAndAPathBeforeThemIsEntered)
{
    ImageStorePtr store = makeImage("fat16.img");
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);

    // A wildcard before the last "\" is refused and changes nothing.
    window->edtFilename->setText(QStringLiteral("Docu*\\A.TXT"));
    pressKey(window->edtFilename, Qt::Key_Return);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "Wildcard characters may only be used in the filename.");
    EXPECT_TRUE(window->currentPath().empty());

    // A folder typed by its long name, in any case, is entered; the pattern stays and filters its files.
    window->edtFilename->setText(QStringLiteral("documents\\*.TXT"));
    pressKey(window->edtFilename, Qt::Key_Return);
    EXPECT_EQ(window->cmbFromDir->count(), 2);
    EXPECT_EQ(window->edtFilename->text(), QStringLiteral("*.TXT"));
    EXPECT_EQ(names(*window), QStringList{QStringLiteral("report-2020.txt")});
    EXPECT_TRUE(window->lstFiles->selectedItems().isEmpty());
    EXPECT_FALSE(window->btnRestoreFile->isEnabled());

    // "*t" matches whatever the case; folders always show.
    window->btnUpOneLevelClick();
    window->edtFilename->setText(QStringLiteral("Mixed Case Folder\\*t"));
    window->btnRestoreClick();
    EXPECT_EQ(names(*window), (QStringList{QStringLiteral("lower case.txt"), QStringLiteral("UPPER.TXT")}));

    // Three rows selected read "(multiple files)"; none selected empties the edit and disables Restore.
    window->lstFilesSetLookInPath(0);
    window->edtFilename->clear();
    window->lstFilesPopulate();
    selectOnly(*window,
               {QStringLiteral("README.TXT"), QStringLiteral("one.bin"), QStringLiteral("empty.bin")});
    EXPECT_EQ(window->edtFilename->text(), QStringLiteral("(multiple files)"));
    EXPECT_TRUE(window->btnRestoreFile->isEnabled());
    window->lstFiles->clearSelection();
    EXPECT_TRUE(window->edtFilename->text().isEmpty());
    EXPECT_FALSE(window->btnRestoreFile->isEnabled());

    // A folder's name typed without a pattern enters it; restoring the folder needs its row selected.
    window->edtFilename->setText(QStringLiteral("MIXED CASE FOLDER"));
    pressKey(window->edtFilename, Qt::Key_Return);
    EXPECT_EQ(window->cmbFromDir->count(), 2);
    EXPECT_EQ(names(*window), (QStringList{QStringLiteral("lower case.txt"), QStringLiteral("UPPER.TXT")}));
    EXPECT_EQ(window->edtFilename->text(), QStringLiteral("lower case.txt"));
    EXPECT_FALSE(fs::exists(m_target));
    window->btnUpOneLevelClick();

    // A folder that is not there is told, and the window stays where it was.
    m_messages.clear();
    window->edtFilename->setText(QStringLiteral("Nowhere\\*.*"));
    window->btnRestoreClick();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "Error 504 traversing directories at \\Nowhere");
    EXPECT_TRUE(window->currentPath().empty());
    EXPECT_EQ(window->cmbFromDir->count(), 1);
}

TEST_F(FileRestoreWindowTest, ThreeFilesAndAFolderOfACompressedImageRestoreIntoANewDirectoryAsTheSource)
{
    ImageStorePtr store = makeImage("fat16.img", 301);
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    DialogScript script;
    selectOnly(*window, {QStringLiteral("README.TXT"), QStringLiteral("empty.bin"), QStringLiteral("one.bin"),
                         QStringLiteral("Documents")});
    window->btnRestoreClick();
    EXPECT_EQ(script.progressWindows, 1);
    EXPECT_TRUE(m_messages.empty()) << m_messages.front();

    // What mtools copies out of the same volume.
    const fs::path expected = m_dir.path() / "expected";
    fs::create_directories(expected);
    const std::string img = (test::fixtureDir() / "fat16.img").string();
    const std::string to = test::quote(expected.string());
    const std::string copy = "MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + test::quote(img) +
                             " ::/README.TXT ::/empty.bin "
                             "::/one.bin ::/Documents " +
                             to;
    ASSERT_EQ(std::system(copy.c_str()), 0);
    expectSameTree(expected, m_target);
}

TEST_F(FileRestoreWindowTest, TheOverallPercentageOverFilesAndFolderTreesNeverGoesBack)
{
    ImageStorePtr store = makeImage("fat16.img");
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    DialogScript script;
    std::vector<int> shown;
    QTimer::singleShot(0, [&] {
        auto *progress = qobject_cast<TfrmFileRestoreProg *>(QApplication::activeModalWidget());
        ASSERT_NE(progress, nullptr);
        QObject::connect(progress->prgBar, &QProgressBar::valueChanged, progress,
                         [&](int value) { shown.push_back(value); });
    });
    selectOnly(*window,
               {QStringLiteral("deep"), QStringLiteral("Mixed Case Folder"), QStringLiteral("one.bin")});
    window->btnRestoreClick();
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.back(), 100);
    // A folder moves the bar by its files: the two of the first one (in listing order) within the first
    // third.
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](int v) { return v > 0 && v < 33; }))
        << ::testing::PrintToString(shown);
}

TEST_F(FileRestoreWindowTest, ExistingFilesAreReplacedKeptOrAllReplacedAsAnswered)
{
    ImageStorePtr store = makeImage("fat16.img");
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    fs::create_directories(m_target);
    for (const char *name : {"README.TXT", "empty.bin", "one.bin"})
        std::ofstream(m_target / name) << "old";

    DialogScript script;
    // One file alone is asked with Yes and No only.
    script.replaceAnswers = {mrNo};
    selectOnly(*window, {QStringLiteral("README.TXT")});
    window->btnRestoreClick();
    ASSERT_EQ(script.replaceOfferedAll.size(), 1u);
    EXPECT_FALSE(script.replaceOfferedAll[0]);
    EXPECT_EQ(script.replaceMessages[0].toStdString(),
              "File already exists. " + (m_target / "README.TXT").string());
    EXPECT_EQ(contentOf(m_target / "README.TXT"), "old");

    // Yes replaces, No keeps, and after Replace All nothing more is asked.
    script.replaceAnswers = {mrYes, mrNo, mrOk};
    std::ofstream(m_target / "README.TXT") << "old";
    selectOnly(*window,
               {QStringLiteral("README.TXT"), QStringLiteral("empty.bin"), QStringLiteral("one.bin")});
    window->btnRestoreClick();
    EXPECT_EQ(script.replaceMessages.size(), 4u);
    EXPECT_TRUE(script.replaceOfferedAll[1]);
    EXPECT_EQ(fs::file_size(m_target / "README.TXT"), 21u);
    EXPECT_EQ(contentOf(m_target / "empty.bin"), "old");
    EXPECT_EQ(fs::file_size(m_target / "one.bin"), 1u);

    std::ofstream(m_target / "README.TXT") << "old";
    std::ofstream(m_target / "one.bin") << "old";
    script.replaceAnswers = {mrOk};
    window->btnRestoreClick();
    EXPECT_EQ(script.replaceMessages.size(), 5u);
    EXPECT_EQ(fs::file_size(m_target / "README.TXT"), 21u);
    EXPECT_EQ(fs::file_size(m_target / "empty.bin"), 0u);
    EXPECT_EQ(fs::file_size(m_target / "one.bin"), 1u);
}

TEST_F(FileRestoreWindowTest, CancelInTheMiddleOfALargeFileStopsAndLeavesNoPartialFile)
{
    ImageStorePtr store = makeImage("fat16.img", 301);
    REQUIRE_IMAGE(store);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    window->edtFilename->setText(QStringLiteral("Documents\\*.dat"));
    window->btnRestoreClick();
    selectOnly(*window, {QStringLiteral("A rather long file name for testing.dat")});

    // Cancel is pressed, or the window closed, when the bar first moves, between two pieces of the file.
    for (bool closeWindow : {false, true}) {
        SCOPED_TRACE(closeWindow ? "closing the window" : "pressing Cancel");
        DialogScript script;
        int firstPercent = -1;
        std::optional<imbrex::restore::RestoreOutcome> result;
        QTimer::singleShot(0, [&] {
            auto *progress = qobject_cast<TfrmFileRestoreProg *>(QApplication::activeModalWidget());
            ASSERT_NE(progress, nullptr);
            QObject::connect(progress->prgBar, &QProgressBar::valueChanged, progress,
                             [&, progress](int value) {
                                 if (value > 0 && value < 100 && firstPercent < 0) {
                                     firstPercent = value;
                                     if (closeWindow)
                                         progress->close();
                                     else
                                         progress->btnCancel->click();
                                 }
                             });
            QObject::connect(progress, &QDialog::finished, [&, progress] { result = progress->outcome(); });
        });
        window->btnRestoreClick();
        EXPECT_GT(firstPercent, 0);
        EXPECT_EQ(result, imbrex::restore::RestoreOutcome::Cancelled);
        EXPECT_EQ(script.progressWindows, 0); // it closed itself
        EXPECT_FALSE(fs::exists(m_target / "A rather long file name for testing.dat"));
        if (fs::exists(m_target)) {
            EXPECT_TRUE(fs::is_empty(m_target));
        }
        EXPECT_TRUE(m_messages.empty());
    }
}

TEST_F(FileRestoreWindowTest, AProtectedPartitionAsksUntilThePasswordMatchesOrIsCancelled)
{
    ImageStorePtr store = makeImage("fat12.img", 0, "secret word");
    REQUIRE_IMAGE(store);
    {
        DialogScript script;
        script.passwords = {QStringLiteral("wrong"), QStringLiteral("also wrong"),
                            QStringLiteral("secret word")};
        auto window = openWindow(store.get());
        EXPECT_EQ(window->openResult(), 0);
        EXPECT_EQ(script.passwordAsked, 3);
        EXPECT_EQ(m_messages,
                  std::vector<std::string>(2, "Password entered is not valid for this partition."));
        EXPECT_TRUE(names(*window).contains(QStringLiteral("README.TXT")));
    }
    m_messages.clear();
    DialogScript script;
    auto window = openWindow(store.get()); // no answers: Cancel
    EXPECT_NE(window->openResult(), 0);
    EXPECT_EQ(script.passwordAsked, 1);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(FileRestoreWindowTest, APartitionWithoutAReaderIsToldAndTheWindowCloses)
{
    // Random bytes are no file system the program reads.
    const fs::path raw = m_dir.path() / "noise.img";
    {
        std::ofstream out(raw, std::ios::binary);
        for (int i = 0; i < 64 * 1024; ++i)
            out.put(static_cast<char>((i * 7919) >> 3));
    }
    const std::string image = m_dir.file("noise.zbi");
    {
        uint32_t error = 0;
        ImageStorePtr store(ImageStoreCreateNew(image.c_str(), kNoSplit, 0, 0, nullptr, &error));
        ASSERT_TRUE(store);
        imbrex::NoProgress progress;
        ASSERT_EQ(imbrex::capture::importPartition(*store, raw.string(), {}, progress), 0);
        ASSERT_EQ(store->Close(), 0);
    }
    uint32_t error = 0;
    ImageStorePtr store(ImageStoreOpenReadOnly(image.c_str(), nullptr, &error));
    ASSERT_TRUE(store);
    auto window = openWindow(store.get());
    EXPECT_EQ(window->openResult(), 47);
    EXPECT_EQ(m_messages,
              std::vector<std::string>{"Restoring a file from this partition type is not currently "
                                       "supported."});
    EXPECT_FALSE(window->isVisible());
}

} // namespace

namespace {

TEST_F(FileRestoreWindowTest, CancelOnTheIndexExtensionProgressStopsTheFileAndLeavesNoPartialFile)
{
    const fs::path raw = test::makeFatWithFarFile(m_dir.path());
    if (raw.empty())
        GTEST_SKIP() << "mkfs.fat or mtools are missing";
    ImageStorePtr store = makeImageOf(raw, 208);
    auto window = openWindow(store.get());
    ASSERT_EQ(window->openResult(), 0);
    selectOnly(*window, {QStringLiteral("far.bin")});

    DialogScript script;
    QString action;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (TfrmProgress *progress = window->indexProgress().window()) {
            action = progress->findChild<QLabel *>(QStringLiteral("lblAction"))->text();
            EXPECT_FALSE(window->isEnabled()); // the browser waits behind the progress
            progress->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
        }
    });
    watch.start();
    window->btnRestoreClick();
    watch.stop();
    EXPECT_EQ(action, QStringLiteral("Extending the image index ..."));
    EXPECT_EQ(window->indexProgress().window(), nullptr);
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(script.progressWindows, 0); // the extraction closed itself
    EXPECT_FALSE(fs::exists(m_target / "far.bin"));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(FileRestoreWindowTest, TheMainWindowOpensTheSelectedPartitionAndKeepsTheTargetDirectory)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(m_dir.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(m_dir.path().string()));
    ImageStorePtr made = makeImage("fat12.img");
    REQUIRE_IMAGE(made);
    made.reset();
    MainWindowOptions options;
    options.programDir = QString::fromStdString(m_dir.path().string());
    TfrmMain main(options);
    main.setTargetDirectory(QStringLiteral("/somewhere/before"));
    main.OpenImageFile(QString::fromStdString(m_dir.file("fat12.img.zbi")));
    ASSERT_TRUE(main.store());
    main.lstImage->setCurrentRow(0);
    main.UpdateMenus();

    QString shownTarget;
    QStringList listed;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto *browser = qobject_cast<TfrmFileRestore *>(QApplication::activeModalWidget());
        if (browser == nullptr || browser->openResult() != 0)
            return;
        shownTarget = browser->edtTargetDir->text();
        listed = names(*browser);
        browser->edtTargetDir->setText(QStringLiteral("/chosen/now"));
        browser->btnCancel->click();
    });
    watch.start();
    main.itmPartitionFileRestoreDblClick();
    watch.stop();
    EXPECT_EQ(shownTarget, QStringLiteral("/somewhere/before"));
    EXPECT_TRUE(listed.contains(QStringLiteral("README.TXT")));
    EXPECT_EQ(main.targetDirectory(), QStringLiteral("/chosen/now"));
    EXPECT_TRUE(m_messages.empty());
}

} // namespace

namespace {

// Three small files whose middle one cannot be read.
class DamagedSource final : public imbrex::restore::FileSource
{
public:
    bool isFatVolume() override { return false; }
    int openEntry(const std::array<uint8_t, 32> &) override { return 1; }
    int openRecord(uint32_t, int *) override { return 1; }
    int openFile(const std::string &path, int *kind) override
    {
        m_current = path;
        m_read = false;
        *kind = 1;
        return 0;
    }
    uint64_t fileSize() override { return 4; }
    int readFile(void *buffer, uint32_t count) override
    {
        if (m_current == "\\b" || m_read || count != 4)
            return 1911;
        std::memcpy(buffer, "data", 4);
        m_read = true;
        return 0;
    }
    int closeFile() override { return 0; }
    int listDirectory(const std::string &, const std::array<uint8_t, 32> *,
                      std::vector<imbrex::engine::DirListEntry> *) override
    {
        return 503;
    }
    int resetStream() override { return 0; }

private:
    std::string m_current;
    bool m_read = false;
};

TEST_F(FileRestoreWindowTest, AFileThatCannotBeReadIsToldAndCountedWhileTheOthersAreRestored)
{
    DamagedSource source;
    RestoreRequest request;
    request.fileName = "(multiple files)";
    request.targetDirectory = m_target.string();
    for (const char *name : {"a", "b", "c"})
        request.selected.push_back({name, false, std::nullopt});
    fs::create_directories(m_target);
    TfrmFileRestoreProg progress(nullptr, source, std::move(request));
    progress.exec();
    EXPECT_EQ(progress.outcome(), imbrex::restore::RestoreOutcome::Failed);
    EXPECT_EQ(m_messages,
              (std::vector<std::string>{"Error 1911 reading file \\b", "Files or folders not restored: 1."}));
    EXPECT_EQ(contentOf(m_target / "a"), "data");
    EXPECT_FALSE(fs::exists(m_target / "b"));
    EXPECT_EQ(contentOf(m_target / "c"), "data");
}

} // namespace

namespace {

TEST_F(FileRestoreWindowTest, PartitionsThatCannotBeOpenedAreToldInTheirOwnWordsAndTheWindowCloses)
{
    struct Case
    {
        uint32_t compression;
        uint32_t sectorSize;
        std::string message;
    };
    const Case cases[] = {
        {5, 512,
         "Restoring a file from this compressed image (type 5) is not supported.\n\nUse the uncompress "
         "option "
         "to create an image from which files can be restored."},
        {0, 4096, "Error " + std::to_string(imbrex::rc::kBadGeometry) + " accessing partition"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        imbrex::test::FakeStore store;
        imbrex::test::FakePartition partition;
        partition.name = "Old";
        partition.sectorCount = 2048;
        partition.compression = c.compression;
        partition.sectorSize = c.sectorSize;
        store.partitions = {partition};
        m_messages.clear();
        auto window = openWindow(&store);
        EXPECT_NE(window->openResult(), 0);
        EXPECT_EQ(m_messages, std::vector<std::string>{c.message});
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->access(), nullptr);
    }
}

} // namespace
