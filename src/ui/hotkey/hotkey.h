#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "key_events.h"

namespace vozmo {

// Watches the keyboard system-wide for the dictation key (the hotkey preference: Fn, right Alt,
// or any key, side button or combination the user chose), other keys used while it is held,
// and Escape. It only observes. Everything runs on the main thread.
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

    // While paused (a new key is being chosen), no event means anything; a dictation key held
    // when the pause begins counts as let go.
    void setPaused(bool paused);

    // Presses of keys that type (neither modifiers nor the dictation key), counted since the
    // monitor started, auto-repeats included: whether the user typed between two moments. None
    // where the monitor sees only the dictation key (a desktop's shortcut).
    std::optional<std::uint64_t> typedKeys() const;

    std::function<void()> onDown;
    std::function<void()> onUp;
    std::function<void()> onOtherKey; // another key or modifier while the dictation key is held
    std::function<void()> onEscape;   // Escape pressed, held dictation key or not
    bool isDown = false;

private:
    void handleBuiltIn(const KeyEvent& event);
    void handleChosen(const KeyEvent& event, const std::vector<std::string>& parts);
    void setDown(bool down);

    EventsFactory makeEvents_;
    std::unique_ptr<KeyEvents> monitor_;
    bool paused_ = false;
    std::uint64_t typedKeys_ = 0;
    // Parts of a chosen combination held now, and the preference they belong to.
    std::vector<std::string> held_;
    std::string heldFor_;
};

} // namespace vozmo
