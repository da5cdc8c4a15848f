#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio_input.h"

namespace vozmo {

class Resampler;

// Records the default microphone as 16 kHz mono float samples, reporting a level per chunk and
// keeping the loudest. start/stop on the main thread; capture runs on the back-end's thread.
class Recorder {
public:
    enum class RecError {
        noInput, // no sound server, or no usable default source
        engine,  // the capture back-end failed to start
    };
    struct StartError {
        RecError kind = RecError::noInput;
        std::string description; // for the log line
    };
    struct Recording {
        std::vector<float> samples;
        float peak = 0.0f;
    };
    using InputFactory = std::function<std::unique_ptr<AudioInput>()>;

    Recorder(); // PulseAudio's default source
    explicit Recorder(InputFactory makeInput);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Clears the previous recording and opens the default source as it is now.
    std::optional<StartError> start();
    // Ends the capture; answers copies of every sample since start and the peak level.
    // The recording is kept until the next start.
    Recording stop();
    // Ends the capture like stop() and hands the recording over without copying it: for the
    // one consumer of a finished recording. A later stop() or take() answers it empty.
    Recording take();
    // Any thread: appends the samples of the recording after the first `from` to `out`, while
    // it goes on (and after stop(), until the next start).
    void copySince(std::size_t from, std::vector<float>& out);

    // The level of every converted chunk, on the capture thread. Set once before recording.
    std::function<void(float)> onLevel;
    // The capture of session `session` broke (the sound server went away), on the capture
    // thread; nothing more is recorded until the next start. Set once before recording.
    std::function<void(unsigned session, const std::string& why)> onLost;
    // Counts the starts: tells a late notice of an earlier session from one of the current.
    unsigned session() const { return session_; }

    // Root mean square of the samples, in 32-bit float; 0 for none.
    static float level(std::span<const float> samples);

private:
    void endCapture();
    // One captured chunk in the session's native format: the capture thread's work.
    void process(std::span<const float> interleaved);
    void append(std::span<const float> converted);

    InputFactory makeInput_;
    std::unique_ptr<AudioInput> input_;
    std::unique_ptr<Resampler> converter_;
    std::mutex lock_; // guards samples_ and peak_
    std::vector<float> samples_;
    float peak_ = 0.0f;
    unsigned session_ = 0;
};

} // namespace vozmo
