#pragma once

namespace vozmo {

// What dictation is doing; written on the main thread only.
enum class State { idle, recording, processing };

// Why a dictation was left on the clipboard instead of pasted where the user was typing.
enum class LeftReason {
    focusMoved,    // another window (or none) had the focus when the text was ready
    targetUnknown, // no window was known to have the focus when the key went down
    ownWindow,     // the dictation began in a window of Vozmo itself
    pasteFailed,   // the paste stroke could not be sent
};

} // namespace vozmo
