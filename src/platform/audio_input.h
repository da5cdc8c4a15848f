#pragma once

#include <chrono>
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

// Microphone authorisation, in the order of the platform values 0..3.
enum class MicrophoneStatus { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// One capture session on the default source as it is when the session is opened.
class AudioInput {
public:
    // Receives interleaved frames in the session's format, on the capture thread.
    using ChunkHandler = std::function<void(std::span<const float> interleaved)>;

    virtual ~AudioInput() = default;

    // Connects to the default source and answers its native format.
    virtual std::optional<AudioInputError> open(AudioFormat& format) = 0;
    // Starts delivering chunks of a few milliseconds to `handler` on a capture thread. May
    // return before the first chunk; a stream that then fails to start is reported through
    // onBroken.
    virtual std::optional<AudioInputError> start(ChunkHandler handler) = 0;
    // Stops delivery; once it returns the handler is neither running nor called again.
    // Safe to call when not started, and more than once.
    virtual void stop() = 0;

    // Called at most once, on the capture thread, when a started capture breaks for good (the
    // sound server went away); no chunk follows. Set before start().
    std::function<void(const std::string& why)> onBroken;
};

// The connection to the sound server, kept open on a thread of its own for as long as this
// object lives, reconnecting when the server goes away and comes back, and following the
// default source. Nothing here waits on the server: a capture session made by makeInput() opens
// from what is already known and starts its stream on that thread, so a key press never waits
// for a round trip; the status queries answer from the same knowledge.
class SoundServer;
std::unique_ptr<AudioInput> makeAudioInput();

class SoundServer {
public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // A capture session on the default source as it is known now; open() fails at once when
    // no server or no source is connected yet. Must not outlive this object.
    std::unique_ptr<AudioInput> makeInput();
    // "authorized" while a server with a default source is connected, "restricted" otherwise.
    MicrophoneStatus microphoneStatus() const;
    // Whether a server is connected, with or without a default source.
    bool running() const;
    // Waits until the first connection attempt has an answer (or `limit` passes): for callers
    // off the main thread that need an answer now.
    void waitSettled(std::chrono::milliseconds limit) const;

    struct State;

private:
    friend std::unique_ptr<AudioInput> makeAudioInput();

    std::unique_ptr<State> state_;
};

// A PulseAudio capture session with a connection of its own, which its open() waits for:
// for tools and tests; the application keeps one SoundServer instead.
std::unique_ptr<AudioInput> makeAudioInput();

// "authorized" when a sound server with a default source answers within a short time limit,
// "restricted" otherwise. Never blocks for more than about two seconds.
MicrophoneStatus microphoneStatus();

// Whether a sound server (PulseAudio, or PipeWire's PulseAudio service) answers at all, with or
// without a default input. Never blocks for more than about two seconds.
bool soundServerRunning();

} // namespace vozmo
