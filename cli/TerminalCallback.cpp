#include "TerminalCallback.h"

#include <cstdio>
#include <string>

#include "platform/Terminal.h"

namespace imbrex::cli {

namespace {

// The person is told what to do, and OK is Enter; anything else typed, or no terminal, is Cancel.
bool prompt(const std::string &text)
{
    std::fprintf(stderr, "zbitool: %s\n", text.c_str());
    if (!platform::canAskOnTerminal())
        return false;
    auto answer = platform::askLine("Press Enter when ready, or type c and Enter to cancel: ");
    return answer && (answer->empty() || *answer == "ok" || *answer == "OK");
}

bool confirm(const std::string &text)
{
    std::fprintf(stderr, "zbitool: %s\n", text.c_str());
    if (!platform::canAskOnTerminal())
        return false;
    auto answer = platform::askLine("[y/N] ");
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

void report(const std::string &text)
{
    std::fprintf(stderr, "zbitool: %s\n", text.c_str());
}

std::string file(const char *name)
{
    return name ? name : "";
}

} // namespace

bool TerminalCallback::PromptNewMediaForFile(const char *name)
{
    return prompt("File " + file(name) + " is being created. Make room for it, or insert new media.");
}
bool TerminalCallback::PromptReinsertFirstMedia(const char *name)
{
    return prompt("File " + file(name) + " needs to be updated. Reinsert the first media of the image set.");
}
bool TerminalCallback::PromptFirstMedia(const char *name)
{
    return prompt("File " + file(name) + " needs to be opened. Insert the first media of the image set.");
}
bool TerminalCallback::PromptLastMedia(const char *name)
{
    return prompt("File " + file(name) + " needs to be opened. Insert the last media of the image set.");
}
bool TerminalCallback::PromptNextMedia(const char *name)
{
    return prompt("File " + file(name) + " needs to be opened. Insert the next media.");
}
bool TerminalCallback::PromptMediaWithFile(const char *name)
{
    return prompt("File " + file(name) + " is missing. Put it beside the first file of the image set.");
}
bool TerminalCallback::PromptNewNumberedMedia(const char *name, int number)
{
    return prompt("Insert a new media " + std::to_string(number) + " for file " + file(name) + ".");
}
bool TerminalCallback::PromptNumberedMedia(const char *name, int number)
{
    return prompt("Insert media " + std::to_string(number) + " containing file " + file(name) + ".");
}
void TerminalCallback::ReportMediaFull()
{
    report("The media is full.");
}
void TerminalCallback::ReportMediaNotReady()
{
    report("The media is not ready.");
}
void TerminalCallback::ReportWrongMedia()
{
    report("The media does not contain the correct file.");
}
void TerminalCallback::ReportMediaHasSetFiles()
{
    report("The media already contains files from this image set.");
}
bool TerminalCallback::ConfirmDeleteMediaFiles(uint32_t)
{
    return confirm("The media contains files. Is it ok to delete the files?");
}
bool TerminalCallback::ConfirmReplaceFile(const char *name)
{
    if (m_replaceFiles)
        return true;
    return confirm("File " + file(name) +
                   " already exists. Do you want to replace it? Existing data in file will be lost.");
}

} // namespace imbrex::cli
