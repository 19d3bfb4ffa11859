#pragma once
// Reading and writing pixels of every raster layout through one intermediate
// form: 32-bit values 0x00RRGGBB, which in memory are the display's bytes
// blue, green, red, unused. Used by the copy with conversion, pixel reading
// and the colour operation's fast paths, so all of them widen and narrow
// colours the same way.

#include <array>
#include <bit>
#include <cstdint>

#include "platform/raster.h"

namespace tovi::platform {

inline constexpr std::uint32_t colorToXrgb(ColorRef c) { return (redOf(c) << 16) | (greenOf(c) << 8) | blueOf(c); }
inline constexpr ColorRef xrgbToColor(std::uint32_t x) { return rgb((x >> 16) & 0xFF, (x >> 8) & 0xFF, x & 0xFF); }

// Widens an n-bit channel value to 8 bits by bit replication, so that the
// largest value becomes 255: 5 bits (v << 3) | (v >> 2), 6 bits (v << 2) | (v >> 4).
inline constexpr unsigned widenChannel(std::uint32_t value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 8)
        return (value >> (bits - 8)) & 0xFF;
    int pos = 8 - bits;
    unsigned result = value << pos;
    while (pos > 0) {
        pos -= bits;
        result |= pos >= 0 ? value << pos : value >> -pos;
    }
    return result & 0xFF;
}

// Narrows an 8-bit channel value to n bits, keeping the high bits (or
// replicating them into a channel wider than 8 bits).
inline constexpr std::uint32_t narrowChannel(unsigned value, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits <= 8)
        return value >> (8 - bits);
    int pos = bits - 8;
    std::uint32_t result = std::uint32_t(value) << pos;
    while (pos > 0) {
        pos -= 8;
        result |= pos >= 0 ? std::uint32_t(value) << pos : std::uint32_t(value) >> -pos;
    }
    return result;
}

struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit constexpr Channel(std::uint32_t m = 0)
        : mask(m), shift(m ? std::countr_zero(m) : 0), bits(m ? std::bit_width(m >> (m ? std::countr_zero(m) : 0)) : 0)
    {
    }
    constexpr unsigned read(std::uint32_t pixel) const { return widenChannel((pixel & mask) >> shift, bits); }
    constexpr std::uint32_t write(unsigned value) const { return (narrowChannel(value, bits) << shift) & mask; }
};

inline unsigned readIndex(const std::uint8_t *row, int x, int bits)
{
    switch (bits) {
    case 8:
        return row[x];
    case 4:
        return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    case 2:
        return (row[x >> 2] >> (6 - 2 * (x & 3))) & 0x03;
    default:
        return (row[x >> 3] >> (7 - (x & 7))) & 0x01;
    }
}

inline void writeIndex(std::uint8_t *row, int x, int bits, unsigned index)
{
    switch (bits) {
    case 8:
        row[x] = std::uint8_t(index);
        return;
    case 4: {
        const int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = std::uint8_t((row[x >> 1] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
        return;
    }
    case 2: {
        const int shift = 6 - 2 * (x & 3);
        row[x >> 2] = std::uint8_t((row[x >> 2] & ~(0x03 << shift)) | ((index & 0x03) << shift));
        return;
    }
    default: {
        const int shift = 7 - (x & 7);
        row[x >> 3] = std::uint8_t((row[x >> 3] & ~(1 << shift)) | ((index & 1) << shift));
        return;
    }
    }
}

// How the pixels of a raster are laid out, as far as reading and writing them
// goes (a monochrome device raster is indexed).
enum class PixelLayout { Indexed, Masked16, Bytes24, Bytes32, Masked32 };
PixelLayout pixelLayoutOf(const Raster &raster);

// The three channels of a masked layout.
struct ChannelSet {
    Channel red, green, blue;

    ChannelSet() = default;
    explicit ChannelSet(const ChannelMasks &masks) : red(masks.red), green(masks.green), blue(masks.blue) {}
    std::uint32_t decode(std::uint32_t value) const
    {
        return (red.read(value) << 16) | (green.read(value) << 8) | blue.read(value);
    }
    std::uint32_t encode(std::uint32_t xrgb) const
    {
        return red.write((xrgb >> 16) & 0xFF) | green.write((xrgb >> 8) & 0xFF) | blue.write(xrgb & 0xFF);
    }
};

class PixelDecoder {
public:
    PixelDecoder(const Raster &raster, ColorRef bkColor, ColorRef textColor);

    bool indexed() const { return m_kind == PixelLayout::Indexed; }
    int bits() const { return m_bits; }
    std::uint32_t lutColor(unsigned index) const { return m_lut[index & 0xFF]; }
    // Pixels x .. x + count - 1 of one row.
    void decode(const std::uint8_t *row, int x, int count, std::uint32_t *out) const;
    // One 16-bit or masked 32-bit pixel value.
    std::uint32_t decodeMasked(std::uint32_t value) const { return m_channels.decode(value); }

private:
    PixelLayout m_kind;
    int m_bits = 0;
    ChannelSet m_channels;
    std::array<std::uint32_t, 256> m_lut{};
};

class PixelEncoder {
public:
    PixelEncoder(const Raster &raster, ColorRef bkColor);

    bool indexed() const { return m_kind == PixelLayout::Indexed; }
    int bits() const { return m_bits; }
    // The index a colour takes in an indexed target.
    std::uint8_t indexFor(std::uint32_t xrgb);
    void encode(const std::uint32_t *in, std::uint8_t *row, int x, int count);
    std::uint32_t encodeMasked(std::uint32_t xrgb) const { return m_channels.encode(xrgb); }

private:
    PixelLayout m_kind;
    bool m_mono = false;  // a monochrome device raster: 1 for the background colour
    int m_bits = 0;
    ChannelSet m_channels;
    const ColorTable *m_table = nullptr;
    // Entries a pixel can name: a longer table's rest is out of reach.
    std::size_t m_reachable = 0;
    std::uint32_t m_bkXrgb = 0;
    // Recently matched colours: the nearest-entry search is the slow part.
    std::array<std::uint32_t, 4096> m_cacheKey{};
    std::array<std::uint8_t, 4096> m_cacheIndex{};
};

// The highest colour-table index that a pixel of an indexed independent
// raster holds (unused bits of a row's last byte and its padding aside).
unsigned highestIndex(const Raster &raster);

// Copies count indices from one indexed row to another through a map.
void copyIndexedRow(const std::uint8_t *src, int sx, int srcBits, std::uint8_t *dst, int dx, int dstBits, int count,
                    const std::uint8_t *map);

}  // namespace tovi::platform
