// Help: the help command hands over to the handler that the help system
// installs; without one it does nothing. (Help requests for menu entries and
// controls are raised by the help system's own application-wide filter.)

#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::HelpOpenExecute()
{
    if (m_helpOpenHandler)
        m_helpOpenHandler();
}

}  // namespace tovi::ui
