// The gradient shades: conversions on the 0..240 hue-luminance-saturation
// scale, worked out by hand, and the button-face shortcut.

#include <gtest/gtest.h>

#include "platform/system_colors.h"
#include "ui/main/shade.h"

namespace tovi::ui {
namespace {

using platform::rgb;

struct HlsCase {
    ColorRef color;
    Hls hls;
};

class RgbToHls : public ::testing::TestWithParam<HlsCase> {};

TEST_P(RgbToHls, GivesTheDialogScaleValues)
{
    EXPECT_EQ(rgbToHls(GetParam().color), GetParam().hls);
}

INSTANTIATE_TEST_SUITE_P(Colors, RgbToHls,
                         ::testing::Values(HlsCase{rgb(255, 255, 255), {160, 240, 0}},  // a gray has hue 160
                                           HlsCase{rgb(0, 0, 0), {160, 0, 0}},
                                           HlsCase{rgb(171, 171, 171), {160, 161, 0}},
                                           HlsCase{rgb(255, 0, 0), {0, 120, 240}},
                                           HlsCase{rgb(0, 255, 0), {80, 120, 240}},
                                           HlsCase{rgb(0, 0, 255), {160, 120, 240}},
                                           // S = 144.5 rounds to the even 144; H = 13.33.
                                           HlsCase{rgb(128, 64, 32), {13, 76, 144}},
                                           // A hue below 0 wraps: magenta-red.
                                           HlsCase{rgb(255, 0, 64), {230, 120, 240}}));

TEST(HlsToRgb, RoundsEachStepAsTheDialogScaleDoes)
{
    // m2 = 122.1, m1 = 29.9: red 122 -> 130.125, green 60.365 -> 60 -> 64.25, blue 30 -> 32.375.
    EXPECT_EQ(hlsToRgb({13, 76, 144}), rgb(130, 64, 32));
    EXPECT_EQ(hlsToRgb({160, 161, 0}), rgb(171, 171, 171));
    EXPECT_EQ(hlsToRgb({0, 120, 240}), rgb(255, 0, 0));
    EXPECT_EQ(hlsToRgb({80, 120, 240}), rgb(0, 255, 0));
    EXPECT_EQ(hlsToRgb({160, 240, 0}), rgb(255, 255, 255));
}

TEST(GradientShades, GrayBaseGoesNineteenUpAndFiftyDown)
{
    // L 161: light 180 -> 191.25, dark 111 -> 117.9.
    EXPECT_EQ(shiftLuminance(rgb(171, 171, 171), kLightShift), rgb(191, 191, 191));
    EXPECT_EQ(shiftLuminance(rgb(171, 171, 171), kDarkShift), rgb(118, 118, 118));
}

TEST(GradientShades, StronglySaturatedBaseTurnsDarkForItsLightShade)
{
    // Pure red has S 240 > 220: L 120 - 19 = 101; m2 = 202.5 -> 202 -> 215.125.
    EXPECT_EQ(shiftLuminance(rgb(255, 0, 0), kLightShift), rgb(215, 0, 0));
    // A dark shade is darker whatever the saturation.
    const ColorRef dark = shiftLuminance(rgb(255, 0, 0), kDarkShift);
    EXPECT_LT(platform::redOf(dark), 215u);
}

TEST(GradientShades, LuminanceHeldInsideItsRange)
{
    EXPECT_EQ(shiftLuminance(rgb(255, 255, 255), kLightShift), rgb(255, 255, 255));
    EXPECT_EQ(shiftLuminance(rgb(10, 10, 10), kDarkShift), rgb(0, 0, 0));
    // L 233 + 19 leaves the range upwards; it ends white.
    EXPECT_EQ(shiftLuminance(rgb(250, 250, 245), kLightShift), rgb(255, 255, 255));
}

TEST(GradientShades, ButtonFaceTakesHighlightAndShadowDirectly)
{
    platform::resetSysColors();
    platform::setSysColor(platform::kColorBtnFace, rgb(200, 200, 200));
    platform::setSysColor(platform::kColorBtnHighlight, rgb(1, 2, 3));
    platform::setSysColor(platform::kColorBtnShadow, rgb(4, 5, 6));
    const ColorRef buttonFace = platform::systemColorValue(platform::kColorBtnFace);
    EXPECT_EQ(gradientLightShade(buttonFace), rgb(1, 2, 3));
    EXPECT_EQ(gradientDarkShade(buttonFace), rgb(4, 5, 6));
    // The same colour given as a plain value goes through the conversion.
    EXPECT_EQ(gradientLightShade(rgb(200, 200, 200)), shiftLuminance(rgb(200, 200, 200), kLightShift));
    platform::resetSysColors();
}

TEST(GradientShades, SystemColourBaseIsResolvedFirst)
{
    platform::resetSysColors();
    platform::setSysColor(platform::kColorAppWorkspace, rgb(171, 171, 171));
    const ColorRef workspace = platform::systemColorValue(platform::kColorAppWorkspace);
    EXPECT_EQ(gradientLightShade(workspace), rgb(191, 191, 191));
    EXPECT_EQ(gradientDarkShade(workspace), rgb(118, 118, 118));
    platform::resetSysColors();
}

}  // namespace
}  // namespace tovi::ui
