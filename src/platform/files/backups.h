#pragma once
// Keeping a replaced file's old version (the backup conventions of the GNU
// tools).

#include <string>

#include "platform/files/attributes.h"
#include "platform/files/held_file.h"
#include "platform/files/replace_writer.h"

namespace tovi::platform {

// The name in its folder of the backup of base, "" for none.
std::string backupBaseName(int folderFd, const std::string &base, const ReplaceOptions &options);

// Keeps the file fd, named base in the folder folderFd (full name folder),
// under its backup name: a hard link where possible, else a flushed copy.
// Nothing stays behind when it fails.
StepFailure keepBackup(int folderFd, const std::string &folder, const std::string &base, int fd,
                       const FileIdentity &identity, const ReplaceOptions &options);

}  // namespace tovi::platform
