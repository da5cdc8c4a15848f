#include "resampler.h"

#include <cmath>
#include <cstddef>

#include <samplerate.h>

namespace vozmo {
namespace {

// Buffers are sized for this many input frames up front so the capture thread does not allocate.
constexpr std::size_t preparedFrames = 8192;

// Sinc filtering keeps speech intelligible; the fastest variant is plenty for 8 kHz of speech.
constexpr int converterType = SRC_SINC_FASTEST;

std::size_t outputCapacity(std::size_t frames, double ratio) {
    return static_cast<std::size_t>(static_cast<double>(frames) * ratio) + 64;
}

} // namespace

std::unique_ptr<Resampler> Resampler::make(AudioFormat from) {
    if (from.channels <= 0 || !(from.sampleRate > 0.0)) {
        return nullptr;
    }
    const double ratio = targetRate / from.sampleRate;
    State state;
    if (ratio != 1.0) {
        if (src_is_valid_ratio(ratio) == 0) {
            return nullptr;
        }
        int error = 0;
        state.reset(src_new(converterType, 1, &error));
        if (!state) {
            return nullptr;
        }
    }
    return std::make_unique<Resampler>(Key{}, from.channels, ratio, std::move(state));
}

void Resampler::StateDeleter::operator()(SRC_STATE_tag* state) const {
    src_delete(state);
}

Resampler::Resampler(Key, int channels, double ratio, State state)
    : channels_(channels), ratio_(ratio), state_(std::move(state)) {
    mono_.reserve(preparedFrames);
    out_.resize(outputCapacity(preparedFrames, ratio_));
}

Resampler::~Resampler() = default;

std::span<const float> Resampler::convert(std::span<const float> interleaved) {
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels_);
    std::span<const float> mono;
    if (channels_ == 1) {
        mono = interleaved.first(frames);
    } else {
        mono_.resize(frames);
        const float scale = 1.0f / static_cast<float>(channels_);
        const float* in = interleaved.data();
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < channels_; ++c) {
                sum += *in++;
            }
            mono_[i] = sum * scale;
        }
        mono = mono_;
    }
    if (!state_) {
        return mono;
    }

    if (out_.size() < outputCapacity(frames, ratio_)) {
        out_.resize(outputCapacity(frames, ratio_));
    }
    std::size_t used = 0;
    std::size_t made = 0;
    while (used < frames) {
        SRC_DATA data{};
        data.data_in = mono.data() + used;
        data.input_frames = static_cast<long>(frames - used);
        data.data_out = out_.data() + made;
        data.output_frames = static_cast<long>(out_.size() - made);
        data.src_ratio = ratio_;
        data.end_of_input = 0;
        if (src_process(state_.get(), &data) != 0) {
            return {};
        }
        used += static_cast<std::size_t>(data.input_frames_used);
        made += static_cast<std::size_t>(data.output_frames_gen);
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) {
            break;
        }
        if (made == out_.size()) {
            out_.resize(out_.size() * 2);
        }
    }
    return std::span<const float>(out_.data(), made);
}

} // namespace vozmo
