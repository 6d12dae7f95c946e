#pragma once

// What both start-up probes print once their main window is exposed and
// painted: how long that took since the process started, and how much memory
// the process holds. scripts/bench runs each many times, in turn.

class QWidget;

// Shows `window`, runs the event loop until it has been painted, prints the
// figures and gives the exit status: 0, or 1 when the window was never shown.
int showAndMeasure(QWidget& window);
