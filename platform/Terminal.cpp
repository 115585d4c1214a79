#include "Terminal.h"

#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace imbrex::platform {

bool canAskOnTerminal()
{
    return ::isatty(STDIN_FILENO) == 1 && errorStreamIsTerminal();
}

bool errorStreamIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> askLine(const std::string &prompt)
{
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    return line;
}

std::optional<std::string> askSecret(const std::string &prompt)
{
    termios saved{};
    bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<std::string> line = askLine(prompt);
    if (terminal) {
        (void)::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return line;
}

} // namespace imbrex::platform
