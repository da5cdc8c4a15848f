#pragma once

namespace vozmo {

// Whether a window can be shown at all: a Wayland compositor's socket or an X server that
// accepts a connection, or a Qt platform chosen that needs neither. Asked before the
// application object exists, since Qt aborts the process when it finds no display.
bool graphicalSessionReachable();

} // namespace vozmo
