// The questions an image store asks a person while it reads or writes an image set spread over several files
// or removable media. The base class answers every prompt with "no" and shows nothing, so a store driven
// without a person (tests, scripts) fails cleanly instead of waiting; windows and the command-line tool
// derive from it.
#pragma once

#include <cstdint>

class IMGSTORE_UI_CALLBACK
{
public:
    virtual ~IMGSTORE_UI_CALLBACK() = default;

    // Prompts: true when the person pressed OK and the store should try again.
    virtual bool PromptNewMediaForFile(const char *file) { return (void)file, false; }
    virtual bool PromptReinsertFirstMedia(const char *file) { return (void)file, false; }
    virtual bool PromptFirstMedia(const char *file) { return (void)file, false; }
    virtual bool PromptLastMedia(const char *file) { return (void)file, false; }
    virtual bool PromptNextMedia(const char *file) { return (void)file, false; }
    virtual bool PromptMediaWithFile(const char *file) { return (void)file, false; }
    virtual bool PromptNewNumberedMedia(const char *file, int number)
    {
        return (void)file, (void)number, false;
    }
    virtual bool PromptNumberedMedia(const char *file, int number) { return (void)file, (void)number, false; }

    // Reports: shown and acknowledged, nothing to answer.
    virtual void ReportMediaFull() {}
    virtual void ReportMediaNotReady() {}
    virtual void ReportWrongMedia() {}
    virtual void ReportMediaHasSetFiles() {}

    // Confirmations: true when the person answered Yes.
    virtual bool ConfirmDeleteMediaFiles(uint32_t value) { return (void)value, false; }
    virtual bool ConfirmReplaceFile(const char *file) { return (void)file, false; }
};
