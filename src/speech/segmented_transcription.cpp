#include "segmented_transcription.h"

#include <algorithm>

namespace vozmo {

namespace {

// The previous piece's text carried into the prompt: its end, enough for the wording and the
// names to carry across without crowding out the dictionary (whisper keeps a limited prompt).
constexpr std::size_t kCarriedCharacters = 200;

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

SegmentedTranscription::SegmentedTranscription(Settings settings)
    : settings_(std::move(settings)), segmenter_(settings_.cuts) {}

void SegmentedTranscription::release(std::vector<float> samples) {
    release(std::make_shared<const std::vector<float>>(std::move(samples)));
}

void SegmentedTranscription::release(std::shared_ptr<const std::vector<float>> samples) {
    {
        std::lock_guard guard(lock_);
        final_ = std::move(samples);
        releasedFlag_ = true;
    }
    releasedSignal_.notify_all();
}

bool SegmentedTranscription::released() const {
    std::lock_guard guard(lock_);
    return releasedFlag_;
}

bool SegmentedTranscription::waitForRelease(std::stop_token stop) const {
    std::unique_lock guard(lock_);
    return releasedSignal_.wait(guard, stop, [this] { return releasedFlag_; });
}

std::size_t SegmentedTranscription::requestSamples(std::size_t from, std::size_t to) const {
    return to - from + (from == 0 ? settings_.leadingSilence : 0);
}

double SegmentedTranscription::predictedSeconds(std::size_t from, std::size_t to) const {
    const double frames = settings_.window ? settings_.window(requestSamples(from, to)) : 1500.0;
    // Before two different windows have been timed, the time per frame alone: the encoder's
    // share, which is what grows with the window.
    double slope = 1.0;
    double intercept = 0.0;
    const double spread = n_ * sumXX_ - sumX_ * sumX_;
    if (n_ >= 2 && spread > 1e-9) {
        slope = (n_ * sumXY_ - sumX_ * sumY_) / spread;
        intercept = (sumY_ - slope * sumX_) / n_;
    } else if (sumX_ > 0) {
        slope = sumY_ / sumX_;
    }
    return std::max(0.0, intercept) + std::max(0.0, slope) * frames;
}

void SegmentedTranscription::measured(std::size_t from, std::size_t to, double seconds) {
    const double frames = settings_.window ? settings_.window(requestSamples(from, to)) : 1500.0;
    n_ += 1;
    sumX_ += frames;
    sumY_ += seconds;
    sumXX_ += frames * frames;
    sumXY_ += frames * seconds;
}

bool SegmentedTranscription::silent(std::size_t from, std::size_t to, std::size_t recorded) const {
    // A dictation short enough to go whole goes whole, as does one with no sound anywhere:
    // the server is asked about it as before.
    return recorded > settings_.holdSamples && segmenter_.soundFrames(from, to) == 0 &&
           segmenter_.soundFrames(0, recorded) > 0;
}

std::size_t SegmentedTranscription::nextEnd(std::size_t sent, const std::vector<std::size_t>& ends,
                                            std::size_t recorded) const {
    std::size_t end = ends.front();
    for (std::size_t k = 1; k < ends.size(); ++k) {
        const std::size_t next = ends[k];
        if (requestSamples(sent, next) > settings_.longestRequest || silent(end, next, recorded)) {
            break;
        }
        const double together = predictedSeconds(sent, next);
        const double apart = predictedSeconds(sent, end) + predictedSeconds(end, next);
        if (together > apart) {
            break;
        }
        end = next;
    }
    return end;
}

std::string SegmentedTranscription::prompt(const std::vector<std::string>& texts) const {
    if (texts.empty() || texts.back().empty()) {
        return settings_.prompt;
    }
    std::string_view previous = texts.back();
    if (previous.size() > kCarriedCharacters) {
        previous.remove_prefix(previous.size() - kCarriedCharacters);
        // From a word's start, which also keeps a UTF-8 sequence whole.
        const auto space = previous.find(' ');
        previous.remove_prefix(space == std::string_view::npos ? previous.size() : space + 1);
    }
    if (settings_.prompt.empty()) {
        return std::string(previous);
    }
    return settings_.prompt + " " + std::string(previous);
}

Result<std::string> SegmentedTranscription::run(const Source& live, const Transcriber& transcribe,
                                                std::stop_token stop) {
    const Error cancelled{Error::Kind::cancelled, {}};
    std::vector<float> recorded; // read while recording
    std::shared_ptr<const std::vector<float>> whole;
    std::span<const float> audio;
    bool haveAll = false;
    std::vector<std::size_t> ends; // of the pieces cut and not sent yet, in order
    std::size_t sent = 0;          // the audio before this has been transcribed
    std::vector<std::string> texts;
    std::vector<float> request;

    for (;;) {
        if (stop.stop_requested()) {
            return cancelled;
        }
        if (!haveAll) {
            std::unique_lock guard(lock_);
            if (releasedFlag_) {
                whole = final_ ? std::move(final_) : std::make_shared<const std::vector<float>>();
                recorded = {};
                haveAll = true;
            } else {
                guard.unlock();
                if (live) {
                    live(recorded.size(), recorded);
                }
            }
            audio = whole ? std::span<const float>(*whole) : std::span<const float>(recorded);
        }
        for (const std::size_t cut : segmenter_.feed(audio)) {
            if (cut > sent) {
                ends.push_back(cut);
            }
        }
        if (haveAll) {
            // The final recording is the live one grown; were it ever shorter, what was cut
            // beyond its end is not there to send.
            std::erase_if(ends, [&](std::size_t end) { return end > audio.size(); });
            if ((ends.empty() ? sent : ends.back()) < audio.size()) {
                ends.push_back(audio.size());
            }
        }
        if (!ends.empty() && (haveAll || audio.size() > settings_.holdSamples)) {
            const std::size_t end = nextEnd(sent, ends, audio.size());
            if (silent(sent, end, audio.size())) {
                // No word in it, only time on the server and a phrase the model would make up
                // over the silence.
                sent = end;
                std::erase_if(ends, [&](std::size_t e) { return e <= end; });
                continue;
            }
            request.assign(sent == 0 ? settings_.leadingSilence : 0, 0.0f);
            request.insert(request.end(), audio.begin() + static_cast<std::ptrdiff_t>(sent),
                           audio.begin() + static_cast<std::ptrdiff_t>(end));
            const std::string promptText = prompt(texts);
            std::optional<Result<std::string>> answer;
            for (int attempt = 0; attempt < 2; ++attempt) {
                const auto began = std::chrono::steady_clock::now();
                answer.emplace(transcribe(request, promptText, stop));
                ++requests_;
                early_ += haveAll ? 0 : 1;
                if (stop.stop_requested() ||
                    (!*answer && answer->error().kind == Error::Kind::cancelled)) {
                    return cancelled;
                }
                if (*answer) {
                    measured(sent, end,
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - began)
                                 .count());
                    break;
                }
                if (answer->error().kind == Error::Kind::transcriptionTimedOut) {
                    // Not sent again: the server, which serves one request at a time, is still
                    // busy with it, and the user would wait twice the limit for the same answer.
                    break;
                }
            }
            if (!*answer) {
                return answer->error();
            }
            texts.emplace_back(trimmed(**answer));
            sent = end;
            std::erase_if(ends, [&](std::size_t e) { return e <= end; });
            continue;
        }
        if (haveAll) {
            break;
        }
        std::unique_lock guard(lock_);
        releasedSignal_.wait_for(guard, stop, settings_.poll, [this] { return releasedFlag_; });
    }

    std::string joined;
    for (const std::string& text : texts) {
        if (text.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += text;
    }
    return joined;
}

} // namespace vozmo
