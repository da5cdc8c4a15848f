#pragma once

#include <string>

namespace vozmo {

// One synthesised key stroke: the key (an X keysym name such as "v") with exactly these
// modifiers held, whatever the user holds at that moment.
struct KeyStroke {
    std::string key;
    bool control = false;
    bool shift = false;
    bool operator==(const KeyStroke&) const = default;
};

// Synthetic keyboard input to the focused window. Main thread only.
class KeySynth {
public:
    virtual ~KeySynth() = default;

    // Presses and releases `stroke`. Returns false when the stroke could not be sent.
    virtual bool send(const KeyStroke& stroke) = 0;

    // Whether the last stroke send() took failed afterwards: a backend that does not wait for
    // the desktop's answer learns of a refusal later.
    virtual bool lastStrokeFailed() const { return false; }
};

// Whether synthetic key strokes can be sent on this desktop (on X11: the server offers XTEST).
bool pasteAvailable();

} // namespace vozmo
