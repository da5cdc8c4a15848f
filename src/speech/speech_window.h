#pragma once

#include <cstddef>
#include <mutex>

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

namespace vozmo {

// Seconds of encoder window a request costs: whisper encodes the audio 30 s at a time, each pass
// over the whole window, so a long recording pays the full window once per 30 s.
double encoderWindowSeconds(std::size_t samples, int windowFrames);

// How fast the speech server has been, and so how long a request may take before it is given up.
// Any thread.
class SpeechPace {
public:
    // Seconds the server took per second of encoder window in its last answer; before any, a
    // pace somewhat slower than the accurate model on a 2-core processor.
    double secondsPerWindowSecond() const;
    void answered(double windowSeconds, double elapsedSeconds);
    // No answer within `limitSeconds`: the server is at least that slow.
    void timedOut(double windowSeconds, double limitSeconds);
    // The time limit of a request of `windowSeconds`: a wide margin over the expected time, as
    // the machine may be busier than when it was measured, and never under a minute.
    double limitSeconds(double windowSeconds) const;

private:
    mutable std::mutex lock_;
    double pace_ = 1.0;
};

} // namespace vozmo
