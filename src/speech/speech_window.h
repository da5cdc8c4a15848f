#pragma once

#include <cstddef>

namespace vozmo {

// The encoder window (whisper-server's `audio_ctx`, 50 frames per second of audio) that covers a
// recording of `samples` at 16 kHz, leading silence included: its length plus a margin, rounded
// up to a multiple of 64, within [384, 1500]. The encoder's cost grows with the window, so a
// short dictation no longer pays for a full 30 s one.
int speechWindowFrames(std::size_t samples);

inline constexpr int kFullSpeechWindow = 1500;
// The most audio the smallest window holds beside its margin: 6.4 s.
inline constexpr std::size_t kSmallestWindowSamples = 320 * (384 - 64);

} // namespace vozmo
