#include "platform/files/replace_checks.h"

#include <cerrno>

namespace tovi::platform {

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

}  // namespace tovi::platform
