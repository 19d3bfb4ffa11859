// Start-up and the window shell: the command-line picture, caption and
// application title, the help file name, the layout and the menus, and exit.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QToolButton>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>

#include "fixture.h"
#include "ui/main/application.h"

namespace tovi::test {
namespace {

const QString kTitle = QStringLiteral("Tovi for XP");
// Long enough for a file header, without the "BM" signature.
const Bytes kNotABitmap = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'i', 't', 'm', 'a', 'p', ' ', 'a', 't', ' ', 'a', 'l', 'l'};

using StartUp = MainFormTest;

TEST_F(StartUp, WithoutArgumentsShowsNoPictureAndTheDefaults)
{
    ui::TMainForm &form = start();
    EXPECT_EQ(form.windowTitle(), kTitle);
    EXPECT_EQ(ui::applicationTitle(), kTitle);
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("ColorFormat"));
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
    EXPECT_EQ(form.color2(), 0x00000000u);
    EXPECT_EQ(form.currentMode(), 19);
    EXPECT_FALSE(form.picking());
    EXPECT_TRUE(form.fileName().isEmpty());
    EXPECT_TRUE(form.acceptDrops());
    EXPECT_TRUE(form.windowFlags() & Qt::WindowContextHelpButtonHint);
    // Unlike the dialogs, it keeps its system menu, minimise and maximise.
    for (Qt::WindowType button : {Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint})
        EXPECT_TRUE(form.windowFlags() & button) << button;
}

class CommandLineBmp : public MainFormTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(CommandLineBmp, OpensWhateverTheCaseOfItsExtension)
{
    const QString name = QString::fromLatin1(GetParam());
    const QString path = writeFile(name, bmp24Filled(4, 3, 0x000000FF));
    ui::TMainForm &form = start({path});
    EXPECT_TRUE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), kTitle + QStringLiteral(" -[") + name + QLatin1Char(']'));
    EXPECT_EQ(ui::applicationTitle(), form.windowTitle());
    EXPECT_EQ(form.fileName(), path);
    EXPECT_EQ(form.Image1->size(), QSize(4, 3));
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("24bit : TrueColorビットマップ"));
}

INSTANTIATE_TEST_SUITE_P(Names, CommandLineBmp, ::testing::Values("a.bmp", "SCAN.BMP", "Mixed.BmP", "two.dots.bmp"));

class CommandLineOther : public MainFormTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(CommandLineOther, IsIgnoredWithoutAMessage)
{
    // Valid BMP content under a name that isn't taken as a BMP.
    const QString path = writeFile(QString::fromLatin1(GetParam()), bmp24Filled(4, 3, 0));
    ModalDriver driver;
    driver.then([](QWidget *w) { w->close(); });
    ui::TMainForm &form = start({path});
    EXPECT_EQ(driver.handled(), 0);
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), kTitle);
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("ColorFormat"));
}

INSTANTIATE_TEST_SUITE_P(Names, CommandLineOther, ::testing::Values("a.bmp.txt", "a.dib", "noextension", "a.bmpx"));

TEST_F(StartUp, ADotInTheFolderIsNoExtension)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(m_dir.file("pics.bmp"))));
    const QString path = writeFile(QStringLiteral("pics.bmp/picture"), bmp24Filled(2, 2, 0));
    ui::TMainForm &form = start({path});
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), kTitle);
}

TEST_F(StartUp, OnlyTheFirstArgumentIsLookedAt)
{
    const QString first = writeFile(QStringLiteral("first.bmp"), bmp24Filled(2, 2, 0));
    const QString second = writeFile(QStringLiteral("second.bmp"), bmp24Filled(3, 3, 0));
    const QString text = writeFile(QStringLiteral("notes.txt"), Bytes{'x'});
    {
        ui::TMainForm &form = start({first, second});
        EXPECT_EQ(form.windowTitle(), kTitle + QStringLiteral(" -[first.bmp]"));
        EXPECT_EQ(form.Image1->size(), QSize(2, 2));
    }
    ui::TMainForm &form = start({text, second});
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), kTitle);
}

TEST_F(StartUp, MissingFileIsReportedAndTheWindowStillComes)
{
    const QString path = QString::fromStdString(m_dir.file("missing.bmp"));
    QString boxTitle, boxText;
    ModalDriver driver;
    driver.then([&](QWidget *w) {
        boxTitle = w->windowTitle();
        boxText = qobject_cast<QMessageBox *>(w)->text();
        QTest::keyClick(w, Qt::Key_Return);
    });
    ui::TMainForm &form = start({path});
    EXPECT_EQ(driver.handled(), 1);
    // The file name was recorded before the file was read.
    EXPECT_EQ(boxTitle, kTitle + QStringLiteral(" -[missing.bmp]"));
    EXPECT_TRUE(boxText.contains(QStringLiteral("missing.bmp"))) << boxText.toStdString();
    EXPECT_TRUE(boxText.endsWith(QLatin1Char('.')));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), kTitle + QStringLiteral(" -[missing.bmp]"));
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("ColorFormat"));
}

TEST_F(StartUp, MalformedContentEntersTheUnsupportedStateWithoutAMessage)
{
    const QString path = writeFile(QStringLiteral("broken.bmp"), kNotABitmap);
    ModalDriver driver;
    driver.then([](QWidget *w) { w->close(); });
    ui::TMainForm &form = start({path});
    EXPECT_EQ(driver.handled(), 0);
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.StaticText1->text(), QStringLiteral("未サポートフォーマット"));
    EXPECT_EQ(form.windowTitle(), kTitle + QStringLiteral(" -[broken.bmp]"));
}

TEST_F(StartUp, HelpFileIsMadeAbsoluteBesideTheExecutable)
{
    start();
    EXPECT_EQ(ui::applicationHelpFile(), QApplication::applicationDirPath() + QStringLiteral("/ToviXP.chm"));
}

TEST_F(StartUp, SetFileNameKeepsCaptionTitleAndBothDialogsInStep)
{
    ui::TMainForm &form = start();
    form.SetFileName(QStringLiteral("/some/folder/picture.bmp"));
    EXPECT_EQ(form.windowTitle(), kTitle + QStringLiteral(" -[picture.bmp]"));
    EXPECT_EQ(ui::applicationTitle(), form.windowTitle());
    EXPECT_EQ(form.openDialogFileName(), QStringLiteral("/some/folder/picture.bmp"));
    EXPECT_EQ(form.saveDialogFileName(), QStringLiteral("/some/folder/picture.bmp"));
    EXPECT_EQ(form.fileName(), QStringLiteral("/some/folder/picture.bmp"));
    form.SetFileName(QString());
    EXPECT_EQ(form.windowTitle(), kTitle);
    EXPECT_EQ(ui::applicationTitle(), kTitle);
    EXPECT_TRUE(form.openDialogFileName().isEmpty());
    EXPECT_TRUE(form.saveDialogFileName().isEmpty());
}

TEST_F(StartUp, WindowAndBarsHaveTheirDesignedSizes)
{
    ui::TMainForm &form = start();
    // Without a window frame the outer size is the window's own.
    EXPECT_EQ(form.frameGeometry(), QRect(197, 111, 504, 561));
    EXPECT_EQ(form.minimumSize() + (form.frameGeometry().size() - form.size()), QSize(160, 80));
    EXPECT_EQ(form.ToolBar1->height(), 33);
    EXPECT_EQ(form.Panel1->height(), 24);
    EXPECT_EQ(form.ColorPanel1->geometry(), QRect(48, 0, 33, 17));
    EXPECT_EQ(form.ColorPanel2->geometry(), QRect(80, 0, 33, 17));
    EXPECT_EQ(form.StatusBar->height(), 19);
    // The format label is docked right, as high as the bar above its bevel.
    EXPECT_EQ(form.StaticText1->geometry().right(), form.Panel1->width() - 1);
    // The view fills what is left, from under the colour bar to the status bar.
    EXPECT_EQ(form.ScrollBox1->y(), form.Panel1->geometry().bottom() + 1);
    EXPECT_EQ(form.Image1->pos(), QPoint(5, 5));
}

TEST_F(StartUp, FormatLabelWidthFollowsItsText)
{
    ui::TMainForm &form = start();
    const int initial = form.StaticText1->width();
    open(writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0)));
    EXPECT_GT(form.StaticText1->width(), initial);
    EXPECT_EQ(form.StaticText1->geometry().right(), form.Panel1->width() - 1);
    const int fits = form.StaticText1->fontMetrics().horizontalAdvance(form.StaticText1->text());
    EXPECT_GE(form.StaticText1->width(), fits);
    EXPECT_LE(form.StaticText1->width(), fits + 8);
}

TEST_F(StartUp, ToolBarHoldsItsTenButtonsInOrder)
{
    ui::TMainForm &form = start();
    const std::vector<std::pair<QWidget *, QAction *>> expected = {
        {form.ToolButton1, form.OpenPicture1}, {form.ToolButton9, form.EditPaste1}, {form.ToolButton3, nullptr},
        {form.ToolButton4, form.ColorPick1},   {form.ToolButton5, form.ColorPick2}, {form.ToolButton6, nullptr},
        {form.ToolButton7, form.ColorProcRun}, {form.ToolButton8, nullptr},        {form.ToolButton2, form.SavePicture1},
        {form.ToolButton10, form.EditCopy1}};
    int lastX = -1;
    for (const auto &[widget, action] : expected) {
        EXPECT_GT(widget->x(), lastX) << widget->objectName().toStdString();
        lastX = widget->x();
        if (action)
            EXPECT_EQ(static_cast<QToolButton *>(widget)->defaultAction(), action);
        else
            EXPECT_EQ(widget->width(), 8);
    }
    // Left indent 5 inside a border of 1.
    EXPECT_EQ(form.ToolButton1->x(), 6);
    EXPECT_EQ(form.ToolButton7->popupMode(), QToolButton::MenuButtonPopup);
    EXPECT_EQ(form.ToolButton7->menu(), form.ModeMenu);
    for (QAbstractButton *b : {form.ToolButton4, form.ToolButton5})
        EXPECT_TRUE(b->isCheckable());
}

QStringList entries(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

TEST_F(StartUp, MenusHoldEveryEntryInOrder)
{
    ui::TMainForm &form = start();
    QStringList titles;
    for (const QAction *a : form.MainMenu1->actions())
        titles << a->text() + QLatin1Char('|') + a->statusTip();
    EXPECT_EQ(titles, QStringList({QStringLiteral("ファイル(&F)|ファイルに関連するコマンド"),
                                   QStringLiteral("編集(&E)|編集コマンド"), QStringLiteral("処理(&P)|処理の設定"),
                                   QStringLiteral("表示(&V)|画像の表示の拡大と縮小"), QStringLiteral("ヘルプ(&H)|ヘルプトピック")}));
    EXPECT_EQ(entries(form.FileMenu), QStringList({"画像を開く(&O)...", "画像の保存(&S)...", "-", "複数画像を処理...", "-",
                                                   "終了(&X)"}));
    EXPECT_EQ(entries(form.EditMenu),
              QStringList({"元に戻す(&U)", "やり直し(&R)", "-", "貼り付け(&P)", "コピー(&C)", "-", "画像から色1を抽出", "画像から色2を抽出", "色1の設定", "色2の設定",
                           "-", "色交換実行", "色反転実行", "グレースケール実行", "反転＆グレースケール", "-", "モード変更"}));
    const QStringList modes({"色交換モード", "色反転モード", "グレースケールモード", "反転＆グレースケール"});
    EXPECT_EQ(entries(form.ModeChangeMenu), modes);
    EXPECT_EQ(entries(form.ModeMenu), modes);
    EXPECT_EQ(entries(form.HelpMenu), QStringList({"ヘルプ(&H)", "バージョン情報(&A)..."}));
    EXPECT_EQ(entries(form.ProcessMenu), QStringList({"許容差(&T)...", "グレースケールの計算(&C)"}));
    EXPECT_EQ(entries(form.GrayFormulaMenu), QStringList({"単純平均(&M)", "BT.601 の輝度(&6)", "BT.709 の輝度(&7)"}));
    EXPECT_EQ(entries(form.ViewMenu),
              QStringList({"拡大(&I)", "縮小(&O)", "-", "実際のサイズ(&A)", "ウィンドウに合わせる(&W)"}));
    EXPECT_EQ(form.FileExit1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    // Tooltips show on the tool bar only.
    for (const QMenu *menu : {form.FileMenu, form.EditMenu, form.ModeChangeMenu, form.HelpMenu, form.ModeMenu})
        EXPECT_FALSE(menu->toolTipsVisible());
}

TEST_F(StartUp, ExitClosesAtOnceWithAProcessedUnsavedPicture)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(3, 3, 0))});
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
    ModalDriver driver;
    driver.then([](QWidget *w) { w->close(); });
    form.FileExit1->trigger();
    settle();
    EXPECT_EQ(driver.handled(), 0);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(StartUp, AltF4EndsTheProgram)
{
    ui::TMainForm &form = start();
    QTest::keyClick(&form, Qt::Key_F4, Qt::AltModifier);
    settle();
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace tovi::test
