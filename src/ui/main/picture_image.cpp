#include "ui/main/picture_image.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/pixel_codec.h"

namespace tovi::ui {

QImage rasterImage(const platform::Raster &raster, platform::ColorRef bkColor, platform::ColorRef textColor, int step)
{
    step = std::max(step, 1);
    const int width = raster.width(), height = raster.height();
    if (width <= 0 || height <= 0)
        return {};
    const int outWidth = (width + step - 1) / step, outHeight = (height + step - 1) / step;
    QImage image(outWidth, outHeight, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const platform::PixelDecoder decoder(raster, bkColor, textColor);
    std::vector<std::uint32_t> row(step > 1 ? std::size_t(width) : 0);
    for (int y = 0; y < outHeight; ++y) {
        auto *out = reinterpret_cast<std::uint32_t *>(image.scanLine(y));
        const std::uint8_t *source = raster.scanLine(y * step);
        if (step == 1) {
            decoder.decode(source, 0, width, out);
        } else {
            decoder.decode(source, 0, width, row.data());
            for (int x = 0; x < outWidth; ++x)
                out[x] = row[std::size_t(x) * std::size_t(step)];
        }
        // Qt takes a pixel as opaque only when the unused byte is 0xFF.
        for (int x = 0; x < outWidth; ++x)
            out[x] |= 0xFF000000u;
    }
    return image;
}

QImage pictureImage(const picture::Bitmap &bitmap)
{
    const platform::Raster *raster = bitmap.raster();
    return raster ? rasterImage(*raster, bitmap.brushColor(), bitmap.textColor()) : QImage();
}

QImage reducedPictureImage(const picture::Bitmap &bitmap, QSize box)
{
    const platform::Raster *raster = bitmap.raster();
    if (!raster)
        return {};
    const int wide = std::max(box.width(), 1) * 2, high = std::max(box.height(), 1) * 2;
    const int step = std::max(1, std::min(raster->width() / wide, raster->height() / high));
    return rasterImage(*raster, bitmap.brushColor(), bitmap.textColor(), step);
}

}  // namespace tovi::ui
