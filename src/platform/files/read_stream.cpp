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

FileReadStream::FileReadStream(const std::string &fileName) : FileReadStream(openByName(fileName), fileName)
{
    lock();
}

FileReadStream::FileReadStream(const HeldFolder &folder, const std::string &base, const std::string &fileName)
    : FileReadStream(openInFolder(folder, base), fileName)
{
    lock();
}

std::unique_ptr<FileReadStream> FileReadStream::openAhead(const std::string &fileName)
{
    return std::unique_ptr<FileReadStream>(new FileReadStream(openByName(fileName), fileName));
}

std::unique_ptr<FileReadStream> FileReadStream::openAhead(const HeldFolder &folder, const std::string &base,
                                                          const std::string &fileName)
{
    return std::unique_ptr<FileReadStream>(new FileReadStream(openInFolder(folder, base), fileName));
}

FileReadStream::Opened FileReadStream::openByName(const std::string &fileName)
{
    // Not blocking: opening a pipe would otherwise wait for a writer forever.
    const int fd = openAt(AT_FDCWD, fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return {fd, fd < 0 ? errno : 0};
}

FileReadStream::Opened FileReadStream::openInFolder(const HeldFolder &folder, const std::string &base)
{
    const int folderFd = folder.open();
    if (folderFd < 0)
        return {-1, errno};
    const int fd = openAt(folderFd, base.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    const int code = errno;
    ::close(folderFd);
    return {fd, fd < 0 ? code : 0};
}

FileReadStream::FileReadStream(Opened opened, const std::string &fileName)
    : m_fileName(fileName), m_fd(opened.fd), m_openError(opened.code)
{
    if (m_fd < 0)
        return;
    struct stat info;
    if (::fstat(m_fd, &info) != 0)
        m_openError = errno;
    else if (S_ISDIR(info.st_mode))
        m_openError = EISDIR;
    // Pictures are read from files; a pipe or device named like one is refused
    // rather than read as an empty picture or waited on.
    else if (!S_ISREG(info.st_mode))
        m_openError = EINVAL;
    if (m_openError != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_identity = identityOf(info);
    m_size = m_identity.size;
}

void FileReadStream::lock()
{
    if (m_locked)
        return;
    if (m_fd < 0)
        throw FileOpenError(fileOpenMessage(m_fileName, m_openError));
    // Other readers are welcome; a writer holding the exclusive lock keeps us
    // out, as a file opened with writers denied does. Not waiting: the file is
    // in use, and that is the answer.
    if (::flock(m_fd, LOCK_SH | LOCK_NB) != 0) {
        const int code = errno;
        ::close(m_fd);
        m_fd = -1;
        m_openError = code;
        throw FileOpenError(fileOpenMessage(m_fileName, code));
    }
    m_locked = true;
}

FileReadStream::~FileReadStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::size_t FileReadStream::peek(void *buffer, std::size_t n) const
{
    if (m_fd < 0)
        return 0;
    return readAt(m_fd, buffer, std::size_t(std::min<std::uint64_t>(n, m_size)), 0);
}

std::size_t FileReadStream::read(void *buffer, std::size_t n)
{
    if (m_fd < 0)
        return 0;
    // The size is fixed when the file is opened: a file that grows meanwhile
    // (only a writer ignoring the lock can do that) doesn't move the end.
    n = std::size_t(std::min<std::uint64_t>(n, m_size - std::min(m_position, m_size)));
    const std::size_t done = readAt(m_fd, buffer, n, m_position);
    m_position += done;
    return done;
}

}  // namespace tovi::platform
