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

namespace vozmo {

namespace {

constexpr std::size_t kSamplesPerPass = 30 * 16000;
constexpr double kFramesPerSecond = 50.0;
constexpr double kLimitFactor = 3.0;
constexpr double kLimitSlack = 15.0;
constexpr double kShortestLimit = 60.0;

} // namespace

double encoderWindowSeconds(std::size_t samples, int windowFrames) {
    const std::size_t passes =
        std::max<std::size_t>(1, (samples + kSamplesPerPass - 1) / kSamplesPerPass);
    const int frames =
        windowFrames > 0 ? std::min(windowFrames, kFullSpeechWindow) : kFullSpeechWindow;
    return static_cast<double>(passes) * frames / kFramesPerSecond;
}

double SpeechPace::secondsPerWindowSecond() const {
    std::lock_guard guard(lock_);
    return pace_;
}

void SpeechPace::answered(double windowSeconds, double elapsedSeconds) {
    if (windowSeconds > 0 && elapsedSeconds > 0) {
        std::lock_guard guard(lock_);
        pace_ = elapsedSeconds / windowSeconds;
    }
}

void SpeechPace::timedOut(double windowSeconds, double limitSeconds) {
    if (windowSeconds > 0 && limitSeconds > 0) {
        std::lock_guard guard(lock_);
        pace_ = std::max(pace_, limitSeconds / windowSeconds);
    }
}

double SpeechPace::limitSeconds(double windowSeconds) const {
    const double expected = secondsPerWindowSecond() * windowSeconds;
    return std::max(kShortestLimit, kLimitFactor * expected + kLimitSlack);
}

} // namespace vozmo
