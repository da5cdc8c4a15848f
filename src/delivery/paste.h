#pragma once

#include "clipboard.h"
#include "error.h"
#include "key_synth.h"
#include "target_window.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vozmo {

// How long the dictated text stays on the clipboard before the user's content comes back, at
// the least: an application busy when the stroke arrives asks for the text later, and until it
// has, the text stays, up to kRestoreLimit after the stroke.
inline constexpr std::chrono::milliseconds kRestoreDelay{800};
inline constexpr std::chrono::milliseconds kRestoreLimit{5000};

// WM_CLASS class names and Wayland app ids of terminal emulators, which paste with
// Control+Shift+V.
const std::vector<std::string_view>& terminalClasses();

// Whether `appId` (a WM_CLASS class name or a Wayland app id) belongs to a terminal emulator; case
// does not matter, since the same terminal spells its class differently from one version to the
// next.
bool isTerminal(std::string_view appId);

// The stroke that pastes into `target`: Control+V, or Control+Shift+V for a terminal.
KeyStroke pasteStroke(const std::optional<TargetApp>& target);
// The same stroke as the user reads it on a Spanish keyboard: "Ctrl+V" or "Ctrl+Mayús+V".
std::string pasteKeysName(const std::optional<TargetApp>& target);

// Types text into the focused window through the clipboard: saves every format the clipboard
// offers, puts the text there, sends the paste stroke and puts the saved content back once the
// text has been read (kRestoreDelay at the soonest, kRestoreLimit at the latest) unless someone
// has changed the clipboard since. When the stroke cannot be sent,
// the text stays on the clipboard (Error::pasteFailed), so the user can still paste it by hand.
// Main thread only.
class Paster : public QObject {
    Q_OBJECT
public:
    Paster(Clipboard& clipboard, KeySynth& keys, TargetWindow& windows, QObject* parent = nullptr);

    // A paste is coming (the dictation key went down): the user's clipboard content is read
    // now, in the background, so the paste does not wait on its owner.
    void prepare();
    Outcome paste(const std::string& text);

private:
    struct Pending {
        std::shared_ptr<const ClipboardSnapshot> snapshot;
        std::uint64_t mark = 0;
        std::chrono::steady_clock::time_point giveUpAt; // restored then, read or not
    };
    void restoreLater(Pending pending, std::chrono::milliseconds after);

    Clipboard& clipboard_;
    KeySynth& keys_;
    TargetWindow& windows_;
    // The latest call whose restore has not run yet.
    std::optional<Pending> pending_;
};

} // namespace vozmo
