#include "process/color_ops.h"

#include <algorithm>
#include <array>
#include <cstdlib>
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

// n / d rounded down, and rounded to the nearest whole number with halves
// going up; d > 0.
std::int64_t floorDiv(std::int64_t n, std::int64_t d)
{
    const std::int64_t q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
}

std::int64_t roundDiv(std::int64_t n, std::int64_t d)
{
    return floorDiv(2 * n + d, 2 * d);
}

// The swap with a tolerance: pixels near the segment from colour 1 to colour
// 2 are mirrored along it. The mirror is the reflection in the plane halfway
// between the two colours, made exact on whole channel values so that it is
// its own inverse: the two channels other than the one along which the
// colours differ most are sheared (by rounded whole amounts) so that the
// segment runs along that channel, the channel is flipped there by a whole
// amount that depends on the sheared channels alone, and the shear is undone.
// Each step maps whole values one to one and the flip undoes itself, so
// mirroring a mirrored pixel gives back its bytes; colour 1 lands exactly on
// colour 2. The roundings keep the offset from the segment to within a level.
class EdgeSwapRule {
public:
    static constexpr int kCode = kModeSwap;

    EdgeSwapRule(std::uint32_t color1, std::uint32_t color2, int tolerance)
        : m_v1(color1), m_v2(color2), m_c1(channelsOf(color1)), m_c2(channelsOf(color2))
    {
        for (int i = 0; i < 3; ++i) {
            m_d[i] = m_c2[i] - m_c1[i];
            m_length2 += std::int64_t(m_d[i]) * m_d[i];
        }
        m_tolerance2 = std::int64_t(tolerance) * tolerance;
        for (int i = 1; i < 3; ++i) {
            if (std::abs(m_d[i]) > std::abs(m_d[m_axis]))
                m_axis = i;
        }
        m_others = {(m_axis + 1) % 3, (m_axis + 2) % 3};
    }

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        const std::uint32_t v = r | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
        Rgb out;
        if (v == m_v1) {
            out = m_c2;
        } else if (v == m_v2) {
            out = m_c1;
        } else {
            const Rgb p{r, g, b};
            if (!within(p))
                return;
            out = mirror(p);
            const bool inside = std::all_of(out.begin(), out.end(), [](int c) { return c >= 0 && c <= 255; });
            // A mirror that is not itself mirrored back would break swapping
            // twice: such a pixel stays. One beyond the cube is clamped.
            if (inside && !within(out))
                return;
            for (int &c : out)
                c = std::clamp(c, 0, 255);
        }
        r = std::uint8_t(out[0]);
        g = std::uint8_t(out[1]);
        b = std::uint8_t(out[2]);
    }

private:
    using Rgb = std::array<int, 3>;  // red, green, blue

    static Rgb channelsOf(std::uint32_t v) { return {int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)}; }

    // Distance to the segment at most the tolerance, in whole numbers.
    bool within(const Rgb &p) const
    {
        std::int64_t along = 0, from1 = 0, from2 = 0;
        for (int i = 0; i < 3; ++i) {
            const std::int64_t v1 = p[i] - m_c1[i], v2 = p[i] - m_c2[i];
            along += v1 * m_d[i];
            from1 += v1 * v1;
            from2 += v2 * v2;
        }
        if (along <= 0)
            return from1 <= m_tolerance2;
        if (along >= m_length2)
            return from2 <= m_tolerance2;
        return from1 * m_length2 - along * along <= m_tolerance2 * m_length2;
    }

    // How far a channel moves when the main channel is `main` (rounded).
    int shear(int main, int channel) const
    {
        std::int64_t n = std::int64_t(m_d[channel]) * (main - m_c1[m_axis]);
        std::int64_t d = m_d[m_axis];
        if (d < 0) {
            n = -n;
            d = -d;
        }
        return int(roundDiv(n, d));
    }

    Rgb mirror(const Rgb &p) const
    {
        Rgb z = p;
        std::int64_t across = 0;
        for (const int i : m_others) {
            z[i] = p[i] - shear(p[m_axis], i);
            across += std::int64_t(z[i] - m_c1[i]) * m_d[i];
        }
        const auto flip = std::int64_t(m_c1[m_axis]) + m_c2[m_axis] - roundDiv(2 * m_d[m_axis] * across, m_length2);
        Rgb q = z;
        q[m_axis] = int(flip - p[m_axis]);
        for (const int i : m_others)
            q[i] = z[i] + shear(q[m_axis], i);
        return q;
    }

    std::uint32_t m_v1, m_v2;
    Rgb m_c1, m_c2, m_d{};
    std::int64_t m_length2 = 0;
    std::int64_t m_tolerance2 = 0;
    int m_axis = 0;
    std::array<int, 2> m_others{};
};

// Grayscale (and inverted grayscale) by a weighted sum, rounded to the
// nearest value.
struct WeightedGrayRule {
    GrayFormulaInfo weights;
    bool inverted;

    void operator()(std::uint8_t &b, std::uint8_t &g, std::uint8_t &r) const
    {
        const unsigned y = (weights.red * r + weights.green * g + weights.blue * b + weights.total / 2) / weights.total;
        b = g = r = std::uint8_t(inverted ? 255 - y : y);
    }
};

// Calls visit with the rule of `mode` under `settings`: the rules above where
// a setting asks for one, otherwise the mode's own rule.
template <class Visit>
void withRule(int mode, std::uint32_t c1, std::uint32_t c2, const ColorSettings &settings, Visit &&visit)
{
    // A colour with a non-zero top byte is no point of the cube: only the
    // exact swap (which never finds it) applies.
    if (mode == kModeSwap && settings.tolerance > 0 && c1 != c2 && c1 <= 0x00FFFFFF && c2 <= 0x00FFFFFF) {
        visit(EdgeSwapRule(c1, c2, std::min(settings.tolerance, kMaxTolerance)));
        return;
    }
    if ((mode == kModeGray || mode == kModeInvertGray) && settings.grayFormula != GrayFormula::Mean) {
        visit(WeightedGrayRule{grayFormulaInfo(settings.grayFormula), mode == kModeInvertGray});
        return;
    }
    withRule(ModeRules{}, mode, c1, c2, visit);
}

template <class Rule>
std::uint32_t applyXrgb(const Rule &rule, std::uint32_t xrgb)
{
    auto b = std::uint8_t(xrgb), g = std::uint8_t(xrgb >> 8), r = std::uint8_t(xrgb >> 16);
    rule(b, g, r);
    return b | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16);
}

// What a mode does to the pixels of any layout: the rule reads and writes the
// colour channels only, so every other bit of a pixel (alpha, unused bits) is
// written back as it was read, and a pixel whose colour the rule leaves as it
// is keeps all of its bits.

// One 16-bit or masked 32-bit pixel value whose channels have 8 bits or
// fewer: widened to 8 bits, rewritten, and narrowed back to the high bits,
// as the copy into 24 bits and back does it.
template <class Rule>
std::uint32_t applyMasked(const Rule &rule, const ChannelSet &channels, std::uint32_t otherBits, std::uint32_t v)
{
    const std::uint32_t in = channels.decode(v);
    const std::uint32_t out = applyXrgb(rule, in);
    return out == in ? v : channels.encode(out) | (v & otherBits);
}

// Channels wider than 8 bits keep their precision: inversion is max - v in
// each channel's own width, the gray value is the mean at the widest
// channel's width, and the exchange compares the colour as it is read
// (8 bits a channel) and writes the other colour widened by replication.
struct WideChannels {
    explicit WideChannels(const ChannelMasks &masks)
        : set(masks), otherBits(~masks.colorBits()),
          widest(std::max({set.red.bits, set.green.bits, set.blue.bits}))
    {
    }
    ChannelSet set;
    std::uint32_t otherBits;
    int widest;
};

inline std::uint64_t maxOf(int bits) { return (std::uint64_t{1} << bits) - 1; }

// A channel value rescaled from one width to another, rounded.
inline std::uint64_t rescale(std::uint64_t v, int from, int to)
{
    if (from == to || from == 0)
        return from == 0 ? 0 : v;
    return (v * maxOf(to) + maxOf(from) / 2) / maxOf(from);
}

inline std::uint64_t channelValue(const Channel &c, std::uint32_t v) { return (v & c.mask) >> c.shift; }
inline std::uint32_t channelBits(const Channel &c, std::uint64_t value)
{
    return std::uint32_t(value << c.shift) & c.mask;
}

template <class Rule>
std::uint32_t applyWide(const Rule &rule, const WideChannels &w, std::uint32_t v)
{
    const Channel *channels[] = {&w.set.red, &w.set.green, &w.set.blue};
    if constexpr (std::is_same_v<Rule, InvertRule>) {
        std::uint32_t out = v & w.otherBits;
        for (const Channel *c : channels)
            out |= channelBits(*c, maxOf(c->bits) - channelValue(*c, v));
        return out;
    } else if constexpr (std::is_same_v<Rule, GrayRule> || std::is_same_v<Rule, InvertGrayRule> ||
                         std::is_same_v<Rule, WeightedGrayRule>) {
        std::uint64_t at[3];
        for (int i = 0; i < 3; ++i)
            at[i] = rescale(channelValue(*channels[i], v), channels[i]->bits, w.widest);
        std::uint64_t y = 0;
        bool inverted = std::is_same_v<Rule, InvertGrayRule>;
        if constexpr (std::is_same_v<Rule, WeightedGrayRule>) {
            const GrayFormulaInfo &k = rule.weights;
            y = (k.red * at[0] + k.green * at[1] + k.blue * at[2] + k.total / 2) / k.total;
            inverted = rule.inverted;
        } else {
            y = (at[0] + at[1] + at[2]) / 3;
        }
        if (inverted)
            y = maxOf(w.widest) - y;
        std::uint32_t out = v & w.otherBits;
        for (const Channel *c : channels)
            out |= channelBits(*c, rescale(y, w.widest, c->bits));
        return out;
    } else {
        // The exchange (and any other code) on the colour as it is read.
        return applyMasked(rule, w.set, w.otherBits, v);
    }
}

bool hasWideChannels(const Raster &raster)
{
    if (raster.bitsPerPixel() != 16 && raster.bitsPerPixel() != 32)
        return false;
    const ChannelSet set(raster.masks());
    return set.red.bits > 8 || set.green.bits > 8 || set.blue.bits > 8;
}

// One 16-bit or masked 32-bit pixel value.
template <class Rule>
std::uint32_t applyPixel(const Rule &rule, const WideChannels &w, bool wide, std::uint32_t v)
{
    return wide ? applyWide(rule, w, v) : applyMasked(rule, w.set, w.otherBits, v);
}

// 24 bits in place: the copy into 24 bits and back is exact. 32 bits with
// blue, green, red bytes likewise; the fourth byte is kept.
template <std::size_t Step, class Rule>
void processRows(Raster &raster, const Rule &rule)
{
    const std::size_t bytes = std::size_t(raster.width()) * Step;
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < bytes; i += Step)
            rule(row[i], row[i + 1], row[i + 2]);
    }
}

// 32 bits with other masks, pixel by pixel.
template <class Rule>
void processMasked32(Raster &raster, const Rule &rule)
{
    const WideChannels w(raster.masks());
    const bool wide = hasWideChannels(raster);
    const std::size_t pixels = std::size_t(raster.width());
    for (int y = 0; y < raster.height(); ++y) {
        std::uint8_t *row = raster.scanLine(y);
        for (std::size_t i = 0; i < pixels; ++i) {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * i, 4);
            v = applyPixel(rule, w, wide, v);
            std::memcpy(row + 4 * i, &v, 4);
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
    for (unsigned i = 0; i < indices; ++i) {
        const std::uint32_t in = decoder.lutColor(i);
        const std::uint32_t out = applyXrgb(rule, in);
        map[i] = out == in ? std::uint8_t(i) : encoder.indexFor(out);
    }

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
    const WideChannels w(raster.masks());
    const bool wide = hasWideChannels(raster);
    std::vector<std::uint16_t> map(65536);
    for (std::uint32_t v = 0; v < 65536; ++v)
        map[v] = std::uint16_t(applyPixel(rule, w, wide, v));
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
    return !raster.isMonochromeDevice() && platform::isSupportedBitCount(unsigned(raster.bitsPerPixel()));
}

// The plain pipeline's copy back writes each pixel's colour channels; the
// other bits of every pixel, and all bits of a pixel whose colour the rule
// left as it was (unchanged[i] for pixel i, rows from the top), are put back
// as `before` held them.
void restoreKeptBits(const Raster &before, Raster &after, const std::vector<std::uint8_t> &unchanged)
{
    const int bits = after.bitsPerPixel();
    const std::size_t width = std::size_t(after.width());
    const std::uint32_t otherBits = bits == 16 || bits == 32 ? ~after.masks().colorBits() : 0;
    for (int y = 0; y < after.height(); ++y) {
        const std::uint8_t *from = before.scanLine(y);
        std::uint8_t *to = after.scanLine(y);
        const std::uint8_t *same = unchanged.data() + std::size_t(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            if (bits < 8) {
                if (same[x])
                    writeIndex(to, int(x), bits, readIndex(from, int(x), bits));
                continue;
            }
            const std::size_t step = std::size_t(bits / 8);
            if (same[x]) {
                std::memcpy(to + x * step, from + x * step, step);
            } else if (otherBits) {
                std::uint32_t a = 0, b = 0;
                std::memcpy(&a, from + x * step, step);
                std::memcpy(&b, to + x * step, step);
                b = (b & ~otherBits) | (a & otherBits);
                std::memcpy(to + x * step, &b, step);
            }
        }
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
    processColorsPlainWith(picture, mode, color1, color2, ColorSettings{});
}

void processColorsPlainWith(Bitmap &picture, int mode, ColorRef color1, ColorRef color2, const ColorSettings &settings)
{
    // Channels wider than 8 bits would lose their precision in the 24-bit
    // copy: they have one rule, at their own width.
    if (picture.raster() && hasWideChannels(*picture.raster())) {
        processColorsWith(picture, mode, color1, color2, settings);
        return;
    }
    const std::shared_ptr<const Raster> before = picture.raster() ? picture.raster()->clone() : nullptr;
    Bitmap copy;
    copy.setPixelFormat(PixelFormat::Bit24);
    copy.setWidth(picture.width());
    copy.setHeight(picture.height());
    copy.draw(0, 0, picture);
    std::vector<std::uint8_t> unchanged(std::size_t(copy.width()) * std::size_t(copy.height()));
    if (copy.height() > 0 && copy.width() > 0) {
        withRule(mode, resolveColor(color1), resolveColor(color2), settings, [&](const auto &rule) {
            for (int y = 0; y < copy.height(); ++y) {
                std::uint8_t *line = copy.scanLine(y);
                for (int x = 0; x < copy.width(); ++x) {
                    std::uint8_t *p = line + 3 * x;
                    const std::uint8_t was[3] = {p[0], p[1], p[2]};
                    rule(p[0], p[1], p[2]);
                    unchanged[std::size_t(y) * std::size_t(copy.width()) + std::size_t(x)] =
                        p[0] == was[0] && p[1] == was[1] && p[2] == was[2];
                }
            }
        });
    }
    picture.draw(0, 0, copy);
    if (before && copy.width() > 0 && copy.height() > 0)
        restoreKeptBits(*before, *picture.beginPixelChange(), unchanged);
}

void processColors(Bitmap &picture, int mode, ColorRef color1, ColorRef color2)
{
    processColorsWith(picture, mode, color1, color2, ColorSettings{});
}

void processColorsWith(Bitmap &picture, int mode, ColorRef color1, ColorRef color2, const ColorSettings &settings)
{
    if (picture.empty() || !picture.raster() || picture.width() == 0 || picture.height() == 0)
        return;
    if (!hasFastPath(*picture.raster())) {
        processColorsPlainWith(picture, mode, color1, color2, settings);
        return;
    }
    const std::shared_ptr<Raster> raster = picture.beginPixelChange();
    withRule(mode, resolveColor(color1), resolveColor(color2), settings, [&](const auto &rule) {
        switch (raster->bitsPerPixel()) {
        case 24:
            processRows<3>(*raster, rule);
            break;
        case 32:
            if (pixelLayoutOf(*raster) == PixelLayout::Bytes32)
                processRows<4>(*raster, rule);
            else
                processMasked32(*raster, rule);
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

std::array<std::uint8_t, 256> runLengthIndexMap(const platform::ColorTable &table, bool fourBits, int mode,
                                                ColorRef color1, ColorRef color2, const ColorSettings &settings)
{
    std::array<std::uint8_t, 256> map{};
    for (std::size_t i = 0; i < map.size(); ++i)
        map[i] = std::uint8_t(i);
    const std::size_t reach = fourBits ? 16 : 256;
    const std::size_t entries = std::min(table.size(), reach);
    if (entries == 0)
        return map;
    // The entries' colours as the decoded picture holds them, processed as
    // its pixels would be.
    Bitmap::Content content;
    content.raster = Raster::createDevice(int(entries), 1);
    auto *colors = reinterpret_cast<std::uint32_t *>(content.raster->scanLine(0));
    for (std::size_t i = 0; i < entries; ++i)
        colors[i] = platform::colorToXrgb(table[i].color());
    Bitmap probe;
    probe.assign(std::move(content));
    processColorsWith(probe, mode, color1, color2, settings);
    const auto *results = reinterpret_cast<const std::uint32_t *>(probe.raster()->scanLine(0));
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint32_t result = results[i] & 0x00FFFFFF;
        if (result != platform::colorToXrgb(table[i].color()))
            map[i] = std::uint8_t(platform::nearestIndex(table, platform::xrgbToColor(result), reach));
    }
    return map;
}

}  // namespace tovi::process
