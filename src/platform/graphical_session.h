#pragma once

#include <string>

namespace vozmo {

// Why Vozmo's windows cannot open in this session: a Spanish message, ready to print before
// leaving with status 1; empty when they can. It opens (and closes again) the X connection the
// windows will use, with the session's DISPLAY and XAUTHORITY, since on Wayland they go through
// XWayland: there the panel can place itself at the bottom centre and keep out of the focus,
// which a Wayland window cannot ask for. A Qt platform the user chose is respected. Asked
// before the application object exists, since Qt aborts the process when its platform finds no
// display.
std::string windowsProblem();

// On Wayland with XWayland, has Qt draw Vozmo's windows through XWayland (unless the user chose
// a platform). Call before the application object exists.
void preferXWaylandForWindows();

} // namespace vozmo
