// The about box command. The about box plugs in here; until it does, the
// command does nothing.

#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::HelpAbout1Execute() {}

}  // namespace tovi::ui
