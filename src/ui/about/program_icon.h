#pragma once
// The program's icon drawing for the about box: a 48 x 48 picture with 256
// colours, the same drawing as the desktop icon (a picture whose right half is
// its left half with black and white swapped, over the swap arrow).

#include <QColor>
#include <QImage>
#include <QPixmap>

namespace tovi::ui {

inline constexpr int kProgramIconSize = 48;

// The drawing itself, 8 bits per pixel with a 256-entry colour table. Its
// bottom-left pixel has the see-through colour.
QImage programIconImage();

// The drawing as shown: every pixel of the bottom-left pixel's colour
// transparent.
QPixmap transparentIcon(const QImage &image);

}  // namespace tovi::ui
