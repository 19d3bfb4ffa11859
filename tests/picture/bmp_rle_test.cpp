// Run-length data of the BMP format: every escape of RLE8 and RLE4, runs
// clipped to the row, and the refusals that keep tiny data from asking for a
// huge raster.

#include <gtest/gtest.h>

#include <limits>

#include "picture/bmp/bmp_format.h"
#include "picture/bmp/bmp_rle.h"
#include "platform/raster.h"

using namespace tovi::platform;
using namespace tovi::picture::bmp;

namespace {

TEST(RunLength, DecodesEveryEscapeAndClipsOverruns)
{
    BitmapInfoHeader h;
    h.size = 40;
    h.width = 4;
    h.height = 4;
    h.planes = 1;
    h.bitCount = 8;
    h.compression = kBiRle8;
    const ColorTable table = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    const std::uint8_t data[] = {
        3, 0,             // bottom row: three red
        0, 0,             // end of line
        0, 3, 1, 2, 1, 0, // absolute: green blue green, padded
        9, 2,             // a run past the row's end: clipped
        0, 2, 0, 1,       // delta: up 1 (x stays at the row's end)
        0, 0,             // end of line: past the last row's start
        0, 2, 2, 0,       // delta: right 2
        1, 1,             // one green at (2, top row)
        0, 1,             // end of bitmap
        5, 0,             // never read
    };
    auto r = decodeRunLength(h, table, data);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->pixel(0, 3), rgb(255, 0, 0));
    EXPECT_EQ(r->pixel(2, 3), rgb(255, 0, 0));
    EXPECT_EQ(r->pixel(3, 3), 0u);  // never set: black
    EXPECT_EQ(r->pixel(0, 2), rgb(0, 255, 0));
    EXPECT_EQ(r->pixel(1, 2), rgb(0, 0, 255));
    EXPECT_EQ(r->pixel(3, 2), rgb(0, 0, 255));
    EXPECT_EQ(r->pixel(2, 0), rgb(0, 255, 0));
    EXPECT_EQ(r->pixel(0, 0), 0u);
}

TEST(RunLength, FourBitRunsAlternateNibbles)
{
    BitmapInfoHeader h;
    h.size = 40;
    h.width = 5;
    h.height = 1;
    h.planes = 1;
    h.bitCount = 4;
    h.compression = kBiRle4;
    const ColorTable table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    const std::uint8_t data[] = {5, 0x10, 0, 1};
    auto r = decodeRunLength(h, table, data);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->pixel(0, 0), rgb(255, 255, 255));
    EXPECT_EQ(r->pixel(1, 0), 0u);
    EXPECT_EQ(r->pixel(4, 0), rgb(255, 255, 255));
}

TEST(RunLength, RefusesTopDownAndHugeRastersFromTinyData)
{
    BitmapInfoHeader h;
    h.size = 40;
    h.width = 30000;
    h.height = 30000;
    h.planes = 1;
    h.bitCount = 8;
    h.compression = kBiRle8;
    const std::uint8_t data[] = {0, 1};
    EXPECT_EQ(decodeRunLength(h, {}, data), nullptr);
    h.width = 2;
    h.height = -2;
    EXPECT_EQ(decodeRunLength(h, {}, data), nullptr);
    h.compression = kBiJpeg;
    h.height = 2;
    EXPECT_EQ(decodeRunLength(h, {}, data), nullptr);
}

}  // namespace
