#pragma once
// The bridge between colour values (0x00BBGGRR, system colours allowed) and
// Qt's colours, and the system-colour table filled from the application's
// palette.

#include <QColor>
#include <QPalette>

#include "platform/raster.h"

namespace tovi::ui {

// A colour value as a Qt colour; system colours resolved first.
QColor toQColor(platform::ColorRef value);
// The current colour of a system colour (platform::kColor...), resolved when
// asked, so a change of the table shows at the next paint.
QColor sysQColor(int index);
platform::ColorRef fromQColor(const QColor &color);

// Fills the system colours that the windows use from the palette: button
// face, highlight, shadow and text, window text, application workspace (the
// palette's dark role, which Qt's own workspaces are painted with), tooltip
// text and background.
void loadSystemColors(const QPalette &palette);

}  // namespace tovi::ui
