#include "display_loss.h"
#include "graphical_session.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace vozmo {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool waylandSocketExists() {
    const std::string display = environment("WAYLAND_DISPLAY");
    if (display.empty()) {
        return false;
    }
    std::filesystem::path socket(display);
    if (socket.is_relative()) {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            return false;
        }
        socket = std::filesystem::path(runtime) / socket;
    }
    std::error_code error;
    return std::filesystem::is_socket(socket, error);
}

bool xServerAnswers() {
    if (environment("DISPLAY").empty()) {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    guardDisplay(display);
    XCloseDisplay(display);
    return true;
}

} // namespace

bool graphicalSessionReachable() {
    // Platforms that draw without a display server, chosen on purpose.
    const std::string platform = environment("QT_QPA_PLATFORM");
    for (std::string_view headless : {"offscreen", "minimal", "vnc"}) {
        if (platform.rfind(headless, 0) == 0) {
            return true;
        }
    }
    return waylandSocketExists() || xServerAnswers();
}

void preferXWaylandForWindows() {
    if (waylandSocketExists() && !environment("DISPLAY").empty() &&
        environment("QT_QPA_PLATFORM").empty()) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

} // namespace vozmo
