#pragma once
// Small BMP files built byte by byte, and a look at the pixels of a written
// one, so that tests of the batch run don't depend on the reader they drive.

#include <cstdint>
#include <vector>

#include "support/test_support.h"

namespace tovi::test {

namespace tiny_bmp {

inline void put16(Bytes &out, unsigned value)
{
    out.push_back(std::uint8_t(value));
    out.push_back(std::uint8_t(value >> 8));
}

inline void put32(Bytes &out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

inline std::uint32_t get32(const Bytes &bytes, std::size_t at)
{
    if (at + 4 > bytes.size())
        return 0;
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

// 14-byte file header and 40-byte information header.
inline Bytes headers(int width, int height, int bits, std::uint32_t colors, std::uint32_t imageSize)
{
    const std::uint32_t offset = 14 + 40 + 4 * colors;
    Bytes out{'B', 'M'};
    put32(out, offset + imageSize);
    put32(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, std::uint32_t(width));
    put32(out, std::uint32_t(height));
    put16(out, 1);
    put16(out, unsigned(bits));
    put32(out, 0);  // uncompressed
    put32(out, imageSize);
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, colors);
    put32(out, 0);
    return out;
}

}  // namespace tiny_bmp

// A bottom-up 24-bit BMP; rgb holds width x height colours 0xRRGGBB, top row first.
inline Bytes bmp24(int width, int height, const std::vector<std::uint32_t> &rgb)
{
    const int rowSize = (width * 3 + 3) / 4 * 4;
    Bytes out = tiny_bmp::headers(width, height, 24, 0, std::uint32_t(rowSize * height));
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = rgb[std::size_t(y * width + x)];
            out.push_back(std::uint8_t(c));        // blue
            out.push_back(std::uint8_t(c >> 8));   // green
            out.push_back(std::uint8_t(c >> 16));  // red
        }
        out.resize(out.size() + std::size_t(rowSize - width * 3), 0);
    }
    return out;
}

// A bottom-up 1-bit BMP with the palette black, white; bits holds width x
// height values 0 or 1, top row first.
inline Bytes bmp1(int width, int height, const std::vector<int> &bits)
{
    const int rowSize = (width + 31) / 32 * 4;
    Bytes out = tiny_bmp::headers(width, height, 1, 2, std::uint32_t(rowSize * height));
    tiny_bmp::put32(out, 0x00000000);
    tiny_bmp::put32(out, 0x00FFFFFF);
    for (int y = height - 1; y >= 0; --y) {
        Bytes row(std::size_t(rowSize), 0);
        for (int x = 0; x < width; ++x) {
            if (bits[std::size_t(y * width + x)])
                row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// Pixel bytes blue, green, red of colours 0xRRGGBB, as a 24-bit row holds them.
inline Bytes bgrBytes(std::initializer_list<std::uint32_t> rgb)
{
    Bytes out;
    for (const auto c : rgb) {
        out.push_back(std::uint8_t(c));
        out.push_back(std::uint8_t(c >> 8));
        out.push_back(std::uint8_t(c >> 16));
    }
    return out;
}

// The pixel bytes of a BMP file: everything from its pixel-data offset on.
inline Bytes pixelBytes(const Bytes &file)
{
    const std::uint32_t offset = tiny_bmp::get32(file, 10);
    if (file.size() < 14 || offset > file.size())
        return {};
    return Bytes(file.begin() + offset, file.end());
}

}  // namespace tovi::test
