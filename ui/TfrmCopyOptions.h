// The options of a copy: where the partitions go, the compression, the password and the split size. The
// dialog starts from the state the copy hands it and gives that state back; OK runs the copy's own checks and
// keeps the dialog open, with the field corrected, until they pass.
#pragma once

#include <QtWidgets/QCheckBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>

#include "store/CopyPartitions.h"

namespace imbrex::ui {

class TfrmCopyOptions : public QDialog
{
    Q_OBJECT
public:
    TfrmCopyOptions(QWidget *owner, const store::CopyOptionsState &state);

    // The controls as the person left them, with the two dirty flags.
    store::CopyOptionsState state() const;

    // The controls, named as in the window's design.
    QLabel *lblPartitionName;
    QPlainTextEdit *mmoImageFile;
    QRadioButton *NoChangeRadioButton, *NoneRadioButton, *LowRadioButton, *HighRadioButton;
    QRadioButton *rdbSamePassword, *rdbNoPassword, *rdbSetNewPassword;
    QLabel *lblPassword, *lblConfirmPassword, *lblFileSize;
    QLineEdit *edtPassword, *edtConfirmPassword, *edtFileSize;
    QCheckBox *chkSplitImage;
    QPushButton *btnOk, *btnCancel;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fill(const store::CopyOptionsState &state);
    void enablePasswordFields(bool enabled);
    void rdbSetNewPasswordClick();
    void chkSplitImageClick();
    void btnOkClick();
    void edtConfirmPasswordExit();
    void edtFileSizeExit();

    store::CopyOptionsState m_state; // what the dialog does not show: the label and the target
    bool m_passwordDirty = false;
    bool m_fileSizeDirty = false;
    bool m_filling = false; // the dialog itself is writing the fields
};

} // namespace imbrex::ui
