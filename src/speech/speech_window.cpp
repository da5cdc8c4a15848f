#include "speech_window.h"

#include <algorithm>

namespace vozmo {

namespace {

constexpr std::size_t kSamplesPerFrame = 16000 / 50;
// About a second: words cut at the window's end come out garbled, so never fit it tightly.
constexpr std::size_t kMarginFrames = 64;
constexpr std::size_t kStep = 64;
// A floor, so that a very short dictation still gets a window the decoder handles well.
constexpr std::size_t kSmallestWindow = 384;

} // namespace

int speechWindowFrames(std::size_t samples) {
    // Rounded up without adding to `samples`, which would wrap for absurd counts.
    const std::size_t audioFrames =
        samples / kSamplesPerFrame + (samples % kSamplesPerFrame != 0 ? 1 : 0);
    if (audioFrames >= static_cast<std::size_t>(kFullSpeechWindow)) {
        return kFullSpeechWindow;
    }
    const std::size_t wanted = audioFrames + kMarginFrames;
    const std::size_t rounded = (wanted + kStep - 1) / kStep * kStep;
    return static_cast<int>(
        std::clamp(rounded, kSmallestWindow, static_cast<std::size_t>(kFullSpeechWindow)));
}

} // namespace vozmo
