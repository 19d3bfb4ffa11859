#pragma once
// The colour operation: rewrites every pixel of a picture in one of four ways,
// leaving the picture in its own width, height, pixel format and palette.

#include <array>
#include <cstdint>
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

// Settings of the rules beyond the mode and the two colours; the defaults are
// the rules as described, so a call without them is exactly the one above.
struct ColorSettings {
    // Swap only, 0..kMaxTolerance: a pixel other than colour 1 and colour 2
    // that lies within this distance (in RGB, 8-bit channels) of the straight
    // segment from colour 1 to colour 2, as does its mirror image, is
    // mirrored along the segment: a pixel a quarter of the way from colour 1
    // ends a quarter of the way from colour 2, keeping its offset from the
    // segment to within a level. The mirror is exact in reverse, so swapping
    // twice gives back every pixel whose mirror lies inside the RGB cube; a
    // mirror beyond it is clamped to 0..255.
    int tolerance = 0;
    // The grayscale modes only.
    GrayFormula grayFormula = kDefaultGrayFormula;
};

// processColors and processColorsPlain under these settings (names of their
// own, so that the two above stay single functions whose address is taken).
void processColorsWith(picture::Bitmap &picture, int mode, ColorRef color1, ColorRef color2,
                       const ColorSettings &settings);
void processColorsPlainWith(picture::Bitmap &picture, int mode, ColorRef color1, ColorRef color2,
                            const ColorSettings &settings);

// The index each entry of a run-length file's colour table takes when its
// picture is processed in the mode and written back: its own index while the
// rule leaves its colour as it is, else the nearest entry within reach of the
// depth (16 entries for 4 bits). Entries beyond the table keep their index.
std::array<std::uint8_t, 256> runLengthIndexMap(const platform::ColorTable &table, bool fourBits, int mode,
                                                ColorRef color1, ColorRef color2, const ColorSettings &settings);

}  // namespace tovi::process
