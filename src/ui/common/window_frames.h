#pragma once
// The title bars of the program's windows, and what a window manager may still
// offer beyond them.
//
// The flags are what a window manager reads (on X11: the dialog window type,
// the owner as WM_TRANSIENT_FOR and the Motif hints, whose functions and
// decorations leave out minimise and maximise, and close where there is no
// close box). Not every window manager draws only what they ask for:
// openbox 3.6, for one, lets the hints take away neither minimise nor close,
// and draws the maximise button even on a fixed-size dialog (it only leaves
// maximise out of the actions it allows); its buttons go only with the whole
// title bar or with window types that are no dialogs. So each window also
// answers whatever is still offered: keepNormalState undoes minimise,
// maximise and full screen, and each window's close handling does what its
// close box would (the result window, which has none, ignores it).
//
// Described sizes are outer sizes, frame included, and the frame exists only
// once a window manager has put it round the window: whenFramed tells when.

#include <QMargins>
#include <Qt>

#include <functional>

class QWidget;

namespace tovi::ui {

// A dialog frame with a close box only: the confirmation dialog, the error
// message boxes, the about box.
Qt::WindowFlags closeBoxDialogFlags();
// A dialog frame with no title-bar buttons at all: the batch result window.
Qt::WindowFlags buttonlessDialogFlags();

// Minimise, maximise and full screen, whoever asks for them, put the window
// straight back into its normal state.
void keepNormalState(QWidget *window);

// The frame the window manager has put round a top-level window; empty while
// there is none (not yet shown, or no window manager).
QMargins frameMarginsOf(const QWidget *window);

// Calls `framed` once, with the frame margins, as soon as the window has a
// frame: at once when it has one already, otherwise on the first show, move
// or resize that finds one. Without a window manager it never runs.
void whenFramed(QWidget *window, std::function<void(const QMargins &)> framed);

}  // namespace tovi::ui
