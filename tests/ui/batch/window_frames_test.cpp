// Title bars and what a window manager may still offer: the flags each window
// asks for, minimise, maximise and full screen undone, close requests doing
// what the window's close box would (or nothing where it has none).

#include "ui/common/window_frames.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "ui/batch/confirm_dialog.h"
#include "ui/batch/result_form.h"

namespace tovi::ui {
namespace {

void settle()
{
    QTest::qWait(20);
}

TEST(TitleBars, EachDialogAsksForItsButtonsOnly)
{
    const Qt::WindowFlags closeBox = closeBoxDialogFlags();
    EXPECT_EQ(closeBox & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(closeBox & Qt::CustomizeWindowHint);
    EXPECT_TRUE(closeBox & Qt::WindowTitleHint);
    EXPECT_TRUE(closeBox & Qt::WindowCloseButtonHint);
    for (Qt::WindowType other : {Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                                 Qt::WindowContextHelpButtonHint})
        EXPECT_FALSE(closeBox & other) << other;
    EXPECT_EQ(buttonlessDialogFlags(),
              closeBox & ~Qt::WindowFlags(Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));

    ConfirmDialog dialog(nullptr, QStringLiteral("1.bmp"));
    EXPECT_EQ(dialog.windowFlags(), closeBox);
    TResultForm result(nullptr);
    EXPECT_EQ(result.windowFlags(), buttonlessDialogFlags());
}

TEST(TitleBars, MinimiseMaximiseAndFullScreenAreUndone)
{
    ConfirmDialog dialog(nullptr, QStringLiteral("1.bmp"));
    TResultForm result(nullptr);
    for (QWidget *window : {static_cast<QWidget *>(&dialog), static_cast<QWidget *>(&result)}) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const QSize size = window->size();
        for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowFullScreen}) {
            window->setWindowState(state);
            settle();
            EXPECT_EQ(window->windowState(), Qt::WindowNoState) << state;
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(window->size(), size);
        }
        window->hide();
    }
}

TEST(TitleBars, TheResultWindowIgnoresACloseRequestAndClosesByOk)
{
    TResultForm result(nullptr);
    result.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&result));
    // What the window manager's close command or Alt+F4 send.
    result.windowHandle()->close();
    settle();
    EXPECT_TRUE(result.isVisible());
    result.Button1->click();
    EXPECT_FALSE(result.isVisible());
    EXPECT_EQ(result.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace tovi::ui
