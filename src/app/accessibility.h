#pragma once

// Installs what Qt's accessibility does not bring for Ravelin's window: the
// interfaces of the list boxes and the announcement grid. Installing twice
// does no harm.
void installAccessibility();
