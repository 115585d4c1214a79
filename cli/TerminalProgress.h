// A progress bar on standard error when it is a terminal, with Ctrl-C as Cancel.
#pragma once

#include <string>

#include "common/Progress.h"

namespace imbrex::cli {

class TerminalProgress final : public Progress
{
public:
    TerminalProgress();
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

    void setAction(const std::string &text) override;
    bool update(uint64_t done, uint64_t total) override;

private:
    void draw(int percent);

    bool m_visible;
    std::string m_action;
    int m_shown = -1;
};

} // namespace imbrex::cli
