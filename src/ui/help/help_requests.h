#pragma once
// Help requests raised by the windows themselves: F1 while a menu entry is
// highlighted, and a click in context-help ("What's This") mode. They are
// turned into the application's help requests (application_help.h) and handed
// to the application help handler, which the main window installs:
//
//   // TMainForm::FormCreate, once. The main window asks for the title-bar
//   // help button, so menu-bar entries send a position request first:
//   setWindowFlag(Qt::WindowContextHelpButtonHint, true);
//   tovi::help::setHelpContext(OpenPicture1, tovi::help::kHelpContextOpenPicture);  // each action
//   tovi::help::installHelpRequests([this](std::uint16_t command, std::uintptr_t data, bool &callHelp) {
//       return ApplicationEvents1Help(command, data, callHelp);
//   });
//
// A menu entry carries the help context of its action. The F1 key of a
// QMenu that is open is taken here before any shortcut sees it, so F1 as the
// shortcut of the help command only works while no menu is open.
//
// - Entry of a menu reachable from a window's menu bar (sub-menus included):
//   the entry's number, else that of its nearest enclosing entry with one
//   (0 when none has one). If the window has Qt::WindowContextHelpButtonHint:
//   HELP_SETPOPUP_POS (the window's client origin on screen), then
//   HELP_CONTEXTPOPUP (number); otherwise HELP_CONTEXT (number).
// - Entry of any other pop-up menu (the run button's ModeMenu): the same
//   lookup in that menu, else the active window's own number; a single
//   HELP_CONTEXTPOPUP when the active window has the hint, else HELP_CONTEXT.
// - Click in context-help mode on a control: the first of the control and its
//   containers with help (a non-zero context number, or a keyword); none
//   means nothing happens. A number goes as for a menu-bar entry (position:
//   the control's origin), a keyword as HELP_COMMAND.

#include <QString>

#include <cstdint>
#include <functional>

class QObject;

namespace tovi::help {

using ApplicationHelpHandler = std::function<bool(std::uint16_t command, std::uintptr_t data, bool &callHelp)>;

// Installs the application-wide filter that raises the requests, and the
// handler that receives them. Needs the QApplication. A second call replaces
// the handler.
void installHelpRequests(ApplicationHelpHandler handler);
void removeHelpRequests();

// Hands one request to the application help handler; false when there is
// none or it did not handle the request. The application has no help
// processing of its own beyond that.
bool applicationHelpCommand(std::uint16_t command, std::uintptr_t data);

// Help of an action (menu entry) or widget. A context number makes the help
// type "context", a keyword makes it "keyword"; only the value of the current
// type counts.
void setHelpContext(QObject *object, int contextNumber);
int helpContext(const QObject *object);
void setHelpKeyword(QObject *object, const QString &keyword);
QString helpKeyword(const QObject *object);

}  // namespace tovi::help
