#pragma once

#include "key_synth.h"

#include <vector>

namespace vozmo::test {

// Records the strokes instead of sending them.
class FakeKeySynth : public KeySynth {
public:
    std::vector<KeyStroke> sent;
    bool fails = false; // as when the desktop refuses synthetic keys
    bool send(const KeyStroke& stroke) override {
        sent.push_back(stroke);
        return !fails;
    }
};

} // namespace vozmo::test
