#pragma once
// The rules for which existing files may be replaced.

#include <sys/stat.h>

#include <cstdint>

namespace tovi::platform {

// Why an existing file can't be replaced, or 0.
int refusalOf(const struct stat &info);
bool sameFile(const struct stat &a, std::uint64_t device, std::uint64_t inode);

}  // namespace tovi::platform
