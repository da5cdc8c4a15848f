#pragma once

#include "error.h"
#include "pause_segmenter.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace vozmo {

// Transcribes one dictation while it is recorded: the audio is cut at pauses and the pieces go
// to the speech server, in order, as the recording goes on, so that at the release only the last
// stretch is left to transcribe. Pieces that wait their turn behind a busy server go together
// in one request when that is predicted to take less time. A dictation that fits the smallest
// speech window is sent whole at the release, as splitting it would not save any time.
//
// One object per dictation: release() on the main thread, run() on the dictation's worker.
class SegmentedTranscription {
public:
    // The transcript of one request's audio (16 kHz mono), given the prompt. Any error fails the
    // request; Error::cancelled is taken as the stop it is.
    using Transcriber = std::function<Result<std::string>(
        std::span<const float> audio, const std::string& prompt, std::stop_token stop)>;
    // Appends the samples recorded after the first `from` to `out`.
    using Source = std::function<void(std::size_t from, std::vector<float>& out)>;
    // The encoder window, in frames, a request of that many samples is given.
    using WindowFrames = std::function<int(std::size_t samples)>;

    struct Settings {
        std::string prompt; // the user's dictionary; the previous piece's text follows it
        std::size_t leadingSilence = 4800; // zeros put before the first piece
        // Nothing is sent during the recording while it is no longer than this.
        std::size_t holdSamples = 0;
        // The most audio one request carries: a single encoder window.
        std::size_t longestRequest = 28 * 16000;
        WindowFrames window;
        PauseSegmenter::Settings cuts;
        // How often the recording is read for new samples.
        std::chrono::milliseconds poll{200};
    };

    explicit SegmentedTranscription(Settings settings);

    // The recording ended: `samples` is the whole of it, read and never changed. Main thread.
    void release(std::shared_ptr<const std::vector<float>> samples);
    void release(std::vector<float> samples);
    bool released() const;
    // Blocks until the release or the stop; true on the release.
    bool waitForRelease(std::stop_token stop) const;

    // On the worker: transcribes the recording read from `live`, then what the release adds, and
    // answers the pieces' texts, trimmed and joined in order with single spaces. A stretch with
    // no sound in it is not sent, unless the recording goes whole. A piece that fails is
    // sent once more, unless it timed out; a second failure fails the whole. Error::cancelled on
    // a stop.
    Result<std::string> run(const Source& live, const Transcriber& transcribe,
                            std::stop_token stop);

    // After run(): the requests sent, and the number that were sent while recording.
    int requests() const { return requests_; }
    int requestsBeforeRelease() const { return early_; }

private:
    // The end of the next request: as many of the waiting pieces as fit one request and take
    // less time together than apart.
    std::size_t nextEnd(std::size_t sent, const std::vector<std::size_t>& ends,
                        std::size_t recorded) const;
    // The audio between the two positions has no sound in it, while the first `recorded`
    // samples have some and are too long to go whole.
    bool silent(std::size_t from, std::size_t to, std::size_t recorded) const;
    double predictedSeconds(std::size_t from, std::size_t to) const;
    std::size_t requestSamples(std::size_t from, std::size_t to) const;
    void measured(std::size_t from, std::size_t to, double seconds);
    std::string prompt(const std::vector<std::string>& texts) const;

    Settings settings_;
    PauseSegmenter segmenter_;
    mutable std::mutex lock_;
    mutable std::condition_variable_any releasedSignal_;
    std::shared_ptr<const std::vector<float>> final_; // guarded by lock_
    bool releasedFlag_ = false;                       // guarded by lock_

    // Least-squares line through (window frames, seconds) of the finished requests.
    double n_ = 0, sumX_ = 0, sumY_ = 0, sumXX_ = 0, sumXY_ = 0;
    int requests_ = 0;
    int early_ = 0;
};

} // namespace vozmo
