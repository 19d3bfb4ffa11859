#include "platform/files/replace_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/errors.h"
#include "platform/files/attributes.h"
#include "platform/files/backups.h"
#include "platform/files/replace_checks.h"
#include "platform/files/system_calls.h"
#include "platform/files/temporary_names.h"
#include "platform/files/unfinished_files.h"

namespace tovi::platform {

namespace {

constexpr const char *kReplacedMeanwhile = "読み込んだ後に別のファイルに置き換えられました";

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
        m_fd = openAt(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            return ::flock(m_fd, LOCK_EX) == 0 ? 0 : errno;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
    }
    // A hidden named file, locked so that a later run can tell whether its
    // writer is still at work.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = randomTempName(m_target->m_base);
        m_fd = openAt(folder, name.c_str(),
                         O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno == EEXIST)
            continue;
        if (m_fd < 0)
            return errno;
        m_tempName = name;
        m_unfinishedSlot = addUnfinishedFile(m_target->m_folder + "/" + name);
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
        const int slot = addUnfinishedFile(m_target->m_folder + "/" + name);
        int linked = systemCalls().linkat(AT_FDCWD, procName.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT && ::geteuid() == 0)
            linked = systemCalls().linkat(m_fd, "", folder, name.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            m_tempName = name;
            m_unfinishedSlot = slot;
            return 0;
        }
        const int code = errno;
        dropUnfinishedFile(slot);
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
    dropUnfinishedFile(m_unfinishedSlot);
    m_unfinishedSlot = -1;
    if (m_own)
        m_own->release();
}

void SafeFileWriter::fail(const char *step, int code)
{
    const std::string why = fileStepMessage(m_target->m_fileName, step, code);
    discard();
    throw StreamWriteError(why);
}

std::string SafeFileWriter::writeFailure() const
{
    return m_writeError != 0 ? fileStepMessage(m_target->m_fileName, "write", m_writeError) : std::string();
}

std::size_t SafeFileWriter::write(const void *buffer, std::size_t n)
{
    if (m_fd < 0 || m_writeError != 0)
        return 0;
    const auto *bytes = static_cast<const std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = systemCalls().write(m_fd, bytes + done, std::min(n - done, kMaxTransfer));
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

void SafeFileWriter::finishContent()
{
    bool ownerChanged = false;
    if (const StepFailure failure = copyAttributes(m_target->m_fd, m_target->m_identity, m_fd, ownerChanged))
        fail(failure.step, failure.code);
    if (m_options.preserveTimestamps && m_target->m_fd >= 0) {
        const auto &old = m_target->m_identity;
        const struct timespec times[2] = {{time_t(old.accessed[0]), long(old.accessed[1])},
                                          {time_t(old.modified[0]), long(old.modified[1])}};
        if (systemCalls().futimens(m_fd, times) != 0)
            fail("futimens", errno);
    }
    m_ownerChanged = ownerChanged;
}

void SafeFileWriter::requireUntouchedTarget()
{
    // The name must still lead to the file that was read (or to nothing, for
    // a new file): a link swapped meanwhile would otherwise have the picture
    // written over a file nobody named.
    const HeldFile &target = *m_target;
    const FileIdentity &old = target.m_identity;
    const bool held = target.m_fd >= 0;
    struct stat now;
    const bool inFolder = ::fstatat(target.m_folderFd, target.m_base.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    const bool sameInFolder = held ? inFolder && sameFile(now, old.device, old.inode) : !inFolder;
    // A file of a held folder is not looked up by its name: the name may lead
    // elsewhere now, or be longer than the system takes.
    bool sameByName = true;
    if (!target.m_inHeldFolder) {
        const bool byName = ::stat(target.m_fileName.c_str(), &now) == 0;
        // The system refusing to follow the name (a link it protects) is its
        // reason, not a replacement.
        const int byNameError = byName || errno == ENOENT ? 0 : errno;
        sameByName = held ? byName && sameFile(now, old.device, old.inode) : !byName;
        if (byNameError != 0) {
            discard();
            throw FileCreateError(fileCreateMessage(target.m_fileName, byNameError));
        }
    }
    if (!sameInFolder || !sameByName) {
        discard();
        throw FileCreateError(fileCreateMessage(target.m_fileName, std::string(kReplacedMeanwhile)));
    }
    // Another program writing into the file in place (ignoring the lock):
    // its change stays, ours goes.
    if (held && (::fstat(target.m_fd, &now) != 0 || std::uint64_t(now.st_size) != old.size ||
                 now.st_mtim.tv_sec != old.modified[0] || now.st_mtim.tv_nsec != old.modified[1] ||
                 now.st_ctim.tv_sec != old.changed[0] || now.st_ctim.tv_nsec != old.changed[1])) {
        discard();
        throw FileChangedError(fileChangedMessage(target.m_fileName), "changed while it was being processed");
    }
}

void SafeFileWriter::commit()
{
    finish();
    flush(false);
    replace();
    flushFolder();
}

void SafeFileWriter::finish()
{
    if (m_fd < 0) {
        discard();
        throw StreamWriteError();
    }
    if (m_writeError != 0)
        fail("write", m_writeError);
    finishContent();
    // Only a head start for the flush: a failure here shows there too.
    systemCalls().syncFileRange(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    m_finished = true;
}

bool SafeFileWriter::flushFileSystem()
{
    return m_fd >= 0 && systemCalls().syncfs(m_fd) == 0;
}

void SafeFileWriter::flush(bool fileSystemFlushed)
{
    if (!m_finished)
        finish();
    // After a flush of the whole file system the data is on the disk; waiting
    // for its write-back still reports a write that failed for this file.
    constexpr unsigned kWait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (fileSystemFlushed) {
        if (systemCalls().syncFileRange(m_fd, 0, 0, kWait) == 0)
            return;
        // A file system without it is flushed file by file.
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ESPIPE)
            fail("sync_file_range", errno);
    }
    if (systemCalls().fsync(m_fd) != 0)
        fail("fsync", errno);
}

void SafeFileWriter::replace()
{
    if (m_fd < 0) {
        discard();
        throw StreamWriteError();
    }
    requireUntouchedTarget();

    HeldFile &target = *m_target;
    if (const StepFailure failure =
            keepBackup(target.m_folderFd, target.m_folder, target.m_base, target.m_fd, target.m_identity, m_options))
        fail(failure.step, failure.code);
    if (const int code = nameTemporary())
        fail("linkat", code);
    if (systemCalls().renameat(target.m_folderFd, m_tempName.c_str(), target.m_folderFd, target.m_base.c_str()) != 0)
        fail("renameat", errno);
    dropUnfinishedFile(m_unfinishedSlot);
    m_unfinishedSlot = -1;
    m_tempName.clear();
    target.m_ownerChanged = m_ownerChanged && target.m_fd >= 0;
    // The temporary file is the target now: nothing of it is to be removed.
    ::close(m_fd);
    m_fd = -1;
}

void SafeFileWriter::flushFolder()
{
    // The rename itself is made durable by flushing the folder; a file system
    // that can't flush folders has nothing more to offer.
    // Failing here, the new version is in place, complete and flushed; only
    // its name may not survive a power cut. Putting the old one back would
    // need a name for it that a killed run leaves behind.
    if (systemCalls().fsync(m_target->m_folderFd) != 0 && errno != EINVAL && errno != EROFS)
        fail("fsync (フォルダ)", errno);
    discard();
}

std::uint64_t SafeFileWriter::fileSystem() const
{
    struct stat info;
    return ::fstat(m_target->m_folderFd, &info) == 0 ? std::uint64_t(info.st_dev) : 0;
}

std::pair<std::uint64_t, std::uint64_t> SafeFileWriter::folder() const
{
    struct stat info;
    if (::fstat(m_target->m_folderFd, &info) != 0)
        return {0, 0};
    return {std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)};
}

void checkReplaceable(const std::string &fileName)
{
    HeldFile check(fileName, HeldFile::Purpose::Check);
}

void checkReplaceable(const HeldFolder &folder, const std::string &base, const std::string &fileName)
{
    HeldFile check(folder, base, fileName, HeldFile::Purpose::Check);
}

}  // namespace tovi::platform
