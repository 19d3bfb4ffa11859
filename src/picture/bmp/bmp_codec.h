#pragma once
// The BMP codec: reading a BMP into the content of a bitmap picture
// (bmp_reader.cpp) and writing a bitmap picture as a BMP (bmp_writer.cpp).
//
// The reader keeps only what it can write back: every file it accepts comes
// back, through the writer, with the same colour at every pixel. A file it
// can't keep is refused with the picture-format error, whose reason() says
// in plain words what is wrong with it ("pixel index 200 lies beyond the
// 101-entry colour table").

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <memory>
#include <span>
#include <vector>

#include "picture/bitmap.h"

namespace tovi::platform {
class Stream;
}

namespace tovi::picture::bmp {

// The BMP from the stream's position to its end; an empty content (no raster)
// for no bytes at all.
Bitmap::Content decode(platform::Stream &stream);

// A run-length file as the reader takes it in, its pixels not decoded: its
// bytes, colour table and where its run-length data lies in them.
struct RunLengthFile {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    platform::ColorTable table;
    bool fourBits = false;
    int width = 0;
    int height = 0;
    std::size_t dataAt = 0;
    std::size_t dataSize = 0;
};

// Whether a BMP's first bytes say it holds run-length data (a header of 40
// bytes or more with compression RLE8 or RLE4); false for fewer than
// kCompressionPeekBytes.
inline constexpr std::size_t kCompressionPeekBytes = 34;
bool peekRunLength(std::span<const std::uint8_t> start);

// Reads a BMP from the stream's position as decode does, up to its pixels,
// with every check decode makes on the way (and its errors). A run-length file
// is read to its end and returned; for any other file, or one whose pixels
// decode should take in (its colour profile beyond the end or inside the
// pixel data), nothing, the stream read partway.
std::optional<RunLengthFile> readRunLengthFile(platform::Stream &stream);

// The file with map[i] in place of each pixel's colour-table index i, every
// other byte as it was, when its data sets each pixel of the picture once, row
// after row: runs that stay within their row, an end of line after each row
// (or the end of the bitmap after the last), no delta, no index beyond the
// colour table, and a picture within the raster limit. Nothing otherwise, and
// the file is then for decode to take in. The result holds the same pixels as
// decoding the file, changing each pixel from entry i to entry map[i] and
// writing it back does, and keeps the file's own runs.
std::optional<std::vector<std::uint8_t>> remapRunLengthIndices(const RunLengthFile &file,
                                                              const std::array<std::uint8_t, 256> &map);

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
