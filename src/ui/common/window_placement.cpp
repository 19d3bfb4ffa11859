#include "ui/common/window_placement.h"

#include <algorithm>

#include <QWidget>

namespace tovi::ui {

QPoint centredOver(const QRect &ownerFrame, const QSize &outerSize)
{
    // Integer division rounds toward zero, as the rule asks.
    const int left = ownerFrame.left() + (ownerFrame.width() - outerSize.width()) / 2;
    const int top = ownerFrame.top() + (ownerFrame.height() - outerSize.height()) / 2;
    return {std::max(left, 0), std::max(top, 0)};
}

QPoint confirmDialogPosition(const QRect &mainFrame, const QSize &outerSize, const QRect &screen)
{
    const int left = screen.left() + (screen.width() - outerSize.width()) / 2;
    const int top = mainFrame.top() + mainFrame.height() / 2;
    // Above the screen, and also wholly below it (a modal dialog nobody can
    // see would hold the program): centred on the screen.
    if (top < 0 || top >= screen.bottom() + 1)
        return {left, screen.top() + (screen.height() - outerSize.height()) / 2};
    return {left, top};
}

QSize outerSizeLike(const QWidget *reference, const QSize &clientSize)
{
    if (!reference)
        return clientSize;
    const QWidget *window = reference->window();
    const QSize margins = window->frameGeometry().size() - window->geometry().size();
    return clientSize + margins;
}

}  // namespace tovi::ui
