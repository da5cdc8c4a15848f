#include "recorder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "resampler.h"

namespace vozmo {
namespace {

// Room for the controller's 300 s limit plus the chunks that arrive before it stops the
// capture, so a full recording never reallocates (and never holds two copies while it does).
constexpr std::size_t reservedSamples = 310 * 16000;
// Past that, grow in steps of a minute rather than doubling.
constexpr std::size_t growthSamples = 60 * 16000;

} // namespace

Recorder::Recorder() : Recorder(&makeAudioInput) {}

Recorder::Recorder(InputFactory makeInput) : makeInput_(std::move(makeInput)) {}

Recorder::~Recorder() {
    if (input_) {
        input_->stop();
    }
}

std::optional<Recorder::StartError> Recorder::start() {
    {
        std::lock_guard guard(lock_);
        samples_.clear();
        peak_ = 0.0f;
    }
    // A start without a stop: the previous session ends before its converter is replaced.
    if (input_) {
        input_->stop();
        input_.reset();
    }
    converter_.reset();
    {
        std::lock_guard guard(lock_);
        if (samples_.capacity() < reservedSamples) {
            samples_.reserve(reservedSamples);
        }
    }

    input_ = makeInput_ ? makeInput_() : nullptr;
    if (!input_) {
        return StartError{RecError::noInput, "no hay entrada de audio"};
    }
    AudioFormat format;
    if (auto error = input_->open(format)) {
        return StartError{error->noInput ? RecError::noInput : RecError::engine,
                          std::move(error->description)};
    }
    if (format.channels <= 0 || !(format.sampleRate > 0.0)) {
        return StartError{RecError::noInput, "no hay entrada de audio: la fuente no tiene canales"};
    }
    converter_ = Resampler::make(format);
    input_->onBroken = [this, session = ++session_](const std::string& why) {
        if (onLost) {
            onLost(session, why);
        }
    };
    if (auto error = input_->start([this](std::span<const float> chunk) { process(chunk); })) {
        return StartError{error->noInput ? RecError::noInput : RecError::engine,
                          std::move(error->description)};
    }
    return std::nullopt;
}

void Recorder::endCapture() {
    // Releasing the session lets the sound server suspend the microphone.
    if (input_) {
        input_->stop();
        input_.reset();
    }
    converter_.reset();
}

Recorder::Recording Recorder::stop() {
    endCapture();
    std::lock_guard guard(lock_);
    return Recording{samples_, peak_};
}

Recorder::Recording Recorder::take() {
    endCapture();
    std::lock_guard guard(lock_);
    Recording recording{std::move(samples_), peak_};
    samples_ = {};
    peak_ = 0.0f;
    return recording;
}

void Recorder::copySince(std::size_t from, std::vector<float>& out) {
    std::lock_guard guard(lock_);
    if (from < samples_.size()) {
        out.insert(out.end(), samples_.begin() + static_cast<std::ptrdiff_t>(from), samples_.end());
    }
}

float Recorder::level(std::span<const float> samples) {
    if (samples.empty()) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (const float x : samples) {
        sum += x * x;
    }
    return std::sqrt(sum / static_cast<float>(samples.size()));
}

void Recorder::process(std::span<const float> interleaved) {
    if (!converter_) {
        return;
    }
    const std::span<const float> converted = converter_->convert(interleaved);
    if (converted.empty()) {
        return;
    }
    const float chunkLevel = level(converted);
    {
        std::lock_guard guard(lock_);
        append(converted);
        peak_ = std::max(peak_, chunkLevel);
    }
    if (onLevel) {
        onLevel(chunkLevel);
    }
}

void Recorder::append(std::span<const float> converted) {
    if (samples_.size() + converted.size() > samples_.capacity()) {
        samples_.reserve(samples_.size() + converted.size() + growthSamples);
    }
    samples_.insert(samples_.end(), converted.begin(), converted.end());
}

} // namespace vozmo
