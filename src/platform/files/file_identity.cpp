#include "platform/files/file_identity.h"

namespace tovi::platform {

FileIdentity identityOf(const struct stat &info)
{
    FileIdentity identity;
    identity.device = std::uint64_t(info.st_dev);
    identity.inode = std::uint64_t(info.st_ino);
    identity.links = std::uint64_t(info.st_nlink);
    identity.size = std::uint64_t(info.st_size);
    identity.mode = unsigned(info.st_mode);
    identity.owner = unsigned(info.st_uid);
    identity.group = unsigned(info.st_gid);
    identity.accessed[0] = info.st_atim.tv_sec;
    identity.accessed[1] = info.st_atim.tv_nsec;
    identity.modified[0] = info.st_mtim.tv_sec;
    identity.modified[1] = info.st_mtim.tv_nsec;
    identity.changed[0] = info.st_ctim.tv_sec;
    identity.changed[1] = info.st_ctim.tv_nsec;
    return identity;
}

}  // namespace tovi::platform
