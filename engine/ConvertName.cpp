#include "engine/ConvertName.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/Utf8.h"
#include "platform/Charset.h"

namespace imbrex::engine {

namespace {

constexpr char32_t kReplacement = U'_';
constexpr char32_t kInvalid = 0xFFFFFFFF;
constexpr const char *kUtf32 = "UTF-32LE";
constexpr char32_t kAsciiEnd = 0x80;

std::atomic<bool> g_nativeConversions{true};

// The chosen sets, shared by every thread. Each thread keeps converters of its own (ThreadCharsets) and
// picks up a change through the generation.
struct Settings
{
    std::mutex mutex;
    std::string oem = "CP437";
    std::string ansi; // empty: the locale's
    std::atomic<uint64_t> generation{1};
};

Settings &settings()
{
    static Settings s;
    return s;
}

// The locale's set, UTF-8 when the locale names none or only ASCII.
std::string_view localeCharset()
{
    const std::string_view codeset = platform::localeCodeset();
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII")
        return "UTF-8";
    return codeset;
}

bool isUtf8Name(std::string_view name)
{
    auto equalsIgnoringCase = [name](std::string_view other) {
        return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
            return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
        });
    };
    return equalsIgnoringCase("UTF-8") || equalsIgnoringCase("UTF8");
}

bool charsetKnown(const std::string &name)
{
    return platform::CharsetConverter(kUtf32, name.c_str()).ok();
}

std::string codePageName(int codePage)
{
    if (codePage == 65001)
        return "UTF-8";
    return "CP" + std::to_string(codePage);
}

char32_t loadUtf32(const char *p)
{
    const auto *u = reinterpret_cast<const unsigned char *>(p);
    return static_cast<char32_t>(u[0] | (u[1] << 8) | (u[2] << 16) | (char32_t{u[3]} << 24));
}

// The length of the well-formed UTF-8 sequence at the start of s (n bytes) and its code point, or 0 when it
// is not one: overlong forms, surrogates and code points beyond U+10FFFF are not.
size_t utf8Sequence(const unsigned char *s, size_t n, char32_t &codePoint)
{
    const unsigned char lead = s[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length = 0;
    char32_t c = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1Fu;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (n < length)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (s[k] & 0x3Fu);
    }
    if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    codePoint = c;
    return length;
}

// A byte that does not begin a well-formed sequence becomes kInvalid, and decoding goes on behind it.
void decodeUtf8(std::string_view text, std::vector<char32_t> &out)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t length = utf8Sequence(s + i, text.size() - i, c);
        out.push_back(length == 0 ? kInvalid : c);
        i += length == 0 ? 1 : length;
    }
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One 8-bit character set as one thread converts with it. UTF-8 is decoded and encoded here; any other set
// goes through converters opened on first use and kept while the set stays chosen. A set that reads and
// writes every ASCII character as itself (checked when its converter opens) passes ASCII through without
// the converter: names are mostly ASCII.
class Charset
{
public:
    // Chooses the set; the converters are closed when it changes.
    void select(std::string_view name)
    {
        if (name == m_name && m_selected)
            return;
        m_name.assign(name);
        m_selected = true;
        m_utf8 = isUtf8Name(m_name);
        m_decoder.close();
        m_encoder.close();
        m_decoderTried = m_encoderTried = false;
        m_asciiDecodesAsItself = m_asciiEncodesAsItself = false;
    }

    // Appends the code points of text; bytes that do not decode become kInvalid. False when the C library
    // does not offer the set.
    bool decode(std::string_view text, std::vector<char32_t> &out)
    {
        if (m_utf8 && g_nativeConversions.load(std::memory_order_relaxed)) {
            decodeUtf8(text, out);
            return true;
        }
        if (!openDecoder())
            return false;
        if (m_asciiDecodesAsItself && g_nativeConversions.load(std::memory_order_relaxed) && isAscii(text)) {
            for (const char c : text)
                out.push_back(static_cast<unsigned char>(c));
            return true;
        }
        convertAll(text, out);
        return true;
    }

    // Writes code points in the set, "_" for those without an equivalent, zero-terminated within size bytes
    // and cut before the first character that does not fit. False when the C library does not offer the set.
    bool encode(const std::vector<char32_t> &text, char *dest, size_t size)
    {
        const bool native = g_nativeConversions.load(std::memory_order_relaxed);
        if (!(m_utf8 && native) && !openEncoder())
            return false;
        size_t used = 0;
        char one[64];
        for (const char32_t c : text) {
            size_t length = 0;
            if (c == kInvalid) {
                // stays without an equivalent
            } else if (m_utf8 && native) {
                length = encodeUtf8(c, one);
            } else if (c < kAsciiEnd && m_asciiEncodesAsItself && native) {
                one[0] = static_cast<char>(c);
                length = 1;
            } else {
                length = encodeOne(c, one, sizeof one);
            }
            if (length == 0) {
                one[0] = static_cast<char>(kReplacement);
                length = 1;
            }
            if (length > size - 1 - used)
                break;
            std::memcpy(dest + used, one, length);
            used += length;
        }
        dest[used] = '\0';
        return true;
    }

private:
    bool openDecoder()
    {
        if (!m_decoderTried) {
            m_decoderTried = true;
            m_decoder = platform::CharsetConverter(kUtf32, m_name.c_str());
            m_asciiDecodesAsItself = m_decoder.ok() && asciiDecodesAsItself();
        }
        return m_decoder.ok();
    }

    bool openEncoder()
    {
        if (!m_encoderTried) {
            m_encoderTried = true;
            m_encoder = platform::CharsetConverter(m_name.c_str(), kUtf32);
            m_asciiEncodesAsItself = m_encoder.ok() && asciiEncodesAsItself();
        }
        return m_encoder.ok();
    }

    // Converts all of text with the decoder. On a byte that does not decode the converter stops before
    // it: it becomes kInvalid and the conversion goes on behind it. What a set holds back at the end (a
    // letter waiting for a combining mark, in the sets that compose) is written out at the end.
    void convertAll(std::string_view text, std::vector<char32_t> &out)
    {
        char buffer[256];
        auto take = [&](const char *end) {
            for (const char *p = buffer; p + 4 <= end; p += 4)
                out.push_back(loadUtf32(p));
        };
        const char *in = text.data();
        size_t inLeft = text.size();
        while (inLeft > 0) {
            char *outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const platform::ConvertStop stop = m_decoder.convert(in, inLeft, outPtr, outLeft);
            take(outPtr);
            if (stop == platform::ConvertStop::InvalidInput ||
                stop == platform::ConvertStop::IncompleteInput) {
                out.push_back(kInvalid);
                ++in;
                --inLeft;
            }
        }
        // Finishing also brings the converter back to its initial state for the next name.
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        if (m_decoder.finish(outPtr, outLeft) == platform::ConvertStop::Done)
            take(outPtr);
        else
            m_decoder.reset();
    }

    // The bytes of one code point converted on its own from the initial state, or 0 when it has no
    // equivalent in the set.
    size_t encodeOne(char32_t c, char *out, size_t size)
    {
        const char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                            static_cast<char>((c >> 16) & 0xFF), static_cast<char>((c >> 24) & 0xFF)};
        m_encoder.reset();
        const char *inPtr = in;
        size_t inLeft = sizeof in;
        char *outPtr = out;
        size_t outLeft = size;
        if (m_encoder.convert(inPtr, inLeft, outPtr, outLeft) != platform::ConvertStop::Done)
            return 0;
        if (m_encoder.finish(outPtr, outLeft) != platform::ConvertStop::Done)
            return 0;
        return size - outLeft;
    }

    // True when the run of bytes 1..0x7F decodes to the same code points: then a name of ASCII bytes is its
    // own code points. A lead byte of a multi-byte set or a byte that shifts state changes what follows it in
    // the run, and fails the check.
    bool asciiDecodesAsItself()
    {
        std::string run;
        for (char32_t b = 1; b < kAsciiEnd; ++b)
            run.push_back(static_cast<char>(b));
        std::vector<char32_t> got;
        convertAll(run, got);
        return std::equal(got.begin(), got.end(), run.begin(), run.end(),
                          [](char32_t c, char b) { return c == static_cast<unsigned char>(b); });
    }

    // True when the run of code points 1..0x7F encodes to the same bytes, nothing before, between or after
    // them: then each of them, converted on its own, is its own byte.
    bool asciiEncodesAsItself()
    {
        char in[4 * (kAsciiEnd - 1)];
        for (char32_t c = 1; c < kAsciiEnd; ++c) {
            const size_t at = 4 * (c - 1);
            in[at] = static_cast<char>(c);
            in[at + 1] = in[at + 2] = in[at + 3] = 0;
        }
        char out[2 * sizeof in];
        m_encoder.reset();
        const char *inPtr = in;
        size_t inLeft = sizeof in;
        char *outPtr = out;
        size_t outLeft = sizeof out;
        if (m_encoder.convert(inPtr, inLeft, outPtr, outLeft) != platform::ConvertStop::Done ||
            m_encoder.finish(outPtr, outLeft) != platform::ConvertStop::Done)
            return false;
        if (sizeof out - outLeft != kAsciiEnd - 1)
            return false;
        for (char32_t c = 1; c < kAsciiEnd; ++c)
            if (static_cast<unsigned char>(out[c - 1]) != c)
                return false;
        return true;
    }

    std::string m_name;
    bool m_selected = false;
    bool m_utf8 = false;
    bool m_decoderTried = false;
    bool m_encoderTried = false;
    bool m_asciiDecodesAsItself = false;
    bool m_asciiEncodesAsItself = false;
    platform::CharsetConverter m_decoder; // the set -> UTF-32LE
    platform::CharsetConverter m_encoder; // UTF-32LE -> the set
};

// The sets as the calling thread converts with them, brought up to date with the settings.
struct ThreadCharsets
{
    uint64_t generation = 0;
    std::string ansiSetting;
    Charset oem;
    Charset ansi;
    std::vector<char32_t> text; // scratch for one conversion
};

ThreadCharsets &threadCharsets()
{
    thread_local ThreadCharsets charsets;
    Settings &s = settings();
    if (const uint64_t generation = s.generation.load(std::memory_order_acquire);
        generation != charsets.generation) {
        std::lock_guard lock(s.mutex);
        charsets.oem.select(s.oem);
        charsets.ansiSetting = s.ansi;
        charsets.generation = s.generation.load(std::memory_order_relaxed);
    }
    // The locale may change under a running program; its set is looked at on every call.
    charsets.ansi.select(charsets.ansiSetting.empty() ? localeCharset()
                                                      : std::string_view(charsets.ansiSetting));
    return charsets;
}

void decode16(const void *source, std::vector<char32_t> &out)
{
    const auto *bytes = static_cast<const unsigned char *>(source);
    auto unitAt = [bytes](size_t i) {
        char16_t u;
        std::memcpy(&u, bytes + 2 * i, sizeof u);
        return u;
    };
    for (size_t i = 0;; ++i) {
        const char16_t u = unitAt(i);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            const char16_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out.push_back(0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
                ++i;
                continue;
            }
            out.push_back(kInvalid);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            out.push_back(kInvalid);
        } else {
            out.push_back(u);
        }
    }
}

void encode16(const std::vector<char32_t> &text, void *dest, size_t sizeBytes)
{
    const size_t capacity = sizeBytes / 2; // units, including the terminating 0
    auto *bytes = static_cast<unsigned char *>(dest);
    size_t used = 0;
    auto put = [&](size_t at, char16_t u) { std::memcpy(bytes + 2 * at, &u, sizeof u); };
    if (capacity == 0)
        return;
    for (char32_t c : text) {
        if (c == kInvalid)
            c = kReplacement;
        const size_t need = c >= 0x10000 ? 2 : 1;
        if (need > capacity - 1 - used)
            break;
        if (need == 2) {
            put(used++, static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            put(used++, static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            put(used++, static_cast<char16_t>(c));
        }
    }
    put(used, 0);
}

void copy8(const char *source, char *dest, size_t size)
{
    const size_t n = strnlen(source, size - 1);
    std::memcpy(dest, source, n);
    dest[n] = '\0';
}

size_t length16(const void *source)
{
    const auto *bytes = static_cast<const unsigned char *>(source);
    size_t n = 0;
    while (bytes[2 * n] != 0 || bytes[2 * n + 1] != 0)
        ++n;
    return n;
}

int setCharset(std::string Settings::*which, std::string name, bool check = true)
{
    if (check && !charsetKnown(name))
        return 1;
    Settings &s = settings();
    std::lock_guard lock(s.mutex);
    s.*which = std::move(name);
    s.generation.fetch_add(1, std::memory_order_release);
    return 0;
}

} // namespace

int ConvertName(int targetKind, void *destination, int sourceKind, const void *source, size_t destinationSize)
{
    if (destination == nullptr || source == nullptr || targetKind < kNameOem || targetKind > kNameUtf16 ||
        sourceKind < kNameOem || sourceKind > kNameUtf16)
        return 1;
    if (destinationSize == 0 || (targetKind == kNameUtf16 && destinationSize < 2))
        return 0;
    auto *dest8 = static_cast<char *>(destination);
    const auto *src8 = static_cast<const char *>(source);

    // Plain copies and the byte-wise forms need no character set.
    if (targetKind == sourceKind || (targetKind != kNameUtf16 && targetKind != kNameOem &&
                                     sourceKind != kNameOem && sourceKind != kNameUtf16)) {
        if (targetKind == kNameUtf16) {
            const size_t units = std::min(length16(source), destinationSize / 2 - 1);
            std::memcpy(destination, source, units * 2);
            std::memset(dest8 + units * 2, 0, 2);
        } else {
            copy8(src8, dest8, destinationSize);
        }
        return 0;
    }
    if (targetKind == kNameText && sourceKind == kNameUtf16) {
        const auto *bytes = static_cast<const unsigned char *>(source);
        const size_t n = std::min(length16(source), destinationSize - 1);
        for (size_t i = 0; i < n; ++i) {
            char16_t u;
            std::memcpy(&u, bytes + 2 * i, sizeof u);
            dest8[i] = static_cast<char>(u & 0xFF);
        }
        dest8[n] = '\0';
        return 0;
    }

    ThreadCharsets &charsets = threadCharsets();
    std::vector<char32_t> &text = charsets.text;
    text.clear();
    if (targetKind == kNameUtf16 && sourceKind == kNameText) {
        for (const char *p = src8; *p != '\0'; ++p)
            text.push_back(static_cast<unsigned char>(*p));
        encode16(text, destination, destinationSize);
        return 0;
    }

    if (sourceKind == kNameUtf16)
        decode16(source, text);
    else if (!(sourceKind == kNameOem ? charsets.oem : charsets.ansi).decode(src8, text))
        return 1;

    if (targetKind == kNameUtf16) {
        encode16(text, destination, destinationSize);
        return 0;
    }
    // OEM is the target only for kind 0; kinds 1 and 2 both mean ANSI text here.
    Charset &target = targetKind == kNameOem ? charsets.oem : charsets.ansi;
    return target.encode(text, dest8, destinationSize) ? 0 : 1;
}

int setOemCodePage(int codePage)
{
    return setOemCharset(codePageName(codePage));
}

int setAnsiCodePage(int codePage)
{
    if (codePage == 0)
        return setCharset(&Settings::ansi, std::string(), false);
    return setAnsiCharset(codePageName(codePage));
}

int setOemCharset(std::string_view name)
{
    return setCharset(&Settings::oem, std::string(name));
}

int setAnsiCharset(std::string_view name)
{
    return setCharset(&Settings::ansi, std::string(name));
}

std::string oemCharset()
{
    Settings &s = settings();
    std::lock_guard lock(s.mutex);
    return s.oem;
}

std::string ansiCharset()
{
    Settings &s = settings();
    std::unique_lock lock(s.mutex);
    if (!s.ansi.empty())
        return s.ansi;
    lock.unlock();
    return std::string(localeCharset());
}

void useNativeNameConversions(bool use)
{
    g_nativeConversions.store(use, std::memory_order_relaxed);
}

std::string utf16ToAnsi(std::u16string_view name)
{
    std::u16string source(name);
    std::string out(name.size() * 4 + 1, '\0');
    ConvertName(kNameAnsi, out.data(), kNameUtf16, source.c_str(), out.size());
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string oemToAnsi(std::string_view name)
{
    std::string source(name);
    std::string out(name.size() * 4 + 1, '\0');
    ConvertName(kNameAnsi, out.data(), kNameOem, source.c_str(), out.size());
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::u16string ansiToUtf16(std::string_view name)
{
    std::string source(name);
    std::u16string out(name.size() + 1, u'\0');
    ConvertName(kNameUtf16, out.data(), kNameAnsi, source.c_str(), out.size() * 2);
    out.resize(std::char_traits<char16_t>::length(out.c_str()));
    return out;
}

} // namespace imbrex::engine
