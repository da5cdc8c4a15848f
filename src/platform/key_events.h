#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozmo {

// The keys the dictation-key logic tells apart, identified by what they produce (keysym), not
// by where they sit on the keyboard.
enum class Key {
    escape,
    rightAlt, // Alt_R, or ISO_Level3_Shift unless the layout's right Alt key is AltGr
    fn,       // XF86WakeUp, which many laptops send for Fn, or XF86Fn (the kernel's KEY_FN)
    modifier, // any other modifier: Shift, Control, left Alt, Super, Caps Lock...
    other,
    button, // a mouse button past the wheel's (8 and up: the side buttons)
};

struct KeyEvent {
    Key key = Key::other;
    bool pressed = true; // false for a release
    // The keysym's name ("Control_R", "F13") or the button's ("Button8"), for keys the user
    // chose; "" where the source cannot tell.
    std::string name = {};
};

// System-wide observation of key presses and releases. Nothing is grabbed or consumed: the
// focused application still receives every key.
class KeyEvents {
public:
    using Handler = std::function<void(const KeyEvent&)>;

    virtual ~KeyEvents() = default;
    // Starts delivering events to `handler` on the main thread; false (with one log line) when
    // the desktop offers no way to observe keys.
    virtual bool start(Handler handler) = 0;
    // The dictation key as the desktop names it, where the desktop rather than Vozmo decides
    // which key it is (a global shortcut); "" otherwise.
    virtual std::string keyName() const { return {}; }
    // Every key typed anywhere reaches the handler, not only the dictation key's.
    virtual bool seesTyping() const { return false; }
};

// Observation through X11 XInput2 raw key and button events on the root window.
std::unique_ptr<KeyEvents> makeKeyEvents();

// The next key, mouse side button or combination the user presses, to become the dictation key.
struct CapturedKey {
    std::vector<std::string> parts; // keysym names or "ButtonN", modifiers first
    std::string refusal;            // why it cannot be the dictation key; "" when it can
};

// Waits for one key, button or combination: pressed, then all let go. Nothing is grabbed.
class KeyCapture {
public:
    virtual ~KeyCapture() = default;
    // Starts listening; `done` runs on the main thread for each key pressed and let go, until
    // this object ends. False (with one log line) when the desktop offers no way to see keys.
    virtual bool start(std::function<void(const CapturedKey&)> done) = 0;
};

// Capture through X11 XInput2 raw events.
std::unique_ptr<KeyCapture> makeKeyCapture();

// Whether the right Alt key of the X server's keyboard layout is AltGr (ISO_Level3_Shift, as on
// the Spanish layout), so that it cannot be the dictation key.
bool rightAltIsAltGr();

// Whether keys can be observed and synthesised here: an X server offering XTEST and
// XInputExtension 2.0 or later. Quiet and quick, so it can be polled.
bool keyMonitorAvailable();
// The same, with the reason when not ("" when available).
std::string keyMonitorProblem();

} // namespace vozmo
