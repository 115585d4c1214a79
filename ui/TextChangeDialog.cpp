#include "TextChangeDialog.h"

#include <algorithm>

#include <QtGui/QFontDatabase>
#include <QtWidgets/QFrame>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "ModalResult.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

namespace {
// Room for the window icon and the minimise, maximise and close buttons around the title text.
constexpr int kTitleBarAllowance = 140;
} // namespace

TextChangeDialog::TextChangeDialog(QWidget *owner, const TextChangeDialogLayout &layout,
                                   const QString &current)
    : QDialog(owner)
{
    setObjectName(QString::fromLatin1(layout.windowName));
    setWindowTitle(QString::fromLatin1(layout.caption));
    auto *outer = new QVBoxLayout(this);
    auto *bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("bvlMain"));
    bevel->setFrameShape(QFrame::StyledPanel);
    bevel->setFrameShadow(QFrame::Sunken);
    auto *grid = new QVBoxLayout(bevel);
    auto *currentLabel = new QLabel(QString::fromLatin1(layout.currentLabel), bevel);
    auto *newLabel = new QLabel(QString::fromLatin1(layout.newLabel), bevel);
    QWidget *currentControl = nullptr;
    QWidget *newControl = nullptr;
    if (layout.multiLine) {
        m_currentMemo = new QPlainTextEdit(current, bevel);
        m_currentMemo->setReadOnly(true);
        m_newMemo = new QPlainTextEdit(current, bevel);
        m_currentMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_newMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_currentMemo->setFixedHeight(80);
        m_newMemo->setFixedHeight(80);
        currentControl = m_currentMemo;
        newControl = m_newMemo;
    } else {
        m_currentLine = new QLineEdit(current, bevel);
        m_currentLine->setReadOnly(true);
        m_newLine = new QLineEdit(current, bevel);
        if (layout.maxLength > 0)
            m_newLine->setMaxLength(layout.maxLength);
        m_newLine->selectAll();
        currentControl = m_currentLine;
        newControl = m_newLine;
    }
    currentControl->setObjectName(QString::fromLatin1(layout.currentName));
    currentControl->setFocusPolicy(Qt::NoFocus);
    QPalette face = currentControl->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    currentControl->setPalette(face);
    newControl->setObjectName(QString::fromLatin1(layout.newName));
    newLabel->setBuddy(newControl);
    grid->addWidget(currentLabel);
    grid->addWidget(currentControl);
    grid->addWidget(newLabel);
    grid->addWidget(newControl);
    outer->addWidget(bevel);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = makeResultButton(this, "btnOK", QStringLiteral("&OK"), mrOk);
    ok->setDefault(true);
    QPushButton *cancel = makeResultButton(this, "btnCancel", QStringLiteral("&Cancel"), mrCancel);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);
    setSizeGripEnabled(false);
    this->layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    // A fixed-size dialog takes the width its layout asks for, which the line edits keep narrow; the
    // window manager then cuts the title. The content is made wide enough for the translated title beside
    // the title bar's icon and buttons.
    const QFontMetrics titleMetrics(QFontDatabase::systemFont(QFontDatabase::TitleFont));
    bevel->setMinimumWidth(std::max(340, titleMetrics.horizontalAdvance(windowTitle()) + kTitleBarAllowance));
    newControl->setFocus();
    centreOver(this, owner);
}

QString TextChangeDialog::newText() const
{
    return m_newLine ? m_newLine->text() : m_newMemo->toPlainText();
}

void TextChangeDialog::setNewText(const QString &text)
{
    if (m_newLine)
        m_newLine->setText(text);
    else
        m_newMemo->setPlainText(text);
}

TfrmImageName::TfrmImageName(QWidget *owner, const QString &current)
    : TextChangeDialog(owner,
                       {"TfrmImageName", "Change Image Name", "edtCurrentImageName",
                        "Current image name:", "edtNewImageName", "&New image name:", false, 99},
                       current)
{
}

TfrmImageComment::TfrmImageComment(QWidget *owner, const QString &current)
    : TextChangeDialog(owner,
                       {"TfrmImageComment", "Change Image Comment", "mmoCurrentImageComment",
                        "Current image comment:", "mmoNewImageComment", "&New image comment:", true, 0},
                       current)
{
}

TfrmPartitionName::TfrmPartitionName(QWidget *owner, const QString &current)
    : TextChangeDialog(owner,
                       {"TfrmPartitionName", "Change Partition Name", "edtCurrentPartitionName",
                        "Current partition name:", "edtNewPartitionName", "&New partition name:", false, 99},
                       current)
{
}

TfrmPartitionComment::TfrmPartitionComment(QWidget *owner, const QString &current)
    : TextChangeDialog(owner,
                       {"TfrmPartitionComment", "Change Partition Comment", "edtCurrentPartitionComment",
                        "Current partition comment:", "edtNewPartitionComment",
                        "&New partition comment:", false, 255},
                       current)
{
}

} // namespace imbrex::ui
