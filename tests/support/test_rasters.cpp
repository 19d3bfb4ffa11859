#include "support/test_rasters.h"

namespace tovi::test {

std::shared_ptr<platform::Raster> makeRaster(const RasterLayout &layout, int width, int height, bool topDown,
                                             const platform::ColorTable &table)
{
    if (layout.device)
        return platform::Raster::createDevice(width, height);
    platform::BitmapInfoHeader header;
    header.size = 40;
    header.width = width;
    header.height = topDown ? -height : height;
    header.planes = 1;
    header.bitCount = std::uint16_t(layout.bits);
    header.compression = layout.compression;
    return platform::Raster::createIndependent(header, &layout.masks, table);
}

std::shared_ptr<platform::Raster> makeRaster(unsigned bits, int width, int height,
                                             const platform::ChannelMasks *masks, const platform::ColorTable &table)
{
    const RasterLayout layout{"", bits, masks ? platform::kBiBitFields : platform::kBiRgb,
                              masks ? *masks : platform::ChannelMasks{}, false};
    return makeRaster(layout, width, height, false, table);
}

}  // namespace tovi::test
