#include "FileCopy.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

#include "common/ResultCodes.h"

namespace imbrex::platform {

namespace {

// Errors that only say the kernel cannot copy between these two files (other file systems, an old kernel, a
// file system without the operation); the bytes then go through memory.
bool kernelCannotCopy(int err)
{
    return err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP || err == ENOTSUP;
}

} // namespace

int copyFileRange(File &source, uint64_t from, File &target, uint64_t to, uint64_t length,
                  std::span<const std::byte> inHand)
{
    if (int e = askIoFaultHook(IoOperation::Write, target.m_path, to, static_cast<size_t>(length)))
        return e;
    uint64_t done = 0;
    while (done < length) {
        auto in = static_cast<off_t>(from + done);
        auto out = static_cast<off_t>(to + done);
        ssize_t n =
            ::copy_file_range(source.m_fd, &in, target.m_fd, &out, static_cast<size_t>(length - done), 0);
        if (n > 0) {
            done += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !kernelCannotCopy(errno))
            return mapErrno(errno, target.m_path);
        break; // the kernel cannot copy these, or the source ended early: the rest goes through memory
    }
    if (done == length)
        return 0;

    if (inHand.size() == length)
        return target.writeAllAt(to + done, inHand.subspan(static_cast<size_t>(done)));
    std::vector<std::byte> buffer(static_cast<size_t>(std::min<uint64_t>(length - done, 1 << 20)));
    while (done < length) {
        auto piece =
            std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(length - done, buffer.size())));
        size_t got = 0;
        if (int e = source.readAt(from + done, piece, &got))
            return e;
        if (got != piece.size())
            return rc::kIoError; // fewer bytes than asked for: the source is shorter than its caller thinks
        if (int e = target.writeAllAt(to + done, piece))
            return e;
        done += got;
    }
    return 0;
}

} // namespace imbrex::platform
