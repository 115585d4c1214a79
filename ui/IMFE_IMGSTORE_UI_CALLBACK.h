// The image store's media prompts (insert, wrong or full media, replace a file) shown as message boxes over
// the main window.
#pragma once

#include <QtWidgets/QWidget>

#include "imgstore/IMGSTORE_UI_CALLBACK.h"
#include "store/Prompts.h"

namespace imbrex::ui {

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
