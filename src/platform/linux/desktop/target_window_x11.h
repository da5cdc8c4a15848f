#pragma once

#include "target_window.h"
#include "x11_display.h"

namespace vozmo {

// The active window through EWMH: _NET_ACTIVE_WINDOW, its _NET_WM_PID and WM_CLASS.
class X11TargetWindow : public TargetWindow {
public:
    std::optional<TargetApp> focused() override;

private:
    X11Display display_;
};

} // namespace vozmo
