// The batch run over a list of pictures and the several-files command.

#include "ui/main/main_form.h"

#include "ui/batch/batch_windows.h"
#include "ui/main/picture_dialogs.h"

namespace tovi::ui {

void TMainForm::SelectPicturesExecute()
{
    PictureDialog dialog(PictureDialog::Kind::OpenSeveral, this);
    if (dialog.exec() == QDialog::Accepted)
        SelectPicturesAccept(dialog.selectedFiles());
}

void TMainForm::SelectPicturesAccept(const QStringList &fileNames)
{
    BatchProcess(fileNames);
}

void TMainForm::BatchProcess(const QStringList &fileNames)
{
    process::BatchSettings settings{currentMode(), color1(), color2()};
    settings.tolerance = m_tolerance;
    settings.grayFormula = m_grayFormula;
    batchProcessWithWindows(this, fileNames, settings);
}

}  // namespace tovi::ui
