// The main window: the recent-images list, the open image's name and comment, its partitions with a column
// header, the status bar, and the commands of the menus, pop-up menus and toolbar buttons. It owns the open
// image's store.
#pragma once

#include <functional>

class QUrl;
#include <optional>

#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPlainTextEdit>

#include "IMFE_IMGSTORE_UI_CALLBACK.h"
#include "TfrmPassword.h"
#include "controls/TColumnList.h"
#include "controls/TPopupSpeedButton.h"
#include "restore/TfrmTargetDir.h"
#include "store/CopyPartitions.h"
#include "store/ImageModel.h"
#include "store/OpenImageStore.h"
#include "translate/LanguageList.h"

namespace imbrex::restore {
class PARTITION_ACCESS;
}

namespace imbrex::ui {

inline constexpr int kHeaderSectionCount = 7;
inline constexpr int kRecentImagesLimit = 64;
// Recent values longer than this are not loaded.
inline constexpr int kRecentValueMaxLength = 1023;

enum class FileDialogKind
{
    NewImage,
    OpenImage,
    CopyTarget, // the target of Copy, Compress, Uncompress, Span and Combine
    OpenIndex,  // Browse of the association dialog
    SaveIndex,  // the file an image index is saved to (dlgSaveIndex)
};

struct MainWindowOptions
{
    store::ImageStoreExports exports = store::libraryExports();
    // The interface language; none leaves the native texts and disables Help > Language.
    translate::InterfaceLanguage *language = nullptr;
    // Where the help file and the program file are; empty: the program's directory.
    QString programDir;
    // Asks for a file name, starting at start (may be empty); tests answer instead of the file dialogs.
    // Empty result: cancelled.
    std::function<QString(FileDialogKind, const QString &title, const QString &start)> askFileName;
    // Hands a URL to the desktop (a web browser for the help file); false when nothing could take it. Tests
    // answer instead of the desktop. Empty: QDesktopServices.
    std::function<bool(const QUrl &)> openUrl;
    // Chooses File Restore's target directory; empty: the desktop's directory chooser.
    DirectoryChooser chooseDirectory;
};

class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(MainWindowOptions options = {}, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Settings and the recent list.
    void LoadSettings();
    void SaveSettings();
    void AddToRecentImages(const QString &path);
    void SetCurrentImageFile(int index);
    QString indexFileOf(int row) const;
    void setIndexFileOf(int row, const QString &indexPath);
    QString targetDirectory() const { return m_targetDirectory; }
    void setTargetDirectory(const QString &dir) { m_targetDirectory = dir; }

    // The open image.
    // A path where no file exists is made a new image, or with MissingImage::Fail reported as an image that
    // cannot be opened (what showing the open image again after a change uses).
    bool LoadImage(const QString &path, store::MissingImage missing = store::MissingImage::Create);
    void OpenImageFile(const QString &path, store::MissingImage missing = store::MissingImage::Create);
    ImageStore *store() const { return m_store.get(); }
    QString currentImagePath() const { return m_currentImagePath; }
    void setCommandLineImage(const QString &path) { m_commandLineImage = path; }
    IMGSTORE_UI_CALLBACK *uiCallback() { return &m_callback; }

    void UpdateMenus();
    void UpdateStatusBar();
    // Shows the window's texts in the current language again.
    void retranslate();

public slots:
    void FormShow();
    void itmImageNewClick();
    void itmImageOpenClick();
    // Closes the image, leaving the title, the recent list and the current path to the caller (the other
    // commands that give up the image set them themselves).
    void itmImageCloseClick();
    // Image > Close: closes the image, and the title and the recent list no longer name it.
    void closeImageCommand();
    void itmImageNameClick();
    void itmImageCommentClick();
    void itmImageSpanClick();
    void itmImageCombineClick();
    void itmImageRemoveEntryClick();
    void itmImageClearListClick();
    void itmImageExitClick();
    void itmPartitionNameClick();
    void itmPartitionCommentClick();
    void itmPartitionCopyClick();
    void itmPartitionDeleteClick();
    void itmPartitionCompressClick();
    void itmPartitionUncompressClick();
    void itmPartitionFileRestoreClick();
    void itmPartitionFileRestoreDblClick();
    // Saves the index of the partition that File Restore opened: 0 saved, 7 not saved, 1893 the chosen file
    // already held it. The file becomes the open image's index file.
    int SaveImageIndex(restore::PARTITION_ACCESS &access);
    void itmPartitionPropertiesClick();
    void itmContentsClick();
    void itmLanguageClick();
    void itmAboutClick();
    // F5: reads the image from its file again, as after a change made elsewhere.
    void reopenImage();
    void lstRecentImagesClick();
    void lstImageClick();

    // Dragging partition rows onto a recent image. DragOver tells whether a drag from source may be dropped
    // at pos in the recent list, and makes the row it points at current; DragDrop copies the selected
    // partitions into the image of the row at pos; EndDrag shows the open image again in the recent list.
    bool lstRecentImagesDragOver(const QObject *source, const QPoint &pos);
    void lstRecentImagesDragDrop(const QPoint &pos);
    void lstImageEndDrag();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Image files dropped from a file manager: the first .zbi is opened.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    enum class TitleState
    {
        Initial,
        Plain,
        WithFile,     // with the open image's file name
        NotAvailable, // the recent image could not be opened
    };

    void buildMenus();
    void buildLayout();
    QAction *makeAction(const char *name, const char *caption, void (TfrmMain::*handler)());
    void setTitle(TitleState state, const QString &fill = {});
    void drawPartitionRow(int index, QPainter *painter, const QRect &rect);
    void lstImageMouseDown(QMouseEvent *event);
    void lstRecentImagesMouseDown(QMouseEvent *event);
    void lstImageKeyDown(QKeyEvent *event);
    void notAvailableYet();
    // The whole text of the partition cell at pos of the list's viewport when its column cuts it off; empty
    // otherwise.
    QString cutOffCellText(const QPoint &pos) const;
    QString chooseFile(FileDialogKind kind, const QString &title, const QString &start = {});
    QString chooseIndexSaveFile(const QString &start);
    void runCopyCommand(store::CopyCommand command);
    int copySelectedPartitionsTo(const QString &targetPath, store::CopyCommand command);
    // Takes a drag or drop of image files from outside the program; false when it carries none.
    bool takeImageDrop(QEvent *event);
    void writeImageName();
    void imageTextNotSaved(int error);
    void reportUnsavedChange(int error);
    void reportStoreRefusal(const char *message, int error);
    void editPartitionText(bool name);
    void placeOnScreen(bool centre);
    QList<int> selectedRows() const;

    MainWindowOptions m_options;
    IMFE_IMGSTORE_UI_CALLBACK m_callback;
    ImageStorePtr m_store;
    QString m_currentImagePath;
    QString m_commandLineImage;
    QString m_targetDirectory;
    QStringList m_declined; // unavailable recent images the person chose to keep
    bool m_filling = false; // the program itself is setting the name and comment controls
    bool m_shown = false;
    TitleState m_titleState = TitleState::Initial;
    QString m_titleFill;

public:
    // The controls, named as in the window's design.
    controls::TPopupSpeedButton *btnNewImage, *btnOpenImage, *btnCopy, *btnDelete, *btnFileRestore;
    QListWidget *lstRecentImages;
    QLineEdit *edtImageName;
    QPlainTextEdit *mmoImageComment;
    QHeaderView *hdrMain;
    controls::TColumnList *lstImage;
    QLabel *barPanels[3];
    QMenu *mnuImage, *mnuPartition, *mnuHelp, *itmImageRecentImages;
    QMenu *mnuListPopup, *mnuImagePopup, *itmRecentImages;
    QAction *itmImageNew, *itmImageOpen, *itmImageClose, *itmImageName, *itmImageComment, *itmImageSpan,
        *itmImageCombine, *itmImageRemoveEntry, *itmImageClearList, *itmImageExit;
    QAction *itmPartitionName, *itmPartitionComment, *itmPartitionCopy, *itmPartitionDelete,
        *itmPartitionCompress, *itmPartitionUncompress, *itmPartitionFileRestore, *itmPartitionProperties;
    QAction *itmContents, *itmLanguage, *itmAbout;
    QAction *actReopen;           // F5, in no menu
    QPointer<QDialog> helpWindow; // the help shown inside the program, while it is open
    QAction *itmName, *itmComment, *itmCopy, *itmDelete, *itmCompress, *itmUncompress, *itmFileRestore,
        *itmProperties;
    QAction *itmNew, *itmOpen, *itmClose, *itmNameImage, *itmCommentImage, *itmSpan, *itmCombine,
        *itmRemoveEntry, *itmClearList;
};

} // namespace imbrex::ui
