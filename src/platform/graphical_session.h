#pragma once

namespace vozmo {

// Whether a window can be shown at all: a Wayland compositor's socket or an X server that
// accepts a connection, or a Qt platform chosen that needs neither. Asked before the
// application object exists, since Qt aborts the process when it finds no display.
bool graphicalSessionReachable();

// On Wayland with XWayland, has Qt draw Vozmo's windows through XWayland (unless the user chose
// a platform): there the panel can place itself at the bottom centre and keep out of the focus,
// which a Wayland window cannot ask for. Call before the application object exists.
void preferXWaylandForWindows();

} // namespace vozmo
