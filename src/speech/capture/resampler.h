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
//
// Rates that are whole multiples of 16 kHz (32, 48, 96 kHz: most microphones) go through a
// low-pass FIR kept at every n-th sample, a few times cheaper than a general resampler; other
// rates (44.1 kHz...) through libsamplerate's sinc converter.
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
    Resampler(Key, int channels, double ratio, int factor, State state);

private:
    // Averages the channels of `frames` frames into `out`.
    void downmix(std::span<const float> interleaved, std::size_t frames, float* out) const;
    std::span<const float> decimate(std::span<const float> interleaved, std::size_t frames);
    std::span<const float> resample(std::span<const float> mono, std::size_t frames);

    int channels_;
    double ratio_;
    int factor_;              // whole-number decimation factor, 1 when not decimating
    State state_;             // libsamplerate, for the other rates
    std::vector<float> taps_; // decimation filter, reversed for a forward dot product
    std::vector<float> work_; // filter history followed by the chunk
    std::size_t skip_ = 0;    // input samples before the next output in the next chunk
    std::vector<float> mono_;
    std::vector<float> out_;
};

} // namespace vozmo
