#pragma once
// Rasters of a given layout for the tests of the raster layer and of the
// colour operation.

#include <cstdint>
#include <memory>

#include "platform/raster.h"

namespace tovi::test {

struct RasterLayout {
    const char *name;
    unsigned bits;
    std::uint32_t compression;
    platform::ChannelMasks masks;
    bool device;
};

// A width × height raster (rows from the top when topDown) in the layout,
// with `table` as its colour table; a device raster ignores the table.
std::shared_ptr<platform::Raster> makeRaster(const RasterLayout &layout, int width, int height, bool topDown = false,
                                             const platform::ColorTable &table = {});

// The same for a raster of `bits` per pixel without masks (compression
// kBiRgb), or with `masks` (kBiBitFields).
std::shared_ptr<platform::Raster> makeRaster(unsigned bits, int width, int height,
                                             const platform::ChannelMasks *masks = nullptr,
                                             const platform::ColorTable &table = {});

}  // namespace tovi::test
