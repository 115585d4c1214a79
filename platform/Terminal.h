// The terminal of the command-line tool: questions, and whether progress can be drawn.
#pragma once

#include <optional>
#include <string>

namespace imbrex::platform {

// True when standard input and standard error are both a terminal, so a person can be asked.
bool canAskOnTerminal();
// True when standard error is a terminal, so that a progress bar redrawn in place can be shown there.
bool errorStreamIsTerminal();
// Shows prompt on standard error and reads one line from standard input; nullopt at end of input.
std::optional<std::string> askLine(const std::string &prompt);
// The same without echoing what is typed, for passwords.
std::optional<std::string> askSecret(const std::string &prompt);

} // namespace imbrex::platform
