#include "platform/files/temporary_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>

namespace tovi::platform {

std::string tempPrefixOf(const std::string &base)
{
    std::string prefix = ".";
    prefix.append(base, 0, kMaxTempStem);
    prefix += kTempMark;
    return prefix;
}

bool isTempRandomPart(const std::string &name)
{
    return name.size() >= kTempRandom &&
           std::all_of(name.end() - kTempRandom, name.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
           });
}

std::string randomTempName(const std::string &base)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    std::uint64_t bits = (std::uint64_t(device()) << 32) ^ device() ^ (std::uint64_t(::getpid()) << 20) ^ counter++;
    std::string name = tempPrefixOf(base);
    for (std::size_t i = 0; i < kTempRandom; ++i, bits /= 62)
        name += kLetters[bits % 62];
    return name;
}

// The names in a folder, read through a descriptor of our own so that the
// folder's stays untouched.
std::vector<std::string> namesIn(int folderFd)
{
    std::vector<std::string> names;
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR *folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return names;
    }
    while (const dirent *entry = ::readdir(folder))
        names.emplace_back(entry->d_name);
    ::closedir(folder);
    return names;
}

}  // namespace tovi::platform
