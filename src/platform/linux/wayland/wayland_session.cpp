#include "wayland_session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace vozmo {

std::string SessionInfo::name() const {
    switch (type) {
    case SessionType::x11:
        return "X11";
    case SessionType::wayland:
        return desktop.empty() ? "Wayland" : "Wayland (" + desktop + ")";
    case SessionType::none:
        break;
    }
    return "sin sesión gráfica";
}

SessionInfo detectSession(const EnvironmentLookup& environment,
                          const std::function<bool(const std::string& path)>& isSocket) {
    SessionInfo info;
    std::string desktop = environment("XDG_CURRENT_DESKTOP");
    desktop = desktop.substr(0, desktop.find(':'));
    std::transform(desktop.begin(), desktop.end(), desktop.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    info.desktop = desktop;
    info.swaySocket = environment("SWAYSOCK");
    info.hyprland = !environment("HYPRLAND_INSTANCE_SIGNATURE").empty();
    info.xDisplay = !environment("DISPLAY").empty();

    const std::string display = environment("WAYLAND_DISPLAY");
    if (!display.empty()) {
        std::filesystem::path socket(display);
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (socket.is_relative() && !runtime.empty()) {
            socket = std::filesystem::path(runtime) / socket;
        }
        info.waylandSocket = socket.is_absolute() && isSocket(socket.string());
    }

    const std::string declared = environment("XDG_SESSION_TYPE");
    if (info.waylandSocket && !(declared == "x11" && info.xDisplay)) {
        info.type = SessionType::wayland;
    } else if (info.xDisplay) {
        info.type = SessionType::x11;
    }
    return info;
}

SessionInfo currentSession() {
    return detectSession(
        [](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value != nullptr ? value : "");
        },
        [](const std::string& path) {
            std::error_code error;
            return std::filesystem::is_socket(path, error);
        });
}

} // namespace vozmo
