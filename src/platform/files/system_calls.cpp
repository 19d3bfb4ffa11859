#include "platform/files/system_calls.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace tovi::platform {

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
#define TOVI_FAULT(call)                       \
    if (const int code = injectedFault(call)) { \
        errno = code;                          \
        return -1;                             \
    }

}  // namespace

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

}  // namespace tovi::platform
