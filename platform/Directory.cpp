#include "Directory.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "File.h"

namespace imbrex::platform {

namespace {

// Errors of calls relative to a directory: a link met where none may be followed has its own code, and a
// missing name is never "path not found", since the directory above is open.
int mapAtError(int err, const std::string &path)
{
    switch (err) {
    case ELOOP:
        return kErrorSymbolicLink;
    case ENOTDIR:
        return kErrorNotADirectory;
    case ENOENT:
        return kErrorFileNotFound;
    default:
        return mapErrno(err, path);
    }
}

timespec toTimespec(FileTime time)
{
    timespec t{};
    t.tv_sec = static_cast<time_t>(time.seconds);
    t.tv_nsec = static_cast<long>(time.nanoseconds % 1000000000u);
    return t;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::atomic<unsigned> g_temporaryCounter{0};

} // namespace

bool localDateTime(int year, int month, int day, int hour, int minute, int second, FileTime *out)
{
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1; // the zone's own rule for that day
    time_t seconds = ::mktime(&t);
    if (seconds == static_cast<time_t>(-1))
        return false;
    out->seconds = static_cast<int64_t>(seconds);
    out->nanoseconds = 0;
    return true;
}

int createDirectoryPath(const std::string &path)
{
    if (path.empty())
        return kErrorPathNotFound;
    std::vector<std::string> missing;
    for (std::string d = path; !d.empty() && d != "/" && d != "."; d = directoryOf(d)) {
        struct stat st
        {
        };
        if (::stat(d.c_str(), &st) == 0)
            break;
        if (errno != ENOENT)
            return mapErrno(errno, d);
        missing.push_back(d);
        if (directoryOf(d) == d)
            break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (int e = createDirectory(*it); e != 0 && e != kErrorFileExists)
            return e;
    return 0;
}

Directory::~Directory()
{
    close();
}

Directory::Directory(Directory &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{
}

Directory &Directory::operator=(Directory &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

void Directory::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int Directory::open(const std::string &path)
{
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOTDIR ? kErrorNotADirectory : mapErrno(errno, path);
    m_fd = fd;
    m_path = path;
    return 0;
}

int Directory::openChild(const Directory &parent, const std::string &name)
{
    close();
    std::string path = parent.pathOf(name);
    int fd = ::openat(parent.m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // With O_DIRECTORY a link gives "not a directory" rather than a loop: look at what stands there.
        int err = errno;
        struct stat st
        {
        };
        if (err == ENOTDIR && ::fstatat(parent.m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            err = ELOOP;
        return mapAtError(err, path);
    }
    m_fd = fd;
    m_path = std::move(path);
    return 0;
}

int Directory::kindOf(const std::string &name, EntryKind *kind) const
{
    struct stat st
    {
    };
    if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            *kind = EntryKind::Missing;
            return 0;
        }
        return mapAtError(errno, pathOf(name));
    }
    *kind = S_ISREG(st.st_mode)   ? EntryKind::File
            : S_ISDIR(st.st_mode) ? EntryKind::Directory
            : S_ISLNK(st.st_mode) ? EntryKind::SymbolicLink
                                  : EntryKind::Other;
    return 0;
}

int Directory::makeDirectory(const std::string &name) const
{
    if (::mkdirat(m_fd, name.c_str(), 0777) != 0)
        return mapAtError(errno, pathOf(name));
    return 0;
}

int Directory::createTemporary(File &file, std::string *name) const
{
    file.close();
    static const std::string process = std::to_string(::getpid());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate =
            ".imbrex-" + process + "-" + std::to_string(g_temporaryCounter.fetch_add(1)) + ".partial";
        int fd = ::openat(m_fd, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.m_fd = fd;
            file.m_path = pathOf(candidate);
            *name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST)
            return mapAtError(errno, pathOf(candidate));
    }
    return kErrorFileExists;
}

int Directory::rename(const std::string &from, const std::string &to, bool replace) const
{
    if (replace)
        return ::renameat(m_fd, from.c_str(), m_fd, to.c_str()) == 0 ? 0 : mapAtError(errno, pathOf(to));
    if (::renameat2(m_fd, from.c_str(), m_fd, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return mapAtError(errno, pathOf(to));
    // A file system without the no-replace rename: a hard link fails just as well when to exists.
    if (::linkat(m_fd, from.c_str(), m_fd, to.c_str(), 0) != 0)
        return mapAtError(errno, pathOf(to));
    (void)::unlinkat(m_fd, from.c_str(), 0);
    return 0;
}

int Directory::remove(const std::string &name) const
{
    if (::unlinkat(m_fd, name.c_str(), 0) != 0)
        return mapAtError(errno, pathOf(name));
    return 0;
}

int Directory::setModificationTime(FileTime time) const
{
    timespec times[2] = {{0, UTIME_NOW}, toTimespec(time)};
    if (::futimens(m_fd, times) != 0)
        return mapErrno(errno, m_path);
    return 0;
}

int Directory::setModificationTime(const File &file, FileTime time)
{
    timespec times[2] = {{0, UTIME_NOW}, toTimespec(time)};
    if (::futimens(file.m_fd, times) != 0)
        return mapErrno(errno, file.m_path);
    return 0;
}

} // namespace imbrex::platform
