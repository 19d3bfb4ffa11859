// The raster layer: conversion between every pair of formats, nearest palette
// entries, widening of narrow channels, pixel reading, the gradient and the system-colour table.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/gradient.h"
#include "platform/pixel_codec.h"
#include "platform/raster.h"
#include "platform/system_colors.h"
#include "support/test_rasters.h"

using namespace tovi::platform;

namespace {

using Layout = tovi::test::RasterLayout;

const Layout kLayouts[] = {
    {"bit1", 1, kBiRgb, {}, false},          {"bit4", 4, kBiRgb, {}, false},
    {"bit8", 8, kBiRgb, {}, false},          {"bit15", 16, kBiRgb, {}, false},
    {"bit16", 16, kBiBitFields, kMasks565, false}, {"custom16", 16, kBiBitFields, {0x0F00, 0x00F0, 0x000F}, false},
    {"bit24", 24, kBiRgb, {}, false},        {"bit32", 32, kBiRgb, {}, false},
    {"custom32", 32, kBiBitFields, {0x000003FF, 0x000FFC00, 0x3FF00000}, false},
    {"device", 32, kBiRgb, {}, true},
};

// A palette that holds the colours the tests draw.
ColorTable testTable(unsigned bits)
{
    ColorTable t = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0},
                    {0, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 0}};
    t.resize(std::size_t(1) << std::min(bits, 8u), RgbQuad{128, 128, 128, 0});
    if (bits == 1)
        t.resize(2);
    return t;
}

std::shared_ptr<Raster> make(const Layout &l, int w, int h, bool topDown = false)
{
    return tovi::test::makeRaster(l, w, h, topDown, l.bits <= 8 ? testTable(l.bits) : ColorTable{});
}

// Colours every format holds exactly: full and zero channels.
const ColorRef kPrimaries[] = {rgb(0, 0, 0),     rgb(255, 255, 255), rgb(255, 0, 0),   rgb(0, 255, 0),
                               rgb(0, 0, 255),   rgb(255, 255, 0),   rgb(0, 255, 255), rgb(255, 0, 255)};

class EveryPair : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EveryPair, PrimaryColoursConvertExactly)
{
    const Layout &from = kLayouts[std::get<0>(GetParam())];
    const Layout &to = kLayouts[std::get<1>(GetParam())];
    const int colours = from.bits == 1 || to.bits == 1 ? 2 : 8;
    auto src = make(from, 13, 3);
    auto dst = make(to, 13, 3, true);
    ASSERT_TRUE(src && dst);
    // Paint the source through a 24-bit raster, so that its encoder is used.
    auto rgbSrc = make(kLayouts[6], 13, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 13; ++x) {
            const ColorRef c = kPrimaries[(x + y) % colours];
            std::uint8_t *p = rgbSrc->scanLine(y) + 3 * x;
            p[0] = std::uint8_t(blueOf(c));
            p[1] = std::uint8_t(greenOf(c));
            p[2] = std::uint8_t(redOf(c));
        }
    copyWithConversion(*rgbSrc, *src, 0, 0);
    copyWithConversion(*src, *dst, 0, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(dst->pixel(x, y), kPrimaries[(x + y) % colours]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryPair,
                         ::testing::Combine(::testing::Range(0, int(std::size(kLayouts))),
                                            ::testing::Range(0, int(std::size(kLayouts)))),
                         [](const auto &info) {
                             return std::string(kLayouts[std::get<0>(info.param)].name) + "_to_" +
                                    kLayouts[std::get<1>(info.param)].name;
                         });

TEST(Conversion, PalettedTargetsTakeTheNearestEntryAndKeepTheirTable)
{
    auto src = make(kLayouts[6], 4, 1);
    auto dst = make(kLayouts[2], 4, 1);
    const ColorTable before = dst->colorTable();
    const ColorRef in[] = {rgb(250, 10, 10), rgb(120, 130, 140), rgb(10, 10, 10), rgb(200, 200, 60)};
    for (int x = 0; x < 4; ++x) {
        std::uint8_t *p = src->scanLine(0) + 3 * x;
        p[0] = std::uint8_t(blueOf(in[x]));
        p[1] = std::uint8_t(greenOf(in[x]));
        p[2] = std::uint8_t(redOf(in[x]));
    }
    copyWithConversion(*src, *dst, 0, 0);
    EXPECT_EQ(dst->pixel(0, 0), rgb(255, 0, 0));
    EXPECT_EQ(dst->pixel(1, 0), rgb(128, 128, 128));
    EXPECT_EQ(dst->pixel(2, 0), rgb(0, 0, 0));
    EXPECT_EQ(dst->pixel(3, 0), rgb(255, 255, 0));
    EXPECT_EQ(dst->colorTable(), before);
}

TEST(Conversion, NearestIndexPrefersExactThenLowestIndex)
{
    const ColorTable table = {{10, 10, 10, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {20, 20, 20, 0}};
    EXPECT_EQ(nearestIndex(table, rgb(0, 0, 0)), 1u);
    EXPECT_EQ(nearestIndex(table, rgb(15, 15, 15)), 0u);  // a tie: the lower index
    EXPECT_EQ(nearestIndex(table, rgb(19, 19, 19)), 3u);
}

TEST(Conversion, NarrowChannelsWidenByBitReplication)
{
    for (unsigned v = 0; v < 32; ++v)
        EXPECT_EQ(widenChannel(v, 5), (v << 3) | (v >> 2));
    for (unsigned v = 0; v < 64; ++v)
        EXPECT_EQ(widenChannel(v, 6), (v << 2) | (v >> 4));
    EXPECT_EQ(widenChannel(1, 1), 255u);
    EXPECT_EQ(widenChannel(0x3FF, 10), 255u);
    EXPECT_EQ(narrowChannel(255, 10), 0x3FFu);
    // White in 5-5-5 and 5-6-5 reads as white.
    auto r15 = make(kLayouts[3], 1, 1);
    auto r16 = make(kLayouts[4], 1, 1);
    r15->scanLine(0)[0] = 0xFF;
    r15->scanLine(0)[1] = 0x7F;
    r16->scanLine(0)[0] = 0xFF;
    r16->scanLine(0)[1] = 0xFF;
    EXPECT_EQ(r15->pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(r16->pixel(0, 0), 0xFFFFFFu);
}

TEST(Conversion, ClipsAtTheTargetEdgesAndOffsets)
{
    auto src = make(kLayouts[6], 3, 3);
    src->fill(rgb(255, 0, 0));
    auto dst = make(kLayouts[1], 4, 4);
    dst->fill(rgb(255, 255, 255));
    copyWithConversion(*src, *dst, 2, -1);
    EXPECT_EQ(dst->pixel(1, 0), rgb(255, 255, 255));
    EXPECT_EQ(dst->pixel(2, 0), rgb(255, 0, 0));
    EXPECT_EQ(dst->pixel(3, 1), rgb(255, 0, 0));
    EXPECT_EQ(dst->pixel(3, 2), rgb(255, 255, 255));
    copyWithConversion(*src, *dst, 10, 10);  // entirely outside: nothing
}

TEST(Conversion, ThirtyTwoBitTargetsGetAZeroFourthByte)
{
    auto src = make(kLayouts[7], 2, 1);
    std::memset(src->scanLine(0), 0xAB, 8);
    auto dst = make(kLayouts[7], 2, 1);
    copyWithConversion(*src, *dst, 0, 0);
    EXPECT_EQ(dst->scanLine(0)[3], 0);
    EXPECT_EQ(dst->scanLine(0)[0], 0xAB);
}

TEST(Conversion, MonochromeDeviceRastersUseBackgroundAndTextColours)
{
    auto mono = Raster::createDevice(2, 1, true);
    auto colour = make(kLayouts[6], 2, 1);
    colour->fill(rgb(255, 255, 255));
    colour->scanLine(0)[3] = 1;  // the second pixel is no longer white
    copyWithConversion(*colour, *mono, 0, 0, rgb(255, 255, 255), 0);
    EXPECT_EQ(mono->pixel(0, 0), rgb(255, 255, 255));
    EXPECT_EQ(mono->pixel(1, 0), rgb(0, 0, 0));
    auto back = make(kLayouts[6], 2, 1);
    copyWithConversion(*mono, *back, 0, 0, rgb(0, 0, 255), rgb(0, 255, 0));
    EXPECT_EQ(back->pixel(0, 0), rgb(0, 0, 255));
    EXPECT_EQ(back->pixel(1, 0), rgb(0, 255, 0));
}

TEST(Rasters, ScanLinesFollowTheRowOrder)
{
    auto bottomUp = make(kLayouts[6], 5, 3);
    auto topDown = make(kLayouts[6], 5, 3, true);
    EXPECT_EQ(bottomUp->rowBytes(), 16u);
    EXPECT_EQ(bottomUp->scanLine(0), bottomUp->bits() + 2 * 16);
    EXPECT_EQ(topDown->scanLine(0), topDown->bits());
    EXPECT_EQ(topDown->height(), 3);
}

TEST(Rasters, RefuseWhatTheyCantHold)
{
    BitmapInfoHeader h;
    h.size = 40;
    h.width = 10;
    h.height = 10;
    h.planes = 1;
    h.bitCount = 24;
    h.compression = kBiBitFields;
    EXPECT_EQ(Raster::createIndependent(h, nullptr, {}), nullptr);
    h.compression = kBiRgb;
    h.bitCount = 7;
    EXPECT_EQ(Raster::createIndependent(h, nullptr, {}), nullptr);
    h.bitCount = 24;
    h.height = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(Raster::createIndependent(h, nullptr, {}), nullptr);
    h.height = 0;
    EXPECT_EQ(Raster::createIndependent(h, nullptr, {}), nullptr);
    EXPECT_EQ(rowBytes(std::int64_t{1} << 40, 32), 0u);
    EXPECT_EQ(rowBytes(5, 1), 4u);
    EXPECT_EQ(rowBytes(33, 1), 8u);
}

TEST(Rasters, PixelOutsideIsInvalid)
{
    auto r = make(kLayouts[6], 2, 2);
    EXPECT_EQ(r->pixel(-1, 0), kInvalidColor);
    EXPECT_EQ(r->pixel(2, 0), kInvalidColor);
    EXPECT_EQ(r->pixel(0, 2), kInvalidColor);
}

TEST(Gradient, RunsFromTopColourTowardsBottomColour)
{
    std::vector<std::uint32_t> px(4 * 10, 0xDEADBEEF);
    gradientFillVertical(reinterpret_cast<std::uint8_t *>(px.data()), 16, 4, 10, 1, 0, 3, 10, rgb(0, 0, 0),
                         rgb(200, 100, 50));
    EXPECT_EQ(px[0], 0xDEADBEEFu);  // outside the rectangle
    EXPECT_EQ(px[1], 0u);
    EXPECT_EQ(px[9 * 4 + 2], (180u << 16) | (90u << 8) | 45u);
    EXPECT_EQ(gradientRowColor(rgb(0, 0, 0), rgb(200, 0, 0), 5, 10), rgb(100, 0, 0));
    // Rows grow monotonically.
    for (int y = 1; y < 10; ++y)
        EXPECT_GE(px[std::size_t(y) * 4 + 1] >> 16, px[std::size_t(y - 1) * 4 + 1] >> 16);
}

TEST(SystemColours, ResolveThroughTheReplaceableTable)
{
    resetSysColors();
    EXPECT_EQ(resolveColor(systemColorValue(kColorBtnFace)), sysColor(kColorBtnFace));
    setSysColor(kColorWindowText, rgb(1, 2, 3));
    EXPECT_EQ(resolveColor(0x80000008), rgb(1, 2, 3));
    EXPECT_EQ(resolveColor(0x01000000), 0x01000000u);  // not a system colour: unchanged
    EXPECT_EQ(sysColor(200), 0u);
    resetSysColors();
    EXPECT_EQ(halftonePalette().entries.size(), 256u);
    EXPECT_TRUE(halftonePalette().halftone);
    EXPECT_EQ(standard16Colors().size(), 16u);
}

}  // namespace
