#pragma once

#include <memory>
#include <span>
#include <vector>

#include "audio_input.h"

struct SRC_STATE_tag; // libsamplerate's converter state

namespace vozmo {

// Turns interleaved frames of one native format into 16 kHz mono: channels are averaged, then
// the rate is converted. The converter keeps its filter history between calls, so successive
// chunks come out as one continuous signal.
class Resampler {
public:
    static constexpr double targetRate = 16000.0;

    // None when the format is unusable or the converter cannot be made.
    static std::unique_ptr<Resampler> make(AudioFormat from);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Converts one chunk. The answer is valid until the next call; it may be empty while the
    // filter fills.
    std::span<const float> convert(std::span<const float> interleaved);

private:
    struct StateDeleter {
        void operator()(SRC_STATE_tag* state) const;
    };
    using State = std::unique_ptr<SRC_STATE_tag, StateDeleter>;
    struct Key {};

public:
    Resampler(Key, int channels, double ratio, State state);

private:
    int channels_;
    double ratio_;
    State state_; // none when the rate is already the target's
    std::vector<float> mono_;
    std::vector<float> out_;
};

} // namespace vozmo
