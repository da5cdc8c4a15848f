#include "resampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include <samplerate.h>

namespace vozmo {
namespace {

// Buffers are sized for this many input frames up front so the capture thread does not allocate.
constexpr std::size_t preparedFrames = 8192;

// Sinc filtering keeps speech intelligible; the fastest variant is plenty for 8 kHz of speech.
constexpr int converterType = SRC_SINC_FASTEST;

// The decimation filter (windowed sinc, Blackman) leaves speech up to 6 kHz unchanged, is
// half down at 7 kHz, and is 60 dB down at 8 kHz and 80 dB beyond, where frequencies would
// fold back into the band.
constexpr double passHz = 7000.0;
constexpr std::size_t tapsPerFactor = 40;

std::size_t outputCapacity(std::size_t frames, double ratio) {
    return static_cast<std::size_t>(static_cast<double>(frames) * ratio) + 64;
}

// A windowed-sinc low-pass for input at `factor` × 16 kHz, unit gain at DC, reversed.
std::vector<float> lowPass(int factor) {
    // A multiple of 8 taps, so the dot product runs in whole blocks of independent sums.
    const std::size_t n = (tapsPerFactor * static_cast<std::size_t>(factor) + 7) / 8 * 8;
    const double cutoff = passHz / (Resampler::targetRate * factor); // cycles per sample
    const double middle = static_cast<double>(n - 1) / 2.0;
    std::vector<double> taps(n);
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) - middle;
        const double sinc =
            x == 0.0 ? 2.0 * cutoff
                     : std::sin(2.0 * std::numbers::pi * cutoff * x) / (std::numbers::pi * x);
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(i) / (n - 1);
        const double window = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        taps[i] = sinc * window;
        sum += taps[i];
    }
    std::vector<float> reversed(n);
    for (std::size_t i = 0; i < n; ++i) {
        reversed[n - 1 - i] = static_cast<float>(taps[i] / sum);
    }
    return reversed;
}

// Eight independent running sums: the loop is not held up by one long chain of additions.
float dot(const float* a, const float* b, std::size_t n) {
    float s[8] = {};
    for (std::size_t i = 0; i < n; i += 8) {
        for (std::size_t k = 0; k < 8; ++k) {
            s[k] += a[i + k] * b[i + k];
        }
    }
    return ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
}

} // namespace

std::unique_ptr<Resampler> Resampler::make(AudioFormat from) {
    if (from.channels <= 0 || !(from.sampleRate > 0.0)) {
        return nullptr;
    }
    const double ratio = targetRate / from.sampleRate;
    const double multiple = from.sampleRate / targetRate;
    int factor = 1;
    State state;
    if (multiple >= 2.0 && multiple <= 16.0 && multiple == std::floor(multiple)) {
        factor = static_cast<int>(multiple);
    } else if (ratio != 1.0) {
        if (src_is_valid_ratio(ratio) == 0) {
            return nullptr;
        }
        int error = 0;
        state.reset(src_new(converterType, 1, &error));
        if (!state) {
            return nullptr;
        }
    }
    return std::make_unique<Resampler>(Key{}, from.channels, ratio, factor, std::move(state));
}

void Resampler::StateDeleter::operator()(SRC_STATE_tag* state) const {
    src_delete(state);
}

Resampler::Resampler(Key, int channels, double ratio, int factor, State state)
    : channels_(channels), ratio_(ratio), factor_(factor), state_(std::move(state)) {
    if (factor_ > 1) {
        taps_ = lowPass(factor_);
        // The history starts as silence.
        work_.assign(taps_.size() - 1, 0.0f);
        work_.reserve(taps_.size() - 1 + preparedFrames);
    } else {
        mono_.reserve(preparedFrames);
    }
    out_.resize(outputCapacity(preparedFrames, ratio_));
}

Resampler::~Resampler() = default;

void Resampler::downmix(std::span<const float> interleaved, std::size_t frames, float* out) const {
    if (channels_ == 1) {
        std::copy_n(interleaved.data(), frames, out);
        return;
    }
    const float scale = 1.0f / static_cast<float>(channels_);
    const float* in = interleaved.data();
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels_; ++c) {
            sum += *in++;
        }
        out[i] = sum * scale;
    }
}

std::span<const float> Resampler::convert(std::span<const float> interleaved) {
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels_);
    if (frames == 0) {
        return {};
    }
    if (factor_ > 1) {
        return decimate(interleaved, frames);
    }
    std::span<const float> mono;
    if (channels_ == 1) {
        mono = interleaved.first(frames);
    } else {
        mono_.resize(frames);
        downmix(interleaved, frames, mono_.data());
        mono = mono_;
    }
    return state_ ? resample(mono, frames) : mono;
}

std::span<const float> Resampler::decimate(std::span<const float> interleaved, std::size_t frames) {
    const std::size_t history = taps_.size() - 1;
    work_.resize(history + frames);
    downmix(interleaved, frames, work_.data() + history);

    const auto step = static_cast<std::size_t>(factor_);
    if (out_.size() < frames / step + 1) {
        out_.resize(frames / step + 1);
    }
    // Output k ends at work_[history + skip_ + k × step] and reaches back over every tap.
    std::size_t made = 0;
    std::size_t end = history + skip_;
    for (; end < work_.size(); end += step) {
        out_[made++] = dot(taps_.data(), work_.data() + end - history, taps_.size());
    }
    skip_ = end - work_.size();
    // Keep the last samples as the next chunk's history.
    std::copy(work_.end() - static_cast<std::ptrdiff_t>(history), work_.end(), work_.begin());
    work_.resize(history);
    return std::span<const float>(out_.data(), made);
}

std::span<const float> Resampler::resample(std::span<const float> mono, std::size_t frames) {
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
