#pragma once

#include "target_window.h"

#include <memory>
#include <string>

namespace vozmo {

// The application whose window is active, as the accessibility bus (AT-SPI2) tells it: the
// fallback on Wayland, where no program may ask the compositor. GTK, Qt, Chromium and Firefox
// applications report there. The result carries the process id and the application's name
// (which is not always its X11 class or Wayland app id); the window stays 0. Every call has a
// short time limit, so a frozen application costs a moment, not a hang.
class AtspiFocusedApp : public TargetWindow {
public:
    std::optional<TargetApp> focused() override;
};

// Why the accessibility bus cannot say which application is active ("" when it can).
std::string atspiFocusedAppProblem();

std::unique_ptr<TargetWindow> makeAtspiFocusedApp();

} // namespace vozmo
