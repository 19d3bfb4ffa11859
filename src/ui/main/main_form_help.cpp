// Help: the help command and F1 on an entry of an open menu. Both hand over
// to handlers that the help system installs; without them nothing happens.

#include <QKeyEvent>
#include <QMenu>

#include "ui/main/application.h"
#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::HelpOpenExecute()
{
    if (m_helpOpenHandler)
        m_helpOpenHandler();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    // While a menu is open it has the keyboard, and F1 is a help request for
    // its highlighted entry rather than the help command.
    auto *menu = qobject_cast<QMenu *>(watched);
    if (menu && event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_F1) {
        if (m_menuHelpHandler)
            runGuarded([&] { m_menuHelpHandler(menu, menu->activeAction()); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace tovi::ui
