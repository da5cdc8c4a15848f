#include "display_loss.h"
#include "graphical_session.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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

// The connection Qt's xcb platform will make: refused without the session's authorization
// (XAUTHORITY, or ~/.Xauthority), which no check of DISPLAY alone can tell.
bool xServerAccepts() {
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

// Whether a local X server (":1", ":1.0") has its socket: without one, DISPLAY names no server
// at all; with one, a failed connection was refused. Remote displays count as there.
bool xServerThere(const std::string& display) {
    if (display.empty() || display.front() != ':') {
        return !display.empty();
    }
    const std::string number = display.substr(1, display.find('.') - 1);
    std::error_code error;
    return std::filesystem::exists("/tmp/.X11-unix/X" + number, error);
}

// The platforms of QT_QPA_PLATFORM ("wayland;xcb" lists fallbacks), without their options.
std::vector<std::string> chosenPlatforms() {
    std::vector<std::string> platforms;
    const std::string value = environment("QT_QPA_PLATFORM");
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(';', start);
        if (end == std::string::npos) {
            end = value.size();
        }
        std::string entry = value.substr(start, end - start);
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty()) {
            platforms.push_back(entry);
        }
        start = end + 1;
    }
    return platforms;
}

// Whether the platform the user chose can start here. Only the two display servers are
// checked; any other platform (offscreen, vnc, eglfs…) is the user's business.
bool chosenPlatformWorks(const std::string& platform) {
    if (platform.rfind("wayland", 0) == 0) {
        return waylandSocketExists();
    }
    if (platform == "xcb") {
        return xServerAccepts();
    }
    return true;
}

std::string xwaylandNeeded(const std::string& why) {
    return "Vozmo necesita XWayland: en Wayland muestra sus ventanas a través de él, y en esta "
           "sesión " +
           why +
           ".\n"
           "Para activarlo:\n"
           "  · sway: quita «xwayland disable» de ~/.config/sway/config (o escribe «xwayland "
           "enable») y sal de sway y vuelve a entrar; recargar la configuración no basta.\n"
           "  · GNOME: instala el paquete xwayland (sudo apt-get install xwayland) y no inicies "
           "gnome-shell con --no-x11; luego cierra la sesión y vuelve a entrar.\n"
           "  · KDE Plasma: instala el paquete xwayland (sudo apt-get install xwayland) y cierra "
           "la sesión y vuelve a entrar.\n"
           "O entra en una sesión X11 (en la pantalla de acceso, junto a tu nombre).\n";
}

} // namespace

std::string windowsProblem() {
    const std::vector<std::string> chosen = chosenPlatforms();
    for (const auto& platform : chosen) {
        if (chosenPlatformWorks(platform)) {
            return "";
        }
    }
    if (chosen.empty() && xServerAccepts()) {
        return "";
    }
    const std::string display = environment("DISPLAY");
    if (waylandSocketExists()) {
        if (display.empty()) {
            return xwaylandNeeded("no está en marcha (DISPLAY no está definida)");
        }
        if (!xServerThere(display)) {
            return xwaylandNeeded("no está en marcha (no hay servidor X en DISPLAY=" + display +
                                  ")");
        }
        return xwaylandNeeded("su servidor X (DISPLAY=" + display + ") no acepta la conexión");
    }
    if (xServerThere(display)) {
        return "El servidor X de DISPLAY=" + display +
               " no acepta la conexión de Vozmo. Comprueba que la sesión es la tuya y que "
               "XAUTHORITY señala el archivo de autorización de la sesión (o que existe "
               "~/.Xauthority).\n";
    }
    return "No hay pantalla: Vozmo necesita una sesión gráfica (X11 o Wayland)\n";
}

void preferXWaylandForWindows() {
    if (waylandSocketExists() && !environment("DISPLAY").empty() &&
        environment("QT_QPA_PLATFORM").empty()) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

} // namespace vozmo
