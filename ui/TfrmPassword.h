// The password dialog of a protected partition, and the password and media questions of the core answered
// with windows.
#pragma once

#include <QtWidgets/QDialog>
#include <QtWidgets/QLineEdit>

#include "MessageBox.h"
#include "imgstore/IMGSTORE_UI_CALLBACK.h"
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

// The store's media questions as message boxes over the main window.
class IMFE_IMGSTORE_UI_CALLBACK : public IMGSTORE_UI_CALLBACK
{
public:
    explicit IMFE_IMGSTORE_UI_CALLBACK(QWidget *owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget *owner) { m_owner = owner; }

    bool PromptNewMediaForFile(const char *file) override;
    bool PromptReinsertFirstMedia(const char *file) override;
    bool PromptFirstMedia(const char *file) override;
    bool PromptLastMedia(const char *file) override;
    bool PromptNextMedia(const char *file) override;
    bool PromptMediaWithFile(const char *file) override;
    bool PromptNewNumberedMedia(const char *file, int number) override;
    bool PromptNumberedMedia(const char *file, int number) override;
    void ReportMediaFull() override;
    void ReportMediaNotReady() override;
    void ReportWrongMedia() override;
    void ReportMediaHasSetFiles() override;
    bool ConfirmDeleteMediaFiles(uint32_t value) override;
    bool ConfirmReplaceFile(const char *file) override;

private:
    bool ask(store::MediaPrompt prompt, const char *file = nullptr, int number = 0);

    QWidget *m_owner;
};

} // namespace imbrex::ui
