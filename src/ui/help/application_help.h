#pragma once
// Help as the main window uses it: the help context numbers of the commands,
// the help command (F1 / "ヘルプ(&H)") and the application-wide help handler
// that takes every help request the windows raise. The application's help
// file setting belongs to the application; every call here is given it.
//
// What the main window (TMainForm) calls, `helpFile` being the application's
// help file (absolute once FormCreate has run):
//
//   HelpOpenExecute:
//       void TMainForm::HelpOpenExecute() { tovi::help::HelpOpenExecute(Picking, helpFile); }
//   ApplicationEvents1Help:
//       bool TMainForm::ApplicationEvents1Help(std::uint16_t command, std::uintptr_t data, bool &callHelp)
//       { return tovi::help::ApplicationEvents1Help(command, data, callHelp, helpFile); }
//     installed once in FormCreate (help_requests.h) with
//       tovi::help::installHelpRequests([this](std::uint16_t command, std::uintptr_t data, bool &callHelp) {
//           return ApplicationEvents1Help(command, data, callHelp); });
//   each action:  tovi::help::setHelpContext(action, number);   (help_requests.h)
//   FormCreate step 6 may use helpFileBesideExecutable(helpFile).

#include <QString>

#include <cstdint>

#include "process/help_contexts.h"

namespace tovi::help {

// Help request kinds, as windows raise them.
enum HelpRequestKind : std::uint16_t {
    HELP_CONTEXT = 1,        // data: context number
    HELP_CONTEXTPOPUP = 8,   // data: context number
    HELP_SETPOPUP_POS = 13,  // data: x in the low, y in the high 16 bits
    HELP_COMMAND = 258,      // data: address of a zero-terminated UTF-8 text
};

// The folder of the running executable followed by the file-name part of
// `helpFile`.
QString helpFileBesideExecutable(const QString &helpFile);

// The help command: the page on picking colours while picking is on,
// otherwise a keyword lookup with an empty keyword (the index is shown).
void HelpOpenExecute(bool picking, const QString &helpFile);

// Takes every help request; sets callHelp to false and returns true, so the
// application never does help processing of its own.
bool ApplicationEvents1Help(std::uint16_t command, std::uintptr_t data, bool &callHelp, const QString &helpFile);

}  // namespace tovi::help
