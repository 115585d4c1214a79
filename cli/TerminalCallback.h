// The image store's questions, asked on the terminal. Without a terminal nobody can insert media, so prompts
// are answered with Cancel; replacing an existing part file is allowed only when the user said --force.
#pragma once

#include "imgstore/IMGSTORE_UI_CALLBACK.h"

namespace imbrex::cli {

class TerminalCallback final : public IMGSTORE_UI_CALLBACK
{
public:
    explicit TerminalCallback(bool replaceFiles = false) : m_replaceFiles(replaceFiles) {}

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
    bool m_replaceFiles;
};

} // namespace imbrex::cli
