#pragma once

// Installs what Qt's accessibility does not bring for Ravelin's window: the
// interfaces of the list boxes and the announcement grid, and an application
// whose children include the menu or popup open at the time (Qt lists only
// the ordinary windows, so a context menu had no place in the tree).
// Installing twice does no harm.
void installAccessibility();
