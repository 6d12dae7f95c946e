#pragma once

// Windows open at their designed place, unless that place is not on a screen
// (a smaller screen, a screen that has gone): then they open as near to it as
// the screen's available area allows. A designed window larger than that
// area (a small screen, a large scale factor) is cut down to it, its content
// scrolling.

#include <QPoint>
#include <QRect>
#include <QSize>

class QMainWindow;
class QWidget;

// Where a window of `size` opens: at `designed` when it lies whole within
// `available`, otherwise moved into it (its top-left corner first, when it is
// larger than the area).
QPoint placeWithin(QPoint designed, QSize size, QRect available);

// The available area of the screen that holds `designed`, or of the primary
// screen when none does.
QRect availableAreaAt(QPoint designed);

// Moves `window` to its designed place on the screen that holds that place, or
// on the primary screen when none does.
void moveToDesignedPlace(QWidget* window, QPoint designed);

// Leaves `window`, of its designed fixed size, as it is where it fits within
// `available` with its frame; otherwise its central widget goes into a scroll
// area (a status bar at its foot staying in view below it) and the window
// takes no more room than there is, resizable up to its designed size.
void fitWithin(QMainWindow* window, QRect available);
