#pragma once
// Run-length data of the BMP format (RLE8 for 8 bits, RLE4 for 4 bits).

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "picture/bitmap.h"
#include "platform/raster.h"

namespace tovi::picture::bmp {

// A device raster of the header's size decoded from run-length data with the
// colour table (pixels the data never sets are black). Returns nullptr for a
// header that isn't RLE8 at 8 bits or RLE4 at 4 bits stored bottom-up, or a
// raster far larger than the data could describe. highestIndex receives the
// highest colour-table index a decoded pixel took (0 when none did); indices,
// the index of each pixel, rows from the top (FileExtras::kUnsetPixel where
// the data sets none).
std::shared_ptr<platform::Raster> decodeRunLength(const platform::BitmapInfoHeader &header,
                                                  const platform::ColorTable &colorTable,
                                                  std::span<const std::uint8_t> data,
                                                  unsigned *highestIndex = nullptr,
                                                  std::vector<std::uint16_t> *indices = nullptr);

// Run-length data (RLE4 when fourBits, else RLE8) of width x height indices
// given row by row from the top, ending with the end-of-bitmap escape. Pixels
// marked FileExtras::kUnsetPixel are skipped (a delta, or the end of the line).
std::vector<std::uint8_t> encodeRunLength(std::span<const std::uint16_t> indices, int width, int height,
                                          bool fourBits);

}  // namespace tovi::picture::bmp
