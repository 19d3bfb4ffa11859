#pragma once
// The bitmap picture: a raster of width x height pixels in one pixel format,
// with an optional colour table and logical palette, directly addressable scan
// lines and a drawing surface onto which another picture is drawn with
// conversion into this picture's format.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/pixel_format.h"
#include "platform/raster.h"

namespace tovi::platform {
class Stream;
}

namespace tovi::picture {

using platform::BitmapInfoHeader;
using platform::ChannelMasks;
using platform::ColorRef;
using platform::ColorTable;
using platform::LogicalPalette;
using platform::Raster;

// Clipboard format numbers.
inline constexpr int kClipboardBitmap = 2;   // a bitmap
inline constexpr int kClipboardPalette = 9;  // its palette

// What the BMP codec keeps of a file beyond its pixels and the header fields
// a picture holds, so that a changed picture is written back with it
// (bmp/bmp_codec.h). A change of pixel format drops it.
struct FileExtras {
    // The information header's bytes after its first 40: a longer header's
    // masks, colour space, end points, gamma, intent and profile fields.
    std::vector<std::uint8_t> headerTail;
    // The colour profile a 124-byte header names: embedded data, or the name
    // of a linked profile.
    std::vector<std::uint8_t> profile;
    // A run-length file: its information header as read (compression, depth,
    // resolution, colour counts), its colour table and the colour-table index
    // each pixel took, rows from the top; kUnsetPixel for a pixel the data
    // skipped (read as black).
    std::optional<BitmapInfoHeader> runLength;
    ColorTable runLengthTable;
    std::vector<std::uint16_t> runLengthIndices;
    static constexpr std::uint16_t kUnsetPixel = 0x100;
};

class Bitmap;

struct ClipboardForm {
    int format = kClipboardBitmap;
    std::shared_ptr<const Raster> bitmap;
    std::optional<LogicalPalette> palette;
    // A copy: the picture as the BMP codec writes it (header block, masks,
    // alpha, profile, run-length data), offered beside the bitmap; none when
    // the writer refuses the picture.
    std::shared_ptr<const std::vector<std::uint8_t>> file;
    // A copy: each pixel's alpha scaled to 0..255, rows from the top, for a
    // picture with an alpha mask; empty otherwise.
    std::vector<std::uint8_t> alpha;
    // A paste: the picture a BMP or an image with alpha on the clipboard
    // gave, when it holds what the bitmap can't; it is then taken as it is.
    std::shared_ptr<const Bitmap> picture;
};

class Bitmap {
public:
    Bitmap();
    // A copy shares the storage until either side changes its pixels.
    Bitmap(const Bitmap &other);
    Bitmap &operator=(const Bitmap &other);
    ~Bitmap();

    int width() const { return m_width; }
    int height() const { return m_height; }
    void setWidth(int width);
    void setHeight(int height);

    PixelFormat pixelFormat() const;
    // Throws PictureFormatError for Custom.
    void setPixelFormat(PixelFormat format);

    // Scan line `row` counted from the top. Counts as a change (the picture is
    // prepared) but signals nothing. Throws PictureOperationError out of range.
    std::uint8_t *scanLine(int row);

    // For code that rewrites every pixel in place with the same results as
    // drawing would give: prepares the change as drawing does (private
    // storage, colour counts 0, kept file bytes dropped, logical palette made
    // ready) and returns the raster. The caller signals changed() when done.
    std::shared_ptr<Raster> beginPixelChange();

    // No storage and no kept file bytes.
    bool empty() const { return !m_raster && !m_keptFileBytes; }

    // Draws src onto this picture's drawing surface with its top-left at (x, y).
    void draw(int x, int y, const Bitmap &src);
    // The colour of one pixel of the drawing surface (kInvalidColor outside).
    ColorRef pixel(int x, int y) const;

    // The drawing surface's colours.
    ColorRef brushColor() const { return m_brushColor; }
    void setBrushColor(ColorRef color) { m_brushColor = color; }
    ColorRef textColor() const;

    // BMP reading and writing through the BMP codec (bmp/bmp_codec.h). On an error
    // the picture keeps its previous content. Writing to a file replaces the file
    // only once the new content was written completely.
    void loadFromStream(platform::Stream &stream);
    void loadFromFile(const std::string &fileName);
    void saveToStream(platform::Stream &stream) const;
    void saveToFile(const std::string &fileName) const;

    ClipboardForm toClipboard() const;
    // Throws PictureFormatError for anything but a bitmap.
    void fromClipboard(int format, std::shared_ptr<const Raster> bitmap, const LogicalPalette *palette);

    // A new independent raster holding this device raster's pixels, as written
    // to a file: the display's depth (1 bit for a monochrome device raster),
    // compression 0. The picture itself stays a device raster.
    std::shared_ptr<Raster> makeIndependentFromDevice() const;

    // Called after every change.
    void setOnChange(std::function<void()> handler) { m_onChange = std::move(handler); }
    void changed() const;

    // What the picture holds, for the BMP reader and writer and for tests.
    const BitmapInfoHeader &header() const { return m_header; }
    const ChannelMasks &masks() const { return m_masks; }
    const Raster *raster() const { return m_raster.get(); }
    const std::optional<LogicalPalette> &palette() const { return m_palette; }
    bool isOs2Style() const { return m_os2Style; }
    const std::vector<std::uint8_t> *keptFileBytes() const { return m_keptFileBytes.get(); }
    const FileExtras *fileExtras() const { return m_extras.get(); }

    // Takes new content in place of the old (used by the BMP reader); signals on-change.
    struct Content {
        std::shared_ptr<Raster> raster;
        BitmapInfoHeader header;  // size 0 for a device raster
        ChannelMasks masks;
        std::optional<LogicalPalette> palette;
        bool os2Style = false;
        std::shared_ptr<const std::vector<std::uint8_t>> keptFileBytes;
        std::shared_ptr<const FileExtras> extras;
    };
    void assign(Content content);
    // Removes every pixel: an empty picture of format device. Signals on-change.
    void clear();

private:
    void prepareChange();
    void makeStorage(int width, int height);
    void makeLogicalPalette() const;

    std::shared_ptr<Raster> m_raster;
    BitmapInfoHeader m_header;  // size 0: no recorded header
    ChannelMasks m_masks;
    mutable std::optional<LogicalPalette> m_palette;
    std::shared_ptr<const std::vector<std::uint8_t>> m_keptFileBytes;
    std::shared_ptr<const FileExtras> m_extras;
    bool m_os2Style = false;
    int m_width = 0;
    int m_height = 0;
    ColorRef m_brushColor = 0x00FFFFFF;
    std::function<void()> m_onChange;
};

}  // namespace tovi::picture
