#pragma once
// The BMP codec: reading a BMP into the content of a bitmap picture
// (bmp_reader.cpp) and writing a bitmap picture as a BMP (bmp_writer.cpp).
//
// The reader keeps only what it can write back: every file it accepts comes
// back, through the writer, with the same colour at every pixel. A file it
// can't keep is refused with the picture-format error, whose reason() says
// in plain words what is wrong with it ("pixel index 200 lies beyond the
// 101-entry colour table").

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "picture/bitmap.h"

namespace tovi::platform {
class Stream;
}

namespace tovi::picture::bmp {

// The BMP from the stream's position to its end; an empty content (no raster)
// for no bytes at all.
Bitmap::Content decode(platform::Stream &stream);

// The size a BMP declares, from its first bytes, without reading it: enough
// for an estimate of the memory it will take. Nothing when the bytes are fewer
// than kPeekBytes or don't start with the signature "BM". The values are as
// the header gives them (magnitudes, unchecked).
struct Dimensions {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};
inline constexpr std::size_t kPeekBytes = 26;  // the file header and the information header's first three fields
std::optional<Dimensions> peekDimensions(std::span<const std::uint8_t> start);

// Writes the picture as a BMP at the stream's position; nothing for a picture
// without storage.
void encode(const Bitmap &picture, platform::Stream &stream);

// Refuses (picture-format error) an indexed raster whose pixels name an entry
// beyond the first `entries` of its colour table: such a file would read back
// with other colours.
void requireColorTableCovers(const platform::Raster &raster, std::size_t entries);

}  // namespace tovi::picture::bmp
