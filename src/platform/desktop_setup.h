#pragma once

#include <string>
#include <vector>

namespace vozmo {

// True when the X server offers XTEST and XInputExtension 2.0 or later: all the key monitor
// and the paste need on X11 (there is no permission to grant there). False without a display.
bool keyAccessAvailable();

// What of that is missing, in the words the help uses: "X11" when no X server answers, else
// "XTEST" and/or "XInput2". Empty when keyAccessAvailable().
std::vector<std::string> missingKeyAccess();

// Starts the first sound settings program installed (pavucontrol, GNOME's or KDE's sound
// panel), detached. False when none could be started.
bool openSoundSettings();

} // namespace vozmo
