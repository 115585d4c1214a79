// ConvertName: converts file-system names between the disk's OEM character set, the ANSI character set of
// the user interface and of local file names, plain 8-bit text and UTF-16. Each thread converts with
// converters of its own.
//
// The OEM set defaults to code page 437 and the ANSI set to the locale's character set (UTF-8 when the
// locale names none or only ASCII); both can be changed. Characters without an equivalent in the target set
// become "_". Sources are zero-terminated; every result is zero-terminated and cut at the destination size
// without splitting a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace imbrex::engine {

enum NameKind : int
{
    kNameOem = 0,  // 8-bit, OEM character set
    kNameAnsi = 1, // 8-bit, ANSI character set
    kNameText =
        2, // 8-bit text: taken as ANSI, widened byte by byte to UTF-16, narrowed from UTF-16 by low byte
    kNameUtf16 = 3, // UTF-16 in host byte order, destination size counted in bytes
};

// Converts source (of sourceKind) into destination (of targetKind, destinationSize bytes). 0, or 1 for an
// unknown kind, a null pointer, or a character set the C library does not offer. A destinationSize of 0
// writes nothing.
int ConvertName(int targetKind, void *destination, int sourceKind, const void *source,
                size_t destinationSize);

// Selects the OEM and ANSI sets by Windows code page number (437, 850, 1252, 65001 for UTF-8, ...) or by
// the C library's name. 0, or 1 when the C library does not know the set (the setting is then unchanged).
// Code page 0 for ANSI goes back to the locale's set.
int setOemCodePage(int codePage);
int setAnsiCodePage(int codePage);
int setOemCharset(std::string_view name);
int setAnsiCharset(std::string_view name);
std::string oemCharset();
std::string ansiCharset();

// UTF-8, and ASCII names in sets that keep ASCII as it is, are converted without the C library's
// converters, with the same results. false sends every conversion through the converters, so that tests can
// compare the two.
void useNativeNameConversions(bool use);

// Conveniences over ConvertName for callers that hold std::string / std::u16string.
std::string utf16ToAnsi(std::u16string_view name);
std::string oemToAnsi(std::string_view name);
std::u16string ansiToUtf16(std::string_view name);

} // namespace imbrex::engine
