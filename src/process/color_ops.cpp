#include "process/color_ops.h"

#include <array>
#include <cstring>
#include <type_traits>
#include <vector>

#include "platform/pixel_codec.h"
#include "platform/system_colors.h"

namespace tovi::process {

using namespace platform;
using picture::Bitmap;
using picture::PixelFormat;

namespace {

// Each mode's rewrite of one pixel, on its bytes blue, green and red: written
// once here and run by the plain pipeline and by every fast path alike. A
// rule's colours are the resolved colour 1 and colour 2.
struct SwapRule {
    static constexpr int kCode = kModeSwap;
    SwapRule(std::uint32_t color1, std::uint32_t color2) : c1(color1), c2(color2) {}
    std::uint32_t c1;
    std::uint32_t c2;

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        const std::uint32_t v = r | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
        // Colour 1 is tested first, so equal colours change nothing. Any other
        // pixel would be written back as it is: it is left alone instead.
        std::uint32_t out;
        if (v == c1)
            out = c2;
        else if (v == c2)
            out = c1;
        else
            return;
        b = std::uint8_t(out >> 16);
        g = std::uint8_t(out >> 8);
        r = std::uint8_t(out);
    }
};

struct InvertRule {
    static constexpr int kCode = kModeInvert;

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        b = std::uint8_t(255 - b);
        g = std::uint8_t(255 - g);
        r = std::uint8_t(255 - r);
    }
};

// The plain mean, remainder dropped: no weighting of the channels.
inline std::uint8_t meanOf(std::uint8_t b, std::uint8_t g, std::uint8_t r)
{
    return std::uint8_t((unsigned(b) + g + r) / 3);
}

struct GrayRule {
    static constexpr int kCode = kModeGray;

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const { b = g = r = meanOf(b, g, r); }
};

struct InvertGrayRule {
    static constexpr int kCode = kModeInvertGray;

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        b = g = r = std::uint8_t(255 - meanOf(b, g, r));
    }
};

// Any other code: the pixel stays as the copy into 24 bits drew it.
struct KeepRule {
    void operator()(std::uint8_t &, std::uint8_t &, std::uint8_t &) const {}
};

template <class... Rule>
struct RuleList {};
using ModeRules = RuleList<SwapRule, InvertRule, GrayRule, InvertGrayRule>;

template <class... Rule>
constexpr bool coversModeTable(RuleList<Rule...>)
{
    if (sizeof...(Rule) != kModes.size())
        return false;
    for (const ModeInfo &mode : kModes) {
        if (((mode.code == Rule::kCode ? 1 : 0) + ...) != 1)
            return false;
    }
    return true;
}
static_assert(coversModeTable(ModeRules{}), "every mode of the table needs exactly one pixel rule");

template <class Rule>
Rule makeRule(std::uint32_t c1, std::uint32_t c2)
{
    if constexpr (std::is_constructible_v<Rule, std::uint32_t, std::uint32_t>)
        return Rule(c1, c2);
    else
        return Rule{};
}

// Calls visit with the rule of `mode`, its colours set; KeepRule for a code
// no mode has.
template <class... Rule, class Visit>
void withRule(RuleList<Rule...>, int mode, std::uint32_t c1, std::uint32_t c2, Visit &&visit)
{
    const bool found = ((mode == Rule::kCode ? (visit(makeRule<Rule>(c1, c2)), true) : false) || ...);
    if (!found)
        visit(KeepRule{});
}

template <class Rule>
std::uint32_t applyXrgb(const Rule &rule, std::uint32_t xrgb)
{
    auto b = std::uint8_t(xrgb), g = std::uint8_t(xrgb >> 8), r = std::uint8_t(xrgb >> 16);
    rule(b, g, r);
    return b | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16);
}

// 24 bits in place: the copy into 24 bits and back is exact. 32 bits with
// blue, green, red bytes likewise, with the fourth byte cleared as the copy
// back writes it.
template <std::size_t Step, class Rule>
void processRows(Raster &raster, const Rule &rule)
{
    const std::size_t bytes = std::size_t(raster.width()) * Step;
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < bytes; i += Step) {
            rule(row[i], row[i + 1], row[i + 2]);
            if constexpr (Step == 4)
                row[i + 3] = 0;
        }
    }
}

// Paletted: a pixel's result depends only on its index, so the rule runs
// once per index and the rows are mapped a byte (up to 8 pixels) at a time.
template <class Rule>
void processIndexed(Raster &raster, const Rule &rule)
{
    const int bits = raster.bitsPerPixel();
    const PixelDecoder decoder(raster, 0x00FFFFFF, 0);
    PixelEncoder encoder(raster, 0x00FFFFFF);
    const unsigned indices = 1u << bits;
    std::array<std::uint8_t, 256> map{};
    for (unsigned i = 0; i < indices; ++i)
        map[i] = encoder.indexFor(applyXrgb(rule, decoder.lutColor(i)));

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
template <class Rule>
void process16(Raster &raster, const Rule &rule)
{
    const PixelDecoder decoder(raster, 0x00FFFFFF, 0);
    const PixelEncoder encoder(raster, 0x00FFFFFF);
    std::vector<std::uint16_t> map(65536);
    for (std::uint32_t v = 0; v < 65536; ++v)
        map[v] = std::uint16_t(encoder.encodeMasked(applyXrgb(rule, decoder.decodeMasked(v))));
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
    const ModeInfo *info = findMode(mode);
    return info ? std::string(info->resultName) : std::string();
}

void processColorsPlain(Bitmap &picture, int mode, ColorRef color1, ColorRef color2)
{
    Bitmap copy;
    copy.setPixelFormat(PixelFormat::Bit24);
    copy.setWidth(picture.width());
    copy.setHeight(picture.height());
    copy.draw(0, 0, picture);
    if (copy.height() > 0 && copy.width() > 0) {
        withRule(ModeRules{}, mode, resolveColor(color1), resolveColor(color2), [&](const auto &rule) {
            for (int y = 0; y < copy.height(); ++y) {
                std::uint8_t *line = copy.scanLine(y);
                for (int x = 0; x < copy.width(); ++x)
                    rule(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
            }
        });
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
    const std::shared_ptr<Raster> raster = picture.beginPixelChange();
    withRule(ModeRules{}, mode, resolveColor(color1), resolveColor(color2), [&](const auto &rule) {
        switch (raster->bitsPerPixel()) {
        case 24:
            processRows<3>(*raster, rule);
            break;
        case 32:
            processRows<4>(*raster, rule);
            break;
        case 16:
            process16(*raster, rule);
            break;
        default:
            processIndexed(*raster, rule);
            break;
        }
    });
    picture.changed();
}

}  // namespace tovi::process
