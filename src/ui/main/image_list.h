#pragma once
// ImageList1: the glyphs of the main window's actions, 16 by 16 pixels on a
// transparent background, drawn in code for this program. Each mode's glyph
// sits at the index its row of the mode table names, which is how the run
// button shows the current mode.

#include <QIcon>
#include <QImage>
#include <QVector>

#include "process/color_modes.h"

namespace tovi::ui {

class TImageList {
public:
    static constexpr int kGlyphSize = 16;

    // Glyph indexes that actions show.
    static constexpr int kOpenFolder = 7;
    static constexpr int kFloppyDisk = 8;
    static constexpr int kEyedropper = 15;
    static constexpr int kCopy = 16;
    static constexpr int kPaste = 17;
    static constexpr int kHelpBook = 18;
    static constexpr int kModeSwap = process::findMode(process::kModeSwap)->glyph;
    static constexpr int kModeInvert = process::findMode(process::kModeInvert)->glyph;
    static constexpr int kModeGray = process::findMode(process::kModeGray)->glyph;
    static constexpr int kModeInvertGray = process::findMode(process::kModeInvertGray)->glyph;

    // Every index up to the last glyph can be looked up.
    static constexpr int kCount = (process::largestModeGlyph() > kHelpBook ? process::largestModeGlyph() : kHelpBook) + 1;

    TImageList();

    int count() const { return int(m_glyphs.size()); }
    // An empty image or icon for an index outside the list.
    QImage image(int index) const;
    QIcon icon(int index) const;

private:
    QVector<QImage> m_glyphs;
    QVector<QIcon> m_icons;
};

// The program's window icon: the swap glyph's two squares, at 16 and 32 pixels.
QIcon applicationIcon();

}  // namespace tovi::ui
