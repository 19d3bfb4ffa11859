#include "ui/common/fade_form.h"

#include <algorithm>
#include <cstdint>

#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include "platform/gradient.h"
#include "platform/system_colors.h"
#include "ui/common/window_frames.h"
#include "ui/common/window_placement.h"

namespace tovi::ui {

using platform::sysColor;

FadeForm::FadeForm(QWidget *mainWindow, const QSize &clientSize) : QDialog(mainWindow), Timer1(new QTimer(this))
{
    setFixedSize(clientSize);
    Timer1->setInterval(kTimerInterval);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &FadeForm::Timer1Timer);
    applyOpacity();
    keepNormalState(this);
}

void FadeForm::setVisible(bool visible)
{
    if (visible && !isVisible()) {
        if (!m_placed && parentWidget()) {
            // The window's own frame isn't there yet: the main window's, which
            // the same window manager drew, stands in for it until it is.
            placeOver(outerSizeLike(parentWidget(), size()));
            m_placed = true;
            whenFramed(this, [this](const QMargins &frame) { placeOver(size().grownBy(frame)); });
        }
        FormShow();
    } else if (!visible && isVisible()) {
        FormHide();
    }
    QDialog::setVisible(visible);
}

void FadeForm::placeOver(const QSize &outerSize)
{
    if (parentWidget())
        move(centredOver(parentWidget()->window()->frameGeometry(), outerSize));
}

void FadeForm::FormShow()
{
    Timer1->start();
}

void FadeForm::Timer1Timer()
{
    if (!FadingIn)
        return;
    if (m_opacity == kOpaque) {
        Timer1->stop();
        setAlphaBlend(false);
    } else {
        setOpacity(std::min(m_opacity + kFadeInStep, kOpaque));
    }
    // The window system may hold a new opacity back until the window's next
    // paint goes out (X11 does when no other event comes); paint now, so that
    // it shows at once.
    repaint();
}

void FadeForm::FormHide()
{
    FadingIn = false;
    Timer1->stop();
    setAlphaBlend(true);
    // Runs to its end here: no other event is handled meanwhile.
    while (m_opacity > 0) {
        setOpacity(std::max(m_opacity - kFadeOutStep, 0));
        repaint();
        QThread::msleep(kTimerInterval);
    }
}

void FadeForm::FormPaint()
{
    QImage background(size(), QImage::Format_RGB32);
    if (background.isNull())
        return;
    const int w = background.width();
    const int h = background.height();
    platform::gradientFillVertical(background.bits(), std::size_t(background.bytesPerLine()), w, h, 0, 0, w, h,
                                   sysColor(platform::kColorBtnHighlight), sysColor(platform::kColorBtnShadow));
    // The fill leaves the fourth byte 0; this format wants it 0xFF.
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<std::uint32_t *>(background.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] |= 0xFF000000u;
    }
    QPainter(this).drawImage(0, 0, background);
}

void FadeForm::paintEvent(QPaintEvent *)
{
    FormPaint();
}

void FadeForm::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape does nothing (a plain dialog would close).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FadeForm::setOpacity(int opacity)
{
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    applyOpacity();
    emit opacityChanged(m_opacity);
}

void FadeForm::setAlphaBlend(bool on)
{
    m_alphaBlend = on;
    applyOpacity();
}

void FadeForm::applyOpacity()
{
    setWindowOpacity(m_alphaBlend ? m_opacity / double(kOpaque) : 1.0);
}

}  // namespace tovi::ui
