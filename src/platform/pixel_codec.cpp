#include "platform/pixel_codec.h"

#include <algorithm>
#include <cstring>

namespace tovi::platform {

PixelLayout pixelLayoutOf(const Raster &raster)
{
    if (raster.isMonochromeDevice())
        return PixelLayout::Indexed;
    switch (raster.bitsPerPixel()) {
    case 1:
    case 2:
    case 4:
    case 8:
        return PixelLayout::Indexed;
    case 16:
        return PixelLayout::Masked16;
    case 24:
        return PixelLayout::Bytes24;
    default:
        return raster.masks().sameColors(kMasks888) ? PixelLayout::Bytes32 : PixelLayout::Masked32;
    }
}

PixelDecoder::PixelDecoder(const Raster &raster, ColorRef bkColor, ColorRef textColor)
    : m_kind(pixelLayoutOf(raster)), m_bits(raster.bitsPerPixel()), m_channels(raster.masks())
{
    if (raster.isMonochromeDevice()) {
        // A 0 bit is drawn in the text colour, a 1 bit in the background colour.
        m_lut[0] = colorToXrgb(textColor);
        m_lut[1] = colorToXrgb(bkColor);
    } else if (m_kind == PixelLayout::Indexed) {
        // An index the colour table doesn't hold reads as black.
        const ColorTable &table = raster.colorTable();
        for (std::size_t i = 0; i < table.size() && i < m_lut.size(); ++i)
            m_lut[i] = colorToXrgb(table[i].color());
    }
}

void PixelDecoder::decode(const std::uint8_t *row, int x, int count, std::uint32_t *out) const
{
    switch (m_kind) {
    case PixelLayout::Indexed:
        if (m_bits == 8) {
            for (int i = 0; i < count; ++i)
                out[i] = m_lut[row[x + i]];
        } else {
            for (int i = 0; i < count; ++i)
                out[i] = m_lut[readIndex(row, x + i, m_bits)];
        }
        return;
    case PixelLayout::Masked16:
        for (int i = 0; i < count; ++i) {
            const std::uint8_t *p = row + 2 * std::size_t(x + i);
            out[i] = decodeMasked(std::uint32_t(p[0] | (p[1] << 8)));
        }
        return;
    case PixelLayout::Bytes24:
        for (int i = 0; i < count; ++i) {
            const std::uint8_t *p = row + 3 * std::size_t(x + i);
            out[i] = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
        }
        return;
    case PixelLayout::Bytes32:
        for (int i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::size_t(x + i), 4);
            out[i] = v & 0x00FFFFFF;
        }
        return;
    case PixelLayout::Masked32:
        for (int i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::size_t(x + i), 4);
            out[i] = decodeMasked(v);
        }
        return;
    }
}

PixelEncoder::PixelEncoder(const Raster &raster, ColorRef bkColor)
    : m_kind(pixelLayoutOf(raster)), m_mono(raster.isMonochromeDevice()), m_bits(raster.bitsPerPixel()),
      m_channels(raster.masks()), m_table(&raster.colorTable()),
      m_reachable(m_kind == PixelLayout::Indexed && m_bits <= 8 ? std::size_t{1} << m_bits : kMaxColorTableEntries),
      m_bkXrgb(colorToXrgb(bkColor))
{
    // Cache keys carry a marker bit above the colour, so the zeroed cache is empty.
}

std::uint8_t PixelEncoder::indexFor(std::uint32_t xrgb)
{
    if (m_mono)
        return xrgb == m_bkXrgb ? 1 : 0;
    const std::uint32_t key = xrgb | 0x01000000;
    const std::size_t slot = ((xrgb * 2654435761u) >> 20) & 0xFFF;
    if (m_cacheKey[slot] == key)
        return m_cacheIndex[slot];
    const auto index = std::uint8_t(m_table->empty() ? 0 : nearestIndex(*m_table, xrgbToColor(xrgb), m_reachable));
    m_cacheKey[slot] = key;
    m_cacheIndex[slot] = index;
    return index;
}

void PixelEncoder::encode(const std::uint32_t *in, std::uint8_t *row, int x, int count)
{
    switch (m_kind) {
    case PixelLayout::Indexed:
        if (m_bits == 8) {
            for (int i = 0; i < count; ++i)
                row[x + i] = indexFor(in[i]);
        } else {
            for (int i = 0; i < count; ++i)
                writeIndex(row, x + i, m_bits, indexFor(in[i]));
        }
        return;
    case PixelLayout::Masked16:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = encodeMasked(in[i]);
            std::uint8_t *p = row + 2 * std::size_t(x + i);
            p[0] = std::uint8_t(v);
            p[1] = std::uint8_t(v >> 8);
        }
        return;
    case PixelLayout::Bytes24:
        for (int i = 0; i < count; ++i) {
            std::uint8_t *p = row + 3 * std::size_t(x + i);
            p[0] = std::uint8_t(in[i]);
            p[1] = std::uint8_t(in[i] >> 8);
            p[2] = std::uint8_t(in[i] >> 16);
        }
        return;
    case PixelLayout::Bytes32:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = in[i] & 0x00FFFFFF;
            std::memcpy(row + 4 * std::size_t(x + i), &v, 4);
        }
        return;
    case PixelLayout::Masked32:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = encodeMasked(in[i]);
            std::memcpy(row + 4 * std::size_t(x + i), &v, 4);
        }
        return;
    }
}

unsigned highestIndex(const Raster &raster)
{
    const int bits = raster.bitsPerPixel();
    const int width = raster.width();
    const int perByte = 8 / bits;
    const std::size_t fullBytes = std::size_t(width / perByte);
    // The highest index among the pixels of each byte value.
    std::array<std::uint8_t, 256> highestIn{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const auto value = std::uint8_t(byte);
        for (int k = 0; k < perByte; ++k)
            highestIn[byte] = std::max(highestIn[byte], std::uint8_t(readIndex(&value, k, bits)));
    }
    const unsigned top = (1u << bits) - 1;
    unsigned highest = 0;
    for (int y = 0; y < raster.height() && highest < top; ++y) {
        const std::uint8_t *row = raster.scanLine(y);
        std::uint8_t rowHighest = 0;
        if (bits == 8) {
            for (std::size_t i = 0; i < fullBytes; ++i)
                rowHighest = std::max(rowHighest, row[i]);
        } else {
            for (std::size_t i = 0; i < fullBytes; ++i)
                rowHighest = std::max(rowHighest, highestIn[row[i]]);
        }
        highest = std::max<unsigned>(highest, rowHighest);
        for (int x = int(fullBytes) * perByte; x < width; ++x)
            highest = std::max(highest, readIndex(row, x, bits));
    }
    return highest;
}

void copyIndexedRow(const std::uint8_t *src, int sx, int srcBits, std::uint8_t *dst, int dx, int dstBits, int count,
                    const std::uint8_t *map)
{
    if (srcBits == 8 && dstBits == 8) {
        for (int i = 0; i < count; ++i)
            dst[dx + i] = map[src[sx + i]];
        return;
    }
    for (int i = 0; i < count; ++i)
        writeIndex(dst, dx + i, dstBits, map[readIndex(src, sx + i, srcBits)]);
}

}  // namespace tovi::platform
