// Directories held open, so that files and directories below them are created, replaced and opened by name
// relative to the directory above, never through a symbolic link that someone placed on the way.
#pragma once

#include <cstdint>
#include <string>

namespace imbrex::platform {

class File;

// A symbolic link stands where a directory or file is to be written; it is not followed.
inline constexpr int kErrorSymbolicLink = 1921;
// Something that is not a directory stands where a directory must be.
inline constexpr int kErrorNotADirectory = 267;

// A point in time as seconds since 1970-01-01 UTC and nanoseconds.
struct FileTime
{
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
};

// The time a local calendar date and time stand for in this machine's time zone; false when the date or time
// is not a real one (month 13, 30 February, 25 o'clock, ...).
bool localDateTime(int year, int month, int day, int hour, int minute, int second, FileTime *out);

// Creates the directory at path and every missing one above it, from the top down.
[[nodiscard]] int createDirectoryPath(const std::string &path);

enum class EntryKind
{
    Missing,
    File,
    Directory,
    SymbolicLink,
    Other,
};

class Directory
{
public:
    Directory() = default;
    ~Directory();
    Directory(Directory &&other) noexcept;
    Directory &operator=(Directory &&other) noexcept;
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    // Opens the directory at path. Links inside path are followed: the path is the user's own choice.
    [[nodiscard]] int open(const std::string &path);
    // Opens the directory name inside parent; a symbolic link there is refused (kErrorSymbolicLink), a file
    // gives kErrorNotADirectory.
    [[nodiscard]] int openChild(const Directory &parent, const std::string &name);

    // What stands at name inside this directory, without following a link.
    [[nodiscard]] int kindOf(const std::string &name, EntryKind *kind) const;
    [[nodiscard]] int makeDirectory(const std::string &name) const;
    // Creates a new file under a hidden name of its own in this directory; *name receives that name.
    [[nodiscard]] int createTemporary(File &file, std::string *name) const;
    // Gives the entry from the name to; with replace an existing file or link at to is replaced (never
    // written through), without it an existing entry makes this fail with kErrorFileExists.
    [[nodiscard]] int rename(const std::string &from, const std::string &to, bool replace) const;
    [[nodiscard]] int remove(const std::string &name) const;
    // Sets this directory's modification time (its access time becomes now).
    [[nodiscard]] int setModificationTime(FileTime time) const;
    // The same for a file open for writing.
    [[nodiscard]] static int setModificationTime(const File &file, FileTime time);

    bool isOpen() const { return m_fd >= 0; }
    // The directory's path, for messages.
    const std::string &path() const { return m_path; }
    std::string pathOf(const std::string &name) const { return m_path + "/" + name; }
    void close();

private:
    int m_fd = -1;
    std::string m_path;
};

} // namespace imbrex::platform
