#pragma once
// Where the program's own windows go: the rules that place the result window,
// the about box and the confirmation dialog relative to the main window.
//
// Positions and sizes are those of the outer frame. A window's frame is known
// only once it is on the screen, so the frame of a window about to be shown is
// estimated from the main window's, which the same window manager drew.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace tovi::ui {

// Centred over the owner's frame, halves rounded toward zero; a negative left
// or top becomes 0.
QPoint centredOver(const QRect &ownerFrame, const QSize &outerSize);

// The confirmation dialog: horizontally centred on the screen, its top edge at
// the main window's vertical middle (no adjustment to stay on the screen, so
// it may hang over the bottom edge). Only when that top is negative, or lies
// at or below the screen's bottom edge so that nothing of the dialog would
// show, is it centred on the screen both ways.
QPoint confirmDialogPosition(const QRect &mainFrame, const QSize &outerSize, const QRect &screen);

// The outer size of a window with the given client size, with the frame
// margins of `reference` (the main window); the client size alone when there
// is no reference.
QSize outerSizeLike(const QWidget *reference, const QSize &clientSize);

}  // namespace tovi::ui
