#include "ui/about/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace tovi::ui {

namespace {

// The see-through colour, a colour the drawing doesn't use otherwise.
const QColor kKey(255, 0, 255);
const QColor kFrame(128, 128, 128);
const QColor kArrow(30, 100, 220);
constexpr int kColorCount = 256;

// The drawing's colours first, then a gray ramp to fill the table.
QList<QRgb> colorTable()
{
    QList<QRgb> table = {kKey.rgb(), qRgb(0, 0, 0), qRgb(255, 255, 255), kFrame.rgb(), kArrow.rgb()};
    const int used = int(table.size());
    for (int i = used; i < kColorCount; ++i) {
        const int level = (i - used) * 255 / (kColorCount - used - 1);
        table.push_back(qRgb(level, level, level));
    }
    return table;
}

// The left half: the picture's white half with a black half disc over a
// black hill, and the left half of the arrow.
void drawLeftHalf(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    painter.fillRect(3, 3, 21, 30, Qt::white);
    painter.setBrush(Qt::black);
    painter.drawPie(QRect(18, 9, 12, 12), 90 * 16, 180 * 16);
    QPainterPath hill;
    hill.moveTo(3, 33);
    hill.lineTo(3, 27);
    hill.quadTo(12, 21, 24, 24);
    hill.lineTo(24, 33);
    hill.closeSubpath();
    painter.fillPath(hill, Qt::black);

    painter.setBrush(kArrow);
    painter.drawRect(12, 39, 12, 3);
    painter.drawPolygon(QPolygon({QPoint(5, 40), QPoint(14, 35), QPoint(14, 46)}));
}

// The right half mirrors the left one; inside the picture black and white
// change places, which is the program's whole idea.
void mirrorRightHalf(QImage &canvas)
{
    const QRect picture(3, 3, 42, 30);
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = canvas.width() / 2; x < canvas.width(); ++x) {
            QRgb c = canvas.pixel(canvas.width() - 1 - x, y);
            if (picture.contains(x, y) && (c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255)))
                c ^= 0x00FFFFFF;
            canvas.setPixel(x, y, c);
        }
    }
}

void drawFrame(QPainter &painter)
{
    for (const QRect &edge : {QRect(3, 3, 42, 2), QRect(3, 31, 42, 2), QRect(3, 3, 2, 30), QRect(43, 3, 2, 30)})
        painter.fillRect(edge, kFrame);
}

}  // namespace

QImage programIconImage()
{
    QImage canvas(kProgramIconSize, kProgramIconSize, QImage::Format_RGB32);
    canvas.fill(kKey);
    // Whole pixels only: every pixel one of the table's colours.
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing, false);
        drawLeftHalf(painter);
    }
    mirrorRightHalf(canvas);
    {
        QPainter painter(&canvas);
        drawFrame(painter);
    }
    return canvas.convertToFormat(QImage::Format_Indexed8, colorTable(), Qt::ThresholdDither | Qt::AvoidDither);
}

QPixmap transparentIcon(const QImage &image)
{
    if (image.isNull())
        return {};
    const QRgb key = image.pixel(0, image.height() - 1);
    QImage shown = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < shown.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            if ((row[x] | 0xFF000000u) == (key | 0xFF000000u))
                row[x] = 0;
        }
    }
    return QPixmap::fromImage(shown);
}

}  // namespace tovi::ui
