#include "platform/files/attributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/files/system_calls.h"

namespace tovi::platform {

namespace {

// Copies the extended attributes of from onto to. Access control lists travel
// as extended attributes (system.posix_acl_*), with the others. A file system
// without them has none to copy.
StepFailure copyExtendedAttributes(int from, int to)
{
    ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize < 0 && errno != ENOTSUP && errno != ENOSYS)
        return {"flistxattr", errno};
    if (listSize <= 0)
        return {};
    std::vector<char> list(std::size_t(listSize) + 1, '\0');
    listSize = ::flistxattr(from, list.data(), list.size());
    if (listSize < 0)
        return {"flistxattr", errno};
    for (std::size_t at = 0; at < std::size_t(listSize); at += std::strlen(list.data() + at) + 1) {
        const char *name = list.data() + at;
        // Granted to the old program file, not to whatever replaces it (the
        // kernel drops them on any write for the same reason).
        if (!*name || std::string_view(name) == "security.capability")
            continue;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        std::vector<char> value(std::size_t(std::max<ssize_t>(size, 0)) + 1);
        const ssize_t got = size < 0 ? -1 : ::fgetxattr(from, name, value.data(), value.size());
        if (got < 0 || systemCalls().fsetxattr(to, name, value.data(), std::size_t(got), 0) != 0) {
            // Only root may copy the trusted and security namespaces;
            // the picture doesn't need them to be kept from others.
            if (errno == EPERM && !std::string_view(name).starts_with("system.") &&
                !std::string_view(name).starts_with("user."))
                continue;
            return {"fsetxattr", errno};
        }
    }
    return {};
}

}  // namespace

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

StepFailure copyAttributes(int from, const FileIdentity &old, int to, bool &ownerChanged)
{
    ownerChanged = false;
    if (from < 0) {
        // A new file gets the usual permission bits.
        if (systemCalls().fchmod(to, 0666 & ~currentUmask()) != 0)
            return {"fchmod", errno};
        return {};
    }
    mode_t mode = old.mode & 07777;
    // Owner and group as far as we may give them: root replacing someone
    // else's file hands it back. A group we may not give would leave the
    // group permissions to another group: they go instead.
    struct stat made;
    if (::fstat(to, &made) != 0)
        return {"fstat", errno};
    if (made.st_uid != old.owner || made.st_gid != old.group) {
        const uid_t owner = ::geteuid() == 0 ? uid_t(old.owner) : uid_t(-1);
        const bool given = systemCalls().fchown(to, owner, gid_t(old.group)) == 0 && ::fstat(to, &made) == 0;
        if (!given || made.st_gid != old.group)
            mode &= ~mode_t(S_IRWXG | S_ISGID);
        // As cp does: the special bits were granted by the old owner and
        // group, not by whoever the new version belongs to.
        if (!given || made.st_uid != old.owner || made.st_gid != old.group) {
            mode &= ~mode_t(S_ISUID | S_ISGID);
            ownerChanged = true;
        }
    }
    if (const StepFailure failure = copyExtendedAttributes(from, to))
        return failure;
    // Last, as setting an access control list sets the group bits too.
    if (systemCalls().fchmod(to, mode) != 0)
        return {"fchmod", errno};
    return {};
}

}  // namespace tovi::platform
