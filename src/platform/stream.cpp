#include "platform/stream.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string_view>
#include <tuple>

#include "platform/errors.h"

namespace tovi::platform {

namespace {

// Linux's own limit on links followed in one path.
constexpr int kMaxLinkHops = 40;

// One read(2) or write(2) call moves at most this much (the kernel's own cap is
// a little below 2 GiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads n bytes at offset, going on after interruptions and short reads;
// fewer only at the end of the file or on an error.
std::size_t readAt(int fd, void *buffer, std::size_t n, std::uint64_t offset)
{
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, bytes + done, std::min(n - done, kMaxTransfer), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

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
    // As many as a run may have writers at once (tovi-batch's most jobs);
    // untouched slots cost no memory.
    static constexpr int kSlots = 1024;

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

// Read once: reading it means setting it, which would race between the
// writers of a run with several jobs. Nothing in the program changes it.
mode_t currentUmask()
{
    static const mode_t mask = [] {
        const mode_t value = ::umask(0);
        ::umask(value);
        return value;
    }();
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
        // The system's reason ("No space left on device") for whoever reports
        // it; a file writer knows which of its steps failed.
        const int code = errno;
        const std::string why = writeFailure();
        throw StreamWriteError(!why.empty() ? why : code ? systemErrorText(code) : std::string());
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
    const std::size_t done = readAt(m_fd, buffer, n, m_position);
    m_position += done;
    return done;
}

// ---------------------------------------------------------------- Faults for tests

namespace {

constexpr int kFileCalls = int(FileCall::Times) + 1;

struct InjectedFault {
    std::atomic<int> countdown{0};  // 0: none
    std::atomic<int> code{0};
};
InjectedFault g_faults[kFileCalls];

// 0, or the errno that a test wants this call to fail with.
int injectedFault(FileCall call) noexcept
{
    InjectedFault &fault = g_faults[int(call)];
    if (fault.countdown.load() <= 0)
        return 0;
    return fault.countdown.fetch_sub(1) == 1 ? fault.code.load() : 0;
}

// The system calls of the replace path, each with its fault seam.
#define TOVI_FAULT(call)                       \
    if (const int code = injectedFault(call)) { \
        errno = code;                          \
        return -1;                             \
    }

int sysOpenAt(FileCall call, int folder, const char *name, int flags, mode_t mode)
{
    TOVI_FAULT(call)
    int fd;
    do
        fd = ::openat(folder, name, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t sysWrite(int fd, const void *buffer, std::size_t n)
{
    TOVI_FAULT(FileCall::Write)
    return ::write(fd, buffer, n);
}

int sysFsync(FileCall call, int fd)
{
    TOVI_FAULT(call)
    return ::fsync(fd);
}

int sysLinkAt(int fromFolder, const char *from, int toFolder, const char *to, int flags)
{
    TOVI_FAULT(FileCall::Link)
    return ::linkat(fromFolder, from, toFolder, to, flags);
}

int sysRenameAt(int folder, const char *from, const char *to)
{
    TOVI_FAULT(FileCall::Rename)
    return ::renameat(folder, from, folder, to);
}

int sysFchown(int fd, uid_t owner, gid_t group)
{
    TOVI_FAULT(FileCall::Owner)
    return ::fchown(fd, owner, group);
}

int sysFchmod(int fd, mode_t mode)
{
    TOVI_FAULT(FileCall::Mode)
    return ::fchmod(fd, mode);
}

int sysFsetxattr(int fd, const char *name, const void *value, std::size_t size)
{
    TOVI_FAULT(FileCall::Attributes)
    return ::fsetxattr(fd, name, value, size, 0);
}

int sysFutimens(int fd, const struct timespec times[2])
{
    TOVI_FAULT(FileCall::Times)
    return ::futimens(fd, times);
}

#undef TOVI_FAULT

}  // namespace

void injectFileFault(FileCall call, int nth, int code)
{
    g_faults[int(call)].code.store(code);
    g_faults[int(call)].countdown.store(nth);
}

void clearFileFaults()
{
    for (auto &fault : g_faults)
        fault.countdown.store(0);
}

// ---------------------------------------------------------------- HeldFile

namespace {

constexpr const char *kTempMark = ".tovi-";
constexpr std::size_t kTempRandom = 6;
constexpr const char *kReplacedMeanwhile = "読み込んだ後に別のファイルに置き換えられました";

std::string fileCreateMessage(const std::string &fileName, const std::string &reason)
{
    return "ファイル \"" + fullPathName(fileName) + "\" を作成できません。" + reason;
}

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

bool sameFile(const struct stat &a, std::uint64_t device, std::uint64_t inode)
{
    return std::uint64_t(a.st_dev) == device && std::uint64_t(a.st_ino) == inode;
}

std::string tempPrefixOf(const std::string &base)
{
    std::string prefix = ".";
    prefix.append(base, 0, kMaxTempStem);
    prefix += kTempMark;
    return prefix;
}

std::string randomTempName(const std::string &base)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    std::uint64_t bits = (std::uint64_t(device()) << 32) ^ device() ^ (std::uint64_t(::getpid()) << 20) ^ counter++;
    std::string name = tempPrefixOf(base);
    for (std::size_t i = 0; i < kTempRandom; ++i, bits /= 62)
        name += kLetters[bits % 62];
    return name;
}

// The names in a folder, read through a descriptor of our own so that the
// folder's stays untouched.
std::vector<std::string> namesIn(int folderFd)
{
    std::vector<std::string> names;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR *folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return names;
    }
    while (const dirent *entry = ::readdir(folder))
        names.emplace_back(entry->d_name);
    ::closedir(folder);
    return names;
}

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
                    name.size() == mark + std::strlen(kTempMark) + kTempRandom)
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
// file: the ones nobody holds locked any more are removed. Called with the
// file itself locked, so no run of ours can be creating one meanwhile.
void removeStaleTemporaries(int folderFd, const std::string &base)
{
    for (const auto &name : g_temporaryNames.take(folderFd, tempPrefixOf(base))) {
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(folderFd, name.c_str(), 0);
        ::close(fd);
    }
}

}  // namespace

HeldFile::HeldFile(const std::string &fileName) : HeldFile(fileName, Purpose::Read) {}

HeldFile::HeldFile(const std::string &fileName, Purpose purpose) : m_fileName(fileName)
{
    const bool reading = purpose == Purpose::Read;
    const auto fail = [&](int code) {
        release();
        if (reading)
            throw FileOpenError(fileOpenMessage(fileName, code));
        throw FileCreateError(fileCreateMessage(fileName, code));
    };
    std::string target;
    if (const int code = resolveLinks(fileName, target))
        fail(code);
    m_folder = folderOf(target);
    m_base = baseNameOf(target);
    do
        m_folderFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (m_folderFd < 0 && errno == EINTR);
    if (m_folderFd < 0)
        fail(errno);
    if (m_base.empty())
        fail(reading ? EISDIR : ENOENT);

    struct stat info;
    if (!reading) {
        if (::fstatat(m_folderFd, m_base.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                fail(errno);
            return;  // a new file
        }
        if (const int code = refusalOf(info))
            fail(code);
    }
    // Not blocking: opening a pipe would otherwise wait for a writer forever.
    // Not following a link: the link was resolved above, and a link put in its
    // place meanwhile is not the file we were given.
    const int flags = (reading ? O_RDONLY : O_WRONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    do
        m_fd = ::openat(m_folderFd, m_base.c_str(), flags);
    while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0)
        fail(errno);
    if (::fstat(m_fd, &info) != 0)
        fail(errno);
    if (reading && S_ISDIR(info.st_mode))
        fail(EISDIR);
    // Pictures are read from files; a pipe or device named like one is refused
    // rather than read as an empty picture or waited on.
    if (reading && !S_ISREG(info.st_mode))
        fail(EINVAL);
    // Held from reading to replacing: a second run on the same file finds it
    // in use at once, instead of processing the old content a second time and
    // losing one of the two results.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        release();
        throw FileCreateError(fileCreateMessage(fileName, code));
    }
    m_identity.device = std::uint64_t(info.st_dev);
    m_identity.inode = std::uint64_t(info.st_ino);
    m_identity.links = std::uint64_t(info.st_nlink);
    m_identity.mode = unsigned(info.st_mode);
    m_identity.owner = unsigned(info.st_uid);
    m_identity.group = unsigned(info.st_gid);
    m_identity.accessed[0] = info.st_atim.tv_sec;
    m_identity.accessed[1] = info.st_atim.tv_nsec;
    m_identity.modified[0] = info.st_mtim.tv_sec;
    m_identity.modified[1] = info.st_mtim.tv_nsec;
    m_size = std::uint64_t(info.st_size);
    removeStaleTemporaries(m_folderFd, m_base);
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

std::uint64_t HeldFile::otherLinks() const
{
    return m_identity.links > 1 ? m_identity.links - 1 : 0;
}

// ---------------------------------------------------------------- SafeFileWriter

namespace {

// A file-size limit stops a write with EFBIG instead of ending the program.
void ignoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGXFSZ, SIG_IGN); });
}

// Linking an unnamed file into a folder by its /proc name needs no privilege;
// without /proc only root may do it (AT_EMPTY_PATH).
bool unnamedFilesCanBeLinked()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
    return can;
}

bool isNumber(std::string_view text)
{
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The highest N of the NAME.~N~ backups in a folder, 0 when there is none.
unsigned highestBackupNumber(int folderFd, const std::string &base)
{
    unsigned highest = 0;
    const std::string prefix = base + ".~";
    for (const auto &name : namesIn(folderFd)) {
        if (name.size() > prefix.size() + 1 && name.starts_with(prefix) && name.back() == '~') {
            const std::string_view number(name.data() + prefix.size(), name.size() - prefix.size() - 1);
            if (isNumber(number))
                highest = std::max(highest, unsigned(std::stoul(std::string(number))));
        }
    }
    return highest;
}

std::string backupBaseName(int folderFd, const std::string &base, const ReplaceOptions &options)
{
    BackupControl control = options.backup;
    if (control == BackupControl::None)
        return {};
    const unsigned highest = highestBackupNumber(folderFd, base);
    if (control == BackupControl::Existing)
        control = highest > 0 ? BackupControl::Numbered : BackupControl::Simple;
    if (control == BackupControl::Simple)
        return base + options.backupSuffix;
    return base + ".~" + std::to_string(highest + 1) + "~";
}

}  // namespace

SafeFileWriter::SafeFileWriter(const std::string &fileName)
    : m_own(new HeldFile(fileName, HeldFile::Purpose::Replace)), m_target(m_own.get())
{
    start();
}

SafeFileWriter::SafeFileWriter(HeldFile &original, ReplaceOptions options)
    : m_target(&original), m_options(std::move(options))
{
    if (original.m_fd < 0)
        throw FileCreateError(fileCreateMessage(original.m_fileName, EBADF));
    struct stat info {};
    info.st_mode = original.m_identity.mode;
    if (const int code = refusalOf(info))
        throw FileCreateError(fileCreateMessage(original.m_fileName, code));
    start();
}

void SafeFileWriter::start()
{
    ignoreFileSizeSignal();
    if (const int code = createTemporary()) {
        discard();
        throw FileCreateError(fileCreateMessage(m_target->m_fileName, code));
    }
}

int SafeFileWriter::createTemporary()
{
    // Beside the target (a rename never crosses file systems). Unnamed where
    // the file system allows: a run killed now leaves nothing behind.
    const int folder = m_target->m_folderFd;
    if (unnamedFilesCanBeLinked()) {
        m_fd = sysOpenAt(FileCall::OpenTemporary, folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            return ::flock(m_fd, LOCK_EX) == 0 ? 0 : errno;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    // A hidden named file, locked so that a later run can tell whether its
    // writer is still at work.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = randomTempName(m_target->m_base);
        m_fd = sysOpenAt(FileCall::OpenTemporary, folder, name.c_str(),
                         O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno == EEXIST)
            continue;
        if (m_fd < 0)
            return errno;
        m_tempName = name;
        m_unfinishedSlot = g_unfinishedFiles.add(m_target->m_folder + "/" + name);
        return ::flock(m_fd, LOCK_EX) == 0 ? 0 : errno;
    }
    return EEXIST;
}

int SafeFileWriter::nameTemporary()
{
    if (!m_tempName.empty())
        return 0;
    const int folder = m_target->m_folderFd;
    const std::string procName = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = randomTempName(m_target->m_base);
        // Registered first: a signal now still finds the name to remove.
        const int slot = g_unfinishedFiles.add(m_target->m_folder + "/" + name);
        int linked = sysLinkAt(AT_FDCWD, procName.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT && ::geteuid() == 0)
            linked = sysLinkAt(m_fd, "", folder, name.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            m_tempName = name;
            m_unfinishedSlot = slot;
            return 0;
        }
        const int code = errno;
        g_unfinishedFiles.remove(slot);
        if (code != EEXIST)
            return code;
    }
    return EEXIST;
}

SafeFileWriter::~SafeFileWriter()
{
    discard();
}

void SafeFileWriter::discard() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.empty()) {
        ::unlinkat(m_target->m_folderFd, m_tempName.c_str(), 0);
        m_tempName.clear();
    }
    g_unfinishedFiles.remove(m_unfinishedSlot);
    m_unfinishedSlot = -1;
    if (m_own)
        m_own->release();
}

namespace {

std::string stepFailure(const std::string &fileName, const char *step, int code)
{
    return "ファイル \"" + fullPathName(fileName) + "\": " + step + ": " + systemErrorText(code);
}

}  // namespace

void SafeFileWriter::fail(const char *step, int code)
{
    const std::string why = stepFailure(m_target->m_fileName, step, code);
    discard();
    throw StreamWriteError(why);
}

std::string SafeFileWriter::writeFailure() const
{
    return m_writeError != 0 ? stepFailure(m_target->m_fileName, "write", m_writeError) : std::string();
}

std::size_t SafeFileWriter::write(const void *buffer, std::size_t n)
{
    if (m_fd < 0 || m_writeError != 0)
        return 0;
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = sysWrite(m_fd, bytes + done, std::min(n - done, kMaxTransfer));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // A full disk or a file-size limit: the temporary file is incomplete
            // and must never replace the target.
            m_writeError = put < 0 ? errno : ENOSPC;
            break;
        }
        done += std::size_t(put);
    }
    m_position += done;
    return done;
}

void SafeFileWriter::copyAttributes()
{
    const HeldFile::Identity &old = m_target->m_identity;
    if (m_target->m_fd < 0) {
        // A new file gets the usual permission bits.
        if (sysFchmod(m_fd, 0666 & ~currentUmask()) != 0)
            fail("fchmod", errno);
        return;
    }
    mode_t mode = old.mode & 07777;
    // Owner and group as far as we may give them: root replacing someone
    // else's file hands it back. A group we may not give would leave the
    // group permissions to another group: they go instead.
    struct stat made;
    if (::fstat(m_fd, &made) != 0)
        fail("fstat", errno);
    if (made.st_uid != old.owner || made.st_gid != old.group) {
        const uid_t owner = ::geteuid() == 0 ? uid_t(old.owner) : uid_t(-1);
        if (sysFchown(m_fd, owner, gid_t(old.group)) != 0 || ::fstat(m_fd, &made) != 0 || made.st_gid != old.group)
            mode &= ~mode_t(S_IRWXG | S_ISGID);
    }
    // Access control lists travel as extended attributes (system.posix_acl_*),
    // with the others. A file system without them has none to copy.
    const int from = m_target->m_fd;
    ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0 && errno != ENOTSUP && errno != ENOSYS)
        fail("flistxattr", errno);
    if (listSize > 0) {
        std::vector<char> list(std::size_t(listSize) + 1, '\0');
        listSize = ::flistxattr(from, list.data(), list.size());
        if (listSize < 0)
            fail("flistxattr", errno);
        for (std::size_t at = 0; at < std::size_t(listSize); at += std::strlen(list.data() + at) + 1) {
            const char *name = list.data() + at;
            if (!*name)
                continue;
            const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
            std::vector<char> value(std::size_t(std::max<ssize_t>(size, 0)) + 1);
            const ssize_t got = size < 0 ? -1 : ::fgetxattr(from, name, value.data(), value.size());
            if (got < 0 || sysFsetxattr(m_fd, name, value.data(), std::size_t(got)) != 0) {
                // Only root may copy the trusted and security namespaces;
                // the picture doesn't need them to be kept from others.
                if (errno == EPERM && !std::string_view(name).starts_with("system.") &&
                    !std::string_view(name).starts_with("user."))
                    continue;
                fail("fsetxattr", errno);
            }
        }
    }
    // Last, as setting an access control list sets the group bits too.
    if (sysFchmod(m_fd, mode) != 0)
        fail("fchmod", errno);
}

void SafeFileWriter::keepBackup()
{
    HeldFile &target = *m_target;
    const std::string backup = backupBaseName(target.m_folderFd, target.m_base, m_options);
    if (backup.empty() || target.m_fd < 0)
        return;
    // A hard link to the file as read: no copy, no extra write. Made under a
    // temporary name and renamed, so that an older backup is replaced in one
    // step.
    const std::string procName = "/proc/self/fd/" + std::to_string(target.m_fd);
    const std::string name = randomTempName(target.m_base);
    const int slot = g_unfinishedFiles.add(target.m_folder + "/" + name);
    int code = 0;
    if (sysLinkAt(AT_FDCWD, procName.c_str(), target.m_folderFd, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        code = errno;
        // Where links aren't possible, a durable copy.
        const int copy = sysOpenAt(FileCall::OpenTemporary, target.m_folderFd, name.c_str(),
                                   O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (copy >= 0) {
            code = 0;
            std::vector<std::uint8_t> block(std::size_t(1) << 20);
            for (off_t at = 0; code == 0;) {
                const ssize_t got = ::pread(target.m_fd, block.data(), block.size(), at);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    code = got < 0 ? errno : 0;
                    break;
                }
                for (ssize_t done = 0; done < got && code == 0;) {
                    const ssize_t put = sysWrite(copy, block.data() + done, std::size_t(got - done));
                    if (put > 0)
                        done += put;
                    else if (!(put < 0 && errno == EINTR))
                        code = put < 0 ? errno : ENOSPC;
                }
                at += got;
            }
            // The copy's group is ours unless it can be the original's: then
            // it gets no group permissions.
            mode_t mode = target.m_identity.mode & 0777;
            const uid_t owner = ::geteuid() == 0 ? uid_t(target.m_identity.owner) : uid_t(-1);
            struct stat made;
            if (sysFchown(copy, owner, gid_t(target.m_identity.group)) != 0 || ::fstat(copy, &made) != 0 ||
                made.st_gid != target.m_identity.group)
                mode &= ~mode_t(S_IRWXG);
            if (code == 0 && sysFchmod(copy, mode) != 0)
                code = errno;
            if (code == 0 && sysFsync(FileCall::Fsync, copy) != 0)
                code = errno;
            ::close(copy);
        }
    }
    if (code == 0 && sysRenameAt(target.m_folderFd, name.c_str(), backup.c_str()) != 0)
        code = errno;
    if (code != 0) {
        ::unlinkat(target.m_folderFd, name.c_str(), 0);
        g_unfinishedFiles.remove(slot);
        fail("backup", code);
    }
    g_unfinishedFiles.remove(slot);
}

void SafeFileWriter::commit()
{
    if (m_fd < 0) {
        discard();
        throw StreamWriteError();
    }
    if (m_writeError != 0)
        fail("write", m_writeError);
    copyAttributes();
    if (m_options.preserveTimestamps && m_target->m_fd >= 0) {
        const auto &old = m_target->m_identity;
        const struct timespec times[2] = {{time_t(old.accessed[0]), long(old.accessed[1])},
                                          {time_t(old.modified[0]), long(old.modified[1])}};
        if (sysFutimens(m_fd, times) != 0)
            fail("futimens", errno);
    }
    if (sysFsync(FileCall::Fsync, m_fd) != 0)
        fail("fsync", errno);

    // The name must still lead to the file that was read (or to nothing, for
    // a new file): a link swapped meanwhile would otherwise have the picture
    // written over a file nobody named.
    HeldFile &target = *m_target;
    struct stat now;
    const bool inFolder = ::fstatat(target.m_folderFd, target.m_base.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    const bool sameInFolder = target.m_fd >= 0 ? inFolder && sameFile(now, target.m_identity.device,
                                                                      target.m_identity.inode)
                                               : !inFolder;
    const bool byName = ::stat(target.m_fileName.c_str(), &now) == 0;
    const bool sameByName = target.m_fd >= 0 ? byName && sameFile(now, target.m_identity.device,
                                                                  target.m_identity.inode)
                                             : !byName;
    if (!sameInFolder || !sameByName) {
        discard();
        throw FileCreateError(fileCreateMessage(target.m_fileName, std::string(kReplacedMeanwhile)));
    }

    keepBackup();
    if (const int code = nameTemporary())
        fail("linkat", code);
    if (sysRenameAt(target.m_folderFd, m_tempName.c_str(), target.m_base.c_str()) != 0)
        fail("renameat", errno);
    g_unfinishedFiles.remove(m_unfinishedSlot);
    m_unfinishedSlot = -1;
    m_tempName.clear();
    // The rename itself is made durable by flushing the folder; a file system
    // that can't flush folders has nothing more to offer.
    // Failing here, the new version is in place, complete and flushed; only
    // its name may not survive a power cut. Putting the old one back would
    // need a name for it that a killed run leaves behind.
    if (sysFsync(FileCall::FolderFsync, target.m_folderFd) != 0 && errno != EINVAL && errno != EROFS)
        fail("fsync (フォルダ)", errno);
    discard();
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

std::string openedPathName(const std::string &name)
{
    const std::string lexical = fullPathName(name);
    const std::string base = baseNameOf(name);
    if (base.empty() || base == "." || base == "..")
        return lexical;
    // The system walks "link/.." from the link's target; the lexical form
    // drops both. Where they reach the same folder the lexical form stands.
    const std::string folder = folderOf(name);
    struct stat given, folded;
    if (::stat(folder.c_str(), &given) != 0)
        return lexical;
    if (::stat(folderOf(lexical).c_str(), &folded) == 0 && given.st_dev == folded.st_dev &&
        given.st_ino == folded.st_ino)
        return lexical;
    char *real = ::realpath(folder.c_str(), nullptr);
    if (!real)
        return lexical;
    std::string resolved = real;
    std::free(real);
    return (resolved == "/" ? resolved : resolved + "/") + base;
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
