#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace imbrex::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "imbrex-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_path, ec);
}

static std::filesystem::path fromEnvironment(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::filesystem::path(value) : std::filesystem::path(fallback);
}

std::filesystem::path sourceDir()
{
    return fromEnvironment("IMBREX_SOURCE_DIR", IMBREX_DEFAULT_SOURCE_DIR);
}
std::filesystem::path binaryDir()
{
    return fromEnvironment("IMBREX_BINARY_DIR", IMBREX_DEFAULT_BINARY_DIR);
}

std::filesystem::path fixtureDir()
{
    return fromEnvironment("IMBREX_FIXTURE_DIR", IMBREX_DEFAULT_FIXTURE_DIR);
}

} // namespace imbrex::test
