#pragma once

#include "audio_input.h"
#include "error.h"
#include "key_events.h"
#include "notifier.h"
#include "sounds.h"
#include "target_window.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// What the application asks of the desktop, in one place so the controller can be driven
// with fakes. linuxEnvironment() gives the real desktop.
struct AppEnvironment {
    // The Linux meaning of Accessibility trust: keys can be observed and synthesised.
    std::function<bool()> canListenAndType;
    std::function<MicrophoneStatus()> microphoneStatus;
    std::function<void()> openMicrophoneSettings;
    std::function<std::optional<TargetApp>()> focusedApp;
    std::function<TargetApp()> ownIdentity;
    std::function<bool()> needsLeadingSpace;
    std::function<Outcome(const std::string& text)> paste;
    // Leaves the text on the clipboard as plain text.
    std::function<void(const std::string& text)> copyText;
    std::function<std::unique_ptr<AudioInput>()> makeAudioInput;
    std::function<std::unique_ptr<KeyEvents>()> makeKeyEvents;
    std::unique_ptr<SoundPlayer> sounds;
    // Desktop notifications; none when empty.
    std::unique_ptr<Notifier> notifier;
    // Called for every `vozmo --key` command that reaches this instance: proof that a desktop
    // shortcut delivers the key. May be empty.
    std::function<void()> keyCommandArrived;
    // On Wayland, what the user still has to set up for the key and the paste, one Spanish
    // instruction per line; empty when all works (and on X11).
    std::function<std::vector<std::string>()> desktopInstructions;
};

AppEnvironment linuxEnvironment();

} // namespace vozmo
