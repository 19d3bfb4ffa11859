#pragma once
// The system colours as Qt colours, resolved when asked.

#include <QColor>

#include "platform/system_colors.h"

namespace tovi::ui {

inline QColor toQColor(platform::ColorRef color)
{
    return QColor(int(platform::redOf(color)), int(platform::greenOf(color)), int(platform::blueOf(color)));
}

inline QColor sysQColor(int index)
{
    return toQColor(platform::sysColor(index));
}

}  // namespace tovi::ui
