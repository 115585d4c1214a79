#include "TfrmPassword.h"

#include <QtWidgets/QGridLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

#include "DialogSupport.h"
#include "ModalResult.h"
#include "translate/WidgetTranslator.h"

namespace imbrex::ui {

TfrmPassword::TfrmPassword(QWidget *owner, const QString &partitionName) : QDialog(owner)
{
    setObjectName(QStringLiteral("TfrmPassword"));
    setWindowTitle(QStringLiteral("Get Password"));
    auto *outer = new QVBoxLayout(this);
    auto *message = new QLabel(QStringLiteral("This partition is password protected."), this);
    message->setObjectName(QStringLiteral("lblMessage"));
    outer->addWidget(message);
    auto *grid = new QGridLayout;
    auto *nameLabel = new QLabel(QStringLiteral("Partition name:"), this);
    nameLabel->setObjectName(QStringLiteral("lblPartitionNameLabel"));
    auto *name = new QLabel(partitionName, this);
    name->setObjectName(QStringLiteral("lblPartitionName"));
    name->setProperty("imbrexValue", true);
    name->setTextFormat(Qt::PlainText);
    auto *passwordLabel = new QLabel(QStringLiteral("&Password:"), this);
    passwordLabel->setObjectName(QStringLiteral("lblPassword"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("edtPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_password);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(name, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(m_password, 1, 1);
    outer->addLayout(grid);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *ok = makeResultButton(this, "btnOK", QStringLiteral("&OK"), mrOk);
    ok->setDefault(true); // Enter in the password field presses it
    buttons->addWidget(ok);
    buttons->addWidget(makeResultButton(this, "btnCancel", QStringLiteral("&Cancel"), mrCancel));
    outer->addLayout(buttons);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    translate::translateWindow(this);
    centreOver(this, owner);
}

std::optional<std::string> WindowPasswordQuestions::askPassword(const std::string &partitionName)
{
    TfrmPassword dialog(m_owner, QString::fromStdString(partitionName));
    dialog.edtPassword()->setFocus();
    if (dialog.exec() != mrOk)
        return std::nullopt;
    return dialog.edtPassword()->text().toStdString();
}

void WindowPasswordQuestions::showMessage(const std::string &text, MessageKind kind)
{
    ShowMessageBox(m_owner, text, kind, MessageButtons::Ok);
}

} // namespace imbrex::ui
