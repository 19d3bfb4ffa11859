// The batch run over a list of pictures and the several-files command. The
// batch windows plug in here; until they do, a batch run does nothing.

#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::SelectPicturesExecute() {}

void TMainForm::SelectPicturesAccept(const QStringList &fileNames)
{
    BatchProcess(fileNames);
}

void TMainForm::BatchProcess(const QStringList &) {}

}  // namespace tovi::ui
