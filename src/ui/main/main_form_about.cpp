// The about box command: a fresh box for each use, shown modally and
// released afterwards.

#include "ui/main/main_form.h"

#include "ui/about/about_box.h"

namespace tovi::ui {

void TMainForm::HelpAbout1Execute()
{
    auto *box = new TAboutBox(this);
    box->exec();
    box->deleteLater();
}

}  // namespace tovi::ui
