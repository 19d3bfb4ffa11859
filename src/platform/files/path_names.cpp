#include "platform/files/path_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace tovi::platform {

namespace {

// Linux's own limit on links followed in one path.
constexpr int kMaxLinkHops = 40;

}  // namespace

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a chain of symbolic links to the file that is really written. A
// dangling link gives the name the file will be created under. Returns 0 or
// the errno that stopped the walk.
int resolveLinks(const std::string &name, std::string &target)
{
    target = name;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info;
        if (::lstat(target.c_str(), &info) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(info.st_mode))
            return 0;
        std::string link(std::size_t(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length < 0)
            return errno;
        link.resize(std::size_t(length));
        if (link.empty())
            return ENOENT;
        target = link.front() == '/' ? link : folderOf(target) + "/" + link;
    }
    return ELOOP;
}

std::string fullPathName(const std::string &name)
{
    std::string path;
    if (name.empty() || name.front() != '/') {
        std::string folder(PATH_MAX, '\0');
        if (::getcwd(folder.data(), folder.size()))
            path = folder.c_str();
        path += '/';
    }
    path += name;

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string full;
    for (const auto &part : parts)
        full += "/" + part;
    if (full.empty())
        return "/";
    // A name that ends in a separator names a folder; it keeps the separator.
    if (!name.empty() && name.back() == '/')
        full += '/';
    return full;
}

std::string openedPathName(const std::string &name)
{
    const std::string lexical = fullPathName(name);
    const std::string base = baseNameOf(name);
    if (base.empty() || base == "." || base == "..")
        return lexical;
    // The system walks "link/.." from the link's target; the lexical form
    // drops both. Where they reach the same folder the lexical form stands.
    const std::string folder = folderOf(name);
    struct stat given, folded;
    if (::stat(folder.c_str(), &given) != 0)
        return lexical;
    if (::stat(folderOf(lexical).c_str(), &folded) == 0 && given.st_dev == folded.st_dev &&
        given.st_ino == folded.st_ino)
        return lexical;
    char *real = ::realpath(folder.c_str(), nullptr);
    if (!real)
        return lexical;
    std::string resolved = real;
    std::free(real);
    return (resolved == "/" ? resolved : resolved + "/") + base;
}

}  // namespace tovi::platform
