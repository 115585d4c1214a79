// Copy, Compress, Uncompress, Span and Combine run from the main window over real image files, with the
// options, password and progress windows answered by a script while they are open.
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDropEvent>
#include <QtWidgets/QApplication>

#include "store/CopyPartitions.h"
#include "tests/support/ImageBuilder.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"
#include "ui/TfrmCopyOptions.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmPassword.h"

namespace store = imbrex::store;
using namespace imbrex::ui;
using imbrex::test::PartitionSpec;

namespace {

// Answers the windows of a run as they open: the options dialog, password dialogs and the progress window
// are looked for every time the program lets events through (a timer of interval 0 is due at each pass).
class WindowScript
{
public:
    std::function<void(TfrmCopyOptions *)> options = [](TfrmCopyOptions *d) { d->btnOk->click(); };
    std::function<void(TfrmPassword *)> password;
    // Called at each look while a progress window is shown.
    std::function<void(QWidget *)> progress;
    int optionsShown = 0;
    int passwordsAsked = 0;

    WindowScript()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { look(); });
        m_timer.start();
    }

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible() && !modal->property("scripted").toBool()) {
            if (auto *d = qobject_cast<TfrmCopyOptions *>(modal)) {
                modal->setProperty("scripted", true);
                ++optionsShown;
                options(d);
                return;
            }
            if (auto *d = qobject_cast<TfrmPassword *>(modal)) {
                modal->setProperty("scripted", true);
                ++passwordsAsked;
                if (password)
                    password(d);
                else
                    d->reject();
                return;
            }
        }
        if (!progress)
            return;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("TfrmProgress") && w->isVisible())
                progress(w);
    }

    QTimer m_timer;
};

void typePassword(TfrmPassword *dialog, const QString &text)
{
    dialog->edtPassword()->setText(text);
    dialog->findChild<QPushButton *>(QStringLiteral("btnOK"))->click();
}

class CopyWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const QString settings = QString::fromStdString(m_dir.path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
        setMessageBoxHandler([this](const MessageBoxRequest &request) {
            m_messages.push_back(request.text);
            if (request.buttons == MessageButtons::YesNo)
                return m_answerYes ? mrYes : mrNo;
            return mrOk;
        });
    }
    void TearDown() override { setMessageBoxHandler({}); }

    std::string file(const std::string &name) { return m_dir.file(name); }

    QString makeImage(const std::string &name, std::vector<PartitionSpec> specs)
    {
        const std::string path = file(name);
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreCreateNew(path.c_str(), kNoSplit, 0, 0, nullptr, &error));
        EXPECT_TRUE(image) << error;
        for (const PartitionSpec &spec : specs)
            EXPECT_EQ(imbrex::test::addPartition(*image, spec), 0);
        if (image) {
            EXPECT_EQ(image->Close(), 0);
        }
        return QString::fromStdString(path);
    }

    static PartitionSpec spec(const std::string &name, uint32_t seed, uint32_t sectors = 64)
    {
        PartitionSpec s;
        s.name = name;
        s.seed = seed;
        s.sectorCount = sectors;
        return s;
    }

    // The main window over the library, with the file dialogs answered by m_nextFile.
    std::unique_ptr<TfrmMain> makeWindow()
    {
        MainWindowOptions options;
        options.programDir = QString::fromStdString(m_dir.path().string());
        options.askFileName = [this](FileDialogKind kind, const QString &title, const QString &) {
            m_fileDialogs.push_back({kind, title});
            return m_nextFile;
        };
        return std::make_unique<TfrmMain>(options);
    }

    static void selectRows(TfrmMain &window, std::initializer_list<int> rows)
    {
        window.lstImage->clearSelection();
        for (int row : rows)
            window.lstImage->item(row)->setSelected(true);
        window.UpdateMenus();
    }

    static std::vector<uint8_t> streamOf(const QString &path, uint32_t number)
    {
        uint32_t error = 0;
        ImageStorePtr image(ImageStoreOpenReadOnly(path.toStdString().c_str(), nullptr, &error));
        std::vector<uint8_t> data;
        EXPECT_TRUE(image) << error;
        if (image) {
            EXPECT_EQ(imbrex::test::readStream(*image, number, &data), 0);
        }
        return data;
    }

    static QString rowName(TfrmMain &window, int row)
    {
        return window.lstImage->item(row)->text().section(QLatin1Char('|'), 0, 0);
    }

    imbrex::test::TempDir m_dir;
    std::vector<std::string> m_messages;
    bool m_answerYes = false;
    QString m_nextFile;
    std::vector<std::pair<FileDialogKind, QString>> m_fileDialogs;
};

TEST_F(CopyWindowTest, CopyOfTwoRowsMakesANewImageAndShowsIt)
{
    const QString source = makeImage("source.zbi", {spec("P1", 1), spec("P2", 2), spec("P3", 3)});
    const QString target = QString::fromStdString(file("target.zbi"));
    auto window = makeWindow();
    window->OpenImageFile(source);
    selectRows(*window, {0, 2});
    m_nextFile = target;
    WindowScript script;
    store::CopyOptionsState seen;
    script.options = [&](TfrmCopyOptions *dialog) {
        seen = dialog->state();
        dialog->btnOk->click();
    };
    window->btnCopy->click();

    ASSERT_EQ(m_fileDialogs.size(), 1u);
    EXPECT_EQ(m_fileDialogs[0].first, FileDialogKind::CopyTarget);
    EXPECT_EQ(m_fileDialogs[0].second, QStringLiteral("Copy to Image File"));
    EXPECT_EQ(script.optionsShown, 1);
    EXPECT_EQ(seen.partitionLabel, "Selected Partitions");
    EXPECT_EQ(seen.targetPath, target.toStdString());
    EXPECT_EQ(seen.compression, store::CompressionChoice::NoChange);
    EXPECT_EQ(seen.password, store::PasswordChoice::Same);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(window->currentImagePath(), target);
    ASSERT_EQ(window->lstImage->count(), 2);
    EXPECT_EQ(rowName(*window, 0), QStringLiteral("P1"));
    EXPECT_EQ(rowName(*window, 1), QStringLiteral("P3"));
    EXPECT_EQ(streamOf(target, 2), streamOf(source, 3));
    EXPECT_TRUE(window->isEnabled()); // the progress window gave the main window back
}

TEST_F(CopyWindowTest, CompressLowThenUncompressGivesTheSourceBack)
{
    PartitionSpec text = spec("TEXT", 7, 4096);
    text.compressible = true;
    const QString source = makeImage("source.zbi", {text});
    const QString low = QString::fromStdString(file("low.zbi"));
    const QString plain = QString::fromStdString(file("plain.zbi"));
    auto window = makeWindow();
    window->OpenImageFile(source);
    ASSERT_TRUE(window->itmPartitionCompress->isEnabled());
    WindowScript script;
    store::CompressionChoice offered = store::CompressionChoice::NoChange;
    script.options = [&](TfrmCopyOptions *dialog) {
        offered = dialog->state().compression;
        dialog->btnOk->click();
    };

    m_nextFile = low;
    window->itmPartitionCompress->trigger();
    EXPECT_EQ(offered, store::CompressionChoice::Low);
    ASSERT_EQ(window->currentImagePath(), low);
    EXPECT_TRUE(window->lstImage->item(0)->text().endsWith(QStringLiteral("|Low|")))
        << window->lstImage->item(0)->text().toStdString();
    ASSERT_TRUE(window->itmPartitionUncompress->isEnabled());

    m_nextFile = plain;
    window->itmPartitionUncompress->trigger();
    EXPECT_EQ(offered, store::CompressionChoice::None);
    ASSERT_EQ(window->currentImagePath(), plain);
    EXPECT_TRUE(window->itmPartitionCompress->isEnabled());
    EXPECT_EQ(m_fileDialogs.back().second, QStringLiteral("Uncompress to Image File"));
    EXPECT_EQ(streamOf(plain, 1), streamOf(source, 1));
    EXPECT_LT(std::filesystem::file_size(low.toStdString()), std::filesystem::file_size(plain.toStdString()));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(CopyWindowTest, SpanAtTheSmallestSizeThenCombineGivesTheSourceBack)
{
    // About 24 MB of bytes that do not compress: three files of at most 10,000,000 bytes.
    const QString source = makeImage("source.zbi", {spec("BIG", 3, 48000), spec("SMALL", 4)});
    const QString spanned = QString::fromStdString(file("spanned.zbi"));
    const QString combined = QString::fromStdString(file("combined.zbi"));
    auto window = makeWindow();
    window->OpenImageFile(source);
    selectRows(*window, {1});
    ASSERT_TRUE(window->itmImageSpan->isEnabled());
    ASSERT_FALSE(window->itmImageCombine->isEnabled());
    WindowScript script;
    std::string label;
    script.options = [&](TfrmCopyOptions *dialog) {
        label = dialog->state().partitionLabel;
        dialog->chkSplitImage->click();
        dialog->edtFileSize->setText(QString::fromStdString(store::ShowFileSize(10'000'000)));
        dialog->btnOk->click();
    };
    // A second file left by another set is replaced only after the store asked through the window.
    {
        std::ofstream(file("spanned.002")) << "stale";
    }
    m_answerYes = true;
    m_nextFile = spanned;
    window->itmImageSpan->trigger();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0],
              "File " + file("spanned.002") +
                  " already exists.\n\nDo you want to replace it?\n\nWARNING: Existing data in file "
                  "will be lost.");
    m_messages.clear();
    EXPECT_EQ(label, "All Partitions"); // Span takes every row, whatever was selected
    ASSERT_EQ(window->currentImagePath(), spanned);
    EXPECT_TRUE(std::filesystem::exists(file("spanned.002")));
    EXPECT_TRUE(std::filesystem::exists(file("spanned.003")));
    EXPECT_LE(std::filesystem::file_size(file("spanned.002")), 10'000'000u);
    EXPECT_FALSE(window->itmImageSpan->isEnabled());
    ASSERT_TRUE(window->itmImageCombine->isEnabled());

    script.options = [](TfrmCopyOptions *dialog) { dialog->btnOk->click(); };
    m_nextFile = combined;
    window->itmCombine->trigger();
    EXPECT_EQ(m_fileDialogs.back().second, QStringLiteral("Combine spanned image"));
    ASSERT_EQ(window->currentImagePath(), combined);
    EXPECT_FALSE(std::filesystem::exists(file("combined.002")));
    EXPECT_TRUE(window->itmImageSpan->isEnabled());
    ASSERT_EQ(window->lstImage->count(), 2);
    EXPECT_EQ(streamOf(combined, 1), streamOf(source, 1));
    EXPECT_EQ(streamOf(combined, 2), streamOf(source, 2));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(CopyWindowTest, AProtectedSourceIsAskedOnceForTwoPartitionsUntilTheRightPassword)
{
    PartitionSpec first = spec("LOCKED1", 5), second = spec("LOCKED2", 6);
    first.password = second.password = "secret";
    const QString source = makeImage("source.zbi", {first, second});
    const QString target = QString::fromStdString(file("open.zbi"));
    auto window = makeWindow();
    window->OpenImageFile(source);
    selectRows(*window, {0, 1});
    WindowScript script;
    script.options = [](TfrmCopyOptions *dialog) {
        dialog->rdbNoPassword->click();
        dialog->btnOk->click();
    };
    std::vector<QString> askedFor;
    script.password = [&](TfrmPassword *dialog) {
        askedFor.push_back(dialog->findChild<QLabel *>(QStringLiteral("lblPartitionName"))->text());
        typePassword(dialog, askedFor.size() == 1 ? QStringLiteral("wrong") : QStringLiteral("secret"));
    };
    m_nextFile = target;
    window->itmPartitionCopy->trigger();

    EXPECT_EQ(askedFor, (std::vector<QString>{QStringLiteral("LOCKED1"), QStringLiteral("LOCKED1")}));
    EXPECT_EQ(m_messages, (std::vector<std::string>{"Password entered is not valid for this partition."}));
    ASSERT_EQ(window->currentImagePath(), target);
    uint32_t error = 0;
    ImageStorePtr copied(ImageStoreOpenReadOnly(target.toStdString().c_str(), nullptr, &error));
    ASSERT_TRUE(copied);
    for (uint32_t number : {1u, 2u}) {
        uint32_t value = 1;
        ASSERT_EQ(copied->SelectPartition(number, 0), 0);
        EXPECT_EQ(copied->GetPartitionPassword(&value), 0);
        EXPECT_EQ(value, 0u);
        (void)copied->ReleasePartition(1);
    }
}

TEST_F(CopyWindowTest, CancelDuringTheSecondPartitionRemovesTheNewTargetAndKeepsTheSource)
{
    const QString source = makeImage("source.zbi", {spec("P1", 1), spec("P2", 2, 8192), spec("P3", 3)});
    const QString target = QString::fromStdString(file("cancelled.zbi"));
    auto window = makeWindow();
    window->OpenImageFile(source);
    selectRows(*window, {0, 1, 2});
    WindowScript script;
    std::vector<QString> actions;
    script.progress = [&](QWidget *progress) {
        const QString action = progress->findChild<QLabel *>(QStringLiteral("lblAction"))->text();
        if (actions.empty() || actions.back() != action)
            actions.push_back(action);
        EXPECT_FALSE(window->isEnabled());
        QCloseEvent close; // the window manager's close box while the copy runs
        QApplication::sendEvent(window.get(), &close);
        EXPECT_FALSE(close.isAccepted());
        if (action.contains(QStringLiteral("P2")))
            progress->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
    };
    m_nextFile = target;
    window->itmPartitionCopy->trigger();

    EXPECT_EQ(actions.back(), QStringLiteral("Copying partition P2 ..."));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_FALSE(std::filesystem::exists(target.toStdString()));
    EXPECT_EQ(window->currentImagePath(), source);
    EXPECT_EQ(window->lstImage->count(), 3);
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->objectName() == QLatin1String("TfrmProgress") && w->isVisible());
}

TEST_F(CopyWindowTest, ARowDroppedOnARecentImageIsAppendedThere)
{
    const QString source = makeImage("source.zbi", {spec("P1", 1), spec("P2", 2)});
    const QString existing = makeImage("existing.zbi", {spec("OLD", 9)});
    auto window = makeWindow();
    window->show();
    QApplication::processEvents();
    window->OpenImageFile(existing);
    window->OpenImageFile(source); // the recent list: source, existing
    QListWidget *recent = window->lstRecentImages;
    ASSERT_EQ(recent->item(1)->text(), existing);
    selectRows(*window, {1});
    WindowScript script;
    window->lstRecentImagesDragDrop(recent->visualItemRect(recent->item(1)).center());

    EXPECT_EQ(script.optionsShown, 1);
    EXPECT_TRUE(m_messages.empty());
    ASSERT_EQ(window->currentImagePath(), existing);
    EXPECT_EQ(recent->currentItem()->text(), existing);
    ASSERT_EQ(window->lstImage->count(), 2);
    EXPECT_EQ(rowName(*window, 0), QStringLiteral("OLD"));
    EXPECT_EQ(rowName(*window, 1), QStringLiteral("P2"));
    EXPECT_EQ(streamOf(existing, 2), streamOf(source, 2));
}

TEST_F(CopyWindowTest, AZbiFileDroppedFromAFileManagerIsOpened)
{
    const QString first = makeImage("first.zbi", {spec("ONE", 1)});
    const QString second = makeImage("second.zbi", {spec("TWO", 2)});
    const std::string note = file("note.txt");
    {
        std::ofstream(note) << "text";
    }
    auto window = makeWindow();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(note)), QUrl::fromLocalFile(first),
                  QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    QApplication::processEvents();
    EXPECT_EQ(window->currentImagePath(), first);
    ASSERT_EQ(window->lstImage->count(), 1);
    EXPECT_EQ(rowName(*window, 0), QStringLiteral("ONE"));

    // Dropped on the image's name, an image is opened rather than pasted in as its new name.
    QMimeData onName;
    onName.setUrls({QUrl::fromLocalFile(second)});
    onName.setText(second); // file managers offer the path as text too
    QDragEnterEvent enterName(QPoint(5, 5), Qt::CopyAction, &onName, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->edtImageName, &enterName);
    QDropEvent dropName(QPointF(5, 5), Qt::CopyAction, &onName, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->edtImageName, &dropName);
    QApplication::processEvents();
    EXPECT_EQ(window->currentImagePath(), second);
    ASSERT_EQ(window->lstImage->count(), 1);
    EXPECT_EQ(rowName(*window, 0), QStringLiteral("TWO"));
    uint32_t error = 0;
    ImageStorePtr firstImage(ImageStoreOpenReadOnly(first.toStdString().c_str(), nullptr, &error));
    ASSERT_TRUE(firstImage);
    char name[100] = {};
    ASSERT_EQ(firstImage->GetImageName(name, sizeof name), 0);
    EXPECT_STREQ(name, "");

    // Files that are no images are refused.
    QMimeData other;
    other.setUrls({QUrl::fromLocalFile(QString::fromStdString(note))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

class CopyOptionsDialogTest : public CopyWindowTest
{
protected:
    static store::CopyOptionsState defaults()
    {
        store::CopyOptionsState state;
        state.partitionLabel = "DATA";
        state.targetPath = "/images/target.zbi";
        state.fileSizeText = store::ShowFileSize(0);
        return state;
    }
};

TEST_F(CopyOptionsDialogTest, SplitSizeOutsideTheRangeIsRefusedAndTheDialogStaysOpen)
{
    TfrmCopyOptions dialog(nullptr, defaults());
    dialog.show();
    EXPECT_FALSE(dialog.edtFileSize->isEnabled());
    EXPECT_EQ(dialog.edtFileSize->text().toStdString(), store::ShowFileSize(670'000'000));
    dialog.chkSplitImage->click();
    EXPECT_TRUE(dialog.edtFileSize->isEnabled());
    const std::string bounds = "Value must be between " + store::ShowFileSize(10'000'000) + " and " +
                               store::ShowFileSize(2'147'483'647) + " bytes.";

    dialog.edtFileSize->setText(QStringLiteral("abc"));
    dialog.btnOk->click();
    EXPECT_EQ(m_messages, (std::vector<std::string>{"Invalid File Size 'abc'.  " + bounds}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.edtFileSize->text(), QStringLiteral("abc"));

    dialog.edtFileSize->setText(QStringLiteral("9999999"));
    dialog.btnOk->click();
    EXPECT_EQ(m_messages.back(), "Invalid File Size '9999999'.  " + bounds);
    EXPECT_EQ(dialog.edtFileSize->text().toStdString(), store::ShowFileSize(10'000'000));
    EXPECT_TRUE(dialog.isVisible());

    m_messages.clear();
    dialog.edtFileSize->setText(QStringLiteral("-1"));
    dialog.btnOk->click();
    EXPECT_EQ(m_messages, (std::vector<std::string>{"Invalid File Size '-1'.  " + bounds}));
    EXPECT_EQ(dialog.edtFileSize->text().toStdString(), store::ShowFileSize(2'147'483'647));
    EXPECT_TRUE(dialog.isVisible());

    // The corrected size is taken as it stands.
    m_messages.clear();
    dialog.btnOk->click();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), mrOk);
    EXPECT_TRUE(dialog.state().splitImage);
}

TEST_F(CopyOptionsDialogTest, NewPasswordFieldsAreMaskedEnabledByTheirChoiceAndChecked)
{
    TfrmCopyOptions dialog(nullptr, defaults());
    dialog.show();
    EXPECT_TRUE(dialog.rdbNoPassword->isChecked());
    EXPECT_FALSE(dialog.edtPassword->isEnabled());
    EXPECT_EQ(dialog.edtPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.edtConfirmPassword->echoMode(), QLineEdit::Password);
    dialog.rdbSetNewPassword->click();
    EXPECT_TRUE(dialog.edtPassword->isEnabled());
    EXPECT_TRUE(dialog.edtConfirmPassword->isEnabled());

    dialog.edtPassword->setText(QStringLiteral("abc"));
    dialog.edtConfirmPassword->setText(QStringLiteral("abc"));
    dialog.btnOk->click();
    EXPECT_EQ(m_messages, (std::vector<std::string>{"Password must be at least 4 characters long."}));
    EXPECT_TRUE(dialog.isVisible());
    dialog.edtPassword->setText(QStringLiteral("abcd"));
    dialog.edtConfirmPassword->setText(QStringLiteral("abce"));
    dialog.btnOk->click();
    EXPECT_EQ(m_messages.back(), "Password and Confirm Password do not match.");
    EXPECT_TRUE(dialog.isVisible());

    dialog.rdbSamePassword->click();
    EXPECT_FALSE(dialog.edtPassword->isEnabled());
    dialog.btnOk->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.state().password, store::PasswordChoice::Same);
}

} // namespace
