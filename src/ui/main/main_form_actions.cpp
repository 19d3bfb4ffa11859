// The actions of the main window: the list in its stored order, the enabling
// rules, the processing mode, the processing commands and colour selection.

#include <QActionGroup>
#include <QColorDialog>

#include "platform/errors.h"
#include "process/color_ops.h"
#include "ui/main/main_form.h"

#include "ui/common/palette_colors.h"
#include "ui/help/help_requests.h"

namespace tovi::ui {

namespace {

constexpr int kNoGlyph = -1;

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

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

    const process::ModeInfo &startMode = *process::findMode(process::kDefaultMode);
    ColorProcRun = newAction("ColorProcRun", run, "ColorChange1", startMode.glyph, help::kHelpContextMode, QString(),
                             [this] { ColorProcRunExecute(); });
    ColorPick1 = newAction("ColorPick1", edit, "画像から色1を抽出", G::kEyedropper, help::kHelpContextColorPick,
                           "色抽出|画像から色1を抽出する", [this] { ColorPick1Execute(); });
    ColorPick2 = newAction("ColorPick2", edit, "画像から色2を抽出", G::kEyedropper, help::kHelpContextColorPick,
                           "色抽出|画像から色2を抽出する", [this] { ColorPick2Execute(); });
    FileExit1 = newAction("FileExit1", file, "終了(&X)", kNoGlyph, help::kHelpContextFileExit,
                          "終了|アプリケーションの終了", [this] { FileExit1Execute(); });
    HelpAbout1 = newAction("HelpAbout1", help, "バージョン情報(&A)...", kNoGlyph, help::kHelpContextHelpAbout,
                           "バージョン情報|プログラム情報，バージョン番号，および著作権を表示",
                           [this] { HelpAbout1Execute(); });
    OpenPicture1 = newAction("OpenPicture1", dialog, "画像を開く(&O)...", G::kOpenFolder, help::kHelpContextOpenPicture,
                             "画像を開く", [this] { OpenPicture1Execute(); });
    SavePicture1 = newAction("SavePicture1", dialog, "画像の保存(&S)...", G::kFloppyDisk, help::kHelpContextSavePicture,
                             "画像の保存", [this] { SavePicture1Execute(); });
    ColorSelect1 = newAction("ColorSelect1", dialog, "色の指定(&C)...", kNoGlyph, help::kHelpContextNone, "色の指定",
                             [this] { ColorSelect1Execute(); });
    createModeActions(run);
    ColorSelectAction1 = newAction("ColorSelectAction1", edit, "色1の設定", kNoGlyph, help::kHelpContextColorSelect,
                                   "色選択|色1を設定する", [this] { ColorSelectAction1Execute(); });
    ColorSelectAction2 = newAction("ColorSelectAction2", edit, "色2の設定", kNoGlyph, help::kHelpContextColorSelect,
                                   "色選択|色2を設定する", [this] { ColorSelectAction2Execute(); });
    EditCopy1 = newAction("EditCopy1", edit, "コピー(&C)", G::kCopy, help::kHelpContextEditCopy,
                          "コピー|選択範囲をクリップボードにコピー", [this] { EditCopy1Execute(); });
    EditPaste1 = newAction("EditPaste1", edit, "貼り付け(&P)", G::kPaste, help::kHelpContextEditPaste,
                           "貼り付け|クリップボードの内容を貼り付ける", [this] { EditPaste1Execute(); });
    // The list keeps its stored order: the first mode's command comes before
    // the several-files and help commands, the others after them.
    createRunActions(edit, 0, 1);
    SelectPictures = newAction("SelectPictures", dialog, "複数画像を処理...", kNoGlyph, help::kHelpContextSelectPictures,
                               "複数の画像を選択し一度に処理する", [this] { SelectPicturesExecute(); });
    HelpOpen = newAction("HelpOpen", help, "ヘルプ(&H)", G::kHelpBook, help::kHelpContextHelpOpen, QString(),
                         [this] { HelpOpenExecute(); });
    createRunActions(edit, 1, process::kModes.size());

    for (TAction *action : {ColorProcRun, ColorSelect1})
        action->setHelpType(TAction::HelpType::Keyword);

    OpenPicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    SavePicture1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    EditCopy1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    EditPaste1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    HelpOpen->setShortcut(QKeySequence(Qt::Key_F1));
    FileExit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

    for (TAction *action : pictureCommands())
        action->setEnabled(false);

    RadioGroup1 = new QActionGroup(this);
    RadioGroup1->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (TAction *action : {ColorPick1, ColorPick2}) {
        action->setCheckable(true);
        action->setActionGroup(RadioGroup1);
        action->onUpdate = [this] { ColorPickUpdate(); };
    }
    EditPaste1->onUpdate = [this] { EditPaste1Update(); };
    createUndoActions();
    createSettingsActions();
    createZoomActions();
}

bool TMainForm::ActionList1Update(TAction *)
{
    const bool shown = pictureShown();
    for (TAction *action : pictureCommands())
        action->setEnabled(shown);
    EditUndo1->setEnabled(m_undoHistory.canUndo());
    EditRedo1->setEnabled(m_undoHistory.canRedo());
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

// The mode actions modeChange, modeInv, modeGray and modeInvGray, one per row
// of the mode table; each one's handler (modeChangeExecute, ...) is SetProcMode
// with its own action.
void TMainForm::createModeActions(const QString &category)
{
    for (const process::ModeInfo &mode : process::kModes) {
        TAction *action = newAction(text(mode.modeAction), category, text(mode.modeCaption), mode.glyph,
                                    help::kHelpContextMode, text(mode.modeHint), nullptr);
        action->onExecute = [this, action] { SetProcMode(action); };
        if (mode.keywordHelp)
            action->setHelpType(TAction::HelpType::Keyword);
        m_modeActions.append(action);
    }
    modeChange = modeAction(process::kModeSwap);
    modeInv = modeAction(process::kModeInvert);
    modeGray = modeAction(process::kModeGray);
    modeInvGray = modeAction(process::kModeInvertGray);
}

// The fixed-mode commands ColorChange, ColorInv, ColorGray and ColorInvGray
// of the rows [first, end) of the mode table; each one's handler
// (ColorChangeExecute, ...) processes the picture in its own mode.
void TMainForm::createRunActions(const QString &category, std::size_t first, std::size_t end)
{
    for (std::size_t i = first; i < end; ++i) {
        const process::ModeInfo &mode = process::kModes[i];
        TAction *action = newAction(text(mode.runAction), category, text(mode.runCaption), mode.glyph,
                                    mode.runHelpContext, text(mode.runHint),
                                    [this, code = mode.code] { runProcess(code); });
        if (mode.keywordHelp)
            action->setHelpType(TAction::HelpType::Keyword);
        m_runActions.append(action);
    }
    ColorChange = runAction(process::kModeSwap);
    ColorInv = runAction(process::kModeInvert);
    ColorGray = runAction(process::kModeGray);
    ColorInvGray = runAction(process::kModeInvertGray);
}

TAction *TMainForm::modeAction(int mode) const
{
    const process::ModeInfo *info = process::findMode(mode);
    if (!info)
        return nullptr;
    const auto index = qsizetype(info - process::kModes.data());
    return index < m_modeActions.size() ? m_modeActions[index] : nullptr;
}

TAction *TMainForm::runAction(int mode) const
{
    const process::ModeInfo *info = process::findMode(mode);
    if (!info)
        return nullptr;
    const auto index = qsizetype(info - process::kModes.data());
    return index < m_runActions.size() ? m_runActions[index] : nullptr;
}

QList<TAction *> TMainForm::pictureCommands() const
{
    // The fixed-mode commands beside the swap follow its rule: nothing else
    // would ever enable them.
    return QList<TAction *>{ColorPick1, ColorPick2, EditCopy1, SavePicture1} + m_runActions;
}

void TMainForm::SetProcMode(TAction *modeAction)
{
    const auto index = m_modeActions.indexOf(modeAction);
    if (index < 0)
        return;
    m_mode = process::kModes[std::size_t(index)].code;
    ColorProcRun->setImageIndex(modeAction->imageIndex());
    ColorProcRun->setText(modeAction->text());
    ColorProcRun->setHint(modeAction->hint());
}

void TMainForm::ProcessColors(picture::Bitmap &picture, int mode)
{
    process::processColorsWith(picture, mode, ColorPanel1->color(), ColorPanel2->color(), colorSettings());
}

void TMainForm::runProcess(int mode)
{
    UndoHistory::Step before = currentStep();
    try {
        ProcessColors(Image1->picture().bitmap(), mode);
        m_undoHistory.record(std::move(before));
    } catch (const OutOfResourcesError &) {
        // The kept step shares the pixels, so the change needs a copy of them.
        // Without room for it the picture goes back to as it was and the
        // change is made in place, without a history, as before there was one.
        Image1->picture().bitmap() = before.picture;
        before = {};
        m_undoHistory.clear();
        ProcessColors(Image1->picture().bitmap(), mode);
    }
    Image1->repaint();
}

void TMainForm::ColorProcRunExecute()
{
    if (pictureShown())
        runProcess(currentMode());
}


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
