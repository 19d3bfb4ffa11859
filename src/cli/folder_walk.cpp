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

namespace tovi::cli {

namespace {

using Identity = std::pair<dev_t, ino_t>;

std::string joined(const std::string &folder, const char *entry)
{
    return folder.ends_with('/') ? folder + entry : folder + "/" + entry;
}

struct Found {
    std::string path;
    Identity identity;
    bool operator<(const Found &other) const { return path < other.path; }
};

}  // namespace

class FolderWalker::Walk {
public:
    explicit Walk(const WalkReports &reports) : m_reports(reports) {}

    void start(const std::string &path, std::vector<std::string> &names)
    {
        m_names = &names;
        folder(path, true);
    }

private:
    void folder(const std::string &path, bool followLink)
    {
        std::vector<Found> files;
        std::vector<std::string> folders;
        std::vector<std::string> links;
        const int code = readFolder(path, followLink, files, folders, links);
        std::sort(links.begin(), links.end());
        if (m_reports.linkNotFollowed) {
            for (const auto &link : links)
                m_reports.linkNotFollowed(link);
        }
        if (code != 0) {
            if (code != EEXIST && m_reports.unreadable)
                m_reports.unreadable(path, code);
            if (files.empty() && folders.empty())
                return;
        }
        // std::string compares bytes as unsigned char: the bytewise order.
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        for (const auto &file : files) {
            if (m_files.insert(file.identity).second)
                m_names->push_back(file.path);
        }
        for (const auto &sub : folders)
            folder(sub, false);
    }

    // Reads one folder's entries; gives 0, EEXIST for a folder walked
    // already, or the errno that stopped the reading. The folder is closed
    // before its subfolders are walked, so that the depth of a tree never runs
    // out of file descriptors.
    int readFolder(const std::string &path, bool followLink, std::vector<Found> &files,
                   std::vector<std::string> &folders, std::vector<std::string> &links)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
        if (fd < 0)
            return errno;
        struct stat self;
        if (::fstat(fd, &self) != 0) {
            const int code = errno;
            ::close(fd);
            return code;
        }
        const auto [first, isNew] = m_folders.emplace(Identity{self.st_dev, self.st_ino}, path);
        if (!isNew) {
            ::close(fd);
            if (m_reports.folderAgain)
                m_reports.folderAgain(path, first->second);
            return EEXIST;
        }
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
            const std::string entryPath = joined(path, entry->d_name);
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                folders.push_back(entryPath);
            } else if (S_ISLNK(info.st_mode)) {
                struct stat target;
                const bool toFolder = ::fstatat(fd, entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
                if (toFolder || hasBmpExtension(name))
                    links.push_back(entryPath);
            } else if (S_ISREG(info.st_mode) && hasBmpExtension(name)) {
                files.push_back({entryPath, {info.st_dev, info.st_ino}});
            }
        }
        ::closedir(dir);
        return code;
    }

    std::vector<std::string> *m_names = nullptr;
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

void FolderWalker::walk(const std::string &folder, std::vector<std::string> &names)
{
    m_walk->start(folder, names);
}

}  // namespace tovi::cli
