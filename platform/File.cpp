#include "File.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "common/ResultCodes.h"

namespace imbrex::platform {

namespace {

IoFaultHook g_faultHook = nullptr;

int injected(IoOperation operation, const std::string &path, uint64_t offset, size_t length)
{
    return g_faultHook ? g_faultHook(operation, path, offset, length) : 0;
}

int lastError(const std::string &path)
{
    return mapErrno(errno, path);
}

} // namespace

void setIoFaultHook(IoFaultHook hook)
{
    g_faultHook = hook;
}

int askIoFaultHook(IoOperation operation, const std::string &path, uint64_t offset, size_t length)
{
    return injected(operation, path, offset, length);
}

int mapErrno(int err, const std::string &path)
{
    switch (err) {
    case ENOENT: {
        std::string dir = directoryOf(path);
        struct stat st
        {
        };
        if (dir != "." && ::stat(dir.c_str(), &st) != 0)
            return kErrorPathNotFound;
        return kErrorFileNotFound;
    }
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return kErrorAccessDenied;
    case ENXIO:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
        return kErrorNotReady;
    case EEXIST:
        return kErrorFileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kErrorDiskFull;
    case ECANCELED:
        return kErrorCancelled;
    case ENOMEM:
        return rc::kOutOfMemory;
    default:
        return rc::kIoError;
    }
}

File::~File()
{
    close();
}

File::File(File &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

File &File::operator=(File &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

int File::open(const std::string &path, FileAccess access)
{
    return openChecked(path, access == FileAccess::Read ? O_RDONLY : O_RDWR, false);
}

int File::openVolume(const std::string &path)
{
    return openChecked(path, O_RDONLY, true);
}

int File::openChecked(const std::string &path, int flags, bool blockDeviceAllowed)
{
    close();
    auto acceptable = [blockDeviceAllowed](const struct stat &st) {
        return S_ISREG(st.st_mode) || (blockDeviceAllowed && S_ISBLK(st.st_mode));
    };
    // Opening a FIFO for reading waits for a writer, and opening a device can wait for its medium: look
    // first, and open without waiting in case the name changed in between.
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return lastError(path);
    if (!acceptable(st))
        return kErrorAccessDenied;
    int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return lastError(path);
    if (::fstat(fd, &st) != 0 || !acceptable(st)) {
        ::close(fd);
        return kErrorAccessDenied;
    }
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        int e = lastError(path);
        ::close(fd);
        return e;
    }
    m_fd = fd;
    m_path = path;
    return 0;
}

int File::createExclusive(const std::string &path)
{
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return lastError(path);
    m_fd = fd;
    m_path = path;
    return 0;
}

int File::createReplacing(const std::string &path)
{
    close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == ELOOP ? kErrorAccessDenied : lastError(path);
    m_fd = fd;
    m_path = path;
    return 0;
}

int File::readAt(uint64_t offset, std::span<std::byte> data, size_t *got)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pread(m_fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError(m_path);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    *got = done;
    return 0;
}

int File::writeAt(uint64_t offset, std::span<const std::byte> data)
{
    if (int e = injected(IoOperation::Write, m_path, offset, data.size()))
        return e;
    return writeAllAt(offset, data);
}

int File::writeAllAt(uint64_t offset, std::span<const std::byte> data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(m_fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return lastError(m_path);
        }
        if (n == 0)
            return kErrorDiskFull;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int File::sync()
{
    if (int e = injected(IoOperation::Sync, m_path, 0, 0))
        return e;
    if (::fsync(m_fd) != 0)
        return lastError(m_path);
    return 0;
}

int File::truncate(uint64_t size)
{
    if (int e = injected(IoOperation::Truncate, m_path, size, 0))
        return e;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        return lastError(m_path);
    return 0;
}

int File::size(uint64_t *out) const
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        return lastError(m_path);
    if (S_ISBLK(st.st_mode)) {
        // A block device's size is not in its status; its end is.
        off_t end = ::lseek(m_fd, 0, SEEK_END);
        if (end < 0)
            return lastError(m_path);
        *out = static_cast<uint64_t>(end);
        return 0;
    }
    *out = static_cast<uint64_t>(st.st_size);
    return 0;
}

bool File::tryLockExclusive()
{
    return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

void File::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool fileExists(const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0;
}

FileKind fileKindOf(const std::string &path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return FileKind::Missing;
    if (S_ISREG(st.st_mode))
        return FileKind::Regular;
    if (S_ISDIR(st.st_mode))
        return FileKind::Directory;
    if (S_ISBLK(st.st_mode))
        return FileKind::BlockDevice;
    if (S_ISCHR(st.st_mode))
        return FileKind::CharacterDevice;
    if (S_ISFIFO(st.st_mode))
        return FileKind::Fifo;
    if (S_ISSOCK(st.st_mode))
        return FileKind::Socket;
    return FileKind::Other;
}

bool isSameFile(const std::string &a, const std::string &b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isReadOnlyFile(const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

int createDirectory(const std::string &path)
{
    if (::mkdir(path.c_str(), 0777) != 0)
        return errno == ENOENT ? kErrorPathNotFound : lastError(path);
    return 0;
}

int queryPath(const std::string &path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return lastError(path);
    return 0;
}

int removeFile(const std::string &path)
{
    if (::unlink(path.c_str()) != 0)
        return lastError(path);
    return 0;
}

int replaceFile(const std::string &from, const std::string &to)
{
    if (int e = injected(IoOperation::Replace, to, 0, 0))
        return e;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return lastError(to);
    int dir = ::open(directoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return 0;
}

std::string directoryOf(const std::string &path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string &path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace imbrex::platform
