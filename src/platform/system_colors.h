#pragma once
// The system colours: a replaceable table with classic light-theme defaults,
// so the core runs without a GUI. The window program fills it from the
// application's palette at start.

#include "platform/raster.h"

namespace tovi::platform {

enum SystemColor : int {
    kColorWindowText = 8,
    kColorAppWorkspace = 12,
    kColorBtnFace = 15,
    kColorBtnShadow = 16,
    kColorBtnText = 18,
    kColorBtnHighlight = 20,
    kColorInfoText = 23,
    kColorInfoBk = 24,
};
inline constexpr int kSystemColorCount = 31;

// A colour value with its top bit set names the system colour of its low byte.
inline constexpr ColorRef kSystemColorFlag = 0x80000000;
inline constexpr ColorRef systemColorValue(int index) { return kSystemColorFlag | ColorRef(index); }

// The current colour of a system colour (GetSysColor); 0 for an unknown index.
ColorRef sysColor(int index);
void setSysColor(int index, ColorRef color);
void resetSysColors();

// A colour value as a pixel colour: system colours replaced by their current
// value, every other value returned unchanged (all 32 bits).
ColorRef resolveColor(ColorRef value);

}  // namespace tovi::platform
