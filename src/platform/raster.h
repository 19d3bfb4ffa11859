#pragma once
// The raster layer: pixel storage and every conversion between pixel formats.
//
// An independent raster keeps its pixels in the BMP row layout (rows padded to
// 4 bytes, bottom-up for a positive height) and is addressed directly. A device
// raster has the display's format, which is fixed at 32 bits per pixel, bytes
// blue, green, red, unused, rows top-down; a monochrome device raster (1 bit,
// black and white) exists only as a 1-bit picture's clipboard copy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tovi::platform {

using ColorRef = std::uint32_t;  // 0x00BBGGRR
inline constexpr ColorRef kInvalidColor = 0xFFFFFFFF;

inline constexpr ColorRef rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }
inline constexpr unsigned redOf(ColorRef c) { return c & 0xFF; }
inline constexpr unsigned greenOf(ColorRef c) { return (c >> 8) & 0xFF; }
inline constexpr unsigned blueOf(ColorRef c) { return (c >> 16) & 0xFF; }

// The two layouts of an independent raster's pixels, as its header's
// compression field names them: plain (the depth's standard channels) and bit
// fields (channels given by masks, 16 and 32 bits).
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiBitFields = 3;

inline constexpr std::uint32_t kInfoHeaderBytes = 40;
inline constexpr int kDisplayBitsPerPixel = 32;
inline constexpr std::size_t kMaxColorTableEntries = 256;

// Arbitrary maximum for one raster's pixel memory: 1 GiB holds a 16384 x 16384
// picture at 32 bits, far beyond what the program is used for, and keeps a
// malformed header from asking for a runaway allocation.
inline constexpr std::uint64_t kMaxRasterBytes = std::uint64_t{1} << 30;

struct BitmapInfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;

    bool operator==(const BitmapInfoHeader &) const = default;
};

struct RgbQuad {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;

    bool operator==(const RgbQuad &) const = default;
    ColorRef color() const { return rgb(red, green, blue); }
    static RgbQuad fromColor(ColorRef c) { return {std::uint8_t(blueOf(c)), std::uint8_t(greenOf(c)), std::uint8_t(redOf(c)), 0}; }
};

using ColorTable = std::vector<RgbQuad>;

struct ChannelMasks {
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
    // Bits of a pixel that hold its alpha: carried as they are, never
    // converted or drawn with.
    std::uint32_t alpha = 0;

    std::uint32_t colorBits() const { return red | green | blue; }
    bool sameColors(const ChannelMasks &o) const { return red == o.red && green == o.green && blue == o.blue; }

    bool operator==(const ChannelMasks &) const = default;
};

inline constexpr ChannelMasks kMasks555{0x7C00, 0x03E0, 0x001F};
inline constexpr ChannelMasks kMasks565{0xF800, 0x07E0, 0x001F};
inline constexpr ChannelMasks kMasks888{0x00FF0000, 0x0000FF00, 0x000000FF};

// A logical palette; the halftone palette is marked as such.
struct LogicalPalette {
    ColorTable entries;
    bool halftone = false;
};

const LogicalPalette &halftonePalette();
// The platform's standard 16 colours (the VGA colours), for new 4-bit rasters.
const ColorTable &standard16Colors();

// Bytes of one row: ((width * bits + 31) / 32) * 4; 0 when it would overflow.
std::uint64_t rowBytes(std::int64_t width, unsigned bitsPerPixel);

// Whether the raster layer can hold pixels of this depth in an independent raster.
bool isSupportedBitCount(unsigned bitsPerPixel);

class Raster {
public:
    enum class Kind { Independent, Device };

    // An independent raster (a DIB section). The header's height sign gives the
    // row order; a bit count of 0 means the display's depth. Masks apply to 16
    // and 32 bits with compression 3; the colour table is kept (at most 256).
    // Pixel memory starts zeroed. Returns nullptr for a header it can't hold;
    // throws OutOfResourcesError when memory can't be had.
    static std::shared_ptr<Raster> createIndependent(const BitmapInfoHeader &header,
                                                     const ChannelMasks *masks,
                                                     const ColorTable &colorTable);
    // A device raster of the display's format, or a monochrome one; pixels 0.
    static std::shared_ptr<Raster> createDevice(int width, int height, bool monochrome = false);

    Raster(const Raster &) = delete;
    Raster &operator=(const Raster &) = delete;
    ~Raster();

    std::shared_ptr<Raster> clone() const;

    Kind kind() const { return m_kind; }
    bool isDevice() const { return m_kind == Kind::Device; }
    bool isMonochromeDevice() const { return isDevice() && m_header.bitCount == 1; }
    int width() const { return m_header.width; }
    int height() const { return m_header.height < 0 ? -m_header.height : m_header.height; }
    bool topDown() const { return m_header.height < 0; }
    int bitsPerPixel() const { return m_header.bitCount; }
    int planes() const { return 1; }

    // The raster's own header: for a device raster a synthetic 40-byte header
    // (32 or 1 bits, compression 0, top-down).
    const BitmapInfoHeader &header() const { return m_header; }
    // The masks pixels are read with: those held for bit fields, else the
    // standard ones of the depth (5-5-5 for 16 bits, 8-8-8 for 32 bits).
    const ChannelMasks &masks() const { return m_masks; }
    const ColorTable &colorTable() const { return m_colorTable; }

    std::uint8_t *bits() { return m_bits; }
    const std::uint8_t *bits() const { return m_bits; }
    std::size_t rowBytes() const { return m_rowBytes; }
    std::size_t imageBytes() const { return m_imageBytes; }

    // Scan line i counted from the top, whatever the storage order.
    std::uint8_t *scanLine(int i) { return m_bits + storedRowOffset(i); }
    const std::uint8_t *scanLine(int i) const { return m_bits + storedRowOffset(i); }

    // The colour of one pixel, widened as drawing widens it; kInvalidColor outside.
    ColorRef pixel(int x, int y) const;
    // Every pixel the given colour, as converted into this raster's format.
    void fill(ColorRef color);

private:
    Raster() = default;
    std::size_t storedRowOffset(int i) const {
        const int stored = topDown() ? i : height() - 1 - i;
        return std::size_t(stored) * m_rowBytes;
    }
    void allocate();

    Kind m_kind = Kind::Independent;
    BitmapInfoHeader m_header;
    ChannelMasks m_masks;
    ColorTable m_colorTable;
    std::uint8_t *m_bits = nullptr;
    std::size_t m_rowBytes = 0;
    std::size_t m_imageBytes = 0;
    std::size_t m_mappedBytes = 0;
};

// Copy with conversion (an equal-size stretch copy): the whole of src onto dst
// with its top-left corner at (x, y), clipped to dst. Every colour is turned
// into dst's format: through the colour table, the masks or directly into red,
// green and blue; then into a paletted dst the nearest entry of its own colour
// table (an exact match wins; otherwise the smallest squared distance, the
// lowest index on a tie), into masked targets the high bits of each channel,
// into 24 and 32 bits the bytes (a 32-bit target's fourth byte 0). A monochrome
// device raster converts through bkColor and textColor: a 0 bit reads as
// textColor and a 1 bit as bkColor; writing into one, bkColor gives 1 and every
// other colour 0.
void copyWithConversion(const Raster &src, Raster &dst, int x, int y, ColorRef bkColor = 0x00FFFFFF,
                        ColorRef textColor = 0);

// Nearest entry of a colour table, as copyWithConversion chooses it, among
// its first `entries` entries (a pixel of n bits names only the first 2^n).
std::size_t nearestIndex(const ColorTable &table, ColorRef color, std::size_t entries = kMaxColorTableEntries);

}  // namespace tovi::platform
