#pragma once
// The picture files under a folder, for tovi-batch --recursive.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "process/batch.h"

namespace tovi::cli {

// What the walk tells on the way; each may be empty.
struct WalkReports {
    // A folder that can't be read, with the errno that stopped it.
    std::function<void(const std::string &folder, int code)> unreadable;
    // A symbolic link met in the walk, not followed: one named like a picture
    // file, or one leading to a folder.
    std::function<void(const std::string &link)> linkNotFollowed;
    // A folder met again (a bind mount of the tree inside itself, a loop):
    // not walked a second time. sameAs is where it was walked first.
    std::function<void(const std::string &folder, const std::string &sameAs)> folderAgain;
};

// Walks the folders of one run. walk() appends the regular files under a
// folder whose names end in ".bmp" in any case to names: first the folder's
// own files in bytewise order of their names, then each subfolder the same
// way, also in bytewise order, so that each folder's files stay together under
// one folder line. As find and chmod -R do, symbolic links met in the walk are
// not followed, whether they lead to files or folders (the folder named to
// walk() is walked even through a link). Each file is listed once in the run,
// by its device and inode, however many names, mounts or folders given lead
// to it; a folder met again is not walked again. A folder that can't be read
// is reported and left out; the walk goes on. Each folder is opened inside
// the one it was found in, without following links, and held (see
// platform::HeldFolder): the files listed carry it, and are opened inside it
// later, not through their path; the path strings only name them. The depth
// of a tree has no limit.
class FolderWalker {
public:
    explicit FolderWalker(WalkReports reports);
    ~FolderWalker();
    FolderWalker(const FolderWalker &) = delete;
    FolderWalker &operator=(const FolderWalker &) = delete;

    void walk(const std::string &folder, std::vector<process::BatchEntry> &names);

private:
    class Walk;
    WalkReports m_reports;
    std::unique_ptr<Walk> m_walk;
};

// Whether name ends in ".bmp", letters in any case (ASCII only, whatever the
// locale).
bool hasBmpExtension(const std::string &name);

}  // namespace tovi::cli
