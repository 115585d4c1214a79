#include "engine/ConvertName.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace imbrex::engine {

namespace {

constexpr char32_t kReplacement = U'_';
constexpr char32_t kInvalid = 0xFFFFFFFF;
constexpr std::string_view kUtf32 = "UTF-32LE";

std::string g_oemCharset = "CP437";
std::string g_ansiCharset; // empty: the locale's

// An iconv descriptor closed when it goes out of scope.
class Iconv
{
public:
    Iconv(const std::string &to, const std::string &from) : m_cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

    // Converts all of in; false when iconv stops on a character it cannot convert or an incomplete one.
    bool convert(const char *in, size_t inLength, std::string &out)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        out.clear();
        char *inPtr = const_cast<char *>(in);
        size_t inLeft = inLength;
        char buffer[64];
        while (inLeft > 0) {
            char *outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t r = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, sizeof buffer - outLeft);
            if (r == static_cast<size_t>(-1) && errno != E2BIG)
                return false;
        }
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return false;
        out.append(buffer, sizeof buffer - outLeft);
        return true;
    }

private:
    iconv_t m_cd;
};

// Opening a conversion loads the character set's module, which costs far more than converting one name; the
// descriptors are kept for the run of the program.
Iconv &cachedIconv(const std::string &to, const std::string &from)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, std::unique_ptr<Iconv>> cache;
    std::lock_guard lock(mutex);
    auto &slot = cache[{to, from}];
    if (!slot)
        slot = std::make_unique<Iconv>(to, from);
    iconv(slot->handle(), nullptr, nullptr, nullptr, nullptr);
    return *slot;
}

std::string localeCharset()
{
    const char *codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
        std::strcmp(codeset, "ASCII") == 0)
        return "UTF-8";
    return codeset;
}

std::string currentAnsi()
{
    return g_ansiCharset.empty() ? localeCharset() : g_ansiCharset;
}

bool charsetKnown(const std::string &name)
{
    Iconv probe(std::string(kUtf32), name);
    return probe.ok();
}

std::string codePageName(int codePage)
{
    if (codePage == 65001)
        return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// Decodes 8-bit text in charset into code points; bytes that do not decode become kInvalid. Returns false
// when iconv does not offer the charset.
bool decode8(const std::string &charset, std::string_view text, std::vector<char32_t> &out)
{
    Iconv &cd = cachedIconv(std::string(kUtf32), charset);
    if (!cd.ok())
        return false;
    size_t i = 0;
    // Convert as much as possible at once; on a bad byte, record it and continue behind it.
    while (i < text.size()) {
        char *inPtr = const_cast<char *>(text.data() + i);
        size_t inLeft = text.size() - i;
        std::vector<char> buffer(inLeft * 4 + 8);
        char *outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t r = iconv(cd.handle(), &inPtr, &inLeft, &outPtr, &outLeft);
        const size_t produced = buffer.size() - outLeft;
        for (size_t k = 0; k + 4 <= produced; k += 4) {
            const auto *u = reinterpret_cast<const unsigned char *>(buffer.data() + k);
            out.push_back(static_cast<char32_t>(u[0] | (u[1] << 8) | (u[2] << 16) | (u[3] << 24)));
        }
        i = text.size() - inLeft;
        if (r == static_cast<size_t>(-1)) {
            out.push_back(kInvalid);
            ++i;
        }
    }
    return true;
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

// Encodes one code point into charset; false when it has no equivalent there.
bool encodeOne(Iconv &cd, char32_t c, std::string &out)
{
    if (c == kInvalid)
        return false;
    const unsigned char in[4] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                                 static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 24)};
    return cd.convert(reinterpret_cast<const char *>(in), sizeof in, out) && !out.empty();
}

// Writes code points as 8-bit text in charset, "_" for those without an equivalent, zero-terminated within
// size bytes. Returns false when iconv does not offer the charset.
bool encode8(const std::string &charset, const std::vector<char32_t> &text, char *dest, size_t size)
{
    Iconv &cd = cachedIconv(charset, std::string(kUtf32));
    if (!cd.ok())
        return false;
    size_t used = 0;
    std::string one;
    for (const char32_t c : text) {
        if (!encodeOne(cd, c, one))
            one.assign(1, static_cast<char>(kReplacement));
        if (one.size() > size - 1 - used)
            break;
        std::memcpy(dest + used, one.data(), one.size());
        used += one.size();
    }
    dest[used] = '\0';
    return true;
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
    if (targetKind == kNameUtf16 && sourceKind == kNameText) {
        std::vector<char32_t> widened;
        for (const char *p = src8; *p != '\0'; ++p)
            widened.push_back(static_cast<unsigned char>(*p));
        encode16(widened, destination, destinationSize);
        return 0;
    }

    std::vector<char32_t> text;
    if (sourceKind == kNameUtf16)
        decode16(source, text);
    else if (!decode8(sourceKind == kNameOem ? g_oemCharset : currentAnsi(), src8, text))
        return 1;

    if (targetKind == kNameUtf16) {
        encode16(text, destination, destinationSize);
        return 0;
    }
    // OEM is the target only for kind 0; kinds 1 and 2 both mean ANSI text here.
    const std::string &charset = targetKind == kNameOem ? g_oemCharset : currentAnsi();
    return encode8(charset, text, dest8, destinationSize) ? 0 : 1;
}

int setOemCodePage(int codePage)
{
    return setOemCharset(codePageName(codePage));
}

int setAnsiCodePage(int codePage)
{
    if (codePage == 0) {
        g_ansiCharset.clear();
        return 0;
    }
    return setAnsiCharset(codePageName(codePage));
}

int setOemCharset(std::string_view iconvName)
{
    std::string name(iconvName);
    if (!charsetKnown(name))
        return 1;
    g_oemCharset = std::move(name);
    return 0;
}

int setAnsiCharset(std::string_view iconvName)
{
    std::string name(iconvName);
    if (!charsetKnown(name))
        return 1;
    g_ansiCharset = std::move(name);
    return 0;
}

std::string oemCharset()
{
    return g_oemCharset;
}

std::string ansiCharset()
{
    return currentAnsi();
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
