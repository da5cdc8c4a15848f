#pragma once

#include "audio_input.h"
#include "error.h"
#include "key_events.h"
#include "key_synth.h"
#include "notifier.h"
#include "paste.h"
#include "sounds.h"
#include "target_window.h"
#include "wayland_backends.h"

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
    // Whether a sound server answers at all; never waits. Empty: one is assumed.
    std::function<bool()> soundServerRunning;
    std::function<std::optional<TargetApp>()> focusedApp;
    std::function<TargetApp()> ownIdentity;
    std::function<bool()> needsLeadingSpace;
    std::function<Outcome(const std::string& text)> paste;
    // One stroke to the focused window, through the same keyboard as the paste's.
    std::function<bool(const KeyStroke& stroke)> sendKey;
    // A dictation began: reads what paste() will need to save, off the main thread. May be empty.
    std::function<void()> preparePaste;
    // Leaves the text on the clipboard as plain text.
    std::function<void(const std::string& text)> copyText;
    std::function<std::unique_ptr<AudioInput>()> makeAudioInput;
    std::function<std::unique_ptr<KeyEvents>()> makeKeyEvents;
    // Waits for the key the user picks; empty where the desktop assigns the key, and then
    // keyChoiceHelp says how.
    std::function<std::unique_ptr<KeyCapture>()> makeKeyCapture;
    std::function<KeyChoiceHelp()> keyChoiceHelp;
    // The keyboard layout's right Alt key is AltGr (Spanish and most European layouts).
    std::function<bool()> rightAltIsAltGr;
    std::unique_ptr<SoundPlayer> sounds;
    // Desktop notifications; none when empty.
    std::unique_ptr<Notifier> notifier;
    // Called for every `vozmo --key` command that reaches this instance: proof that a desktop
    // shortcut delivers the key. May be empty.
    std::function<void()> keyCommandArrived;
    // On Wayland, what the user still has to set up for the key and the paste, one Spanish
    // instruction per line; empty when all works (and on X11).
    std::function<std::vector<std::string>()> desktopInstructions;
    // The dictation key as the desktop names it where the desktop assigns it ("F8"); "" or empty
    // where Vozmo reads the key itself.
    std::function<std::string()> keyName;

    // The sound server connection the three functions above answer from, kept open so that
    // neither a key press nor a status query waits on the server; none with fakes.
    std::unique_ptr<SoundServer> soundServer;
    // The real desktop's one choice of backends, which the functions above use; none with fakes.
    // Its start() opens the desktop's sessions; its onChange tells of a change of readiness.
    std::unique_ptr<Desktop> desktop;
    // The paste through the desktop's clipboard and keys, made after it and gone before it.
    std::unique_ptr<Paster> paster;
};

AppEnvironment linuxEnvironment();

} // namespace vozmo
