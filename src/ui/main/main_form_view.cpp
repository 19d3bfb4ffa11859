// The picture view: format label, picture control, background and tool bar
// gradients with the picture's shadow, and colour picking with the mouse.

#include <QKeyEvent>
#include <QPainter>

#include "platform/gradient.h"
#include "platform/system_colors.h"
#include "ui/main/application.h"
#include "ui/main/main_form.h"
#include "ui/common/palette_colors.h"
#include "ui/main/shade.h"

namespace tovi::ui {

namespace {

constexpr int kShadowOffset = 5;

QColor systemQColor(int index)
{
    return toQColor(platform::systemColorValue(index));
}

}  // namespace

bool TMainForm::pictureShown() const
{
    return !Image1->isHidden();
}

QString TMainForm::PixelFormatName(picture::PixelFormat format)
{
    return QString::fromStdString(picture::pixelFormatName(format));
}

void TMainForm::ShowPicture()
{
    const QColor background = systemQColor(platform::kColorInfoBk);
    const QColor text = systemQColor(platform::kColorInfoText);
    // Taking the bitmap view turns an icon or metafile into an empty bitmap.
    const QString formatName = PixelFormatName(Image1->picture().bitmap().pixelFormat());
    StaticText1->setLook(formatName, background, text);
    // A new picture shows at its natural size.
    setZoom(1);
    Image1->show();
    PaintBox1->repaint();
}

void TMainForm::NoSupportGraphic()
{
    Image1->hide();
    setZoom(1);
    StaticText1->setLook(QStringLiteral("未サポートフォーマット"), systemQColor(platform::kColorBtnFace),
                         systemQColor(platform::kColorBtnText));
}

void TMainForm::DrawGradient(QPainter &canvas, const QRect &rect, ColorRef baseColor, const QRect &exposed)
{
    const ColorRef top = gradientLightShade(baseColor);
    const ColorRef bottom = gradientDarkShade(baseColor);
    const QRect area = exposed.isEmpty() ? rect : rect & exposed;
    const auto rowColor = [&](int y) { return platform::gradientRowColor(top, bottom, y - rect.top(), rect.height()); };
    // One fill per run of rows of the same colour.
    for (int y = area.top(); y <= area.bottom();) {
        const ColorRef color = rowColor(y);
        int end = y + 1;
        while (end <= area.bottom() && rowColor(end) == color)
            ++end;
        canvas.fillRect(QRect(area.left(), y, area.width(), end - y), toQColor(color));
        y = end;
    }
}

void TMainForm::PaintBox1Paint(QPainter &canvas, const QRect &exposed)
{
    DrawGradient(canvas, PaintBox1->rect(), platform::systemColorValue(platform::kColorAppWorkspace), exposed);
    if (pictureShown()) {
        // Placed relative to the picture, so it stays with it when scrolled.
        const QRect shadow = Image1->geometry().translated(kShadowOffset, kShadowOffset);
        canvas.fillRect(shadow & exposed, Qt::black);
    }
}

void TMainForm::ToolBar1CustomDraw(QPainter &canvas, const QRect &exposed)
{
    DrawGradient(canvas, ToolBar1->rect(), platform::systemColorValue(platform::kColorBtnFace), exposed);
}

TColorPanel *TMainForm::targetPanel() const
{
    return PickTarget == 1 ? ColorPanel2 : ColorPanel1;
}

void TMainForm::StartColorPick()
{
    Picking = true;
    PickDragging = false;
    Image1->setCursor(Qt::CrossCursor);
    PickSavedColor = targetPanel()->color();
}

void TMainForm::EndColorPick()
{
    Picking = false;
    PickDragging = false;
    Image1->unsetCursor();
}

void TMainForm::setTargetColor(ColorRef color)
{
    // Beyond the picture's edges there is no colour to read; the swatch keeps
    // the last colour read inside the picture.
    if (color == platform::kInvalidColor)
        return;
    targetPanel()->setColor(color);
}

void TMainForm::Image1MouseDown(Qt::MouseButton button, const QPoint &pos)
{
    if (!Picking || button != Qt::LeftButton)
        return;
    PickDragging = true;
    // The pixel shown under the pointer, at any zoom.
    const QPoint at = Image1->pictureAt(pos);
    if (const picture::Bitmap *bitmap = Image1->bitmap())
        setTargetColor(bitmap->pixel(at.x(), at.y()));
}

void TMainForm::Image1MouseMove(const QPoint &pos)
{
    if (!Picking || !PickDragging)
        return;
    // The pixel shown under the pointer, at any zoom.
    const QPoint at = Image1->pictureAt(pos);
    if (const picture::Bitmap *bitmap = Image1->bitmap())
        setTargetColor(bitmap->pixel(at.x(), at.y()));
}

void TMainForm::Image1MouseUp(Qt::MouseButton button, const QPoint &)
{
    if (!Picking)
        return;
    EndColorPick();
    if (button == Qt::RightButton)
        targetPanel()->setColor(PickSavedColor);
}

void TMainForm::keyPressEvent(QKeyEvent *event)
{
    // Escape takes picking back as releasing the right button does.
    if (event->key() == Qt::Key_Escape && Picking) {
        runGuarded([this] { Image1MouseUp(Qt::RightButton, QPoint()); });
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TMainForm::FormMouseUp(Qt::MouseButton)
{
    if (!Picking)
        return;
    EndColorPick();
    targetPanel()->setColor(PickSavedColor);
}

}  // namespace tovi::ui
