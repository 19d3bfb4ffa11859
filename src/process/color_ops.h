#pragma once
// The colour operation: rewrites every pixel of a picture in one of four ways,
// leaving the picture in its own width, height, pixel format and palette.

#include <string>

#include "picture/bitmap.h"
#include "process/color_modes.h"

namespace tovi::process {

using platform::ColorRef;

// The name of a mode for the batch result lines (the table's result name);
// empty for any other code.
std::string modeName(int mode);

// Processes the picture in place. color1 and color2 are colour values: system
// colours are resolved through the system-colour table when the call starts.
void processColors(picture::Bitmap &picture, int mode, ColorRef color1, ColorRef color2);

// The plain pipeline (draw into a 24-bit copy, rewrite its pixels, draw back),
// which fixes the results; processColors takes faster paths with identical
// results wherever the format allows.
void processColorsPlain(picture::Bitmap &picture, int mode, ColorRef color1, ColorRef color2);

}  // namespace tovi::process
