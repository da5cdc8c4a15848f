#include "dictation_controller.h"

#include "adapt.h"
#include "clean_whisper.h"
#include "config.h"
#include "log.h"
#include "paste.h"
#include "polisher.h"
#include "prefs.h"
#include "segmented_transcription.h"
#include "speech_window.h"
#include "unicode_text.h"
#include "vocabulary.h"

#include <cstdio>

namespace vozmo {

namespace {

constexpr double kSampleRate = 16000.0;
constexpr double kShortestRecording = 0.4;
constexpr float kQuietestPeak = 0.006f;
constexpr size_t kLeadingSilence = 4800;
constexpr auto kOwnPressWindow = std::chrono::seconds(1);

double secondsBetween(Clock::TimePoint start, Clock::TimePoint end) {
    return std::chrono::duration<double>(end - start).count();
}

// Words are the non-empty runs between plain spaces; other blanks do not separate.
int spaceSeparatedWords(const std::string& text) {
    int words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

Error speechWaitError(SpeechClient::Wait waited) {
    switch (waited) {
    case SpeechClient::Wait::portBusy:
        return {Error::Kind::speechServerPortBusy, std::to_string(WHISPER_PORT)};
    case SpeechClient::Wait::notLaunched:
        return {Error::Kind::speechServerMissing, {}};
    case SpeechClient::Wait::gaveUp:
        return {Error::Kind::speechServerNotReady, "abandonado tras varios fallos"};
    case SpeechClient::Wait::timedOut:
        return {Error::Kind::speechServerNotReady, "no estuvo listo a tiempo"};
    case SpeechClient::Wait::ready:
    case SpeechClient::Wait::stopped:
        break;
    }
    return {Error::Kind::transcriptionFailed, {}};
}

} // namespace

QString describe(const HUDMode& mode) {
    switch (mode.kind) {
    case HUDMode::Kind::listening:
        return mode.locked ? QStringLiteral("Manos libres") : QStringLiteral("Escuchando");
    case HUDMode::Kind::loading:
        return QStringLiteral("Cargando IA");
    case HUDMode::Kind::transcribing:
        return QStringLiteral("Transcribiendo");
    case HUDMode::Kind::polishing:
        return QStringLiteral("Puliendo");
    case HUDMode::Kind::done:
    case HUDMode::Kind::message:
        return mode.text;
    }
    return {};
}

// Everything a pipeline run needs, copied on the main thread: the transcription settings when
// the recording starts, the rest when it ends.
struct DictationController::Job {
    bool live = true; // read from the recorder while it records; a retry is not
    std::string language;
    bool polish = true;
    bool fastTranscription = true;
    std::optional<TargetApp> target;
    double duration = 0;
    Clock::TimePoint released; // when the recording ended: the polish budget counts from here
};

DictationController::DictationController(DictationParts parts)
    : parts_(parts), downAt_(parts_.clock.now()),
      self_(std::make_shared<DictationController*>(this)) {}

DictationController::~DictationController() {
    shutdown();
}

void DictationController::shutdown() {
    stopTranscription();
    if (worker_.joinable()) {
        worker_.join();
    }
    parts_.clock.clearAlarm();
}

void DictationController::stopTranscription() {
    ++generation_;
    worker_.request_stop();
}

void DictationController::claimNextPress(std::function<void()> claim) {
    pressClaim_ = std::move(claim);
}

void DictationController::setState(State state) {
    state_ = state;
    parts_.shell.stateChanged(state_);
}

void DictationController::play(Sound sound) {
    if (Prefs::sounds() && parts_.sounds != nullptr) {
        parts_.sounds->play(sound);
    }
}

void DictationController::flashError(const Error& error) {
    parts_.hud.flash(
        HUDMode::message(QString::fromStdString(userMessage(error)), HUDColors::orange), 4.0);
}

void DictationController::keyDown() {
    if (ignorePressUntil_) {
        const bool ours = parts_.clock.now() < *ignorePressUntil_;
        ignorePressUntil_.reset();
        if (ours) {
            return;
        }
    }
    if (pressClaim_) {
        auto claim = std::move(pressClaim_);
        pressClaim_ = nullptr;
        claim();
        return;
    }
    if (state_ == State::idle) {
        startRecording();
    } else if (state_ == State::recording && locked_) {
        finish();
    }
}

void DictationController::keyUp() {
    if (state_ != State::recording || locked_) {
        return;
    }
    if (secondsBetween(downAt_, parts_.clock.now()) < kTapThreshold) {
        locked_ = true;
        parts_.hud.show(HUDMode::listening(true));
        return;
    }
    finish();
}

void DictationController::otherKey() {
    if (state_ != State::recording || locked_) {
        return;
    }
    if (secondsBetween(downAt_, parts_.clock.now()) < kShortcutWindow) {
        cancel(true);
    }
}

void DictationController::cancel(bool silent) {
    if (state_ == State::idle) {
        return;
    }
    if (state_ == State::recording) {
        parts_.clock.clearAlarm();
        parts_.recorder.stop();
    }
    // The upload or the transcription in flight ends now: the speech server serves one request
    // at a time, and the next dictation must not queue behind this one.
    stopTranscription();
    setState(State::idle);
    if (silent) {
        parts_.hud.hide(0);
    } else {
        const Error cancelled{Error::Kind::cancelled, {}};
        parts_.hud.flash(
            HUDMode::message(QString::fromStdString(userMessage(cancelled)), HUDColors::grey), 0.9);
    }
}

// Ends the recording now, with a message, rather than letting it run on in silence until the key
// is let go.
void DictationController::recordingLost(const std::string& why) {
    if (state_ != State::recording) {
        return;
    }
    parts_.clock.clearAlarm();
    parts_.recorder.stop();
    stopTranscription();
    setState(State::idle);
    log("Error de micrófono: " + why);
    parts_.hud.flash(
        HUDMode::message(QString::fromStdString(userMessage({Error::Kind::microphoneLost, why})),
                         HUDColors::orange),
        2.5);
}

void DictationController::startRecording() {
    // The hold is timed from the press itself, not from when the capture answered.
    const Clock::TimePoint pressedAt = parts_.clock.now();
    if (!parts_.speech.available()) {
        parts_.shell.showSetup();
        return;
    }
    target_ = parts_.targets.focused();
    if (const Outcome started = parts_.recorder.start(); !started) {
        log("Error de micrófono: " + started.error().detail);
        parts_.hud.flash(HUDMode::message(QString::fromStdString(userMessage(started.error())),
                                          HUDColors::orange),
                         2.5);
        return;
    }
    locked_ = false;
    downAt_ = pressedAt;
    parts_.typist.prepare();
    startTranscription();
    setState(State::recording);
    play(Sound::start);
    parts_.hud.show(HUDMode::listening(false));
    parts_.clock.setAlarm(kRecordingLimit, [this] { finish(); });
}

void DictationController::startTranscription(bool live) {
    // A new dictation ends every request of the one before; they end at once, so this wait is
    // short.
    stopTranscription();
    if (worker_.joinable()) {
        worker_.join();
    }
    job_ = std::make_unique<Job>();
    job_->live = live;
    job_->language = Prefs::language();
    job_->fastTranscription = Prefs::fastTranscription();
    const Vocabulary vocabulary = Vocabulary::load();
    SegmentedTranscription::Settings settings;
    settings.prompt = vocabulary.whisperPrompt();
    settings.leadingSilence = kLeadingSilence;
    // Split, a recording that fits the smallest window would pay for it twice.
    settings.holdSamples = kSmallestWindowSamples - kLeadingSilence;
    if (job_->fastTranscription) {
        settings.window = [](std::size_t samples) { return speechWindowFrames(samples); };
    } else {
        settings.window = [](std::size_t) { return kFullSpeechWindow; };
    }
    pieces_ = std::make_unique<SegmentedTranscription>(std::move(settings));
    worker_ = std::jthread([this, generation = generation_, &pieces = *pieces_, &job = *job_](
                               std::stop_token stop) { run(generation, pieces, job, stop); });
}

void DictationController::finish() {
    if (state_ != State::recording) {
        return;
    }
    const auto released = parts_.clock.now();
    parts_.clock.clearAlarm();
    DictationRecorder::Recording recording = parts_.recorder.stop();
    setState(State::processing);
    play(Sound::stop);
    const double duration = static_cast<double>(recording.samples.size()) / kSampleRate;
    if (duration < kShortestRecording || recording.peak < kQuietestPeak) {
        stopTranscription();
        setState(State::idle);
        parts_.hud.flash(HUDMode::message(QStringLiteral("No te he oído"), HUDColors::orange), 1.2);
        return;
    }
    // Kept, in memory only, until it is delivered or a newer dictation replaces it: a failed
    // transcription can then be sent again. Shared with the transcription, not copied.
    last_ = std::make_shared<const std::vector<float>>(std::move(recording.samples));
    lastDuration_ = duration;
    release(last_, released);
}

bool DictationController::canRetry() const {
    return state_ == State::idle && last_ != nullptr;
}

bool DictationController::retryLast() {
    if (!canRetry()) {
        return false;
    }
    char line[64];
    std::snprintf(line, sizeof line, "Reintento del último dictado (%.1f s)", lastDuration_);
    log(line);
    // Delivered where the user is now, as for a new dictation.
    target_ = parts_.targets.focused();
    startTranscription(false);
    setState(State::processing);
    release(last_, parts_.clock.now());
    return true;
}

void DictationController::release(std::shared_ptr<const std::vector<float>> samples,
                                  Clock::TimePoint released) {
    SpeechClient& speech = parts_.speech;
    // Waiting makes sense only for a server that is on its way up.
    if (!speech.ready() && (!speech.launched() || speech.portBusy())) {
        stopTranscription();
        const Error error = speech.portBusy() ? speechWaitError(SpeechClient::Wait::portBusy)
                            : speech.gaveUp() ? speechWaitError(SpeechClient::Wait::gaveUp)
                                              : speechWaitError(SpeechClient::Wait::notLaunched);
        log("Dictado sin transcribir: " + userMessage(error));
        fail(generation_, error);
        return;
    }
    // Filled in before the release, which the worker waits for before it reads them.
    job_->polish = Prefs::polish();
    job_->target = target_;
    job_->duration = lastDuration_;
    job_->released = released;
    parts_.hud.show(speech.ready() ? HUDMode::transcribing() : HUDMode::loading());
    pieces_->release(std::move(samples));
}

void DictationController::whenCurrent(std::int64_t generation,
                                      std::function<void(DictationController&)> action) {
    std::weak_ptr<DictationController*> self = self_;
    parts_.main.post([self, generation, action = std::move(action)] {
        auto alive = self.lock();
        if (alive && (*alive)->generation_ == generation) {
            action(**alive);
        }
    });
}

// On the worker: touches only the thread-safe parts and posts its outcome, and nothing before
// the release.
void DictationController::run(std::int64_t generation, SegmentedTranscription& pieces,
                              const Job& job, std::stop_token stop) {
    auto failWith = [this, generation](Error error) {
        whenCurrent(generation, [generation, error = std::move(error)](DictationController& c) {
            c.fail(generation, error);
        });
    };
    const auto waited = parts_.speech.waitUntilReady(stop, kSpeechServerWait);
    if (waited == SpeechClient::Wait::stopped) {
        return;
    }
    if (waited != SpeechClient::Wait::ready) {
        if (!pieces.waitForRelease(stop)) {
            return;
        }
        const Error error = speechWaitError(waited);
        log("Dictado sin transcribir: " + userMessage(error) + " (" + error.detail + ")");
        failWith(error);
        return;
    }
    if (pieces.released()) {
        // The server came up after the release: the panel said it was loading.
        whenCurrent(generation,
                    [](DictationController& c) { c.parts_.hud.show(HUDMode::transcribing()); });
    }

    const Result<std::string> raw = pieces.run(
        [this, &job](std::size_t from, std::vector<float>& out) {
            // A retry has its whole recording at the release; the recorder holds another one.
            if (job.live) {
                parts_.recorder.copySince(from, out);
            }
        },
        [this, &job](std::span<const float> audio, const std::string& prompt,
                     std::stop_token requestStop) -> Result<std::string> {
            auto text = parts_.speech.transcribe(audio, job.language, prompt, job.fastTranscription,
                                                 requestStop);
            if (!text) {
                return text;
            }
            // Each piece on its own: a phrase the model makes up over a quiet piece is found
            // only in a short text.
            return cleanWhisper(*text);
        },
        stop);
    if (stop.stop_requested()) {
        return;
    }
    if (!raw) {
        // A server lost while the user still speaks fails the dictation only at the release:
        // the recording goes on to its end and is kept, so that it can be sent again.
        if (!pieces.waitForRelease(stop)) {
            return;
        }
        failWith(raw.error());
        return;
    }
    // Past the release, the job's remaining fields are there.
    const Vocabulary vocabulary = Vocabulary::load();
    std::string text = vocabulary.apply(cleanWhisper(*raw));
    const double whisperTime = std::max(0.0, secondsBetween(job.released, parts_.clock.now()));
    if (pieces.requests() > 1) {
        log("Dictado en " + std::to_string(pieces.requests()) + " peticiones, " +
            std::to_string(pieces.requestsBeforeRelease()) + " durante la grabación");
    }
    if (text.empty()) {
        failWith({Error::Kind::nothingUnderstood, {}});
        return;
    }
    // Kept beside the polished text, so the user can have it back.
    std::string unpolished = text;
    double iaTime = 0;
    std::string_view refusal;  // a reason code, never the text
    std::string polishFailure; // likewise
    if (job.polish && parts_.polish.ready() && spaceSeparatedWords(text) >= 3) {
        const PolishPlan plan = parts_.polish.plan(
            text, polishBudgetSeconds(secondsBetween(job.released, parts_.clock.now())));
        if (plan.outcome == PolishPlan::Outcome::polish) {
            whenCurrent(generation,
                        [](DictationController& c) { c.parts_.hud.show(HUDMode::polishing()); });
            const auto t1 = parts_.clock.now();
            Result<std::string> polished = parts_.polish.polish(text, vocabulary.words, stop);
            if (stop.stop_requested()) {
                return;
            }
            if (polished) {
                const Polisher::Verdict verdict = Polisher::judge(text, *polished);
                if (verdict.accepted) {
                    text = vocabulary.apply(*polished);
                }
                refusal = verdict.reason;
            } else {
                polishFailure = "fallida: " + polished.error().detail;
            }
            iaTime = secondsBetween(t1, parts_.clock.now());
        } else {
            log(plan.logLine);
        }
    }
    const auto appId = job.target ? std::optional<std::string>(job.target->appId) : std::nullopt;
    text = adapt(text, appId);
    unpolished = adapt(unpolished, appId);
    char line[200];
    std::snprintf(line, sizeof line, "Dictado %.1f s · Whisper %.2f s · IA %.2f s%s%.*s%s%s",
                  job.duration, whisperTime, iaTime,
                  refusal.empty() ? "" : " · descartada: ", int(refusal.size()), refusal.data(),
                  polishFailure.empty() ? "" : " · ", polishFailure.c_str());
    log(line);
    whenCurrent(generation, [text, target = job.target, unpolished](DictationController& c) {
        c.deliver(text, target, unpolished);
    });
}

void DictationController::fail(std::int64_t generation, const Error& error) {
    if (generation != generation_) {
        return;
    }
    setState(State::idle);
    play(Sound::error);
    flashError(error);
}

void DictationController::deliver(const std::string& text, const std::optional<TargetApp>& target,
                                  const std::string& raw) {
    setState(State::idle);
    // Transcribed: nothing is left to try again, and the audio need not stay in memory.
    last_.reset();
    lastPaste_.reset();
    history_.add({text, raw.empty() ? text : raw});
    Typist& typist = parts_.typist;
    const bool trusted = typist.trusted();
    const auto now = parts_.targets.focused();
    const TargetApp own = parts_.targets.own();
    const bool targetIsUs = target && (target->pid == own.pid || target->appId == own.appId);
    LeftReason why = !target      ? LeftReason::targetUnknown
                     : targetIsUs ? LeftReason::ownWindow
                                  : LeftReason::focusMoved;
    if (trusted && target && now && sameApp(*target, *now) && !targetIsUs) {
        if (parts_.keys.dictationKeyHeld()) {
            ignorePressUntil_ = parts_.clock.now() + kOwnPressWindow;
        }
        if (pasteInto(text, *now, raw.empty() ? text : raw)) {
            parts_.hud.hide(0);
            return;
        }
        why = LeftReason::pasteFailed;
    }
    typist.copy(text);
    // The user pastes wherever the focus now is, so name that window's paste keys.
    const std::string keys = pasteKeysName(now);
    if (trusted) {
        parts_.shell.leftOnClipboard(keys, why);
    }
    parts_.hud.flash(HUDMode::done(trusted ? QString::fromStdString("Copiado: pega con " + keys)
                                           : QStringLiteral("Copiado · falta permiso")),
                     1.8);
}

bool DictationController::pasteInto(const std::string& text, const TargetApp& target,
                                    const std::string& raw) {
    Typist& typist = parts_.typist;
    LastPaste paste;
    paste.target = target;
    paste.leadingSpace = typist.needsLeadingSpace();
    paste.typed = paste.leadingSpace ? " " + text : text;
    paste.raw = raw;
    paste.typedKeys = parts_.keys.typedKeys();
    if (const Outcome pasted = typist.paste(paste.typed); !pasted) {
        // The stroke never left: the text must not vanish with the clipboard put back.
        log("Pegado fallido: " + pasted.error().detail);
        return false;
    }
    if (raw != text) {
        lastPaste_ = std::move(paste);
    }
    return true;
}

void DictationController::pasteAgain(const std::string& text) {
    lastPaste_.reset();
    const auto now = parts_.targets.focused();
    const TargetApp own = parts_.targets.own();
    const bool nowIsUs = now && (now->pid == own.pid || now->appId == own.appId);
    if (state_ == State::idle && parts_.typist.trusted() && now && !nowIsUs) {
        // The history keeps both versions, so pasting one of them again can be undone only by
        // the user; text == raw keeps it out of "Deshacer el pulido".
        if (pasteInto(text, *now, text)) {
            return;
        }
    }
    parts_.typist.copy(text);
    parts_.hud.flash(
        HUDMode::done(QString::fromStdString("Copiado: pega con " + pasteKeysName(now))), 1.8);
}

bool DictationController::canUndoPolish() const {
    return lastPaste_.has_value() && state_ == State::idle;
}

void DictationController::undoPolish() {
    if (!lastPaste_) {
        return;
    }
    const LastPaste paste = std::move(*lastPaste_);
    lastPaste_.reset();
    const auto now = parts_.targets.focused();
    const std::optional<std::uint64_t> typed = parts_.keys.typedKeys();
    // The paste's own stroke (V, or Insert) is one press of a typing key.
    constexpr std::uint64_t kPasteStrokes = 1;
    std::string why;
    std::string told;
    if (state_ != State::idle) {
        why = "dictado en curso";
    } else if (!now || !sameApp(paste.target, *now) || now->window != paste.target.window) {
        why = "otra ventana";
        told = "Otra ventana tiene el foco";
    } else if (!typed || !paste.typedKeys) {
        why = "sin ver el teclado";
        told = "No se puede saber si escribiste después";
    } else if (*typed > *paste.typedKeys + kPasteStrokes) {
        why = "escrito después";
        told = "Has escrito después de pegar";
    } else if (isTerminal(now->appId)) {
        why = "terminal";
        told = "En un terminal no se puede reemplazar";
    }
    if (why.empty()) {
        // Ctrl+Z undoes nothing in plain GTK 3 fields and stops the program in a terminal:
        // select the pasted text backwards instead, and paste the transcript over it.
        const std::size_t characters = text::graphemeCount(paste.typed);
        bool selected = true;
        for (std::size_t i = 0; i < characters && selected; ++i) {
            selected = parts_.typist.sendKey(KeyStroke{"Left", false, true});
        }
        const std::string replacement = paste.leadingSpace ? " " + paste.raw : paste.raw;
        if (selected) {
            if (const Outcome pasted = parts_.typist.paste(replacement); pasted) {
                log("Pulido deshecho");
                parts_.hud.flash(HUDMode::done(QStringLiteral("Pulido deshecho")), 1.2);
                return;
            } else {
                why = "pegado fallido: " + pasted.error().detail;
            }
        } else {
            why = "teclas no enviadas";
        }
    }
    log("Pulido no deshecho: " + why);
    parts_.typist.copy(paste.raw);
    const std::string keys = pasteKeysName(now);
    const std::string said = (told.empty() ? std::string("Sin pulir") : told + ": sin pulir") +
                             " copiado, pega con " + keys;
    parts_.hud.flash(HUDMode::message(QString::fromStdString(said), HUDColors::orange), 3.0);
}

} // namespace vozmo
