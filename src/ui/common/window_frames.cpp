#include "ui/common/window_frames.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace tovi::ui {

namespace {

constexpr Qt::WindowStates kOtherStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;

class NormalStateKeeper : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowStateChange) {
            auto *window = static_cast<QWidget *>(watched);
            if (window->windowState() & kOtherStates) {
                // After the change has gone through: the window manager may
                // still be carrying it out.
                QTimer::singleShot(0, window, [window] {
                    window->setWindowState(window->windowState() & ~kOtherStates);
                    if (window->isVisible())
                        window->activateWindow();
                });
            }
        }
        return false;
    }
};

class FrameWatcher : public QObject {
public:
    FrameWatcher(QWidget *window, std::function<void(const QMargins &)> framed)
        : QObject(window), m_window(window), m_framed(std::move(framed))
    {
    }

    // Runs the call and ends the watch once the window has a frame.
    bool check()
    {
        const QMargins frame = frameMarginsOf(m_window);
        if (frame.isNull())
            return false;
        m_window->removeEventFilter(this);
        auto framed = std::move(m_framed);
        deleteLater();
        framed(frame);
        return true;
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            check();
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget *m_window;
    std::function<void(const QMargins &)> m_framed;
};

}  // namespace

Qt::WindowFlags closeBoxDialogFlags()
{
    // The system menu comes with any title-bar button (Qt adds it anyway).
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
}

Qt::WindowFlags buttonlessDialogFlags()
{
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}

void keepNormalState(QWidget *window)
{
    window->installEventFilter(new NormalStateKeeper(window));
}

QMargins frameMarginsOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && window->isWindow() ? handle->frameMargins() : QMargins();
}

void whenFramed(QWidget *window, std::function<void(const QMargins &)> framed)
{
    auto *watcher = new FrameWatcher(window, std::move(framed));
    if (!watcher->check())
        window->installEventFilter(watcher);
}

}  // namespace tovi::ui
