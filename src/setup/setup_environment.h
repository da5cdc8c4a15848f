#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vozmo {

// What the setup steps ask of the desktop, filled in by the application (tests fill in fakes).
// An empty member counts as "no": not available, nothing opened, nothing seen.
struct SetupEnvironment {
    // Microphone authorisation as the audio layer reports it: 0 not determined, 1 restricted,
    // 2 denied, 3 authorised (PulseAudio answers with a default source).
    std::function<int()> micStatus;
    // True when the X server offers XTEST and XInputExtension 2.0 or later, which the key
    // monitor and the paste need.
    std::function<bool()> keyAccessOk;
    // What of it is missing: "X11" without an X server, else "XTEST" and/or "XInput2". When
    // empty, a missing key access is told without naming the part.
    std::function<std::vector<std::string>()> missingKeyAccess;
    // On Wayland, where the row is about the key and the paste: what the user does on this
    // desktop so that both work, one instruction per line. Left empty on X11, where the row is
    // about the X server's extensions.
    std::function<std::vector<std::string>()> keyAndPasteInstructions;
    // Whether a sound server answers at all; left empty, one is assumed.
    std::function<bool()> soundServerRunning;
    // Starts the desktop's sound settings; false when none is installed.
    std::function<bool()> openSoundSettings;
    // Shows the README's section on permissions (or the desktop's help).
    std::function<void()> openPermissionsHelp;
    // Shows the README's section on where to put whisper-server and llama-server.
    std::function<void()> openServersHelp;
    // Shows the help on the model files (their names, addresses and folder, for offline users).
    std::function<void()> openModelsHelp;
    // Shows the help on the microphone and sound servers.
    std::function<void()> openMicrophoneHelp;
    // Watches the key monitor: calls `onFnSeen` once, on the main thread, the next time the Fn
    // key goes down. An empty `onFnSeen` stops the watch.
    std::function<void(std::function<void()> onFnSeen)> watchFnKey;
    // Opens the window that waits for the dictation key the user picks ("Tecla de dictado").
    std::function<void()> chooseKey;
    // The keyboard layout's right Alt key is AltGr, so it cannot be the dictation key.
    std::function<bool()> rightAltIsAltGr;
    // Finds a server program by name; findBinary when left empty.
    std::function<std::optional<std::filesystem::path>(const std::string& name)> findProgram;
};

inline constexpr int kMicAuthorized = 3;

} // namespace vozmo
