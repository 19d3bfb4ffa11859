#include "platform/gradient.h"

#include <algorithm>

namespace tovi::platform {

namespace {

unsigned channelAt(unsigned top, unsigned bottom, int row, int height)
{
    // 16-bit channel values as the vertices carry them, interpolated per row.
    const long long from = static_cast<long long>(top) << 8;
    const long long to = static_cast<long long>(bottom) << 8;
    const long long value = from + (to - from) * row / height;
    return unsigned(value >> 8);
}

}  // namespace

ColorRef gradientRowColor(ColorRef top, ColorRef bottom, int row, int height)
{
    if (height <= 1 || row <= 0)
        return top & 0x00FFFFFF;
    row = std::min(row, height - 1);
    return rgb(channelAt(redOf(top), redOf(bottom), row, height), channelAt(greenOf(top), greenOf(bottom), row, height),
               channelAt(blueOf(top), blueOf(bottom), row, height));
}

void gradientFillVertical(std::uint8_t *pixels, std::size_t stride, int width, int height, int left, int top,
                          int right, int bottom, ColorRef topColor, ColorRef bottomColor)
{
    const int rows = bottom - top;
    const int x0 = std::max(left, 0);
    const int x1 = std::min(right, width);
    const int y0 = std::max(top, 0);
    const int y1 = std::min(bottom, height);
    if (rows <= 0 || x0 >= x1 || y0 >= y1)
        return;
    for (int y = y0; y < y1; ++y) {
        const ColorRef c = gradientRowColor(topColor, bottomColor, y - top, rows);
        const std::uint32_t pixel = (redOf(c) << 16) | (greenOf(c) << 8) | blueOf(c);
        auto *row = reinterpret_cast<std::uint32_t *>(pixels + std::size_t(y) * stride);
        std::fill(row + x0, row + x1, pixel);
    }
}

}  // namespace tovi::platform
