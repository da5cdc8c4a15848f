#pragma once

#include "key_synth.h"
#include "x11_display.h"

namespace vozmo {

// Key strokes through XTEST. Modifier keys the user holds (the dictation key among them) are
// released for the stroke and pressed again after it, so the stroke carries exactly its own.
class X11KeySynth : public KeySynth {
public:
    bool send(const KeyStroke& stroke) override;

private:
    X11Display display_;
};

} // namespace vozmo
