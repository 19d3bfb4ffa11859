#pragma once

#include <string>

namespace tovi::platform {

// The absolute form of a name: current folder prepended, "." and ".." folded,
// links not resolved.
std::string fullPathName(const std::string &name);
// The full path of the file the system opens for a name: fullPathName() where
// that names the same file, else with the folder resolved ("link/../x" is the
// x beside the link's target, not the one beside the link).
std::string openedPathName(const std::string &name);

// The folder part of a path ("." for a bare name, "/" for one in the root).
std::string folderOf(const std::string &path);
// What follows the last "/".
std::string baseNameOf(const std::string &path);
// Follows a chain of symbolic links to the file that is really written. A
// dangling link gives the name the file will be created under. Returns 0 or
// the errno that stopped the walk.
int resolveLinks(const std::string &name, std::string &target);

}  // namespace tovi::platform
