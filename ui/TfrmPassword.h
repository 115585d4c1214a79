// The password dialog of a protected partition, and the core's password questions answered with it.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QLineEdit>

#include "MessageBox.h"
#include "store/Prompts.h"

namespace imbrex::ui {

class TfrmPassword : public QDialog
{
    Q_OBJECT
public:
    TfrmPassword(QWidget *owner, const QString &partitionName);

    QLineEdit *edtPassword() const { return m_password; }

private:
    QLineEdit *m_password;
};

// Asks with TfrmPassword; wrong passwords are told with a message box over owner.
class WindowPasswordQuestions : public store::PasswordQuestions
{
public:
    explicit WindowPasswordQuestions(QWidget *owner) : m_owner(owner) {}
    std::optional<std::string> askPassword(const std::string &partitionName) override;
    void showMessage(const std::string &text, MessageKind kind) override;

private:
    QWidget *m_owner;
};

} // namespace imbrex::ui
