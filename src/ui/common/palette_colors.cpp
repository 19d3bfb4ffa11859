#include "ui/common/palette_colors.h"

#include "platform/system_colors.h"

namespace tovi::ui {

using namespace platform;

QColor toQColor(ColorRef value)
{
    const ColorRef c = resolveColor(value);
    return QColor(int(redOf(c)), int(greenOf(c)), int(blueOf(c)));
}

QColor sysQColor(int index)
{
    return toQColor(systemColorValue(index));
}

ColorRef fromQColor(const QColor &color)
{
    const QColor rgbColor = color.toRgb();
    return rgb(unsigned(rgbColor.red()), unsigned(rgbColor.green()), unsigned(rgbColor.blue()));
}

void loadSystemColors(const QPalette &palette)
{
    const auto take = [&](int index, QPalette::ColorRole role) {
        setSysColor(index, fromQColor(palette.color(QPalette::Active, role)));
    };
    take(kColorBtnFace, QPalette::Button);
    take(kColorBtnHighlight, QPalette::Light);
    take(kColorBtnShadow, QPalette::Dark);
    take(kColorBtnText, QPalette::ButtonText);
    take(kColorWindowText, QPalette::WindowText);
    take(kColorAppWorkspace, QPalette::Dark);
    take(kColorInfoText, QPalette::ToolTipText);
    take(kColorInfoBk, QPalette::ToolTipBase);
}

}  // namespace tovi::ui
