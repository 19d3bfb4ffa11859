#pragma once
// The system calls of the replace path, as one table. The program uses the
// system's own; a test puts a table of its own in place to make the nth call
// of a kind fail as a full disk or a failing device would.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace tovi::platform {

// Each member does what the system call of its name does, and fails as it
// does (-1 and errno). open is openat.
class SystemCalls {
public:
    constexpr SystemCalls() = default;
    virtual ~SystemCalls() = default;

    virtual int open(int folder, const char *name, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void *buffer, std::size_t n);
    virtual ssize_t pread(int fd, void *buffer, std::size_t n, off_t offset);
    virtual int fsync(int fd);
    virtual int syncfs(int fd);
    virtual int syncFileRange(int fd, off_t offset, off_t n, unsigned flags);
    virtual int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags);
    virtual int renameat(int fromFolder, const char *from, int toFolder, const char *to);
    virtual int fchown(int fd, uid_t owner, gid_t group);
    virtual int fchmod(int fd, mode_t mode);
    virtual int fsetxattr(int fd, const char *name, const void *value, std::size_t size, int flags);
    virtual int futimens(int fd, const struct timespec times[2]);
};

// The table in use.
SystemCalls &systemCalls() noexcept;
// For tests: puts calls in place of the table in use (nullptr: the system's
// own) and gives the one it replaces. Not for while files are being replaced.
SystemCalls *useSystemCalls(SystemCalls *calls) noexcept;

// One read(2) or write(2) call moves at most this much (the kernel's own cap is
// a little below 2 GiB).
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads n bytes at offset, going on after interruptions and short reads;
// fewer only at the end of the file or on an error.
std::size_t readAt(int fd, void *buffer, std::size_t n, std::uint64_t offset);
// Opens, going on after interruptions.
int openAt(int folder, const char *name, int flags, mode_t mode = 0);

}  // namespace tovi::platform
