#include "platform/files/held_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/errors.h"
#include "platform/files/path_names.h"
#include "platform/files/replace_checks.h"
#include "platform/files/system_calls.h"
#include "platform/files/temporary_names.h"

namespace tovi::platform {

namespace {

// The temporary-looking names of each folder, read once per folder and
// program run (reading a folder of many files for each of them would make a
// run over it quadratic), by the name of the file they belong to.
class TemporaryNames {
public:
    std::vector<std::string> take(int folderFd, const std::string &prefix)
    {
        // A folder removed and another made may get the same inode: the time
        // it was made tells them apart where the file system knows it.
        struct statx info;
        if (::statx(folderFd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &info) != 0)
            return {};
        const Key key{info.stx_dev_major, info.stx_dev_minor, info.stx_ino,
                      (info.stx_mask & STATX_BTIME) ? std::uint64_t(info.stx_btime.tv_sec) * 1000000000u +
                                                          info.stx_btime.tv_nsec
                                                    : 0};
        const std::lock_guard lock(m_mutex);
        auto [folder, added] = m_folders.try_emplace(key);
        if (added) {
            for (auto &name : namesIn(folderFd)) {
                const auto mark = name.rfind(kTempMark);
                if (name.starts_with('.') && mark != std::string::npos &&
                    name.size() == mark + std::strlen(kTempMark) + kTempRandom && isTempRandomPart(name))
                    folder->second[name.substr(0, name.size() - kTempRandom)].push_back(std::move(name));
            }
        }
        const auto found = folder->second.find(prefix);
        if (found == folder->second.end())
            return {};
        std::vector<std::string> names = std::move(found->second);
        folder->second.erase(found);
        return names;
    }

private:
    using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;
    std::mutex m_mutex;
    std::map<Key, std::map<std::string, std::vector<std::string>>> m_folders;
};

TemporaryNames g_temporaryNames;

// Temporary files that a run killed before it could clean up left beside the
// file: of the names this program makes, the regular files that belong to
// the runner or to the file's owner and that nobody holds locked any more are
// removed; a hidden link to the file itself is a backup killed before its
// rename. Called with the file itself locked, so no run of ours can be
// creating one meanwhile. Gives whether such a link went.
bool removeStaleTemporaries(int folderFd, const std::string &base, const FileIdentity &file)
{
    bool linkRemoved = false;
    for (const auto &name : g_temporaryNames.take(folderFd, tempPrefixOf(base))) {
        const int fd = openAt(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            (info.st_uid == ::geteuid() || info.st_uid == file.owner)) {
            const bool itself = sameFile(info, file.device, file.inode);
            if ((itself || ::flock(fd, LOCK_EX | LOCK_NB) == 0) && ::unlinkat(folderFd, name.c_str(), 0) == 0)
                linkRemoved = linkRemoved || itself;
        }
        ::close(fd);
    }
    return linkRemoved;
}

}  // namespace

HeldFile::HeldFile(const std::string &fileName) : HeldFile(fileName, Purpose::Read) {}

HeldFile::HeldFile(const std::string &fileName, Purpose purpose) : m_fileName(fileName)
{
    if (const int code = openFolder())
        fail(purpose, code);
    hold(purpose);
}

HeldFile::HeldFile(const HeldFolder &folder, const std::string &base, const std::string &fileName)
    : HeldFile(folder, base, fileName, Purpose::Read)
{
}

HeldFile::HeldFile(const HeldFolder &folder, const std::string &base, const std::string &fileName, Purpose purpose)
    : m_fileName(fileName), m_folder(folderOf(fileName)), m_base(base), m_inHeldFolder(true)
{
    m_folderFd = folder.open();
    if (m_folderFd < 0)
        fail(purpose, errno);
    hold(purpose);
}

std::unique_ptr<HeldFile> HeldFile::openAhead(const std::string &fileName)
{
    std::unique_ptr<HeldFile> file(new HeldFile);
    file->m_fileName = fileName;
    file->openedAhead(file->openFolder());
    return file;
}

std::unique_ptr<HeldFile> HeldFile::openAhead(const HeldFolder &folder, const std::string &base,
                                              const std::string &fileName)
{
    std::unique_ptr<HeldFile> file(new HeldFile);
    file->m_fileName = fileName;
    file->m_folder = folderOf(fileName);
    file->m_base = base;
    file->m_inHeldFolder = true;
    file->m_folderFd = folder.open();
    file->openedAhead(file->m_folderFd < 0 ? errno : 0);
    return file;
}

void HeldFile::openedAhead(int code)
{
    m_aheadError = code ? code : openInFolder(Purpose::Read);
    if (m_aheadError)
        release();
    m_openedAhead = true;
}

int HeldFile::openFolder()
{
    std::string target;
    if (const int code = resolveLinks(m_fileName, target))
        return code;
    // The links are resolved here by hand, but the system's refusal to follow
    // one (a link it protects in a shared folder) stands.
    struct stat followed;
    if (::stat(m_fileName.c_str(), &followed) != 0 && errno != ENOENT)
        return errno;
    m_folder = folderOf(target);
    m_base = baseNameOf(target);
    m_folderFd = openAt(AT_FDCWD, m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_folderFd < 0 ? errno : 0;
}

void HeldFile::fail(Purpose purpose, int code)
{
    release();
    if (purpose == Purpose::Read)
        throw FileOpenError(fileOpenMessage(m_fileName, code));
    throw FileCreateError(fileCreateMessage(m_fileName, code));
}

void HeldFile::hold(Purpose purpose)
{
    if (const int code = openInFolder(purpose))
        fail(purpose, code);
    lock();
}

void HeldFile::hold()
{
    if (!m_openedAhead)
        return;
    m_openedAhead = false;
    if (m_aheadError)
        fail(Purpose::Read, m_aheadError);
    // Opened a while ago: the name may have been given to another file since
    // (a program saving under a temporary name and renaming it), which is the
    // one to read now, as if it had been opened only now.
    struct stat now;
    if (::fstatat(m_folderFd, m_base.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        fail(Purpose::Read, errno);
    if (!sameFile(now, m_identity.device, m_identity.inode)) {
        ::close(m_fd);
        m_fd = -1;
        hold(Purpose::Read);
        return;
    }
    lock();
}

void HeldFile::lock()
{
    if (m_fd < 0)
        return;
    // Held from reading to replacing: a second run on the same file finds it
    // in use at once, instead of processing the old content a second time and
    // losing one of the two results.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        release();
        throw FileCreateError(fileCreateMessage(m_fileName, code));
    }
    // A link of the file removed is no other name of it; the removal changed
    // its change time too.
    struct stat info;
    if (removeStaleTemporaries(m_folderFd, m_base, m_identity) && ::fstat(m_fd, &info) == 0)
        m_identity = identityOf(info);
}

int HeldFile::openInFolder(Purpose purpose)
{
    const bool reading = purpose == Purpose::Read;
    if (m_base.empty())
        return reading ? EISDIR : ENOENT;
    struct stat info;
    if (!reading) {
        if (::fstatat(m_folderFd, m_base.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT && purpose == Purpose::Replace ? 0 : errno;  // 0: a new file
        if (const int code = refusalOf(info))
            return code;
    }
    if (purpose == Purpose::Check) {
        // What opening the file for writing and creating the new version
        // beside it would refuse.
        if (::faccessat(m_folderFd, m_base.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 ||
            ::faccessat(m_folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
            return errno;
        return 0;
    }
    // Not blocking: opening a pipe would otherwise wait for a writer forever.
    // Not following a link: the link was resolved above, and a link put in its
    // place meanwhile is not the file we were given.
    const int flags = (reading ? O_RDONLY : O_WRONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    m_fd = openAt(m_folderFd, m_base.c_str(), flags);
    if (m_fd < 0)
        return errno;
    if (::fstat(m_fd, &info) != 0)
        return errno;
    if (reading && S_ISDIR(info.st_mode))
        return EISDIR;
    // Pictures are read from files; a pipe or device named like one is refused
    // rather than read as an empty picture or waited on.
    if (reading && !S_ISREG(info.st_mode))
        return EINVAL;
    m_identity = identityOf(info);
    m_size = m_identity.size;
    return 0;
}

HeldFile::~HeldFile()
{
    release();
}

void HeldFile::release() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_fd = m_folderFd = -1;
}

std::size_t HeldFile::read(void *buffer, std::size_t n)
{
    if (m_fd < 0)
        return 0;
    n = std::size_t(std::min<std::uint64_t>(n, m_size - std::min(m_position, m_size)));
    const std::size_t done = readAt(m_fd, buffer, n, m_position);
    m_position += done;
    return done;
}

std::size_t HeldFile::peek(void *buffer, std::size_t n) const
{
    if (m_fd < 0)
        return 0;
    return readAt(m_fd, buffer, std::size_t(std::min<std::uint64_t>(n, m_size)), 0);
}

std::uint64_t HeldFile::otherLinks() const
{
    return m_identity.links > 1 ? m_identity.links - 1 : 0;
}

}  // namespace tovi::platform
