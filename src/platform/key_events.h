#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vozmo {

// The keys the dictation-key logic tells apart, identified by what they produce (keysym), not
// by where they sit on the keyboard.
enum class Key {
    escape,
    rightAlt, // Alt_R; never ISO_Level3_Shift, which is AltGr
    fn,       // XF86WakeUp, which many laptops send for Fn, or XF86Fn (the kernel's KEY_FN)
    modifier, // any other modifier: Shift, Control, left Alt, Super, Caps Lock...
    other,
};

struct KeyEvent {
    Key key = Key::other;
    bool pressed = true; // false for a release
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
};

// Observation through X11 XInput2 raw key events on the root window.
std::unique_ptr<KeyEvents> makeKeyEvents();

// Whether the right Alt key of the X server's keyboard layout is AltGr (ISO_Level3_Shift, as on
// the Spanish layout), so that it cannot be the dictation key.
bool rightAltIsAltGr();

// Whether keys can be observed and synthesised here: an X server offering XTEST and
// XInputExtension 2.0 or later. Quiet and quick, so it can be polled.
bool keyMonitorAvailable();
// The same, with the reason when not ("" when available).
std::string keyMonitorProblem();

} // namespace vozmo
