// Help: the help command (F1, "ヘルプ(&H)") and the application-wide handler
// of the help requests that menus and windows raise.

#include "ui/main/main_form.h"

#include "ui/help/application_help.h"
#include "ui/main/application.h"

namespace tovi::ui {

void TMainForm::HelpOpenExecute()
{
    if (m_helpOpenHandler) {
        m_helpOpenHandler();
        return;
    }
    help::HelpOpenExecute(Picking, applicationHelpFile());
}

bool TMainForm::ApplicationEvents1Help(std::uint16_t command, std::uintptr_t data, bool &callHelp)
{
    return help::ApplicationEvents1Help(command, data, callHelp, applicationHelpFile());
}

}  // namespace tovi::ui
