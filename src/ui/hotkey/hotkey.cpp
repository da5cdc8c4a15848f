#include "hotkey.h"

#include "key_names.h"
#include "prefs.h"

#include <algorithm>

namespace vozmo {
namespace {

// Callbacks may end the Hotkey; nothing is touched after one runs.
void call(const std::function<void()>& callback) {
    if (callback) {
        callback();
    }
}

bool isModifier(Key key) {
    return key == Key::rightAlt || key == Key::fn || key == Key::modifier;
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

std::optional<std::uint64_t> Hotkey::typedKeys() const {
    if (!monitor_ || !monitor_->seesTyping()) {
        return std::nullopt;
    }
    return typedKeys_;
}

void Hotkey::setPaused(bool paused) {
    paused_ = paused;
    held_.clear();
    if (paused && isDown) {
        setDown(false);
    }
}

void Hotkey::setDown(bool down) {
    isDown = down;
    call(isDown ? onDown : onUp);
}

void Hotkey::handle(const KeyEvent& event) {
    if (paused_) {
        return;
    }
    // Read at every event, so a changed preference needs no reinstall.
    const std::string stored = Prefs::hotkey();
    const std::vector<std::string> parts = customHotkeyParts(stored);
    const bool chosenPart =
        !parts.empty() && std::find(parts.begin(), parts.end(), event.name) != parts.end();
    if (event.pressed && !chosenPart && !isModifier(event.key) && event.key != Key::button) {
        ++typedKeys_;
    }
    if (stored != heldFor_) {
        held_.clear();
        heldFor_ = stored;
    }
    // A desktop's shortcut reports its trigger as the dictation key, unnamed: the desktop, not
    // the preference, decides which key that is.
    if (parts.empty() || event.name.empty()) {
        handleBuiltIn(event);
    } else {
        handleChosen(event, parts);
    }
}

void Hotkey::handleBuiltIn(const KeyEvent& event) {
    if (event.key == Key::button) {
        return;
    }
    const bool modifierEvent = isModifier(event.key);
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
    setDown(event.pressed);
}

// A key, side button or combination the user chose: down once all its parts are held, up when
// one is let go.
void Hotkey::handleChosen(const KeyEvent& event, const std::vector<std::string>& parts) {
    // AltGr (the monitor reports it as a plain modifier on layouts that use it) types @ # € and
    // is never the dictation key, whatever prefs.json says.
    const bool altGr = event.name == "ISO_Level3_Shift" && event.key != Key::rightAlt;
    const bool part = !altGr && std::find(parts.begin(), parts.end(), event.name) != parts.end();
    if (part) {
        const auto found = std::find(held_.begin(), held_.end(), event.name);
        if (event.pressed) {
            if (found != held_.end()) {
                return; // a repeat
            }
            held_.push_back(event.name);
            // A combination's first keys are also what other shortcuts start with: one of its
            // parts pressed alone is another key when the dictation key is held.
            if (!isDown && held_.size() == parts.size()) {
                setDown(true);
            }
            return;
        }
        if (found == held_.end()) {
            return;
        }
        held_.erase(found);
        if (isDown) {
            setDown(false);
        }
        return;
    }
    if (event.key == Key::button) {
        return; // clicks with other buttons are not keys
    }
    if (!event.pressed && !isModifier(event.key)) {
        return;
    }
    if (event.key == Key::escape && event.pressed) {
        call(onEscape);
    } else if (isDown) {
        call(onOtherKey);
    }
}

} // namespace vozmo
