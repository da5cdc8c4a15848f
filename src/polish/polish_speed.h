#pragma once

#include "config.h"
#include "error.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vozmo {

// Throughput of the language-model server as its answers' `timings` report it.
struct PolishTimings {
    double promptPerSecond = 0;    // prompt tokens evaluated per second
    double predictedPerSecond = 0; // answer tokens generated per second
    int promptTokens = 0;
    int predictedTokens = 0;
};

// The `timings` of a chat answer; absent when the body has none or they make no sense.
std::optional<PolishTimings> readTimings(const std::optional<std::string>& body);

// Rough token count of Spanish text for the polish model: characters ÷ 3.5.
double estimatedTokens(std::string_view text);

// Seconds a polish of `dictation` should take at `speeds`: its new prompt tokens (the cached
// prefix of instructions and examples is not evaluated again) and an answer of about its own
// length.
double predictedPolishSeconds(std::string_view dictation, const PolishTimings& speeds);

// What the application knows about the polishing server's speed, and whether the speech server
// is busy. Shared by the dictation pipeline and the server supervisor's warm-up; every member
// is safe from any thread.
class PolishSpeed {
public:
    // Keeps the measured speeds of one completed exchange. Figures drawn from too few tokens
    // are mostly overhead and leave the kept speed alone.
    void record(const PolishTimings& timings);
    std::optional<PolishTimings> speeds() const;
    // Absent while no speed is known.
    std::optional<double> predictSeconds(std::string_view dictation) const;

    // A (re)started server: its model's speed is not known yet, and it is warming up.
    void reset();

    // The warm-up has finished (with or without an answer): the model and its prompt prefix are
    // loaded, and a polish no longer queues behind the warm-up.
    void setWarmedUp(bool value);
    bool warmedUp() const;

    // The last dictation skipped its polish because it would have taken too long.
    void setTooSlow(bool value);
    bool tooSlow() const;

    // Transcriptions in progress; the warm-up waits for none, since both servers compete for
    // the same cores and the user is waiting for the speech.
    void speechStarted();
    void speechEnded();
    // Blocks until no transcription runs or `limit` passes; true when none runs.
    bool waitForSpeechIdle(std::chrono::milliseconds limit) const;

    // Marks one transcription for the lifetime of the guard.
    class SpeechGuard {
    public:
        explicit SpeechGuard(PolishSpeed* speed) : speed_(speed) {
            if (speed_) {
                speed_->speechStarted();
            }
        }
        ~SpeechGuard() {
            if (speed_) {
                speed_->speechEnded();
            }
        }
        SpeechGuard(const SpeechGuard&) = delete;
        SpeechGuard& operator=(const SpeechGuard&) = delete;

    private:
        PolishSpeed* speed_;
    };

private:
    mutable std::mutex lock_;
    mutable std::condition_variable speechIdle_;
    std::optional<PolishTimings> speeds_;
    bool warmedUp_ = false;
    bool tooSlow_ = false;
    int speechRunning_ = 0;
};

// Sends one polish like Polisher::polish, with `timeoutSeconds` when positive, and records the
// answer's timings in `speed`. A failure is polishFailed, its detail the reason in a few words
// (Polisher::failureReason).
Result<std::string> polishMeasured(PolishSpeed& speed, std::string_view text,
                                   const std::vector<std::string>& vocabulary, int port = LLM_PORT,
                                   double timeoutSeconds = 0, std::stop_token stop = {},
                                   std::string_view apiKey = {});

// The time limit of one polish request.
double polishLimitSeconds();

// Seconds from the release of the dictation key to the text, polish included, that a dictation
// is allowed: speaking, letting go and seeing the text must stay quick, so a polish predicted to
// end later is skipped rather than waited for.
inline constexpr double kReleaseToTextSeconds = 8.0;

// The time a polish may take when `sinceRelease` seconds have already passed since the key was
// let go: what is left of the release-to-text allowance, never more than one request's limit.
double polishBudgetSeconds(double sinceRelease);

// Whether a dictation is worth sending to the language model, decided before sending it.
struct PolishPlan {
    enum class Outcome { polish, notWarmedUp, tooSlow };
    Outcome outcome = Outcome::polish;
    std::optional<double> predictedSeconds;
    // What the log says about a skipped polish; empty when it goes ahead.
    std::string logLine;
};

// Skips a polish that would only queue behind the warm-up, or whose predicted time passes
// `limitSeconds`: the user gets the cleaned text at once instead of after the limit. Without a
// measured speed the polish goes ahead. Marks `speed` too slow when it skips for time.
PolishPlan planPolish(PolishSpeed& speed, std::string_view dictation, double limitSeconds);

} // namespace vozmo
