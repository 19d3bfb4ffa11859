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

#include "picture/bitmap.h"

namespace tovi::platform {
class Stream;
}

namespace tovi::picture::bmp {

// The BMP from the stream's position to its end; an empty content (no raster)
// for no bytes at all.
Bitmap::Content decode(platform::Stream &stream);

// Writes the picture as a BMP at the stream's position; nothing for a picture
// without storage.
void encode(const Bitmap &picture, platform::Stream &stream);

// Refuses (picture-format error) an indexed raster whose pixels name an entry
// beyond the first `entries` of its colour table: such a file would read back
// with other colours.
void requireColorTableCovers(const platform::Raster &raster, std::size_t entries);

}  // namespace tovi::picture::bmp
