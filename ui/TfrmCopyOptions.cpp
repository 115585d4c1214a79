#include "TfrmCopyOptions.h"

#include <QtCore/QTimer>
#include <QtGui/QFocusEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "MessageBox.h"
#include "ModalResult.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

namespace {

using store::CompressionChoice;
using store::PasswordChoice;

QRadioButton *makeRadio(QWidget *parent, const char *name, const char *caption)
{
    auto *radio = new QRadioButton(QString::fromLatin1(caption), parent);
    radio->setObjectName(QString::fromLatin1(name));
    return radio;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, bool value = false)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (value) {
        label->setProperty("imbrexValue", true);
        label->setTextFormat(Qt::PlainText);
    }
    return label;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, bool masked)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// A field's own focus leaving it for another field of the dialog, not for OK or Cancel (which run their own
// checks or none) nor for a message box over the dialog.
bool leftForAnotherField(QEvent *event, const QPushButton *ok, const QPushButton *cancel)
{
    if (event->type() != QEvent::FocusOut)
        return false;
    const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
    if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason && reason != Qt::MouseFocusReason &&
        reason != Qt::ShortcutFocusReason)
        return false;
    const QWidget *next = QApplication::focusWidget();
    return next != ok && next != cancel;
}

} // namespace

TfrmCopyOptions::TfrmCopyOptions(QWidget *owner, const store::CopyOptionsState &state)
    : QDialog(owner), m_state(state)
{
    setObjectName(QStringLiteral("TfrmCopyOptions"));
    setWindowTitle(QStringLiteral("Copy Options"));
    auto *outer = new QVBoxLayout(this);

    auto *top = new QGridLayout;
    top->addWidget(makeLabel(this, "lblPartitionNameLabel", QStringLiteral("Partition name:")), 0, 0);
    lblPartitionName = makeLabel(this, "lblPartitionName", {}, true);
    top->addWidget(lblPartitionName, 0, 1);
    top->addWidget(makeLabel(this, "lblToImage", QStringLiteral("To image file:")), 1, 0, Qt::AlignTop);
    mmoImageFile = new QPlainTextEdit(this);
    mmoImageFile->setObjectName(QStringLiteral("mmoImageFile"));
    mmoImageFile->setProperty("imbrexValue", true);
    mmoImageFile->setReadOnly(true);
    mmoImageFile->setFrameShape(QFrame::NoFrame);
    mmoImageFile->viewport()->setAutoFillBackground(false);
    mmoImageFile->setFocusPolicy(Qt::NoFocus);
    mmoImageFile->setFixedSize(300, mmoImageFile->fontMetrics().lineSpacing() * 2 + 8);
    top->addWidget(mmoImageFile, 1, 1);
    outer->addLayout(top);

    auto *compression = new QGroupBox(QStringLiteral("Compression Level"), this);
    compression->setObjectName(QStringLiteral("CompressionLevelGroupBox"));
    auto *compressionRow = new QHBoxLayout(compression);
    NoChangeRadioButton = makeRadio(compression, "NoChangeRadioButton", "No Ch&ange");
    NoneRadioButton = makeRadio(compression, "NoneRadioButton", "&None");
    LowRadioButton = makeRadio(compression, "LowRadioButton", "&Low");
    HighRadioButton = makeRadio(compression, "HighRadioButton", "&High");
    for (QRadioButton *radio : {NoChangeRadioButton, NoneRadioButton, LowRadioButton, HighRadioButton})
        compressionRow->addWidget(radio);
    outer->addWidget(compression);

    auto *varnel = new QGroupBox(QStringLiteral("Image Varnel"), this);
    varnel->setObjectName(QStringLiteral("grpImageVarnel"));
    auto *varnelGrid = new QGridLayout(varnel);
    rdbSamePassword = makeRadio(varnel, "rdbSamePassword", "&Use Same Password");
    rdbNoPassword = makeRadio(varnel, "rdbNoPassword", "No &Password Protection");
    rdbSetNewPassword = makeRadio(varnel, "rdbSetNewPassword", "S&et New Password");
    lblPassword = makeLabel(varnel, "lblPassword", QStringLiteral("Password:"));
    edtPassword = makeEdit(varnel, "edtPassword", true);
    lblConfirmPassword = makeLabel(varnel, "lblConfirmPassword", QStringLiteral("Confirm Password:"));
    edtConfirmPassword = makeEdit(varnel, "edtConfirmPassword", true);
    varnelGrid->addWidget(rdbSamePassword, 0, 0, 1, 2);
    varnelGrid->addWidget(rdbNoPassword, 1, 0, 1, 2);
    varnelGrid->addWidget(rdbSetNewPassword, 2, 0, 1, 2);
    varnelGrid->addWidget(lblPassword, 3, 0);
    varnelGrid->addWidget(edtPassword, 3, 1);
    varnelGrid->addWidget(lblConfirmPassword, 4, 0);
    varnelGrid->addWidget(edtConfirmPassword, 4, 1);
    outer->addWidget(varnel);

    auto *split = new QGroupBox(this);
    split->setObjectName(QStringLiteral("GroupBox1"));
    auto *splitGrid = new QGridLayout(split);
    chkSplitImage = new QCheckBox(QStringLiteral("&Split Image File into Multiple Files"), split);
    chkSplitImage->setObjectName(QStringLiteral("chkSplitImage"));
    lblFileSize = makeLabel(split, "lblFileSize", QStringLiteral("File Size (bytes):"));
    edtFileSize = makeEdit(split, "edtFileSize", false);
    splitGrid->addWidget(chkSplitImage, 0, 0, 1, 2);
    splitGrid->addWidget(lblFileSize, 1, 0);
    splitGrid->addWidget(edtFileSize, 1, 1);
    outer->addWidget(split);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = makeResultButton(this, "btnCancel", QStringLiteral("&Cancel"), mrCancel);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    outer->addLayout(buttons);

    fill(state);

    connect(rdbSamePassword, &QRadioButton::clicked, this, [this] { enablePasswordFields(false); });
    connect(rdbNoPassword, &QRadioButton::clicked, this, [this] { enablePasswordFields(false); });
    connect(rdbSetNewPassword, &QRadioButton::clicked, this, &TfrmCopyOptions::rdbSetNewPasswordClick);
    auto passwordChange = [this] {
        if (!m_filling)
            m_passwordDirty = true;
    };
    connect(edtPassword, &QLineEdit::textChanged, this, passwordChange);
    connect(edtConfirmPassword, &QLineEdit::textChanged, this, passwordChange);
    connect(chkSplitImage, &QCheckBox::clicked, this, &TfrmCopyOptions::chkSplitImageClick);
    connect(edtFileSize, &QLineEdit::textChanged, this, [this] {
        if (!m_filling)
            m_fileSizeDirty = true;
    });
    connect(btnOk, &QPushButton::clicked, this, &TfrmCopyOptions::btnOkClick);
    edtConfirmPassword->installEventFilter(this);
    edtFileSize->installEventFilter(this);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    centreOver(this, owner);
}

void TfrmCopyOptions::fill(const store::CopyOptionsState &state)
{
    m_filling = true;
    lblPartitionName->setText(QString::fromStdString(state.partitionLabel));
    mmoImageFile->setPlainText(QString::fromStdString(state.targetPath));
    switch (state.compression) {
    case CompressionChoice::NoChange:
        NoChangeRadioButton->setChecked(true);
        break;
    case CompressionChoice::None:
        NoneRadioButton->setChecked(true);
        break;
    case CompressionChoice::Low:
        LowRadioButton->setChecked(true);
        break;
    case CompressionChoice::High:
        HighRadioButton->setChecked(true);
        break;
    }
    switch (state.password) {
    case PasswordChoice::Same:
        rdbSamePassword->setChecked(true);
        break;
    case PasswordChoice::None:
        rdbNoPassword->setChecked(true);
        break;
    case PasswordChoice::New:
        rdbSetNewPassword->setChecked(true);
        break;
    }
    enablePasswordFields(state.password == PasswordChoice::New);
    edtPassword->setText(QString::fromStdString(state.newPassword));
    edtConfirmPassword->setText(QString::fromStdString(state.confirmPassword));
    chkSplitImage->setChecked(state.splitImage);
    lblFileSize->setEnabled(state.splitImage);
    edtFileSize->setEnabled(state.splitImage);
    edtFileSize->setText(QString::fromStdString(state.fileSizeText));
    m_passwordDirty = state.passwordDirty;
    m_fileSizeDirty = state.fileSizeDirty;
    m_filling = false;
}

store::CopyOptionsState TfrmCopyOptions::state() const
{
    store::CopyOptionsState state = m_state;
    state.compression = LowRadioButton->isChecked()    ? CompressionChoice::Low
                        : HighRadioButton->isChecked() ? CompressionChoice::High
                        : NoneRadioButton->isChecked() ? CompressionChoice::None
                                                       : CompressionChoice::NoChange;
    state.password = rdbSetNewPassword->isChecked() ? PasswordChoice::New
                     : rdbNoPassword->isChecked()   ? PasswordChoice::None
                                                    : PasswordChoice::Same;
    state.newPassword = edtPassword->text().toStdString();
    state.confirmPassword = edtConfirmPassword->text().toStdString();
    state.passwordDirty = m_passwordDirty;
    state.splitImage = chkSplitImage->isChecked();
    state.fileSizeText = edtFileSize->text().toStdString();
    state.fileSizeDirty = m_fileSizeDirty;
    return state;
}

void TfrmCopyOptions::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_passwordDirty && edtPassword->isEnabled())
        edtPassword->setFocus();
    if (m_fileSizeDirty && edtFileSize->isEnabled())
        edtFileSize->setFocus();
}

bool TfrmCopyOptions::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == edtConfirmPassword || watched == edtFileSize) &&
        leftForAnotherField(event, btnOk, btnCancel)) {
        // Checked once the focus has settled, so that the message box does not open inside the focus change.
        const bool confirm = watched == edtConfirmPassword;
        QTimer::singleShot(0, this, [this, confirm] {
            if (!isVisible())
                return;
            if (confirm)
                edtConfirmPasswordExit();
            else
                edtFileSizeExit();
        });
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmCopyOptions::enablePasswordFields(bool enabled)
{
    for (QWidget *w :
         std::initializer_list<QWidget *>{lblPassword, edtPassword, lblConfirmPassword, edtConfirmPassword})
        w->setEnabled(enabled);
}

void TfrmCopyOptions::rdbSetNewPasswordClick()
{
    if (!rdbSetNewPassword->isChecked())
        return;
    enablePasswordFields(true);
    edtPassword->setFocus();
}

void TfrmCopyOptions::chkSplitImageClick()
{
    const bool split = chkSplitImage->isChecked();
    lblFileSize->setEnabled(split);
    edtFileSize->setEnabled(split);
    if (split) {
        m_fileSizeDirty = true; // even the proposed size is checked at OK
        edtFileSize->setFocus();
    } else {
        btnOk->setFocus();
    }
}

void TfrmCopyOptions::edtConfirmPasswordExit()
{
    auto message = store::ValidatePasswords(edtPassword->text().toStdString(),
                                            edtConfirmPassword->text().toStdString(), m_passwordDirty);
    if (!message)
        return;
    ShowMessageBox(this, *message, MessageKind::Information);
    edtPassword->setFocus();
}

void TfrmCopyOptions::edtFileSizeExit()
{
    if (!chkSplitImage->isChecked())
        return;
    store::FileSizeCheck check = store::ValidateFileSize(edtFileSize->text().toStdString(), m_fileSizeDirty);
    if (check.ok) {
        m_fileSizeDirty = false;
        return;
    }
    ShowMessageBox(this, check.message, MessageKind::Information);
    if (check.correctedText) {
        store::CopyOptionsState corrected = state();
        corrected.fileSizeText = *check.correctedText;
        corrected.fileSizeDirty = false;
        fill(corrected);
    }
    edtFileSize->setFocus();
}

void TfrmCopyOptions::btnOkClick()
{
    store::CopyOptionsState checked = state();
    uint32_t splitSize = 0;
    WindowMessageSink messages(this);
    const bool ok = store::checkCopyOptions(checked, &splitSize, messages);
    const bool passwordsFailed = !ok && checked.password == PasswordChoice::New && checked.passwordDirty;
    fill(checked); // the corrected size, and the flags of the checks that passed
    if (ok) {
        done(mrOk);
        return;
    }
    if (passwordsFailed)
        edtPassword->setFocus();
    else
        edtFileSize->setFocus();
}

} // namespace imbrex::ui
