#pragma once

#include "backend_choice.h"
#include "clipboard.h"
#include "key_synth.h"
#include "target_window.h"
#include "wayland_session.h"

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

// The clipboard of the choice: the compositor's own where it offers data control, otherwise
// the X11 one (XWayland's on Wayland, which GNOME and KDE hand on to Wayland windows).
std::unique_ptr<Clipboard> makeClipboard(const DesktopBackends& backends);

// The stroke sender and the window lookup of the choice; on Wayland without any, ones that
// always fail (the text then stays on the clipboard) and always answer "unknown".
std::unique_ptr<KeySynth> makeKeySynth(const DesktopBackends& backends);
std::unique_ptr<TargetWindow> makeTargetWindow(const DesktopBackends& backends);

// What the user does on this desktop so that the key and the paste work, in Spanish, one
// instruction per line; empty on X11.
std::vector<std::string> waylandInstructions(const DesktopBackends& backends);

} // namespace vozmo
