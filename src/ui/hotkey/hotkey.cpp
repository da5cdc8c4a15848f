#include "hotkey.h"

#include "prefs.h"

namespace vozmo {
namespace {

// Callbacks may end the Hotkey; nothing is touched after one runs.
void call(const std::function<void()>& callback) {
    if (callback) {
        callback();
    }
}

} // namespace

Hotkey::Hotkey() : Hotkey(&makeKeyEvents) {}

Hotkey::Hotkey(EventsFactory makeEvents) : makeEvents_(std::move(makeEvents)) {}

bool Hotkey::install() {
    monitor_.reset();
    std::unique_ptr<KeyEvents> monitor = makeEvents_ ? makeEvents_() : nullptr;
    if (!monitor || !monitor->start([this](const KeyEvent& event) { handle(event); })) {
        return false;
    }
    monitor_ = std::move(monitor);
    return true;
}

void Hotkey::handle(const KeyEvent& event) {
    const bool modifierEvent =
        event.key == Key::rightAlt || event.key == Key::fn || event.key == Key::modifier;
    if (!modifierEvent) {
        // Releases of ordinary keys mean nothing here; presses (auto-repeats included) do.
        if (!event.pressed) {
            return;
        }
        if (event.key == Key::escape) {
            call(onEscape);
        } else if (isDown) {
            call(onOtherKey);
        }
        return;
    }

    // Read at every modifier event, so a changed preference needs no reinstall.
    const Key dictationKey = Prefs::hotkey() == Prefs::kHotkeyRightAlt ? Key::rightAlt : Key::fn;
    if (event.key != dictationKey) {
        if (isDown) {
            call(onOtherKey);
        }
        return;
    }
    if (event.pressed == isDown) {
        return; // a repeat or duplicate: no change of state
    }
    isDown = event.pressed;
    call(isDown ? onDown : onUp);
}

} // namespace vozmo
