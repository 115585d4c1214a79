#include "TfrmFileRestore.h"

#include <QtCore/QDir>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QStandardItemModel>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include "TfrmFileRestoreProg.h"
#include "common/ResultCodes.h"
#include "controls/HeaderedList.h"
#include "index/WindowIndexProblem.h"
#include "restore/FileRows.h"
#include "restore/PathLookup.h"
#include "store/MessageText.h"
#include "store/PartitionRow.h"
#include "store/Prompts.h"
#include "store/StoreText.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"
#include "ui/DialogSupport.h"
#include "ui/MessageBox.h"
#include "ui/ModalResult.h"
#include "ui/TfrmPassword.h"

namespace imbrex::ui {

namespace {

constexpr int kClientWidth = 502;
constexpr int kClientHeight = 313;
constexpr int kRowHeight = 17;
constexpr int kSectionCount = 4;
constexpr int kSectionWidths[kSectionCount] = {175, 60, 75, 160};
constexpr const char *kSectionTexts[kSectionCount] = {"File name", "Type", "Size", "Modification Date"};
// The name column is drawn this far in, leaving room for the row's icon.
constexpr int kIconRoom = 15;
constexpr int kEntryRole = Qt::UserRole + 10;  // index into the current listing
constexpr int kFolderRole = Qt::UserRole + 11; // the row is a folder
// The longest directory path the browser keeps.
constexpr size_t kMaxPathBytes = 1000;

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

std::vector<std::string> components(const std::string &path)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace

TfrmFileRestore::TfrmFileRestore(QWidget *owner, FileRestoreOptions options)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_options(std::move(options)),
      m_mainWindow(owner), m_indexProgress(this, owner)
{
    setObjectName(QStringLiteral("TfrmFileRestore"));
    setWindowTitle(QStringLiteral("File Restore"));
    auto *outer = new QVBoxLayout(this);

    auto *lookRow = new QHBoxLayout;
    Label1 = new QLabel(QStringLiteral("Look &in:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    cmbFromDir = new QComboBox(this);
    cmbFromDir->setObjectName(QStringLiteral("cmbFromDir"));
    cmbFromDir->setMinimumWidth(300);
    Label1->setBuddy(cmbFromDir);
    btnUpOneLevel = new QToolButton(this);
    btnUpOneLevel->setObjectName(QStringLiteral("btnUpOneLevel"));
    btnUpOneLevel->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    btnUpOneLevel->setAutoRaise(true);
    btnUpOneLevel->setToolTip(QStringLiteral("Up One Level"));
    lookRow->addWidget(Label1);
    lookRow->addWidget(cmbFromDir, 1);
    lookRow->addWidget(btnUpOneLevel);
    outer->addLayout(lookRow);

    const controls::HeaderedList files =
        controls::makeHeaderedList(this, QStringLiteral("hdrFiles"), QStringLiteral("lstFiles"),
                                   kSectionTexts, kSectionWidths, kRowHeight);
    auto *listFrame = files.frame;
    hdrFiles = files.header;
    lstFiles = files.list;
    static_cast<QStandardItemModel *>(hdrFiles->model())
        ->setHeaderData(2, Qt::Horizontal, int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
    lstFiles->SetColAlign(3, controls::TColListAlign::claRight);
    lstFiles->SetOnDrawItem([this](controls::TColumnList *, int index, QPainter *painter, const QRect &rect,
                                   const QStyleOptionViewItem &) { drawRowIcon(index, painter, rect); });
    outer->addWidget(listFrame, 1);
    imgFolder = new controls::TTransparentImage(this);
    imgFolder->setObjectName(QStringLiteral("imgFolder"));
    imgFolder->SetTransparentColor(Qt::red);
    imgFolder->SetPicture(style()->standardIcon(QStyle::SP_DirIcon).pixmap(16, 16));
    imgFolder->hide();
    imgFile = new controls::TTransparentImage(this);
    imgFile->setObjectName(QStringLiteral("imgFile"));
    imgFile->SetTransparentColor(QColor(0, 128, 128));
    imgFile->SetPicture(style()->standardIcon(QStyle::SP_FileIcon).pixmap(16, 16));
    imgFile->hide();

    auto *grid = new QGridLayout;
    lblFileName = new QLabel(QStringLiteral("File &name:"), this);
    lblFileName->setObjectName(QStringLiteral("lblFileName"));
    edtFilename = new QLineEdit(this);
    edtFilename->setObjectName(QStringLiteral("edtFilename"));
    lblFileName->setBuddy(edtFilename);
    lblTargetDir = new QLabel(QStringLiteral("Target &directory:"), this);
    lblTargetDir->setObjectName(QStringLiteral("lblTargetDir"));
    edtTargetDir = new QLineEdit(m_options.targetDirectory, this);
    edtTargetDir->setObjectName(QStringLiteral("edtTargetDir"));
    lblTargetDir->setBuddy(edtTargetDir);
    btnRestoreFile = new QPushButton(QStringLiteral("&Restore"), this);
    btnRestoreFile->setObjectName(QStringLiteral("btnRestoreFile"));
    btnCancel = new QPushButton(QStringLiteral("&Close"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnBrowseTarget = new QPushButton(QStringLiteral("&Browse..."), this);
    btnBrowseTarget->setObjectName(QStringLiteral("btnBrowseTarget"));
    // Enter belongs to the file-name box and the list, which handle it themselves.
    for (QPushButton *b : {btnRestoreFile, btnCancel, btnBrowseTarget})
        b->setAutoDefault(false);
    grid->addWidget(lblFileName, 0, 0);
    grid->addWidget(edtFilename, 0, 1);
    grid->addWidget(btnRestoreFile, 0, 2);
    grid->addWidget(lblTargetDir, 1, 0);
    grid->addWidget(edtTargetDir, 1, 1);
    grid->addWidget(btnCancel, 1, 2);
    grid->addWidget(btnBrowseTarget, 2, 1, Qt::AlignLeft);
    outer->addLayout(grid);

    tmrFileRestore = new QTimer(this);
    tmrFileRestore->setObjectName(QStringLiteral("tmrFileRestore"));
    tmrFileRestore->setInterval(1);
    tmrFileRestore->setSingleShot(true);

    connect(tmrFileRestore, &QTimer::timeout, this, &TfrmFileRestore::tmrFileRestoreTimer);
    connect(btnRestoreFile, &QPushButton::clicked, this, &TfrmFileRestore::btnRestoreClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFileRestore::btnCloseClick);
    connect(btnBrowseTarget, &QPushButton::clicked, this, &TfrmFileRestore::btnBrowseTargetClick);
    connect(btnUpOneLevel, &QToolButton::clicked, this, &TfrmFileRestore::btnUpOneLevelClick);
    connect(cmbFromDir, &QComboBox::activated, this, &TfrmFileRestore::cmbFromDirClick);
    connect(lstFiles, &QListWidget::itemSelectionChanged, this, &TfrmFileRestore::lstFilesClick);
    connect(lstFiles, &QListWidget::itemDoubleClicked, this, &TfrmFileRestore::lstFilesDblClick);
    connect(hdrFiles, &QHeaderView::sectionResized, this, &TfrmFileRestore::hdrFilesSectionResize);
    edtFilename->installEventFilter(this);
    lstFiles->installEventFilter(this);

    translate::translateWindow(this);
    resize(kClientWidth, kClientHeight);
    hdrFilesSectionResize();
    btnRestoreFile->setEnabled(false);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.left() + (s.width() - width()) / 2, s.top() + (s.height() - height()) / 2);
    }
}

TfrmFileRestore::~TfrmFileRestore()
{
    m_indexProgress.CloseIndexProgress();
    m_source.reset();
    m_access.reset();
}

void TfrmFileRestore::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_openResult < 0 && !m_access)
        tmrFileRestore->start();
}

// ---- Opening the partition ----

void TfrmFileRestore::tmrFileRestoreTimer()
{
    tmrFileRestore->stop();
    if (m_access)
        return;
    m_openResult = openPartition();
    if (m_openResult != 0) {
        m_source.reset();
        m_access.reset();
        done(mrCancel);
        return;
    }
    lstFilesAddLookInPath(std::string(), std::nullopt);
    lstFilesPopulate();
    edtFilename->setFocus();
}

int TfrmFileRestore::openPartition()
{
    cmbFromDir->clear();
    m_lookIn.clear();
    const std::string &row = m_options.partitionRow;
    cmbFromDir->addItem(qs(store::GetRowField(row, 1) + " (" + store::GetRowField(row, 2) + ")"));
    m_lookIn.push_back({});
    cmbFromDir->setCurrentIndex(0);
    ImageStore *store = m_options.store;
    if (store == nullptr || store->SelectPartition(m_options.partition, 0) != 0)
        return rc::kCancelled;
    uint32_t password = 0;
    if (store->GetPartitionPassword(&password) != 0)
        return rc::kCancelled;
    if (password != 0) {
        const std::string name =
            store::readStoreText(*store, &ImageStore::GetPartitionName, store::kPartitionNameBufferSize);
        WindowPasswordQuestions questions(this);
        if (store::AskPartitionPassword(password, name, questions) != 0)
            return rc::kCancelled;
    }
    const int e = index::openWithCreateRequests(
        m_createIndexRequest, [&] { return openAccess(store); },
        [&] {
            const int r = m_options.saveIndex ? m_options.saveIndex(*m_access) : rc::kCancelled;
            m_access->SetIndexProgress(&m_indexProgress);
            return r;
        });
    if (e != 0) {
        reportOpenFailure(e);
        return e;
    }
    m_source = std::make_unique<restore::PartitionFileSource>(*m_access);
    return 0;
}

int TfrmFileRestore::openAccess(ImageStore *store)
{
    m_access = std::make_unique<restore::PARTITION_ACCESS>();
    m_access->SetIndexProgress(&m_indexProgress);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int e = 0;
    if (index::IndexAssociation *association = m_options.association) {
        WindowIndexProblem problems(this, m_mainWindow, *association, m_createIndexRequest,
                                    m_options.chooseIndexFile);
        e = m_access->Open(store, association->indexFile(), &problems);
    } else {
        e = m_access->Open(store, m_options.indexPath, nullptr);
    }
    QApplication::restoreOverrideCursor();
    return e;
}

std::unique_ptr<restore::PARTITION_ACCESS> TfrmFileRestore::takeAccess()
{
    m_source.reset();
    if (m_access)
        m_access->SetIndexProgress(nullptr);
    return std::move(m_access);
}

void TfrmFileRestore::reportOpenFailure(int code)
{
    switch (code) {
    case rc::kDialogCancelled:
    case rc::kCancelled:
        return;
    case rc::kUnsupportedFileSystem:
        ShowMessageBox(this,
                       Translate("Restoring a file from this partition type is not currently supported."),
                       MessageKind::Information);
        return;
    case rc::kSpanned:
        ShowMessageBox(this,
                       Translate("Restoring a file from a spanned image is not supported.") + "\n\n" +
                           Translate("Use the combine option to create an image from which files can be "
                                     "restored."),
                       MessageKind::Information);
        return;
    case rc::kLegacyCompression: {
        uint32_t compression = 0;
        // Only for the message: when the type cannot be read the message says 0, and still refuses.
        (void)m_options.store->GetCompression(&compression);
        ShowMessageBox(this,
                       store::translatedMessage(
                           "Restoring a file from this compressed image (type %d) is not supported.",
                           {std::to_string(compression)}) +
                           "\n\n" +
                           Translate("Use the uncompress option to create an image from which files can be "
                                     "restored."),
                       MessageKind::Information);
        return;
    }
    default:
        ShowMessageBox(this, store::translatedMessage("Error %d accessing partition", {std::to_string(code)}),
                       MessageKind::Error);
    }
}

// ---- The look-in path ----

void TfrmFileRestore::reportListingError(int code, const std::string &path)
{
    ShowMessageBox(
        this, store::translatedMessage("Error %d traversing directories at %s", {std::to_string(code), path}),
        MessageKind::Error);
}

int TfrmFileRestore::listDirectory(const std::string &path,
                                   const std::optional<std::array<uint8_t, 32>> &rawEntry)
{
    if (!m_source)
        return rc::kNoPartitionSelected;
    std::vector<engine::DirListEntry> entries;
    const int e = m_source->listDirectory(path.empty() ? std::string("\\") : path,
                                          rawEntry ? &*rawEntry : nullptr, &entries);
    if (e == 0)
        m_entries = std::move(entries);
    return e;
}

int TfrmFileRestore::descend(const std::string &name, const std::optional<std::array<uint8_t, 32>> &rawEntry)
{
    const std::string previous = m_currentPath;
    const std::string path = m_currentPath + "\\" + name;
    if (path.size() > kMaxPathBytes) {
        reportListingError(rc::kOutOfMemory, path);
        return rc::kOutOfMemory;
    }
    m_currentPath = path;
    const int e = listDirectory(m_currentPath, m_source && m_source->isFatVolume() ? rawEntry : std::nullopt);
    if (e != 0) {
        if (e != rc::kCancelled)
            reportListingError(e, m_currentPath);
        m_currentPath = previous;
        // Back to the last level that listed; the list shows it again.
        lstFilesSetLookInPath(cmbFromDir->count() - 1);
        return e;
    }
    m_lookIn.push_back({m_currentPath, rawEntry});
    cmbFromDir->addItem(qs(m_currentPath));
    cmbFromDir->setCurrentIndex(cmbFromDir->count() - 1);
    return 0;
}

int TfrmFileRestore::lstFilesAddLookInPath(const std::string &path,
                                           const std::optional<std::array<uint8_t, 32>> &rawEntry)
{
    std::string rest = path;
    if (rest.empty() || rest[0] == '\\') {
        while (cmbFromDir->count() > 1)
            cmbFromDir->removeItem(cmbFromDir->count() - 1);
        m_lookIn.resize(1);
        cmbFromDir->setCurrentIndex(0);
        m_currentPath.clear();
        if (int e = listDirectory(std::string(), std::nullopt)) {
            reportListingError(e, "\\");
            return e;
        }
    }
    const std::vector<std::string> names = components(rest);
    if (names.size() == 1 && rawEntry)
        return descend(names[0], rawEntry);
    // A typed path: every folder is found in its parent's listing, by its long or (FAT) short name, and
    // entered by the name and entry the listing knows it by.
    const bool fat = m_source && m_source->isFatVolume();
    for (const std::string &name : names) {
        const engine::DirListEntry *found = nullptr;
        for (const engine::DirListEntry &entry : m_entries)
            if ((entry.attributes & engine::kAttrDirectory) && restore::entryNamed(entry, name, fat))
                found = &entry;
        if (found == nullptr) {
            reportListingError(rc::kPathNotFound, m_currentPath + "\\" + name);
            lstFilesSetLookInPath(cmbFromDir->count() - 1);
            return rc::kPathNotFound;
        }
        const engine::DirListEntry entry = *found; // descend replaces the listing
        if (int e = descend(fat ? restore::fatShortName(entry.rawEntry) : entry.name,
                            fat ? std::optional(entry.rawEntry) : std::nullopt))
            return e;
    }
    return 0;
}

void TfrmFileRestore::lstFilesSetLookInPath(int level)
{
    while (level >= 0 && level < cmbFromDir->count()) {
        cmbFromDir->setCurrentIndex(level);
        while (cmbFromDir->count() > level + 1)
            cmbFromDir->removeItem(cmbFromDir->count() - 1);
        m_lookIn.resize(static_cast<size_t>(level) + 1);
        const LookIn &here = m_lookIn[static_cast<size_t>(level)];
        m_currentPath = level == 0 ? std::string() : here.path;
        const int e = listDirectory(m_currentPath, here.rawEntry);
        if (e == 0)
            return;
        if (e == rc::kCancelled && level > 0) {
            --level; // the index extension was cancelled: one level up
            continue;
        }
        reportListingError(e, m_currentPath);
        return;
    }
}

// ---- The list ----

bool TfrmFileRestore::checkFileName(bool *hasPattern)
{
    const restore::WildcardCheck check = restore::checkWildcards(edtFilename->text().toStdString());
    if (check.failed) {
        ShowMessageBox(this, Translate(restore::kWildcardMessage), MessageKind::Information);
        return false;
    }
    *hasPattern = check.hasPattern;
    return true;
}

void TfrmFileRestore::lstFilesPopulate()
{
    m_filling = true;
    lstFiles->clear();
    bool hasPattern = false;
    if (!checkFileName(&hasPattern)) {
        m_filling = false;
        return;
    }
    const std::string pattern = edtFilename->text().toStdString();
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const engine::DirListEntry &entry = m_entries[i];
        if (entry.name == "." || entry.name == "..")
            continue;
        const bool folder = (entry.attributes & engine::kAttrDirectory) != 0;
        if (hasPattern && !folder && !restore::patternMatches(pattern, entry.name))
            continue;
        auto *item = new QListWidgetItem(qs(restore::fileRowText(entry).substr(2)));
        item->setData(kEntryRole, static_cast<int>(i));
        item->setData(kFolderRole, folder);
        lstFiles->addItem(item);
    }
    if (lstFiles->count() == 0) {
        btnRestoreFile->setEnabled(false);
        m_filling = false;
        return;
    }
    lstFiles->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    int first = lstFiles->count() - 1;
    for (int row = 0; row < lstFiles->count(); ++row)
        if (!lstFilesIsFolder(row)) {
            first = row;
            break;
        }
    lstFiles->item(first)->setSelected(!hasPattern);
    m_filling = false;
    SetEdtFilename(first);
}

void TfrmFileRestore::SetEdtFilename(int row)
{
    if (row < 0 || row >= lstFiles->count()) {
        btnRestoreFile->setEnabled(false);
        return;
    }
    bool hasPattern = false;
    if (!checkFileName(&hasPattern))
        return;
    const QList<QListWidgetItem *> selected = lstFiles->selectedItems();
    btnRestoreFile->setEnabled(!selected.isEmpty());
    if (selected.isEmpty()) {
        if (!hasPattern)
            edtFilename->clear();
    } else if (selected.size() == 1) {
        edtFilename->setText(lstFilesGetFilename(lstFiles->row(selected.front())));
    } else {
        edtFilename->setText(qs(Translate("(multiple files)")));
    }
}

QString TfrmFileRestore::lstFilesGetFilename(int row) const
{
    return controls::TColumnList::GetColStringFromStr(lstFiles->GetStr(row), 1);
}

bool TfrmFileRestore::lstFilesIsFolder(int row) const
{
    const QListWidgetItem *item = lstFiles->item(row);
    return item != nullptr && item->data(kFolderRole).toBool();
}

const engine::DirListEntry *TfrmFileRestore::rowEntry(int row) const
{
    const QListWidgetItem *item = lstFiles->item(row);
    if (item == nullptr)
        return nullptr;
    const int i = item->data(kEntryRole).toInt();
    return i >= 0 && static_cast<size_t>(i) < m_entries.size() ? &m_entries[static_cast<size_t>(i)] : nullptr;
}

void TfrmFileRestore::drawRowIcon(int index, QPainter *painter, const QRect &rect)
{
    const controls::TTransparentImage *image = lstFilesIsFolder(index) ? imgFolder : imgFile;
    const QSize size = image->sizeHint();
    image->Draw(*painter, rect.left() + 2, rect.top() + (rect.height() - size.height()) / 2);
}

void TfrmFileRestore::hdrFilesSectionResize()
{
    // Column 1 starts at its section, its text after the icon; every further column one pixel before its
    // section.
    lstFiles->SetColPosition(1, hdrFiles->sectionPosition(0) + kIconRoom);
    for (int k = 1; k < kSectionCount; ++k)
        lstFiles->SetColPosition(k + 1, hdrFiles->sectionPosition(k) - 1);
    lstFiles->viewport()->update();
}

// ---- Commands ----

void TfrmFileRestore::lstFilesClick()
{
    if (!m_filling)
        SetEdtFilename(lstFiles->currentRow());
}

void TfrmFileRestore::lstFilesDblClick()
{
    const int row = lstFiles->currentRow();
    const engine::DirListEntry *entry = rowEntry(row);
    if (entry == nullptr)
        return;
    if (!lstFilesIsFolder(row)) {
        btnRestoreClick();
        return;
    }
    const bool fat = m_source && m_source->isFatVolume();
    const engine::DirListEntry folder = *entry;
    lstFilesAddLookInPath(fat ? restore::fatShortName(folder.rawEntry) : folder.name,
                          fat ? std::optional(folder.rawEntry) : std::nullopt);
    lstFilesPopulate();
}

void TfrmFileRestore::btnRestoreClick()
{
    bool hasPattern = false;
    if (!checkFileName(&hasPattern))
        return;
    const std::string text = edtFilename->text().toStdString();
    if (hasPattern) {
        const size_t slash = text.rfind('\\');
        if (slash != std::string::npos) {
            lstFilesAddLookInPath(text.substr(0, slash), std::nullopt);
            edtFilename->setText(qs(text.substr(slash + 1)));
        }
        lstFilesPopulate();
        return;
    }
    if (!m_source || text.empty())
        return;
    // A typed name of a folder that is not the selected row enters the folder instead of restoring it.
    bool selectedByName = false;
    for (const QListWidgetItem *item : lstFiles->selectedItems())
        selectedByName = selectedByName || lstFilesGetFilename(lstFiles->row(item)).toStdString() == text;
    if (!selectedByName && text.find('\\') == std::string::npos) {
        const bool fat = m_source->isFatVolume();
        for (const engine::DirListEntry &entry : m_entries) {
            if ((entry.attributes & engine::kAttrDirectory) && entry.name != "." && entry.name != ".." &&
                restore::entryNamed(entry, text, fat)) {
                edtFilename->clear();
                lstFilesAddLookInPath(text, std::nullopt);
                lstFilesPopulate();
                return;
            }
        }
    }
    const QString target = edtTargetDir->text().trimmed();
    if (target.isEmpty() || !QDir::isAbsolutePath(target)) {
        // A relative target would land wherever the program happens to run.
        ShowMessageBox(
            this,
            store::translatedMessage("The target directory %s is not a full path.", {target.toStdString()}),
            MessageKind::Error);
        edtTargetDir->setFocus();
        return;
    }
    RestoreRequest request;
    request.fileName = text;
    request.sourceDirectory = m_currentPath;
    request.targetDirectory = target.toStdString();
    const bool fat = m_source->isFatVolume();
    for (int row = 0; row < lstFiles->count(); ++row) {
        if (!lstFiles->item(row)->isSelected())
            continue;
        const engine::DirListEntry *entry = rowEntry(row);
        if (entry != nullptr)
            request.selected.push_back(restore::restoreItemOf(*entry, fat));
    }
    TfrmFileRestoreProg progress(this, *m_source, std::move(request));
    progress.exec();
    lstFiles->setFocus();
}

void TfrmFileRestore::btnUpOneLevelClick()
{
    const int level = cmbFromDir->currentIndex();
    if (level > 0) {
        lstFilesSetLookInPath(level - 1);
        lstFilesPopulate();
    }
    lstFiles->setFocus();
}

void TfrmFileRestore::cmbFromDirClick(int index)
{
    if ((index == 0 && !m_currentPath.empty()) ||
        (index > 0 && cmbFromDir->itemText(index).toStdString() != m_currentPath)) {
        lstFilesSetLookInPath(index);
        lstFilesPopulate();
    }
    lstFiles->setFocus();
}

void TfrmFileRestore::btnBrowseTargetClick()
{
    TfrmTargetDir chooser(m_options.chooseDirectory);
    if (std::optional<QString> chosen = chooser.choose(this, edtTargetDir->text()))
        edtTargetDir->setText(*chosen);
}

void TfrmFileRestore::btnCloseClick()
{
    done(mrCancel);
}

bool TfrmFileRestore::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == edtFilename && enter) {
            btnRestoreClick();
            return true;
        }
        if (watched == lstFiles && enter) {
            lstFilesDblClick();
            return true;
        }
        if (watched == lstFiles && key == Qt::Key_Backspace) {
            btnUpOneLevelClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace imbrex::ui
