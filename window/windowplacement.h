// Keeping windows and boxes whole on whatever screen the program runs on.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QMessageBox;
class QWidget;

namespace lumivane {

// The top-left corner for `frame` that shows it whole inside `available` with
// the least move: its own corner when it fits already. A frame larger than the
// area starts at the area's top or left edge, so the title bar stays reachable.
QPoint PositionInside(const QRect& frame, const QRect& available);

// Where a window of `wanted` size goes beside `neighbour` (both frames):
// on the side with the most free room inside `available`, shrunk to that
// room, so that neither covers the other. Where no side has `least` room,
// the side with the most, overlapping the neighbour as little as it must.
QRect PlaceBeside(const QRect& neighbour, QSize wanted, const QRect& available, QSize least);

// Moves a shown top-level window the least needed to show its frame whole on
// the screen that holds the mouse pointer; leaves it where it is otherwise.
void KeepOnScreen(QWidget& window);

// KeepOnScreen once the window manager has put its frame around the
// just-shown window, which makes it larger.
void KeepOnScreenOnceFramed(QWidget& window);

// Widens a message box so that its whole title shows in the title bar and no
// word of its text (a long path has no place to break) is cut off, as far as
// the screen allows.
void FitBoxToTitleAndText(QMessageBox& box);

}  // namespace lumivane
