#include "TfrmMain.h"

#include <algorithm>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDesktopServices>
#include <QtGui/QDropEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QStandardItemModel>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QFrame>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QToolTip>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "Glyphs.h"
#include "MessageBox.h"
#include "ModalResult.h"
#include "TIvLanguageSelectDialog.h"
#include "TextChangeDialog.h"
#include "TfrmAbout.h"
#include "TfrmHelp.h"
#include "TfrmProperties.h"
#include "WindowCopyQuestions.h"
#include "WindowDeleteQuestions.h"
#include "common/ResultCodes.h"
#include "controls/HeaderedList.h"
#include "controls/TTransparentImage.h"
#include "index/IndexAssociation.h"
#include "index/SaveImageIndex.h"
#include "restore/TfrmFileRestore.h"
#include "store/ImageModel.h"
#include "store/MessageText.h"
#include "store/PartitionRow.h"
#include "store/StoreText.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

namespace {

constexpr int kDesignWidth = 620;
constexpr int kDesignHeight = 464;
constexpr int kDesignSectionWidths[kHeaderSectionCount] = {100, 78, 65, 65, 60, 80, 110};
constexpr const char *kSectionTexts[kHeaderSectionCount] = {"Name", "Drive letter", "Type",      "Status",
                                                            "Date", "Size",         "Compressed"};
constexpr int kIndexFileRole = Qt::UserRole + 1;
constexpr const char *kImageFilter =
    "Archivos de imagen de Korvane (*.zbi)|*.zbi|Todos los archivos (*.*)|*.*";

QString tr8(const char *text)
{
    return QString::fromStdString(Translate(text));
}

std::string utf8(const QString &text)
{
    return text.toStdString();
}

// The file-dialog filter in Qt's form: "Name (*.zbi);;Name (*.*)".
QString qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.join(QStringLiteral(";;"));
}

// The first local .zbi file among dropped files; empty when there is none.
QString droppedImage(const QMimeData *mime)
{
    if (mime == nullptr || !mime->hasUrls())
        return {};
    for (const QUrl &url : mime->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() && path.endsWith(QStringLiteral(".zbi"), Qt::CaseInsensitive) &&
            QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// A drag or drop that comes from another program.
bool isOutsideDrop(const QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    return static_cast<const QDropEvent *>(event)->source() == nullptr;
}

// The index file of the open image, kept with its entry of the recent-images list (the current row).
class RecentImageIndex final : public index::IndexAssociation
{
public:
    explicit RecentImageIndex(TfrmMain &main) : m_main(main), m_row(main.lstRecentImages->currentRow()) {}
    std::string imagePath() const override { return utf8(m_main.currentImagePath()); }
    std::string indexFile() const override { return utf8(m_main.indexFileOf(m_row)); }
    void setIndexFile(const std::string &path) override
    {
        m_main.setIndexFileOf(m_row, QString::fromStdString(path));
    }

private:
    TfrmMain &m_main;
    int m_row;
};

bool canOpenForReading(const QString &path)
{
    QFileInfo info(path);
    if (!info.isFile())
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

} // namespace

TfrmMain::TfrmMain(MainWindowOptions options, QWidget *parent)
    : QMainWindow(parent), m_options(std::move(options)), m_callback(this)
{
    setObjectName(QStringLiteral("TfrmMain"));
    setProperty("imbrexValue", true); // the title is set by the program, in the current language
    setAcceptDrops(true);
    if (m_options.programDir.isEmpty())
        m_options.programDir = QCoreApplication::applicationDirPath();
    // The language chosen in an earlier run comes before the system's, which the caller selected.
    if (m_options.language != nullptr && m_options.language->dictionary().isOpen()) {
        QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
        bool known = false;
        const uint localeId = settings.value(QStringLiteral("Language")).toString().toUInt(&known, 16);
        for (const translate::Language &l : m_options.language->languages())
            if (known && l.localeId == localeId)
                (void)m_options.language->selectLocale(localeId);
    }

    buildMenus();
    buildLayout();
    resize(kDesignWidth, kDesignHeight);
    setTitle(TitleState::Initial);

    // FormCreate: translate, read the settings, set the enabling.
    translate::translateWindow(this);
    if (m_options.language == nullptr || !m_options.language->dictionary().isOpen())
        itmLanguage->setEnabled(false);
    LoadSettings();
    UpdateMenus();
    UpdateStatusBar();
}

TfrmMain::~TfrmMain()
{
    m_store.reset();
}

QAction *TfrmMain::makeAction(const char *name, const char *caption, void (TfrmMain::*handler)())
{
    auto *action = new QAction(QString::fromLatin1(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void TfrmMain::buildMenus()
{
    itmImageNew = makeAction("itmImageNew", "&New...", &TfrmMain::itmImageNewClick);
    itmImageOpen = makeAction("itmImageOpen", "&Open...", &TfrmMain::itmImageOpenClick);
    itmImageClose = makeAction("itmImageClose", "&Close", &TfrmMain::closeImageCommand);
    itmImageName = makeAction("itmImageName", "N&ame...", &TfrmMain::itmImageNameClick);
    itmImageComment = makeAction("itmImageComment", "Co&mment...", &TfrmMain::itmImageCommentClick);
    itmImageSpan = makeAction("itmImageSpan", "&Span...", &TfrmMain::itmImageSpanClick);
    itmImageCombine = makeAction("itmImageCombine", "Com&bine...", &TfrmMain::itmImageCombineClick);
    itmImageRemoveEntry =
        makeAction("itmImageRemoveEntry", "&Remove Entry...", &TfrmMain::itmImageRemoveEntryClick);
    itmImageClearList = makeAction("itmImageClearList", "&Clear List...", &TfrmMain::itmImageClearListClick);
    itmImageExit = makeAction("itmImageExit", "E&xit", &TfrmMain::itmImageExitClick);
    itmPartitionName = makeAction("itmPartitionName", "&Name...", &TfrmMain::itmPartitionNameClick);
    itmPartitionComment =
        makeAction("itmPartitionComment", "&Comment...", &TfrmMain::itmPartitionCommentClick);
    itmPartitionCopy = makeAction("itmPartitionCopy", "C&opy...", &TfrmMain::itmPartitionCopyClick);
    itmPartitionDelete = makeAction("itmPartitionDelete", "&Delete...", &TfrmMain::itmPartitionDeleteClick);
    itmPartitionCompress =
        makeAction("itmPartitionCompress", "Co&mpress...", &TfrmMain::itmPartitionCompressClick);
    itmPartitionUncompress =
        makeAction("itmPartitionUncompress", "&Uncompress...", &TfrmMain::itmPartitionUncompressClick);
    itmPartitionFileRestore =
        makeAction("itmPartitionFileRestore", "&File Restore...", &TfrmMain::itmPartitionFileRestoreClick);
    itmPartitionProperties =
        makeAction("itmPartitionProperties", "&Properties...", &TfrmMain::itmPartitionPropertiesClick);
    itmContents = makeAction("itmContents", "&Contents...", &TfrmMain::itmContentsClick);
    itmLanguage = makeAction("itmLanguage", "&Language...", &TfrmMain::itmLanguageClick);
    itmAbout = makeAction("itmAbout", "&About...", &TfrmMain::itmAboutClick);

    // The keys a desktop user tries first. Delete and Alt+Enter act only in the partitions list, as its own
    // key handling did, so that Delete in the name or the recent list never deletes partitions.
    itmImageNew->setShortcut(QKeySequence::New);
    itmImageOpen->setShortcut(QKeySequence::Open);
    itmImageExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    itmContents->setShortcut(QKeySequence(Qt::Key_F1));
    itmPartitionName->setShortcut(QKeySequence(Qt::Key_F2));
    itmPartitionProperties->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
    itmPartitionDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction *a : {itmImageNew, itmImageOpen, itmImageExit, itmContents, itmPartitionName,
                       itmPartitionProperties, itmPartitionDelete})
        a->setShortcutVisibleInContextMenu(true);
    actReopen = new QAction(this);
    actReopen->setObjectName(QStringLiteral("actReopen"));
    actReopen->setShortcut(QKeySequence(Qt::Key_F5));
    connect(actReopen, &QAction::triggered, this, &TfrmMain::reopenImage);
    addAction(actReopen);

    mnuImage = menuBar()->addMenu(QStringLiteral("&Image"));
    mnuImage->setObjectName(QStringLiteral("mnuImage"));
    mnuImage->addActions({itmImageNew, itmImageOpen, itmImageClose});
    mnuImage->addSeparator();
    mnuImage->addActions({itmImageName, itmImageComment});
    mnuImage->addSeparator();
    mnuImage->addActions({itmImageSpan, itmImageCombine});
    mnuImage->addSeparator();
    itmImageRecentImages = mnuImage->addMenu(QStringLiteral("&Recent Images"));
    itmImageRecentImages->setObjectName(QStringLiteral("itmImageRecentImages"));
    itmImageRecentImages->addActions({itmImageRemoveEntry, itmImageClearList});
    mnuImage->addSeparator();
    mnuImage->addAction(itmImageExit);

    mnuPartition = menuBar()->addMenu(QStringLiteral("&Partition"));
    mnuPartition->setObjectName(QStringLiteral("mnuPartition"));
    mnuPartition->addActions({itmPartitionName, itmPartitionComment});
    mnuPartition->addSeparator();
    mnuPartition->addActions({itmPartitionCopy, itmPartitionDelete});
    mnuPartition->addSeparator();
    mnuPartition->addActions({itmPartitionCompress, itmPartitionUncompress});
    mnuPartition->addSeparator();
    mnuPartition->addAction(itmPartitionFileRestore);
    mnuPartition->addSeparator();
    mnuPartition->addAction(itmPartitionProperties);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp->addActions({itmContents, itmLanguage});
    mnuHelp->addSeparator();
    mnuHelp->addAction(itmAbout);

    mnuListPopup = new QMenu(this);
    mnuListPopup->setObjectName(QStringLiteral("mnuListPopup"));
    itmName = makeAction("itmName", "&Name...", &TfrmMain::itmPartitionNameClick);
    itmComment = makeAction("itmComment", "&Comment...", &TfrmMain::itmPartitionCommentClick);
    itmCopy = makeAction("itmCopy", "C&opy...", &TfrmMain::itmPartitionCopyClick);
    itmDelete = makeAction("itmDelete", "&Delete...", &TfrmMain::itmPartitionDeleteClick);
    itmCompress = makeAction("itmCompress", "Co&mpress...", &TfrmMain::itmPartitionCompressClick);
    itmUncompress = makeAction("itmUncompress", "&Uncompress...", &TfrmMain::itmPartitionUncompressClick);
    itmFileRestore =
        makeAction("itmFileRestore", "&File Restore...", &TfrmMain::itmPartitionFileRestoreClick);
    itmProperties = makeAction("itmProperties", "&Properties...", &TfrmMain::itmPartitionPropertiesClick);
    mnuListPopup->addActions({itmName, itmComment});
    mnuListPopup->addSeparator();
    mnuListPopup->addActions({itmCopy, itmDelete});
    mnuListPopup->addSeparator();
    mnuListPopup->addActions({itmCompress, itmUncompress});
    mnuListPopup->addSeparator();
    mnuListPopup->addAction(itmFileRestore);
    mnuListPopup->addSeparator();
    mnuListPopup->addAction(itmProperties);

    mnuImagePopup = new QMenu(this);
    mnuImagePopup->setObjectName(QStringLiteral("mnuImagePopup"));
    itmNew = makeAction("itmNew", "&New...", &TfrmMain::itmImageNewClick);
    itmOpen = makeAction("itmOpen", "&Open...", &TfrmMain::itmImageOpenClick);
    itmClose = makeAction("itmClose", "&Close", &TfrmMain::closeImageCommand);
    itmNameImage = makeAction("itmNameImage", "N&ame...", &TfrmMain::itmImageNameClick);
    itmCommentImage = makeAction("itmCommentImage", "Co&mment...", &TfrmMain::itmImageCommentClick);
    itmSpan = makeAction("itmSpan", "&Span...", &TfrmMain::itmImageSpanClick);
    itmCombine = makeAction("itmCombine", "Com&bine...", &TfrmMain::itmImageCombineClick);
    itmRemoveEntry = makeAction("itmRemoveEntry", "&Remove Entry...", &TfrmMain::itmImageRemoveEntryClick);
    itmClearList = makeAction("itmClearList", "&Clear List...", &TfrmMain::itmImageClearListClick);
    mnuImagePopup->addActions({itmNew, itmOpen, itmClose});
    mnuImagePopup->addSeparator();
    mnuImagePopup->addActions({itmNameImage, itmCommentImage});
    mnuImagePopup->addSeparator();
    mnuImagePopup->addActions({itmSpan, itmCombine});
    mnuImagePopup->addSeparator();
    itmRecentImages = mnuImagePopup->addMenu(QStringLiteral("&Recent Images"));
    itmRecentImages->setObjectName(QStringLiteral("itmRecentImages"));
    itmRecentImages->addActions({itmRemoveEntry, itmClearList});
}

void TfrmMain::buildLayout()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("pnlMain"));
    setCentralWidget(central);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(6, 0, 6, 4);
    column->setSpacing(4);

    // Button bar.
    auto *buttonBar = new QFrame(central);
    buttonBar->setObjectName(QStringLiteral("pnlButtons"));
    buttonBar->setFixedHeight(39);
    auto *buttons = new QHBoxLayout(buttonBar);
    buttons->setContentsMargins(2, 6, 2, 6);
    buttons->setSpacing(2);
    auto makeButton = [&](const char *name, const char *hint, Glyph glyph, void (TfrmMain::*handler)()) {
        auto *button = new controls::TPopupSpeedButton(buttonBar);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(QString::fromLatin1(hint));
        button->SetTransparentColor(kGlyphBackground);
        button->SetGlyph(glyphPixmap(glyph));
        connect(button, &QAbstractButton::clicked, this, handler);
        buttons->addWidget(button);
        return button;
    };
    btnNewImage =
        makeButton("btnNewImage", "Create New Image File", Glyph::NewImage, &TfrmMain::itmImageNewClick);
    btnOpenImage =
        makeButton("btnOpenImage", "Open Image File", Glyph::OpenImage, &TfrmMain::itmImageOpenClick);
    buttons->addSpacing(8);
    btnCopy = makeButton("btnCopy", "Copy Partition", Glyph::Copy, &TfrmMain::itmPartitionCopyClick);
    btnDelete =
        makeButton("btnDelete", "Delete Partition", Glyph::Delete, &TfrmMain::itmPartitionDeleteClick);
    btnFileRestore = makeButton("btnFileRestore", "File Restore", Glyph::FileRestore,
                                &TfrmMain::itmPartitionFileRestoreClick);
    buttons->addStretch();
    auto *logo = new controls::TTransparentImage(buttonBar);
    logo->setObjectName(QStringLiteral("imgLogo"));
    logo->SetTransparentColor(kLogoBackground);
    logo->SetPicture(logoPixmap());
    logo->setFixedSize(logoPixmap().deviceIndependentSize().toSize());
    buttons->addWidget(logo);
    column->addWidget(buttonBar);

    // Recent images.
    auto *recent = new QWidget(central);
    recent->setFixedHeight(72);
    auto *recentLayout = new QVBoxLayout(recent);
    recentLayout->setContentsMargins(0, 0, 0, 0);
    recentLayout->setSpacing(2);
    auto *recentLabel = new QLabel(QStringLiteral("&Recent Images"), recent);
    recentLabel->setObjectName(QStringLiteral("lblRecentImages"));
    lstRecentImages = new QListWidget(recent);
    lstRecentImages->setObjectName(QStringLiteral("lstRecentImages"));
    lstRecentImages->setUniformItemSizes(true);
    lstRecentImages->setStyleSheet(QStringLiteral("QListWidget::item { height: 13px; }"));
    recentLabel->setBuddy(lstRecentImages);
    recentLayout->addWidget(recentLabel);
    recentLayout->addWidget(lstRecentImages);
    column->addWidget(recent);

    // Image information.
    auto *info = new QFrame(central);
    info->setObjectName(QStringLiteral("grpImageInformation"));
    info->setFixedHeight(93);
    auto *infoGrid = new QGridLayout(info);
    infoGrid->setContentsMargins(0, 2, 26, 2);
    infoGrid->setVerticalSpacing(3);
    auto *infoHeading = new QLabel(QStringLiteral("Image File Information"), info);
    infoHeading->setObjectName(QStringLiteral("lblImageFileInformation"));
    QFont bold = infoHeading->font();
    bold.setBold(true);
    infoHeading->setFont(bold);
    auto *nameLabel = new QLabel(QStringLiteral("&Name:"), info);
    nameLabel->setObjectName(QStringLiteral("lblImageName"));
    edtImageName = new QLineEdit(info);
    edtImageName->setObjectName(QStringLiteral("edtImageName"));
    edtImageName->setMaxLength(99);
    nameLabel->setBuddy(edtImageName);
    auto *commentLabel = new QLabel(QStringLiteral("&Comment:"), info);
    commentLabel->setObjectName(QStringLiteral("lblImageComment"));
    mmoImageComment = new QPlainTextEdit(info);
    mmoImageComment->setObjectName(QStringLiteral("mmoImageComment"));
    mmoImageComment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoImageComment->setTabChangesFocus(true);
    commentLabel->setBuddy(mmoImageComment);
    infoGrid->addWidget(infoHeading, 0, 0, 1, 2);
    infoGrid->addWidget(nameLabel, 1, 0);
    infoGrid->addWidget(edtImageName, 1, 1);
    infoGrid->addWidget(commentLabel, 2, 0, Qt::AlignTop);
    infoGrid->addWidget(mmoImageComment, 2, 1);
    column->addWidget(info);
    connect(edtImageName, &QLineEdit::textEdited, this, [this] { writeImageName(); });
    edtImageName->installEventFilter(this);
    mmoImageComment->viewport()->installEventFilter(this);
    connect(mmoImageComment, &QPlainTextEdit::textChanged, this, [this] {
        if (m_filling || !m_store)
            return;
        if (const int error =
                m_store->SetImageComment(toStoreText(mmoImageComment->toPlainText(), 399).c_str()))
            imageTextNotSaved(error);
    });

    // Partitions.
    auto *partitionsLabel = new QLabel(QStringLiteral("P&artitions"), central);
    partitionsLabel->setObjectName(QStringLiteral("lblPartitions"));
    partitionsLabel->setFont(bold);
    column->addWidget(partitionsLabel);
    const controls::HeaderedList partitions =
        controls::makeHeaderedList(central, QStringLiteral("hdrMain"), QStringLiteral("lstImage"),
                                   kSectionTexts, kDesignSectionWidths, 16);
    auto *listFrame = partitions.frame;
    hdrMain = partitions.header;
    lstImage = partitions.list;
    hdrMain->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    lstImage->SetOnDrawItem([this](controls::TColumnList *, int index, QPainter *painter, const QRect &rect,
                                   const QStyleOptionViewItem &) { drawPartitionRow(index, painter, rect); });
    // Selected rows can be dragged onto a recent image, which copies them there; the rows stay.
    lstImage->setDragEnabled(true);
    lstImage->setDragDropMode(QAbstractItemView::DragOnly);
    lstImage->setDefaultDropAction(Qt::CopyAction);
    lstImage->SetOnEndDrag([this](controls::TColumnList *) { lstImageEndDrag(); });
    partitionsLabel->setBuddy(lstImage);
    for (QAction *a : {itmPartitionProperties, itmPartitionDelete}) {
        a->setShortcutContext(Qt::WidgetShortcut);
        lstImage->addAction(a);
    }
    column->addWidget(listFrame, 1);
    connect(hdrMain, &QHeaderView::sectionResized, this, [this] { lstImage->viewport()->update(); });
    lstImage->installEventFilter(this);
    lstImage->viewport()->installEventFilter(this);
    connect(lstImage, &QListWidget::itemSelectionChanged, this, [this] {
        UpdateMenus();
        UpdateStatusBar();
    });
    connect(lstImage, &QListWidget::itemDoubleClicked, this, &TfrmMain::itmPartitionFileRestoreDblClick);
    lstRecentImages->installEventFilter(this);
    lstRecentImages->viewport()->installEventFilter(this);
    lstRecentImages->setAcceptDrops(true);
    lstRecentImages->viewport()->setAcceptDrops(true);
    lstRecentImages->setDropIndicatorShown(false);
    connect(lstRecentImages, &QListWidget::itemClicked, this, &TfrmMain::lstRecentImagesClick);
    connect(lstRecentImages, &QListWidget::itemDoubleClicked, this,
            &TfrmMain::itmPartitionFileRestoreDblClick);

    // Status bar.
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("barMain"));
    bar->setSizeGripEnabled(true);
    const int widths[3] = {200, 200, 125};
    for (int i = 0; i < 3; ++i) {
        barPanels[i] = new QLabel(bar);
        barPanels[i]->setObjectName(QStringLiteral("pnlStatus%1").arg(i + 1));
        barPanels[i]->setProperty("imbrexValue", true);
        barPanels[i]->setFixedWidth(widths[i]);
        barPanels[i]->setFrameShape(QFrame::Panel);
        barPanels[i]->setFrameShadow(QFrame::Sunken);
        bar->addWidget(barPanels[i]);
    }
}

void TfrmMain::drawPartitionRow(int index, QPainter *painter, const QRect &rect)
{
    const std::string row = utf8(lstImage->GetStr(index));
    const QFontMetrics metrics(lstImage->font());
    const int textHeight = metrics.boundingRect(QStringLiteral("abcghi")).height();
    const int y = rect.top() + (rect.height() - textHeight) / 2;
    painter->save();
    painter->setFont(lstImage->font());
    for (int k = 0; k < kHeaderSectionCount; ++k) {
        const int left = hdrMain->sectionViewportPosition(k);
        const int right = left + hdrMain->sectionSize(k);
        const int x = left + 2;
        const QRect clip(QPoint(x, rect.top()), QPoint(right - 3, rect.bottom()));
        if (clip.width() <= 0)
            continue;
        painter->setClipRect(clip);
        painter->drawText(QPoint(x, y + metrics.ascent()),
                          QString::fromStdString(store::GetRowField(row, k + 1)));
    }
    painter->restore();
}

QString TfrmMain::cutOffCellText(const QPoint &pos) const
{
    const QListWidgetItem *item = lstImage->itemAt(pos);
    if (item == nullptr)
        return {};
    const int k = hdrMain->logicalIndexAt(pos.x());
    if (k < 0)
        return {};
    const QString text = QString::fromStdString(store::GetRowField(utf8(item->text()), k + 1));
    // The room drawPartitionRow leaves the text: from 2 pixels into the section to 3 before its end.
    const int room = hdrMain->sectionSize(k) - 5;
    if (QFontMetrics(lstImage->font()).horizontalAdvance(text) <= room)
        return {};
    return text;
}

// ---- Settings and the recent list ----

void TfrmMain::placeOnScreen(bool centre)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect s = screen->geometry();
    if (centre) {
        move((s.width() - width()) / 2, (s.height() - height()) / 2);
        return;
    }
    int w = width();
    int h = height();
    if (s.height() < h)
        h = s.height();
    if (s.width() < w)
        w = s.width();
    resize(w, h);
    int left = x();
    int top = y();
    if (top + h > s.height())
        top = s.height() - h;
    if (left + w > s.width())
        left = s.width() - w;
    // A place saved on a screen left of or above this one (since unplugged) would keep the window out of
    // sight.
    left = std::max(left, s.left());
    top = std::max(top, s.top());
    move(left, top);
}

void TfrmMain::LoadSettings()
{
    QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
    bool ok = true;
    auto readInt = [&](const QString &key) -> std::optional<int> {
        const QVariant value = settings.value(key);
        bool good = false;
        const int number = value.toInt(&good);
        if (!value.isValid() || !good) {
            ok = false;
            return std::nullopt;
        }
        return number;
    };
    const std::optional<int> left = readInt(QStringLiteral("Left"));
    const std::optional<int> top = readInt(QStringLiteral("Top"));
    const std::optional<int> w = readInt(QStringLiteral("Width"));
    const std::optional<int> h = readInt(QStringLiteral("Height"));
    if (left && top)
        move(*left, *top);
    if (w && h && *w > 0 && *h > 0)
        resize(*w, *h);
    else if (w && h)
        ok = false; // a window without a size cannot be shown
    m_targetDirectory = settings.value(QStringLiteral("Target Directory")).toString();
    if (m_targetDirectory.isEmpty()) {
        m_targetDirectory = QDir::homePath();
        settings.setValue(QStringLiteral("Target Directory"), m_targetDirectory);
    }
    for (int k = 0; k < kHeaderSectionCount; ++k) {
        const std::optional<int> width = readInt(QStringLiteral("hdr%1").arg(k));
        if (width && *width >= 0 && *width < 100000)
            hdrMain->resizeSection(k, *width);
    }
    if (ok) {
        settings.beginGroup(QStringLiteral("Recent"));
        QStringList keys = settings.childKeys();
        // The values are numbered in list order; sort them by number, not as text ("10" after "9").
        std::stable_sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
            bool aNumber = false;
            bool bNumber = false;
            const qlonglong x = a.toLongLong(&aNumber);
            const qlonglong y = b.toLongLong(&bNumber);
            if (aNumber && bNumber)
                return x < y;
            return aNumber && !bNumber;
        });
        for (const QString &key : keys) {
            const QString value = settings.value(key).toString();
            if (value.isEmpty() || value.size() > kRecentValueMaxLength)
                continue;
            const qsizetype bar = value.indexOf(QLatin1Char('|'));
            auto *item = new QListWidgetItem(bar < 0 ? value : value.left(bar));
            if (bar >= 0)
                item->setData(kIndexFileRole, value.mid(bar + 1));
            lstRecentImages->addItem(item);
        }
        settings.endGroup();
        placeOnScreen(false);
    } else {
        placeOnScreen(true);
        settings.setValue(QStringLiteral("Left"), x());
        settings.setValue(QStringLiteral("Top"), y());
        settings.setValue(QStringLiteral("Width"), width());
        settings.setValue(QStringLiteral("Height"), height());
        for (int k = 0; k < kHeaderSectionCount; ++k)
            settings.setValue(QStringLiteral("hdr%1").arg(k), hdrMain->sectionSize(k));
    }
}

void TfrmMain::SaveSettings()
{
    QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
    settings.setValue(QStringLiteral("Left"), x());
    settings.setValue(QStringLiteral("Top"), y());
    settings.setValue(QStringLiteral("Width"), width());
    settings.setValue(QStringLiteral("Height"), height());
    settings.setValue(QStringLiteral("Target Directory"), m_targetDirectory);
    for (int k = 0; k < kHeaderSectionCount; ++k)
        settings.setValue(QStringLiteral("hdr%1").arg(k), hdrMain->sectionSize(k));
    settings.remove(QStringLiteral("Recent"));
    settings.beginGroup(QStringLiteral("Recent"));
    for (int i = 0; i < lstRecentImages->count(); ++i) {
        QString value = lstRecentImages->item(i)->text();
        const QString index = indexFileOf(i);
        if (!index.isEmpty())
            value += QLatin1Char('|') + index;
        settings.setValue(QString::number(i), value);
    }
    settings.endGroup();
    settings.sync();
}

QString TfrmMain::indexFileOf(int row) const
{
    const QListWidgetItem *item = lstRecentImages->item(row);
    return item ? item->data(kIndexFileRole).toString() : QString();
}

void TfrmMain::setIndexFileOf(int row, const QString &indexPath)
{
    if (QListWidgetItem *item = lstRecentImages->item(row))
        item->setData(kIndexFileRole, indexPath.isEmpty() ? QVariant() : QVariant(indexPath));
}

void TfrmMain::AddToRecentImages(const QString &path)
{
    QWidget *focused = QApplication::focusWidget();
    int row = -1;
    for (int i = 0; i < lstRecentImages->count(); ++i)
        if (lstRecentImages->item(i)->text().compare(path, Qt::CaseInsensitive) == 0) {
            row = i;
            break;
        }
    if (row < 0) {
        while (lstRecentImages->count() >= kRecentImagesLimit)
            delete lstRecentImages->takeItem(lstRecentImages->count() - 1);
        lstRecentImages->insertItem(0, path);
        row = 0;
    }
    lstRecentImages->setCurrentRow(row);
    if (focused)
        focused->setFocus();
}

void TfrmMain::SetCurrentImageFile(int index)
{
    bool available = false;
    while (index >= 0 && index < lstRecentImages->count()) {
        const QString path = lstRecentImages->item(index)->text();
        if (canOpenForReading(path)) {
            available = true;
            break;
        }
        if (m_declined.contains(path, Qt::CaseInsensitive))
            break;
        const std::string question =
            store::translatedMessage("'%s' no longer exists or isn't accessible.", {utf8(path)}) + "\n" +
            Translate("Would you like to remove it from the list?");
        if (ShowMessageBox(this, question, MessageKind::Confirmation, MessageButtons::YesNo) != mrYes) {
            m_declined.append(path);
            break;
        }
        delete lstRecentImages->takeItem(index);
        if (index > lstRecentImages->count() - 1)
            index = lstRecentImages->count() - 1;
        lstRecentImages->setCurrentRow(index);
    }
    if (available) {
        OpenImageFile(lstRecentImages->item(index)->text());
        lstRecentImages->setFocus();
        return;
    }
    itmImageCloseClick();
    if (lstRecentImages->count() == 0)
        setTitle(TitleState::Plain);
    else
        setTitle(TitleState::NotAvailable);
    UpdateMenus();
}

// ---- The open image ----

bool TfrmMain::LoadImage(const QString &path, store::MissingImage missing)
{
    if (m_store) {
        const int error = m_store->Close();
        if (error != 0)
            ShowMessageBox(this, store::closeErrorMessage(error, utf8(m_currentImagePath)),
                           MessageKind::Error);
        m_store.reset();
        if (error != 0) {
            UpdateMenus();
            UpdateStatusBar();
            return false;
        }
    }
    lstImage->setEnabled(false);
    lstImage->clear();

    store::ImageModel model = store::loadImageModel(utf8(path), &m_callback, m_options.exports, missing);
    bool loaded = false;
    if (!model.store) {
        ShowMessageBox(this,
                       store::openFailureMessage(utf8(path), model.error) + "\n" +
                           store::openFailureReason(model.error),
                       MessageKind::Error);
        model.name.clear();
        model.comment.clear();
    } else {
        for (size_t i = 0; i < model.spannedPartitions.size(); ++i)
            ShowMessageBox(this, store::spannedImageMessage(utf8(path)), MessageKind::Error);
        // An image whose newest state cannot be read shows an older one; the store refuses changes to it.
        if (std::string damage = store::damagedImageMessage(*model.store, utf8(path)); !damage.empty())
            ShowMessageBox(
                this,
                damage + "\n\n" +
                    Translate("Changes to this image are refused. \"zbitool verify\" tells what is "
                              "damaged."),
                MessageKind::Warning);
        m_store = std::move(model.store);
        for (const std::string &row : model.rows)
            lstImage->Add(QString::fromStdString(row));
        if (lstImage->count() > 0) {
            lstImage->setEnabled(true);
            lstImage->setCurrentRow(0);
            lstImage->item(0)->setSelected(true);
        }
        loaded = true;
    }
    m_filling = true;
    edtImageName->setText(QString::fromStdString(model.name));
    mmoImageComment->setPlainText(QString::fromStdString(model.comment));
    m_filling = false;
    UpdateStatusBar();
    UpdateMenus();
    return loaded;
}

void TfrmMain::OpenImageFile(const QString &path, store::MissingImage missing)
{
    if (LoadImage(path, missing))
        setTitle(TitleState::WithFile, QFileInfo(path).fileName());
    else
        setTitle(TitleState::Plain);
    AddToRecentImages(path);
    m_currentImagePath = path;
    UpdateMenus(); // the partitions list follows the recent list, which may just have got its first entry
}

void TfrmMain::writeImageName()
{
    if (m_filling || !m_store)
        return;
    if (const int error = m_store->SetImageName(toStoreText(edtImageName->text(), 99).c_str()))
        imageTextNotSaved(error);
}

// The store refused a new image name or comment: the fields show again what the image holds.
void TfrmMain::imageTextNotSaved(int error)
{
    m_filling = true;
    edtImageName->setText(QString::fromStdString(
        store::readStoreText(*m_store, &ImageStore::GetImageName, store::kImageNameBufferSize)));
    mmoImageComment->setPlainText(QString::fromStdString(
        store::readStoreText(*m_store, &ImageStore::GetImageComment, store::kImageCommentBufferSize)));
    m_filling = false;
    reportUnsavedChange(error);
}

void TfrmMain::reportUnsavedChange(int error)
{
    reportStoreRefusal("The change could not be saved in '%s'.", error);
}

// message names the open image (its "%s"); the store's reason for error follows on a line of its own.
void TfrmMain::reportStoreRefusal(const char *message, int error)
{
    ShowMessageBox(this,
                   store::translatedMessage(message, {utf8(m_currentImagePath)}) + "\n" +
                       store::openFailureReason(error),
                   MessageKind::Error);
}

void TfrmMain::setTitle(TitleState state, const QString &fill)
{
    m_titleState = state;
    m_titleFill = fill;
    switch (state) {
    case TitleState::Initial:
        setWindowTitle(tr8("Imbrex File Editor"));
        break;
    case TitleState::Plain:
        setWindowTitle(tr8("Imbrex File Editor 3.01"));
        break;
    case TitleState::WithFile:
        setWindowTitle(
            QString::fromStdString(store::translatedMessage("Imbrex File Editor 3.01 - %s", {utf8(fill)})));
        break;
    case TitleState::NotAvailable:
        setWindowTitle(QString::fromStdString(store::translatedMessage(
            "Imbrex File Editor 3.01 - %s", {Translate("(image file not available)")})));
        break;
    }
}

QList<int> TfrmMain::selectedRows() const
{
    QList<int> rows;
    for (int i = 0; i < lstImage->count(); ++i)
        if (lstImage->item(i)->isSelected())
            rows.append(i);
    return rows;
}

void TfrmMain::UpdateMenus()
{
    const bool haveRecent = lstRecentImages->count() > 0;
    lstImage->setEnabled(haveRecent);
    itmImageClearList->setEnabled(lstImage->isEnabled());
    itmImageRemoveEntry->setEnabled(itmImageClearList->isEnabled());

    QAction *const partitionItems[] = {itmPartitionName,       itmPartitionComment,    itmPartitionCopy,
                                       itmPartitionDelete,     itmPartitionCompress,   itmPartitionUncompress,
                                       itmPartitionProperties, itmPartitionFileRestore};
    if (!m_store) {
        for (QAction *a : {itmImageClose, itmImageName, itmImageComment, itmImageSpan, itmImageCombine})
            a->setEnabled(false);
        for (QAction *a : partitionItems)
            a->setEnabled(false);
    } else {
        const uint32_t n = m_store->GetPartitionCount();
        uint32_t readOnlyFlag = 0;
        // A store that cannot answer takes no changes either.
        const bool ro = m_store->IsReadOnly(&readOnlyFlag) != 0 || readOnlyFlag != 0;
        bool spanned = false;
        if (n > 0) {
            for (uint32_t number = 1; number <= n; ++number) {
                // Whether the image is split does not depend on the selection; a failed one changes nothing
                // here, and a failed IsSpanned leaves flag 0.
                (void)m_store->SelectPartition(number, 0);
                uint32_t flag = 0;
                (void)m_store->IsSpanned(&flag);
                if (flag != 0) {
                    spanned = true;
                    break;
                }
            }
            (void)m_store->ReleasePartition(1); // only read: releasing it cannot lose anything
        }
        itmImageClose->setEnabled(true);
        itmImageName->setEnabled(!ro);
        itmImageComment->setEnabled(!ro);
        itmImageSpan->setEnabled(!spanned);
        itmImageCombine->setEnabled(spanned);
        if (lstImage->count() == 0) {
            for (QAction *a : partitionItems)
                a->setEnabled(false);
        } else {
            itmPartitionCopy->setEnabled(true);
            itmPartitionDelete->setEnabled(!ro && !spanned);
            if (selectedRows().size() == 1) {
                itmPartitionName->setEnabled(!ro);
                itmPartitionComment->setEnabled(!ro);
                itmPartitionFileRestore->setEnabled(true);
                itmPartitionProperties->setEnabled(true);
                const int i = lstImage->currentRow();
                if (i >= 0 && static_cast<uint32_t>(i) < n) {
                    // A partition that cannot be selected offers neither.
                    uint32_t c = 0;
                    const bool known = m_store->SelectPartition(static_cast<uint32_t>(i) + 1, 0) == 0 &&
                                       m_store->GetCompression(&c) == 0;
                    itmPartitionCompress->setEnabled(known && c == 0);
                    itmPartitionUncompress->setEnabled(known && c != 0);
                    (void)m_store->ReleasePartition(1); // only read: releasing it cannot lose anything
                }
            } else {
                for (QAction *a : {itmPartitionName, itmPartitionComment, itmPartitionFileRestore,
                                   itmPartitionProperties, itmPartitionCompress, itmPartitionUncompress})
                    a->setEnabled(false);
            }
        }
    }

    btnCopy->setEnabled(itmPartitionCopy->isEnabled());
    btnDelete->setEnabled(itmPartitionDelete->isEnabled());
    btnFileRestore->setEnabled(itmPartitionFileRestore->isEnabled());
    const std::pair<QAction *, QAction *> mirrors[] = {
        {itmNew, itmImageNew},
        {itmOpen, itmImageOpen},
        {itmClose, itmImageClose},
        {itmNameImage, itmImageName},
        {itmCommentImage, itmImageComment},
        {itmSpan, itmImageSpan},
        {itmCombine, itmImageCombine},
        {itmRemoveEntry, itmImageRemoveEntry},
        {itmClearList, itmImageClearList},
        {itmName, itmPartitionName},
        {itmComment, itmPartitionComment},
        {itmCopy, itmPartitionCopy},
        {itmDelete, itmPartitionDelete},
        {itmCompress, itmPartitionCompress},
        {itmUncompress, itmPartitionUncompress},
        {itmFileRestore, itmPartitionFileRestore},
        {itmProperties, itmPartitionProperties},
    };
    for (const auto &[copy, original] : mirrors)
        copy->setEnabled(original->isEnabled());

    auto follow = [](QWidget *control, bool enabled) {
        control->setEnabled(enabled);
        control->setFocusPolicy(enabled ? Qt::StrongFocus : Qt::NoFocus);
        QPalette pal = control->palette();
        pal.setColor(QPalette::Base,
                     QApplication::palette().color(enabled ? QPalette::Base : QPalette::Button));
        control->setPalette(pal);
    };
    follow(edtImageName, itmImageName->isEnabled());
    follow(mmoImageComment, itmImageComment->isEnabled());
}

void TfrmMain::UpdateStatusBar()
{
    QStatusBar *bar = statusBar();
    if (!m_store) {
        for (QLabel *panel : barPanels)
            panel->hide();
        bar->clearMessage();
        return;
    }
    int64_t total = 0;
    int64_t selected = 0;
    for (int i = 0; i < lstImage->count(); ++i) {
        const std::string size = store::GetRowField(utf8(lstImage->item(i)->text()), 6);
        const int64_t megabytes = std::strtoll(size.c_str(), nullptr, 10);
        total += megabytes;
        if (lstImage->item(i)->isSelected())
            selected += megabytes;
    }
    barPanels[0]->setText(QString::fromStdString(
        store::translatedMessage("Total %d partitions", {std::to_string(lstImage->count())})));
    barPanels[1]->setText(
        QString::fromStdString(store::translatedMessage("%d MB total", {std::to_string(total)})));
    barPanels[2]->setText(
        QString::fromStdString(store::translatedMessage("%d MB selected", {std::to_string(selected)})));
    for (QLabel *panel : barPanels)
        panel->show();
}

void TfrmMain::retranslate()
{
    translate::translateWindow(this);
    translate::translateWindow(mnuListPopup);
    translate::translateWindow(mnuImagePopup);
    setTitle(m_titleState, m_titleFill);
    // The rows hold translated words (status, compression, file-system names): build them again. Setting the
    // texts keeps the selection.
    if (m_store)
        for (int i = 0; i < lstImage->count(); ++i)
            lstImage->item(i)->setText(
                QString::fromStdString(store::buildPartitionRow(*m_store, static_cast<uint32_t>(i) + 1)));
    UpdateStatusBar();
}

// ---- Events ----

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        QMetaObject::invokeMethod(this, &TfrmMain::FormShow, Qt::QueuedConnection);
    }
}

void TfrmMain::FormShow()
{
    if (!m_commandLineImage.isEmpty()) {
        OpenImageFile(m_commandLineImage);
    } else if (lstRecentImages->count() > 0) {
        SetCurrentImageFile(0);
        if (lstRecentImages->count() > 0)
            lstRecentImages->setCurrentRow(0);
    }
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // A progress window keeps the main window disabled while long work runs; closing now would end the
    // program under it. The progress window's Cancel is the way out.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    SaveSettings();
    QMainWindow::closeEvent(event);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    // An image dropped on the name, the comment or the recent list is opened, not pasted in as text.
    const bool textField = watched == edtImageName || watched == mmoImageComment->viewport();
    if ((textField || watched == lstRecentImages->viewport()) && takeImageDrop(event))
        return true;
    // Every change of these fields is written to the image at once, so text or file names dragged in from
    // another program are refused rather than written. Moving text inside the program stays an edit.
    if (textField && isOutsideDrop(event)) {
        static_cast<QDropEvent *>(event)->ignore();
        return true;
    }
    if (watched == lstImage->viewport() && event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString text = cutOffCellText(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, lstImage->viewport());
        return true;
    }
    if (watched == edtImageName && event->type() == QEvent::KeyRelease) {
        writeImageName();
    } else if (watched == lstImage->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            lstImageMouseDown(mouse);
            return true;
        }
        QMetaObject::invokeMethod(this, &TfrmMain::lstImageClick, Qt::QueuedConnection);
    } else if (watched == lstImage && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool altEnter = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                              (key->modifiers() & Qt::AltModifier);
        const bool handled = altEnter || key->key() == Qt::Key_Delete;
        lstImageKeyDown(key);
        if (handled)
            return true;
    } else if (watched == lstRecentImages->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            lstRecentImagesMouseDown(mouse);
            return true;
        }
        lstRecentImages->setFocus();
    } else if (watched == lstRecentImages->viewport() &&
               (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        // The list's own drop handling (inserting the dragged texts) never runs.
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (lstRecentImagesDragOver(drag->source(), drag->position().toPoint())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    } else if (watched == lstRecentImages->viewport() && event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (lstRecentImagesDragOver(drop->source(), drop->position().toPoint())) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            lstRecentImagesDragDrop(drop->position().toPoint());
        } else {
            drop->ignore();
        }
        return true;
    } else if (watched == lstRecentImages && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && lstRecentImages->count() > 0) {
            lstRecentImagesClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!takeImageDrop(event))
        event->ignore();
}

void TfrmMain::dropEvent(QDropEvent *event)
{
    if (!takeImageDrop(event))
        event->ignore();
}

bool TfrmMain::takeImageDrop(QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    if (drop->source() != nullptr) // rows dragged inside the program
        return false;
    const QString path = droppedImage(drop->mimeData());
    if (path.isEmpty())
        return false;
    drop->acceptProposedAction();
    if (type != QEvent::Drop)
        return true;
    // Opened once the drop has finished, so that the file manager is not kept waiting by any message box.
    QTimer::singleShot(0, this, [this, path] {
        if (!isEnabled())
            return; // a copy or another modal task is running
        OpenImageFile(path, store::MissingImage::Fail);
    });
    return true;
}

void TfrmMain::lstImageClick()
{
    UpdateMenus();
    UpdateStatusBar();
}

void TfrmMain::lstImageMouseDown(QMouseEvent *event)
{
    UpdateMenus();
    lstImage->setFocus();
    if (selectedRows().size() == 1 && lstImage->count() > 0) {
        QListWidgetItem *item = lstImage->itemAt(event->position().toPoint());
        const int row = item ? lstImage->row(item) : lstImage->count() - 1;
        lstImage->clearSelection();
        lstImage->setCurrentRow(row);
        lstImage->item(row)->setSelected(true);
    }
    UpdateStatusBar();
    if (!selectedRows().isEmpty()) {
        UpdateMenus();
        mnuListPopup->popup(event->globalPosition().toPoint());
    }
}

void TfrmMain::lstRecentImagesMouseDown(QMouseEvent *event)
{
    lstRecentImages->setFocus();
    if (lstRecentImages->count() > 0) {
        QListWidgetItem *item = lstRecentImages->itemAt(event->position().toPoint());
        const int row = item ? lstRecentImages->row(item) : lstRecentImages->count() - 1;
        lstRecentImages->setCurrentRow(row);
        SetCurrentImageFile(row);
        UpdateMenus();
    }
    mnuImagePopup->popup(event->globalPosition().toPoint());
}

bool TfrmMain::lstRecentImagesDragOver(const QObject *source, const QPoint &pos)
{
    if (source == nullptr || source->objectName() != QLatin1String("lstImage"))
        return false;
    int row = lstRecentImages->indexAt(pos).row(); // -1 below the last row
    // At the top edge the row above is taken, so that the list scrolls up.
    if (pos.y() <= 3 && row > 0)
        --row;
    if (row >= 0)
        lstRecentImages->setCurrentRow(row);
    return true;
}

void TfrmMain::lstRecentImagesDragDrop(const QPoint &pos)
{
    const int row = lstRecentImages->indexAt(pos).row();
    if (row < 0)
        return;
    const QString target = lstRecentImages->item(row)->text();
    if (copySelectedPartitionsTo(target, store::CopyCommand::Copy) == rc::kOk) {
        lstRecentImages->setCurrentRow(row);
        OpenImageFile(target, store::MissingImage::Fail);
    } else {
        OpenImageFile(m_currentImagePath, store::MissingImage::Fail);
    }
}

void TfrmMain::lstImageEndDrag()
{
    if (m_currentImagePath.isEmpty())
        return;
    const QListWidgetItem *current = lstRecentImages->currentItem();
    if (current == nullptr || current->text().compare(m_currentImagePath, Qt::CaseInsensitive) != 0)
        OpenImageFile(m_currentImagePath, store::MissingImage::Fail);
}

void TfrmMain::lstImageKeyDown(QKeyEvent *event)
{
    UpdateMenus();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & Qt::AltModifier) && lstImage->currentRow() >= 0) {
        if (itmPartitionProperties->isEnabled())
            itmPartitionPropertiesClick();
    } else if (event->key() == Qt::Key_Delete && itmPartitionDelete->isEnabled()) {
        itmPartitionDeleteClick();
    }
}

void TfrmMain::lstRecentImagesClick()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetCurrentImageFile(lstRecentImages->currentRow());
    QApplication::restoreOverrideCursor();
}

// ---- Commands ----

void TfrmMain::notAvailableYet()
{
    ShowMessageBox(this, Translate("This command is not available yet."), MessageKind::Information);
}

QString TfrmMain::chooseFile(FileDialogKind kind, const QString &title, const QString &start)
{
    if (m_options.askFileName)
        return m_options.askFileName(kind, title, start);
    QFileDialog dialog(this, title);
    switch (kind) {
    case FileDialogKind::NewImage:
        dialog.setObjectName(QStringLiteral("dlgNewImageDefault"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        break;
    case FileDialogKind::OpenImage:
    case FileDialogKind::OpenIndex:
        dialog.setObjectName(kind == FileDialogKind::OpenImage ? QStringLiteral("dlgImageOpenDefault")
                                                               : QStringLiteral("dlgOpenIndex"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case FileDialogKind::CopyTarget:
    case FileDialogKind::SaveIndex:
        // An existing image is appended to (Copy) or replaced only when the run succeeds (Span, Combine); an
        // index file that holds other partitions' indexes is added to.
        dialog.setObjectName(kind == FileDialogKind::CopyTarget ? QStringLiteral("dlgCopyPartitionDefault")
                                                                : QStringLiteral("dlgSaveIndex"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        break;
    }
    const bool indexFile = kind == FileDialogKind::OpenIndex || kind == FileDialogKind::SaveIndex;
    dialog.setNameFilter(
        qtFilter(QString::fromStdString(Translate(indexFile ? index::kIndexFileFilter : kImageFilter))));
    dialog.setDefaultSuffix(indexFile ? QStringLiteral("zbx") : QStringLiteral("zbi"));
    if (!start.isEmpty()) {
        dialog.setDirectory(QFileInfo(start).absolutePath());
        dialog.selectFile(start);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        return dialog.selectedFiles().first();
    return {};
}

QString TfrmMain::chooseIndexSaveFile(const QString &start)
{
    return chooseFile(FileDialogKind::SaveIndex, tr8(index::kSaveIndexTitle), start);
}

int TfrmMain::copySelectedPartitionsTo(const QString &targetPath, store::CopyCommand command)
{
    if (!m_store)
        return rc::kCancelled;
    store::CopySource source;
    source.store = m_store.get();
    source.path = utf8(m_currentImagePath);
    source.itemCount = static_cast<uint32_t>(lstImage->count());
    for (int row = 0; row < lstImage->count(); ++row)
        if (lstImage->item(row)->isSelected())
            source.selectedRows.push_back(static_cast<uint32_t>(row));
    WindowCopyQuestions questions(this);
    WindowCopyProgress progress(this);
    return store::CopyPartitions(source, utf8(targetPath), command, questions, progress, &m_callback,
                                 m_options.exports);
}

void TfrmMain::runCopyCommand(store::CopyCommand command)
{
    if (!m_store)
        return;
    QCoreApplication::processEvents();
    const QString path =
        chooseFile(FileDialogKind::CopyTarget, QString::fromStdString(store::copyDialogTitle(command)));
    if (path.isEmpty())
        return;
    if (command == store::CopyCommand::Span || command == store::CopyCommand::Combine)
        lstImage->selectAll();
    if (copySelectedPartitionsTo(path, command) == rc::kOk)
        OpenImageFile(path, store::MissingImage::Fail);
}

void TfrmMain::itmImageNewClick()
{
    const QString path = chooseFile(FileDialogKind::NewImage, tr8("New Image File"));
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        ShowMessageBox(this, store::translatedMessage("The file %s cannot be replaced.", {utf8(path)}),
                       MessageKind::Error);
        return;
    }
    OpenImageFile(path);
}

void TfrmMain::itmImageOpenClick()
{
    const QString path = chooseFile(FileDialogKind::OpenImage, tr8("Open Image File"));
    if (!path.isEmpty())
        OpenImageFile(path);
    const bool haveRecent = lstRecentImages->count() > 0;
    lstImage->setEnabled(haveRecent);
    for (QAction *a : {itmRemoveEntry, itmImageRemoveEntry, itmClearList, itmImageClearList})
        a->setEnabled(haveRecent);
}

void TfrmMain::closeImageCommand()
{
    itmImageCloseClick();
    m_currentImagePath.clear();
    // Nothing is open: neither the title nor the recent list may still point at the image just closed.
    setTitle(TitleState::Plain);
    lstRecentImages->setCurrentRow(-1);
    lstRecentImages->clearSelection();
}

void TfrmMain::itmImageCloseClick()
{
    m_store.reset();
    lstImage->clear();
    m_filling = true;
    edtImageName->clear();
    mmoImageComment->clear();
    m_filling = false;
    UpdateMenus();
    UpdateStatusBar();
}

void TfrmMain::itmImageNameClick()
{
    if (!m_store)
        return;
    TfrmImageName dialog(this, edtImageName->text());
    if (dialog.exec() != mrOk)
        return;
    m_filling = true;
    edtImageName->setText(dialog.newText());
    m_filling = false;
    writeImageName();
}

void TfrmMain::itmImageCommentClick()
{
    if (!m_store)
        return;
    TfrmImageComment dialog(this, mmoImageComment->toPlainText());
    if (dialog.exec() != mrOk)
        return;
    mmoImageComment->setPlainText(dialog.newText()); // its change handler writes the comment
}

void TfrmMain::editPartitionText(bool name)
{
    const int i = lstImage->currentRow();
    if (!m_store || i < 0)
        return;
    if (const int error = m_store->SelectPartition(static_cast<uint32_t>(i) + 1, 0)) {
        reportUnsavedChange(error);
        return;
    }
    const std::string current =
        name ? store::readStoreText(*m_store, &ImageStore::GetPartitionName, store::kPartitionNameBufferSize)
             : store::readStoreText(*m_store, &ImageStore::GetPartitionComment, 256);
    {
        std::unique_ptr<TextChangeDialog> dialog;
        if (name)
            dialog = std::make_unique<TfrmPartitionName>(this, QString::fromStdString(current));
        else
            dialog = std::make_unique<TfrmPartitionComment>(this, QString::fromStdString(current));
        if (dialog->exec() == mrOk) {
            const int error = name
                                  ? m_store->SetPartitionName(toStoreText(dialog->newText(), 99).c_str())
                                  : m_store->SetPartitionComment(toStoreText(dialog->newText(), 255).c_str());
            if (error != 0)
                reportUnsavedChange(error);
        }
    }
    (void)m_store->ReleasePartition(1); // releasing a partition that was only read or renamed cannot fail
    QListWidgetItem *recent = lstRecentImages->currentItem();
    OpenImageFile(recent ? recent->text() : m_currentImagePath, store::MissingImage::Fail);
    if (i < lstImage->count()) {
        lstImage->setCurrentRow(i);
        lstImage->clearSelection();
        lstImage->item(i)->setSelected(true);
    }
}

void TfrmMain::itmPartitionNameClick()
{
    editPartitionText(true);
}
void TfrmMain::itmPartitionCommentClick()
{
    editPartitionText(false);
}

void TfrmMain::itmImageSpanClick()
{
    runCopyCommand(store::CopyCommand::Span);
}
void TfrmMain::itmImageCombineClick()
{
    runCopyCommand(store::CopyCommand::Combine);
}
void TfrmMain::itmPartitionCopyClick()
{
    runCopyCommand(store::CopyCommand::Copy);
}
void TfrmMain::itmPartitionCompressClick()
{
    runCopyCommand(store::CopyCommand::Compress);
}
void TfrmMain::itmPartitionUncompressClick()
{
    runCopyCommand(store::CopyCommand::Uncompress);
}
void TfrmMain::itmPartitionFileRestoreClick()
{
    const QList<int> rows = selectedRows();
    if (!m_store || rows.isEmpty())
        return;
    FileRestoreOptions options;
    options.store = m_store.get();
    options.partition = static_cast<uint32_t>(rows.front()) + 1;
    options.partitionRow = utf8(lstImage->item(rows.front())->text());
    RecentImageIndex association(*this);
    options.association = &association;
    options.saveIndex = [this](restore::PARTITION_ACCESS &access) { return SaveImageIndex(access); };
    options.chooseIndexFile = [this](const QString &start) {
        return chooseFile(FileDialogKind::OpenIndex, tr8("Open"), start);
    };
    options.targetDirectory = m_targetDirectory;
    options.chooseDirectory = m_options.chooseDirectory;
    std::unique_ptr<restore::PARTITION_ACCESS> access;
    {
        TfrmFileRestore window(this, std::move(options));
        window.exec();
        m_targetDirectory = window.edtTargetDir->text();
        access = window.takeAccess();
    }
    // An index built in memory while browsing is offered for saving before it is dropped with the partition.
    if (access)
        offerIndexSave(this, *access, association,
                       [this](const QString &start) { return chooseIndexSaveFile(start); });
    access.reset();
    (void)m_store->ReleasePartition(1); // restoring only reads the partition
}

int TfrmMain::SaveImageIndex(restore::PARTITION_ACCESS &access)
{
    RecentImageIndex association(*this);
    return ui::SaveImageIndex(this, access, association,
                              [this](const QString &start) { return chooseIndexSaveFile(start); });
}

void TfrmMain::itmPartitionFileRestoreDblClick()
{
    if (itmPartitionFileRestore->isEnabled())
        itmPartitionFileRestoreClick();
}

void TfrmMain::itmPartitionDeleteClick()
{
    if (!m_store)
        return;
    std::vector<uint32_t> rows;
    for (int row : selectedRows())
        rows.push_back(static_cast<uint32_t>(row));
    const int current = lstImage->currentRow();
    if (rows.size() < 2 && current < 0)
        return;
    int result = 0;
    {
        WindowDeleteQuestions questions(this);
        result = store::DeletePartitions(*m_store, rows, static_cast<uint32_t>(current), questions);
    }
    if (result != 0 && result != rc::kCancelled)
        reportStoreRefusal("Not every partition could be deleted from '%s'.", result);
    QListWidgetItem *recent = lstRecentImages->currentItem();
    OpenImageFile(recent ? recent->text() : m_currentImagePath, store::MissingImage::Fail);
}

void TfrmMain::itmPartitionPropertiesClick()
{
    const int i = lstImage->currentRow();
    if (!m_store || i < 0)
        return;
    TfrmProperties dialog(this, *m_store, static_cast<uint32_t>(i) + 1);
    dialog.exec();
}

void TfrmMain::itmImageRemoveEntryClick()
{
    const int index = lstRecentImages->currentRow();
    if (index < 0)
        return;
    const std::string question =
        store::translatedMessage("Remove '%s' from the list?", {utf8(lstRecentImages->item(index)->text())});
    if (ShowMessageBox(this, question, MessageKind::Confirmation, MessageButtons::YesNo) == mrYes) {
        delete lstRecentImages->takeItem(index);
        if (lstRecentImages->count() == 0) {
            itmImageCloseClick();
            setTitle(TitleState::Plain);
        } else {
            const int next = std::min(index, lstRecentImages->count() - 1);
            lstRecentImages->setCurrentRow(next);
            SetCurrentImageFile(next);
        }
    }
    UpdateMenus();
}

void TfrmMain::itmImageClearListClick()
{
    if (ShowMessageBox(this, Translate("Clear the Recent Images List?"), MessageKind::Confirmation,
                       MessageButtons::YesNo) != mrYes)
        return;
    lstRecentImages->clear();
    itmImageCloseClick();
    setTitle(TitleState::Plain);
}

void TfrmMain::itmImageExitClick()
{
    // The engine keeps no process-wide objects that need releasing before the window closes.
    close();
}

void TfrmMain::itmContentsClick()
{
    const QString help = QDir(m_options.programDir).filePath(QStringLiteral("Fenlow.html"));
    if (!QFileInfo::exists(help)) {
        ShowMessageBox(this, store::translatedMessage("The help file %s cannot be opened.", {utf8(help)}),
                       MessageKind::Error);
        return;
    }
    const QUrl url = QUrl::fromLocalFile(help);
    const bool inBrowser = m_options.openUrl ? m_options.openUrl(url) : QDesktopServices::openUrl(url);
    if (inBrowser)
        return;
    // No browser could be started: the program shows the help itself.
    if (helpWindow.isNull())
        helpWindow = new TfrmHelp(this, help);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void TfrmMain::itmLanguageClick()
{
    translate::InterfaceLanguage *language = m_options.language;
    if (language == nullptr)
        return;
    TIvLanguageSelectDialog dialog(this, language->languages(), language->currentLocale());
    if (dialog.exec() == mrOk && dialog.selectedIndex() >= 0) {
        translate::DictionaryStatus status = language->selectLanguage(dialog.selectedIndex());
        if (!status.ok()) {
            ShowMessageBox(this, status.error, MessageKind::Error);
        } else {
            QSettings settings(QStringLiteral("Korvane"), QStringLiteral("Image Utility"));
            settings.setValue(QStringLiteral("Language"),
                              QStringLiteral("%1").arg(language->currentLocale(), 4, 16, QLatin1Char('0')));
        }
        retranslate();
    }
    lstImage->clearSelection();
    if (lstImage->count() > 0) {
        lstImage->setCurrentRow(0);
        lstImage->item(0)->setSelected(true);
    }
}

void TfrmMain::reopenImage()
{
    if (!m_currentImagePath.isEmpty() && isEnabled())
        OpenImageFile(m_currentImagePath, store::MissingImage::Fail);
}

void TfrmMain::itmAboutClick()
{
    TfrmAbout about(this, QCoreApplication::applicationFilePath());
    about.exec();
}

} // namespace imbrex::ui
