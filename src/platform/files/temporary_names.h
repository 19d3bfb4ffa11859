#pragma once
// The names of the temporary files beside a file being replaced:
// "." + the file's name + ".tovi-" + six random letters and digits.

#include <cstddef>
#include <string>
#include <vector>

namespace tovi::platform {

inline constexpr const char *kTempMark = ".tovi-";
inline constexpr std::size_t kTempRandom = 6;
// Room in a 255-byte file name for "." before and ".tovi-XXXXXX" after.
inline constexpr std::size_t kMaxTempStem = 200;

// What every temporary name of a file begins with.
std::string tempPrefixOf(const std::string &base);
// Whether a name ends in kTempRandom letters and digits, as randomTempName()
// makes them.
bool isTempRandomPart(const std::string &name);
// A fresh temporary name for a file.
std::string randomTempName(const std::string &base);
// The names in a folder, read through a descriptor of our own so that the
// folder's stays untouched.
std::vector<std::string> namesIn(int folderFd);

}  // namespace tovi::platform
