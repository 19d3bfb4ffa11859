// The picture view: the format label's looks, the background and tool bar
// gradients, the shadow, the scroll range, and colour picking with the mouse.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "fixture.h"
#include "platform/gradient.h"
#include "support/tiny_bmp.h"
#include "platform/system_colors.h"
#include "ui/common/palette_colors.h"
#include "ui/help/help_requests.h"
#include "ui/main/shade.h"

namespace tovi::test {
namespace {

using platform::rgb;

ColorRef sys(int index)
{
    return platform::sysColor(index);
}

ColorRef labelBackground(ui::TMainForm &form)
{
    return colorAt(form.StaticText1->grab().toImage(), form.StaticText1->width() - 1, 1);
}

using FormatLabel = MainFormTest;

TEST_F(FormatLabel, HasItsThreeLooks)
{
    ui::TMainForm &form = start();
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("ColorFormat"));
    EXPECT_EQ(labelBackground(form), sys(platform::kColorBtnFace));
    EXPECT_EQ(ui::fromQColor(form.StaticText1->palette().color(QPalette::WindowText)), sys(platform::kColorWindowText));

    open(writeFile(QStringLiteral("eight.bmp"), bmp8(2, 2, {0x000000FF, 0x0000FF00}, {0, 1, 1, 0})));
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("8bit : 256色 ビットマップ"));
    EXPECT_EQ(labelBackground(form), sys(platform::kColorInfoBk));
    EXPECT_EQ(ui::fromQColor(form.StaticText1->palette().color(QPalette::WindowText)), sys(platform::kColorInfoText));

    open(writeFile(QStringLiteral("photo.jpg"), Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("未サポートフォーマット"));
    EXPECT_EQ(labelBackground(form), sys(platform::kColorBtnFace));
    EXPECT_EQ(ui::fromQColor(form.StaticText1->palette().color(QPalette::WindowText)), sys(platform::kColorBtnText));
    EXPECT_FALSE(form.pictureShown());
}

TEST_F(FormatLabel, NamesEachFormatTheReaderReports)
{
    ui::TMainForm &form = start();
    open(writeFile(QStringLiteral("one.bmp"), bmp1(8, 2, std::vector<int>(16, 1))));
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("1bit : モノクロ ビットマップ"));
    open(writeFile(QStringLiteral("true.bmp"), bmp24Filled(2, 2, 0)));
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("24bit : TrueColorビットマップ"));
}

// ---------------------------------------------------------------------------

using Gradients = MainFormTest;

TEST_F(Gradients, ViewBackgroundRunsFromTheLightToTheDarkShadeOfTheWorkspace)
{
    platform::setSysColor(platform::kColorAppWorkspace, rgb(171, 171, 171));
    ui::TMainForm &form = start();
    const QImage view = form.PaintBox1->grab().toImage();
    const int h = view.height();
    ASSERT_EQ(view.size(), form.ScrollBox1->viewport()->size());
    const ColorRef light = rgb(191, 191, 191), dark = rgb(118, 118, 118);
    for (int x : {0, view.width() / 2, view.width() - 1}) {
        EXPECT_EQ(colorAt(view, x, 0), light);
        EXPECT_EQ(colorAt(view, x, h - 1), platform::gradientRowColor(light, dark, h - 1, h));
    }
    EXPECT_EQ(colorAt(view, 3, h / 2), platform::gradientRowColor(light, dark, h / 2, h));
    // Without a picture nothing but the gradient: no shadow.
    EXPECT_EQ(colorAt(view, 12, 12), platform::gradientRowColor(light, dark, 12, h));
}

TEST_F(Gradients, ToolBarRunsFromButtonHighlightToButtonShadow)
{
    platform::setSysColor(platform::kColorBtnHighlight, rgb(250, 240, 230));
    platform::setSysColor(platform::kColorBtnShadow, rgb(20, 40, 60));
    ui::TMainForm &form = start();
    const QImage bar = form.ToolBar1->grab().toImage();
    const int x = bar.width() - 3;  // right of the last button
    ASSERT_EQ(bar.height(), 33);
    EXPECT_EQ(colorAt(bar, x, 0), rgb(250, 240, 230));
    EXPECT_EQ(colorAt(bar, x, 32), platform::gradientRowColor(rgb(250, 240, 230), rgb(20, 40, 60), 32, 33));
}

TEST_F(Gradients, ResizingTheWindowStretchesTheBackgroundOverTheNewHeight)
{
    ui::TMainForm &form = start();
    const ColorRef base = platform::systemColorValue(platform::kColorAppWorkspace);
    const ColorRef light = ui::gradientLightShade(base), dark = ui::gradientDarkShade(base);
    form.resize(form.width(), form.height() + 200);
    settle();
    const QImage view = form.PaintBox1->grab().toImage();
    const int h = view.height();
    EXPECT_EQ(h, form.ScrollBox1->viewport()->height());
    EXPECT_EQ(colorAt(view, 1, h - 1), platform::gradientRowColor(light, dark, h - 1, h));
    EXPECT_EQ(colorAt(view, 1, (h - 200) - 1), platform::gradientRowColor(light, dark, h - 201, h));
}

// ---------------------------------------------------------------------------

using Shadow = MainFormTest;

TEST_F(Shadow, FiveBlackPixelsAlongTheRightAndBottomEdges)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(40, 30, 0x00FFFFFF))});
    const QImage view = form.ScrollBox1->viewport()->grab().toImage();
    // The picture covers (5,5)-(44,34); the shadow (10,10)-(49,39) shows beside and below it.
    EXPECT_EQ(colorAt(view, 20, 20), 0x00FFFFFFu);
    for (QPoint p : {QPoint(45, 10), QPoint(49, 39), QPoint(10, 35), QPoint(47, 20), QPoint(20, 37)})
        EXPECT_EQ(colorAt(view, p), 0u) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(47, 8), QPoint(50, 20), QPoint(8, 37), QPoint(20, 40), QPoint(3, 3)})
        EXPECT_NE(colorAt(view, p), 0u) << p.x() << "," << p.y();
}

TEST_F(Shadow, GoneOnceTheViewShowsNoPicture)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(40, 30, 0x00FFFFFF))});
    open(writeFile(QStringLiteral("x.bmp"), Bytes(20, 'x')));
    form.PaintBox1->repaint();
    const QImage view = form.ScrollBox1->viewport()->grab().toImage();
    EXPECT_NE(colorAt(view, 47, 20), 0u);
    EXPECT_NE(colorAt(view, 20, 20), 0x00FFFFFFu);
}

TEST_F(Shadow, StaysWithThePictureWhenScrolled)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("wide.bmp"), bmp24Filled(1200, 100, 0x00FFFFFF))});
    QScrollBar *bar = form.ScrollBox1->horizontalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    QImage view = form.ScrollBox1->viewport()->grab().toImage();
    // Below the picture's left end the shadow has not begun yet.
    EXPECT_NE(colorAt(view, 7, 107), 0u);
    EXPECT_EQ(colorAt(view, 30, 107), 0u);
    bar->setValue(100);
    settle();
    view = form.ScrollBox1->viewport()->grab().toImage();
    EXPECT_EQ(colorAt(view, 7, 107), 0u);
    EXPECT_EQ(colorAt(view, 7, 50), 0x00FFFFFFu);
}

// ---------------------------------------------------------------------------

using ScrollRange = MainFormTest;

TEST_F(ScrollRange, ReachesThePicturesRightAndBottomEdges)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("big.bmp"), bmp24Filled(700, 800, 0))});
    const QSize viewport = form.ScrollBox1->viewport()->size();
    EXPECT_EQ(form.PaintBox1->size(), QSize(705, 805));
    EXPECT_EQ(form.ScrollBox1->horizontalScrollBar()->maximum(), 705 - viewport.width());
    EXPECT_EQ(form.ScrollBox1->verticalScrollBar()->maximum(), 805 - viewport.height());
}

TEST_F(ScrollRange, SmallOrHiddenPictureGivesNoScrolling)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("small.bmp"), bmp24Filled(50, 50, 0))});
    EXPECT_FALSE(form.ScrollBox1->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(form.ScrollBox1->verticalScrollBar()->isVisible());
    EXPECT_EQ(form.PaintBox1->size(), form.ScrollBox1->viewport()->size());

    open(writeFile(QStringLiteral("big.bmp"), bmp24Filled(900, 900, 0)));
    EXPECT_TRUE(form.ScrollBox1->verticalScrollBar()->isVisible());
    open(writeFile(QStringLiteral("broken.bmp"), Bytes(20, 'B')));
    settle();
    EXPECT_FALSE(form.ScrollBox1->verticalScrollBar()->isVisible());
    EXPECT_EQ(form.PaintBox1->size(), form.ScrollBox1->viewport()->size());
}

TEST_F(ScrollRange, OneScrollBarTakingRoomCanCallForTheOther)
{
    ui::TMainForm &form = start();
    const QSize area = form.ScrollBox1->maximumViewportSize();
    // Wider than the view, and exactly as high as it: the horizontal bar
    // takes room, so the vertical one is needed too.
    open(writeFile(QStringLiteral("p.bmp"), bmp24Filled(area.width() + 50, area.height() - 5, 0)));
    EXPECT_TRUE(form.ScrollBox1->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(form.ScrollBox1->verticalScrollBar()->isVisible());
    EXPECT_EQ(form.PaintBox1->size(), QSize(area.width() + 55, area.height()));
}

// ---------------------------------------------------------------------------

using PictureDisplay = MainFormTest;

// A picture whose every pixel tells where it is: red x, green y, blue x + y.
Bytes positionPicture(int width, int height)
{
    std::vector<ColorRef> colors;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            colors.push_back(rgb(unsigned(x & 0xFF), unsigned(y & 0xFF), unsigned((x + y) & 0xFF)));
    return bmp24Colors(width, height, colors);
}

TEST_F(PictureDisplay, ShowsThePixelsOfEachFormatAsRead)
{
    ui::TMainForm &form = start();
    open(writeFile(QStringLiteral("p8.bmp"), bmp8(3, 1, {0x00102030, 0x00A0B0C0, 0x000000FF}, {2, 0, 1})));
    QImage shown = form.Image1->grab().toImage();
    EXPECT_EQ(colorAt(shown, 0, 0), 0x000000FFu);
    EXPECT_EQ(colorAt(shown, 1, 0), 0x00102030u);
    EXPECT_EQ(colorAt(shown, 2, 0), 0x00A0B0C0u);
    open(writeFile(QStringLiteral("p1.bmp"), bmp1(3, 1, {1, 0, 1})));
    shown = form.Image1->grab().toImage();
    EXPECT_EQ(colorAt(shown, 0, 0), 0x00FFFFFFu);
    EXPECT_EQ(colorAt(shown, 1, 0), 0u);
}

TEST_F(PictureDisplay, LargePictureIsConvertedOnlyWhereItIsSeen)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("large.bmp"), positionPicture(2000, 1500))});
    const int allTiles = 8 * 6;
    const int seen = form.Image1->convertedTiles();
    EXPECT_GT(seen, 0);
    EXPECT_LE(seen, 4);
    form.ScrollBox1->horizontalScrollBar()->setValue(1000);
    settle();
    const int afterScroll = form.Image1->convertedTiles();
    EXPECT_GT(afterScroll, seen);
    EXPECT_LT(afterScroll, allTiles);
    // Processing changes the picture: everything converted before is dropped
    // and only what is in view is converted again; the view (about 480 x 440)
    // meets at most 3 x 2 tiles of 256.
    form.ColorInv->trigger();
    settle();
    EXPECT_LE(form.Image1->convertedTiles(), 6);
    EXPECT_LT(form.Image1->convertedTiles(), afterScroll);
    const picture::Bitmap *b = form.Image1->bitmap();
    const QImage shown = form.Image1->grab(QRect(1100, 100, 10, 10)).toImage();
    EXPECT_EQ(colorAt(shown, 0, 0), b->pixel(1100, 100));
    EXPECT_EQ(b->pixel(1100, 100), rgb(255 - (1100 & 0xFF), 255 - 100, 255 - ((1200) & 0xFF)));
}

TEST_F(PictureDisplay, TilesJoinWithoutSeams)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), positionPicture(600, 300))});
    const QImage shown = form.Image1->grab(QRect(250, 250, 12, 12)).toImage();
    const picture::Bitmap *b = form.Image1->bitmap();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(colorAt(shown, x, y), b->pixel(250 + x, 250 + y)) << x << "," << y;
    EXPECT_EQ(colorAt(shown, 6, 6), rgb(0, 0, 0));  // (256, 256): all channels wrap to 0 ...
    EXPECT_EQ(colorAt(shown, 5, 6), rgb(255, 0, 255));  // ... beside (255, 256)
}

// ---------------------------------------------------------------------------

// An 8 x 8 picture: left half red, right half green, bottom row blue.
Bytes pickPicture()
{
    std::vector<ColorRef> colors;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            colors.push_back(y == 7 ? 0x00FF0000 : x < 4 ? 0x000000FF : 0x0000FF00);
    return bmp24Colors(8, 8, colors);
}

constexpr ColorRef kRed = 0x000000FF, kGreen = 0x0000FF00, kBlue = 0x00FF0000;

using Picking = MainFormTest;

TEST_F(Picking, LeftClickOnARedPixelPicksRedAndEndsPicking)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    EXPECT_EQ(form.Image1->cursor().shape(), Qt::CrossCursor);
    pressAt(windowPointOfPixel(1, 1), Qt::LeftButton);
    EXPECT_TRUE(form.pickDragging());
    EXPECT_EQ(form.color1(), kRed);
    releaseAt(windowPointOfPixel(1, 1), Qt::LeftButton);
    settle();
    EXPECT_EQ(form.color1(), kRed);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.Image1->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(form.ColorPick1->isChecked());
    EXPECT_EQ(form.color2(), 0u);
    // The swatch shows it.
    const QImage swatch = form.ColorPanel1->grab().toImage();
    EXPECT_EQ(colorAt(swatch, 16, 8), kRed);
}

TEST_F(Picking, DraggingFollowsThePointerAndTheRightButtonRestores)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    pressAt(windowPointOfPixel(1, 1), Qt::LeftButton);
    EXPECT_EQ(form.color2(), kRed);
    moveTo(windowPointOfPixel(6, 2), Qt::LeftButton);
    EXPECT_EQ(form.color2(), kGreen);
    moveTo(windowPointOfPixel(6, 7), Qt::LeftButton);
    EXPECT_EQ(form.color2(), kBlue);
    releaseAt(windowPointOfPixel(6, 7), Qt::RightButton);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.color2(), 0u);
}

TEST_F(Picking, MovingWithoutAPressPicksNothing)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    moveTo(windowPointOfPixel(6, 2), Qt::NoButton);
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
    EXPECT_TRUE(form.picking());
}

TEST_F(Picking, RightPressAloneChangesNothingAndItsReleaseCancels)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    pressAt(windowPointOfPixel(1, 1), Qt::RightButton);
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
    EXPECT_TRUE(form.picking());
    EXPECT_FALSE(form.pickDragging());
    releaseAt(windowPointOfPixel(1, 1), Qt::RightButton);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
}

TEST_F(Picking, MiddleReleaseKeepsThePickedColour)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    pressAt(windowPointOfPixel(6, 1), Qt::LeftButton);
    releaseAt(windowPointOfPixel(6, 1), Qt::MiddleButton);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.color1(), kGreen);
}

TEST_F(Picking, DraggingBeyondTheEdgesKeepsTheLastColourInside)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    pressAt(windowPointOfPixel(7, 3), Qt::LeftButton);
    moveTo(windowPointOfPixel(30, 3), Qt::LeftButton);
    EXPECT_EQ(form.color1(), kGreen);
    moveTo(windowPointOfPixel(3, -2), Qt::LeftButton);
    EXPECT_EQ(form.color1(), kGreen);
    releaseAt(windowPointOfPixel(3, -2), Qt::LeftButton);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.color1(), kGreen);
}

TEST_F(Picking, ScrolledViewPicksThePixelUnderThePointer)
{
    // 1000 x 20: columns below 500 red, from 500 on green.
    std::vector<ColorRef> colors;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 1000; ++x)
            colors.push_back(x < 500 ? kRed : kGreen);
    ui::TMainForm &form = start({writeFile(QStringLiteral("wide.bmp"), bmp24Colors(1000, 20, colors))});
    const QPoint windowPoint = form.ScrollBox1->viewport()->mapTo(&form, QPoint(100, 10));
    form.ScrollBox1->horizontalScrollBar()->setValue(450);
    settle();
    // The view's x 100 now shows picture column 545.
    ASSERT_EQ(form.Image1->mapFrom(&form, windowPoint).x(), 545);
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    pressAt(windowPoint, Qt::LeftButton);
    releaseAt(windowPoint, Qt::LeftButton);
    EXPECT_EQ(form.color1(), kGreen);
}

TEST_F(Picking, PickedColourOfAPalettedPictureIsItsPaletteColour)
{
    ui::TMainForm &form = start(
        {writeFile(QStringLiteral("p8.bmp"), bmp8(2, 1, {0x00102030, 0x00A0B0C0}, {1, 0}))});
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    pressAt(windowPointOfPixel(0, 0), Qt::LeftButton);
    releaseAt(windowPointOfPixel(0, 0), Qt::LeftButton);
    EXPECT_EQ(form.color2(), 0x00A0B0C0u);
}

TEST_F(Picking, PickedColourIsFoundByTheSwap)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    pressAt(windowPointOfPixel(6, 1), Qt::LeftButton);
    releaseAt(windowPointOfPixel(6, 1), Qt::LeftButton);
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    pressAt(windowPointOfPixel(1, 7), Qt::LeftButton);
    releaseAt(windowPointOfPixel(1, 7), Qt::LeftButton);
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    settle();
    const picture::Bitmap *b = form.Image1->bitmap();
    EXPECT_EQ(b->pixel(6, 1), kBlue);
    EXPECT_EQ(b->pixel(1, 7), kGreen);
    EXPECT_EQ(b->pixel(1, 1), kRed);
}

TEST_F(Picking, ReleaseOnTheWindowsOwnSurfaceCancels)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    form.ColorPanel1->setColor(kRed);
    form.FormMouseUp(Qt::LeftButton);
    EXPECT_FALSE(form.picking());
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
}

TEST_F(Picking, EscapeWhileDraggingCancelsLikeTheRightButton)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    pressAt(windowPointOfPixel(1, 1), Qt::LeftButton);
    moveTo(windowPointOfPixel(6, 2), Qt::LeftButton);
    ASSERT_EQ(form.color2(), kGreen);
    // Whichever child has the focus, the key reaches the window.
    form.ScrollBox1->setFocus();
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(form.picking());
    EXPECT_FALSE(form.pickDragging());
    EXPECT_EQ(form.color2(), 0u);
    EXPECT_FALSE(form.ColorPick2->isChecked());
    EXPECT_EQ(form.Image1->cursor().shape(), Qt::ArrowCursor);
    // The button still held picks nothing more when it comes up.
    moveTo(windowPointOfPixel(6, 7), Qt::LeftButton);
    releaseAt(windowPointOfPixel(6, 7), Qt::LeftButton);
    EXPECT_EQ(form.color2(), 0u);
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
}

TEST_F(Picking, EscapeCancelsAfterTheMenuBarWasWalkedWithTheKeyboard)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    const auto pickAndEscape = [&] {
        QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
        EXPECT_TRUE(form.picking());
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form, Qt::Key_Escape);
        settle();
        EXPECT_FALSE(form.picking());
        EXPECT_FALSE(form.ColorPick1->isChecked());
    };

    // F1 on a highlighted entry brings a help page to the front, which
    // closes the menu; the page is closed again.
    QWidget helpPage;
    help::installHelpRequests([&helpPage](std::uint16_t, std::uintptr_t, bool &) {
        helpPage.show();
        helpPage.activateWindow();
        return true;
    });
    QTest::keyClick(&form, Qt::Key_F, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), form.FileMenu);
    QTest::keyClick(form.FileMenu, Qt::Key_Up);
    ASSERT_EQ(form.FileMenu->activeAction(), form.FileExit1);
    QTest::keyClick(form.FileMenu, Qt::Key_F1);
    settle();
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    helpPage.close();
    help::installHelpRequests(nullptr);
    form.activateWindow();
    settle();
    EXPECT_FALSE(form.MainMenu1->hasFocus());
    pickAndEscape();
    pickAndEscape();

    // A menu left with Escape keeps the bar walking the titles until a click
    // elsewhere in the window.
    const QPoint title = form.MainMenu1->actionGeometry(form.EditMenu->menuAction()).center();
    QTest::mouseClick(form.MainMenu1, Qt::LeftButton, {}, title);
    ASSERT_EQ(QApplication::activePopupWidget(), form.EditMenu);
    QTest::keyClick(form.EditMenu, Qt::Key_Escape);
    settle();
    pickAndEscape();
}

TEST_F(Picking, CheckedPickButtonIsSunkenAndTinted)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    const QImage off = form.ToolButton4->grab().toImage();
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    settle();
    ASSERT_TRUE(form.ToolButton4->isChecked());
    const QImage on = form.ToolButton4->grab().toImage();
    const int w = on.width(), h = on.height();
    // Shadow along the top and left, highlight along the bottom and right.
    EXPECT_EQ(colorAt(on, w / 2, 0), sys(platform::kColorBtnShadow));
    EXPECT_EQ(colorAt(on, 0, h / 2), sys(platform::kColorBtnShadow));
    EXPECT_EQ(colorAt(on, w / 2, h - 1), sys(platform::kColorBtnHighlight));
    EXPECT_EQ(colorAt(on, w - 1, h / 2), sys(platform::kColorBtnHighlight));
    // Inside, around the glyph, the face is tinted with the selection colour.
    const QColor inside = on.pixelColor(2, 2);
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    EXPECT_NE(colorAt(on, 2, 2), colorAt(off, 2, 2));
    EXPECT_LT(std::abs(inside.hue() - highlight.hue()), 10);
    EXPECT_GT(inside.saturation(), 20);
}

TEST_F(Picking, OpeningAndProcessingDoNotEndPicking)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), pickPicture())});
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    open(writeFile(QStringLiteral("q.bmp"), pickPicture()));
    EXPECT_TRUE(form.picking());
    EXPECT_EQ(form.pickTarget(), 1);
    EXPECT_TRUE(form.ColorPick2->isChecked());
}


// ---------------------------------------------------------------------------

using Zoom = MainFormTest;

ColorRef shownAt(ui::TMainForm &form, const QPoint &inImage)
{
    return colorAt(form.Image1->grab(QRect(inImage, QSize(1, 1))).toImage(), 0, 0);
}

// Picks colour 1 at a point of the picture control, as a user clicks there.
ColorRef pickAt(ui::TMainForm &form, const QPoint &inImage)
{
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    const QPoint windowPoint = form.Image1->mapTo(&form, inImage);
    QTest::mousePress(form.windowHandle(), Qt::LeftButton, {}, windowPoint);
    QTest::mouseRelease(form.windowHandle(), Qt::LeftButton, {}, windowPoint);
    return form.color1();
}

TEST_F(Zoom, PickingAtAnyZoomTakesThePixelUnderThePointer)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), positionPicture(64, 48))});
    const picture::Bitmap *b = form.Image1->bitmap();
    EXPECT_EQ(form.zoom(), 1.0);
    EXPECT_EQ(form.Image1->size(), QSize(64, 48));

    // Ctrl++ twice: 400 %, each pixel a clean 4 x 4 square.
    QTest::keyClick(&form, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(&form, Qt::Key_Plus, Qt::ControlModifier);
    settle();
    EXPECT_EQ(form.zoom(), 4.0);
    EXPECT_EQ(form.Image1->size(), QSize(256, 192));
    EXPECT_EQ(form.SettingsLabel->text(), QStringLiteral("表示倍率 400%"));
    for (const QPoint p : {QPoint(40, 28), QPoint(43, 31)})
        EXPECT_EQ(shownAt(form, p), b->pixel(10, 7));
    EXPECT_EQ(shownAt(form, QPoint(44, 28)), b->pixel(11, 7));
    EXPECT_EQ(pickAt(form, QPoint(43, 29)), b->pixel(10, 7));
    EXPECT_EQ(pickAt(form, QPoint(44, 32)), b->pixel(11, 8));
    // The shadow follows the zoomed picture.
    const QImage view = form.ScrollBox1->viewport()->grab().toImage();
    EXPECT_EQ(colorAt(view, 5 + 256 + 2, 100), 0u);
    EXPECT_NE(colorAt(view, 5 + 256 + 6, 100), 0u);

    // Ctrl+- four times: 25 %; a screen pixel shows the pixel under its centre.
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(&form, Qt::Key_Minus, Qt::ControlModifier);
    settle();
    EXPECT_EQ(form.zoom(), 0.25);
    EXPECT_EQ(form.Image1->size(), QSize(16, 12));
    EXPECT_EQ(shownAt(form, QPoint(3, 2)), b->pixel(14, 10));
    EXPECT_EQ(pickAt(form, QPoint(3, 2)), b->pixel(14, 10));
    EXPECT_EQ(pickAt(form, QPoint(15, 11)), b->pixel(62, 46));

    // Ctrl with the wheel, one notch in; Ctrl+0 back to 100 %.
    QWheelEvent wheel(QPointF(20, 20), form.ScrollBox1->viewport()->mapToGlobal(QPointF(20, 20)), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form.ScrollBox1->viewport(), &wheel);
    EXPECT_EQ(form.zoom(), 0.5);
    QTest::keyClick(&form, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(form.zoom(), 1.0);
    EXPECT_FALSE(form.SettingsLabel->isVisible());
    EXPECT_EQ(pickAt(form, QPoint(30, 20)), b->pixel(30, 20));
}

TEST_F(Zoom, EveryOpenShowsAtTheNaturalSizeAndFitShrinksOnlyLargePictures)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("big.bmp"), positionPicture(2000, 1500))});
    form.ViewFitToWindow->trigger();
    settle();
    const QSize view = form.ScrollBox1->viewport()->size();
    EXPECT_LT(form.zoom(), 0.25);
    EXPECT_LE(form.Image1->width() + 10, view.width());
    EXPECT_LE(form.Image1->height() + 10, view.height());
    EXPECT_TRUE(form.Image1->width() + 10 == view.width() || form.Image1->height() + 10 == view.height());
    EXPECT_FALSE(form.ScrollBox1->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(form.SettingsLabel->isVisible());

    open(writeFile(QStringLiteral("small.bmp"), positionPicture(40, 30)));
    EXPECT_EQ(form.zoom(), 1.0);
    EXPECT_EQ(form.Image1->size(), QSize(40, 30));
    EXPECT_FALSE(form.SettingsLabel->isVisible());
    form.ViewFitToWindow->trigger();
    EXPECT_EQ(form.zoom(), 1.0);
}

}  // namespace
}  // namespace tovi::test
