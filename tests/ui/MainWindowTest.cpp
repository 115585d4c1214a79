#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtCore/QTimer>
#include <QtGui/QDropEvent>
#include <QtGui/QFontDatabase>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLayout>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QToolTip>

#include "common/ResultCodes.h"
#include "imgstore/ZbiFormat.h"
#include "store/PartitionRow.h"
#include "tests/support/FakeStore.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"
#include "translate/LanguageList.h"
#include "translate/Translate.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"
#include "ui/ProgramFiles.h"
#include "ui/TIvLanguageSelectDialog.h"
#include "ui/TextChangeDialog.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmProperties.h"

namespace translate = imbrex::translate;
using imbrex::test::FakePartition;
using imbrex::test::FakeStore;
using namespace imbrex::ui;

namespace {

FakePartition partitionOf(const std::string &name, uint32_t megabytes, uint32_t compression = 0)
{
    FakePartition p;
    p.name = name;
    p.sectorCount = megabytes * 2048;
    p.sectorSize = 512;
    p.compression = compression;
    return p;
}

class MainWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.path().string()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.path().string()));
        setMessageBoxHandler([this](const MessageBoxRequest &request) {
            m_messages.push_back(request.text);
            if (m_answers.empty())
                return request.buttons == MessageButtons::YesNo ? mrNo : mrOk;
            int answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
        m_image = imagePath("a.zbi");
    }

    void TearDown() override
    {
        setMessageBoxHandler({});
        imbrex::setTranslator({});
    }

    QString imagePath(const std::string &name)
    {
        std::string path = m_dir.file(name);
        std::ofstream(path) << "image";
        return QString::fromStdString(path);
    }

    // A window over the image store library itself, on real files.
    std::unique_ptr<TfrmMain> makeLibraryWindow(translate::InterfaceLanguage *language = nullptr)
    {
        MainWindowOptions options;
        options.programDir = QString::fromStdString(m_dir.path().string());
        options.language = language;
        return std::make_unique<TfrmMain>(options);
    }

    std::unique_ptr<TfrmMain> makeWindow()
    {
        MainWindowOptions options;
        options.exports.open = [this](const char *, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *,
                                      uint32_t *error) -> ImageStore * {
            *error = static_cast<uint32_t>(m_openError);
            return m_openError ? nullptr : &m_store;
        };
        options.exports.openReadOnly = [this](const char *, IMGSTORE_UI_CALLBACK *,
                                              uint32_t *error) -> ImageStore * {
            *error = static_cast<uint32_t>(m_openError);
            return m_openError ? nullptr : &m_store;
        };
        options.exports.createNew = [this](const char *, uint32_t, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *,
                                           uint32_t *error) -> ImageStore * {
            *error = 0;
            return &m_store;
        };
        options.programDir = QString::fromStdString(m_dir.path().string());
        return std::make_unique<TfrmMain>(options);
    }

    // An image of the library with partitions P1, P2, ... on disk.
    QString makeLibraryImage(const std::string &name, int partitions)
    {
        const std::string path = m_dir.file(name);
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        EXPECT_TRUE(image) << error;
        for (int i = 1; image && i <= partitions; ++i) {
            imbrex::test::PartitionSpec spec;
            spec.name = "P" + std::to_string(i);
            spec.seed = static_cast<uint32_t>(i);
            EXPECT_EQ(imbrex::test::addPartition(*image, spec), 0);
        }
        if (image) {
            EXPECT_EQ(image->Close(), 0);
        }
        return QString::fromStdString(path);
    }

    static std::string openFailure(const QString &path)
    {
        return "An error occurred while trying to open the file '" + path.toStdString() +
               "'. Either it is not a Korvane Image file, it's corrupted, or the disk is not in the drive.";
    }

    // The messages without the reason line under each.
    static std::vector<std::string> firstLines(const std::vector<std::string> &messages)
    {
        std::vector<std::string> out;
        for (const std::string &m : messages)
            out.push_back(m.substr(0, m.find('\n')));
        return out;
    }

    // Shows window and waits until it takes keys.
    static bool showActive(QWidget &window)
    {
        window.show();
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }

    // Answers the next modal dialog of type Dialog from the event loop.
    template <typename Dialog> static void answerDialog(std::function<void(Dialog *)> answer)
    {
        QTimer::singleShot(0, [answer] {
            auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(dialog);
        });
    }

    static void selectRows(TfrmMain &window, std::initializer_list<int> rows)
    {
        window.lstImage->clearSelection();
        for (int row : rows) {
            window.lstImage->setCurrentRow(row, QItemSelectionModel::NoUpdate);
            window.lstImage->item(row)->setSelected(true);
        }
        window.UpdateMenus();
        window.UpdateStatusBar();
    }

    imbrex::test::TempDir m_dir;
    FakeStore m_store;
    int m_openError = 0;
    QString m_image;
    std::vector<std::string> m_messages;
    std::deque<int> m_answers;
};

TEST_F(MainWindowTest, FirstStartCentresTheDesignSizeWritesDefaultsAndLeavesCommandsOff)
{
    auto window = makeWindow();
    EXPECT_EQ(window->size(), QSize(620, 464));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window->pos(), QPoint((screen.width() - 620) / 2, (screen.height() - 464) / 2));
    QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
    EXPECT_EQ(settings.value(QStringLiteral("Width")).toInt(), 620);
    EXPECT_EQ(settings.value(QStringLiteral("hdr1")).toInt(), 78);
    EXPECT_FALSE(settings.value(QStringLiteral("Target Directory")).toString().isEmpty());

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor"));
    EXPECT_TRUE(window->itmImageNew->isEnabled());
    EXPECT_TRUE(window->itmImageOpen->isEnabled());
    EXPECT_TRUE(window->itmAbout->isEnabled());
    for (QAction *off :
         {window->itmImageClose, window->itmImageName, window->itmImageSpan, window->itmImageClearList,
          window->itmPartitionCopy, window->itmPartitionProperties, window->itmCopy, window->itmClose})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    EXPECT_FALSE(window->edtImageName->isEnabled());
    EXPECT_FALSE(window->mmoImageComment->isEnabled());
    EXPECT_FALSE(window->btnCopy->isEnabled());
    EXPECT_TRUE(window->barPanels[0]->isHidden());
}

TEST_F(MainWindowTest, EnablingFollowsSelectionCompressionReadOnlyAndSpanned)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 2, 208), partitionOf("C", 3)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_TRUE(window->store());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01 - a.zbi"));

    selectRows(*window, {0});
    EXPECT_TRUE(window->itmPartitionCompress->isEnabled());
    EXPECT_FALSE(window->itmPartitionUncompress->isEnabled());
    EXPECT_TRUE(window->itmProperties->isEnabled());
    selectRows(*window, {1});
    EXPECT_FALSE(window->itmPartitionCompress->isEnabled());
    EXPECT_TRUE(window->itmPartitionUncompress->isEnabled());

    selectRows(*window, {0, 2});
    for (QAction *off :
         {window->itmPartitionName, window->itmPartitionComment, window->itmPartitionFileRestore,
          window->itmPartitionProperties, window->itmPartitionCompress, window->itmPartitionUncompress})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    EXPECT_TRUE(window->itmPartitionCopy->isEnabled());
    EXPECT_TRUE(window->itmPartitionDelete->isEnabled());
    EXPECT_TRUE(window->btnDelete->isEnabled());
    EXPECT_TRUE(window->itmImageSpan->isEnabled());
    EXPECT_FALSE(window->itmImageCombine->isEnabled());

    m_store.readOnly = true;
    selectRows(*window, {0});
    EXPECT_FALSE(window->itmPartitionDelete->isEnabled());
    EXPECT_FALSE(window->itmImageName->isEnabled());
    EXPECT_FALSE(window->itmPartitionName->isEnabled());
    EXPECT_FALSE(window->edtImageName->isEnabled());
    EXPECT_TRUE(window->itmPartitionCopy->isEnabled());

    m_store.readOnly = false;
    m_store.partitions[2].spanned = 1;
    selectRows(*window, {0});
    EXPECT_FALSE(window->itmImageSpan->isEnabled());
    EXPECT_TRUE(window->itmImageCombine->isEnabled());
    EXPECT_FALSE(window->itmPartitionDelete->isEnabled());
}

TEST_F(MainWindowTest, StatusBarTotalsTheSizeFieldOfAllAndOfSelectedRows)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 2), partitionOf("C", 3)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    selectRows(*window, {1});
    EXPECT_EQ(window->barPanels[0]->text(), QStringLiteral("Total 3 partitions"));
    EXPECT_EQ(window->barPanels[1]->text(), QStringLiteral("6 MB total"));
    EXPECT_EQ(window->barPanels[2]->text(), QStringLiteral("2 MB selected"));
    window->itmImageCloseClick();
    EXPECT_TRUE(window->barPanels[0]->isHidden());
}

TEST_F(MainWindowTest, OpenFailuresAndSpannedPartitionsAreReportedInTheirWords)
{
    m_openError = imbrex::rc::kNewerVersion;
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("was created with a newer version of Imbrex."), std::string::npos);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01"));
    EXPECT_EQ(window->lstRecentImages->count(), 1); // listed even when the open failed

    m_openError = 0;
    m_messages.clear();
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 1), partitionOf("C", 1)};
    m_store.partitions[0].selectError = imbrex::rc::kSpanned;
    m_store.partitions[2].selectError = imbrex::rc::kSpanned;
    window->OpenImageFile(m_image);
    EXPECT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(window->lstImage->count(), 3);

    m_messages.clear();
    m_store.closeError = 5;
    EXPECT_FALSE(window->LoadImage(m_image));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].rfind("Error 5 closing file ", 0), 0u);
    EXPECT_FALSE(window->store());
}

TEST_F(MainWindowTest, NameAndCommentAreWrittenOnEditsButNotWhenTheProgramFillsThem)
{
    m_store.imageName = "Old";
    m_store.partitions = {partitionOf("A", 1)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    EXPECT_EQ(window->edtImageName->text(), QStringLiteral("Old"));
    EXPECT_TRUE(m_store.callsStartingWith("SetImage").empty());

    window->edtImageName->setText(QStringLiteral("New name"));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
    QApplication::sendEvent(window->edtImageName, &release);
    EXPECT_EQ(m_store.imageName, "New name");
    window->mmoImageComment->setPlainText(QStringLiteral("Line 1\nLine 2"));
    EXPECT_EQ(m_store.imageComment, "Line 1\nLine 2");

    // A name the store refuses is reported, and the field shows the stored one again.
    m_store.faults.push_back({"SetImageName", 1, imbrex::rc::kIoError});
    window->edtImageName->setText(QStringLiteral("Refused"));
    QApplication::sendEvent(window->edtImageName, &release);
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(window->edtImageName->text(), QStringLiteral("New name"));
    EXPECT_EQ(m_store.imageName, "New name");

    m_store.calls.clear();
    window->itmImageCloseClick();
    EXPECT_TRUE(m_store.callsStartingWith("SetImage").empty());
    EXPECT_TRUE(window->edtImageName->text().isEmpty());
}

TEST_F(MainWindowTest, SettingsKeepHeaderWidthsAndTheRecentListWithIndexFiles)
{
    {
        auto window = makeWindow();
        window->hdrMain->resizeSection(0, 150);
        window->AddToRecentImages(QStringLiteral("/x/b.zbi"));
        window->AddToRecentImages(QStringLiteral("/x/a.zbi"));
        window->setIndexFileOf(0, QStringLiteral("/x/a.zbx"));
        window->SaveSettings();
    }
    QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
    EXPECT_EQ(settings.value(QStringLiteral("Recent/0")).toString(), QStringLiteral("/x/a.zbi|/x/a.zbx"));
    EXPECT_EQ(settings.value(QStringLiteral("Recent/1")).toString(), QStringLiteral("/x/b.zbi"));
    for (int i = 2; i < 12; ++i)
        settings.setValue(QStringLiteral("Recent/%1").arg(i), QStringLiteral("/x/%1.zbi").arg(i));
    settings.setValue(QStringLiteral("Recent/12"), QString(2000, QLatin1Char('x')));
    settings.sync();

    auto window = makeWindow();
    EXPECT_EQ(window->hdrMain->sectionSize(0), 150);
    ASSERT_EQ(window->lstRecentImages->count(), 12); // the overlong value is left out
    EXPECT_EQ(window->lstRecentImages->item(0)->text(), QStringLiteral("/x/a.zbi"));
    EXPECT_EQ(window->indexFileOf(0), QStringLiteral("/x/a.zbx"));
    EXPECT_EQ(window->indexFileOf(1), QString());
    EXPECT_EQ(window->lstRecentImages->item(11)->text(), QStringLiteral("/x/11.zbi")); // "10", "11" after "9"
}

TEST_F(MainWindowTest, RecentListMatchesIgnoringCaseAndKeeps64Entries)
{
    auto window = makeWindow();
    window->AddToRecentImages(QStringLiteral("/x/Image.zbi"));
    window->AddToRecentImages(QStringLiteral("/x/other.zbi"));
    window->AddToRecentImages(QStringLiteral("/X/IMAGE.ZBI"));
    EXPECT_EQ(window->lstRecentImages->count(), 2);
    EXPECT_EQ(window->lstRecentImages->currentRow(), 1);
    for (int i = 0; i < 70; ++i)
        window->AddToRecentImages(QStringLiteral("/x/%1.zbi").arg(i));
    EXPECT_EQ(window->lstRecentImages->count(), 64);
    EXPECT_EQ(window->lstRecentImages->item(0)->text(), QStringLiteral("/x/69.zbi"));
    EXPECT_EQ(window->lstRecentImages->currentRow(), 0);
}

TEST_F(MainWindowTest, AnUnavailableImageIsAskedAboutOncePerPath)
{
    auto window = makeWindow();
    window->AddToRecentImages(QStringLiteral("/nonexistent/gone.zbi"));
    window->SetCurrentImageFile(0);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "'/nonexistent/gone.zbi' no longer exists or isn't accessible.\n"
                             "Would you like to remove it from the list?");
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01 - (image file not available)"));
    window->SetCurrentImageFile(0);
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(window->lstRecentImages->count(), 1);

    // Yes removes it and goes on to the next entry, which opens.
    window->AddToRecentImages(m_image);
    window->AddToRecentImages(QStringLiteral("/nonexistent/also-gone.zbi"));
    m_answers = {mrYes};
    window->SetCurrentImageFile(0);
    EXPECT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(window->lstRecentImages->count(), 2);
    EXPECT_TRUE(window->store());
    EXPECT_EQ(window->currentImagePath(), m_image);
}

TEST_F(MainWindowTest, DeletingRowsOneAndThreeAsksOnceAndDeletesFromTheBottom)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 1), partitionOf("C", 1), partitionOf("D", 1)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    selectRows(*window, {0, 2});
    m_store.calls.clear();
    m_answers = {mrYes};
    window->itmPartitionDeleteClick();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], "Delete all selected partitions?");
    std::vector<std::string> deletes;
    for (size_t i = 1; i < m_store.calls.size(); ++i)
        if (m_store.calls[i] == "DeleteCurrentPartition")
            deletes.push_back(m_store.calls[i - 1]);
    EXPECT_EQ(deletes, (std::vector<std::string>{"SelectPartition(3)", "SelectPartition(1)"}));
    EXPECT_EQ(window->lstImage->count(), 2);
    EXPECT_EQ(window->lstImage->item(0)->text().left(2), QStringLiteral("B|"));

    // One row, answered No: nothing is deleted, the image is still reloaded.
    selectRows(*window, {1});
    m_store.calls.clear();
    window->itmPartitionDeleteClick();
    EXPECT_EQ(m_messages.back(), "Delete partition?");
    EXPECT_TRUE(m_store.callsStartingWith("DeleteCurrentPartition").empty());
    EXPECT_FALSE(m_store.callsStartingWith("GetPartitionCount").empty());
}

TEST_F(MainWindowTest, ADeletionTheStoreRefusesIsReportedAndTheOtherRowsStillGo)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 1), partitionOf("C", 1)};
    m_store.partitions[2].selectError = imbrex::rc::kImageDamaged;
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    selectRows(*window, {0, 2});
    m_answers = {mrYes, mrOk};
    window->itmPartitionDeleteClick();
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_NE(m_messages[1].find("Not every partition could be deleted"), std::string::npos);
    EXPECT_NE(m_messages[1].find("Error " + std::to_string(imbrex::rc::kImageDamaged)), std::string::npos);
    ASSERT_EQ(window->lstImage->count(), 2);
    EXPECT_EQ(window->lstImage->item(0)->text().left(2), QStringLiteral("B|"));
}

TEST_F(MainWindowTest, RenamingAPartitionKeepsItsRowSelectedAfterTheReload)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 1), partitionOf("C", 1)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    selectRows(*window, {1});
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<TfrmPartitionName *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->setNewText(QStringLiteral("Renamed"));
        dialog->done(mrOk);
    });
    window->itmPartitionNameClick();
    EXPECT_EQ(m_store.partitions[1].name, "Renamed");
    EXPECT_EQ(window->lstImage->currentRow(), 1);
    EXPECT_EQ(window->lstImage->selectedItems().size(), 1);
    EXPECT_TRUE(window->lstImage->item(1)->isSelected());
    EXPECT_EQ(window->lstImage->item(1)->text().left(8), QStringLiteral("Renamed|"));
}

TEST_F(MainWindowTest, CaptionsAreTranslatedWhenTheWindowIsCreated)
{
    imbrex::setTranslator([](std::string_view text) -> std::string {
        if (text == "&Image")
            return "&Imagen";
        if (text == "Name")
            return "Nombre";
        if (text == "Imbrex File Editor")
            return "Editor de archivos Imbrex";
        return std::string(text);
    });
    auto window = makeWindow();
    EXPECT_EQ(window->mnuImage->title(), QStringLiteral("&Imagen"));
    EXPECT_EQ(window->hdrMain->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nombre"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Editor de archivos Imbrex"));
    // Translating again starts from the English texts.
    imbrex::setTranslator({});
    window->retranslate();
    EXPECT_EQ(window->mnuImage->title(), QStringLiteral("&Image"));
}

TEST_F(MainWindowTest, NoImageLeavesOnlyTheAlwaysAvailableCommandsAndGreyFields)
{
    auto window = makeWindow();
    window->AddToRecentImages(QStringLiteral("/x/a.zbi"));
    window->UpdateMenus();
    for (QAction *on : {window->itmImageNew, window->itmImageOpen, window->itmImageExit, window->itmContents,
                        window->itmAbout, window->itmImageRemoveEntry, window->itmImageClearList,
                        window->itmRemoveEntry, window->itmClearList})
        EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    for (QAction *off :
         {window->itmImageClose, window->itmImageName, window->itmImageComment, window->itmImageSpan,
          window->itmImageCombine, window->itmPartitionName, window->itmPartitionComment,
          window->itmPartitionCopy, window->itmPartitionDelete, window->itmPartitionCompress,
          window->itmPartitionUncompress, window->itmPartitionFileRestore, window->itmPartitionProperties})
        EXPECT_FALSE(off->isEnabled()) << off->objectName().toStdString();
    const QColor grey = QApplication::palette().color(QPalette::Button);
    EXPECT_EQ(window->edtImageName->palette().color(QPalette::Base), grey);
    EXPECT_EQ(window->mmoImageComment->palette().color(QPalette::Base), grey);
    EXPECT_EQ(window->edtImageName->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowTest, ARecentListLoadedLongerThan64IsKeptUntilTheNextAddition)
{
    {
        QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
        for (const char *key :
             {"Left", "Top", "Width", "Height", "hdr0", "hdr1", "hdr2", "hdr3", "hdr4", "hdr5", "hdr6"})
            settings.setValue(QString::fromLatin1(key), 100);
        for (int i = 0; i < 70; ++i)
            settings.setValue(QStringLiteral("Recent/%1").arg(i), QStringLiteral("/x/%1.zbi").arg(i));
    }
    auto window = makeWindow();
    EXPECT_EQ(window->lstRecentImages->count(), 70);
    window->AddToRecentImages(QStringLiteral("/x/NEW.zbi"));
    EXPECT_EQ(window->lstRecentImages->count(), 64);
    EXPECT_EQ(window->lstRecentImages->item(0)->text(), QStringLiteral("/x/NEW.zbi"));
    EXPECT_EQ(window->lstRecentImages->item(63)->text(), QStringLiteral("/x/62.zbi"));
}

TEST_F(MainWindowTest, PartitionRowsAreDraggedOntoARecentImageOnly)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 1)};
    auto window = makeWindow();
    window->show(); // lays the lists out
    QApplication::processEvents();
    const QString other = imagePath("b.zbi");
    window->OpenImageFile(other);
    window->OpenImageFile(m_image); // the recent list: a.zbi, b.zbi
    EXPECT_TRUE(window->lstImage->dragEnabled());
    EXPECT_EQ(window->lstImage->dragDropMode(), QAbstractItemView::DragOnly);
    QListWidget *recent = window->lstRecentImages;
    const QRect first = recent->visualItemRect(recent->item(0));
    const QRect second = recent->visualItemRect(recent->item(1));
    ASSERT_FALSE(second.isEmpty());
    const QPoint belowTheRows(5, second.bottom() + 4);
    ASSERT_LT(belowTheRows.y(), recent->viewport()->height());

    // Over the list: only rows of lstImage are taken, and the row under the pointer becomes current.
    QLabel stranger;
    stranger.setObjectName(QStringLiteral("lblStranger"));
    EXPECT_FALSE(window->lstRecentImagesDragOver(&stranger, second.center()));
    EXPECT_FALSE(window->lstRecentImagesDragOver(nullptr, second.center()));
    EXPECT_EQ(recent->currentRow(), 0);
    EXPECT_TRUE(window->lstRecentImagesDragOver(window->lstImage, second.center()));
    EXPECT_EQ(recent->currentRow(), 1);
    EXPECT_TRUE(window->lstRecentImagesDragOver(window->lstImage, belowTheRows));
    EXPECT_EQ(recent->currentRow(), 1);
    EXPECT_TRUE(window->lstRecentImagesDragOver(window->lstImage, QPoint(5, first.top() + 1)));
    EXPECT_EQ(recent->currentRow(), 0);

    // At the top edge of a scrolled list the row above the pointer is taken.
    for (int i = 0; i < 10; ++i)
        window->AddToRecentImages(QStringLiteral("/x/%1.zbi").arg(i));
    recent->scrollToBottom();
    const int topRow = recent->indexAt(QPoint(5, 2)).row();
    ASSERT_GT(topRow, 0);
    EXPECT_TRUE(window->lstRecentImagesDragOver(window->lstImage, QPoint(5, 2)));
    EXPECT_EQ(recent->currentRow(), topRow - 1);
    recent->scrollToTop();
    window->OpenImageFile(m_image);

    // A drop on the open image's own entry is refused by the copy, and the open image is shown again.
    selectRows(*window, {0, 1});
    m_store.calls.clear();
    const QList<QListWidgetItem *> own = recent->findItems(m_image, Qt::MatchExactly);
    ASSERT_EQ(own.size(), 1);
    recent->scrollToItem(own[0]);
    window->lstRecentImagesDragDrop(recent->visualItemRect(own[0]).center());
    EXPECT_EQ(m_messages, (std::vector<std::string>{"You cannot copy a partition to its own image file."}));
    EXPECT_FALSE(m_store.callsStartingWith("GetPartitionCount").empty());
    EXPECT_EQ(window->currentImagePath(), m_image);
    EXPECT_EQ(recent->currentItem()->text(), m_image);
    m_messages.clear();
    window->lstRecentImagesDragDrop(QPoint(5, recent->viewport()->height() + 40));
    EXPECT_TRUE(m_messages.empty());

    // A drag that ended elsewhere shows the open image in the recent list again.
    recent->setCurrentRow(3);
    m_store.calls.clear();
    window->lstImageEndDrag();
    EXPECT_EQ(recent->currentItem()->text(), m_image);
    EXPECT_FALSE(m_store.callsStartingWith("GetPartitionCount").empty());
    m_store.calls.clear();
    window->lstImageEndDrag();
    EXPECT_TRUE(m_store.callsStartingWith("GetPartitionCount").empty());

    // Drags from outside the program (no source) are refused and insert nothing.
    const int entries = recent->count();
    QMimeData mime;
    mime.setText(QStringLiteral("/x/dropped.zbi"));
    QDragEnterEvent enter(second.center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(recent->viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(second.center()), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(recent->viewport(), &drop);
    EXPECT_FALSE(drop.isAccepted());
    EXPECT_EQ(recent->count(), entries);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, ChoosingALanguageRebuildsTheRowsTheStatusBarAndTheTitle)
{
    translate::InterfaceLanguage language;
    ASSERT_TRUE(language.open(IMBREX_APP_DIR "/translat.txt", IMBREX_APP_DIR "/language.txt").ok());
    imbrex::setTranslator(
        [&language](std::string_view text) { return language.dictionary().translateText(text); });
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 2, 301)};
    m_store.partitions[1].kind = 1;
    MainWindowOptions options;
    options.exports.open = [this](const char *, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *,
                                  uint32_t *error) -> ImageStore * {
        *error = 0;
        return &m_store;
    };
    options.language = &language;
    TfrmMain window(options);
    window.OpenImageFile(m_image);
    auto field = [&](int row, int k) {
        return imbrex::store::GetRowField(window.lstImage->item(row)->text().toStdString(), k);
    };
    ASSERT_EQ(field(0, 4), "Primary");
    selectRows(window, {1});

    answerDialog<TIvLanguageSelectDialog>([](TIvLanguageSelectDialog *dialog) {
        dialog->findChild<QListWidget *>()->setCurrentRow(1); // Español
        dialog->done(mrOk);
    });
    window.itmLanguageClick();
    EXPECT_EQ(field(0, 4), "Primaria");
    EXPECT_EQ(field(0, 7), "Ninguna");
    EXPECT_EQ(field(1, 4), "Lógica");
    EXPECT_EQ(field(1, 1), "B"); // names stay as stored
    EXPECT_EQ(window.barPanels[0]->text(), QStringLiteral("Total 2 particiones"));
    EXPECT_EQ(window.lstImage->currentRow(), 0); // and the selection starts again at the first row
    EXPECT_EQ(window.lstImage->selectedItems().size(), 1);

    // A title about an unavailable image follows the language too.
    window.AddToRecentImages(QStringLiteral("/nonexistent/gone.zbi"));
    window.SetCurrentImageFile(0);
    const QString spanish = window.windowTitle();
    EXPECT_TRUE(spanish.contains(QStringLiteral("no disponible"))) << spanish.toStdString();
    answerDialog<TIvLanguageSelectDialog>([](TIvLanguageSelectDialog *dialog) {
        dialog->findChild<QListWidget *>()->setCurrentRow(0);
        dialog->done(mrOk);
    });
    window.itmLanguageClick();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Imbrex File Editor 3.01 - (image file not available)"));
}

TEST_F(MainWindowTest, AnImageRemovedWhileOpenIsReportedWhenShownAgainAndNotMadeAnew)
{
    const QString path = makeLibraryImage("real.zbi", 3);
    auto window = makeLibraryWindow();
    window->OpenImageFile(path);
    ASSERT_TRUE(window->store());
    ASSERT_EQ(window->lstImage->count(), 3);
    ASSERT_TRUE(std::filesystem::remove(path.toStdString()));

    // Properties show what the open image holds.
    selectRows(*window, {1});
    answerDialog<TfrmProperties>([](TfrmProperties *dialog) {
        EXPECT_EQ(dialog->findChild<QLabel *>(QStringLiteral("lblName"))->text(), QStringLiteral("P2"));
        dialog->done(mrOk);
    });
    window->itmPartitionPropertiesClick();
    EXPECT_TRUE(m_messages.empty());

    // The rename has nowhere to go; showing the image again says so instead of making an empty image there.
    answerDialog<TfrmPartitionName>([](TfrmPartitionName *dialog) {
        dialog->setNewText(QStringLiteral("Renamed"));
        dialog->done(mrOk);
    });
    window->itmPartitionNameClick();
    EXPECT_EQ(firstLines(m_messages), std::vector<std::string>{openFailure(path)});
    EXPECT_FALSE(std::filesystem::exists(path.toStdString()));
    EXPECT_FALSE(window->store());
    EXPECT_EQ(window->lstImage->count(), 0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01"));
    EXPECT_FALSE(window->itmPartitionDelete->isEnabled());
    EXPECT_EQ(window->lstRecentImages->item(0)->text(), path);

    // With nothing open, Delete asks nothing.
    m_messages.clear();
    window->itmPartitionDeleteClick();
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, AnImageDamagedWhileOpenIsReportedByTheNextReload)
{
    for (const bool truncate : {false, true}) {
        SCOPED_TRACE(truncate ? "truncated" : "overwritten");
        const QString path = makeLibraryImage(truncate ? "short.zbi" : "garbled.zbi", 4);
        auto window = makeLibraryWindow();
        window->OpenImageFile(path);
        ASSERT_EQ(window->lstImage->count(), 4);
        const std::string file = path.toStdString();
        if (truncate) {
            std::filesystem::resize_file(file, 100);
        } else {
            const auto size = static_cast<size_t>(std::filesystem::file_size(file));
            std::fstream(file, std::ios::binary | std::ios::in | std::ios::out) << std::string(size, 'Z');
        }
        m_messages.clear();

        // Cancelled edits and a declined delete still show the image again, which fails in its words.
        selectRows(*window, {0});
        answerDialog<TfrmPartitionComment>([](TfrmPartitionComment *dialog) { dialog->done(mrCancel); });
        window->itmPartitionCommentClick();
        EXPECT_EQ(firstLines(m_messages), std::vector<std::string>{openFailure(path)});
        EXPECT_FALSE(window->store());
        EXPECT_EQ(window->lstImage->count(), 0);

        // Opened again from the recent list: the same message, and no commands on it.
        m_messages.clear();
        window->SetCurrentImageFile(0);
        EXPECT_EQ(firstLines(m_messages), std::vector<std::string>{openFailure(path)});
        EXPECT_FALSE(window->itmPartitionDelete->isEnabled());
        EXPECT_FALSE(window->itmImageName->isEnabled());
    }
}

TEST_F(MainWindowTest, AnImageThatCannotBeOpenedSaysWhyStaysListedAndF5TriesAgain)
{
    m_openError = imbrex::rc::kImageDamaged;
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], openFailure(m_image) +
                                 "\nError 1901: the image file's catalog is damaged (checksum mismatch).");
    EXPECT_FALSE(window->store());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01"));
    // The entry stays current, so that Remove Entry can take it away.
    ASSERT_EQ(window->lstRecentImages->count(), 1);
    EXPECT_EQ(window->lstRecentImages->currentRow(), 0);
    EXPECT_TRUE(window->itmImageRemoveEntry->isEnabled());

    // Once the file is sound again, F5 opens it.
    m_openError = 0;
    m_messages.clear();
    window->actReopen->trigger();
    EXPECT_TRUE(window->store());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01 - a.zbi"));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, CloseClearsTheTitleAndTheRecentHighlightAndF5ThenOpensNothing)
{
    m_store.partitions = {partitionOf("A", 1)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_TRUE(window->store());
    ASSERT_EQ(window->lstRecentImages->currentRow(), 0);
    window->itmImageClose->trigger();
    EXPECT_FALSE(window->store());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01"));
    EXPECT_EQ(window->lstRecentImages->currentRow(), -1);
    EXPECT_TRUE(window->lstRecentImages->selectedItems().isEmpty());
    EXPECT_EQ(window->lstRecentImages->count(), 1);
    window->actReopen->trigger();
    EXPECT_FALSE(window->store());

    // An unavailable entry that the person keeps stays current under its own title.
    window->AddToRecentImages(QStringLiteral("/nonexistent/gone.zbi"));
    window->SetCurrentImageFile(0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Imbrex File Editor 3.01 - (image file not available)"));
    EXPECT_EQ(window->lstRecentImages->currentRow(), 0);
}

TEST_F(MainWindowTest, KeysReachTheirCommandsAndDeleteActsOnlyInThePartitionsList)
{
    m_store.partitions = {partitionOf("A", 1), partitionOf("B", 2)};
    std::vector<FileDialogKind> asked;
    MainWindowOptions options;
    options.exports.open = [this](const char *, uint32_t, uint32_t, IMGSTORE_UI_CALLBACK *,
                                  uint32_t *error) -> ImageStore * {
        *error = 0;
        return &m_store;
    };
    options.askFileName = [&asked](FileDialogKind kind, const QString &, const QString &) {
        asked.push_back(kind);
        return QString();
    };
    TfrmMain window(options);
    window.OpenImageFile(m_image);
    ASSERT_TRUE(showActive(window));

    // The menus show the keys.
    EXPECT_EQ(window.itmImageNew->shortcut(), QKeySequence(QKeySequence::New));
    EXPECT_EQ(window.itmImageExit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(window.itmContents->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(window.itmPartitionName->shortcut(), QKeySequence(Qt::Key_F2));

    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(asked, (std::vector<FileDialogKind>{FileDialogKind::OpenImage, FileDialogKind::NewImage}));

    // Delete in the recent list or the name field deletes no partition.
    window.lstRecentImages->setFocus();
    QTest::keyClick(window.lstRecentImages, Qt::Key_Delete);
    window.edtImageName->setFocus();
    QTest::keyClick(window.edtImageName, Qt::Key_Delete);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(window.lstImage->count(), 2);

    // In the partitions list it asks, and a No keeps the partition.
    window.lstImage->setFocus();
    selectRows(window, {1});
    QTest::keyClick(window.lstImage, Qt::Key_Delete);
    EXPECT_EQ(m_messages, std::vector<std::string>{"Delete partition?"});
    EXPECT_EQ(m_store.count("DeleteCurrentPartition"), 0u);

    // Alt+Enter there shows Properties.
    bool shown = false;
    answerDialog<TfrmProperties>([&shown](TfrmProperties *dialog) {
        shown = true;
        dialog->done(mrOk);
    });
    QTest::keyClick(window.lstImage, Qt::Key_Return, Qt::AltModifier);
    EXPECT_TRUE(shown);

    // Ctrl+Q closes the window.
    ASSERT_TRUE(showActive(window));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, OutsideDropsOnTheNameAndCommentNeverWriteTheImageButAnImageFileOpens)
{
    m_store.partitions = {partitionOf("A", 1)};
    m_store.imageComment = "kept";
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_TRUE(window->store());
    const size_t writes = m_store.count("SetImageComment") + m_store.count("SetImageName");

    const std::string other = m_dir.file("notes.txt");
    std::ofstream(other) << "notes";
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QString::fromStdString(other))});
    QMimeData text;
    text.setText(QStringLiteral("dropped words"));
    for (QWidget *target : {static_cast<QWidget *>(window->mmoImageComment->viewport()),
                            static_cast<QWidget *>(window->edtImageName)}) {
        for (QMimeData *mime : {&file, &text}) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            EXPECT_FALSE(enter.isAccepted());
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            EXPECT_FALSE(drop.isAccepted());
        }
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(window->mmoImageComment->toPlainText(), QStringLiteral("kept"));
    EXPECT_TRUE(window->edtImageName->text().isEmpty());
    EXPECT_EQ(m_store.count("SetImageComment") + m_store.count("SetImageName"), writes);

    // An image file dropped on the comment is opened instead.
    const QString second = imagePath("b.zbi");
    QMimeData image;
    image.setUrls({QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->mmoImageComment->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->mmoImageComment->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->currentImagePath(), second);
    EXPECT_EQ(window->mmoImageComment->toPlainText(), QStringLiteral("kept"));
}

TEST_F(MainWindowTest, ACellCutOffByItsColumnShowsItsWholeTextAsATooltip)
{
    const std::string longName = "A partition name far wider than its column";
    m_store.partitions = {partitionOf(longName, 1)};
    auto window = makeWindow();
    window->OpenImageFile(m_image);
    ASSERT_TRUE(showActive(*window));
    QWidget *viewport = window->lstImage->viewport();
    const QRect row = window->lstImage->visualItemRect(window->lstImage->item(0));
    auto tipAt = [&](int section) {
        const QPoint pos(window->hdrMain->sectionViewportPosition(section) + 10, row.center().y());
        QHelpEvent help(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    // A tooltip hides only after a delay, so the cells that fit are asked about before one is shown.
    EXPECT_EQ(tipAt(1), QString()); // "C:" fits
    window->hdrMain->resizeSection(0, 600);
    EXPECT_EQ(tipAt(0), QString()); // widened until the name fits
    window->hdrMain->resizeSection(0, 100);
    EXPECT_EQ(tipAt(0), QString::fromStdString(longName));
}

TEST_F(MainWindowTest, TheTextDialogsAreWideEnoughForTheirTranslatedTitles)
{
    const std::string title = "Cambiar el comentario de la partición seleccionada de la imagen";
    imbrex::setTranslator([&title](std::string_view text) {
        return text == "Change Partition Comment" ? title : std::string(text);
    });
    TfrmMain owner;
    TfrmPartitionComment dialog(&owner, QStringLiteral("old"));
    dialog.layout()->activate();
    EXPECT_EQ(dialog.windowTitle().toStdString(), title);
    const QFontMetrics metrics(QFontDatabase::systemFont(QFontDatabase::TitleFont));
    EXPECT_GT(dialog.width(), metrics.horizontalAdvance(dialog.windowTitle()) + 100);
    TfrmImageName name(&owner, QStringLiteral("old"));
    name.layout()->activate();
    EXPECT_GE(name.width(), 340);
}

TEST_F(MainWindowTest, TheChosenLanguageIsTheOneOfTheNextStart)
{
    {
        translate::InterfaceLanguage language;
        ASSERT_TRUE(language.open(IMBREX_APP_DIR "/translat.txt", IMBREX_APP_DIR "/language.txt").ok());
        imbrex::setTranslator(
            [&language](std::string_view text) { return language.dictionary().translateText(text); });
        auto window = makeLibraryWindow(&language);
        answerDialog<TIvLanguageSelectDialog>([](TIvLanguageSelectDialog *dialog) {
            dialog->findChild<QListWidget *>()->setCurrentRow(1); // Español
            dialog->done(mrOk);
        });
        window->itmLanguageClick();
        window->close();
        imbrex::setTranslator({});
    }
    translate::InterfaceLanguage language;
    ASSERT_TRUE(language.open(IMBREX_APP_DIR "/translat.txt", IMBREX_APP_DIR "/language.txt").ok());
    imbrex::setTranslator(
        [&language](std::string_view text) { return language.dictionary().translateText(text); });
    auto window = makeLibraryWindow(&language);
    EXPECT_EQ(language.currentLocale(), 0x0C0Au);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Editor de archivos Imbrex"));
}

TEST_F(MainWindowTest, HelpOpensInsideTheProgramWhenNoBrowserStartsAndF1ShowsIt)
{
    std::ofstream(m_dir.file("Fenlow.html")) << "<html><body><h1>Help heading</h1></body></html>";
    std::vector<QUrl> handed;
    bool browserStarts = true;
    MainWindowOptions options;
    options.programDir = QString::fromStdString(m_dir.path().string());
    options.openUrl = [&](const QUrl &url) {
        handed.push_back(url);
        return browserStarts;
    };
    TfrmMain window(options);
    window.itmContentsClick();
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0].toLocalFile().toStdString(), m_dir.file("Fenlow.html"));
    EXPECT_TRUE(window.helpWindow.isNull());

    // Without a browser F1 shows the help in the program's own window, once however often it is pressed.
    browserStarts = false;
    ASSERT_TRUE(showActive(window));
    QTest::keyClick(&window, Qt::Key_F1);
    ASSERT_FALSE(window.helpWindow.isNull());
    EXPECT_TRUE(window.helpWindow->isVisible());
    auto *browser = window.helpWindow->findChild<QTextBrowser *>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Help heading")));
    QDialog *first = window.helpWindow;
    window.itmContentsClick();
    EXPECT_EQ(window.helpWindow.data(), first);
    EXPECT_EQ(handed.size(), 3u);
    EXPECT_TRUE(m_messages.empty());
}

TEST(ProgramFilesTest, DataFilesAreFoundBesideTheProgramOrUnderTheInstalledShareFolder)
{
    imbrex::test::TempDir dir;
    const std::filesystem::path bin = dir.path() / "bin";
    const std::filesystem::path share = dir.path() / "share/imbrex-file-editor";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(share);
    const QString program = QString::fromStdString(bin.string());
    // Neither place holds the files: the program's own folder, where their absence is then reported.
    EXPECT_EQ(dataDirectory(program), program);
    std::ofstream(share / "translat.txt") << "x";
    EXPECT_EQ(dataDirectory(program), QString::fromStdString(share.string()));
    // A build tree has them beside the program, which wins.
    std::ofstream(bin / "translat.txt") << "x";
    EXPECT_EQ(dataDirectory(program), program);
}

TEST_F(MainWindowTest, AWindowSavedLeftOfOrAboveTheScreenIsRestoredOnIt)
{
    {
        QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
        settings.setValue(QStringLiteral("Left"), -3000);
        settings.setValue(QStringLiteral("Top"), -40);
        settings.setValue(QStringLiteral("Width"), 700);
        settings.setValue(QStringLiteral("Height"), 500);
        for (int k = 0; k < 7; ++k)
            settings.setValue(QStringLiteral("hdr%1").arg(k), 80);
    }
    auto window = makeWindow();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window->size(), QSize(700, 500));
    EXPECT_EQ(window->pos(), screen.topLeft());
}

} // namespace

TEST_F(MainWindowTest, AnImageShowingAnOlderStateIsReportedAndKeptUnchanged)
{
    const std::string path = m_dir.file("damaged.zbi");
    ASSERT_TRUE(imbrex::test::makeSingleSlotImage(path));
    imbrex::test::spoilByte(path, imbrex::zbi::kSuperblockOffset[0] + 30); // the newest state's slot
    auto slurp = [&path] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = slurp();
    auto window = makeLibraryWindow();
    window->OpenImageFile(QString::fromStdString(path));
    ASSERT_TRUE(window->store());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_NE(m_messages[0].find("is damaged: its newest state (2) cannot be read"), std::string::npos);
    EXPECT_NE(m_messages[0].find("Changes to this image are refused."), std::string::npos);
    window->edtImageName->setText(QStringLiteral("edited"));
    emit window->edtImageName->textEdited(QStringLiteral("edited")); // as typing does
    EXPECT_TRUE(slurp() == before);
}
