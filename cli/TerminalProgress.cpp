#include "TerminalProgress.h"

#include <csignal>
#include <cstdio>

#include "platform/Terminal.h"

namespace imbrex::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
}

} // namespace

TerminalProgress::TerminalProgress() : m_visible(platform::errorStreamIsTerminal())
{
    g_interrupted = 0;
    std::signal(SIGINT, onInterrupt);
}

TerminalProgress::~TerminalProgress()
{
    if (m_visible && m_shown >= 0)
        std::fputs("\n", stderr);
    std::signal(SIGINT, SIG_DFL);
}

void TerminalProgress::setAction(const std::string &text)
{
    m_action = text;
    m_shown = -1;
}

bool TerminalProgress::update(uint64_t done, uint64_t total)
{
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (percent > 100)
        percent = 100;
    if (m_visible && percent != m_shown)
        draw(percent);
    return g_interrupted == 0;
}

void TerminalProgress::draw(int percent)
{
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < percent * kWidth / 100 ? '#' : ' ';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%  %s", bar, percent, m_action.c_str());
    std::fflush(stderr);
    m_shown = percent;
}

} // namespace imbrex::cli
