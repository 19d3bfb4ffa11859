#pragma once
// The base of the program's one-use windows (the batch result window and the
// about box): a fixed client size, the gradient background, the fade
// animation, centring over the main window when first shown, and no cancel
// button, so Escape does nothing.
//
// The fade animation: the window is created fully transparent; while it is on
// the screen `Timer1` raises its opacity by 10 every 10 ms up to 255, and the
// tick that finds 255 stops the timer and switches alpha blending off. When
// the window is being hidden it fades out in steps of 20, repainting and
// pausing 10 ms after each step, before it leaves the screen.

#include <QDialog>
#include <QSize>

class QTimer;

namespace tovi::ui {

class FadeForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTimerInterval = 10;  // ms, also the pause of a fade-out step
    static constexpr int kFadeInStep = 10;
    static constexpr int kFadeOutStep = 20;
    static constexpr int kOpaque = 255;

    // 0 (transparent) to 255 (opaque); the value the window is drawn with
    // while alpha blending is on.
    int opacity() const { return m_opacity; }
    bool alphaBlend() const { return m_alphaBlend; }
    bool fadingIn() const { return FadingIn; }

    // Hiding runs the fade-out first (the hide step), whatever hides the window.
    void setVisible(bool visible) override;

    // One tick of the fade-in timer.
    void Timer1Timer();

    QTimer *const Timer1;

signals:
    // Every change of the opacity, in order.
    void opacityChanged(int opacity);

protected:
    // mainWindow owns the window and is what it is centred over.
    FadeForm(QWidget *mainWindow, const QSize &clientSize);

    // While the window is being shown, before it is on the screen.
    void FormShow();
    // While the window is being hidden, before it leaves the screen.
    void FormHide();
    // The background: a vertical gradient over the whole client area, button
    // highlight at the top into button shadow at the bottom.
    void FormPaint();

    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

    // True from creation until the window is hidden.
    bool FadingIn = true;

private:
    // Centred over the main window, by this outer size.
    void placeOver(const QSize &outerSize);
    void setOpacity(int opacity);
    void setAlphaBlend(bool on);
    void applyOpacity();

    int m_opacity = 0;
    bool m_alphaBlend = true;
    bool m_placed = false;
};

}  // namespace tovi::ui
