// The engine's diagnostic lines. Each line is formatted printf-style and cut to at most kMaxDiagnosticLine
// characters. By default lines go to stderr, and only while the environment variable IMBREX_DEBUG is set;
// an installed sink receives every line instead (tests capture lines this way).
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace imbrex::engine {

inline constexpr size_t kMaxDiagnosticLine = 1024;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void logDiagnostic(const char *format, ...);

using DiagnosticSink = std::function<void(std::string_view line)>;
// Installs sink (an empty one restores the default) and returns the sink installed before.
DiagnosticSink setDiagnosticSink(DiagnosticSink sink);

} // namespace imbrex::engine
