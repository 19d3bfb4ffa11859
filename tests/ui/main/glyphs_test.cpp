// ImageList1: the glyphs that show what their commands do, and the mode
// glyphs that are the run button's display of the current mode.

#include <gtest/gtest.h>

#include <QImage>

#include "fixture.h"
#include "ui/main/image_list.h"

namespace tovi::test {
namespace {

using ui::TImageList;

bool transparentAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) == 0;
}

int opaquePixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) == 255;
    return n;
}

TEST(ImageList, HoldsEveryIndexUpToTheLastModeCodeAtSixteenPixels)
{
    TImageList images;
    ASSERT_EQ(images.count(), 23);
    for (int i = 0; i < images.count(); ++i)
        EXPECT_EQ(images.image(i).size(), QSize(16, 16)) << i;
    EXPECT_TRUE(images.image(23).isNull());
    EXPECT_TRUE(images.image(-1).isNull());
}

TEST(ImageList, EveryGlyphAnActionShowsIsDrawnOnATransparentBackground)
{
    TImageList images;
    for (int i : {7, 8, 15, 16, 17, 18, 19, 20, 21, 22}) {
        const QImage glyph = images.image(i);
        EXPECT_GT(opaquePixels(glyph), 30) << i;
        EXPECT_LT(opaquePixels(glyph), 256) << i;
    }
}

TEST(ImageList, SwapGlyphIsAWhiteAndABlackSquareWithGreyFrames)
{
    const QImage glyph = TImageList().image(TImageList::kModeSwap);
    EXPECT_EQ(glyph.pixel(3, 3), qRgb(255, 255, 255));      // inside the white square, top left
    EXPECT_EQ(glyph.pixel(12, 12), qRgb(0, 0, 0));          // inside the black square, bottom right
    EXPECT_EQ(glyph.pixel(0, 0), qRgb(128, 128, 128));      // grey frame of the white one
    EXPECT_EQ(glyph.pixel(15, 15), qRgb(128, 128, 128));    // grey frame of the black one
    EXPECT_TRUE(transparentAt(glyph, 15, 0));
    EXPECT_TRUE(transparentAt(glyph, 0, 15));
}

// The band glyphs: bright colours above, the mode's result of the same column
// below, and a grey arrow down at the left.
class BandGlyph : public ::testing::TestWithParam<int> {};

TEST_P(BandGlyph, LowerPartIsTheOperationAppliedToTheUpperPart)
{
    const int mode = GetParam();
    const QImage glyph = TImageList().image(mode);
    for (int x = 6; x < 15; ++x) {
        const QRgb upper = glyph.pixel(x, 3);
        const QRgb lower = glyph.pixel(x, 11);
        const int r = qRed(upper), g = qGreen(upper), b = qBlue(upper);
        EXPECT_EQ(std::max({r, g, b}), 255) << "bright colours above, column " << x;
        const int mean = (r + g + b) / 3;
        switch (mode) {
        case TImageList::kModeInvert:
            EXPECT_EQ(lower, qRgb(255 - r, 255 - g, 255 - b)) << x;
            break;
        case TImageList::kModeGray:
            EXPECT_EQ(lower, qRgb(mean, mean, mean)) << x;
            break;
        default:
            EXPECT_EQ(lower, qRgb(255 - mean, 255 - mean, 255 - mean)) << x;
        }
    }
    // The arrow: grey shaft, head pointing down, nothing beside it.
    EXPECT_EQ(glyph.pixel(2, 4), qRgb(128, 128, 128));
    EXPECT_EQ(glyph.pixel(2, 11), qRgb(128, 128, 128));
    EXPECT_TRUE(transparentAt(glyph, 0, 4));
    EXPECT_TRUE(transparentAt(glyph, 2, 15));
}

INSTANTIATE_TEST_SUITE_P(Modes, BandGlyph,
                         ::testing::Values(TImageList::kModeInvert, TImageList::kModeGray,
                                           TImageList::kModeInvertGray));

TEST(ImageList, TheThreeBandGlyphsDifferOnlyBelow)
{
    TImageList images;
    const QImage inv = images.image(20), gray = images.image(21), invGray = images.image(22);
    EXPECT_EQ(inv.copy(0, 0, 16, 7), gray.copy(0, 0, 16, 7));
    EXPECT_EQ(gray.copy(0, 0, 16, 7), invGray.copy(0, 0, 16, 7));
    EXPECT_NE(inv.copy(6, 8, 9, 7), gray.copy(6, 8, 9, 7));
    EXPECT_NE(gray.copy(6, 8, 9, 7), invGray.copy(6, 8, 9, 7));
}

TEST(ImageList, GrayAndInvertedGrayGlyphsAreToldApartAtAGlance)
{
    TImageList images;
    const QImage gray = images.image(TImageList::kModeGray), invGray = images.image(TImageList::kModeInvertGray);
    // The grey result rises from dark at the left to light at the right, the
    // inverted one falls: far apart at both ends and clearly apart on average.
    const auto level = [](const QImage &glyph, int x) { return qRed(glyph.pixel(x, 11)); };
    EXPECT_LT(level(gray, 6), 100);
    EXPECT_GT(level(gray, 14), 200);
    EXPECT_GT(level(invGray, 6), 150);
    EXPECT_LT(level(invGray, 14), 50);
    int difference = std::abs(level(gray, 6) - level(invGray, 6));
    for (int x = 7; x < 15; ++x) {
        EXPECT_GT(level(gray, x), level(gray, x - 1)) << x;
        difference += std::abs(level(gray, x) - level(invGray, x));
    }
    EXPECT_GT(difference / 9, 60);
}

}  // namespace
}  // namespace tovi::test
