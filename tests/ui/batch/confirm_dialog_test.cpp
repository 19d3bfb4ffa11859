// The confirmation dialog as the user meets it: its keys and buttons, Ctrl+C,
// its look, and where its layout and position put it.

#include "ui/batch/confirm_dialog.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "modal_driver.h"
#include "ui/common/window_placement.h"

namespace tovi::ui {
namespace {

using test::ModalDriver;

// Key presses go where a user's would: to the widget with the focus.
QWidget *focusIn(QWidget *window)
{
    return window->focusWidget() ? window->focusWidget() : window;
}

void press(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(focusIn(window), key, modifiers);
}

struct KeyCase {
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    ConfirmAnswer expected;
};

void PrintTo(const KeyCase &c, std::ostream *out)
{
    *out << c.name;
}

class ConfirmDialogKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(ConfirmDialogKeys, ChooseTheirButton)
{
    const KeyCase &c = GetParam();
    ModalDriver driver;
    driver.then([&](QWidget *dialog) { press(dialog, c.key, c.modifiers); });
    EXPECT_EQ(askOverwrite(nullptr, QStringLiteral("1.bmp")), c.expected);
    EXPECT_TRUE(driver.done());
}

const KeyCase kKeyCases[] = {
    {"Y", Qt::Key_Y, Qt::NoModifier, ConfirmAnswer::Yes},
    {"ShiftY", Qt::Key_Y, Qt::ShiftModifier, ConfirmAnswer::Yes},
    {"AltY", Qt::Key_Y, Qt::AltModifier, ConfirmAnswer::Yes},
    {"N", Qt::Key_N, Qt::NoModifier, ConfirmAnswer::No},
    {"AltN", Qt::Key_N, Qt::AltModifier, ConfirmAnswer::No},
    // Abort and Yes to all both carry A: A goes to the first, Abort.
    {"A", Qt::Key_A, Qt::NoModifier, ConfirmAnswer::Abort},
    {"ShiftA", Qt::Key_A, Qt::ShiftModifier, ConfirmAnswer::Abort},
    {"AltA", Qt::Key_A, Qt::AltModifier, ConfirmAnswer::Abort},
    {"AltShiftA", Qt::Key_A, Qt::AltModifier | Qt::ShiftModifier, ConfirmAnswer::Abort},
    {"EscapeIsNo", Qt::Key_Escape, Qt::NoModifier, ConfirmAnswer::No},
    {"EnterIsYes", Qt::Key_Return, Qt::NoModifier, ConfirmAnswer::Yes},
    {"KeypadEnterIsYes", Qt::Key_Enter, Qt::KeypadModifier, ConfirmAnswer::Yes},
    {"SpaceOnFocusedYes", Qt::Key_Space, Qt::NoModifier, ConfirmAnswer::Yes},
};

INSTANTIATE_TEST_SUITE_P(Keys, ConfirmDialogKeys, ::testing::ValuesIn(kKeyCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ConfirmDialogAnswers, OtherKeysLeaveTheDialogOpen)
{
    ModalDriver driver;
    bool stillOpen = false;
    driver.then([&](QWidget *dialog) {
        press(dialog, Qt::Key_X);
        press(dialog, Qt::Key_Y, Qt::ControlModifier);
        press(dialog, Qt::Key_A, Qt::ControlModifier);
        press(dialog, Qt::Key_F1);
        stillOpen = dialog->isVisible();
        press(dialog, Qt::Key_N);
    });
    EXPECT_EQ(askOverwrite(nullptr, QStringLiteral("1.bmp")), ConfirmAnswer::No);
    EXPECT_TRUE(stillOpen);
}

TEST(ConfirmDialogAnswers, CloseBoxGivesClosed)
{
    ModalDriver driver;
    driver.then([](QWidget *dialog) { dialog->windowHandle()->close(); });
    EXPECT_EQ(askOverwrite(nullptr, QStringLiteral("1.bmp")), ConfirmAnswer::Closed);
}

TEST(ConfirmDialogAnswers, YesToAllByMovingTheFocusThenEnter)
{
    ModalDriver driver;
    QString focused;
    driver.then([&](QWidget *dialog) {
        for (int i = 0; i < 3; ++i)
            press(dialog, Qt::Key_Tab);
        if (auto *button = qobject_cast<QPushButton *>(focusIn(dialog)))
            focused = button->text();
        press(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(askOverwrite(nullptr, QStringLiteral("1.bmp")), ConfirmAnswer::YesToAll);
    EXPECT_EQ(focused, QStringLiteral("すべてはい(&A)"));
}

TEST(ConfirmDialogAnswers, YesToAllByMovingTheFocusThenSpace)
{
    ModalDriver driver;
    driver.then([](QWidget *dialog) {
        press(dialog, Qt::Key_Backtab, Qt::ShiftModifier);  // wraps round to the last button
        press(dialog, Qt::Key_Space);
    });
    EXPECT_EQ(askOverwrite(nullptr, QStringLiteral("1.bmp")), ConfirmAnswer::YesToAll);
}

TEST(ConfirmDialogAnswers, EachButtonClickedWithTheMouse)
{
    const ConfirmAnswer answers[] = {ConfirmAnswer::Yes, ConfirmAnswer::No, ConfirmAnswer::Abort,
                                     ConfirmAnswer::YesToAll};
    for (const ConfirmAnswer expected : answers) {
        ConfirmDialog dialog(nullptr, QStringLiteral("1.bmp"));
        ModalDriver driver;
        driver.then([&](QWidget *) { QTest::mouseClick(dialog.button(expected), Qt::LeftButton); });
        EXPECT_EQ(dialog.ask(), expected);
    }
}

TEST(ConfirmDialogCopy, CtrlCPutsTheDialogAsPlainText)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    ModalDriver driver;
    bool stillOpen = false;
    driver.then([&](QWidget *dialog) {
        press(dialog, Qt::Key_C, Qt::ControlModifier);
        stillOpen = dialog->isVisible();
        press(dialog, Qt::Key_Escape);
    });
    askOverwrite(nullptr, QStringLiteral("写真 1.bmp"));
    EXPECT_TRUE(stillOpen);
    const QString divider(27, QLatin1Char('-'));
    const QString expected = divider + "\r\n" + QStringLiteral("警告") + "\r\n" + divider + "\r\n" +
                             QStringLiteral("現在の設定で画像処理し、上書きします.\n\r写真 1.bmp") + "\r\n" + divider +
                             "\r\n" + QStringLiteral("はい(Y)   いいえ(N)   中止(A)   すべてはい(A)   ") + "\r\n" +
                             divider + "\r\n";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
}

TEST(ConfirmDialogCopy, CtrlWithAnotherModifierCopiesNothing)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    ModalDriver driver;
    driver.then([](QWidget *dialog) {
        press(dialog, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        press(dialog, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
        press(dialog, Qt::Key_C);
        press(dialog, Qt::Key_Escape);
    });
    askOverwrite(nullptr, QStringLiteral("1.bmp"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST(ConfirmDialogLook, CaptionMessageButtonsAndFrame)
{
    ConfirmDialog dialog(nullptr, QStringLiteral("2.bmp"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("警告"));
    EXPECT_EQ(dialog.message(), QStringLiteral("現在の設定で画像処理し、上書きします.\n\r2.bmp"));
    const QStringList captions = {QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)"), QStringLiteral("中止(&A)"),
                                  QStringLiteral("すべてはい(&A)")};
    const ConfirmAnswer order[] = {ConfirmAnswer::Yes, ConfirmAnswer::No, ConfirmAnswer::Abort,
                                   ConfirmAnswer::YesToAll};
    int previousLeft = -1;
    for (int i = 0; i < 4; ++i) {
        QPushButton *button = dialog.button(order[i]);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), captions[i]);
        EXPECT_GT(button->x(), previousLeft);
        previousLeft = button->x();
        EXPECT_EQ(button->isDefault(), i == 0);
    }
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    dialog.show();
    EXPECT_EQ(dialog.focusWidget(), dialog.button(ConfirmAnswer::Yes));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

// Rows of the grabbed dialog that hold anything but its background colour,
// within a column range.
std::vector<int> inkedRows(const QImage &image, int left, int right)
{
    const QRgb background = image.pixel(image.width() - 1, 1);
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = left; x < right; ++x) {
            if (image.pixel(x, y) != background) {
                rows.push_back(y);
                break;
            }
        }
    }
    return rows;
}

TEST(ConfirmDialogLook, IconAtTheLeftAndTheFileNameOnASecondLine)
{
    ConfirmDialog dialog(nullptr, QStringLiteral("picture.bmp"));
    dialog.show();
    const QImage image = dialog.grab().toImage();
    const ConfirmLayout &layout = dialog.dialogLayout();

    std::vector<int> iconRows = inkedRows(image, layout.icon.left(), layout.icon.right() + 1);
    std::erase_if(iconRows, [&](int y) { return y >= layout.buttons[0].top(); });
    ASSERT_FALSE(iconRows.empty());
    EXPECT_GE(iconRows.front(), layout.icon.top());
    EXPECT_LE(iconRows.back(), layout.icon.bottom());

    // Two lines of text: a gap of blank rows between two inked bands.
    std::vector<int> textRows = inkedRows(image, layout.text.left(), layout.text.right() + 1);
    std::erase_if(textRows, [&](int y) { return y > layout.text.bottom(); });
    ASSERT_FALSE(textRows.empty());
    int gaps = 0;
    for (std::size_t i = 1; i < textRows.size(); ++i)
        gaps += textRows[i] > textRows[i - 1] + 1;
    EXPECT_EQ(gaps, 1);
    EXPECT_GE(layout.text.height(), 2 * QFontMetrics(dialog.font()).height());
}

TEST(ConfirmDialogLayout, FormulasInCharacterUnits)
{
    ConfirmMetrics metrics;
    metrics.charWidth = 6;
    metrics.charHeight = 13;
    metrics.text = QSize(200, 26);
    metrics.captions = {30, 40, 30, 60};
    const ConfirmLayout layout = layoutConfirmDialog(metrics);
    // Margins 12 and 13, spacings 15 and 16 (16.25), button 75 (smallest) by
    // 23 (22.75), gap 6.
    EXPECT_EQ(layout.client, QSize(342, 97));
    EXPECT_EQ(layout.icon, QRect(12, 13, 32, 32));
    EXPECT_EQ(layout.text, QRect(59, 13, 200, 26));
    ASSERT_EQ(layout.buttons.size(), 4u);
    EXPECT_EQ(layout.buttons[0], QRect(12, 61, 75, 23));
    EXPECT_EQ(layout.buttons[1], QRect(93, 61, 75, 23));
    EXPECT_EQ(layout.buttons[2], QRect(174, 61, 75, 23));
    EXPECT_EQ(layout.buttons[3], QRect(255, 61, 75, 23));
}

TEST(ConfirmDialogLayout, HalvesRoundUpAndTheWidestCaptionSetsTheButtonWidth)
{
    ConfirmMetrics metrics;
    metrics.charWidth = 5;
    metrics.charHeight = 12;
    metrics.text = QSize(400, 50);
    metrics.captions = {40, 50, 40, 90};
    const ConfirmLayout layout = layoutConfirmDialog(metrics);
    // Horizontal spacing 12.5 -> 13, smallest button 62.5 -> 63 but the
    // widest caption asks for 98; the text block is wider than the row.
    EXPECT_EQ(layout.client, QSize(465, 110));
    EXPECT_EQ(layout.text, QRect(55, 12, 400, 50));
    EXPECT_EQ(layout.buttons[0], QRect(29, 77, 98, 21));
    EXPECT_EQ(layout.buttons[3], QRect(29 + 3 * 103, 77, 98, 21));
}

TEST(ConfirmDialogLayout, TheIconSetsTheHeightOfAOneLineText)
{
    ConfirmMetrics metrics;
    metrics.charWidth = 7;
    metrics.charHeight = 15;
    metrics.text = QSize(100, 15);
    metrics.captions = {80};
    const ConfirmLayout layout = layoutConfirmDialog(metrics);
    // Spacings 17.5 -> 18 and 18.75 -> 19, button 87.5 -> 88 by 26.25 -> 26.
    EXPECT_EQ(layout.text, QRect(14 + 32 + 18, 15, 100, 15));
    EXPECT_EQ(layout.client, QSize(100 + 32 + 18 + 28, 32 + 26 + 19 + 30));
    EXPECT_EQ(layout.buttons[0], QRect((178 - 88) / 2, 15 + 32 + 19, 88, 26));
}

TEST(ConfirmDialogLayout, MeasuredInTheDialogFont)
{
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(12);
    const QFontMetrics fm(font);
    const QStringList captions = ConfirmDialog::kButtonCaptions;
    const ConfirmMetrics metrics = measureConfirmDialog(font, confirmMessage(QStringLiteral("a.bmp")), captions, 1280);
    int letters = 0;
    for (char c = 'A'; c <= 'Z'; ++c)
        letters += fm.horizontalAdvance(QChar(c)) + fm.horizontalAdvance(QChar(c + ('a' - 'A')));
    EXPECT_NEAR(metrics.charWidth, letters / 52, 1);
    EXPECT_EQ(metrics.charHeight, fm.height());
    // The "&" is not measured.
    EXPECT_EQ(metrics.captions[0], fm.size(Qt::TextSingleLine, QStringLiteral("はい(Y)")).width());
    EXPECT_EQ(metrics.captions[3], fm.size(Qt::TextSingleLine, QStringLiteral("すべてはい(A)")).width());
    // Two lines: the message and the file name.
    EXPECT_EQ(metrics.text.height(), 2 * fm.height());
    EXPECT_EQ(metrics.text.width(), fm.size(0, QStringLiteral("現在の設定で画像処理し、上書きします.")).width());
}

TEST(ConfirmDialogLayout, LongTextWrapsWithinHalfTheScreen)
{
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(12);
    QString name;
    for (int i = 0; i < 60; ++i)
        name += QStringLiteral("word ");
    const ConfirmMetrics metrics = measureConfirmDialog(font, confirmMessage(name), {}, 800);
    EXPECT_LE(metrics.text.width(), 400);
    EXPECT_GE(metrics.text.height(), 4 * QFontMetrics(font).height());
}

TEST(ConfirmDialogLayout, TheDialogIsBuiltAsComputed)
{
    ConfirmDialog dialog(nullptr, QStringLiteral("\tx.bmp"));
    const QScreen *screen = QGuiApplication::primaryScreen();
    const ConfirmLayout expected = layoutConfirmDialog(
        measureConfirmDialog(dialog.font(), dialog.message(), ConfirmDialog::kButtonCaptions, screen->geometry().width()));
    EXPECT_EQ(dialog.size(), expected.client);
    EXPECT_EQ(dialog.dialogLayout().text, expected.text);
    const ConfirmAnswer order[] = {ConfirmAnswer::Yes, ConfirmAnswer::No, ConfirmAnswer::Abort,
                                   ConfirmAnswer::YesToAll};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.button(order[i])->geometry(), expected.buttons[std::size_t(i)]);
}

TEST(ConfirmDialogPosition, TopEdgeAtTheMainWindowsMiddleCentredOnTheScreen)
{
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_EQ(confirmDialogPosition(QRect(100, 200, 600, 400), QSize(300, 120), screen), QPoint(490, 400));
    // Half of an odd height rounds toward zero.
    EXPECT_EQ(confirmDialogPosition(QRect(100, 200, 600, 401), QSize(301, 120), screen), QPoint(489, 400));
    // No adjustment to stay on the screen: it may hang over the bottom edge.
    EXPECT_EQ(confirmDialogPosition(QRect(0, 700, 600, 400), QSize(300, 120), screen), QPoint(490, 900));
    EXPECT_EQ(confirmDialogPosition(QRect(0, 800, 600, 446), QSize(300, 120), screen), QPoint(490, 1023));
    // A middle exactly at the top edge is not negative.
    EXPECT_EQ(confirmDialogPosition(QRect(0, -300, 600, 600), QSize(300, 120), screen), QPoint(490, 0));
    // A screen that doesn't start at the origin.
    EXPECT_EQ(confirmDialogPosition(QRect(0, 10, 10, 10), QSize(300, 120), QRect(1280, 0, 1024, 768)),
              QPoint(1280 + 362, 15));
}

TEST(ConfirmDialogPosition, MiddleAboveTheScreenCentresBothWays)
{
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_EQ(confirmDialogPosition(QRect(100, -300, 600, 400), QSize(300, 120), screen), QPoint(490, 452));
    EXPECT_EQ(confirmDialogPosition(QRect(100, -300, 600, 599), QSize(300, 121), screen), QPoint(490, 451));
}

TEST(ConfirmDialogPosition, ADialogThatWouldStartBelowTheScreenIsCentredToo)
{
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_EQ(confirmDialogPosition(QRect(0, 900, 600, 400), QSize(300, 120), screen), QPoint(490, 452));
    EXPECT_EQ(confirmDialogPosition(QRect(0, 824, 600, 400), QSize(300, 120), screen), QPoint(490, 452));
}

TEST(ConfirmDialogPosition, TheDialogGoesBelowTheMiddleOfItsMainWindow)
{
    QWidget mainWindow;
    mainWindow.setGeometry(40, 70, 500, 301);
    mainWindow.show();
    ConfirmDialog dialog(&mainWindow, QStringLiteral("1.bmp"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect frame = mainWindow.frameGeometry();
    const QSize outer = outerSizeLike(&mainWindow, dialog.size());
    EXPECT_EQ(dialog.pos(), QPoint(screen.left() + (screen.width() - outer.width()) / 2, frame.top() + frame.height() / 2));
}

}  // namespace
}  // namespace tovi::ui
