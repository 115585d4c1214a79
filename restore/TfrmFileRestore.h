// The File Restore window: browses the file system of one partition of the open image and restores the
// chosen files and folders through the extraction window. The partition is opened from a timer tick after
// the window shows, so that the password question and the index progress appear over a visible window.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QtCore/QTimer>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>

#include "TfrmTargetDir.h"
#include "controls/TColumnList.h"
#include "controls/TTransparentImage.h"
#include "engine/DIRLIST.h"
#include "imgstore/ImageStore.h"
#include "index/IndexAssociation.h"
#include "index/TfrmAssociateIndex.h"
#include "index/WindowIndexProgress.h"
#include "restore/PARTITION_ACCESS.h"
#include "restore/PartitionFileSource.h"

namespace imbrex::ui {

struct FileRestoreOptions
{
    ImageStore *store = nullptr;
    uint32_t partition = 0;   // 1-based
    std::string partitionRow; // the partition's row of the main window ("name|drive|...|")
    std::string indexPath;    // the index file read when there is no association; may be empty
    // The image's index file. With it an index file that cannot be used is put to the person, who may have
    // the index created first (saveIndex); without it indexPath is read and a file that cannot be used is
    // passed over.
    index::IndexAssociation *association = nullptr;
    std::function<int(restore::PARTITION_ACCESS &)> saveIndex; // SaveImageIndex of the main window
    IndexFileChooser chooseIndexFile;                          // Browse of the association dialog
    QString targetDirectory;
    DirectoryChooser chooseDirectory; // empty: the desktop's directory chooser
};

class TfrmFileRestore : public QDialog
{
    Q_OBJECT
public:
    TfrmFileRestore(QWidget *owner, FileRestoreOptions options);
    ~TfrmFileRestore() override;

    // The result of opening the partition: -1 before the timer ran.
    int openResult() const { return m_openResult; }
    restore::PARTITION_ACCESS *access() const { return m_access.get(); }
    // Hands the opened partition over (once the window is closed), without the window's index progress.
    std::unique_ptr<restore::PARTITION_ACCESS> takeAccess();
    WindowIndexProgress &indexProgress() { return m_indexProgress; }
    // The directory shown, "\"-separated from the root; empty at the root.
    const std::string &currentPath() const { return m_currentPath; }

    // The browser's operations, named as the window's handlers.
    void lstFilesPopulate();
    int lstFilesAddLookInPath(const std::string &path,
                              const std::optional<std::array<uint8_t, 32>> &rawEntry);
    void lstFilesSetLookInPath(int level);
    void SetEdtFilename(int row);
    QString lstFilesGetFilename(int row) const;
    bool lstFilesIsFolder(int row) const;

    QLabel *Label1, *lblFileName, *lblTargetDir;
    QComboBox *cmbFromDir;
    QToolButton *btnUpOneLevel;
    QHeaderView *hdrFiles;
    controls::TColumnList *lstFiles;
    controls::TTransparentImage *imgFolder, *imgFile;
    QLineEdit *edtFilename, *edtTargetDir;
    QPushButton *btnBrowseTarget, *btnRestoreFile, *btnCancel;
    QTimer *tmrFileRestore;

public slots:
    void tmrFileRestoreTimer();
    void btnRestoreClick();
    void btnUpOneLevelClick();
    void cmbFromDirClick(int index);
    void lstFilesClick();
    void lstFilesDblClick();
    void btnBrowseTargetClick();
    void btnCloseClick();
    void hdrFilesSectionResize();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One entry of the look-in combo: its path and, on FAT, the directory's own entry, through which the
    // directory is listed again.
    struct LookIn
    {
        std::string path;
        std::optional<std::array<uint8_t, 32>> rawEntry;
    };

    int openPartition();
    int openAccess(ImageStore *store);
    void reportOpenFailure(int code);
    void reportListingError(int code, const std::string &path);
    int listDirectory(const std::string &path, const std::optional<std::array<uint8_t, 32>> &rawEntry);
    // Enters the folder name of the current directory (the listing's own name for it) and lists it.
    int descend(const std::string &name, const std::optional<std::array<uint8_t, 32>> &rawEntry);
    // The wildcard check of the file-name box; a misplaced wildcard is told to the person.
    bool checkFileName(bool *hasPattern);
    const engine::DirListEntry *rowEntry(int row) const;
    void drawRowIcon(int index, QPainter *painter, const QRect &rect);

    FileRestoreOptions m_options;
    QWidget *m_mainWindow;
    std::unique_ptr<restore::PARTITION_ACCESS> m_access;
    std::unique_ptr<restore::PartitionFileSource> m_source;
    WindowIndexProgress m_indexProgress;
    std::vector<LookIn> m_lookIn;                // parallel to cmbFromDir
    std::vector<engine::DirListEntry> m_entries; // the current listing
    std::string m_currentPath;
    int m_openResult = -1;
    bool m_createIndexRequest = false; // set by Create of the association dialog
    bool m_filling = false;
};

} // namespace imbrex::ui
