#pragma once
// Bitmap pictures as Qt images, decoded pixel by pixel exactly as drawing and
// colour picking decode them.

#include <QImage>
#include <QSize>

#include "picture/bitmap.h"

namespace tovi::ui {

// The whole picture as a Format_RGB32 image; a null image when it holds no
// pixels.
QImage pictureImage(const picture::Bitmap &bitmap);

// A cheap smaller copy for showing the picture at `box` size or below: every
// n-th pixel of every n-th row, n chosen so that the copy stays at least twice
// as large as `box` (the painter smooths the rest). The whole picture when it
// is small enough already.
QImage reducedPictureImage(const picture::Bitmap &bitmap, QSize box);

// A raster as a Format_RGB32 image, taking every `step`-th pixel of every
// `step`-th row; a monochrome device raster reads through bkColor and
// textColor as drawing does.
QImage rasterImage(const platform::Raster &raster, platform::ColorRef bkColor, platform::ColorRef textColor,
                   int step = 1);

}  // namespace tovi::ui
