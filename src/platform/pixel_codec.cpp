#include "platform/pixel_codec.h"

#include <cstring>

namespace tovi::platform {

PixelDecoder::PixelDecoder(const Raster &raster, ColorRef bkColor, ColorRef textColor)
    : m_bits(raster.bitsPerPixel())
{
    if (raster.isMonochromeDevice()) {
        // A 0 bit is drawn in the text colour, a 1 bit in the background colour.
        m_kind = Kind::Indexed;
        m_lut[0] = colorToXrgb(textColor);
        m_lut[1] = colorToXrgb(bkColor);
        return;
    }
    switch (m_bits) {
    case 1:
    case 2:
    case 4:
    case 8: {
        m_kind = Kind::Indexed;
        // An index the colour table doesn't hold reads as black.
        const ColorTable &table = raster.colorTable();
        for (std::size_t i = 0; i < table.size() && i < m_lut.size(); ++i)
            m_lut[i] = colorToXrgb(table[i].color());
        return;
    }
    case 16:
        m_kind = Kind::Masked16;
        break;
    case 24:
        m_kind = Kind::Bytes24;
        return;
    default:
        m_kind = raster.masks() == kMasks888 ? Kind::Bytes32 : Kind::Masked32;
        break;
    }
    m_red = Channel(raster.masks().red);
    m_green = Channel(raster.masks().green);
    m_blue = Channel(raster.masks().blue);
}

void PixelDecoder::decode(const std::uint8_t *row, int x, int count, std::uint32_t *out) const
{
    switch (m_kind) {
    case Kind::Indexed:
        if (m_bits == 8) {
            for (int i = 0; i < count; ++i)
                out[i] = m_lut[row[x + i]];
        } else {
            for (int i = 0; i < count; ++i)
                out[i] = m_lut[readIndex(row, x + i, m_bits)];
        }
        return;
    case Kind::Masked16:
        for (int i = 0; i < count; ++i) {
            const std::uint8_t *p = row + 2 * std::size_t(x + i);
            out[i] = decodeMasked(std::uint32_t(p[0] | (p[1] << 8)));
        }
        return;
    case Kind::Bytes24:
        for (int i = 0; i < count; ++i) {
            const std::uint8_t *p = row + 3 * std::size_t(x + i);
            out[i] = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
        }
        return;
    case Kind::Bytes32:
        for (int i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::size_t(x + i), 4);
            out[i] = v & 0x00FFFFFF;
        }
        return;
    case Kind::Masked32:
        for (int i = 0; i < count; ++i) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::size_t(x + i), 4);
            out[i] = decodeMasked(v);
        }
        return;
    }
}

PixelEncoder::PixelEncoder(const Raster &raster, ColorRef bkColor)
    : m_bits(raster.bitsPerPixel()), m_bkXrgb(colorToXrgb(bkColor))
{
    if (raster.isMonochromeDevice()) {
        m_kind = Kind::Mono;
        return;
    }
    switch (m_bits) {
    case 1:
    case 2:
    case 4:
    case 8:
        m_kind = Kind::Indexed;
        m_table = &raster.colorTable();
        // Keys carry a marker bit above the colour, so the zeroed cache is empty.
        return;
    case 16:
        m_kind = Kind::Masked16;
        break;
    case 24:
        m_kind = Kind::Bytes24;
        return;
    default:
        m_kind = raster.masks() == kMasks888 ? Kind::Bytes32 : Kind::Masked32;
        break;
    }
    m_red = Channel(raster.masks().red);
    m_green = Channel(raster.masks().green);
    m_blue = Channel(raster.masks().blue);
}

std::uint8_t PixelEncoder::indexFor(std::uint32_t xrgb)
{
    if (m_kind == Kind::Mono)
        return xrgb == m_bkXrgb ? 1 : 0;
    const std::uint32_t key = xrgb | 0x01000000;
    const std::size_t slot = ((xrgb * 2654435761u) >> 20) & 0xFFF;
    if (m_cacheKey[slot] == key)
        return m_cacheIndex[slot];
    const auto index = std::uint8_t(m_table->empty() ? 0 : nearestIndex(*m_table, xrgbToColor(xrgb)));
    m_cacheKey[slot] = key;
    m_cacheIndex[slot] = index;
    return index;
}

void PixelEncoder::encode(const std::uint32_t *in, std::uint8_t *row, int x, int count)
{
    switch (m_kind) {
    case Kind::Indexed:
    case Kind::Mono:
        if (m_bits == 8) {
            for (int i = 0; i < count; ++i)
                row[x + i] = indexFor(in[i]);
        } else {
            for (int i = 0; i < count; ++i)
                writeIndex(row, x + i, m_bits, indexFor(in[i]));
        }
        return;
    case Kind::Masked16:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = encodeMasked(in[i]);
            std::uint8_t *p = row + 2 * std::size_t(x + i);
            p[0] = std::uint8_t(v);
            p[1] = std::uint8_t(v >> 8);
        }
        return;
    case Kind::Bytes24:
        for (int i = 0; i < count; ++i) {
            std::uint8_t *p = row + 3 * std::size_t(x + i);
            p[0] = std::uint8_t(in[i]);
            p[1] = std::uint8_t(in[i] >> 8);
            p[2] = std::uint8_t(in[i] >> 16);
        }
        return;
    case Kind::Bytes32:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = in[i] & 0x00FFFFFF;
            std::memcpy(row + 4 * std::size_t(x + i), &v, 4);
        }
        return;
    case Kind::Masked32:
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = encodeMasked(in[i]);
            std::memcpy(row + 4 * std::size_t(x + i), &v, 4);
        }
        return;
    }
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
