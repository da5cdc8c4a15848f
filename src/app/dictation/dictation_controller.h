#pragma once

#include "audio_input.h"
#include "dictation_state.h"
#include "error.h"
#include "history.h"
#include "hud_mode.h"
#include "key_synth.h"
#include "polish_speed.h"
#include "server_wait.h"
#include "sounds.h"
#include "target_window.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vozmo {

class SegmentedTranscription;

// The parts the dictation controller talks to. The application wires the desktop's, the tests
// fakes that record what they were asked. Unless said otherwise, members are called on the main
// thread.

class DictationRecorder {
public:
    struct Recording {
        std::vector<float> samples; // 16 kHz mono
        float peak = 0.0f;
    };
    virtual ~DictationRecorder() = default;
    // Error::noMicrophone, its detail for the log.
    virtual Outcome start() = 0;
    // Ends the recording and hands it over.
    virtual Recording stop() = 0;
    // Any thread, while recording: appends the samples recorded after the first `from` to
    // `out`. A recorder that adds nothing has its dictation transcribed whole at the release.
    virtual void copySince(std::size_t from, std::vector<float>& out) {
        (void)from;
        (void)out;
    }
};

// The dictation key as the key monitor last saw it.
class KeySource {
public:
    virtual ~KeySource() = default;
    virtual bool dictationKeyHeld() const = 0;
    // Presses of keys that type, counted since the key monitor started: whether the user typed
    // between two moments. None where the desktop does not show every key.
    virtual std::optional<std::uint64_t> typedKeys() const { return std::nullopt; }
};

// The speech server as the supervisor sees it, and a client for it.
class SpeechClient {
public:
    using Wait = ServerWait;
    virtual ~SpeechClient() = default;
    // The program and its model are there.
    virtual bool available() const = 0;
    virtual bool ready() const = 0;
    virtual bool launched() const = 0;
    virtual bool portBusy() const = 0;
    virtual bool gaveUp() const = 0;
    // Any thread. Blocks until the server is ready or cannot become so.
    virtual Wait waitUntilReady(std::stop_token stop, std::chrono::milliseconds limit) = 0;
    // Any thread. The raw transcript of 16 kHz mono audio; `fast` sizes the encoder window to
    // the audio. A stop request ends the exchange at once with Error::cancelled.
    virtual Result<std::string> transcribe(std::span<const float> audio,
                                           const std::string& language, const std::string& prompt,
                                           bool fast, std::stop_token stop) = 0;
};

class PolishClient {
public:
    virtual ~PolishClient() = default;
    // Any thread.
    virtual bool ready() const = 0;
    // Any thread. Whether the polish is worth sending now, with `limitSeconds` left for it.
    virtual PolishPlan plan(std::string_view text, double limitSeconds) = 0;
    // Any thread. The model's answer, not judged yet.
    virtual Result<std::string> polish(std::string_view text,
                                       const std::vector<std::string>& vocabulary,
                                       std::stop_token stop) = 0;
};

// Writes the text where the user was typing, or leaves it on the clipboard.
class Typist {
public:
    virtual ~Typist() = default;
    // Keys can be observed and synthesised on this desktop.
    virtual bool trusted() = 0;
    virtual bool needsLeadingSpace() = 0;
    virtual Outcome paste(const std::string& text) = 0;
    virtual void copy(const std::string& text) = 0;
    // One stroke to the focused window; false when it could not be sent.
    virtual bool sendKey(const KeyStroke& stroke) {
        (void)stroke;
        return false;
    }
    // A dictation has begun and may be pasted: slow preparations start now.
    virtual void prepare() {}
};

class TargetFinder {
public:
    virtual ~TargetFinder() = default;
    virtual std::optional<TargetApp> focused() = 0;
    virtual TargetApp own() = 0;
};

class HudSink {
public:
    virtual ~HudSink() = default;
    virtual void show(const HUDMode& mode) = 0;
    virtual void flash(const HUDMode& mode, double seconds) = 0;
    virtual void hide(double seconds) = 0;
};

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    // Any thread.
    virtual TimePoint now() const = 0;
    // One alarm at a time: a new one replaces the pending one. Runs on the main thread.
    virtual void setAlarm(std::chrono::milliseconds after, std::function<void()> action) = 0;
    virtual void clearAlarm() = 0;
};

// Runs work on the main thread later; callable from any thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(std::function<void()> work) = 0;
};

// What the application around the controller does in answer.
class DictationShell {
public:
    virtual ~DictationShell() = default;
    virtual void stateChanged(State state) = 0;
    virtual void showSetup() = 0;
    // A dictation left on the clipboard although it could have been pasted.
    virtual void leftOnClipboard(const std::string& keys, LeftReason why) = 0;
};

struct DictationParts {
    DictationRecorder& recorder;
    KeySource& keys;
    SpeechClient& speech;
    PolishClient& polish;
    Typist& typist;
    TargetFinder& targets;
    HudSink& hud;
    Clock& clock;
    SoundPlayer* sounds; // none: silent
    MainQueue& main;
    DictationShell& shell;
};

// The dictation key, the recording, the pipeline and the delivery. Main thread only; the
// pipeline of the current dictation runs on one worker it owns, stopped by Escape, a newer
// dictation and shutdown.
class DictationController {
public:
    static constexpr double kTapThreshold = 0.3;
    static constexpr double kShortcutWindow = 1.5;
    static constexpr std::chrono::milliseconds kRecordingLimit{300 * 1000};
    static constexpr std::chrono::seconds kSpeechServerWait{180};
    static constexpr std::size_t kHistoryLength = History::kLength;

    explicit DictationController(DictationParts parts);
    // Stops and joins the worker.
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    void keyDown();
    void keyUp();
    // Another key or modifier while the dictation key is held.
    void otherKey();
    void cancel(bool silent);
    // The sound server went away while recording: the recording ends with a message.
    void recordingLost(const std::string& why);
    // Ends the recording and starts its pipeline (the key, or the recording limit).
    void finish();
    // Quit: stops the work in flight and waits for it; nothing is delivered afterwards.
    void shutdown();

    // The last recording sent for transcription and not delivered (it failed, or Escape ended
    // it) can be sent again now.
    bool canRetry() const;
    // Sends it again, for the window that has the focus now; false when there is none to send
    // or a dictation is under way.
    bool retryLast();

    // The next press of the dictation key goes to `claim` instead (the setup window waiting for
    // the Fn key); an empty one withdraws it.
    void claimNextPress(std::function<void()> claim);

    State state() const { return state_; }
    // The texts of the last dictations, newest first.
    std::vector<std::string> history() const { return history_.texts(); }
    // The same with their transcripts before polishing.
    const History& dictations() const { return history_; }

    // Pastes `text` (a version of a past dictation) into the window that has the focus now, or
    // copies it, and says so, when no window can take it.
    void pasteAgain(const std::string& text);
    // The last dictation was pasted polished, and can be put back as it was transcribed.
    bool canUndoPolish() const;
    // Replaces the polished text just pasted by the transcript, in the same window, if that
    // window still has the focus and nothing was typed since; otherwise copies the transcript
    // and says why.
    void undoPolish();

    // The end of a pipeline run; stale runs (an older generation) change nothing.
    void fail(std::int64_t generation, const Error& error);
    // `raw`: the transcript before polishing; empty when it is `text` itself.
    void deliver(const std::string& text, const std::optional<TargetApp>& target,
                 const std::string& raw = {});

private:
    struct Job;
    void startRecording();
    // Stops the previous dictation's worker and starts this one's, which transcribes the
    // recording in pieces while it goes on.
    void startTranscription(bool live = true);
    // Hands the whole recording, which ended at `released`, to the transcription under way.
    void release(std::shared_ptr<const std::vector<float>> samples, Clock::TimePoint released);
    void stopTranscription();
    void setState(State state);
    void play(Sound sound);
    void flashError(const Error& error);
    void run(std::int64_t generation, SegmentedTranscription& pieces, const Job& job,
             std::stop_token stop);
    // Runs `action` on the main thread if `generation` is still the current dictation then.
    void whenCurrent(std::int64_t generation, std::function<void(DictationController&)> action);

    DictationParts parts_;
    State state_ = State::idle;
    bool locked_ = false;
    Clock::TimePoint downAt_;
    std::optional<TargetApp> target_;
    std::int64_t generation_ = 0;
    History history_;
    // What the last paste put where, while it can still be undone.
    struct LastPaste {
        TargetApp target;
        std::string typed; // as pasted, with its leading space
        std::string raw;
        bool leadingSpace = false;
        std::optional<std::uint64_t> typedKeys; // before the paste
    };
    std::optional<LastPaste> lastPaste_;
    // Pastes into `target` (the focused window); false, with a log line, when it failed.
    bool pasteInto(const std::string& text, const TargetApp& target, const std::string& raw);
    // The recording of the latest dictation until it is delivered. Memory only: it is never
    // written anywhere.
    std::shared_ptr<const std::vector<float>> last_;
    double lastDuration_ = 0;
    std::function<void()> pressClaim_;
    // A paste lifts a dictation key that is still held and presses it again; that press is
    // ours, not the user's, and must not start a recording.
    std::optional<Clock::TimePoint> ignorePressUntil_;
    // Posted work checks this before touching the controller, which may be gone by then.
    std::shared_ptr<DictationController*> self_;
    // The dictation's settings and its recording, handed to the worker: the job is filled in
    // before the release, which the worker waits for before it reads the job.
    std::unique_ptr<Job> job_;
    std::unique_ptr<SegmentedTranscription> pieces_;
    // Last: joined before anything it uses goes away.
    std::jthread worker_;
};

// The panel's mode in words: its window title, for screen readers and the window list.
QString describe(const HUDMode& mode);

} // namespace vozmo
