#pragma once
// Folders held by descriptor from a walk to the files' replacing, so that a
// file found in a folder is only ever opened inside that very folder, however
// its path is renamed or swapped for a link meanwhile.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tovi::platform {

// One folder of a walk. The top one is opened by its name, the others inside
// their parent, never through a symbolic link. Each keeps its descriptor while
// the program may hold that many (see keepOpen()); one that let go is opened
// again on use, name by name from its nearest held ancestor, each step checked
// to be the folder walked (device and inode). Shared by the files listed in
// it; only keepOpen() changes it, before it is shared between threads.
class HeldFolder {
public:
    // 0 or the errno that stopped the opening; folder is then empty.
    static int openTop(const std::string &path, bool followLink, std::shared_ptr<HeldFolder> &folder);
    // parentFd: a descriptor of parent the caller has at hand (it stays
    // open), or -1 for one opened here.
    static int openIn(const std::shared_ptr<HeldFolder> &parent, int parentFd, const std::string &name,
                      std::shared_ptr<HeldFolder> &folder);
    ~HeldFolder();
    HeldFolder(const HeldFolder &) = delete;
    HeldFolder &operator=(const HeldFolder &) = delete;

    dev_t device() const { return m_device; }
    ino_t inode() const { return m_inode; }

    // A new descriptor of the folder, which the caller closes; -1 with errno
    // (ESTALE: a folder on the way is no longer the one walked).
    int open() const;
    // Keeps the descriptor (when the program may hold one more) or lets it go.
    // The top folder is always kept.
    void keepOpen(bool keep);

private:
    HeldFolder() = default;
    int adopt(int fd);

    std::shared_ptr<HeldFolder> m_parent;  // none for the top folder
    std::string m_name;                    // in the parent
    dev_t m_device = 0;
    ino_t m_inode = 0;
    int m_fd = -1;
};

}  // namespace tovi::platform
