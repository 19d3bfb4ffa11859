#include "process/color_ops.h"

#include <array>
#include <cstring>
#include <vector>

#include "platform/pixel_codec.h"
#include "platform/system_colors.h"

namespace tovi::process {

using namespace platform;
using picture::Bitmap;
using picture::PixelFormat;

namespace {

// One pixel's rewrite, on the bytes blue, green and red.
class PixelRule {
public:
    PixelRule(int mode, ColorRef c1, ColorRef c2) : m_mode(mode), m_c1(c1), m_c2(c2) {}

    void apply(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        switch (m_mode) {
        case kModeSwap: {
            std::uint32_t v = r | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
            // Colour 1 is tested first, so equal colours change nothing.
            if (v == m_c1)
                v = m_c2;
            else if (v == m_c2)
                v = m_c1;
            b = std::uint8_t(v >> 16);
            g = std::uint8_t(v >> 8);
            r = std::uint8_t(v);
            return;
        }
        case kModeInvert:
            b = std::uint8_t(255 - b);
            g = std::uint8_t(255 - g);
            r = std::uint8_t(255 - r);
            return;
        case kModeGray:
        case kModeInvertGray: {
            // The plain mean, remainder dropped: no weighting of the channels.
            unsigned y = (unsigned(b) + g + r) / 3;
            if (m_mode == kModeInvertGray)
                y = 255 - y;
            b = g = r = std::uint8_t(y);
            return;
        }
        default:
            return;
        }
    }

    std::uint32_t applyXrgb(std::uint32_t xrgb) const
    {
        auto b = std::uint8_t(xrgb), g = std::uint8_t(xrgb >> 8), r = std::uint8_t(xrgb >> 16);
        apply(b, g, r);
        return b | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16);
    }

    int mode() const { return m_mode; }

private:
    int m_mode;
    ColorRef m_c1;
    ColorRef m_c2;
};

// The rule with its mode fixed at compile time, for the pixel loops.
template <int Mode>
struct FixedRule {
    std::uint32_t c1;
    std::uint32_t c2;

    void operator()(std::uint8_t *p) const
    {
        if constexpr (Mode == kModeSwap) {
            const std::uint32_t v = p[2] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[0]) << 16);
            // Colour 1 is tested first, so equal colours change nothing.
            std::uint32_t out;
            if (v == c1)
                out = c2;
            else if (v == c2)
                out = c1;
            else
                return;
            p[0] = std::uint8_t(out >> 16);
            p[1] = std::uint8_t(out >> 8);
            p[2] = std::uint8_t(out);
        } else if constexpr (Mode == kModeInvert) {
            p[0] = std::uint8_t(~p[0]);
            p[1] = std::uint8_t(~p[1]);
            p[2] = std::uint8_t(~p[2]);
        } else if constexpr (Mode == kModeGray || Mode == kModeInvertGray) {
            unsigned y = (unsigned(p[0]) + p[1] + p[2]) / 3;
            if constexpr (Mode == kModeInvertGray)
                y = 255 - y;
            p[0] = p[1] = p[2] = std::uint8_t(y);
        }
    }
};

template <int Mode, std::size_t Step>
void processRows(Raster &raster, std::uint32_t c1, std::uint32_t c2)
{
    const FixedRule<Mode> rule{c1, c2};
    const std::size_t bytes = std::size_t(raster.width()) * Step;
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < bytes; i += Step) {
            rule(row + i);
            if constexpr (Step == 4)
                row[i + 3] = 0;
        }
    }
}

// 24 bits in place: the copy into 24 bits and back is exact. 32 bits with
// blue, green, red bytes likewise, with the fourth byte cleared as the copy
// back writes it.
template <std::size_t Step>
void processBytes(Raster &raster, int mode, std::uint32_t c1, std::uint32_t c2)
{
    switch (mode) {
    case kModeSwap:
        processRows<kModeSwap, Step>(raster, c1, c2);
        return;
    case kModeInvert:
        processRows<kModeInvert, Step>(raster, c1, c2);
        return;
    case kModeGray:
        processRows<kModeGray, Step>(raster, c1, c2);
        return;
    case kModeInvertGray:
        processRows<kModeInvertGray, Step>(raster, c1, c2);
        return;
    default:
        processRows<0, Step>(raster, c1, c2);
        return;
    }
}

// Paletted: a pixel's result depends only on its index, so the rule runs
// once per index and the rows are mapped a byte (up to 8 pixels) at a time.
void processIndexed(Raster &raster, const PixelRule &rule)
{
    const int bits = raster.bitsPerPixel();
    const PixelDecoder decoder(raster, 0x00FFFFFF, 0);
    PixelEncoder encoder(raster, 0x00FFFFFF);
    const unsigned indices = 1u << bits;
    std::array<std::uint8_t, 256> map{};
    for (unsigned i = 0; i < indices; ++i)
        map[i] = encoder.indexFor(rule.applyXrgb(decoder.lutColor(i)));

    std::array<std::uint8_t, 256> byteMap{};
    const int perByte = 8 / bits;
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned out = 0;
        for (int k = 0; k < perByte; ++k) {
            const int shift = 8 - bits * (k + 1);
            out |= unsigned(map[(byte >> shift) & (indices - 1)]) << shift;
        }
        byteMap[byte] = std::uint8_t(out);
    }

    const std::size_t totalBits = std::size_t(raster.width()) * std::size_t(bits);
    const std::size_t fullBytes = totalBits / 8;
    const unsigned restBits = unsigned(totalBits % 8);
    // The bits of the last, partly used byte that belong to pixels.
    const auto restMask = std::uint8_t(restBits ? (0xFF00u >> restBits) & 0xFF : 0);
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < fullBytes; ++i)
            row[i] = byteMap[row[i]];
        if (restMask)
            row[fullBytes] = std::uint8_t((byteMap[row[fullBytes]] & restMask) | (row[fullBytes] & ~restMask));
    }
}

// 16 bits: a pixel's result depends only on its 16-bit value.
void process16(Raster &raster, const PixelRule &rule)
{
    const PixelDecoder decoder(raster, 0x00FFFFFF, 0);
    const PixelEncoder encoder(raster, 0x00FFFFFF);
    std::vector<std::uint16_t> map(65536);
    for (std::uint32_t v = 0; v < 65536; ++v)
        map[v] = std::uint16_t(encoder.encodeMasked(rule.applyXrgb(decoder.decodeMasked(v))));
    const std::size_t pixels = std::size_t(raster.width());
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < pixels; ++i) {
            std::uint16_t v;
            std::memcpy(&v, row + 2 * i, 2);
            v = map[v];
            std::memcpy(row + 2 * i, &v, 2);
        }
    }
}

// Whether the fast path can rewrite this raster in place.
bool hasFastPath(const Raster &raster)
{
    if (raster.isMonochromeDevice())
        return false;
    switch (raster.bitsPerPixel()) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
        return true;
    case 32:
        return raster.masks() == kMasks888;
    default:
        return false;
    }
}

}  // namespace

std::string modeName(int mode)
{
    switch (mode) {
    case kModeSwap:
        return "色交換モード";
    case kModeInvert:
        return "色反転モード";
    case kModeGray:
        return "グレースケール化";
    case kModeInvertGray:
        return "反転グレースケール化";
    default:
        return {};
    }
}

void processColorsPlain(Bitmap &picture, int mode, ColorRef color1, ColorRef color2)
{
    Bitmap copy;
    const PixelRule rule(mode, resolveColor(color1), resolveColor(color2));
    copy.setPixelFormat(PixelFormat::Bit24);
    copy.setWidth(picture.width());
    copy.setHeight(picture.height());
    copy.draw(0, 0, picture);
    if (copy.height() > 0 && copy.width() > 0) {
        for (int y = 0; y < copy.height(); ++y) {
            std::uint8_t *line = copy.scanLine(y);
            for (int x = 0; x < copy.width(); ++x)
                rule.apply(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
        }
    }
    picture.draw(0, 0, copy);
}

void processColors(Bitmap &picture, int mode, ColorRef color1, ColorRef color2)
{
    if (picture.empty() || !picture.raster() || picture.width() == 0 || picture.height() == 0)
        return;
    if (!hasFastPath(*picture.raster())) {
        processColorsPlain(picture, mode, color1, color2);
        return;
    }
    const PixelRule rule(mode, resolveColor(color1), resolveColor(color2));
    const std::shared_ptr<Raster> raster = picture.beginPixelChange();
    switch (raster->bitsPerPixel()) {
    case 24:
        processBytes<3>(*raster, mode, resolveColor(color1), resolveColor(color2));
        break;
    case 32:
        processBytes<4>(*raster, mode, resolveColor(color1), resolveColor(color2));
        break;
    case 16:
        process16(*raster, rule);
        break;
    default:
        processIndexed(*raster, rule);
        break;
    }
    picture.changed();
}

}  // namespace tovi::process
