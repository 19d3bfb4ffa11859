// The batch run over a list of pictures and the several-files command.

#include "ui/main/main_form.h"

#include "ui/batch/batch_windows.h"

namespace tovi::ui {

void TMainForm::SelectPicturesExecute() {}

void TMainForm::SelectPicturesAccept(const QStringList &fileNames)
{
    BatchProcess(fileNames);
}

void TMainForm::BatchProcess(const QStringList &fileNames)
{
    batchProcessWithWindows(this, fileNames, {currentMode(), color1(), color2()});
}

}  // namespace tovi::ui
