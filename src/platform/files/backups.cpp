#include "platform/files/backups.h"

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

// A backup number as written, without leading zeros ("" for none or 0).
std::string_view significantDigits(std::string_view text)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    const auto first = text.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// The highest N of the NAME.~N~ backups in a folder, "" when there is none.
// Numbers of any length, as the GNU tools allow: compared as digit strings.
std::string highestBackupNumber(int folderFd, const std::string &base)
{
    std::string highest;
    const std::string prefix = base + ".~";
    for (const auto &name : namesIn(folderFd)) {
        if (name.size() > prefix.size() + 1 && name.starts_with(prefix) && name.back() == '~') {
            const std::string_view number =
                significantDigits(std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 1));
            if (number.size() > highest.size() || (number.size() == highest.size() && number > highest))
                highest = number;
        }
    }
    return highest;
}

// One more than a number of digits ("" counts as 0).
std::string nextNumber(std::string number)
{
    for (auto digit = number.rbegin(); digit != number.rend(); ++digit) {
        if (*digit != '9') {
            ++*digit;
            return number;
        }
        *digit = '0';
    }
    return "1" + number;
}

}  // namespace

std::string backupBaseName(int folderFd, const std::string &base, const ReplaceOptions &options)
{
    BackupControl control = options.backup;
    if (control == BackupControl::None)
        return {};
    const std::string highest = highestBackupNumber(folderFd, base);
    if (control == BackupControl::Existing)
        control = !highest.empty() ? BackupControl::Numbered : BackupControl::Simple;
    if (control == BackupControl::Simple)
        return base + options.backupSuffix;
    return base + ".~" + nextNumber(highest) + "~";
}

namespace {

// A durable copy of fd under name in folderFd, for where no link can be made:
// 0, the errno that stopped it, or -1 when the copy can't even be created.
int copyInto(int folderFd, const std::string &name, int fd, const FileIdentity &identity)
{
    SystemCalls &calls = systemCalls();
    const int copy = openAt(folderFd, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (copy < 0)
        return -1;
    int code = 0;
    std::vector<std::uint8_t> block(std::size_t(1) << 20);
    for (off_t at = 0; code == 0;) {
        const ssize_t got = calls.pread(fd, block.data(), block.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            code = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && code == 0;) {
            const ssize_t put = calls.write(copy, block.data() + done, std::size_t(got - done));
            if (put > 0)
                done += put;
            else if (!(put < 0 && errno == EINTR))
                code = put < 0 ? errno : ENOSPC;
        }
        at += got;
    }
    // The copy's group is ours unless it can be the original's: then
    // it gets no group permissions.
    mode_t mode = identity.mode & 0777;
    const uid_t owner = ::geteuid() == 0 ? uid_t(identity.owner) : uid_t(-1);
    struct stat made;
    if (calls.fchown(copy, owner, gid_t(identity.group)) != 0 || ::fstat(copy, &made) != 0 ||
        made.st_gid != identity.group)
        mode &= ~mode_t(S_IRWXG);
    if (code == 0 && calls.fchmod(copy, mode) != 0)
        code = errno;
    if (code == 0 && calls.fsync(copy) != 0)
        code = errno;
    ::close(copy);
    return code;
}

}  // namespace

StepFailure keepBackup(int folderFd, const std::string &folder, const std::string &base, int fd,
                       const FileIdentity &identity, const ReplaceOptions &options)
{
    const std::string backup = backupBaseName(folderFd, base, options);
    if (backup.empty() || fd < 0)
        return {};
    // A hard link to the file as read: no copy, no extra write. Made under a
    // temporary name and renamed, so that an older backup is replaced in one
    // step.
    SystemCalls &calls = systemCalls();
    const std::string procName = "/proc/self/fd/" + std::to_string(fd);
    const std::string name = randomTempName(base);
    const int slot = addUnfinishedFile(folder + "/" + name);
    int code = 0;
    if (calls.linkat(AT_FDCWD, procName.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        const int linkCode = errno;
        code = copyInto(folderFd, name, fd, identity);
        if (code < 0)
            code = linkCode;
    }
    if (code == 0 && calls.renameat(folderFd, name.c_str(), folderFd, backup.c_str()) != 0)
        code = errno;
    if (code != 0)
        ::unlinkat(folderFd, name.c_str(), 0);
    dropUnfinishedFile(slot);
    if (code != 0)
        return {"backup", code};
    return {};
}

}  // namespace tovi::platform
