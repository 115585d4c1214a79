#include "TfrmAssociateIndex.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include "index/IndexCallbacks.h"
#include "index/IndexFile.h"
#include "translate/Translate.h"
#include "translate/WidgetTranslator.h"
#include "ui/DialogSupport.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

namespace {

constexpr int kTextWidth = 400;
constexpr const char *kHelpText =
    "An image index accelerates file restore operations on compressed or spanned ZBI files. If an image "
    "index file was created previously for this image, use Browse to re-associate that index.  Use Create "
    "to generate and save the entire image index before restoring any files or use Continue to generate a "
    "temporary index as needed.  This temporary index may be saved later if desired.";

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// A read-only memo without a border, in the colour of the window behind it.
QPlainTextEdit *makeMemo(QWidget *parent, const char *name)
{
    auto *memo = new QPlainTextEdit(parent);
    memo->setObjectName(QString::fromLatin1(name));
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->document()->setDocumentMargin(0);
    QPalette palette = memo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    memo->setPalette(palette);
    memo->setFocusPolicy(Qt::NoFocus);
    return memo;
}

// Sets the memo's text and makes it exactly as high as the text wrapped to its width needs.
void fillMemo(QPlainTextEdit *memo, const QString &text, int width)
{
    memo->setPlainText(text);
    const QRect needed =
        memo->fontMetrics().boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap | Qt::AlignLeft, text);
    memo->setFixedSize(width + 4, needed.height() + memo->fontMetrics().lineSpacing() / 2);
}

} // namespace

TfrmAssociateIndex::TfrmAssociateIndex(QWidget *owner, index::IndexAssociation &association,
                                       bool &createRequest, IndexFileChooser chooseFile)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_association(association),
      m_createRequest(createRequest), m_chooseFile(std::move(chooseFile))
{
    setObjectName(QStringLiteral("TfrmAssociateIndex"));
    setWindowTitle(QStringLiteral("Associate Image Index"));
    auto *outer = new QVBoxLayout(this);

    auto *top = new QHBoxLayout;
    imgWarning = new controls::TTransparentImage(this);
    imgWarning->setObjectName(QStringLiteral("imgWarning"));
    imgWarning->SetTransparentColor(Qt::red);
    imgWarning->SetPicture(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    top->addWidget(imgWarning, 0, Qt::AlignTop);
    mmoErrorMsg = makeMemo(this, "mmoErrorMsg");
    top->addWidget(mmoErrorMsg, 1, Qt::AlignVCenter);
    outer->addLayout(top);

    auto *files = new QGridLayout;
    lblImage = new QLabel(QStringLiteral("Image File:"), this);
    lblImage->setObjectName(QStringLiteral("lblImage"));
    lblImageName = makeValueLabel(this, "lblImageName");
    lblIndex = new QLabel(QStringLiteral("Index File:"), this);
    lblIndex->setObjectName(QStringLiteral("lblIndex"));
    lblIndexName = makeValueLabel(this, "lblIndexName");
    files->addWidget(lblImage, 0, 0);
    files->addWidget(lblImageName, 0, 1);
    files->addWidget(lblIndex, 1, 0);
    files->addWidget(lblIndexName, 1, 1);
    files->setColumnStretch(1, 1);
    outer->addLayout(files);

    memHelp = makeMemo(this, "memHelp");
    outer->addWidget(memHelp);

    auto *buttons = new QHBoxLayout;
    btnIgnore = new QPushButton(QStringLiteral("C&ontinue"), this);
    btnIgnore->setObjectName(QStringLiteral("btnIgnore"));
    btnCreate = new QPushButton(QStringLiteral("C&reate..."), this);
    btnCreate->setObjectName(QStringLiteral("btnCreate"));
    btnBrowse = new QPushButton(QStringLiteral("&Browse..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnCancel = makeResultButton(this, "btnCancel", QStringLiteral("&Cancel"), mrCancel);
    buttons->addStretch();
    for (QPushButton *b : {btnIgnore, btnCreate, btnBrowse, btnCancel})
        buttons->addWidget(b);
    buttons->addStretch();
    outer->addLayout(buttons);
    btnIgnore->setDefault(true);
    connect(btnIgnore, &QPushButton::clicked, this, &TfrmAssociateIndex::btnIgnoreClick);
    connect(btnCreate, &QPushButton::clicked, this, &TfrmAssociateIndex::btnCreateClick);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmAssociateIndex::btnBrowseClick);
    setTabOrder(btnIgnore, btnCreate);
    setTabOrder(btnCreate, btnBrowse);
    setTabOrder(btnBrowse, btnCancel);
    btnIgnore->setFocus();

    translate::translateWindow(this);
    fillMemo(memHelp, qs(Translate(kHelpText)), kTextWidth);
    fillMemo(mmoErrorMsg, QString(), kTextWidth - 40);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    QApplication::beep();
}

void TfrmAssociateIndex::showProblem(int code, const std::string &path)
{
    fillMemo(mmoErrorMsg, qs(Translate(index::indexFileMessage(code, path))), kTextWidth - 40);
    lblImageName->setText(qs(m_association.imagePath()));
    lblIndexName->setText(path.empty() ? QLatin1Char('(') + qs(Translate("None")) + QLatin1Char(')')
                                       : qs(path));
}

void TfrmAssociateIndex::btnBrowseClick()
{
    QString start = lblIndexName->text();
    if (start.startsWith(QLatin1Char('(')))
        start = qs(index::proposedIndexPath(m_association.imagePath()));
    const QString chosen = m_chooseFile ? m_chooseFile(start) : QString();
    if (chosen.isEmpty())
        return;
    m_association.setIndexFile(chosen.toStdString());
    done(mrRetry);
}

void TfrmAssociateIndex::btnIgnoreClick()
{
    m_association.setIndexFile(std::string());
    done(mrOk);
}

void TfrmAssociateIndex::btnCreateClick()
{
    m_createRequest = true;
    done(mrOk);
}

void TfrmAssociateIndex::reject()
{
    done(mrCancel);
}

} // namespace imbrex::ui
