#include "cli/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <utility>

#include "platform/files/held_folder.h"

namespace tovi::cli {

namespace {

using Identity = std::pair<dev_t, ino_t>;

std::string joined(const std::string &folder, const std::string &entry)
{
    return folder.ends_with('/') ? folder + entry : folder + "/" + entry;
}

struct Found {
    std::string name;  // in its folder
    Identity identity;
    bool operator<(const Found &other) const { return name < other.name; }
};

// A folder read whose subfolders are being walked.
struct Pending {
    std::shared_ptr<platform::HeldFolder> folder;
    std::string path;
    std::vector<std::string> subfolders;  // names, in bytewise order
    std::size_t next = 0;
    bool hasFiles = false;
    // The folder's descriptor while its subfolders are opened one after the
    // other; closed while one of them is walked.
    int fd = -1;
};

}  // namespace

// Depth first, by a stack of its own rather than by recursion: a tree of any
// depth is walked. Each folder is opened inside its parent, by descriptor, so
// the path strings only name what was found.
class FolderWalker::Walk {
public:
    explicit Walk(const WalkReports &reports) : m_reports(reports) {}

    void start(const std::string &path, std::vector<process::BatchEntry> &names)
    {
        m_names = &names;
        std::shared_ptr<platform::HeldFolder> top;
        if (const int code = platform::HeldFolder::openTop(path, true, top)) {
            unreadable(path, code);
            return;
        }
        std::vector<Pending> stack;
        visit(std::move(top), path, stack);
        while (!stack.empty()) {
            Pending &pending = stack.back();
            if (pending.next == pending.subfolders.size()) {
                // Only a folder with files to be opened in keeps its descriptor.
                pending.folder->keepOpen(pending.hasFiles);
                if (pending.fd >= 0)
                    ::close(pending.fd);
                stack.pop_back();
                continue;
            }
            // Once per return from a subfolder, opened again (cheaply where
            // the folder is held): the walk itself holds one folder at a time.
            if (pending.fd < 0)
                pending.fd = pending.folder->open();
            const std::string &name = pending.subfolders[pending.next++];
            const std::string subPath = joined(pending.path, name);
            std::shared_ptr<platform::HeldFolder> sub;
            if (const int code = platform::HeldFolder::openIn(pending.folder, pending.fd, name, sub)) {
                unreadable(subPath, code);
                continue;
            }
            ::close(pending.fd);
            pending.fd = -1;
            visit(std::move(sub), subPath, stack);
        }
    }

private:
    void unreadable(const std::string &path, int code)
    {
        if (m_reports.unreadable)
            m_reports.unreadable(path, code);
    }

    // Lists the files of one folder and puts it on the stack for its
    // subfolders.
    void visit(std::shared_ptr<platform::HeldFolder> folder, const std::string &path, std::vector<Pending> &stack)
    {
        const auto [first, isNew] = m_folders.emplace(Identity{folder->device(), folder->inode()}, path);
        if (!isNew) {
            if (m_reports.folderAgain)
                m_reports.folderAgain(path, first->second);
            return;
        }
        std::vector<Found> files;
        Pending pending;
        std::vector<std::string> links;
        const int code = readFolder(*folder, path, files, pending.subfolders, links);
        std::sort(links.begin(), links.end());
        if (m_reports.linkNotFollowed) {
            for (const auto &link : links)
                m_reports.linkNotFollowed(link);
        }
        if (code != 0) {
            unreadable(path, code);
            if (files.empty() && pending.subfolders.empty()) {
                folder->keepOpen(false);
                return;
            }
        }
        // std::string compares bytes as unsigned char: the bytewise order.
        std::sort(files.begin(), files.end());
        std::sort(pending.subfolders.begin(), pending.subfolders.end());
        for (const auto &file : files) {
            if (m_files.insert(file.identity).second) {
                m_names->emplace_back(joined(path, file.name), folder);
                pending.hasFiles = true;
            }
        }
        // Kept for opening the subfolders in, as long as the program may.
        folder->keepOpen(pending.hasFiles || !pending.subfolders.empty());
        if (pending.subfolders.empty())
            return;
        pending.folder = std::move(folder);
        pending.path = path;
        stack.push_back(std::move(pending));
    }

    // Reads one folder's entries; gives 0 or the errno that stopped the
    // reading.
    static int readFolder(const platform::HeldFolder &folder, const std::string &path, std::vector<Found> &files,
                          std::vector<std::string> &folders, std::vector<std::string> &links)
    {
        const int fd = folder.open();
        if (fd < 0)
            return errno;
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            const int code = errno;
            ::close(fd);
            return code;
        }
        int code = 0;
        for (;;) {
            errno = 0;
            const dirent *entry = ::readdir(dir);
            if (!entry) {
                code = errno;
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                folders.push_back(name);
            } else if (S_ISLNK(info.st_mode)) {
                struct stat target;
                const bool toFolder = ::fstatat(fd, entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
                if (toFolder || hasBmpExtension(name))
                    links.push_back(joined(path, name));
            } else if (S_ISREG(info.st_mode) && hasBmpExtension(name)) {
                files.push_back({name, {info.st_dev, info.st_ino}});
            }
        }
        ::closedir(dir);
        return code;
    }

    std::vector<process::BatchEntry> *m_names = nullptr;
    const WalkReports &m_reports;
    std::set<Identity> m_files;
    std::map<Identity, std::string> m_folders;  // with the path walked
};

bool hasBmpExtension(const std::string &name)
{
    constexpr std::string_view kExtension = ".bmp";
    if (name.size() < kExtension.size())
        return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
    });
}

FolderWalker::FolderWalker(WalkReports reports) : m_reports(std::move(reports)), m_walk(std::make_unique<Walk>(m_reports))
{
}

FolderWalker::~FolderWalker() = default;

void FolderWalker::walk(const std::string &folder, std::vector<process::BatchEntry> &names)
{
    m_walk->start(folder, names);
}

}  // namespace tovi::cli
