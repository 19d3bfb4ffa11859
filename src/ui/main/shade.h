#pragma once
// The light and dark shades of a background gradient, computed on the
// hue-luminance-saturation scale of the system colour dialog (0 to 240 for
// each of the three), so that our gradients come out as they always have.

#include "platform/raster.h"

namespace tovi::ui {

using platform::ColorRef;

struct Hls {
    int hue = 0;
    int luminance = 0;
    int saturation = 0;

    bool operator==(const Hls &) const = default;
};

inline constexpr int kHlsMax = 240;

Hls rgbToHls(ColorRef color);
ColorRef hlsToRgb(const Hls &hls);

// The base colour with its luminance moved by `shift`; a light shift (above
// zero) turns dark for colours saturated above 220, as the gradients did from
// the start. The luminance is held to 0..240.
ColorRef shiftLuminance(ColorRef color, int shift);

inline constexpr int kLightShift = 19;
inline constexpr int kDarkShift = -50;

// Top and bottom colours of a gradient on `base` (a colour value, system
// colours allowed): button face takes the button highlight and shadow colours
// directly, every other base its shifted shades.
ColorRef gradientLightShade(ColorRef base);
ColorRef gradientDarkShade(ColorRef base);

}  // namespace tovi::ui
