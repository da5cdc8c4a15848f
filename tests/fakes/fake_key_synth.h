#pragma once

#include "key_synth.h"

#include <vector>

namespace vozmo::test {

// Records the strokes instead of sending them.
class FakeKeySynth : public KeySynth {
public:
    std::vector<KeyStroke> sent;
    bool fails = false;       // as when the X server refuses the stroke
    bool failedLater = false; // as when the desktop portal refuses it after the fact
    bool send(const KeyStroke& stroke) override {
        if (fails) {
            return false;
        }
        sent.push_back(stroke);
        return true;
    }
    bool lastStrokeFailed() const override { return failedLater; }
};

} // namespace vozmo::test
