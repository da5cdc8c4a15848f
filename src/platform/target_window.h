#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace vozmo {

// The application behind a top-level window.
struct TargetApp {
    pid_t pid = 0;            // 0 when the window does not say
    std::string appId;        // the WM_CLASS class name ("Gnome-terminal", "discord"); may be empty
    unsigned long window = 0; // the X window id; 0 for our own identity
    bool operator==(const TargetApp&) const = default;
};

// Finds the window that has the keyboard focus of the desktop. Main thread only.
class TargetWindow {
public:
    virtual ~TargetWindow() = default;
    virtual std::optional<TargetApp> focused() = 0;
};

// The application whose window is active now (EWMH _NET_ACTIVE_WINDOW); absent when no window
// is active or there is no display.
std::optional<TargetApp> focusedApp();

// This process as a TargetApp: our pid and the class name Qt gives our windows.
TargetApp ownIdentity();

// Whether `now` is still the application `target` was: the same process, or the same window
// when a window did not tell its process.
bool sameApp(const TargetApp& target, const TargetApp& now);

} // namespace vozmo
