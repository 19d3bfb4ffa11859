// Actions: the list as stored, the enabling rules on idle and before each
// action runs, choosing and running the processing mode, the pick commands
// and colour selection.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include "fixture.h"
#include "platform/errors.h"

namespace tovi::test {
namespace {

using ui::TAction;

struct ActionRow {
    const char *name;
    const char *category;
    const char *caption;
    QKeySequence shortcut;
    int glyph;
    int help;
    bool enabled;
    const char *hint;
};

TEST(ActionTable, EveryActionAsStored)
{
    const std::vector<ActionRow> rows = {
        {"ColorProcRun", "連続モード", "ColorChange1", {}, 19, help::kHelpContextMode, true, ""},
        {"ColorPick1", "編集", "画像から色1を抽出", {}, 15, help::kHelpContextColorPick, false, "色抽出|画像から色1を抽出する"},
        {"ColorPick2", "編集", "画像から色2を抽出", {}, 15, help::kHelpContextColorPick, false, "色抽出|画像から色2を抽出する"},
        {"FileExit1", "ファイル", "終了(&X)", QKeySequence(Qt::ALT | Qt::Key_F4), -1, help::kHelpContextFileExit, true, "終了|アプリケーションの終了"},
        {"HelpAbout1", "Help", "バージョン情報(&A)...", {}, -1, help::kHelpContextHelpAbout, true,
         "バージョン情報|プログラム情報，バージョン番号，および著作権を表示"},
        {"OpenPicture1", "ダイアログ", "画像を開く(&O)...", QKeySequence(Qt::CTRL | Qt::Key_O), 7, help::kHelpContextOpenPicture, true, "画像を開く"},
        {"SavePicture1", "ダイアログ", "画像の保存(&S)...", QKeySequence(Qt::CTRL | Qt::Key_S), 8, help::kHelpContextSavePicture, false, "画像の保存"},
        {"ColorSelect1", "ダイアログ", "色の指定(&C)...", {}, -1, help::kHelpContextNone, true, "色の指定"},
        {"modeChange", "連続モード", "色交換モード", {}, 19, help::kHelpContextMode, true, "交換モード|画像の色1と色2を交換する"},
        {"modeInv", "連続モード", "色反転モード", {}, 20, help::kHelpContextMode, true, "反転モード|画像の色域を反転する"},
        {"modeGray", "連続モード", "グレースケールモード", {}, 21, help::kHelpContextMode, true,
         "グレースケールモード|画像をグレースケール|グレースケール(モノトーン)化する"},
        {"modeInvGray", "連続モード", "反転＆グレースケール", {}, 22, help::kHelpContextMode, true,
         "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する"},
        {"ColorSelectAction1", "編集", "色1の設定", {}, -1, help::kHelpContextColorSelect, true, "色選択|色1を設定する"},
        {"ColorSelectAction2", "編集", "色2の設定", {}, -1, help::kHelpContextColorSelect, true, "色選択|色2を設定する"},
        {"EditCopy1", "編集", "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C), 16, help::kHelpContextEditCopy, false,
         "コピー|選択範囲をクリップボードにコピー"},
        {"EditPaste1", "編集", "貼り付け(&P)", QKeySequence(Qt::CTRL | Qt::Key_V), 17, help::kHelpContextEditPaste, true,
         "貼り付け|クリップボードの内容を貼り付ける"},
        {"ColorChange", "編集", "色交換実行", {}, 19, help::kHelpContextColorChange, false, "交換実行|画像の色1と色2を交換する"},
        {"SelectPictures", "ダイアログ", "複数画像を処理...", {}, -1, help::kHelpContextSelectPictures, true, "複数の画像を選択し一度に処理する"},
        {"HelpOpen", "Help", "ヘルプ(&H)", QKeySequence(Qt::Key_F1), 18, help::kHelpContextHelpOpen, true, ""},
        {"ColorInv", "編集", "色反転実行", {}, 20, help::kHelpContextColorInv, false, "反転実行|画像の色域を反転する"},
        {"ColorGray", "編集", "グレースケール実行", {}, 21, help::kHelpContextColorGray, false, "画像をグレースケール|グレースケール(モノトーン)化する"},
        {"ColorInvGray", "編集", "反転＆グレースケール", {}, 22, help::kHelpContextColorInvGray, false,
         "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する"},
        {"EditUndo1", "編集", "元に戻す(&U)", QKeySequence(Qt::CTRL | Qt::Key_Z), -1, 1210, false,
         "元に戻す|直前の色の変更または貼り付けを取り消す"},
        {"EditRedo1", "編集", "やり直し(&R)", QKeySequence(Qt::CTRL | Qt::Key_Y), -1, 1211, false,
         "やり直し|取り消した色の変更または貼り付けをもう一度行う"},
        // Additions: the swap's tolerance, the gray formulas and the zoom.
        {"ColorTolerance", "処理", "許容差(&T)...", {}, -1, 1212, true,
         "許容差|色交換で、色1と色2の間の色 (アンチエイリアスの縁) も反対側へ写す範囲を設定する"},
        {"GrayFormulaMean", "処理", "単純平均(&M)", {}, -1, 1213, true, "単純平均|赤・緑・青の単純な平均を灰色の明るさにする"},
        {"GrayFormulaRec601", "処理", "BT.601 の輝度(&6)", {}, -1, 1213, true,
         "BT.601|0.299 R + 0.587 G + 0.114 B (見た目の明るさ) を灰色の明るさにする"},
        {"GrayFormulaRec709", "処理", "BT.709 の輝度(&7)", {}, -1, 1213, true,
         "BT.709|0.2126 R + 0.7152 G + 0.0722 B (sRGB の明るさ) を灰色の明るさにする"},
        {"ViewZoomIn", "表示", "拡大(&I)", QKeySequence(Qt::CTRL | Qt::Key_Plus), -1, 1401, false,
         "拡大|画像を拡大して表示する (Ctrl+ホイール)"},
        {"ViewZoomOut", "表示", "縮小(&O)", QKeySequence(Qt::CTRL | Qt::Key_Minus), -1, 1401, false,
         "縮小|画像を縮小して表示する (Ctrl+ホイール)"},
        {"ViewActualSize", "表示", "実際のサイズ(&A)", QKeySequence(Qt::CTRL | Qt::Key_0), -1, 1401, false,
         "実際のサイズ|画像を 100% で表示する"},
        {"ViewFitToWindow", "表示", "ウィンドウに合わせる(&W)", {}, -1, 1401, false,
         "ウィンドウに合わせる|大きな画像をウィンドウに収まるように縮小して表示する"},
    };
    // Before the first idle pass the actions hold their stored state.
    ui::TMainForm form;
    const QList<TAction *> &actions = form.ActionList1->actions();
    ASSERT_EQ(actions.size(), qsizetype(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ActionRow &row = rows[i];
        const TAction *a = actions[qsizetype(i)];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(a->objectName(), QString::fromUtf8(row.name));
        EXPECT_EQ(a->category(), QString::fromUtf8(row.category));
        EXPECT_EQ(a->text(), QString::fromUtf8(row.caption));
        EXPECT_EQ(a->shortcut(), row.shortcut);
        EXPECT_EQ(a->imageIndex(), row.glyph);
        EXPECT_EQ(a->icon().isNull(), row.glyph < 0);
        EXPECT_EQ(a->helpContext(), row.help);
        EXPECT_EQ(a->isEnabled(), row.enabled);
        // The plain mean is the gray formula at start; nothing else is checked.
        EXPECT_EQ(a->isChecked(), a == form.GrayFormulaMean);
        EXPECT_EQ(a->hint(), QString::fromUtf8(row.hint));
    }
    for (const TAction *a : {form.ColorProcRun, form.ColorSelect1, form.modeInv, form.modeGray, form.modeInvGray,
                             form.ColorInv, form.ColorGray, form.ColorInvGray})
        EXPECT_EQ(a->helpType(), TAction::HelpType::Keyword) << a->objectName().toStdString();
    EXPECT_EQ(form.OpenPicture1->helpType(), TAction::HelpType::Context);
}

using Enabling = MainFormTest;

const std::vector<const char *> kPictureCommands = {"ColorPick1", "ColorPick2", "ColorChange", "EditCopy1",
                                                    "SavePicture1", "ColorInv", "ColorGray", "ColorInvGray"};

TAction *actionNamed(ui::TMainForm &form, const char *name)
{
    return form.findChild<TAction *>(QString::fromLatin1(name));
}

TEST_F(Enabling, PictureCommandsFollowWhetherAPictureIsShown)
{
    ui::TMainForm &form = start();
    for (const char *name : kPictureCommands)
        EXPECT_FALSE(actionNamed(form, name)->isEnabled()) << name;
    for (QWidget *b : {form.ToolButton4, form.ToolButton5, form.ToolButton2, form.ToolButton10})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(form.ColorProcRun->isEnabled());
    EXPECT_TRUE(form.ToolButton7->isEnabled());

    open(writeFile(QStringLiteral("p.bmp"), bmp24Filled(3, 3, 0)));
    for (const char *name : kPictureCommands)
        EXPECT_TRUE(actionNamed(form, name)->isEnabled()) << name;
    for (QWidget *b : {form.ToolButton4, form.ToolButton5, form.ToolButton2, form.ToolButton10})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

    open(writeFile(QStringLiteral("bad.bmp"), Bytes(20, 'x')));
    for (const char *name : kPictureCommands)
        EXPECT_FALSE(actionNamed(form, name)->isEnabled()) << name;
}

TEST_F(Enabling, RunButtonWithoutAPictureDoesNothing)
{
    ui::TMainForm &form = start();
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton);
    settle();
    EXPECT_FALSE(form.pictureShown());
    EXPECT_EQ(form.Image1->bitmap(), nullptr);
}

TEST_F(Enabling, PasteFollowsTheClipboard)
{
    ui::TMainForm &form = start();
    QApplication::clipboard()->setText(QStringLiteral("text only"));
    settle();
    EXPECT_FALSE(form.EditPaste1->isEnabled());
    EXPECT_FALSE(form.ToolButton9->isEnabled());
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QApplication::clipboard()->setImage(image);
    settle();
    EXPECT_TRUE(form.EditPaste1->isEnabled());
    EXPECT_TRUE(form.ToolButton9->isEnabled());
    QApplication::clipboard()->clear();
}

TEST_F(Enabling, DisabledShortcutDoesNotRunItsCommand)
{
    ui::TMainForm &form = start();
    int saves = 0;
    form.SavePicture1->onExecute = [&] { ++saves; };
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_EQ(saves, 0);
    open(writeFile(QStringLiteral("p.bmp"), bmp24Filled(3, 3, 0)));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_EQ(saves, 1);
}

TEST_F(Enabling, RulesRunAgainJustBeforeAnActionRuns)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(3, 3, 0))});
    ASSERT_TRUE(form.ColorChange->isEnabled());
    int runs = 0;
    form.ColorChange->onExecute = [&] { ++runs; };
    // The picture goes away with no idle time in between: the action still
    // looks enabled, but the rule run just before it stops it.
    form.NoSupportGraphic();
    ASSERT_TRUE(form.ColorChange->isEnabled());
    form.ColorChange->trigger();
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(form.ColorChange->isEnabled());
}

TEST_F(Enabling, AnErrorInACommandIsShownAndTheWindowGoesOn)
{
    ui::TMainForm &form = start();
    form.OpenPicture1->onExecute = [] { throw FileOpenError("ファイル \"x.bmp\" は開けません。No such file"); };
    QString text;
    ModalDriver driver;
    driver.then([&](QWidget *w) {
        text = w->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))->text();
        QTest::keyClick(w, Qt::Key_Return);
    });
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    settle();
    EXPECT_EQ(text, QStringLiteral("ファイル \"x.bmp\" は開けません。No such file."));
    EXPECT_TRUE(form.isVisible());
}

TEST_F(Enabling, F1RunsTheHelpCommandWhichTellsThePickingMode)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0))});
    std::vector<bool> pickingSeen;
    form.setHelpOpenHandler([&] { pickingSeen.push_back(form.picking()); });
    QTest::keyClick(&form, Qt::Key_F1);
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    QTest::keyClick(&form, Qt::Key_F1);
    EXPECT_EQ(pickingSeen, (std::vector<bool>{false, true}));
}

// ---------------------------------------------------------------------------

using Modes = MainFormTest;

// A 2 x 2 picture: red, (0, 0, 2), white, black.
const std::vector<ColorRef> kFour = {0x000000FF, 0x00020000, 0x00FFFFFF, 0x00000000};

std::vector<ColorRef> pixels(const ui::TMainForm &form)
{
    std::vector<ColorRef> out;
    const picture::Bitmap *b = form.Image1->bitmap();
    for (int y = 0; y < b->height(); ++y)
        for (int x = 0; x < b->width(); ++x)
            out.push_back(b->pixel(x, y));
    return out;
}

void chooseFromDropDown(ui::TMainForm &form, TAction *mode)
{
    ModalDriver driver;
    driver.then([&](QWidget *popup) {
        auto *menu = qobject_cast<QMenu *>(popup);
        ASSERT_EQ(menu, form.ModeMenu);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(mode).center());
    });
    // The arrow part of the run button opens the mode menu.
    QTest::mousePress(form.ToolButton7, Qt::LeftButton, {}, QPoint(form.ToolButton7->width() - 4, 10));
    settle();
    ASSERT_EQ(driver.handled(), 1);
}

TEST_F(Modes, ChoosingGrayscaleFromTheDropDownChangesTheRunButtonOnly)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(2, 2, kFour))});
    ASSERT_EQ(form.ToolButton7->toolTip(), QString());
    chooseFromDropDown(form, form.modeGray);
    EXPECT_EQ(form.ColorProcRun->imageIndex(), 21);
    EXPECT_EQ(form.ColorProcRun->text(), QStringLiteral("グレースケールモード"));
    EXPECT_EQ(form.ColorProcRun->helpContext(), help::kHelpContextMode);
    EXPECT_EQ(form.ToolButton7->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
              form.ImageList1.image(21).convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(form.ToolButton7->toolTip(), QStringLiteral("グレースケールモード"));
    // The status text is everything after the first "|", the second one included.
    EXPECT_EQ(form.ToolButton7->statusTip(), QStringLiteral("画像をグレースケール|グレースケール(モノトーン)化する"));
    hover(form.ToolButton7, QPoint(8, 8));
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("画像をグレースケール|グレースケール(モノトーン)化する"));
    // Choosing a mode processes nothing, and no mode action is checked.
    EXPECT_EQ(pixels(form), kFour);
    for (TAction *a : {form.modeChange, form.modeInv, form.modeGray, form.modeInvGray})
        // The plain mean is the gray formula at start; nothing else is checked.
        EXPECT_EQ(a->isChecked(), a == form.GrayFormulaMean);

    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    settle();
    // Plain means: (255+0+0)/3 = 85, (2+0+0)/3 = 0.
    EXPECT_EQ(pixels(form), (std::vector<ColorRef>{0x555555, 0, 0xFFFFFF, 0}));
}

struct ModeCase {
    const char *modeAction;
    std::vector<ColorRef> result;
};

class RunMode : public MainFormTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RunMode, RunButtonAppliesTheChosenMode)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(2, 2, kFour))});
    form.findChild<TAction *>(QString::fromLatin1(GetParam().modeAction))->trigger();
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    settle();
    EXPECT_EQ(pixels(form), GetParam().result);
    // What is painted is the processed picture.
    const QImage shown = form.Image1->grab().toImage();
    EXPECT_EQ(colorAt(shown, 0, 0), GetParam().result[0]);
    EXPECT_EQ(colorAt(shown, 1, 1), GetParam().result[3]);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RunMode,
    ::testing::Values(ModeCase{"modeChange", {0x000000FF, 0x00020000, 0x00000000, 0x00FFFFFF}},
                      ModeCase{"modeInv", {0x00FFFF00, 0x00FDFFFF, 0x00000000, 0x00FFFFFF}},
                      ModeCase{"modeGray", {0x00555555, 0x00000000, 0x00FFFFFF, 0x00000000}},
                      ModeCase{"modeInvGray", {0x00AAAAAA, 0x00FFFFFF, 0x00000000, 0x00FFFFFF}}));

struct FixedCase {
    const char *command;
    std::vector<ColorRef> result;
};

class FixedCommand : public MainFormTest, public ::testing::WithParamInterface<FixedCase> {};

TEST_P(FixedCommand, AppliesItsOwnModeWhateverTheCurrentOne)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(2, 2, kFour))});
    form.modeInv->trigger();
    settle();
    // Through its menu entry, as a user chooses it.
    form.EditMenu->popup(form.mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.EditMenu));
    auto *command = form.findChild<TAction *>(QString::fromLatin1(GetParam().command));
    QTest::mouseClick(form.EditMenu, Qt::LeftButton, {}, form.EditMenu->actionGeometry(command).center());
    settle();
    EXPECT_EQ(pixels(form), GetParam().result);
    EXPECT_EQ(form.currentMode(), 20);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FixedCommand,
    ::testing::Values(FixedCase{"ColorChange", {0x000000FF, 0x00020000, 0x00000000, 0x00FFFFFF}},
                      FixedCase{"ColorInv", {0x00FFFF00, 0x00FDFFFF, 0x00000000, 0x00FFFFFF}},
                      FixedCase{"ColorGray", {0x00555555, 0x00000000, 0x00FFFFFF, 0x00000000}},
                      FixedCase{"ColorInvGray", {0x00AAAAAA, 0x00FFFFFF, 0x00000000, 0x00FFFFFF}}));

TEST_F(Modes, SwapUsesTheSwatchColoursOfTheMoment)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(2, 2, kFour))});
    form.ColorPanel1->setColor(0x000000FF);  // red
    form.ColorPanel2->setColor(0x00020000);
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    settle();
    EXPECT_EQ(pixels(form), (std::vector<ColorRef>{0x00020000, 0x000000FF, 0x00FFFFFF, 0x00000000}));
}

// ---------------------------------------------------------------------------

using Hints = MainFormTest;

// Clicks the edit menu's title, the pointer left on it, and waits for the menu.
void openEditMenuByClick(ui::TMainForm &form)
{
    const QPoint title = form.MainMenu1->actionGeometry(form.EditMenu->menuAction()).center();
    hover(form.MainMenu1, title);
    QTest::mouseClick(form.MainMenu1, Qt::LeftButton, {}, title);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.EditMenu));
}

TEST_F(Hints, ToolButtonsShowTheShortHalfAsTooltipAndTheLongHalfAsStatus)
{
    ui::TMainForm &form = start();
    EXPECT_EQ(form.ToolButton4->toolTip(), QStringLiteral("色抽出"));
    EXPECT_EQ(form.ToolButton4->statusTip(), QStringLiteral("画像から色1を抽出する"));
    EXPECT_EQ(form.ToolButton1->toolTip(), QStringLiteral("画像を開く"));
    EXPECT_EQ(form.ToolButton1->statusTip(), QStringLiteral("画像を開く"));
    hover(form.ToolButton5, QPoint(8, 8));
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("画像から色2を抽出する"));
}

TEST_F(Hints, PasteAndCopyButtonsKeepTheirOwnHints)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0))});
    QApplication::clipboard()->setImage(QImage(1, 1, QImage::Format_RGB32));
    settle();
    QApplication::clipboard()->clear();
    settle();
    // Their actions changed state since; the buttons' own hints stay.
    EXPECT_EQ(form.ToolButton9->toolTip(), QStringLiteral("貼り付け"));
    EXPECT_EQ(form.ToolButton9->statusTip(), QStringLiteral("クリップボードの画像を貼り付ける"));
    EXPECT_EQ(form.ToolButton10->toolTip(), QStringLiteral("コピー"));
    EXPECT_EQ(form.ToolButton10->statusTip(), QStringLiteral("画像をクリップボードにコピー"));
    EXPECT_EQ(form.EditCopy1->statusTip(), QStringLiteral("選択範囲をクリップボードにコピー"));
}

TEST_F(Hints, HighlightedMenuEntryShowsItsLongHint)
{
    ui::TMainForm &form = start();
    // The menu title, highlighted as its menu opens, shows its own hint.
    ASSERT_NO_FATAL_FAILURE(openEditMenuByClick(form));
    settle();
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("編集コマンド"));
    hover(form.EditMenu, form.EditMenu->actionGeometry(form.ColorGray).center());
    EXPECT_EQ(form.EditMenu->activeAction(), form.ColorGray);
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("グレースケール(モノトーン)化する"));
    hover(form.EditMenu, form.EditMenu->actionGeometry(form.ColorSelectAction1).center());
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("色1を設定する"));
    QTest::keyClick(form.EditMenu, Qt::Key_Escape);
    QTest::keyClick(form.MainMenu1, Qt::Key_Escape);
}

TEST_F(Hints, OnceAMenuClosesTheStatusBarShowsTheHintOfWhatIsUnderThePointer)
{
    ui::TMainForm &form = start();
    ASSERT_NO_FATAL_FAILURE(openEditMenuByClick(form));
    settle();
    ASSERT_EQ(form.StatusBar->currentMessage(), QStringLiteral("編集コマンド"));
    QTest::keyClick(form.EditMenu, Qt::Key_Escape);
    settle();
    hover(form.PaintBox1, QPoint(200, 200));
    EXPECT_EQ(form.StatusBar->currentMessage(), QString());
    hover(form.ToolButton5, QPoint(8, 8));
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("画像から色2を抽出する"));

    // Closed by a click outside it, with the pointer over a button.
    ASSERT_NO_FATAL_FAILURE(openEditMenuByClick(form));
    hover(form.EditMenu, form.EditMenu->actionGeometry(form.ColorGray).center());
    ASSERT_EQ(form.StatusBar->currentMessage(), QStringLiteral("グレースケール(モノトーン)化する"));
    QCursor::setPos(form.ToolButton4->mapToGlobal(QPoint(8, 8)));
    form.EditMenu->hide();
    settle();
    EXPECT_EQ(form.StatusBar->currentMessage(), QStringLiteral("画像から色1を抽出する"));
}

// ---------------------------------------------------------------------------

using PickCommands = MainFormTest;

TEST_F(PickCommands, ChoosingTheActivePickCommandEndsPicking)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0))});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    settle();
    EXPECT_TRUE(form.picking());
    EXPECT_EQ(form.pickTarget(), 0);
    EXPECT_TRUE(form.ColorPick1->isChecked());
    EXPECT_TRUE(form.ToolButton4->isChecked());
    EXPECT_FALSE(form.ColorPick2->isChecked());

    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    settle();
    EXPECT_FALSE(form.picking());
    EXPECT_FALSE(form.ColorPick1->isChecked());
    EXPECT_FALSE(form.ColorPick2->isChecked());
    EXPECT_FALSE(form.ToolButton4->isChecked());
}

TEST_F(PickCommands, ChoosingTheOtherPickCommandSwitchesTheTarget)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0))});
    QTest::mouseClick(form.ToolButton4, Qt::LeftButton);
    form.ColorPanel1->setColor(0x00123456);  // as if picked
    QTest::mouseClick(form.ToolButton5, Qt::LeftButton);
    settle();
    EXPECT_TRUE(form.picking());
    EXPECT_EQ(form.pickTarget(), 1);
    EXPECT_EQ(form.pickSavedColor(), 0x00000000u);
    EXPECT_EQ(form.color1(), 0x00123456u);
    EXPECT_FALSE(form.ColorPick1->isChecked());
    EXPECT_TRUE(form.ColorPick2->isChecked());
    EXPECT_TRUE(form.ToolButton5->isChecked());
    EXPECT_FALSE(form.ToolButton4->isChecked());
}

// ---------------------------------------------------------------------------

using ColorSelection = MainFormTest;

QColorDialog *colorDialog(QWidget *w)
{
    auto *dialog = qobject_cast<QColorDialog *>(w);
    EXPECT_NE(dialog, nullptr);
    return dialog;
}

TEST_F(ColorSelection, CancelledDialogLeavesTheSwatch)
{
    ui::TMainForm &form = start();
    form.ColorPanel1->setColor(0x00336699);
    QColor preselected;
    ModalDriver driver;
    driver.then([&](QWidget *w) {
        QColorDialog *dialog = colorDialog(w);
        preselected = dialog->currentColor();
        dialog->setCurrentColor(Qt::green);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QTest::mouseClick(form.ColorPanel1, Qt::LeftButton);
    EXPECT_EQ(driver.handled(), 1);
    EXPECT_EQ(preselected, QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(form.color1(), 0x00336699u);
}

TEST_F(ColorSelection, ConfirmedDialogSetsTheSwatch)
{
    ui::TMainForm &form = start();
    ModalDriver driver;
    driver.then([&](QWidget *w) {
        QColorDialog *dialog = colorDialog(w);
        EXPECT_EQ(dialog->currentColor(), QColor(Qt::black));
        dialog->setCurrentColor(QColor(10, 20, 30));
        dialog->accept();
    });
    // The menu command for colour 2.
    form.ColorSelectAction2->trigger();
    EXPECT_EQ(driver.handled(), 1);
    EXPECT_EQ(form.color2(), platform::rgb(10, 20, 30));
    EXPECT_EQ(form.color1(), 0x00FFFFFFu);
}

TEST_F(ColorSelection, CustomColoursStartUnsetAndAreKeptWhenConfirmed)
{
    ui::TMainForm &form = start();
    QColor seen, seenAfterCancel, seenAfterConfirm;
    ModalDriver driver;
    driver
        .then([&](QWidget *w) {
            seen = QColorDialog::customColor(0);
            QColorDialog::setCustomColor(0, Qt::red);
            colorDialog(w)->accept();
        })
        .then([&](QWidget *w) {
            seenAfterConfirm = QColorDialog::customColor(0);
            QColorDialog::setCustomColor(0, Qt::blue);
            colorDialog(w)->reject();
        })
        .then([&](QWidget *w) {
            seenAfterCancel = QColorDialog::customColor(0);
            colorDialog(w)->reject();
        });
    QTest::mouseClick(form.ColorPanel1, Qt::LeftButton);
    QTest::mouseClick(form.ColorPanel2, Qt::LeftButton);
    QTest::mouseClick(form.ColorPanel2, Qt::LeftButton);
    EXPECT_EQ(driver.handled(), 3);
    EXPECT_EQ(seen, QColor(Qt::white));
    EXPECT_EQ(seenAfterConfirm, QColor(Qt::red));
    EXPECT_EQ(seenAfterCancel, QColor(Qt::red));
}

}  // namespace
}  // namespace tovi::test

namespace tovi::test {
namespace {

// ---------------------------------------------------------------------------
// The processing menu's settings: the swap's tolerance and the gray formula.

using ProcessSettings = MainFormTest;

TEST_F(ProcessSettings, ToleranceDialogSetsTheSwapsToleranceAndTheStatusBarShowsIt)
{
    // White, black, near white (mirrored to near black at a tolerance) and red.
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"),
                                           bmp24Colors(4, 1, {0x00FFFFFF, 0x00000000, 0x00FEFFFF, 0x000000FF}))});
    EXPECT_EQ(form.tolerance(), 0);
    EXPECT_FALSE(form.SettingsLabel->isVisible());
    int shown = -1;
    ModalDriver driver;
    driver
        .then([&](QWidget *w) {
            auto *spin = w->findChild<QSpinBox *>(QStringLiteral("ToleranceSpinBox"));
            shown = spin->value();
            spin->setValue(20);
            QTest::keyClick(w, Qt::Key_Return);
        })
        .then([&](QWidget *w) {
            w->findChild<QSpinBox *>(QStringLiteral("ToleranceSpinBox"))->setValue(90);
            QTest::keyClick(w, Qt::Key_Escape);
        });
    form.ColorTolerance->trigger();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(form.tolerance(), 20);
    form.ColorTolerance->trigger();  // cancelled: stays 20
    EXPECT_EQ(driver.handled(), 2);
    EXPECT_EQ(form.tolerance(), 20);
    EXPECT_TRUE(form.SettingsLabel->isVisible());
    EXPECT_EQ(form.SettingsLabel->text(), QStringLiteral("許容差 20"));

    form.ColorChange->trigger();
    const picture::Bitmap *b = form.Image1->bitmap();
    EXPECT_EQ(b->pixel(0, 0), 0u);
    EXPECT_EQ(b->pixel(1, 0), 0x00FFFFFFu);
    EXPECT_EQ(b->pixel(2, 0), platform::rgb(1, 1, 0));
    EXPECT_EQ(b->pixel(3, 0), 0x000000FFu);
}

TEST_F(ProcessSettings, GrayFormulaIsOneOfThreeRadioEntriesAndTheGrayCommandsUseIt)
{
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(1, 1, {0x000000FF}))});
    ASSERT_TRUE(form.GrayFormulaMean->isChecked());
    form.GrayFormulaRec601->trigger();
    EXPECT_TRUE(form.GrayFormulaRec601->isChecked());
    EXPECT_FALSE(form.GrayFormulaMean->isChecked());
    EXPECT_EQ(form.grayFormula(), process::GrayFormula::Rec601);
    form.ColorGray->trigger();
    EXPECT_EQ(form.Image1->bitmap()->pixel(0, 0), platform::rgb(76, 76, 76));
    form.GrayFormulaRec709->trigger();
    form.ColorInvGray->trigger();  // the gray 76 stays 76 under any formula
    EXPECT_EQ(form.Image1->bitmap()->pixel(0, 0), platform::rgb(179, 179, 179));
    EXPECT_FALSE(form.GrayFormulaRec601->isChecked());
}

}  // namespace
}  // namespace tovi::test
