#include "engine/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace imbrex::engine {

namespace {
DiagnosticSink g_sink;
}

void logDiagnostic(const char *format, ...)
{
    const bool toStderr = !g_sink && std::getenv("IMBREX_DEBUG") != nullptr;
    if (!g_sink && !toStderr)
        return;
    char line[kMaxDiagnosticLine + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        return;
    const size_t length =
        static_cast<size_t>(n) < kMaxDiagnosticLine ? static_cast<size_t>(n) : kMaxDiagnosticLine;
    if (g_sink)
        g_sink(std::string_view(line, length));
    else
        std::fwrite(line, 1, length, stderr);
}

DiagnosticSink setDiagnosticSink(DiagnosticSink sink)
{
    return std::exchange(g_sink, std::move(sink));
}

} // namespace imbrex::engine
