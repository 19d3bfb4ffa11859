#pragma once
// Run-length data of the BMP format (RLE8 for 8 bits, RLE4 for 4 bits).

#include <cstdint>
#include <memory>
#include <span>

#include "platform/raster.h"

namespace tovi::picture::bmp {

// A device raster of the header's size decoded from run-length data with the
// colour table (pixels the data never sets are black). Returns nullptr for a
// header that isn't RLE8 at 8 bits or RLE4 at 4 bits stored bottom-up, or a
// raster far larger than the data could describe. highestIndex receives the
// highest colour-table index a decoded pixel took (0 when none did).
std::shared_ptr<platform::Raster> decodeRunLength(const platform::BitmapInfoHeader &header,
                                                  const platform::ColorTable &colorTable,
                                                  std::span<const std::uint8_t> data,
                                                  unsigned *highestIndex = nullptr);

}  // namespace tovi::picture::bmp
