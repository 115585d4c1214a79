#include "RestoreQuestionDialog.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include "controls/TTransparentImage.h"
#include "translate/WidgetTranslator.h"
#include "ui/DialogSupport.h"
#include "ui/ModalResult.h"

namespace imbrex::ui {

RestoreQuestionDialog::RestoreQuestionDialog(QWidget *owner, const char *objectName, const char *caption,
                                             const char *question, const char *allCaption,
                                             const QString &message, bool offerAll)
    : QDialog(owner)
{
    setObjectName(QString::fromLatin1(objectName));
    setWindowTitle(QString::fromLatin1(caption));
    auto *outer = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    auto *warning = new controls::TTransparentImage(this);
    warning->setObjectName(QStringLiteral("imgWarning"));
    warning->SetTransparentColor(Qt::red);
    warning->SetPicture(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    top->addWidget(warning, 0, Qt::AlignTop);
    mmoMessage = new QPlainTextEdit(message, this);
    mmoMessage->setObjectName(QStringLiteral("mmoMessage"));
    mmoMessage->setProperty("imbrexValue", true);
    mmoMessage->setReadOnly(true);
    mmoMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoMessage->setFixedSize(320, 64);
    top->addWidget(mmoMessage);
    outer->addLayout(top);
    lblReplace = new QLabel(QString::fromLatin1(question), this);
    lblReplace->setObjectName(QStringLiteral("lblReplace"));
    outer->addWidget(lblReplace);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btnYes = makeResultButton(this, "btnYes", QStringLiteral("&Yes"), mrYes);
    btnNo = makeResultButton(this, "btnNo", QStringLiteral("&No"), mrNo);
    btnYesAll = makeResultButton(this, "btnYesAll", QString::fromLatin1(allCaption), mrOk);
    btnCancel = makeResultButton(this, "btnCancel", QStringLiteral("&Cancel"), mrCancel);
    btnYes->setDefault(true);
    for (QPushButton *b : {btnYes, btnNo, btnYesAll, btnCancel})
        buttons->addWidget(b);
    btnYesAll->setVisible(offerAll);
    btnCancel->setVisible(offerAll);
    outer->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    centreOver(this, owner);
    QApplication::beep();
}

restore::RestoreQuestions::Answer RestoreQuestionDialog::ask()
{
    using Answer = restore::RestoreQuestions::Answer;
    switch (exec()) {
    case mrYes:
        return Answer::Yes;
    case mrNo:
        return Answer::No;
    case mrOk:
        return Answer::All;
    default:
        return btnCancel->isVisibleTo(this) ? Answer::Cancel : Answer::No;
    }
}

} // namespace imbrex::ui
