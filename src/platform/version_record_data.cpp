// The version record of the executable that links this file (through the
// object library `tovi_version_record`). It sits in a section of its own so
// that it can be found in the file on disk, like a version resource.

#include "platform/version_record.h"

#ifndef TOVI_VERSION_MAJOR
#error "TOVI_VERSION_MAJOR and its siblings come from the project version (tovi_platform)"
#endif

#if defined(__has_attribute)
#if __has_attribute(retain)
// Keeps the record even when the linker drops unreferenced sections.
#define TOVI_RETAIN gnu::retain,
#endif
#endif
#ifndef TOVI_RETAIN
#define TOVI_RETAIN
#endif

namespace tovi::platform {

static_assert(std::string_view(kVersionSectionName) == ".tovi_version");

// Nothing refers to the record in the program: it is read back from the file.
[[gnu::section(".tovi_version"), TOVI_RETAIN gnu::used]] extern const VersionInfoBlock kEmbeddedVersionRecord =
    makeVersionInfoBlock(TOVI_VERSION_MAJOR, TOVI_VERSION_MINOR, TOVI_VERSION_PATCH, TOVI_VERSION_TWEAK);

}  // namespace tovi::platform
