// Undo and redo: the colour commands and paste can be taken back and done
// again. Opening a picture starts a new history; saving keeps it.

#include "ui/help/application_help.h"
#include "ui/help/help_requests.h"
#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::createUndoActions()
{
    const QString edit = QStringLiteral("編集");
    constexpr int kNoGlyph = -1;
    EditUndo1 = newAction("EditUndo1", edit, "元に戻す(&U)", kNoGlyph, help::kHelpContextEditUndo,
                          "元に戻す|直前の色の変更または貼り付けを取り消す", [this] { EditUndo1Execute(); });
    EditRedo1 = newAction("EditRedo1", edit, "やり直し(&R)", kNoGlyph, help::kHelpContextEditRedo,
                          "やり直し|取り消した色の変更または貼り付けをもう一度行う", [this] { EditRedo1Execute(); });
    EditUndo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    EditRedo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    // Nothing to take back yet; the enabling rule follows the history.
    EditUndo1->setEnabled(false);
    EditRedo1->setEnabled(false);
}

UndoHistory::Step TMainForm::currentStep()
{
    const QPalette look = StaticText1->palette();
    return {Image1->picture().bitmap(), pictureShown(), StaticText1->text(), look.color(QPalette::Window),
            look.color(QPalette::WindowText)};
}

void TMainForm::restoreStep(const UndoHistory::Step &step)
{
    Image1->picture().bitmap() = step.picture;
    StaticText1->setLook(step.formatText, step.formatBackground, step.formatForeground);
    Image1->setVisible(step.shown);
    Image1->update();
    PaintBox1->repaint();
}

void TMainForm::EditUndo1Execute()
{
    if (auto step = m_undoHistory.undo(currentStep()))
        restoreStep(*step);
}

void TMainForm::EditRedo1Execute()
{
    if (auto step = m_undoHistory.redo(currentStep()))
        restoreStep(*step);
}

}  // namespace tovi::ui
