#include "cli/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tovi::cli {

namespace {

std::string joined(const std::string &folder, const char *entry)
{
    return folder.ends_with('/') ? folder + entry : folder + "/" + entry;
}

struct Entry {
    enum Kind { Skipped, File, Folder } kind = Skipped;
    std::string path;
};

Entry::Kind kindOf(int folderFd, const std::string &path, const dirent &entry)
{
    unsigned char type = entry.d_type;
    struct stat info;
    if (type == DT_UNKNOWN) {
        if (::fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return Entry::Skipped;
        type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR)
        return Entry::Folder;
    if (!hasBmpExtension(path))
        return Entry::Skipped;
    if (type == DT_REG)
        return Entry::File;
    // A link counts as the file it leads to; a link to a folder is not walked.
    if (type == DT_LNK && ::fstatat(folderFd, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode))
        return Entry::File;
    return Entry::Skipped;
}

// Reads one folder's entries; gives 0 or the errno that stopped the reading.
// The folder is closed before its subfolders are walked, so that the depth of
// a tree never runs out of file descriptors.
int readFolder(const std::string &folder, bool followLink, std::vector<std::string> &files,
               std::vector<std::string> &folders)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
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
        const std::string path = joined(folder, entry->d_name);
        switch (kindOf(fd, path, *entry)) {
        case Entry::File:
            files.push_back(path);
            break;
        case Entry::Folder:
            folders.push_back(path);
            break;
        case Entry::Skipped:
            break;
        }
    }
    ::closedir(dir);
    return code;
}

void walk(const std::string &folder, bool followLink, std::vector<std::string> &names,
          const UnreadableFolder &unreadable)
{
    std::vector<std::string> files;
    std::vector<std::string> folders;
    if (const int code = readFolder(folder, followLink, files, folders); code != 0) {
        unreadable(folder, code);
        if (files.empty() && folders.empty())
            return;
    }
    // std::string compares bytes as unsigned char: the bytewise order.
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    names.insert(names.end(), files.begin(), files.end());
    for (const auto &sub : folders)
        walk(sub, false, names, unreadable);
}

}  // namespace

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

void walkFolder(const std::string &folder, std::vector<std::string> &names, const UnreadableFolder &unreadable)
{
    // The folder named on the command line is walked even through a link.
    walk(folder, true, names, unreadable);
}

}  // namespace tovi::cli
