// Character-set conversion through the C library, and the character set of the current locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace imbrex::platform {

// The current locale's character set as the C library names it ("UTF-8", "ISO-8859-1", "ANSI_X3.4-1968"),
// or an empty view when it names none. Valid until the locale changes.
std::string_view localeCodeset();

enum class ConvertStop
{
    Done,            // all of the input was converted
    InvalidInput,    // the next input is not valid in the source set, or has no equivalent in the target set
    IncompleteInput, // the input ends inside a sequence
    OutputFull,      // the output has no room for the next character
};

// One conversion from one character set to another. A converter keeps a shift state between calls, so each
// user (each thread) needs its own. Opening one loads the sets' tables, which costs far more than
// converting a name: keep it open for as long as it is needed.
class CharsetConverter
{
public:
    CharsetConverter() = default;
    // Sets are named as the C library names them ("UTF-8", "CP437", "UTF-32LE").
    CharsetConverter(const char *to, const char *from);
    ~CharsetConverter();
    CharsetConverter(CharsetConverter &&other) noexcept;
    CharsetConverter &operator=(CharsetConverter &&other) noexcept;
    CharsetConverter(const CharsetConverter &) = delete;
    CharsetConverter &operator=(const CharsetConverter &) = delete;

    // False when the C library offers no conversion between the two sets.
    bool ok() const { return m_handle != nullptr; }
    // Converts from in (inLeft bytes) into out (outLeft bytes of room), advancing all four past what was
    // read and written; why it stopped.
    ConvertStop convert(const char *&in, size_t &inLeft, char *&out, size_t &outLeft);
    // Writes what returns the target to its initial shift state (often nothing).
    ConvertStop finish(char *&out, size_t &outLeft);
    // Back to the initial shift state, discarding anything held back.
    void reset();
    void close();

private:
    void *m_handle = nullptr;
};

} // namespace imbrex::platform
