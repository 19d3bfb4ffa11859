// The actions of the main window: the list in its stored order, the enabling
// rules, the processing mode, the processing commands and colour selection.

#include <QActionGroup>
#include <QColorDialog>

#include "process/color_ops.h"
#include "ui/main/main_form.h"

#include "ui/help/help_requests.h"
#include "ui/common/palette_colors.h"

namespace tovi::ui {

namespace {

constexpr int kNoGlyph = -1;

}  // namespace

TAction *TMainForm::newAction(const QString &name, const QString &category, const QString &caption, int glyph,
                              int helpContext, const QString &hint, std::function<void()> handler)
{
    auto *action = new TAction(name, &ImageList1, this);
    action->setCategory(category);
    action->setText(caption);
    action->setImageIndex(glyph);
    action->setHelpContext(helpContext);
    help::setHelpContext(action, helpContext);
    action->setHint(hint);
    action->onExecute = std::move(handler);
    ActionList1->add(action);
    // Shortcuts work anywhere in the window, menus open or not.
    addAction(action);
    return action;
}

void TMainForm::createActions()
{
    ActionList1 = new TActionList(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    ActionList1->onUpdate = [this](TAction *action) { return ActionList1Update(action); };

    const QString run = QStringLiteral("連続モード");
    const QString edit = QStringLiteral("編集");
    const QString file = QStringLiteral("ファイル");
    const QString help = QStringLiteral("Help");
    const QString dialog = QStringLiteral("ダイアログ");
    using G = TImageList;

    ColorProcRun = newAction("ColorProcRun", run, "ColorChange1", G::kModeSwap, 1209, QString(),
                             [this] { ColorProcRunExecute(); });
    ColorPick1 = newAction("ColorPick1", edit, "画像から色1を抽出", G::kEyedropper, 1203,
                           "色抽出|画像から色1を抽出する", [this] { ColorPick1Execute(); });
    ColorPick2 = newAction("ColorPick2", edit, "画像から色2を抽出", G::kEyedropper, 1203,
                           "色抽出|画像から色2を抽出する", [this] { ColorPick2Execute(); });
    FileExit1 = newAction("FileExit1", file, "終了(&X)", kNoGlyph, 1104, "終了|アプリケーションの終了",
                          [this] { FileExit1Execute(); });
    HelpAbout1 = newAction("HelpAbout1", help, "バージョン情報(&A)...", kNoGlyph, 1302,
                           "バージョン情報|プログラム情報，バージョン番号，および著作権を表示",
                           [this] { HelpAbout1Execute(); });
    OpenPicture1 = newAction("OpenPicture1", dialog, "画像を開く(&O)...", G::kOpenFolder, 1101, "画像を開く",
                             [this] { OpenPicture1Execute(); });
    SavePicture1 = newAction("SavePicture1", dialog, "画像の保存(&S)...", G::kFloppyDisk, 1102, "画像の保存",
                             [this] { SavePicture1Execute(); });
    ColorSelect1 = newAction("ColorSelect1", dialog, "色の指定(&C)...", kNoGlyph, 0, "色の指定",
                             [this] { ColorSelect1Execute(); });
    modeChange = newAction("modeChange", run, "色交換モード", G::kModeSwap, 1209,
                           "交換モード|画像の色1と色2を交換する", [this] { modeChangeExecute(); });
    modeInv = newAction("modeInv", run, "色反転モード", G::kModeInvert, 1209, "反転モード|画像の色域を反転する",
                        [this] { modeInvExecute(); });
    modeGray = newAction("modeGray", run, "グレースケールモード", G::kModeGray, 1209,
                         "グレースケールモード|画像をグレースケール|グレースケール(モノトーン)化する",
                         [this] { modeGrayExecute(); });
    modeInvGray = newAction("modeInvGray", run, "反転＆グレースケール", G::kModeInvertGray, 1209,
                            "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する",
                            [this] { modeInvGrayExecute(); });
    ColorSelectAction1 = newAction("ColorSelectAction1", edit, "色1の設定", kNoGlyph, 1204, "色選択|色1を設定する",
                                   [this] { ColorSelectAction1Execute(); });
    ColorSelectAction2 = newAction("ColorSelectAction2", edit, "色2の設定", kNoGlyph, 1204, "色選択|色2を設定する",
                                   [this] { ColorSelectAction2Execute(); });
    EditCopy1 = newAction("EditCopy1", edit, "コピー(&C)", G::kCopy, 1202, "コピー|選択範囲をクリップボードにコピー",
                          [this] { EditCopy1Execute(); });
    EditPaste1 = newAction("EditPaste1", edit, "貼り付け(&P)", G::kPaste, 1201,
                           "貼り付け|クリップボードの内容を貼り付ける", [this] { EditPaste1Execute(); });
    ColorChange = newAction("ColorChange", edit, "色交換実行", G::kModeSwap, 1205, "交換実行|画像の色1と色2を交換する",
                            [this] { ColorChangeExecute(); });
    SelectPictures = newAction("SelectPictures", dialog, "複数画像を処理...", kNoGlyph, 1103,
                               "複数の画像を選択し一度に処理する", [this] { SelectPicturesExecute(); });
    HelpOpen = newAction("HelpOpen", help, "ヘルプ(&H)", G::kHelpBook, 1301, QString(), [this] { HelpOpenExecute(); });
    ColorInv = newAction("ColorInv", edit, "色反転実行", G::kModeInvert, 1206, "反転実行|画像の色域を反転する",
                         [this] { ColorInvExecute(); });
    ColorGray = newAction("ColorGray", edit, "グレースケール実行", G::kModeGray, 1207,
                          "画像をグレースケール|グレースケール(モノトーン)化する", [this] { ColorGrayExecute(); });
    ColorInvGray = newAction("ColorInvGray", edit, "反転＆グレースケール", G::kModeInvertGray, 1208,
                             "反転＆グレースケール|画像の色域を反転した上でグレースケール(モノトーン)化する",
                             [this] { ColorInvGrayExecute(); });

    for (TAction *action : {ColorProcRun, ColorSelect1, modeInv, modeGray, modeInvGray, ColorInv, ColorGray, ColorInvGray})
        action->setHelpType(TAction::HelpType::Keyword);

    OpenPicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    SavePicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    EditCopy1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    EditPaste1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    HelpOpen->setShortcut(QKeySequence(Qt::Key_F1));
    FileExit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

    for (TAction *action : {ColorPick1, ColorPick2, SavePicture1, EditCopy1, ColorChange, ColorInv, ColorGray, ColorInvGray})
        action->setEnabled(false);

    RadioGroup1 = new QActionGroup(this);
    RadioGroup1->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (TAction *action : {ColorPick1, ColorPick2}) {
        action->setCheckable(true);
        action->setActionGroup(RadioGroup1);
        action->onUpdate = [this] { ColorPickUpdate(); };
    }
    EditPaste1->onUpdate = [this] { EditPaste1Update(); };
}

bool TMainForm::ActionList1Update(TAction *)
{
    const bool shown = pictureShown();
    // The commands that need a picture. The three fixed-mode commands beside
    // the swap follow its rule: nothing else would ever enable them.
    for (TAction *action : {ColorPick1, ColorPick2, ColorChange, EditCopy1, SavePicture1, ColorInv, ColorGray, ColorInvGray})
        action->setEnabled(shown);
    return false;
}

void TMainForm::ColorPickUpdate()
{
    // The checked state mirrors the picking mode, whatever checking the
    // action did by itself before its handler ran.
    if (Picking) {
        (PickTarget == 1 ? ColorPick2 : ColorPick1)->setChecked(true);
    } else {
        ColorPick1->setChecked(false);
        ColorPick2->setChecked(false);
    }
}

void TMainForm::SetProcMode(TAction *modeAction)
{
    ColorProcRun->setImageIndex(modeAction->imageIndex());
    ColorProcRun->setText(modeAction->text());
    ColorProcRun->setHint(modeAction->hint());
}

void TMainForm::ProcessColors(picture::Bitmap &picture, int mode)
{
    process::processColors(picture, mode, ColorPanel1->color(), ColorPanel2->color());
}

void TMainForm::runProcess(int mode)
{
    ProcessColors(Image1->picture().bitmap(), mode);
    Image1->repaint();
}

void TMainForm::ColorProcRunExecute()
{
    if (pictureShown())
        runProcess(currentMode());
}

void TMainForm::ColorChangeExecute() { runProcess(process::kModeSwap); }
void TMainForm::ColorInvExecute() { runProcess(process::kModeInvert); }
void TMainForm::ColorGrayExecute() { runProcess(process::kModeGray); }
void TMainForm::ColorInvGrayExecute() { runProcess(process::kModeInvertGray); }

QString TMainForm::ModeName(int mode)
{
    return QString::fromStdString(process::modeName(mode));
}

void TMainForm::ColorPick1Execute()
{
    if (Picking && PickTarget == 0) {
        EndColorPick();
    } else {
        PickTarget = 0;
        StartColorPick();
    }
}

void TMainForm::ColorPick2Execute()
{
    if (Picking && PickTarget == 1) {
        EndColorPick();
    } else {
        PickTarget = 1;
        StartColorPick();
    }
}

void TMainForm::ColorSelectAction1Execute() { selectColor(ColorPanel1); }
void TMainForm::ColorSelectAction2Execute() { selectColor(ColorPanel2); }

void TMainForm::selectColor(TColorPanel *panel)
{
    ColorSelect1Color = panel->color();
    ActionList1->updateAction(ColorSelect1);
    if (!ColorSelect1->isEnabled())
        return;
    ColorSelect1Execute();
    // A cancelled dialog leaves its colour, and so the swatch, as it was.
    panel->setColor(ColorSelect1Color);
}

bool TMainForm::ColorSelect1Execute()
{
    QColorDialog dialog(toQColor(ColorSelect1Color), this);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    // The dialog's custom colours are ours for the run: they start unset and
    // are taken over each time the dialog is confirmed.
    for (int i = 0; i < int(m_customColors.size()); ++i)
        QColorDialog::setCustomColor(i, m_customColors[std::size_t(i)]);
    if (dialog.exec() != QDialog::Accepted)
        return true;
    ColorSelect1Color = fromQColor(dialog.selectedColor());
    for (int i = 0; i < int(m_customColors.size()); ++i)
        m_customColors[std::size_t(i)] = QColorDialog::customColor(i);
    return true;
}

}  // namespace tovi::ui
