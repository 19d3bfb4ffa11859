#pragma once

#include <sys/stat.h>

#include <cstdint>

namespace tovi::platform {

// What a file was when it was opened: which file, and the attributes a new
// version of it takes over.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0, links = 0, size = 0;
    unsigned mode = 0, owner = 0, group = 0;
    // Seconds and nanoseconds.
    std::int64_t accessed[2] = {}, modified[2] = {}, changed[2] = {};
};

FileIdentity identityOf(const struct stat &info);

}  // namespace tovi::platform
