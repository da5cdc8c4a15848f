#pragma once

#include <functional>
#include <string>

namespace vozmo {

enum class SessionType { x11, wayland, none };

// What kind of graphical session this process runs in, read from its environment.
struct SessionInfo {
    SessionType type = SessionType::none;
    // The first name of XDG_CURRENT_DESKTOP, lower case: "gnome", "kde", "sway", "hyprland"...
    std::string desktop;
    bool waylandSocket = false; // WAYLAND_DISPLAY names a socket that exists
    bool xDisplay = false;      // DISPLAY is set (an X server, or XWayland on Wayland)
    std::string swaySocket;     // SWAYSOCK, sway's IPC socket
    bool hyprland = false;      // HYPRLAND_INSTANCE_SIGNATURE is set

    bool isSway() const { return !swaySocket.empty() || desktop == "sway"; }
    bool isHyprland() const { return hyprland || desktop == "hyprland"; }
    // "Wayland (sway)", "X11", "sin sesión gráfica".
    std::string name() const;
};

using EnvironmentLookup = std::function<std::string(const char* name)>;

// Pure: from the environment's values and whether a path is a socket. Wayland wins when its
// socket is there, unless XDG_SESSION_TYPE says x11 and an X display is set (a Wayland
// compositor nested in an X session).
SessionInfo detectSession(const EnvironmentLookup& environment,
                          const std::function<bool(const std::string& path)>& isSocket);

// This process's session.
SessionInfo currentSession();

} // namespace vozmo
