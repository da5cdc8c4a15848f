#pragma once

#include "dictation_controller.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The dictation controller's parts without a desktop: each records what it was asked to do
// (sounds played, panel modes shown, text pasted or copied) and answers what the test set.
namespace vozmo::test {

class FakeRecorder final : public DictationRecorder {
public:
    std::optional<std::string> startError; // the log detail of a missing microphone
    Recording next;                        // what the next stop() answers
    int starts = 0;
    int stops = 0;
    bool recording = false;
    std::function<void()> whileStarting; // a start that takes time: advances the clock

    Outcome start() override {
        ++starts;
        if (whileStarting) {
            whileStarting();
        }
        if (startError) {
            return Error{Error::Kind::noMicrophone, *startError};
        }
        recording = true;
        {
            std::lock_guard guard(liveLock_);
            live_.clear();
        }
        return Done{};
    }
    Recording stop() override {
        ++stops;
        recording = false;
        return std::exchange(next, {});
    }
    // The samples "recorded so far" that the controller's worker reads while recording; the
    // test appends to them (live()) and gives the same samples, and more, in `next`.
    void copySince(std::size_t from, std::vector<float>& out) override {
        std::lock_guard guard(liveLock_);
        if (from < live_.size()) {
            out.insert(out.end(), live_.begin() + static_cast<std::ptrdiff_t>(from), live_.end());
        }
    }
    void live(std::span<const float> samples) {
        std::lock_guard guard(liveLock_);
        live_.insert(live_.end(), samples.begin(), samples.end());
    }

private:
    std::mutex liveLock_;
    std::vector<float> live_;
};

class FakeKeys final : public KeySource {
public:
    bool held = false;
    std::optional<std::uint64_t> typed = 0; // none: the desktop shows only the dictation key
    bool dictationKeyHeld() const override { return held; }
    std::optional<std::uint64_t> typedKeys() const override { return typed; }
};

// A speech server whose state the test sets. A transcription answers `answer` at once, or,
// with `holdUntilStopped`, blocks until its stop token fires, as a slow server would.
class FakeSpeech final : public SpeechClient {
public:
    bool isAvailable = true;
    bool isReady = true;
    bool isLaunched = true;
    bool isPortBusy = false;
    bool hasGivenUp = false;
    Wait waitAnswer = Wait::ready;
    Result<std::string> answer = std::string(" Hola, ¿qué tal estás?\n");
    bool holdUntilStopped = false;

    bool available() const override { return isAvailable; }
    bool ready() const override { return isReady; }
    bool launched() const override { return isLaunched; }
    bool portBusy() const override { return isPortBusy; }
    bool gaveUp() const override { return hasGivenUp; }
    Wait waitUntilReady(std::stop_token, std::chrono::milliseconds) override { return waitAnswer; }

    Result<std::string> transcribe(std::span<const float> audio, const std::string& language,
                                   const std::string&, bool, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        requests_.push_back({audio.size(), language, {audio.begin(), audio.end()}});
        changed_.notify_all();
        if (holdUntilStopped) {
            std::condition_variable_any stopped;
            stopped.wait(lock, stop, [] { return false; });
            ++stoppedRequests_;
            changed_.notify_all();
            return Error{Error::Kind::cancelled, {}};
        }
        return answer;
    }

    struct Request {
        std::size_t samples;
        std::string language;
        std::vector<float> audio;
    };
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int stoppedRequests() const {
        std::lock_guard lock(mutex_);
        return stoppedRequests_;
    }
    // Waits (up to a generous limit that only guards against a hang) until `count` requests
    // have arrived.
    bool waitForRequests(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return requests_.size() >= count; });
    }
    bool waitForStopped(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return stoppedRequests_ >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Request> requests_;
    int stoppedRequests_ = 0;
};

class FakePolish final : public PolishClient {
public:
    bool isReady = false;
    PolishPlan answerPlan;
    Result<std::string> answer = std::string("Hola, ¿qué tal estás?");

    bool ready() const override { return isReady; }
    PolishPlan plan(std::string_view, double) override { return answerPlan; }
    Result<std::string> polish(std::string_view text, const std::vector<std::string>&,
                               std::stop_token) override {
        std::lock_guard lock(mutex_);
        sent_.emplace_back(text);
        return answer;
    }
    std::vector<std::string> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> sent_;
};

class FakeTypist final : public Typist {
public:
    bool isTrusted = true;
    bool leadingSpace = false;
    bool pasteFails = false;
    bool strokesFail = false;
    std::vector<std::string> pasted;
    std::vector<std::string> copied;
    std::vector<KeyStroke> strokes;

    bool trusted() override { return isTrusted; }
    bool needsLeadingSpace() override { return leadingSpace; }
    Outcome paste(const std::string& text) override {
        if (pasteFails) {
            return Error{Error::Kind::pasteFailed, "pulsación no enviada"};
        }
        pasted.push_back(text);
        return Done{};
    }
    void copy(const std::string& text) override { copied.push_back(text); }
    bool sendKey(const KeyStroke& stroke) override {
        strokes.push_back(stroke);
        return !strokesFail;
    }
};

class FakeTargets final : public TargetFinder {
public:
    std::optional<TargetApp> front = TargetApp{4242, "Gedit", 77};
    TargetApp self{1, "Vozmo", 0};
    std::optional<TargetApp> focused() override { return front; }
    TargetApp own() override { return self; }
};

// Records every mode shown, with its title, and whether the panel is up.
class FakeHud final : public HudSink {
public:
    std::vector<QString> titles;
    bool visible = false;

    void show(const HUDMode& mode) override {
        titles.push_back(describe(mode));
        visible = true;
    }
    void flash(const HUDMode& mode, double) override {
        titles.push_back(describe(mode));
        visible = true;
    }
    void hide(double) override { visible = false; }
    QString last() const { return titles.empty() ? QString() : titles.back(); }
};

// Time that moves only when the test says; the alarm fires when it is passed.
class FakeClock final : public Clock {
public:
    TimePoint now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void setAlarm(std::chrono::milliseconds after, std::function<void()> action) override {
        std::lock_guard lock(mutex_);
        alarmAt_ = now_ + after;
        alarm_ = std::move(action);
    }
    void clearAlarm() override {
        std::lock_guard lock(mutex_);
        alarm_ = nullptr;
    }
    void advance(std::chrono::milliseconds step) {
        std::function<void()> due;
        {
            std::lock_guard lock(mutex_);
            now_ += step;
            if (alarm_ && now_ >= alarmAt_) {
                due = std::exchange(alarm_, nullptr);
            }
        }
        if (due) {
            due();
        }
    }

private:
    mutable std::mutex mutex_;
    TimePoint now_ = TimePoint(std::chrono::hours(1));
    TimePoint alarmAt_;
    std::function<void()> alarm_;
};

// The main thread's queue, run by the test itself.
class FakeMainQueue final : public MainQueue {
public:
    void post(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        posted_.notify_all();
    }
    // Runs posted work as it arrives until `done` holds; false when it does not within a
    // generous limit (a hang, not a slow machine).
    bool runUntil(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            std::function<void()> work;
            {
                std::unique_lock lock(mutex_);
                if (!posted_.wait_until(lock, limit, [&] { return !queue_.empty(); })) {
                    return false;
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
        return true;
    }
    // Runs whatever is queued now.
    void runPending() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(queue_);
        }
        for (auto& item : work) {
            item();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

class FakeShell final : public DictationShell {
public:
    std::vector<State> states;
    int setupShown = 0;
    std::vector<std::pair<std::string, LeftReason>> clipboardNotices;
    void stateChanged(State state) override { states.push_back(state); }
    void showSetup() override { ++setupShown; }
    void leftOnClipboard(const std::string& keys, LeftReason why) override {
        clipboardNotices.emplace_back(keys, why);
    }
};

class FakeSounds final : public SoundPlayer {
public:
    std::vector<Sound> played;
    void play(Sound sound) override { played.push_back(sound); }
};

// Every part at once, wired to one controller.
struct FakeDictationParts {
    FakeRecorder recorder;
    FakeKeys keys;
    FakeSpeech speech;
    FakePolish polish;
    FakeTypist typist;
    FakeTargets targets;
    FakeHud hud;
    FakeClock clock;
    FakeSounds sounds;
    FakeMainQueue main;
    FakeShell shell;

    DictationParts parts() {
        return {recorder, keys, speech, polish, typist, targets, hud, clock, &sounds, main, shell};
    }
};

} // namespace vozmo::test
