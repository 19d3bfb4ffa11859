#include "ui/main/image_list.h"

#include "ui/about/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <functional>

namespace tovi::ui {

namespace {

using Painter = std::function<void(QPainter &)>;

QImage drawGlyph(int size, const Painter &paint)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (paint) {
        QPainter p(&image);
        paint(p);
    }
    return image;
}

const QColor kOutline(64, 64, 64);
const QColor kFrameGrey(128, 128, 128);

void openFolder(QPainter &p)
{
    p.setPen(QColor(128, 96, 0));
    p.setBrush(QColor(230, 180, 40));
    p.drawPolygon(QPolygon({{1, 3}, {5, 3}, {6, 5}, {12, 5}, {12, 13}, {1, 13}}));
    // The open flap, tipped forward.
    p.setBrush(QColor(255, 220, 90));
    p.drawPolygon(QPolygon({{3, 7}, {15, 7}, {12, 13}, {1, 13}}));
}

void floppyDisk(QPainter &p)
{
    p.setPen(QColor(0, 0, 64));
    p.setBrush(QColor(40, 60, 150));
    p.drawPolygon(QPolygon({{1, 1}, {13, 1}, {14, 2}, {14, 14}, {1, 14}}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 230, 230));
    p.drawRect(3, 2, 9, 5);  // label
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(4, 9, 8, 5);  // shutter
    p.setBrush(QColor(40, 60, 150));
    p.drawRect(9, 10, 2, 3);
}

void eyedropper(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    // The rubber bulb at the top right.
    p.setPen(QPen(QColor(90, 0, 0), 1));
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QRectF(10, 0.5, 5, 5));
    // The glass tube down to the bottom left, holding some of the drop.
    QPen tube(QColor(60, 60, 60), 3.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(tube);
    p.drawLine(QPointF(10.5, 5.5), QPointF(4, 12));
    p.setPen(QPen(QColor(200, 230, 255), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 6), QPointF(6.5, 9.5));
    p.setPen(QPen(QColor(30, 90, 220), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6.5, 9.5), QPointF(4.5, 11.5));
    // The drop being drawn up at the tip.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 220));
    QPainterPath drop;
    drop.moveTo(2.5, 12);
    drop.cubicTo(4.5, 14.5, 3.5, 16, 2.5, 16);
    drop.cubicTo(1.5, 16, 0.5, 14.5, 2.5, 12);
    p.drawPath(drop);
}

void document(QPainter &p, int x, int y, int w, int h)
{
    p.setPen(kOutline);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygon({{x, y}, {x + w - 3, y}, {x + w, y + 3}, {x + w, y + h}, {x, y + h}}));
    p.setPen(QColor(150, 150, 170));
    for (int line = y + 3; line < y + h - 1; line += 2)
        p.drawLine(x + 2, line, x + w - 2, line);
}

void twoDocuments(QPainter &p)
{
    document(p, 1, 1, 8, 10);
    document(p, 6, 5, 8, 10);
}

void documentOnClipboard(QPainter &p)
{
    p.setPen(QColor(90, 50, 10));
    p.setBrush(QColor(170, 110, 50));
    p.drawRect(1, 2, 11, 13);
    p.setBrush(QColor(200, 200, 200));
    p.setPen(kOutline);
    p.drawRect(4, 1, 5, 2);  // the clip
    document(p, 6, 5, 8, 10);
}

void helpBook(QPainter &p)
{
    p.setPen(QColor(0, 60, 0));
    p.setBrush(QColor(250, 250, 240));
    p.drawPolygon(QPolygon({{0, 3}, {7, 4}, {7, 14}, {0, 13}}));
    p.drawPolygon(QPolygon({{8, 4}, {15, 3}, {15, 13}, {8, 14}}));
    p.setPen(QColor(0, 110, 0));
    p.drawLine(7, 4, 7, 14);
    p.drawLine(8, 4, 8, 14);
    p.setPen(QColor(120, 140, 120));
    for (int y = 6; y < 13; y += 2) {
        p.drawLine(2, y, 5, y + 0);
        p.drawLine(10, y, 13, y);
    }
}

void swapSquares(QPainter &p, int size)
{
    // Two squares, each a little over half the glyph, overlapping in the middle.
    const int side = size * 10 / 16;
    const int offset = size - side;
    p.setPen(kFrameGrey);
    p.setBrush(Qt::white);
    p.drawRect(0, 0, side - 1, side - 1);
    p.setBrush(Qt::black);
    p.drawRect(offset, offset, side - 1, side - 1);
}

// The invert and grayscale modes' glyphs: a band of bright colours whose lower right part
// shows the operation's result, and a grey arrow at the left pointing down
// from the original colours to the result.
enum class BandLower { Inverted, Gray, InvertedGray };

// Bright colours (one channel full) whose grey tones climb from dark at the
// left to light at the right, so that the grey result is a rising ramp and
// the inverted grey one a falling ramp: the two glyphs read apart at a glance.
QColor bandColor(int column)
{
    static const std::array<QColor, 9> colors = {
        QColor(0, 0, 255),     QColor(255, 0, 45),    QColor(255, 100, 0),
        QColor(255, 153, 0),   QColor(0, 255, 210),   QColor(255, 255, 10),
        QColor(150, 255, 165), QColor(255, 200, 175), QColor(255, 255, 180)};
    return colors[std::size_t(column) % colors.size()];
}

QColor lowerColor(const QColor &c, BandLower lower)
{
    const int gray = (c.red() + c.green() + c.blue()) / 3;
    switch (lower) {
    case BandLower::Inverted:
        return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
    case BandLower::Gray:
        return QColor(gray, gray, gray);
    case BandLower::InvertedGray:
        return QColor(255 - gray, 255 - gray, 255 - gray);
    }
    return c;
}

void colorBand(QPainter &p, BandLower lower)
{
    constexpr int kLeft = 6;
    constexpr int kSplit = 8;  // first row of the result
    for (int x = kLeft; x < 15; ++x) {
        const QColor c = bandColor(x - kLeft);
        p.fillRect(x, 1, 1, kSplit - 1, c);
        p.fillRect(x, kSplit, 1, 15 - kSplit, lowerColor(c, lower));
    }
    p.setPen(kFrameGrey);
    p.setBrush(Qt::NoBrush);
    p.drawRect(kLeft - 1, 0, 16 - kLeft, 15);
    // The arrow: a shaft and a head pointing down.
    p.setPen(Qt::NoPen);
    p.setBrush(kFrameGrey);
    p.drawRect(1, 2, 2, 7);
    p.drawPolygon(QPolygon({{-1, 9}, {5, 9}, {2, 13}}));
}

// The glyph of a mode, by its code.
Painter modeGlyph(int code)
{
    switch (code) {
    case process::kModeSwap:
        return [](QPainter &p) { swapSquares(p, TImageList::kGlyphSize); };
    case process::kModeInvert:
        return [](QPainter &p) { colorBand(p, BandLower::Inverted); };
    case process::kModeGray:
        return [](QPainter &p) { colorBand(p, BandLower::Gray); };
    case process::kModeInvertGray:
        return [](QPainter &p) { colorBand(p, BandLower::InvertedGray); };
    }
    return nullptr;
}

}  // namespace

TImageList::TImageList()
{
    std::array<Painter, kCount> painters{};
    painters[kOpenFolder] = openFolder;
    painters[kFloppyDisk] = floppyDisk;
    painters[kEyedropper] = eyedropper;
    painters[kCopy] = twoDocuments;
    painters[kPaste] = documentOnClipboard;
    painters[kHelpBook] = helpBook;
    for (const process::ModeInfo &mode : process::kModes)
        painters[std::size_t(mode.glyph)] = modeGlyph(mode.code);
    // The other indexes are held, transparent, so that every index up to the
    // last glyph can be looked up.
    for (const Painter &paint : painters) {
        m_glyphs.push_back(drawGlyph(kGlyphSize, paint));
        m_icons.push_back(QIcon(QPixmap::fromImage(m_glyphs.back())));
    }
}

QImage TImageList::image(int index) const
{
    return index >= 0 && index < count() ? m_glyphs[index] : QImage();
}

QIcon TImageList::icon(int index) const
{
    return index >= 0 && index < count() ? m_icons[index] : QIcon();
}

// The program's icon, the drawing of the about box and the desktop entry.
QIcon applicationIcon()
{
    const QPixmap full = transparentIcon(programIconImage());
    QIcon icon(full);
    for (int size : {16, 32})
        icon.addPixmap(full.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return icon;
}

}  // namespace tovi::ui
