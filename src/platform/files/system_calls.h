#pragma once
// The system calls of the replace path.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tovi::platform {

// One read(2) or write(2) call moves at most this much (the kernel's own cap is
// a little below 2 GiB).
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads n bytes at offset, going on after interruptions and short reads;
// fewer only at the end of the file or on an error.
std::size_t readAt(int fd, void *buffer, std::size_t n, std::uint64_t offset);

// For tests: makes the nth call from now (1 = the next) of one system call of
// the replace path fail with `code`, as a full disk or a failing device would.
enum class FileCall { OpenTemporary, Write, Fsync, Link, Rename, FolderFsync, Owner, Mode, Attributes, Times };
void injectFileFault(FileCall call, int nth, int code);
void clearFileFaults();


int sysOpenAt(FileCall call, int folder, const char *name, int flags, mode_t mode);
ssize_t sysWrite(int fd, const void *buffer, std::size_t n);
int sysFsync(FileCall call, int fd);
int sysLinkAt(int fromFolder, const char *from, int toFolder, const char *to, int flags);
int sysRenameAt(int folder, const char *from, const char *to);
int sysFchown(int fd, uid_t owner, gid_t group);
int sysFchmod(int fd, mode_t mode);
int sysFsetxattr(int fd, const char *name, const void *value, std::size_t size);
int sysFutimens(int fd, const struct timespec times[2]);

}  // namespace tovi::platform
