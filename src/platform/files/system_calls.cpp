#include "platform/files/system_calls.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace tovi::platform {

namespace {

constinit SystemCalls g_systemCalls;
constinit std::atomic<SystemCalls *> g_inUse{&g_systemCalls};

}  // namespace

int SystemCalls::open(int folder, const char *name, int flags, mode_t mode)
{
    return ::openat(folder, name, flags, mode);
}

ssize_t SystemCalls::write(int fd, const void *buffer, std::size_t n)
{
    return ::write(fd, buffer, n);
}

ssize_t SystemCalls::pread(int fd, void *buffer, std::size_t n, off_t offset)
{
    return ::pread(fd, buffer, n, offset);
}

int SystemCalls::fsync(int fd)
{
    return ::fsync(fd);
}

int SystemCalls::syncfs(int fd)
{
    return ::syncfs(fd);
}

int SystemCalls::syncFileRange(int fd, off_t offset, off_t n, unsigned flags)
{
    return ::sync_file_range(fd, offset, n, flags);
}

int SystemCalls::linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags)
{
    return ::linkat(fromFolder, from, toFolder, to, flags);
}

int SystemCalls::renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    return ::renameat(fromFolder, from, toFolder, to);
}

int SystemCalls::fchown(int fd, uid_t owner, gid_t group)
{
    return ::fchown(fd, owner, group);
}

int SystemCalls::fchmod(int fd, mode_t mode)
{
    return ::fchmod(fd, mode);
}

int SystemCalls::fsetxattr(int fd, const char *name, const void *value, std::size_t size, int flags)
{
    return ::fsetxattr(fd, name, value, size, flags);
}

int SystemCalls::futimens(int fd, const struct timespec times[2])
{
    return ::futimens(fd, times);
}

SystemCalls &systemCalls() noexcept
{
    return *g_inUse.load(std::memory_order_acquire);
}

SystemCalls *useSystemCalls(SystemCalls *calls) noexcept
{
    return g_inUse.exchange(calls ? calls : &g_systemCalls);
}

std::size_t readAt(int fd, void *buffer, std::size_t n, std::uint64_t offset)
{
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = systemCalls().pread(fd, bytes + done, std::min(n - done, kMaxTransfer), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::size_t(got);
    }
    return done;
}

int openAt(int folder, const char *name, int flags, mode_t mode)
{
    int fd;
    do
        fd = systemCalls().open(folder, name, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace tovi::platform
