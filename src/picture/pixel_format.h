#pragma once
// Pixel formats of a bitmap picture. The ordinals are fixed: callers store and
// compare them, and the display names are looked up by them.

#include <cstdint>
#include <string>

namespace tovi::picture {

enum class PixelFormat : std::uint8_t {
    Device = 0,
    Bit1 = 1,
    Bit4 = 2,
    Bit8 = 3,
    Bit15 = 4,
    Bit16 = 5,
    Bit24 = 6,
    Bit32 = 7,
    Custom = 8,
};

// The display name of a pixel format; every ordinal above 8 gets the
// unsupported-format name.
std::string pixelFormatName(std::uint8_t ordinal);
inline std::string pixelFormatName(PixelFormat format) { return pixelFormatName(std::uint8_t(format)); }

}  // namespace tovi::picture
