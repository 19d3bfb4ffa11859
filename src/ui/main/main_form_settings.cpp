// Settings of the processing beyond mode and colours: the swap's tolerance
// ("許容差(&T)...") and the gray formula ("グレースケールの計算(&C)"), both
// in the processing menu, and the label at the status bar's right that shows
// the tolerance and the zoom while they are not at their start values. None
// is stored: every start begins with the exact swap, the plain mean and 100 %.

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include "ui/help/help_requests.h"
#include "ui/main/main_form.h"
#include "ui/main/tolerance_dialog.h"

namespace tovi::ui {

namespace {

constexpr int kNoGlyph = -1;

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

}  // namespace

void TMainForm::createSettingsActions()
{
    const QString category = QStringLiteral("処理");
    ColorTolerance = newAction("ColorTolerance", category, "許容差(&T)...", kNoGlyph, help::kHelpContextTolerance,
                               "許容差|色交換で、色1と色2の間の色 (アンチエイリアスの縁) も反対側へ写す範囲を設定する",
                               [this] { ColorToleranceExecute(); });

    GrayFormulaGroup = new QActionGroup(this);
    GrayFormulaGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    TAction **actions[] = {&GrayFormulaMean, &GrayFormulaRec601, &GrayFormulaRec709};
    for (std::size_t i = 0; i < process::kGrayFormulas.size(); ++i) {
        const process::GrayFormulaInfo &info = process::kGrayFormulas[i];
        TAction *action = newAction(text(info.action), category, text(info.caption), kNoGlyph,
                                    help::kHelpContextGrayFormula, text(info.hint), nullptr);
        action->onExecute = [this, formula = info.formula] { setGrayFormula(formula); };
        action->setCheckable(true);
        action->setActionGroup(GrayFormulaGroup);
        action->setChecked(info.formula == process::kDefaultGrayFormula);
        *actions[i] = action;
    }
}

void TMainForm::createSettingsMenus(
    const std::function<QMenu *(QMenu *, const char *, const QString &, const QString &)> &addMenu)
{
    ProcessMenu = addMenu(nullptr, "ProcessMenu", QStringLiteral("処理(&P)"), QStringLiteral("処理の設定"));
    ProcessMenu->addAction(ColorTolerance);
    GrayFormulaMenu = addMenu(ProcessMenu, "GrayFormulaMenu", QStringLiteral("グレースケールの計算(&C)"),
                              QStringLiteral("グレースケール化で灰色の明るさを求める計算を選ぶ"));
    for (QAction *action : {GrayFormulaMean, GrayFormulaRec601, GrayFormulaRec709})
        GrayFormulaMenu->addAction(action);

    ViewMenu = addMenu(nullptr, "ViewMenu", QStringLiteral("表示(&V)"), QStringLiteral("画像の表示の拡大と縮小"));
    ViewMenu->addAction(ViewZoomIn);
    ViewMenu->addAction(ViewZoomOut);
    ViewMenu->addSeparator();
    ViewMenu->addAction(ViewActualSize);
    ViewMenu->addAction(ViewFitToWindow);
}

void TMainForm::ColorToleranceExecute()
{
    if (const std::optional<int> tolerance = ToleranceDialog::ask(m_tolerance, this))
        setTolerance(*tolerance);
}

void TMainForm::setTolerance(int tolerance)
{
    m_tolerance = std::clamp(tolerance, 0, process::kMaxTolerance);
    updateSettingsLabel();
}

void TMainForm::setGrayFormula(process::GrayFormula formula)
{
    m_grayFormula = formula;
    for (TAction *action : {GrayFormulaMean, GrayFormulaRec601, GrayFormulaRec709})
        action->setChecked(action == (formula == process::GrayFormula::Rec601   ? GrayFormulaRec601
                                      : formula == process::GrayFormula::Rec709 ? GrayFormulaRec709
                                                                                : GrayFormulaMean));
}

void TMainForm::updateSettingsLabel()
{
    QStringList parts;
    if (m_tolerance > 0)
        parts << QStringLiteral("許容差 %1").arg(m_tolerance);
    if (zoom() != 1.0)
        parts << QStringLiteral("表示倍率 %1%").arg(QString::number(zoom() * 100, 'g', 3));
    SettingsLabel->setText(parts.join(QStringLiteral("  ")));
    SettingsLabel->setVisible(!parts.isEmpty());
}

}  // namespace tovi::ui
