#pragma once
// The picture files under a folder, for tovi-batch --recursive.

#include <functional>
#include <string>
#include <vector>

namespace tovi::cli {

// Called for a folder that can't be read, with the errno that stopped it.
using UnreadableFolder = std::function<void(const std::string &folder, int code)>;

// Appends the regular files under folder whose names end in ".bmp" in any case
// (links to such files included) to names: first the folder's own files in
// bytewise order of their names, then each subfolder the same way, also in
// bytewise order, so that each folder's files stay together under one folder
// line. Links to folders are not followed. A folder that can't be read is
// reported and left out; the walk goes on.
void walkFolder(const std::string &folder, std::vector<std::string> &names, const UnreadableFolder &unreadable);

// Whether name ends in ".bmp", letters in any case (ASCII only, whatever the
// locale).
bool hasBmpExtension(const std::string &name);

}  // namespace tovi::cli
