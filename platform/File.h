// Files of the local file system, with error codes mapped from the operating system to the fixed numbers the
// program uses: 2 not found (3 when a directory of the path is missing), 5 access denied, 21 device not
// ready, 80 file exists, 112 disk full, and 1911 for any other input or output error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace imbrex::platform {

inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorNotReady = 21;
inline constexpr int kErrorFileExists = 80;
inline constexpr int kErrorDiskFull = 112;
inline constexpr int kErrorCancelled = 1235;

// The error code of the operating system's last failure on path.
int mapErrno(int err, const std::string &path);

enum class FileAccess
{
    Read,
    ReadWrite,
};

class File
{
public:
    File() = default;
    ~File();
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // Each returns 0 or an error code of the list above.
    // Opens a regular file; anything else (a FIFO, a device, a directory) is refused with 5 without waiting
    // for a writer or a device.
    [[nodiscard]] int open(const std::string &path, FileAccess access);
    // Opens a raw volume for reading: a regular file or a block device, nothing else.
    [[nodiscard]] int openVolume(const std::string &path);
    // Creates a new file that must not exist yet.
    [[nodiscard]] int createExclusive(const std::string &path);
    // Creates the file or empties an existing one; never follows a symbolic link at path.
    [[nodiscard]] int createReplacing(const std::string &path);

    // Reads up to data.size() bytes at offset; *got is short only at the end of the file.
    [[nodiscard]] int readAt(uint64_t offset, std::span<std::byte> data, size_t *got);
    // Writes all of data at offset or fails.
    [[nodiscard]] int writeAt(uint64_t offset, std::span<const std::byte> data);
    [[nodiscard]] int sync();
    [[nodiscard]] int truncate(uint64_t size);
    [[nodiscard]] int size(uint64_t *out) const;
    // Takes the exclusive writer's lock without waiting: false when another process holds it.
    [[nodiscard]] bool tryLockExclusive();
    void close();

    bool isOpen() const { return m_fd >= 0; }
    const std::string &path() const { return m_path; }

private:
    friend class Directory;
    friend int copyFileRange(File &, uint64_t, File &, uint64_t, uint64_t, std::span<const std::byte>);
    int openChecked(const std::string &path, int flags, bool blockDeviceAllowed);
    // writeAt without asking the fault hook, for a caller that asked it already for a larger write.
    int writeAllAt(uint64_t offset, std::span<const std::byte> data);

    int m_fd = -1;
    std::string m_path;
};

bool fileExists(const std::string &path);

enum class FileKind
{
    Missing,
    Regular,
    Directory,
    BlockDevice,
    CharacterDevice,
    Fifo,
    Socket,
    Other,
};
// What is at path, following symbolic links; Missing when nothing is (or it cannot be looked at).
FileKind fileKindOf(const std::string &path);
// True when both paths name one existing file (same device and inode), by whatever names.
bool isSameFile(const std::string &a, const std::string &b);
// True when the file has no owner write permission (the read-only attribute of other platforms).
bool isReadOnlyFile(const std::string &path);
[[nodiscard]] int removeFile(const std::string &path);
// Creates one directory; its parent must exist (3 otherwise).
[[nodiscard]] int createDirectory(const std::string &path);
// 0 when something exists at path, else the error code (2 or 3 when it is missing).
[[nodiscard]] int queryPath(const std::string &path);
// Replaces to with from in one step, and makes the change durable.
[[nodiscard]] int replaceFile(const std::string &from, const std::string &to);
// The directory part of path ("." when it has none).
std::string directoryOf(const std::string &path);
// The file name and extension of path, without the directory.
std::string fileNameOf(const std::string &path);

// Fault injection for tests: when set, the hook is asked before every write, sync, truncate and replace and
// may fail the operation with a code, or end the process to model a crash at that moment.
enum class IoOperation
{
    Write,
    Sync,
    Truncate,
    Replace,
};
using IoFaultHook = int (*)(IoOperation operation, const std::string &path, uint64_t offset, size_t length);
void setIoFaultHook(IoFaultHook hook);
// What the hook answers for an operation done other than through File (0 when none is set).
int askIoFaultHook(IoOperation operation, const std::string &path, uint64_t offset, size_t length);

} // namespace imbrex::platform
