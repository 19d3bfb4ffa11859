#pragma once
// The system clipboard's bitmap exchange. A bitmap on the clipboard is an
// image; a paletted picture travels as an indexed image, so that its palette
// goes with it, and a one-bit picture as a black-and-white one. Whatever
// image another program put there is offered as a bitmap too.

#include <QImage>

#include "picture/bitmap.h"
#include "platform/errors.h"

namespace tovi::ui::clipboard {

inline constexpr const char *kCannotOpenMessage = "クリップボードを開くことができません";

// The clipboard can't be had.
class ClipboardError : public Error {
public:
    ClipboardError() : Error(kCannotOpenMessage) {}
};

// Whether the clipboard offers a bitmap, as an image or as an encoded
// picture. Never fails: no clipboard offers none.
bool hasBitmap();

// Empties the clipboard and puts the bitmap (with its palette) on it, as an
// image with alpha where the picture has an alpha mask, and beside it the
// picture as a BMP file (image/bmp) where the form has one; a form without a
// bitmap leaves the clipboard empty. Throws ClipboardError.
void setBitmap(const picture::ClipboardForm &form);

// The clipboard's bitmap as a device raster, with the palette of an indexed
// image; a form without a bitmap when the clipboard holds none (any more).
// A BMP that holds more than a bitmap (the program's own copy of a picture
// with a longer header, alpha, a profile or run-length data) and an image
// with transparency come as the form's picture instead, taken as they are.
// Throws ClipboardError.
picture::ClipboardForm bitmap();

// A pasted image: a device raster (fromImage), or for an image with
// transparency a 32-bit picture with an alpha mask.
picture::ClipboardForm fromPastedImage(const QImage &image);

// Decodes a picture another program put on the clipboard encoded (PNG, BMP,
// ...): a null image for data that isn't a picture the image reader reads.
// Throws OutOfResourcesError for a picture beyond the raster limit.
QImage decodeImage(const QByteArray &encoded);

// The conversions between the clipboard form and an image.
QImage toImage(const picture::ClipboardForm &form);
picture::ClipboardForm fromImage(const QImage &image);

}  // namespace tovi::ui::clipboard
