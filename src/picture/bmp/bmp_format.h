#pragma once
// Layout constants of the BMP file format: header sizes, field offsets and the
// one little-endian reader and writer the codec uses.

#include <cstddef>
#include <cstdint>

namespace tovi::picture::bmp {

inline constexpr std::uint16_t kSignature = 0x4D42;  // "BM"

// Compression values of the information header beyond the raster layer's two
// layouts (platform::kBiRgb 0 and platform::kBiBitFields 3).
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiJpeg = 4;
inline constexpr std::uint32_t kBiPng = 5;

// The 14-byte file header.
inline constexpr std::size_t kFileHeaderBytes = 14;
inline constexpr std::size_t kSignatureAt = 0;
inline constexpr std::size_t kFileSizeAt = 2;
inline constexpr std::size_t kPixelOffsetAt = 10;

// Information header sizes, which also name its versions.
inline constexpr std::uint32_t kCoreHeaderBytes = 12;    // OS/2 core header
inline constexpr std::uint32_t kInfoHeaderBytes = 40;    // information header
inline constexpr std::uint32_t kV2InfoHeaderBytes = 52;  // the first that carries masks
inline constexpr std::uint32_t kV4HeaderBytes = 108;
inline constexpr std::uint32_t kV5HeaderBytes = 124;
inline constexpr std::size_t kHeaderSizeFieldBytes = 4;

// Fields of the information header, from its start (the size field).
inline constexpr std::size_t kHeaderSizeAt = 0;
inline constexpr std::size_t kWidthAt = 4;
inline constexpr std::size_t kHeightAt = 8;
inline constexpr std::size_t kPlanesAt = 12;
inline constexpr std::size_t kBitCountAt = 14;
inline constexpr std::size_t kCompressionAt = 16;
inline constexpr std::size_t kImageSizeAt = 20;
inline constexpr std::size_t kXPelsPerMeterAt = 24;
inline constexpr std::size_t kYPelsPerMeterAt = 28;
inline constexpr std::size_t kColorsUsedAt = 32;
inline constexpr std::size_t kColorsImportantAt = 36;
// Longer headers carry the channel masks here; a 40-byte header with bit
// fields is followed by them, in the same order.
inline constexpr std::size_t kRedMaskAt = 40;
inline constexpr std::size_t kGreenMaskAt = 44;
inline constexpr std::size_t kBlueMaskAt = 48;
inline constexpr std::size_t kMaskBytes = 12;  // red, green, blue
// From 56 bytes on, the alpha mask follows them.
inline constexpr std::size_t kAlphaMaskAt = 52;
inline constexpr std::uint32_t kV3InfoHeaderBytes = 56;
// A 124-byte header names a colour profile: its colour-space type says
// whether it is embedded or linked (a file name), and the profile's place
// (from the start of the information header) and size.
inline constexpr std::size_t kColorSpaceTypeAt = 56;
inline constexpr std::size_t kProfileDataAt = 112;
inline constexpr std::size_t kProfileSizeAt = 116;
inline constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // "MBED"
inline constexpr std::uint32_t kProfileLinked = 0x4C494E4B;    // "LINK"

// Fields of the core header: 16-bit width and height, no compression, no
// colour count.
inline constexpr std::size_t kCoreWidthAt = 4;
inline constexpr std::size_t kCoreHeightAt = 6;
inline constexpr std::size_t kCorePlanesAt = 8;
inline constexpr std::size_t kCoreBitCountAt = 10;

inline constexpr std::size_t kCoreColorBytes = 3;  // blue, green, red
inline constexpr std::size_t kInfoColorBytes = 4;  // blue, green, red, unused

// A raster may be larger than the pixel bytes the file holds (missing bytes
// read as 0), but not beyond this allowance plus this many times the bytes
// present, so a short malformed file can't ask for a runaway allocation.
inline constexpr std::uint64_t kShortFileAllowanceBytes = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kShortFileExpansion = 16;

inline std::uint16_t readLe16(const std::uint8_t *p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t readLe32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline void writeLe16(std::uint8_t *p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void writeLe32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

}  // namespace tovi::picture::bmp
