#include "platform/files/held_folder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/files/system_calls.h"

namespace tovi::platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// How many folders may keep their descriptor. The soft limit of open files is
// raised to the hard one first (a walk of a large tree holds many); of what
// there is, room stays for the files being worked on, the standard streams
// and the libraries. Past it folders let go and are opened again on use.
long heldFolderCap()
{
    static const long cap = [] {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 256L;
        if (limit.rlim_cur < limit.rlim_max) {
            struct rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        const long soft = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > (1u << 20) ? long(1) << 20
                                                                                          : long(limit.rlim_cur);
        return soft > 2048 ? soft - 1024 : soft / 2;
    }();
    return cap;
}

std::atomic<long> g_heldFolders{0};

}  // namespace

int HeldFolder::openTop(const std::string &path, bool followLink, std::shared_ptr<HeldFolder> &folder)
{
    heldFolderCap();
    folder.reset();
    const int fd = openAt(AT_FDCWD, path.c_str(), kFolderFlags | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return errno;
    std::shared_ptr<HeldFolder> made(new HeldFolder);
    if (const int code = made->adopt(fd))
        return code;
    folder = std::move(made);
    return 0;
}

int HeldFolder::openIn(const std::shared_ptr<HeldFolder> &parent, int parentFd, const std::string &name,
                       std::shared_ptr<HeldFolder> &folder)
{
    folder.reset();
    const int opened = parentFd >= 0 ? -1 : parent->open();
    if (parentFd < 0 && opened < 0)
        return errno;
    const int fd = openAt(parentFd >= 0 ? parentFd : opened, name.c_str(), kFolderFlags | O_NOFOLLOW);
    const int code = errno;
    if (opened >= 0)
        ::close(opened);
    if (fd < 0)
        return code;
    std::shared_ptr<HeldFolder> made(new HeldFolder);
    made->m_parent = parent;
    made->m_name = name;
    if (const int failure = made->adopt(fd))
        return failure;
    folder = std::move(made);
    return 0;
}

int HeldFolder::adopt(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_fd = fd;
    ++g_heldFolders;
    return 0;
}

HeldFolder::~HeldFolder()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        --g_heldFolders;
    }
    // A long chain of parents goes one by one, not by recursion.
    std::shared_ptr<HeldFolder> parent = std::move(m_parent);
    while (parent && parent.use_count() == 1)
        parent = std::move(parent->m_parent);
}

void HeldFolder::keepOpen(bool keep)
{
    // The top folder is where every opening again starts.
    if (m_fd < 0 || !m_parent || (keep && g_heldFolders <= heldFolderCap()))
        return;
    ::close(m_fd);
    m_fd = -1;
    --g_heldFolders;
}

int HeldFolder::open() const
{
    if (m_fd >= 0)
        return ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    // From the nearest folder still held, down through the names walked.
    std::vector<const HeldFolder *> path;
    const HeldFolder *held = this;
    while (held->m_fd < 0) {
        path.push_back(held);
        held = held->m_parent.get();
    }
    int fd = ::fcntl(held->m_fd, F_DUPFD_CLOEXEC, 0);
    for (auto step = path.rbegin(); fd >= 0 && step != path.rend(); ++step) {
        const int next = openAt(fd, (*step)->m_name.c_str(), kFolderFlags | O_NOFOLLOW);
        const int code = errno;
        ::close(fd);
        fd = next;
        struct stat info;
        if (fd < 0) {
            errno = code;
        } else if (::fstat(fd, &info) != 0 || info.st_dev != (*step)->m_device ||
                   info.st_ino != (*step)->m_inode) {
            // Renamed or swapped since the walk: not the folder walked.
            ::close(fd);
            fd = -1;
            errno = ESTALE;
        }
    }
    return fd;
}

}  // namespace tovi::platform
