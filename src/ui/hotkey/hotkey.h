#pragma once

#include <functional>
#include <memory>

#include "key_events.h"

namespace vozmo {

// Watches the keyboard system-wide for the dictation key (Fn, or right Alt when the hotkey
// preference is the right Alt), other keys used while it is held, and Escape. It only observes.
// Everything runs on the main thread.
class Hotkey {
public:
    using EventsFactory = std::function<std::unique_ptr<KeyEvents>()>;

    Hotkey(); // X11 XInput2
    explicit Hotkey(EventsFactory makeEvents);
    Hotkey(const Hotkey&) = delete;
    Hotkey& operator=(const Hotkey&) = delete;

    // (Re)installs the monitor; safe to call again. False (and one log line) when keys cannot
    // be observed on this desktop.
    bool install();

    // One key event, as the monitor delivers it.
    void handle(const KeyEvent& event);

    std::function<void()> onDown;
    std::function<void()> onUp;
    std::function<void()> onOtherKey; // another key or modifier while the dictation key is held
    std::function<void()> onEscape;   // Escape pressed, held dictation key or not
    bool isDown = false;

private:
    EventsFactory makeEvents_;
    std::unique_ptr<KeyEvents> monitor_;
};

} // namespace vozmo
