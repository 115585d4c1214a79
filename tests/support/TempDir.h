// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace imbrex::test {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::string file(const std::string &name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// The repository's source directory (for fixtures and scripts) and the build directory (for built tools).
std::filesystem::path sourceDir();
std::filesystem::path binaryDir();
// Where the test run keeps the real volumes made by tests/fixtures/make-fixtures.sh.
std::filesystem::path fixtureDir();

} // namespace imbrex::test
