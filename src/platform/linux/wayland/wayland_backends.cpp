#include "wayland_backends.h"

#include "clipboard_x11.h"
#include "focused_app_atspi.h"
#include "gnome_shortcut.h"
#include "hyprland_target_window.h"
#include "key_events.h"
#include "key_names.h"
#include "key_synth_x11.h"
#include "log.h"
#include "portal_key_synth.h"
#include "portal_shortcuts.h"
#include "prefs.h"
#include "target_window_sway.h"
#include "target_window_x11.h"
#include "virtual_keyboard_wayland.h"
#include "wayland_clipboard.h"

#include <limits>

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

// Where the focused application cannot be asked for, every reading gives this same unknown
// application, so a dictation's target and the window at its end always match and the text is
// pasted: a paste into the window the user moved to is better than a text left behind
// unannounced.
class UnknownTargetWindow : public TargetWindow {
public:
    std::optional<TargetApp> focused() override {
        TargetApp app;
        app.window = std::numeric_limits<unsigned long>::max();
        return app;
    }
};

// The accessibility bus knows only applications that tell it (GTK started with NO_AT_BRIDGE,
// many terminals and games do not): where it names none, the unknown application stands in, so
// the text is pasted into the focused window rather than left on the clipboard.
class AtspiOrUnknownTargetWindow : public TargetWindow {
public:
    explicit AtspiOrUnknownTargetWindow(std::unique_ptr<TargetWindow> atspi)
        : atspi_(std::move(atspi)) {}
    std::optional<TargetApp> focused() override {
        std::optional<TargetApp> app = atspi_->focused();
        return app ? app : unknown_.focused();
    }

private:
    std::unique_ptr<TargetWindow> atspi_;
    UnknownTargetWindow unknown_;
};

// The dictation key arrives as `vozmo --key` commands through the single-instance socket, so
// there is nothing to observe; Escape is `vozmo --key cancel`.
class CommandKeyEvents : public KeyEvents {
public:
    bool start(Handler) override { return true; }
};

// Hands the events of the one shortcut session the Desktop owns: the dictation-key logic may
// install its key source again, and a second session would register the keys twice.
class SharedShortcuts : public KeyEvents {
public:
    explicit SharedShortcuts(PortalShortcuts& shortcuts) : shortcuts_(shortcuts) {}
    bool start(Handler handler) override { return shortcuts_.start(std::move(handler)); }
    std::string keyName() const override { return shortcuts_.keyName(); }

private:
    PortalShortcuts& shortcuts_;
};

// The key the compositor's bind lines name: the one chosen in Vozmo when it is a single key,
// otherwise the right Alt key, or the right Ctrl where the right Alt key is AltGr (binding
// it would take @ # € away from every application).
std::string bindKey() {
    const std::vector<std::string> parts = customHotkeyParts(Prefs::hotkey());
    if (parts.size() == 1 && parts[0].rfind("Button", 0) != 0) {
        return parts[0];
    }
    return rightAltIsAltGr() ? "Control_R" : "Alt_R";
}

std::vector<std::string> compositorBindLines(const SessionInfo& session) {
    const std::string key = bindKey();
    if (session.isHyprland()) {
        return {"bind = , " + key + ", exec, vozmo --key press",
                "bindr = , " + key + ", exec, vozmo --key release"};
    }
    return {"bindsym --no-repeat " + key + " exec vozmo --key press",
            "bindsym --release " + key + " exec vozmo --key release"};
}

std::string bindFile(const SessionInfo& session) {
    return session.isHyprland() ? "~/.config/hypr/hyprland.conf" : "~/.config/sway/config";
}

std::vector<std::string> keyInstructions(const SessionInfo& session) {
    std::vector<std::string> lines;
    if (session.isSway() || session.isHyprland()) {
        lines.push_back("Añade estas dos líneas a " + bindFile(session) +
                        " y recarga la configuración:");
        for (std::string& line : compositorBindLines(session)) {
            lines.push_back(std::move(line));
        }
    } else if (session.desktop == "gnome") {
        lines = gnomeKeyInstructions(runningExecutable());
    } else if (session.desktop == "kde") {
        lines.push_back("En Preferencias del sistema › Atajos › Atajos personalizados, añade "
                        "una orden nueva «vozmo --key toggle» y asígnale una tecla.");
    } else {
        lines.push_back("Asigna una tecla en los atajos de tu escritorio a la orden «vozmo "
                        "--key toggle», o «vozmo --key press» al pulsar y «vozmo --key "
                        "release» al soltar.");
    }
    return lines;
}

const char* const kNoTyping = "Este escritorio no deja escribir en otras ventanas: el texto "
                              "quedará copiado y lo pegas tú con Ctrl+V.";

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
             if (session.desktop == "gnome") {
                 return findVozmoShortcut(gnomeCustomShortcuts())
                            ? ""
                            : "ningún atajo personalizado de GNOME ejecuta vozmo --key";
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

std::vector<std::string> waylandInstructions(const DesktopBackends& backends) {
    const SessionInfo& session = backends.session;
    if (session.type != SessionType::wayland) {
        return {};
    }
    std::vector<std::string> lines;
    if (!backends.keys.ok()) {
        lines = keyInstructions(session);
    }
    if (!backends.typing.ok()) {
        lines.push_back(kNoTyping);
    }
    return lines;
}

Desktop::Desktop(const SessionInfo& session) : backends_(chooseDesktopBackends(session, false)) {
    const bool wayland = session.type == SessionType::wayland;
    if (backends_.clipboard.chosen == kClipboardDataControl) {
        auto clipboard = std::make_unique<WaylandClipboard>();
        if (clipboard->ok()) {
            clipboard_ = std::move(clipboard);
        }
    }
    if (!clipboard_) {
        clipboard_ = std::make_unique<X11Clipboard>();
    }

    if (backends_.typing.chosen == kTypingPortal) {
        auto portal = std::make_unique<PortalKeySynth>(QDBusConnection::sessionBus());
        portalTyping_ = portal.get();
        portal->onChange = [this] { changed(); };
        typing_ = std::move(portal);
    } else if (backends_.typing.chosen == kTypingVirtualKeyboard) {
        typing_ = std::make_unique<WaylandKeySynth>();
    } else if (wayland) {
        // XTEST would reach XWayland windows only: better no stroke than one in the wrong place.
        typing_ = std::make_unique<NoKeySynth>();
    } else {
        typing_ = std::make_unique<X11KeySynth>();
    }

    if (backends_.target.chosen == kTargetSway) {
        windows_ = std::make_unique<SwayTargetWindow>(session.swaySocket);
    } else if (backends_.target.chosen == kTargetHyprland) {
        windows_ = makeHyprlandTargetWindow();
    } else if (backends_.target.chosen == kTargetAtspi) {
        windows_ = std::make_unique<AtspiOrUnknownTargetWindow>(makeAtspiFocusedApp());
    } else if (wayland) {
        windows_ = std::make_unique<UnknownTargetWindow>();
    } else {
        windows_ = std::make_unique<X11TargetWindow>();
    }

    if (backends_.keys.chosen == kKeysPortal) {
        shortcuts_ = makePortalShortcuts();
        shortcuts_->onChange = [this] { changed(); };
    }
}

Desktop::~Desktop() = default;

void Desktop::start() {
    log("Sesión: " + backends_.session.name());
    log(backends_.keys.describe("Tecla"));
    log(backends_.clipboard.describe("Portapapeles"));
    log(backends_.typing.describe("Escritura"));
    log(backends_.target.describe("Ventana destino"));
    if (portalTyping_ != nullptr) {
        portalTyping_->begin();
    }
}

std::unique_ptr<KeyEvents> Desktop::makeKeyEvents() {
    if (shortcuts_) {
        return std::make_unique<SharedShortcuts>(*shortcuts_);
    }
    if (backends_.keys.chosen == kKeysX11) {
        return vozmo::makeKeyEvents();
    }
    return std::make_unique<CommandKeyEvents>();
}

std::string Desktop::keyName() const {
    return shortcuts_ ? shortcuts_->trigger() : std::string();
}

void Desktop::keyCommandArrived() {
    if (keyCommandSeen_) {
        return;
    }
    keyCommandSeen_ = true;
    log("Tecla: llega con vozmo --key");
    changed();
}

bool Desktop::canListen() const {
    if (keyCommandSeen_) {
        return true;
    }
    return shortcuts_ ? shortcuts_->bound() : backends_.keys.ok();
}

bool Desktop::canType() const {
    return portalTyping_ != nullptr ? portalTyping_->ready() : backends_.typing.ok();
}

std::vector<std::string> Desktop::instructions() const {
    const SessionInfo& session = backends_.session;
    if (session.type == SessionType::x11 && backends_.keys.chosen == kKeysX11 &&
        Prefs::hotkey() == Prefs::kHotkeyRightAlt && rightAltIsAltGr()) {
        return {"En tu distribución de teclado, Alt derecha es AltGr (con ella escribes @ # €): "
                "no puede ser la tecla de dictado. Elige Fn en el menú de Vozmo."};
    }
    if (session.type != SessionType::wayland) {
        return {};
    }
    std::vector<std::string> lines;
    if (!canListen()) {
        if (shortcuts_) {
            lines.push_back("Asigna una tecla a «Dictar» de Vozmo en los atajos de teclado del "
                            "escritorio (" +
                            shortcuts_->problem() + ").");
        } else {
            lines = keyInstructions(session);
        }
    }
    if (!canType()) {
        if (portalTyping_ != nullptr && portalTyping_->waiting() && session.desktop == "gnome") {
            lines.push_back(gnomePasteInstruction());
        } else if (portalTyping_ != nullptr && portalTyping_->waiting()) {
            lines.push_back("El escritorio pregunta si Vozmo puede enviar teclas: acéptalo para "
                            "que el texto se pegue solo.");
        } else if (portalTyping_ != nullptr && portalTyping_->refused()) {
            lines.push_back("No se permitió a Vozmo enviar teclas: el texto quedará copiado y lo "
                            "pegas tú con Ctrl+V (al volver a abrir Vozmo, lo pregunta otra vez).");
        } else {
            lines.push_back(kNoTyping);
        }
    }
    return lines;
}

bool Desktop::capturesKeys() const {
    return backends_.keys.chosen == kKeysX11;
}

KeyChoiceHelp Desktop::keyChoiceHelp() const {
    const SessionInfo& session = backends_.session;
    KeyChoiceHelp help;
    if (shortcuts_) {
        const std::string trigger = shortcuts_->trigger();
        help.instructions.push_back(
            "La tecla la asigna el escritorio: cambia la de «Dictar» de Vozmo en sus atajos de "
            "teclado (en KDE, Preferencias del sistema › Atajos › Vozmo)." +
            (trigger.empty() ? std::string() : " Ahora es " + trigger + "."));
    } else if (session.isSway() || session.isHyprland()) {
        help.instructions.push_back("Pon estas dos líneas en " + bindFile(session) +
                                    " (en lugar de las de vozmo --key que tengas) y recarga la "
                                    "configuración; cambia " +
                                    bindKey() + " por la tecla que quieras:");
        help.linesToCopy = compositorBindLines(session);
    } else {
        help.instructions = keyInstructions(session);
    }
    return help;
}

void Desktop::changed() {
    if (onChange) {
        onChange();
    }
}

} // namespace vozmo
