// Files dropped on the main window: one BMP opens, one other file does
// nothing, several start the batch run with the BMP names among them (also
// with none), after bringing the window to the front.

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "files_fixture.h"
#include "ui/batch/confirm_dialog.h"
#include "ui/batch/result_form.h"

namespace tovi::test {
namespace {

class Drops : public FilesTest {
protected:
    // A step answering the batch run's question about `expected` with No.
    ModalDriver::Step skip(const QString &expected)
    {
        return [this, expected](QWidget *window) {
            auto *dialog = qobject_cast<ui::ConfirmDialog *>(window);
            ASSERT_NE(dialog, nullptr) << "expected the question about " << expected.toStdString();
            asked.append(dialog->message().section(QStringLiteral("\n\r"), -1));
            geometryDuringRun = m_form->geometry();
            dialog->button(ui::ConfirmAnswer::No)->click();
        };
    }

    // A step closing the batch result window.
    ModalDriver::Step result()
    {
        return [this](QWidget *window) {
            auto *form = qobject_cast<ui::TResultForm *>(window);
            ASSERT_NE(form, nullptr) << "expected the batch result window";
            resultShown = true;
            resultLines = form->RichEdit1->document()->blockCount();
            form->Button1->click();
        };
    }

    QStringList asked;
    bool resultShown = false;
    int resultLines = 0;
    QRect geometryDuringRun;
};

TEST_F(Drops, OneBmpNamedInCapitalsOpens)
{
    ui::TMainForm &form = start();
    WindowWatch watch(&form);
    const QString name = writeFile(QStringLiteral("SCAN.BMP"), bmp24Colors(3, 2, kSixColors));
    drop({name});
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("SCAN.BMP")));
    EXPECT_EQ(form.fileName(), name);
    ASSERT_TRUE(form.pictureShown());
    EXPECT_EQ(shownColor(2, 0), kSixColors[2]);
    EXPECT_EQ(watch.raised, 0) << "one dropped file doesn't bring the window to the front";
}

TEST_F(Drops, OneOtherFileDoesNothingAtAll)
{
    ui::TMainForm &form = start({sixColors()});
    const QString caption = form.windowTitle();
    WindowWatch watch(&form);
    QStringList seen;
    ModalDriver driver;
    driver.then(unexpected(&seen));
    // Content that would read as a BMP: only the name decides.
    drop({writeFile(QStringLiteral("scan.png"), bmp24Filled(4, 4, 0))});
    EXPECT_EQ(seen, QStringList());
    EXPECT_EQ(form.windowTitle(), caption);
    EXPECT_EQ(formatLabel(), QStringLiteral("24bit : TrueColorビットマップ"));
    EXPECT_EQ(form.Image1->size(), QSize(3, 2));
    EXPECT_EQ(watch.raised, 0);
}

TEST_F(Drops, OneBmpWithBadContentGivesTheUnsupportedStateSilently)
{
    ui::TMainForm &form = start({sixColors()});
    QStringList seen;
    ModalDriver driver;
    driver.then(unexpected(&seen));
    const char text[] = "a letter, not a picture";
    drop({writeFile(QStringLiteral("bad.bmp"), Bytes(text, text + sizeof text))});
    EXPECT_EQ(seen, QStringList());
    EXPECT_EQ(formatLabel(), QStringLiteral("未サポートフォーマット"));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("bad.bmp")));
}

TEST_F(Drops, ThreeFilesWithOneBmpStartABatchOfOne)
{
    ui::TMainForm &form = start();
    const QRect before = form.geometry();
    // Another window is in front when the files arrive.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_EQ(QApplication::activeWindow(), &other);
    WindowWatch watch(&form);
    const QString picture = writeFile(QStringLiteral("scan.bmp"), bmp24Filled(2, 2, 0));
    const Bytes content = readFile(picture.toStdString());
    ModalDriver driver;
    driver.then(skip(QStringLiteral("scan.bmp"))).then(result());
    drop({writeFile(QStringLiteral("notes.txt"), Bytes{'x'}), picture,
          writeFile(QStringLiteral("photo.jpg"), Bytes{'y'})});
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(asked, QStringList{QStringLiteral("scan.bmp")});
    EXPECT_TRUE(resultShown);
    EXPECT_GE(watch.raised, 1) << "several dropped files bring the window to the front";
    EXPECT_GE(watch.activated, 1);
    EXPECT_EQ(geometryDuringRun, before);
    EXPECT_EQ(form.geometry(), before);
    // Skipped: untouched, and the window's own state is not the run's.
    EXPECT_EQ(readFile(picture.toStdString()), content);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tovi for XP"));
}

TEST_F(Drops, TwoFilesWithoutBmpStillStartTheBatchWithAnEmptyList)
{
    ui::TMainForm &form = start();
    WindowWatch watch(&form);
    ModalDriver driver;
    driver.then(result());
    drop({writeFile(QStringLiteral("a.png"), Bytes{'x'}), writeFile(QStringLiteral("b.bmp.txt"), Bytes{'y'})});
    EXPECT_TRUE(driver.done());
    EXPECT_TRUE(resultShown) << "the run with no names still shows its result";
    EXPECT_GE(watch.raised, 1);
}

TEST_F(Drops, SeveralBmpsAreAskedAboutInDropOrder)
{
    start();
    const QString b = writeFile(QStringLiteral("b.bmp"), bmp24Filled(1, 1, 0));
    const QString a = writeFile(QStringLiteral("A.Bmp"), bmp24Filled(1, 1, 0));
    const QString c = writeFile(QStringLiteral("c.bmp"), bmp24Filled(1, 1, 0));
    ModalDriver driver;
    driver.then(skip(QStringLiteral("b.bmp")))
        .then(skip(QStringLiteral("A.Bmp")))
        .then(skip(QStringLiteral("c.bmp")))
        .then(result());
    drop({b, writeFile(QStringLiteral("readme"), Bytes{'r'}), a, c});
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(asked, (QStringList{QStringLiteral("b.bmp"), QStringLiteral("A.Bmp"), QStringLiteral("c.bmp")}));
}

}  // namespace
}  // namespace tovi::test
