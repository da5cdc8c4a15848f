#include "wayland_backends.h"

#include "clipboard_x11.h"
#include "focused_app_atspi.h"
#include "hyprland_target_window.h"
#include "key_events.h"
#include "key_synth_x11.h"
#include "portal_key_synth.h"
#include "portal_shortcuts.h"
#include "target_window_sway.h"
#include "target_window_x11.h"
#include "virtual_keyboard_wayland.h"
#include "wayland_clipboard.h"

namespace vozmo {

namespace {

std::string onlyOnX11(const SessionInfo& session, const char* what) {
    if (session.type == SessionType::x11) {
        return "";
    }
    if (session.type == SessionType::wayland) {
        return std::string("en Wayland, XWayland solo ") + what;
    }
    return "no hay servidor X";
}

class NoKeySynth : public KeySynth {
public:
    bool send(const KeyStroke&) override { return false; }
};

class NoTargetWindow : public TargetWindow {
public:
    std::optional<TargetApp> focused() override { return std::nullopt; }
};

} // namespace

DesktopBackends chooseDesktopBackends(const SessionInfo& session, bool keyCommandSeen) {
    DesktopBackends backends;
    backends.session = session;
    const bool wayland = session.type == SessionType::wayland;

    backends.keys = chooseBackend({
        // Offered by GNOME 48+, KDE and Hyprland: the desktop owns the key, and tells us of it.
        {kKeysPortal,
         [&] {
             return wayland ? portalShortcutsProblem() : std::string("no es una sesión Wayland");
         }},
        {kKeysX11,
         [&] {
             std::string problem = onlyOnX11(session, "ve las teclas de ventanas X11");
             return problem.empty() ? keyMonitorProblem() : problem;
         }},
        {kKeysCommand,
         [&]() -> std::string {
             if (keyCommandSeen) {
                 return "";
             }
             if (session.isSway() && !session.swaySocket.empty()) {
                 return swayBindsVozmoKey(session.swaySocket)
                            ? ""
                            : "la configuración de sway no asigna ninguna tecla a vozmo --key";
             }
             return "ningún atajo del escritorio ha enviado vozmo --key todavía";
         }},
    });

    backends.clipboard = chooseBackend({
        {kClipboardDataControl,
         [&] { return wayland ? dataControlProblem() : std::string("no es una sesión Wayland"); }},
        {kClipboardX11,
         [&]() -> std::string {
             return session.type == SessionType::x11 || session.xDisplay ? "" : "no hay XWayland";
         }},
    });
    const bool waylandClipboard = backends.clipboard.chosen == kClipboardDataControl;

    backends.typing = chooseBackend({
        // Offered by GNOME and KDE, which have no virtual-keyboard protocol.
        {kTypingPortal,
         [&] {
             return wayland ? portalKeySynthProblem() : std::string("no es una sesión Wayland");
         }},
        {kTypingX11,
         [&] {
             std::string problem = onlyOnX11(session, "escribe en ventanas X11");
             return problem.empty() && !pasteAvailable() ? "el servidor X no ofrece XTEST"
                                                         : problem;
         }},
        {kTypingVirtualKeyboard,
         [&]() -> std::string {
             if (!wayland) {
                 return "no es una sesión Wayland";
             }
             // XWayland's clipboard reaches Wayland windows under wlroots compositors only while
             // an X11 window has the focus: the stroke would paste the previous content.
             if (!waylandClipboard) {
                 return "sin el portapapeles Wayland, pegaría el contenido anterior";
             }
             return virtualKeyboardProblem();
         }},
    });

    backends.target = chooseBackend({
        {kTargetX11, [&] { return onlyOnX11(session, "conoce la ventana activa si es X11"); }},
        {kTargetSway,
         [&]() -> std::string {
             if (!wayland || session.swaySocket.empty()) {
                 return "no es sway";
             }
             return swayRequest(session.swaySocket, kSwayGetTree) ? "" : "sway no responde";
         }},
        {kTargetHyprland,
         [&] { return wayland ? hyprlandProblem() : std::string("no es una sesión Wayland"); }},
        // GTK, Qt, Chromium and Firefox applications tell the accessibility bus on any desktop.
        {kTargetAtspi,
         [&] {
             return wayland ? atspiFocusedAppProblem() : std::string("no es una sesión Wayland");
         }},
    });
    return backends;
}

std::unique_ptr<Clipboard> makeClipboard(const DesktopBackends& backends) {
    if (backends.clipboard.chosen == kClipboardDataControl) {
        auto clipboard = std::make_unique<WaylandClipboard>();
        if (clipboard->ok()) {
            return clipboard;
        }
    }
    return std::make_unique<X11Clipboard>();
}

std::unique_ptr<KeySynth> makeKeySynth(const DesktopBackends& backends) {
    if (backends.typing.chosen == kTypingPortal) {
        return makePortalKeySynth();
    }
    if (backends.typing.chosen == kTypingVirtualKeyboard) {
        return std::make_unique<WaylandKeySynth>();
    }
    if (backends.session.type == SessionType::wayland) {
        // XTEST would reach XWayland windows only: better no stroke than one in the wrong place.
        return std::make_unique<NoKeySynth>();
    }
    return std::make_unique<X11KeySynth>();
}

std::unique_ptr<TargetWindow> makeTargetWindow(const DesktopBackends& backends) {
    if (backends.target.chosen == kTargetSway) {
        return std::make_unique<SwayTargetWindow>(backends.session.swaySocket);
    }
    if (backends.target.chosen == kTargetHyprland) {
        return makeHyprlandTargetWindow();
    }
    if (backends.target.chosen == kTargetAtspi) {
        return makeAtspiFocusedApp();
    }
    if (backends.session.type == SessionType::wayland) {
        return std::make_unique<NoTargetWindow>();
    }
    return std::make_unique<X11TargetWindow>();
}

std::vector<std::string> waylandInstructions(const DesktopBackends& backends) {
    const SessionInfo& session = backends.session;
    if (session.type != SessionType::wayland) {
        return {};
    }
    std::vector<std::string> lines;
    if (!backends.keys.ok()) {
        if (session.isSway() || session.isHyprland()) {
            const char* file =
                session.isHyprland() ? "~/.config/hypr/hyprland.conf" : "~/.config/sway/config";
            lines.push_back(std::string("Añade estas dos líneas a ") + file +
                            " y recarga la configuración:");
            if (session.isHyprland()) {
                lines.push_back("bind = , Alt_R, exec, vozmo --key press");
                lines.push_back("bindr = , Alt_R, exec, vozmo --key release");
            } else {
                lines.push_back("bindsym --no-repeat Alt_R exec vozmo --key press");
                lines.push_back("bindsym --release Alt_R exec vozmo --key release");
            }
        } else if (session.desktop == "gnome") {
            lines.push_back("En Configuración › Teclado › Ver y personalizar atajos › Atajos "
                            "personalizados, añade uno con la orden «vozmo --key toggle» (pulsa "
                            "una vez para empezar y otra para terminar).");
        } else if (session.desktop == "kde") {
            lines.push_back("En Preferencias del sistema › Atajos › Atajos personalizados, añade "
                            "una orden nueva «vozmo --key toggle» y asígnale una tecla.");
        } else {
            lines.push_back("Asigna una tecla en los atajos de tu escritorio a la orden «vozmo "
                            "--key toggle», o «vozmo --key press» al pulsar y «vozmo --key "
                            "release» al soltar.");
        }
    }
    if (!backends.typing.ok()) {
        lines.push_back("Este escritorio no deja escribir en otras ventanas: el texto quedará "
                        "copiado y lo pegas tú con Ctrl+V.");
    }
    return lines;
}

} // namespace vozmo
