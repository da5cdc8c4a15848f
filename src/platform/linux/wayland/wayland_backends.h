#pragma once

#include "backend_choice.h"
#include "clipboard.h"
#include "key_events.h"
#include "key_synth.h"
#include "target_window.h"
#include "wayland_session.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozmo {

// How the dictation key, the paste stroke and the focused application are reached on this
// desktop, chosen at run time from ordered candidates.
struct DesktopBackends {
    SessionInfo session;
    BackendChoice keys;
    BackendChoice clipboard;
    BackendChoice typing;
    BackendChoice target;
};

// Candidate names, for code that acts on the choice.
inline constexpr const char* kKeysPortal = "portal GlobalShortcuts";
inline constexpr const char* kKeysX11 = "XInput2";
inline constexpr const char* kKeysCommand = "orden vozmo --key";
inline constexpr const char* kClipboardDataControl = "portapapeles Wayland (wlr-data-control)";
inline constexpr const char* kClipboardX11 = "portapapeles X11";
inline constexpr const char* kTypingPortal = "portal RemoteDesktop";
inline constexpr const char* kTypingX11 = "XTEST";
inline constexpr const char* kTypingVirtualKeyboard = "teclado virtual (zwp_virtual_keyboard_v1)";
inline constexpr const char* kTargetX11 = "ventana activa (EWMH)";
inline constexpr const char* kTargetSway = "sway IPC (get_tree)";
inline constexpr const char* kTargetHyprland = "Hyprland IPC (activewindow)";
inline constexpr const char* kTargetAtspi = "aplicación activa (AT-SPI)";

// Asks the desktop now. `keyCommandSeen`: a `vozmo --key` command has reached this instance,
// which proves a desktop shortcut sends the key even where its configuration cannot be read.
DesktopBackends chooseDesktopBackends(const SessionInfo& session, bool keyCommandSeen);

// What the user does on this desktop so that the key and the paste work, in Spanish, one
// instruction per line; empty on X11.
std::vector<std::string> waylandInstructions(const DesktopBackends& backends);

// How the user picks the dictation key where the desktop assigns it.
struct KeyChoiceHelp {
    std::vector<std::string> instructions; // Spanish, one per line
    std::vector<std::string> linesToCopy;  // configuration lines, exactly as they go in the file
};

class PortalKeySynth;
class PortalShortcuts;

// The desktop as Vozmo reaches it: how the key arrives, how strokes are typed, which clipboard
// and how the focused application is found, chosen once at start on every kind of session, and
// the objects of that choice, which the application and the delivery share. What works now
// (readiness) is read from here too. Main thread only.
class Desktop : public QObject {
    Q_OBJECT
public:
    explicit Desktop(const SessionInfo& session);
    ~Desktop() override;

    // Logs the choice and opens the desktop portal's sessions (the shortcuts and the remote
    // desktop), so that a permission dialog appears at start, with the setup window to explain
    // it, and never in the middle of a dictation.
    void start();

    const DesktopBackends& backends() const { return backends_; }
    Clipboard& clipboard() { return *clipboard_; }
    KeySynth& typing() { return *typing_; }
    TargetWindow& windows() { return *windows_; }

    // The key source of the choice, for the dictation-key logic. On portal desktops every one
    // hands the events of the one shortcut session owned here.
    std::unique_ptr<KeyEvents> makeKeyEvents();
    // The dictation key as the desktop names it ("F8"), "" where Vozmo reads the key itself.
    std::string keyName() const;

    // Vozmo reads the keys itself (X11), so the user can pick the key by pressing it.
    bool capturesKeys() const;
    // Elsewhere, what to do in the desktop's settings.
    KeyChoiceHelp keyChoiceHelp() const;

    // A `vozmo --key` command reached this instance: a desktop shortcut sends the key.
    void keyCommandArrived();

    bool canListen() const;
    bool canType() const;
    bool canListenAndType() const { return canListen() && canType(); }
    // What the user still has to do so that the key and the paste work, one Spanish
    // instruction per line; empty when all works.
    std::vector<std::string> instructions() const;

    // Called when what canListen(), canType(), keyName() or instructions() answer may have
    // changed (a portal answered, a session closed).
    std::function<void()> onChange;

private:
    void changed();

    DesktopBackends backends_;
    bool keyCommandSeen_ = false;
    std::unique_ptr<Clipboard> clipboard_;
    std::unique_ptr<KeySynth> typing_;
    PortalKeySynth* portalTyping_ = nullptr; // typing_, when the portal types
    std::unique_ptr<TargetWindow> windows_;
    std::unique_ptr<PortalShortcuts> shortcuts_; // when the portal's shortcuts give the key
};

} // namespace vozmo
