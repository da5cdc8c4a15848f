#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vozmo {

// The native format of a capture source: interleaved 32-bit float frames.
struct AudioFormat {
    int channels = 0;
    double sampleRate = 0.0;
};

// Why a capture could not be opened or started. `noInput` when there is no sound server or
// no usable default source; otherwise the back-end's own failure.
struct AudioInputError {
    bool noInput = false;
    std::string description;
};

// One capture session on the default source as it is when the session is opened.
class AudioInput {
public:
    // Receives interleaved frames in the session's format, on the capture thread.
    using ChunkHandler = std::function<void(std::span<const float> interleaved)>;

    virtual ~AudioInput() = default;

    // Connects to the default source and answers its native format.
    virtual std::optional<AudioInputError> open(AudioFormat& format) = 0;
    // Starts delivering chunks of about 1024 frames to `handler` on a capture thread.
    virtual std::optional<AudioInputError> start(ChunkHandler handler) = 0;
    // Stops delivery; once it returns the handler is neither running nor called again.
    // Safe to call when not started, and more than once.
    virtual void stop() = 0;

    // Called at most once, on the capture thread, when a started capture breaks for good (the
    // sound server went away); no chunk follows. Set before start().
    std::function<void(const std::string& why)> onBroken;
};

// A fresh PulseAudio capture session.
std::unique_ptr<AudioInput> makeAudioInput();

// Microphone authorisation, in the order of the platform values 0..3.
enum class MicrophoneStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// "authorized" when a sound server with a default source answers within a short time limit,
// "restricted" otherwise. Never blocks for more than about two seconds.
MicrophoneStatus microphoneStatus();

// Whether a sound server (PulseAudio, or PipeWire's PulseAudio service) answers at all, with or
// without a default input. Never blocks for more than about two seconds.
bool soundServerRunning();

} // namespace vozmo
