#pragma once
// The temporary files of the writers at work, registered so that an
// interruption can still remove them.

#include <string>

namespace tovi::platform {

// Registers a temporary file by its full name; gives its slot, or -1 when
// there is no room (the file then can't be removed on a signal).
int addUnfinishedFile(const std::string &name) noexcept;
// Forgets a slot of addUnfinishedFile(); -1 is ignored.
void dropUnfinishedFile(int slot) noexcept;

// Removes the temporary files of writers that haven't committed; safe to call
// from a signal handler.
void removeUnfinishedFiles() noexcept;
// Makes SIGINT, SIGTERM and SIGHUP remove those files before they end the
// program as they would have, so that an interrupted run leaves no temporary
// file behind. A signal ignored at start stays ignored.
void removeUnfinishedFilesOnSignals();

}  // namespace tovi::platform
