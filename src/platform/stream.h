#pragma once
// Files and streams: everything of src/platform/files/ that the layers above
// use, in one include.

#include "platform/files/held_file.h"
#include "platform/files/path_names.h"
#include "platform/files/read_stream.h"
#include "platform/files/replace_writer.h"
#include "platform/files/stream.h"
#include "platform/files/unfinished_files.h"
