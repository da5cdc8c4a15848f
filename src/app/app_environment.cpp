#include "app_environment.h"

#include "desktop_setup.h"
#include "key_synth.h"
#include "leading_space.h"
#include "log.h"
#include "paste.h"
#include "portal_shortcuts.h"
#include "wayland_backends.h"

#include <limits>

namespace vozmo {

namespace {

// The dictation key arrives as `vozmo --key` commands through the single-instance socket, so
// there is nothing to observe; Escape is `vozmo --key cancel`.
class CommandKeyEvents : public KeyEvents {
public:
    bool start(Handler) override { return true; }
};

// Where the focused application cannot be asked for, every reading gives this same unknown
// application, so a dictation's target and the window at its end always match and the text is
// pasted: a paste into the window the user moved to is better than a text left behind
// unannounced.
TargetApp unknownApp() {
    TargetApp app;
    app.window = std::numeric_limits<unsigned long>::max();
    return app;
}

// The session's backends, chosen at start and again when asked, since a shortcut may be set up
// or the compositor's configuration reloaded while Vozmo runs.
struct WaylandDesk {
    SessionInfo session = currentSession();
    bool keyCommandSeen = false;
    bool logged = false;
    DesktopBackends backends;
    std::unique_ptr<TargetWindow> windows;

    void choose() {
        backends = chooseDesktopBackends(session, keyCommandSeen);
        if (!windows) {
            windows = makeTargetWindow(backends);
        }
    }
    bool ready() const { return backends.keys.ok() && backends.typing.ok(); }
};

AppEnvironment commonEnvironment() {
    AppEnvironment env;
    env.microphoneStatus = [] { return vozmo::microphoneStatus(); };
    env.openMicrophoneSettings = [] { openSoundSettings(); };
    env.ownIdentity = [] { return vozmo::ownIdentity(); };
    env.needsLeadingSpace = [] { return vozmo::needsLeadingSpace(); };
    env.paste = [](const std::string& text) { return vozmo::paste(text); };
    env.copyText = [](const std::string& text) { copyToClipboard(text); };
    env.makeAudioInput = [] { return vozmo::makeAudioInput(); };
    env.sounds = makeSystemSoundPlayer();
    env.notifier = makeDesktopNotifier();
    return env;
}

AppEnvironment waylandEnvironment() {
    AppEnvironment env = commonEnvironment();
    auto desk = std::make_shared<WaylandDesk>();
    desk->choose();

    env.canListenAndType = [desk] {
        desk->choose();
        return desk->ready();
    };
    env.focusedApp = [desk]() -> std::optional<TargetApp> {
        if (!desk->backends.target.ok()) {
            return unknownApp();
        }
        return desk->windows->focused();
    };
    env.makeKeyEvents = [desk]() -> std::unique_ptr<KeyEvents> {
        // Asked once the log's folder exists, when the key is installed at start.
        if (!desk->logged) {
            desk->logged = true;
            log("Sesión: " + desk->session.name());
            log(desk->backends.keys.describe("Tecla"));
            log(desk->backends.clipboard.describe("Portapapeles"));
            log(desk->backends.typing.describe("Escritura"));
            log(desk->backends.target.describe("Ventana destino"));
        }
        if (desk->backends.keys.chosen == kKeysX11) {
            return vozmo::makeKeyEvents();
        }
        if (desk->backends.keys.chosen == kKeysPortal) {
            return makePortalShortcuts();
        }
        return std::make_unique<CommandKeyEvents>();
    };
    env.keyCommandArrived = [desk] {
        if (!desk->keyCommandSeen) {
            desk->keyCommandSeen = true;
            log("Tecla: llega con vozmo --key");
        }
    };
    env.desktopInstructions = [desk] {
        desk->choose();
        return waylandInstructions(desk->backends);
    };
    return env;
}

} // namespace

AppEnvironment linuxEnvironment() {
    if (currentSession().type == SessionType::wayland) {
        return waylandEnvironment();
    }
    AppEnvironment env = commonEnvironment();
    env.canListenAndType = [] { return keyMonitorAvailable() && pasteAvailable(); };
    env.focusedApp = [] { return vozmo::focusedApp(); };
    env.makeKeyEvents = [] { return vozmo::makeKeyEvents(); };
    return env;
}

} // namespace vozmo
