// The application's error handler: the message rule, the box it shows, the
// silent kind, and errors escaping event handlers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "fixture.h"
#include "platform/errors.h"
#include "ui/common/window_frames.h"
#include "ui/main/application.h"

namespace tovi::test {
namespace {

using ui::errorMessageText;

struct TextCase {
    const char *message;
    const char *shown;
};

class ErrorMessageText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorMessageText, AppendsAFullStopAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(errorMessageText(QString::fromUtf8(GetParam().message)), QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorMessageText,
    ::testing::Values(TextCase{"", ""}, TextCase{"abc", "abc."}, TextCase{"abc.", "abc."},
                      TextCase{"abc/", "abc/."},  // "/" is 0x2F
                      TextCase{"abc-", "abc-"},   // "-" is 0x2D
                      TextCase{"(x)", "(x)"}, TextCase{"a ", "a "}, TextCase{"line\r\n", "line\r\n"},
                      TextCase{"9", "9."},
                      // A double-byte character sorts after "." by its lead byte.
                      TextCase{"ファイルは開けません", "ファイルは開けません."}, TextCase{"終わり。", "終わり。."},
                      TextCase{"絵文字😀", "絵文字😀."}));

struct ShownBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::WindowFlags flags;
};

ShownBox closeBox(QWidget *window)
{
    ShownBox shown;
    auto *box = qobject_cast<QMessageBox *>(window);
    if (!box)
        return shown;
    shown = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->windowFlags()};
    QTest::keyClick(box, Qt::Key_Return);
    return shown;
}

TEST(ErrorHandler, ShowsTheMessageCaptionedWithTheApplicationTitle)
{
    ui::setApplicationTitle(QStringLiteral("Tovi for XP -[a.bmp]"));
    ShownBox shown;
    ModalDriver driver;
    driver.then([&](QWidget *w) { shown = closeBox(w); });
    ui::handleException(FileCreateError("ファイル x を作成できません"));
    EXPECT_EQ(driver.handled(), 1);
    EXPECT_EQ(shown.title, QStringLiteral("Tovi for XP -[a.bmp]"));
    EXPECT_EQ(shown.text, QStringLiteral("ファイル x を作成できません."));
    EXPECT_EQ(shown.icon, QMessageBox::Critical);
    EXPECT_EQ(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // A dialog frame with a close box only (the box may add the fixed-size
    // hint once it has laid itself out; it means nothing on X11).
    EXPECT_EQ(shown.flags & ~Qt::WindowFlags(Qt::MSWindowsFixedSizeDialogHint), ui::closeBoxDialogFlags());
    ui::setApplicationTitle(QString::fromUtf8(ui::kApplicationTitle));
}

TEST(ErrorHandler, SilentAbortShowsNothingAndReleasesTheMouse)
{
    QWidget widget;
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    widget.grabMouse();
    ASSERT_EQ(QWidget::mouseGrabber(), &widget);
    ModalDriver driver;
    driver.then([](QWidget *w) { closeBox(w); });
    ui::handleException(SilentAbort());
    settle();
    EXPECT_EQ(driver.handled(), 0);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

// An object whose event handler fails, as a command's handler may.
class Failing : public QObject {
public:
    int handled = 0;
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        throw PictureOperationError("スキャンライン のインデックスが範囲を越えました");
    }
};

TEST(ErrorHandler, ErrorsLeavingEventHandlersAreShownAndTheProgramGoesOn)
{
    ASSERT_NE(dynamic_cast<ui::TApplication *>(QApplication::instance()), nullptr);
    Failing failing;
    ShownBox shown;
    ModalDriver driver;
    driver.then([&](QWidget *w) { shown = closeBox(w); }).then([&](QWidget *w) { closeBox(w); });
    QApplication::postEvent(&failing, new QEvent(QEvent::User));
    settle();
    EXPECT_EQ(shown.text, QStringLiteral("スキャンライン のインデックスが範囲を越えました."));
    // The loop still delivers the next event.
    QApplication::postEvent(&failing, new QEvent(QEvent::User));
    settle();
    EXPECT_EQ(failing.handled, 2);
    EXPECT_EQ(driver.handled(), 2);
}

}  // namespace
}  // namespace tovi::test
