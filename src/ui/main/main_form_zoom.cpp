// Zooming the picture view: in and out in steps from 1/8 to 32 times
// (Ctrl+wheel, Ctrl++ and Ctrl+-), back to the natural size (Ctrl+0) and
// "fit to window", which shrinks a picture larger than the view. Every start
// and every opened or pasted picture shows at 100 %, exactly as without zoom.

#include <QApplication>
#include <QScrollBar>

#include <array>
#include <cmath>

#include "ui/help/help_requests.h"
#include "ui/main/main_form.h"

namespace tovi::ui {

namespace {

constexpr std::array<double, 9> kZoomSteps{1.0 / 8, 1.0 / 4, 1.0 / 2, 1, 2, 4, 8, 16, 32};
// The picture's margin at the view's top left, and the shadow at its right
// and bottom: a fitted picture shows both.
constexpr int kViewMargin = 5;
constexpr int kShadowOffset = 5;

QKeySequence keypad(Qt::Key key)
{
    return QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, key));
}

}  // namespace

void TMainForm::createZoomActions()
{
    const QString category = QStringLiteral("表示");
    constexpr int kNoGlyph = -1;
    ViewZoomIn = newAction("ViewZoomIn", category, "拡大(&I)", kNoGlyph, help::kHelpContextZoom,
                           "拡大|画像を拡大して表示する (Ctrl+ホイール)", [this] { zoomBy(1); });
    ViewZoomOut = newAction("ViewZoomOut", category, "縮小(&O)", kNoGlyph, help::kHelpContextZoom,
                            "縮小|画像を縮小して表示する (Ctrl+ホイール)", [this] { zoomBy(-1); });
    ViewActualSize = newAction("ViewActualSize", category, "実際のサイズ(&A)", kNoGlyph, help::kHelpContextZoom,
                               "実際のサイズ|画像を 100% で表示する", [this] { setZoom(1); });
    ViewFitToWindow = newAction("ViewFitToWindow", category, "ウィンドウに合わせる(&W)", kNoGlyph,
                                help::kHelpContextZoom, "ウィンドウに合わせる|大きな画像をウィンドウに収まるように縮小して表示する",
                                [this] { setZoom(fitZoom()); });
    ViewZoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal),
                              keypad(Qt::Key_Plus)});
    ViewZoomOut->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Minus),
                               keypad(Qt::Key_Minus)});
    ViewActualSize->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_0),
                                  keypad(Qt::Key_0)});
    for (TAction *action : {ViewZoomIn, ViewZoomOut, ViewActualSize, ViewFitToWindow}) {
        action->setEnabled(false);
        action->onUpdate = [this, action] { action->setEnabled(pictureShown()); };
    }
}

double TMainForm::zoom() const
{
    return Image1->scale();
}

double TMainForm::fitZoom() const
{
    const picture::Bitmap *bitmap = Image1->bitmap();
    if (!bitmap || bitmap->width() == 0 || bitmap->height() == 0)
        return 1;
    const QSize room = ScrollBox1->maximumViewportSize() - QSize(kViewMargin + kShadowOffset, kViewMargin + kShadowOffset);
    const double fit = std::min(double(room.width()) / bitmap->width(), double(room.height()) / bitmap->height());
    return fit >= 1 || fit <= 0 ? 1 : fit;
}

void TMainForm::zoomBy(int steps, std::optional<QPoint> anchor)
{
    double next = zoom();
    for (; steps > 0; --steps) {
        const auto up = std::upper_bound(kZoomSteps.begin(), kZoomSteps.end(), next * (1 + 1e-9));
        if (up != kZoomSteps.end())
            next = *up;
    }
    for (; steps < 0; ++steps) {
        const auto down = std::lower_bound(kZoomSteps.begin(), kZoomSteps.end(), next * (1 - 1e-9));
        if (down != kZoomSteps.begin())
            next = *(down - 1);
    }
    setZoom(next, anchor);
}

void TMainForm::setZoom(double zoom, std::optional<QPoint> anchor)
{
    const double old = Image1->scale();
    if (zoom == old || zoom <= 0)
        return;
    QScrollBar *horizontal = ScrollBox1->horizontalScrollBar();
    QScrollBar *vertical = ScrollBox1->verticalScrollBar();
    const QPoint at = anchor.value_or(ScrollBox1->viewport()->rect().center());
    // The picture point under the anchor, in picture pixels.
    const QPointF point = QPointF(at + QPoint(horizontal->value(), vertical->value()) - Image1->pos()) / old;
    Image1->setScale(zoom);
    // The scroll range follows the new size before the view is moved back
    // under the anchor.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QPointF place = QPointF(Image1->pos()) + point * zoom - QPointF(at);
    horizontal->setValue(int(std::lround(place.x())));
    vertical->setValue(int(std::lround(place.y())));
    PaintBox1->update();
    updateSettingsLabel();
}

}  // namespace tovi::ui
