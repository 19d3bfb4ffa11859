#pragma once
// A table of system calls for tests that makes the nth call of a kind fail,
// counting from when it was set (1 = the next), and counts the calls made.
// In use from construction to destruction.

#include <atomic>
#include <cerrno>

#include "platform/files/system_calls.h"

namespace tovi::test {

class FaultySystemCalls : public platform::SystemCalls {
public:
    enum Call { Open, Write, Pread, Fsync, Link, Rename, Owner, Mode, Attributes, Times, Syncfs, SyncRange, kCalls };

    FaultySystemCalls() : m_previous(platform::useSystemCalls(this)) {}
    ~FaultySystemCalls() override { platform::useSystemCalls(m_previous); }
    FaultySystemCalls(const FaultySystemCalls &) = delete;
    FaultySystemCalls &operator=(const FaultySystemCalls &) = delete;

    void failNth(Call call, int nth, int code)
    {
        m_kinds[call].code = code;
        m_kinds[call].failAt = m_kinds[call].made.load() + nth;
    }
    // Calls of the kind made since construction.
    int made(Call call) const { return m_kinds[call].made.load(); }

    int open(int folder, const char *name, int flags, mode_t mode) override
    {
        return fails(Open) ? -1 : SystemCalls::open(folder, name, flags, mode);
    }
    ssize_t write(int fd, const void *buffer, std::size_t n) override
    {
        return fails(Write) ? -1 : SystemCalls::write(fd, buffer, n);
    }
    ssize_t pread(int fd, void *buffer, std::size_t n, off_t offset) override
    {
        return fails(Pread) ? -1 : SystemCalls::pread(fd, buffer, n, offset);
    }
    int fsync(int fd) override { return fails(Fsync) ? -1 : SystemCalls::fsync(fd); }
    int syncfs(int fd) override { return fails(Syncfs) ? -1 : SystemCalls::syncfs(fd); }
    int syncFileRange(int fd, off_t offset, off_t n, unsigned flags) override
    {
        return fails(SyncRange) ? -1 : SystemCalls::syncFileRange(fd, offset, n, flags);
    }
    int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags) override
    {
        return fails(Link) ? -1 : SystemCalls::linkat(fromFolder, from, toFolder, to, flags);
    }
    int renameat(int fromFolder, const char *from, int toFolder, const char *to) override
    {
        return fails(Rename) ? -1 : SystemCalls::renameat(fromFolder, from, toFolder, to);
    }
    int fchown(int fd, uid_t owner, gid_t group) override
    {
        return fails(Owner) ? -1 : SystemCalls::fchown(fd, owner, group);
    }
    int fchmod(int fd, mode_t mode) override { return fails(Mode) ? -1 : SystemCalls::fchmod(fd, mode); }
    int fsetxattr(int fd, const char *name, const void *value, std::size_t size, int flags) override
    {
        return fails(Attributes) ? -1 : SystemCalls::fsetxattr(fd, name, value, size, flags);
    }
    int futimens(int fd, const struct timespec times[2]) override
    {
        return fails(Times) ? -1 : SystemCalls::futimens(fd, times);
    }

private:
    bool fails(Call call)
    {
        Kind &kind = m_kinds[call];
        if (kind.made.fetch_add(1) + 1 != kind.failAt.load())
            return false;
        errno = kind.code.load();
        return true;
    }

    struct Kind {
        std::atomic<int> made{0}, failAt{0}, code{0};
    };
    Kind m_kinds[kCalls];
    platform::SystemCalls *m_previous;
};

}  // namespace tovi::test
