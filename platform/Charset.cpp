#include "Charset.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <utility>

namespace imbrex::platform {

namespace {

constexpr auto kFailed = static_cast<size_t>(-1);

ConvertStop stopFor(size_t result)
{
    if (result != kFailed)
        return ConvertStop::Done;
    switch (errno) {
    case E2BIG:
        return ConvertStop::OutputFull;
    case EINVAL:
        return ConvertStop::IncompleteInput;
    default:
        return ConvertStop::InvalidInput;
    }
}

} // namespace

std::string_view localeCodeset()
{
    const char *codeset = nl_langinfo(CODESET);
    return codeset ? std::string_view(codeset) : std::string_view();
}

CharsetConverter::CharsetConverter(const char *to, const char *from)
{
    iconv_t handle = iconv_open(to, from);
    if (handle != reinterpret_cast<iconv_t>(-1))
        m_handle = handle;
}

CharsetConverter::~CharsetConverter()
{
    close();
}

CharsetConverter::CharsetConverter(CharsetConverter &&other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr))
{
}

CharsetConverter &CharsetConverter::operator=(CharsetConverter &&other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void CharsetConverter::close()
{
    if (m_handle)
        iconv_close(static_cast<iconv_t>(m_handle));
    m_handle = nullptr;
}

ConvertStop CharsetConverter::convert(const char *&in, size_t &inLeft, char *&out, size_t &outLeft)
{
    if (!m_handle)
        return ConvertStop::InvalidInput;
    // iconv does not write through its input pointer; its signature predates const.
    char *inPtr = const_cast<char *>(in);
    const size_t result = iconv(static_cast<iconv_t>(m_handle), &inPtr, &inLeft, &out, &outLeft);
    in = inPtr;
    return stopFor(result);
}

ConvertStop CharsetConverter::finish(char *&out, size_t &outLeft)
{
    if (!m_handle)
        return ConvertStop::InvalidInput;
    return stopFor(iconv(static_cast<iconv_t>(m_handle), nullptr, nullptr, &out, &outLeft));
}

void CharsetConverter::reset()
{
    if (m_handle)
        iconv(static_cast<iconv_t>(m_handle), nullptr, nullptr, nullptr, nullptr);
}

} // namespace imbrex::platform
