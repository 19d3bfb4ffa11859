#include "platform/stream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/errors.h"

namespace tovi::platform {

namespace {

// Linux's own limit on links followed in one path.
constexpr int kMaxLinkHops = 40;

// One read(2) or write(2) call moves at most this much (the kernel's own cap is
// a little below 2 GiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Room in a 255-byte file name for "." before and ".tovi-XXXXXX" after.
constexpr std::size_t kMaxTempStem = 200;

std::string fileOpenMessage(const std::string &fileName, int code)
{
    return "ファイル \"" + fullPathName(fileName) + "\" は開けません。" + systemErrorText(code);
}

std::string fileCreateMessage(const std::string &fileName, int code)
{
    return "ファイル \"" + fullPathName(fileName) + "\" を作成できません。" + systemErrorText(code);
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a chain of symbolic links to the file that is really written. A
// dangling link gives the name the file will be created under. Returns 0 or
// the errno that stopped the walk.
int resolveLinks(const std::string &name, std::string &target)
{
    target = name;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info;
        if (::lstat(target.c_str(), &info) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(info.st_mode))
            return 0;
        std::string link(std::size_t(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length < 0)
            return errno;
        link.resize(std::size_t(length));
        if (link.empty())
            return ENOENT;
        target = link.front() == '/' ? link : folderOf(target) + "/" + link;
    }
    return ELOOP;
}

// The temporary files of the writers at work, for removal from a signal
// handler: fixed storage, and a state per slot so that the handler never reads
// a name that is being filled in or taken out.
class UnfinishedFiles {
public:
    static constexpr int kSlots = 8;

    int add(const std::string &name) noexcept
    {
        if (name.size() >= sizeof(Slot::name))
            return -1;
        for (int i = 0; i < kSlots; ++i) {
            int expected = kFree;
            if (m_slots[i].state.compare_exchange_strong(expected, kBusy)) {
                std::memcpy(m_slots[i].name, name.c_str(), name.size() + 1);
                m_slots[i].state.store(kReady);
                return i;
            }
        }
        return -1;
    }

    void remove(int slot) noexcept
    {
        if (slot >= 0)
            m_slots[slot].state.store(kFree);
    }

    void unlinkAll() noexcept
    {
        for (auto &slot : m_slots) {
            int expected = kReady;
            if (slot.state.compare_exchange_strong(expected, kBusy)) {
                ::unlink(slot.name);
                slot.state.store(kFree);
            }
        }
    }

private:
    enum { kFree, kBusy, kReady };
    struct Slot {
        std::atomic<int> state{kFree};
        char name[PATH_MAX];
    };
    Slot m_slots[kSlots];
};

UnfinishedFiles g_unfinishedFiles;

void removeUnfinishedFilesAndEnd(int signalNumber)
{
    removeUnfinishedFiles();
    // The handler was installed with SA_RESETHAND: the signal now does what
    // it would have done without us.
    ::raise(signalNumber);
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

// ---------------------------------------------------------------- Stream

void Stream::readExact(void *buffer, std::size_t n)
{
    if (read(buffer, n) != n)
        throw StreamReadError();
}

void Stream::writeExact(const void *buffer, std::size_t n)
{
    errno = 0;
    if (write(buffer, n) != n) {
        // The system's reason ("No space left on device") for whoever reports it.
        const int code = errno;
        throw StreamWriteError(code ? systemErrorText(code) : std::string());
    }
}

// ---------------------------------------------------------------- MemoryStream

std::size_t MemoryStream::read(void *buffer, std::size_t n)
{
    if (m_position >= m_data.size())
        return 0;
    const std::size_t count = std::min<std::uint64_t>(n, m_data.size() - m_position);
    if (count == 0)
        return 0;
    std::memcpy(buffer, m_data.data() + m_position, count);
    m_position += count;
    return count;
}

std::size_t MemoryStream::write(const void *buffer, std::size_t n)
{
    if (n == 0)
        return 0;
    const std::uint64_t end = m_position + n;
    if (end > m_data.size())
        m_data.resize(std::size_t(end));
    std::memcpy(m_data.data() + m_position, buffer, n);
    m_position = end;
    return n;
}

// ---------------------------------------------------------------- FileReadStream

FileReadStream::FileReadStream(const std::string &fileName)
{
    int fd;
    do
        // Not blocking: opening a pipe would otherwise wait for a writer forever.
        fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
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
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(m_fd, bytes + done, std::min(n - done, kMaxTransfer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    m_position += done;
    return done;
}

// ---------------------------------------------------------------- SafeFileWriter

namespace {

// Why an existing file can't be replaced, or 0.
int refusalOf(const struct stat &info)
{
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return EINVAL;  // a device or pipe is never replaced by a file
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return EACCES;  // read-only for everybody, root included
    return 0;
}

// The new version keeps the old one's permission bits (a new file gets the
// usual ones), and its owner and group as far as we may give them: root
// replacing someone else's file hands it back. Best effort: a file system
// without owners or permission bits (a FAT stick) still takes the picture.
void giveAttributes(int fd, const struct stat *original)
{
    [[maybe_unused]] int ignored = 0;
    if (!original) {
        ignored = ::fchmod(fd, 0666 & ~currentUmask());
        return;
    }
    struct stat made;
    if (::fstat(fd, &made) == 0 && (made.st_uid != original->st_uid || made.st_gid != original->st_gid)) {
        const uid_t owner = ::geteuid() == 0 ? original->st_uid : uid_t(-1);
        ignored = ::fchown(fd, owner, original->st_gid);
    }
    ignored = ::fchmod(fd, original->st_mode & 07777);
}

}  // namespace

SafeFileWriter::SafeFileWriter(const std::string &fileName)
{
    struct stat info;
    bool exists = false;
    int code = resolveLinks(fileName, m_target);
    if (code == 0) {
        if (::stat(m_target.c_str(), &info) == 0) {
            exists = true;
            code = refusalOf(info);
        } else if (errno != ENOENT) {
            code = errno;
        }
    }
    // The file being replaced is locked against readers until the new version
    // is in its place; a reader holding it makes it a file in use.
    if (code == 0 && exists)
        code = lockOriginal();
    if (code == 0)
        code = createTemporary();
    if (code != 0) {
        discard();
        throw FileCreateError(fileCreateMessage(fileName, code));
    }
    giveAttributes(m_fd, exists ? &info : nullptr);
    m_fileName = fileName;
}

int SafeFileWriter::lockOriginal()
{
    m_originalFd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (m_originalFd < 0 || ::flock(m_originalFd, LOCK_EX | LOCK_NB) != 0)
        return errno;
    return 0;
}

int SafeFileWriter::createTemporary()
{
    // Hidden, beside the target (a rename never crosses file systems), and
    // short enough for the longest file name.
    std::string pattern = folderOf(m_target) + "/." + baseNameOf(m_target).substr(0, kMaxTempStem) + ".tovi-XXXXXX";
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0)
        return errno;
    m_tempName = pattern;
    m_unfinishedSlot = g_unfinishedFiles.add(pattern);
    return ::flock(m_fd, LOCK_EX) == 0 ? 0 : errno;
}

SafeFileWriter::~SafeFileWriter()
{
    discard();
}

void SafeFileWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.empty()) {
        ::unlink(m_tempName.c_str());
        g_unfinishedFiles.remove(m_unfinishedSlot);
        m_tempName.clear();
    }
    m_unfinishedSlot = -1;
    if (m_originalFd >= 0) {
        ::close(m_originalFd);
        m_originalFd = -1;
    }
}

std::size_t SafeFileWriter::write(const void *buffer, std::size_t n)
{
    if (m_fd < 0 || m_failed)
        return 0;
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::write(m_fd, bytes + done, std::min(n - done, kMaxTransfer));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // A full disk or a file-size limit: the temporary file is incomplete
            // and must never replace the target.
            m_failed = true;
            break;
        }
        done += std::size_t(put);
    }
    m_position += done;
    return done;
}

void SafeFileWriter::commit()
{
    if (m_fd < 0 || m_failed) {
        discard();
        throw StreamWriteError();
    }
    const bool durable = ::fsync(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!durable || !closed) {
        discard();
        throw StreamWriteError();
    }
    if (::rename(m_tempName.c_str(), m_target.c_str()) != 0) {
        const int code = errno;
        discard();
        throw FileCreateError(fileCreateMessage(m_fileName, code));
    }
    g_unfinishedFiles.remove(m_unfinishedSlot);
    m_unfinishedSlot = -1;
    m_tempName.clear();
    // The rename itself is made durable by flushing the folder; a file system
    // that can't flush folders has nothing more to offer.
    int folder;
    do
        folder = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (folder < 0 && errno == EINTR);
    bool folderDurable = true;
    if (folder >= 0) {
        if (::fsync(folder) != 0 && errno != EINVAL && errno != EROFS)
            folderDurable = false;
        ::close(folder);
    }
    discard();
    if (!folderDurable)
        throw StreamWriteError();
}

// ---------------------------------------------------------------- fullPathName

std::string fullPathName(const std::string &name)
{
    std::string path;
    if (name.empty() || name.front() != '/') {
        std::string folder(PATH_MAX, '\0');
        if (::getcwd(folder.data(), folder.size()))
            path = folder.c_str();
        path += '/';
    }
    path += name;

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string full;
    for (const auto &part : parts)
        full += "/" + part;
    if (full.empty())
        return "/";
    // A name that ends in a separator names a folder; it keeps the separator.
    if (!name.empty() && name.back() == '/')
        full += '/';
    return full;
}

// ---------------------------------------------------------------- Interruptions

void removeUnfinishedFiles() noexcept
{
    g_unfinishedFiles.unlinkAll();
}

void removeUnfinishedFilesOnSignals()
{
    struct sigaction action {};
    action.sa_handler = removeUnfinishedFilesAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace tovi::platform
