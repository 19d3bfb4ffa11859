#include "platform/files/replace_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/files/system_calls.h"
#include "platform/files/temporary_names.h"
#include "platform/files/unfinished_files.h"

namespace tovi::platform {

namespace {

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
    const int slot = addUnfinishedFile(target.m_folder + "/" + name);
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
        dropUnfinishedFile(slot);
        fail("backup", code);
    }
    dropUnfinishedFile(slot);
}

}  // namespace tovi::platform
