#include "ui/main/shade.h"

#include <algorithm>
#include <cmath>

#include "platform/system_colors.h"

namespace tovi::ui {

namespace {

constexpr double kHls = kHlsMax;
constexpr double kRgbMax = 255;

// Nearest integer, halves to the even one.
int roundEven(double v) { return int(std::nearbyint(v)); }

double wrapHue(double h)
{
    if (h < 0)
        h += kHls;
    if (h > kHls)
        h -= kHls;
    return h;
}

// One channel from the two magic values m1 and m2 and the hue.
double hueToChannel(double m1, double m2, double h)
{
    h = wrapHue(h);
    if (h < kHls / 6)
        return m1 + ((m2 - m1) * h + kHls / 12) / (kHls / 6);
    if (h < kHls / 2)
        return m2;
    if (h < kHls * 2 / 3)
        return m1 + ((m2 - m1) * (kHls * 2 / 3 - h) + kHls / 12) / (kHls / 6);
    return m1;
}

unsigned channelByte(double v)
{
    if (v > kRgbMax)
        return 255;
    return unsigned(std::max(0, roundEven(v)));
}

}  // namespace

Hls rgbToHls(ColorRef color)
{
    const double r = platform::redOf(color);
    const double g = platform::greenOf(color);
    const double b = platform::blueOf(color);
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});

    const double l = ((mx + mn) * kHls + kRgbMax) / (2 * kRgbMax);
    if (mx == mn)
        return {int(kHls * 2 / 3), roundEven(l), 0};

    const double d = mx - mn;
    const double sum = mx + mn;
    const double s = l <= kHls / 2 ? (d * kHls + sum / 2) / sum
                                   : (d * kHls + (2 * kRgbMax - sum) / 2) / (2 * kRgbMax - sum);
    const double rd = ((mx - r) * (kHls / 6) + d / 2) / d;
    const double gd = ((mx - g) * (kHls / 6) + d / 2) / d;
    const double bd = ((mx - b) * (kHls / 6) + d / 2) / d;
    double h;
    if (r == mx)
        h = bd - gd;
    else if (g == mx)
        h = kHls / 3 + rd - bd;
    else
        h = kHls * 2 / 3 + gd - rd;
    return {roundEven(wrapHue(h)), roundEven(l), roundEven(s)};
}

ColorRef hlsToRgb(const Hls &hls)
{
    const double l = hls.luminance;
    const double s = hls.saturation;
    if (hls.saturation == 0) {
        const unsigned v = channelByte(l * kRgbMax / kHls);
        return platform::rgb(v, v, v);
    }
    const double m2 = l <= kHls / 2 ? (l * (s + kHls) + kHls / 2) / kHls : l + s - (l * s + kHls / 2) / kHls;
    const double m1 = 2 * l - m2;
    const auto channel = [&](double h) {
        const double c = roundEven(hueToChannel(m1, m2, h));
        return channelByte((c * kRgbMax + kHls / 2) / kHls);
    };
    return platform::rgb(channel(hls.hue + kHls / 3), channel(hls.hue), channel(hls.hue - kHls / 3));
}

ColorRef shiftLuminance(ColorRef color, int shift)
{
    Hls hls = rgbToHls(color);
    // A light shade of a strongly saturated colour would wash it out to white;
    // it takes the darker side instead.
    if (shift > 0 && hls.saturation > 220)
        shift = -shift;
    hls.luminance = std::clamp(hls.luminance + shift, 0, kHlsMax);
    return hlsToRgb(hls);
}

ColorRef gradientLightShade(ColorRef base)
{
    if (base == platform::systemColorValue(platform::kColorBtnFace))
        return platform::sysColor(platform::kColorBtnHighlight);
    return shiftLuminance(platform::resolveColor(base), kLightShift);
}

ColorRef gradientDarkShade(ColorRef base)
{
    if (base == platform::systemColorValue(platform::kColorBtnFace))
        return platform::sysColor(platform::kColorBtnShadow);
    return shiftLuminance(platform::resolveColor(base), kDarkShift);
}

}  // namespace tovi::ui
