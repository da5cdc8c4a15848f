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

namespace vozmo {

// What the application asks of the desktop, in one place so the controller can be driven
// with fakes. linuxEnvironment() gives the real desktop.
struct AppEnvironment {
    // The Linux meaning of Accessibility trust: keys can be observed and synthesised.
    std::function<bool()> accessibilityTrusted;
    std::function<MicrophoneStatus()> microphoneStatus;
    std::function<void()> openMicrophoneSettings;
    std::function<std::optional<TargetApp>()> frontmostApp;
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
};

AppEnvironment linuxEnvironment();

} // namespace vozmo
