#pragma once

// Windows open at their designed place, unless that place is not on a screen
// (a smaller screen, a screen that has gone): then they open as near to it as
// the screen's available area allows.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where a window of `size` opens: at `designed` when it lies whole within
// `available`, otherwise moved into it (its top-left corner first, when it is
// larger than the area).
QPoint placeWithin(QPoint designed, QSize size, QRect available);

// Moves `window` to its designed place on the screen that holds that place, or
// on the primary screen when none does.
void moveToDesignedPlace(QWidget* window, QPoint designed);
