#include "ui/main/controls.h"

#include <QAbstractEventDispatcher>
#include <QActionEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "platform/pixel_codec.h"
#include "platform/system_colors.h"
#include "ui/main/application.h"
#include "ui/main/image_list.h"
#include "ui/common/palette_colors.h"

namespace tovi::ui {

using platform::ColorRef;

namespace {

// How strongly a checked tool button is tinted with the selection colour.
constexpr int kCheckedTintAlpha = 90;

}  // namespace

QString shortHint(const QString &hint)
{
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QString longHint(const QString &hint)
{
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

// ---------------------------------------------------------------------------

TAction::TAction(const QString &name, const TImageList *images, QObject *parent)
    : QAction(parent), m_images(images)
{
    setObjectName(name);
}

void TAction::setImageIndex(int index)
{
    m_imageIndex = index;
    setIcon(m_images ? m_images->icon(index) : QIcon());
}

void TAction::setHint(const QString &hint)
{
    m_hint = hint;
    setToolTip(shortHint(hint));
    setStatusTip(longHint(hint));
}

TActionList::TActionList(QObject *parent) : QObject(parent)
{
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TActionList::updateAll);
}

void TActionList::add(TAction *action)
{
    m_actions.append(action);
    connect(action, &QAction::triggered, this, [this, action] { execute(action); });
}

void TActionList::updateAction(TAction *action)
{
    const bool handled = onUpdate && onUpdate(action);
    if (!handled && action->onUpdate)
        action->onUpdate();
}

void TActionList::updateAll()
{
    // Changing an action's state can post events and so bring the loop back
    // here; one pass at a time is enough.
    if (m_updating)
        return;
    m_updating = true;
    for (TAction *action : std::as_const(m_actions))
        runGuarded([&] { updateAction(action); });
    m_updating = false;
}

void TActionList::execute(TAction *action)
{
    runGuarded([&] {
        updateAction(action);
        if (action->isEnabled() && action->onExecute)
            action->onExecute();
    });
}

// ---------------------------------------------------------------------------

TToolButton::TToolButton(QWidget *parent) : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(TImageList::kGlyphSize, TImageList::kGlyphSize));
}

void TToolButton::setAction(TAction *action)
{
    setDefaultAction(action);
    applyHint();
}

void TToolButton::setOwnHint(const QString &hint)
{
    m_ownHint = hint;
    m_hasOwnHint = true;
    applyHint();
}

QString TToolButton::currentHint() const
{
    if (m_hasOwnHint)
        return m_ownHint;
    const auto *action = dynamic_cast<const TAction *>(defaultAction());
    return action ? action->hint() : QString();
}

void TToolButton::actionEvent(QActionEvent *event)
{
    QToolButton::actionEvent(event);
    // The button takes tooltip and status text from its action on every
    // change; put the halves of the hint that applies back.
    if (event->type() == QEvent::ActionChanged && event->action() == defaultAction())
        applyHint();
}

void TToolButton::paintEvent(QPaintEvent *event)
{
    if (!isChecked()) {
        QToolButton::paintEvent(event);
        return;
    }
    // A checked button (a pick command while picking) is pushed in and
    // tinted, with its glyph moved down and right by a pixel, so that the
    // on state shows plainly on the tool bar's gradient.
    QPainter p(this);
    const QRect r = rect();
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(kCheckedTintAlpha);
    p.fillRect(r.adjusted(1, 1, -1, -1), toQColor(platform::systemColorValue(platform::kColorBtnHighlight)));
    p.fillRect(r.adjusted(1, 1, -1, -1), tint);
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnShadow)));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnHighlight)));
    p.drawLine(r.bottomLeft() + QPoint(1, 0), r.bottomRight());
    p.drawLine(r.topRight() + QPoint(0, 1), r.bottomRight());
    const QPixmap glyph = icon().pixmap(iconSize(), isEnabled() ? QIcon::Normal : QIcon::Disabled, QIcon::On);
    QRect place(QPoint(0, 0), iconSize());
    place.moveCenter(r.center());
    p.drawPixmap(place.topLeft() + QPoint(1, 1), glyph);
}

void TToolButton::applyHint()
{
    const QString hint = currentHint();
    setToolTip(shortHint(hint));
    setStatusTip(longHint(hint));
}

TToolSeparator::TToolSeparator(QWidget *parent) : QWidget(parent)
{
    setFixedWidth(8);
}

void TToolSeparator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int x = width() / 2 - 1;
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnShadow)));
    p.drawLine(x, 2, x, height() - 3);
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnHighlight)));
    p.drawLine(x + 1, 2, x + 1, height() - 3);
}

TToolBar::TToolBar(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TToolBar::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    if (onCustomDraw)
        onCustomDraw(p, event->rect());
}

void TToolBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The gradient is stretched over the new size, not extended piecemeal.
    update();
}

// ---------------------------------------------------------------------------

TColorPanel::TColorPanel(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TColorPanel::setColor(ColorRef color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TColorPanel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(contentsRect(), toQColor(m_color));
    // The lowered bevel: shadow along the top and left, highlight along the
    // bottom and right.
    const QRect r = rect();
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnShadow)));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnHighlight)));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

void TColorPanel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TColorPanel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click && onClick)
        onClick();
}

TStaticText::TStaticText(QWidget *parent) : QLabel(parent)
{
    setAutoFillBackground(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TStaticText::setLook(const QString &text, const QColor &background, const QColor &foreground)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, foreground);
    setPalette(pal);
    setText(text);
    // The width follows the text.
    resize(fontMetrics().horizontalAdvance(text) + 2 * margin() + 4, height());
    if (onResize)
        onResize();
}

TColorBar::TColorBar(QWidget *parent) : QWidget(parent) {}

void TColorBar::layoutDocked()
{
    if (dockedRight)
        dockedRight->setGeometry(width() - dockedRight->width(), 0, dockedRight->width(), height() - 2);
}

void TColorBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), toQColor(platform::systemColorValue(platform::kColorBtnFace)));
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnShadow)));
    p.drawLine(0, height() - 2, width() - 1, height() - 2);
    p.setPen(toQColor(platform::systemColorValue(platform::kColorBtnHighlight)));
    p.drawLine(0, height() - 1, width() - 1, height() - 1);
}

void TColorBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutDocked();
}

// ---------------------------------------------------------------------------

TPaintBox::TPaintBox(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    if (onPaint)
        onPaint(p, event->rect());
}

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_picture.setOnChange([this] { pictureChanged(); });
}

const picture::Bitmap *TImage::bitmap() const
{
    auto *graphic = dynamic_cast<const picture::BitmapGraphic *>(m_picture.graphic());
    return graphic ? &const_cast<picture::BitmapGraphic *>(graphic)->bitmap() : nullptr;
}

void TImage::pictureChanged()
{
    m_tiles.clear();
    const picture::Bitmap *bmp = bitmap();
    const QSize size = bmp ? QSize(bmp->width(), bmp->height()) : QSize();
    m_tileColumns = (size.width() + kTileSize - 1) / kTileSize;
    m_tiles.resize(std::size_t(m_tileColumns) * std::size_t((size.height() + kTileSize - 1) / kTileSize));
    if (scaledSize() != this->size())
        resize(scaledSize());
    if (onLayoutChange)
        onLayoutChange();
    update();
}

QSize TImage::scaledSize() const
{
    const picture::Bitmap *bmp = bitmap();
    const QSize size = bmp ? QSize(bmp->width(), bmp->height()) : QSize();
    if (m_scale == 1.0 || size.isEmpty())
        return size;
    return QSize(std::max(1, int(std::lround(size.width() * m_scale))),
                 std::max(1, int(std::lround(size.height() * m_scale))));
}

void TImage::setScale(double scale)
{
    if (scale == m_scale)
        return;
    m_scale = scale;
    if (scaledSize() != size())
        resize(scaledSize());
    if (onLayoutChange)
        onLayoutChange();
    update();
}

int TImage::sourceIndex(int screen, int pictureSize) const
{
    // The picture pixel under the screen pixel's centre.
    const auto index = int(std::floor((screen + 0.5) / m_scale));
    return std::clamp(index, 0, pictureSize - 1);
}

QPoint TImage::pictureAt(const QPoint &pos) const
{
    if (m_scale == 1.0)
        return pos;
    const picture::Bitmap *bmp = bitmap();
    if (!bmp)
        return pos;
    // Inside the control every point shows a pixel (the last row and column
    // may be cut short by the rounded size); outside it lies beyond them.
    const auto map = [&](int screen, int extent, int pictureSize) {
        if (screen < 0)
            return -1;
        if (screen >= extent)
            return pictureSize;
        return sourceIndex(screen, pictureSize);
    };
    return QPoint(map(pos.x(), width(), bmp->width()), map(pos.y(), height(), bmp->height()));
}

void TImage::paintScaled(QPainter &painter, const QRect &exposed)
{
    const picture::Bitmap *bmp = bitmap();
    const platform::Raster &source = *bmp->raster();
    QImage shown(exposed.size(), QImage::Format_RGB32);
    std::vector<int> columns(std::size_t(exposed.width()));
    for (int x = 0; x < exposed.width(); ++x)
        columns[std::size_t(x)] = sourceIndex(exposed.left() + x, source.width());
    // Zoomed in, the few pixels in view come from the display tiles; zoomed
    // out, they are read straight from the picture, so that a large picture
    // seen whole is never converted as a whole.
    const platform::PixelDecoder decoder(source, bmp->brushColor(), bmp->textColor());
    for (int y = 0; y < exposed.height(); ++y) {
        const int sy = sourceIndex(exposed.top() + y, source.height());
        auto *out = reinterpret_cast<std::uint32_t *>(shown.scanLine(y));
        if (m_scale >= 1.0) {
            const int row = sy / kTileSize;
            const int tileY = sy % kTileSize;
            for (int x = 0; x < exposed.width(); ++x) {
                const int sx = columns[std::size_t(x)];
                const QImage &t = tile(sx / kTileSize, row);
                out[x] = reinterpret_cast<const std::uint32_t *>(t.constScanLine(tileY))[sx % kTileSize];
            }
        } else {
            const std::uint8_t *line = source.scanLine(sy);
            for (int x = 0; x < exposed.width(); ++x) {
                decoder.decode(line, columns[std::size_t(x)], 1, out + x);
                out[x] |= 0xFF000000u;
            }
        }
    }
    painter.drawImage(exposed.topLeft(), shown);
}

int TImage::convertedTiles() const
{
    return int(std::count_if(m_tiles.begin(), m_tiles.end(), [](const QImage &t) { return !t.isNull(); }));
}

const QImage &TImage::tile(int column, int row)
{
    QImage &image = m_tiles[std::size_t(row) * std::size_t(m_tileColumns) + std::size_t(column)];
    if (!image.isNull())
        return image;
    const picture::Bitmap *bmp = bitmap();
    const platform::Raster &source = *bmp->raster();
    const int x0 = column * kTileSize, y0 = row * kTileSize;
    const int w = std::min(kTileSize, source.width() - x0), h = std::min(kTileSize, source.height() - y0);
    image = QImage(w, h, QImage::Format_RGB32);
    // The same decoding as drawing and pixel reading, into the display's
    // blue-green-red-unused layout; Qt takes a pixel as opaque only when the
    // unused byte is 0xFF.
    const platform::PixelDecoder decoder(source, bmp->brushColor(), bmp->textColor());
    for (int y = 0; y < h; ++y) {
        auto *out = reinterpret_cast<std::uint32_t *>(image.scanLine(y));
        decoder.decode(source.scanLine(y0 + y), x0, w, out);
        for (int x = 0; x < w; ++x)
            out[x] |= 0xFF000000u;
    }
    return image;
}

bool TImage::event(QEvent *event)
{
    const bool result = QWidget::event(event);
    if ((event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) && onLayoutChange)
        onLayoutChange();
    return result;
}

void TImage::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const picture::Bitmap *bmp = bitmap();
    const QRect exposed = event->rect() & rect();
    const platform::Raster *source = bmp ? bmp->raster() : nullptr;
    if (source && m_scale != 1.0 && !m_tiles.empty() && !exposed.isEmpty()) {
        paintScaled(p, exposed);
    } else if (source && source->width() == width() && source->height() == height() && !m_tiles.empty()) {
        for (int row = exposed.top() / kTileSize; row <= exposed.bottom() / kTileSize; ++row) {
            for (int column = exposed.left() / kTileSize; column <= exposed.right() / kTileSize; ++column) {
                const QRect bounds(column * kTileSize, row * kTileSize, kTileSize, kTileSize);
                const QRect part = bounds & exposed;
                p.drawImage(part.topLeft(), tile(column, row), part.translated(-bounds.topLeft()));
            }
        }
    }
    if (onPainted)
        onPainted();
}

void TImage::mousePressEvent(QMouseEvent *event)
{
    // Accepting every press keeps the release with this control, as a
    // captured mouse does.
    event->accept();
    if (onMouseDown)
        onMouseDown(event);
}

void TImage::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (onMouseMove)
        onMouseMove(event);
}

void TImage::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (onMouseUp)
        onMouseUp(event);
}

// ---------------------------------------------------------------------------

TScrollBox::TScrollBox(QWidget *parent) : QScrollArea(parent)
{
    m_paintBox = new TPaintBox(nullptr);
    m_image = new TImage(m_paintBox);
    m_image->hide();
    setWidgetResizable(true);
    setWidget(m_paintBox);
    m_paintBox->setAutoFillBackground(false);
    m_image->onLayoutChange = [this] {
        updateRange();
        m_paintBox->update();
    };
}

QSize TScrollBox::scrollRange() const
{
    if (m_image->isHidden())
        return QSize(0, 0);
    return QSize(m_image->x() + m_image->width(), m_image->y() + m_image->height());
}

void TScrollBox::updateRange()
{
    // The scroll area keeps the painter at least as large as the visible
    // part; the minimum size makes it reach the picture's edges.
    m_paintBox->setMinimumSize(scrollRange());
}

void TScrollBox::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    updateRange();
}

void TScrollBox::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier) || !onZoomWheel) {
        QScrollArea::wheelEvent(event);
        return;
    }
    event->accept();
    // One notch is one step; finer wheels add up to one.
    m_zoomWheel += event->angleDelta().y();
    const int steps = m_zoomWheel / QWheelEvent::DefaultDeltasPerStep;
    m_zoomWheel -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps != 0)
        onZoomWheel(steps, event->position().toPoint());
}

}  // namespace tovi::ui
