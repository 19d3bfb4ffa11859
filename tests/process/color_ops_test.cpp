// The colour operation: the four modes on every pixel format, each fast path
// against the plain pipeline, and the edge cases of the rewrite rules.

#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "picture/bitmap.h"
#include "picture/bmp/bmp_codec.h"
#include "platform/stream.h"
#include "platform/system_colors.h"
#include "process/color_ops.h"
#include "support/test_rasters.h"
#include "support/test_support.h"
#include "support/tiny_bmp.h"

using namespace tovi;
using namespace tovi::picture;
using namespace tovi::process;
using platform::ColorRef;
using platform::rgb;

namespace {

using Layout = test::RasterLayout;

const Layout kLayouts[] = {
    {"bit1", 1, platform::kBiRgb, {}, false},
    {"bit2", 2, platform::kBiRgb, {}, false},
    {"bit4", 4, platform::kBiRgb, {}, false},
    {"bit8", 8, platform::kBiRgb, {}, false},
    {"bit15", 16, platform::kBiRgb, {}, false},
    {"bit16", 16, platform::kBiBitFields, platform::kMasks565, false},
    {"custom16", 16, platform::kBiBitFields, {0x0F00, 0x00F0, 0x000F}, false},
    {"bit24", 24, platform::kBiRgb, {}, false},
    {"bit32", 32, platform::kBiRgb, {}, false},
    {"custom32", 32, platform::kBiBitFields, {0x3FF00000, 0x000FFC00, 0x000003FF}, false},
    {"alpha16", 16, platform::kBiBitFields, {0x7C00, 0x03E0, 0x001F, 0x8000}, false},
    {"alpha32", 32, platform::kBiBitFields, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, false},
    {"xbgr32", 32, platform::kBiBitFields, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, false},
    {"device", 32, platform::kBiRgb, {}, true},
};

// A picture of random bytes (random indices, random channels, random unused
// bits and padding) in the given layout. Paletted ones get a random palette
// with black and white at random places, a duplicate entry, and a table that
// is full, cut short (indices beyond it read as black) or longer than the
// depth can index.
Bitmap randomPicture(const Layout &l, int w, int h, bool topDown, std::mt19937 &rng)
{
    Bitmap::Content c;
    if (l.device) {
        c.raster = test::makeRaster(l, w, h);
    } else {
        platform::ColorTable table;
        if (l.bits <= 8) {
            const std::size_t full = std::size_t(1) << l.bits;
            const std::size_t sizes[] = {full, l.bits == 8 ? 200 : full + 1 + rng() % 3, full - full / 4};
            table.resize(sizes[rng() % 3]);
            for (auto &e : table)
                e = {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())};
            const std::size_t reach = std::min(table.size(), full);
            const std::size_t black = rng() % reach;
            const std::size_t white = (black + 1 + rng() % (reach - 1)) % reach;
            table[black] = {0, 0, 0, 0};
            table[white] = {255, 255, 255, 0};
            // Out of a pixel's reach, but the nearest colour to many results.
            if (table.size() > full)
                table[full] = {128, 128, 128, 0};
            if (reach > 4)
                table[(white + 1) % reach] = table[(white + 2) % reach];
        }
        c.raster = test::makeRaster(l, w, h, topDown, table);
        c.header = c.raster->header();
        c.masks = l.compression == platform::kBiBitFields ? l.masks : platform::ChannelMasks{};
    }
    for (std::size_t i = 0; i < c.raster->imageBytes(); ++i)
        c.raster->bits()[i] = std::uint8_t(rng());
    Bitmap b;
    b.assign(std::move(c));
    return b;
}

std::vector<std::uint8_t> bytesOf(const Bitmap &b)
{
    const auto *r = b.raster();
    return {r->bits(), r->bits() + r->imageBytes()};
}

class FastPaths : public ::testing::TestWithParam<std::tuple<int, int>> {};

// Each fast path gives exactly the bytes of the plain pipeline, padding and
// unused bits included, and the same side effects.
TEST_P(FastPaths, MatchThePlainPipelineByteForByte)
{
    const Layout &l = kLayouts[std::get<0>(GetParam())];
    const int mode = std::get<1>(GetParam());
    std::mt19937 rng(unsigned(mode * 100 + std::get<0>(GetParam())));
    // Every width of up to 9 (every fill of a byte and of a 4-byte row), a
    // multiple of 4 and longer odd ones.
    for (const int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 33}) {
        const int h = 1 + w % 4;
        const bool topDown = w % 2 == 0;
        Bitmap fast = randomPicture(l, w, h, topDown, rng);
        Bitmap plain = fast;
        // Make both private before comparing storage.
        plain.scanLine(0);
        // Colours that occur in the picture, so that the exchange does something.
        const ColorRef c1 = fast.pixel(0, 0);
        const ColorRef c2 = fast.pixel(w - 1, h - 1);
        int fastChanges = 0, plainChanges = 0;
        fast.setOnChange([&] { ++fastChanges; });
        plain.setOnChange([&] { ++plainChanges; });
        processColors(fast, mode, c1, c2);
        processColorsPlain(plain, mode, c1, c2);
        ASSERT_EQ(bytesOf(fast), bytesOf(plain)) << l.name << " " << w << "x" << h;
        EXPECT_EQ(fast.pixelFormat(), plain.pixelFormat());
        EXPECT_EQ(fastChanges, plainChanges);
        EXPECT_EQ(fast.header(), plain.header());
        EXPECT_EQ(fast.palette().has_value(), plain.palette().has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormatAndMode, FastPaths,
                         ::testing::Combine(::testing::Range(0, int(std::size(kLayouts))),
                                            ::testing::ValuesIn(everyModeCodeAndAnother())),
                         [](const auto &info) {
                             return std::string(kLayouts[std::get<0>(info.param)].name) + "_mode" +
                                    std::to_string(std::get<1>(info.param));
                         });

Bitmap picture24(std::initializer_list<ColorRef> colours)
{
    Bitmap b;
    b.setPixelFormat(PixelFormat::Bit24);
    b.setWidth(int(colours.size()));
    b.setHeight(1);
    std::uint8_t *row = b.scanLine(0);
    for (ColorRef c : colours) {
        *row++ = std::uint8_t(platform::blueOf(c));
        *row++ = std::uint8_t(platform::greenOf(c));
        *row++ = std::uint8_t(platform::redOf(c));
    }
    return b;
}

TEST(Modes, NamesOfTheFourModes)
{
    EXPECT_EQ(modeName(19), "色交換モード");
    EXPECT_EQ(modeName(20), "色反転モード");
    EXPECT_EQ(modeName(21), "グレースケール化");
    EXPECT_EQ(modeName(22), "反転グレースケール化");
    EXPECT_EQ(modeName(unusedModeCode()), "");
}

TEST(Modes, ExchangeSwapsExactlyTheTwoColours)
{
    Bitmap b = picture24({rgb(255, 255, 255), rgb(0, 0, 0), rgb(1, 2, 3)});
    processColors(b, kModeSwap, rgb(255, 255, 255), rgb(0, 0, 0));
    EXPECT_EQ(b.pixel(0, 0), rgb(0, 0, 0));
    EXPECT_EQ(b.pixel(1, 0), rgb(255, 255, 255));
    EXPECT_EQ(b.pixel(2, 0), rgb(1, 2, 3));
    // Equal colours: nothing changes.
    processColors(b, kModeSwap, rgb(1, 2, 3), rgb(1, 2, 3));
    EXPECT_EQ(b.pixel(2, 0), rgb(1, 2, 3));
    // A value with a non-zero top byte never equals a pixel.
    processColors(b, kModeSwap, 0x01000000, rgb(9, 9, 9));
    EXPECT_EQ(b.pixel(0, 0), rgb(0, 0, 0));
}

TEST(Modes, ExchangeMatchesTheCurrentSystemColour)
{
    platform::setSysColor(platform::kColorBtnFace, rgb(10, 20, 30));
    Bitmap b = picture24({rgb(10, 20, 30)});
    processColors(b, kModeSwap, platform::systemColorValue(platform::kColorBtnFace), rgb(200, 0, 0));
    platform::resetSysColors();
    EXPECT_EQ(b.pixel(0, 0), rgb(200, 0, 0));
}

TEST(Modes, InvertTwiceGivesBackTheOriginal)
{
    Bitmap b = picture24({rgb(1, 2, 3), rgb(250, 128, 0)});
    processColors(b, kModeInvert, 0, 0);
    EXPECT_EQ(b.pixel(0, 0), rgb(254, 253, 252));
    processColors(b, kModeInvert, 0, 0);
    EXPECT_EQ(b.pixel(1, 0), rgb(250, 128, 0));
}

TEST(Modes, GrayIsThePlainMeanWithoutRounding)
{
    Bitmap b = picture24({rgb(255, 255, 254), rgb(0, 0, 2)});
    Bitmap inverted = b;
    processColors(b, kModeGray, 0, 0);
    EXPECT_EQ(b.pixel(0, 0), rgb(254, 254, 254));
    EXPECT_EQ(b.pixel(1, 0), rgb(0, 0, 0));
    processColors(inverted, kModeInvertGray, 0, 0);
    EXPECT_EQ(inverted.pixel(1, 0), rgb(255, 255, 255));
}

TEST(Modes, OtherCodesLeaveColoursAndNoModeTouchesTheFourthByte)
{
    Bitmap b = picture24({rgb(5, 6, 7)});
    processColors(b, unusedModeCode(), 0, 0);
    EXPECT_EQ(b.pixel(0, 0), rgb(5, 6, 7));
    Bitmap b32;
    b32.setPixelFormat(PixelFormat::Bit32);
    b32.setWidth(1);
    b32.setHeight(1);
    b32.scanLine(0)[3] = 0x77;
    processColors(b32, kModeInvert, 0, 0);
    EXPECT_EQ(b32.raster()->bits()[3], 0x77);
    EXPECT_EQ(b32.pixel(0, 0), rgb(0, 0, 0));
}

TEST(Formats, BlackAndWhiteIsExchangedExactlyAndKeepsItsPalette)
{
    Bitmap b;
    b.setPixelFormat(PixelFormat::Bit1);
    b.setWidth(10);
    b.setHeight(2);
    b.scanLine(0)[0] = 0x0F;
    const auto table = b.raster()->colorTable();
    processColors(b, kModeSwap, rgb(255, 255, 255), rgb(0, 0, 0));
    EXPECT_EQ(b.pixelFormat(), PixelFormat::Bit1);
    EXPECT_EQ(b.raster()->colorTable(), table);
    EXPECT_EQ(b.pixel(0, 0), rgb(255, 255, 255));
    EXPECT_EQ(b.pixel(4, 0), rgb(0, 0, 0));
    EXPECT_EQ(b.pixel(9, 1), rgb(0, 0, 0));
}

// Whichever colour comes first in the palette, through either path, and with
// the colours asked for in either order.
TEST(Formats, WhiteFirstPalettesAreExchangedAndInvertedExactly)
{
    for (const bool whiteFirst : {true, false}) {
        for (const auto process : {&processColors, &processColorsPlain}) {
            for (const int mode : {int(kModeSwap), int(kModeInvert)}) {
                const platform::RgbQuad white{255, 255, 255, 0}, black{0, 0, 0, 0};
                Bitmap::Content c;
                c.raster = test::makeRaster(
                    1, 9, 2, nullptr, whiteFirst ? platform::ColorTable{white, black} : platform::ColorTable{black, white});
                c.raster->scanLine(0)[0] = 0xA5;
                c.raster->scanLine(0)[1] = 0x80;
                c.header = c.raster->header();
                Bitmap b;
                b.assign(std::move(c));
                std::vector<ColorRef> before;
                for (int x = 0; x < 9; ++x)
                    before.push_back(b.pixel(x, 0));
                process(b, mode, whiteFirst ? rgb(0, 0, 0) : rgb(255, 255, 255),
                        whiteFirst ? rgb(255, 255, 255) : rgb(0, 0, 0));
                for (int x = 0; x < 9; ++x)
                    ASSERT_EQ(b.pixel(x, 0), before[std::size_t(x)] ^ 0x00FFFFFF) << whiteFirst << " " << mode << " " << x;
            }
        }
    }
}

TEST(Formats, GrayOfAColourPaletteTakesTheNearestEntries)
{
    Bitmap b;
    b.setPixelFormat(PixelFormat::Bit8);
    b.setWidth(2);
    b.setHeight(1);
    b.scanLine(0)[0] = 5;  // a halftone cube colour
    const auto table = b.raster()->colorTable();
    processColors(b, kModeGray, 0, 0);
    EXPECT_EQ(b.raster()->colorTable(), table);
    const ColorRef c = b.pixel(0, 0);
    EXPECT_EQ(platform::redOf(c), platform::greenOf(c));
    EXPECT_EQ(platform::greenOf(c), platform::blueOf(c));
}

TEST(Formats, SixteenBitResultsKeepTheirPrecisionAndFormat)
{
    for (PixelFormat f : {PixelFormat::Bit15, PixelFormat::Bit16}) {
        Bitmap b;
        b.setPixelFormat(f);
        b.setWidth(1);
        b.setHeight(1);
        const ColorRef white = b.pixel(0, 0);
        EXPECT_EQ(white, rgb(255, 255, 255));
        processColors(b, kModeSwap, white, rgb(0, 0, 0));
        EXPECT_EQ(b.pixel(0, 0), rgb(0, 0, 0));
        EXPECT_EQ(b.pixelFormat(), f);
    }
}

TEST(Formats, EmptyPicturesAreLeftAlone)
{
    Bitmap b;
    int changes = 0;
    b.setOnChange([&] { ++changes; });
    processColors(b, kModeInvert, 0, 0);
    processColorsPlain(b, kModeInvert, 0, 0);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(b.empty());
}

TEST(Formats, SharedStorageIsCopiedBeforeTheChange)
{
    Bitmap a = picture24({rgb(1, 1, 1)});
    Bitmap b = a;
    processColors(b, kModeInvert, 0, 0);
    EXPECT_EQ(a.pixel(0, 0), rgb(1, 1, 1));
    EXPECT_EQ(b.pixel(0, 0), rgb(254, 254, 254));
}

// A picture of one row of 32- or 16-bit values with the given masks.
Bitmap maskedPicture(unsigned bits, const platform::ChannelMasks &masks, const std::vector<std::uint32_t> &values)
{
    Bitmap::Content c;
    c.raster = test::makeRaster(bits, int(values.size()), 1, &masks);
    c.header = c.raster->header();
    c.masks = masks;
    for (std::size_t i = 0; i < values.size(); ++i)
        std::memcpy(c.raster->bits() + i * bits / 8, &values[i], bits / 8);
    Bitmap b;
    b.assign(std::move(c));
    return b;
}

std::uint32_t valueAt(const Bitmap &b, int x)
{
    std::uint32_t v = 0;
    std::memcpy(&v, b.raster()->bits() + std::size_t(x) * unsigned(b.raster()->bitsPerPixel()) / 8,
                unsigned(b.raster()->bitsPerPixel()) / 8);
    return v;
}

// Alpha is never touched, channels wider than 8 bits are rewritten at their
// own width, and a pixel the exchange doesn't match keeps every bit.
TEST(Formats, AlphaIsKeptAndWideChannelsKeepTheirPrecision)
{
    const platform::ChannelMasks m1010102{0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
    const auto pack = [](std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
        return a << 30 | r << 20 | g << 10 | b;
    };
    const std::vector<std::uint32_t> values = {pack(1, 1, 2, 1021), pack(2, 1023, 0, 513), pack(3, 5, 6, 7)};
    for (const auto process : {&processColors, &processColorsPlain}) {
        Bitmap inverted = maskedPicture(32, m1010102, values);
        process(inverted, kModeInvert, 0, 0);
        EXPECT_EQ(valueAt(inverted, 0), pack(1, 1022, 1021, 2));
        EXPECT_EQ(valueAt(inverted, 1), pack(2, 0, 1023, 510));
        Bitmap gray = maskedPicture(32, m1010102, values);
        process(gray, kModeGray, 0, 0);
        EXPECT_EQ(valueAt(gray, 0), pack(1, 341, 341, 341));  // 1024 / 3, at 10 bits
        Bitmap invertGray = maskedPicture(32, m1010102, values);
        process(invertGray, kModeInvertGray, 0, 0);
        EXPECT_EQ(valueAt(invertGray, 2), pack(3, 1017, 1017, 1017));
        // A weighted gray at 10 bits too: 0.2126 * 1 + 0.7152 * 2 + 0.0722 * 1021, rounded.
        Bitmap weighted = maskedPicture(32, m1010102, values);
        ColorSettings rec709;
        rec709.grayFormula = GrayFormula::Rec709;
        (process == &processColors ? processColorsWith : processColorsPlainWith)(weighted, kModeGray, 0, 0, rec709);
        EXPECT_EQ(valueAt(weighted, 0), pack(1, 75, 75, 75));
        // Neither colour is in the picture: every pixel keeps its bits.
        Bitmap swapped = maskedPicture(32, m1010102, values);
        process(swapped, kModeSwap, rgb(255, 255, 255), rgb(0, 0, 0));
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(valueAt(swapped, x), values[std::size_t(x)]);

        // 16 bits with one alpha bit; 8-bit channels with an alpha byte.
        Bitmap a16 = maskedPicture(16, {0x7C00, 0x03E0, 0x001F, 0x8000}, {0x8000 | 0x1F, 0x7C00});
        process(a16, kModeInvert, 0, 0);
        EXPECT_EQ(valueAt(a16, 0), 0x8000u | 0x7FE0);
        EXPECT_EQ(valueAt(a16, 1), 0x03FFu);
        Bitmap a32 = maskedPicture(32, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, {0x80102030, 0x00FFFFFF});
        process(a32, kModeSwap, rgb(255, 255, 255), rgb(0, 0, 0));
        EXPECT_EQ(valueAt(a32, 0), 0x80102030u);
        EXPECT_EQ(valueAt(a32, 1), 0x00000000u);
        process(a32, kModeGray, 0, 0);
        EXPECT_EQ(valueAt(a32, 0), 0x80202020u);  // (0x10 + 0x20 + 0x30) / 3, alpha kept
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The settings beyond mode and colours: the swap's tolerance and the gray
// formulas.

namespace {

struct SettingsCase {
    const char *name;
    int mode;
    ColorSettings settings;
};

const SettingsCase kSettingsCases[] = {
    {"tolerance40", kModeSwap, {40, GrayFormula::Mean}},
    {"tolerance255", kModeSwap, {255, GrayFormula::Mean}},
    {"gray601", kModeGray, {0, GrayFormula::Rec601}},
    {"gray709", kModeGray, {0, GrayFormula::Rec709}},
    {"invertGray601", kModeInvertGray, {0, GrayFormula::Rec601}},
    {"invertGray709", kModeInvertGray, {0, GrayFormula::Rec709}},
};

class FastPathsWithSettings : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FastPathsWithSettings, MatchThePlainPipelineByteForByte)
{
    const Layout &l = kLayouts[std::get<0>(GetParam())];
    const SettingsCase &s = kSettingsCases[std::get<1>(GetParam())];
    std::mt19937 rng(unsigned(std::get<1>(GetParam()) * 100 + std::get<0>(GetParam())));
    for (const int w : {1, 3, 8, 13, 33}) {
        const int h = 1 + w % 4;
        Bitmap fast = randomPicture(l, w, h, w % 2 == 0, rng);
        Bitmap plain = fast;
        plain.scanLine(0);
        const ColorRef c1 = fast.pixel(0, 0), c2 = fast.pixel(w - 1, h - 1);
        processColorsWith(fast, s.mode, c1, c2, s.settings);
        processColorsPlainWith(plain, s.mode, c1, c2, s.settings);
        ASSERT_EQ(bytesOf(fast), bytesOf(plain)) << l.name << " " << s.name << " " << w << "x" << h;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FastPathsWithSettings,
                         ::testing::Combine(::testing::Range(0, int(std::size(kLayouts))),
                                            ::testing::Range(0, int(std::size(kSettingsCases)))),
                         [](const auto &info) {
                             return std::string(kLayouts[std::get<0>(info.param)].name) + "_" +
                                    kSettingsCases[std::get<1>(info.param)].name;
                         });

TEST(GrayFormulas, KnownColoursGiveTheirExactGrays)
{
    // red, green, blue, near white, and two mixed colours.
    const std::initializer_list<ColorRef> colours = {rgb(255, 0, 0),     rgb(0, 255, 0),   rgb(0, 0, 255),
                                                     rgb(255, 255, 254), rgb(10, 200, 30), rgb(128, 64, 32)};
    const std::map<GrayFormula, std::vector<unsigned>> grays = {
        {GrayFormula::Mean, {85, 85, 85, 254, 80, 74}},
        {GrayFormula::Rec601, {76, 150, 29, 255, 124, 79}},
        {GrayFormula::Rec709, {54, 182, 18, 255, 147, 75}},
    };
    for (const auto &[formula, expected] : grays) {
        // Through the fast path and the plain pipeline (which agree on every
        // format, above).
        for (const auto process : {&processColorsWith, &processColorsPlainWith}) {
            for (const int mode : {int(kModeGray), int(kModeInvertGray)}) {
                Bitmap b = picture24(colours);
                process(b, mode, 0, 0, ColorSettings{0, formula});
                for (std::size_t i = 0; i < colours.size(); ++i) {
                    const unsigned y = mode == kModeGray ? expected[i] : 255 - expected[i];
                    EXPECT_EQ(b.pixel(int(i), 0), rgb(y, y, y))
                        << grayFormulaInfo(formula).commandName << " mode " << mode << " colour " << i;
                }
            }
        }
    }
    // The plain mean with the settings left alone is the described rule.
    Bitmap b = picture24({rgb(255, 255, 254)});
    processColorsWith(b, kModeGray, 0, 0, ColorSettings{});
    EXPECT_EQ(b.pixel(0, 0), rgb(254, 254, 254));
}

// White text on black, anti-aliased: a disc whose edge pixels
// take the covered share of white, some with the tint a sub-pixel renderer
// gives them.
Bitmap antiAliasedText()
{
    const int size = 16;
    Bitmap b;
    b.setPixelFormat(PixelFormat::Bit24);
    b.setWidth(size);
    b.setHeight(size);
    for (int y = 0; y < size; ++y) {
        std::uint8_t *row = b.scanLine(y);
        for (int x = 0; x < size; ++x) {
            int covered = 0;
            for (int sy = 0; sy < 8; ++sy) {
                for (int sx = 0; sx < 8; ++sx) {
                    const double dx = x + (sx + 0.5) / 8 - 7.7, dy = y + (sy + 0.5) / 8 - 8.3;
                    covered += dx * dx + dy * dy <= 5.6 * 5.6 ? 1 : 0;
                }
            }
            const int v = covered * 255 / 64;
            const int tint = (v >= 6 && v <= 249 && x > 8) ? 6 : 0;
            row[3 * x] = std::uint8_t(v - tint);      // blue
            row[3 * x + 1] = std::uint8_t(v);         // green
            row[3 * x + 2] = std::uint8_t(v + tint);  // red
        }
    }
    return b;
}

TEST(SwapTolerance, MirrorsAntiAliasedEdgesAndSwapsBackByteForByte)
{
    const ColorRef white = rgb(255, 255, 255), black = rgb(0, 0, 0);
    const Bitmap original = antiAliasedText();
    std::set<ColorRef> edges;
    for (int y = 0; y < original.height(); ++y) {
        for (int x = 0; x < original.width(); ++x) {
            if (original.pixel(x, y) != white && original.pixel(x, y) != black)
                edges.insert(original.pixel(x, y));
        }
    }
    ASSERT_GT(edges.size(), 10u);

    // Tolerance 0: the exact swap, the edges keep their colours.
    Bitmap exact = original;
    processColorsWith(exact, kModeSwap, white, black, ColorSettings{0, GrayFormula::Mean});
    Bitmap described = original;
    processColors(described, kModeSwap, white, black);
    EXPECT_EQ(bytesOf(exact), bytesOf(described));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const ColorRef c = original.pixel(x, y);
            EXPECT_EQ(exact.pixel(x, y), c == white ? black : c == black ? white : c);
        }
    }

    // A tolerance covering them: a gray v becomes 255 - v, a tinted one
    // keeps its tint (red up, blue down by 6) around its mirrored gray.
    Bitmap mirrored = original;
    processColorsWith(mirrored, kModeSwap, white, black, ColorSettings{12, GrayFormula::Mean});
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const ColorRef c = original.pixel(x, y);
            const unsigned v = platform::greenOf(c), m = 255 - v;
            const ColorRef expected = platform::redOf(c) == v ? rgb(m, m, m) : rgb(m + 6, m, m - 6);
            ASSERT_EQ(mirrored.pixel(x, y), expected) << x << "," << y;
        }
    Bitmap back = mirrored;
    processColorsWith(back, kModeSwap, white, black, ColorSettings{12, GrayFormula::Mean});
    EXPECT_EQ(bytesOf(back), bytesOf(original));

    // The same picture paletted (its colours and their mirrors in the
    // palette) gives the same colours.
    std::vector<ColorRef> table(edges.begin(), edges.end());
    table.push_back(white);
    table.push_back(black);
    for (ColorRef c : edges) {
        Bitmap one = picture24({c});
        processColorsWith(one, kModeSwap, white, black, ColorSettings{12, GrayFormula::Mean});
        table.push_back(one.pixel(0, 0));
    }
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end()), table.end());
    ASSERT_LE(table.size(), 256u);
    platform::ColorTable entries;
    for (ColorRef c : table)
        entries.push_back({std::uint8_t(platform::blueOf(c)), std::uint8_t(platform::greenOf(c)),
                           std::uint8_t(platform::redOf(c)), 0});
    Bitmap::Content content;
    content.raster = test::makeRaster(8, 16, 16, nullptr, entries);
    content.header = content.raster->header();
    Bitmap paletted;
    paletted.assign(std::move(content));
    paletted.draw(0, 0, original);
    for (const auto process : {&processColorsWith, &processColorsPlainWith}) {
        Bitmap p = paletted;
        process(p, kModeSwap, white, black, ColorSettings{12, GrayFormula::Mean});
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(p.pixel(x, y), mirrored.pixel(x, y)) << x << "," << y;
    }
}

TEST(SwapTolerance, MirrorsAlongAnySegmentAndLeavesOtherColoursAlone)
{
    // Dark blue on yellow: a quarter of the way from one ends a quarter of
    // the way from the other, its offset from the segment kept within a level.
    const ColorRef c1 = rgb(250, 220, 40), c2 = rgb(20, 30, 120);
    const ColorRef quarter = rgb(195, 175, 63), far = rgb(0, 255, 0);
    Bitmap b = picture24({c1, c2, quarter, far});
    processColorsWith(b, kModeSwap, c1, c2, ColorSettings{20, GrayFormula::Mean});
    EXPECT_EQ(b.pixel(0, 0), c2);
    EXPECT_EQ(b.pixel(1, 0), c1);
    // The exact mirror: p + (1 - 2t)(c2 - c1), t the share of the way.
    const std::array<double, 3> p{195, 175, 63}, a{250, 220, 40}, d{20 - 250, 30 - 220, 120 - 40};
    const double t = ((p[0] - a[0]) * d[0] + (p[1] - a[1]) * d[1] + (p[2] - a[2]) * d[2]) /
                     (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    ASSERT_NEAR(t, 0.25, 0.02);
    const ColorRef got = b.pixel(2, 0);
    const unsigned channels[3] = {platform::redOf(got), platform::greenOf(got), platform::blueOf(got)};
    for (int i = 0; i < 3; ++i)
        EXPECT_LE(std::abs(channels[i] - (p[std::size_t(i)] + (1 - 2 * t) * d[std::size_t(i)])), 1.0) << i;
    EXPECT_EQ(b.pixel(3, 0), far);
    processColorsWith(b, kModeSwap, c1, c2, ColorSettings{20, GrayFormula::Mean});
    EXPECT_EQ(b.pixel(2, 0), quarter);

    // Every colour of a coarse grid swapped twice comes back, except where
    // the mirror had to be clamped into the cube.
    std::vector<ColorRef> grid;
    for (unsigned r = 0; r < 256; r += 15)
        for (unsigned g = 0; g < 256; g += 15)
            for (unsigned bl = 0; bl < 256; bl += 15)
                grid.push_back(rgb(r, g, bl));
    Bitmap all;
    all.setPixelFormat(PixelFormat::Bit24);
    all.setWidth(int(grid.size()));
    all.setHeight(1);
    for (std::size_t i = 0; i < grid.size(); ++i) {
        all.scanLine(0)[3 * i] = std::uint8_t(platform::blueOf(grid[i]));
        all.scanLine(0)[3 * i + 1] = std::uint8_t(platform::greenOf(grid[i]));
        all.scanLine(0)[3 * i + 2] = std::uint8_t(platform::redOf(grid[i]));
    }
    Bitmap once = all;
    processColorsWith(once, kModeSwap, c1, c2, ColorSettings{60, GrayFormula::Mean});
    Bitmap twice = once;
    processColorsWith(twice, kModeSwap, c1, c2, ColorSettings{60, GrayFormula::Mean});
    int changed = 0;
    for (int i = 0; i < all.width(); ++i) {
        const ColorRef o = once.pixel(i, 0);
        const bool clamped = std::min({platform::redOf(o), platform::greenOf(o), platform::blueOf(o)}) == 0 ||
                             std::max({platform::redOf(o), platform::greenOf(o), platform::blueOf(o)}) == 255;
        changed += o != all.pixel(i, 0) ? 1 : 0;
        if (!clamped) {
            ASSERT_EQ(twice.pixel(i, 0), all.pixel(i, 0)) << i;
        }
    }
    EXPECT_GT(changed, 100);
}

}  // namespace

namespace {

// The run-length indices of a BMP as read, rows from the top.
std::vector<std::uint16_t> runLengthIndicesOf(const std::vector<std::uint8_t> &file)
{
    platform::MemoryStream stream(file);
    Bitmap b;
    b.loadFromStream(stream);
    return b.fileExtras() ? b.fileExtras()->runLengthIndices : std::vector<std::uint16_t>{};
}

}  // namespace

// A run-length file processed through its indices holds what decoding,
// processing and writing it back gives, in every mode and with a tolerance;
// a file whose data skips pixels or runs past a row is left to that path.
TEST(RunLengthFiles, MappedIndicesGiveThePixelsOfTheWholePipeline)
{
    const std::string corpus = TOVI_CORPUS_DIR;
    if (!std::filesystem::exists(corpus + "/g/pal8rle.bmp"))
        GTEST_SKIP() << "no BMP Suite corpus at " << corpus;
    int mapped = 0, leftToDecode = 0;
    for (const std::string &name :
         {corpus + "/g/pal4rle.bmp", corpus + "/g/pal8rle.bmp", corpus + "/q/pal4rlecut.bmp",
          corpus + "/q/pal8rlecut.bmp", corpus + "/q/pal4rletrns.bmp", corpus + "/q/pal8rletrns.bmp",
          std::string(TOVI_TEST_FILES_DIR) + "/magick-pal8rle.bmp"}) {
        const auto bytes = test::readFile(name);
        for (const int mode : everyModeCodeAndAnother()) {
            for (const ColorSettings settings : {ColorSettings{}, ColorSettings{60, GrayFormula::Rec709}}) {
                SCOPED_TRACE(name + " mode " + std::to_string(mode));
                const ColorRef c1 = rgb(0, 0, 0), c2 = rgb(255, 255, 255);
                platform::MemoryStream in(bytes);
                const auto rle = picture::bmp::readRunLengthFile(in);
                ASSERT_TRUE(rle);
                const auto out = picture::bmp::remapRunLengthIndices(
                    *rle, runLengthIndexMap(rle->table, rle->fourBits, mode, c1, c2, settings));
                if (!out) {
                    ++leftToDecode;
                    continue;
                }
                ++mapped;
                EXPECT_EQ(out->size(), bytes.size());
                Bitmap whole;
                platform::MemoryStream again(bytes);
                whole.loadFromStream(again);
                processColorsWith(whole, mode, c1, c2, settings);
                platform::MemoryStream written;
                whole.saveToStream(written);
                EXPECT_EQ(runLengthIndicesOf(*out), runLengthIndicesOf(written.data()));
            }
        }
    }
    EXPECT_GT(mapped, 0);
    EXPECT_GT(leftToDecode, 0);

    platform::MemoryStream uncompressed(test::bmp24(2, 2, {0, 0, 0, 0}));
    EXPECT_FALSE(picture::bmp::readRunLengthFile(uncompressed));
}
