#pragma once
// Gradient fill in its vertical-rectangle mode: each row of the rectangle one
// colour, linear from the top colour (first row) towards the bottom colour.

#include <cstddef>
#include <cstdint>

#include "platform/raster.h"

namespace tovi::platform {

// The colour of row `row` of a gradient `height` rows high.
ColorRef gradientRowColor(ColorRef top, ColorRef bottom, int row, int height);

// Fills the rectangle (left, top, right, bottom exclusive) of a 32-bit
// blue-green-red-unused pixel buffer, clipped to width x height.
void gradientFillVertical(std::uint8_t *pixels, std::size_t stride, int width, int height, int left, int top,
                          int right, int bottom, ColorRef topColor, ColorRef bottomColor);

}  // namespace tovi::platform
