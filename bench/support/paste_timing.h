#pragma once

#include "clipboard.h"
#include "key_synth.h"
#include "target_window.h"

namespace vozmo::bench {

// What a paste bench reports: its name for messages, the figure's name and what the figure
// measures on this desktop.
struct PasteFigure {
    const char* bench;
    const char* name;
    const char* what;
};

// Pastes numbered texts, one dictation apart, into the focused window (text_window.py writing
// what it receives to `windowFile`) and prints the median time from the text handed to the
// paste to the paste stroke sent. The restore afterwards is not part of it. Returns the exit
// status: 1 when a stroke was not sent or the window did not receive every text, since figures
// for strokes that went nowhere would mean nothing.
int timePastes(const PasteFigure& figure, Clipboard& clipboard, KeySynth& keys,
               TargetWindow& windows, const char* windowFile);

} // namespace vozmo::bench
