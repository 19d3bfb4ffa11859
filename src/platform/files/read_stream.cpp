#include "platform/files/read_stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/errors.h"
#include "platform/files/system_calls.h"

namespace tovi::platform {

FileReadStream::FileReadStream(const std::string &fileName)
{
    int fd;
    do
        // Not blocking: opening a pipe would otherwise wait for a writer forever.
        fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    take(fd, fileName);
}

FileReadStream::FileReadStream(const HeldFolder &folder, const std::string &base, const std::string &fileName)
{
    const int folderFd = folder.open();
    if (folderFd < 0)
        throw FileOpenError(fileOpenMessage(fileName, errno));
    const int fd = openAt(folderFd, base.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    const int code = errno;
    ::close(folderFd);
    errno = code;
    take(fd, fileName);
}

void FileReadStream::take(int fd, const std::string &fileName)
{
    if (fd < 0)
        throw FileOpenError(fileOpenMessage(fileName, errno));

    struct stat info;
    int code = 0;
    if (::fstat(fd, &info) != 0)
        code = errno;
    else if (S_ISDIR(info.st_mode))
        code = EISDIR;
    // Pictures are read from files; a pipe or device named like one is refused
    // rather than read as an empty picture or waited on.
    else if (!S_ISREG(info.st_mode))
        code = EINVAL;
    // Other readers are welcome; a writer holding the exclusive lock keeps us
    // out, as a file opened with writers denied does. Not waiting: the file is
    // in use, and that is the answer.
    else if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
        code = errno;
    if (code != 0) {
        ::close(fd);
        throw FileOpenError(fileOpenMessage(fileName, code));
    }
    m_fd = fd;
    m_size = S_ISREG(info.st_mode) ? std::uint64_t(info.st_size) : 0;
}

FileReadStream::~FileReadStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileReadStream::read(void *buffer, std::size_t n)
{
    // The size is fixed when the file is opened: a file that grows meanwhile
    // (only a writer ignoring the lock can do that) doesn't move the end.
    n = std::size_t(std::min<std::uint64_t>(n, m_size - std::min(m_position, m_size)));
    const std::size_t done = readAt(m_fd, buffer, n, m_position);
    m_position += done;
    return done;
}

}  // namespace tovi::platform
