#pragma once
// What a new version of a file takes over from the old one.

#include "platform/files/held_file.h"

namespace tovi::platform {

// A step of the replace path that failed: the system call and its errno.
struct StepFailure {
    const char *step = nullptr;
    int code = 0;
    explicit operator bool() const { return code != 0; }
};

// Gives the new version (to) the owner, group, permission bits, access
// control lists and extended attributes of the old one (from, as it was when
// opened: old), as far as we may give them: a group that can't be kept takes
// the group permissions along, and an owner or group that can't be kept the
// set-user-ID and set-group-ID bits (ownerChanged then tells). The file
// capabilities never travel. from < 0: a new file, which gets the usual
// permission bits.
StepFailure copyAttributes(int from, const FileIdentity &old, int to, bool &ownerChanged);

// The file-creation mask, read once.
mode_t currentUmask();

}  // namespace tovi::platform
