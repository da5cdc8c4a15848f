#include "desktop_parts.h"

#include "hotkey.h"
#include "hud.h"
#include "log.h"
#include "main_thread.h"
#include "polish_speed.h"
#include "recorder.h"
#include "servers.h"
#include "speech_window.h"
#include "transcribe.h"

#include <QTimer>

namespace vozmo {

DesktopRecorder::DesktopRecorder(Recorder& recorder, const AppEnvironment& env)
    : recorder_(recorder), env_(env) {}

Outcome DesktopRecorder::start() {
    if (auto error = recorder_.start()) {
        return Error{Error::Kind::noMicrophone, error->description};
    }
    return Done{};
}

DictationRecorder::Recording DesktopRecorder::stop() {
    // The controller is the recording's one consumer: handed over, not copied.
    Recorder::Recording recording = recorder_.take();
    return {std::move(recording.samples), recording.peak};
}

void DesktopRecorder::copySince(std::size_t from, std::vector<float>& out) {
    recorder_.copySince(from, out);
}

bool DesktopKeys::dictationKeyHeld() const {
    return hotkey_.isDown;
}

std::optional<std::uint64_t> DesktopKeys::typedKeys() const {
    return hotkey_.typedKeys();
}

bool ServerSpeech::available() const {
    return servers_->whisperAvailable();
}
bool ServerSpeech::ready() const {
    return servers_->whisperReady();
}
bool ServerSpeech::launched() const {
    return servers_->whisperLaunched();
}
bool ServerSpeech::portBusy() const {
    return servers_->whisperPortBusy();
}
bool ServerSpeech::gaveUp() const {
    return servers_->whisperGaveUp();
}

SpeechClient::Wait ServerSpeech::waitUntilReady(std::stop_token stop,
                                                std::chrono::milliseconds limit) {
    return servers_->waitForWhisper(stop, limit);
}

Result<std::string> ServerSpeech::transcribe(std::span<const float> audio,
                                             const std::string& language, const std::string& prompt,
                                             bool fast, std::stop_token stop) {
    const int window = fast ? speechWindowFrames(audio.size()) : 0;
    // The limit follows the audio's length and the server's measured speed: a long dictation on
    // a slow machine must not be cut off by a limit made for a short one.
    const double work = encoderWindowSeconds(audio.size(), window);
    const double limit = pace_.limitSeconds(work);
    const PolishSpeed::SpeechGuard speaking(servers_->polishSpeed().get());
    // whisper-server takes no key: what listens on its port must be the process we launched,
    // before the speech goes out and when the answer is in.
    if (!servers_->whisperIsOurs()) {
        log("Whisper: el puerto no lo tiene el servidor de Vozmo; no se envía el audio");
        return Error{Error::Kind::transcriptionFailed, "servidor ajeno"};
    }
    const auto started = std::chrono::steady_clock::now();
    auto raw = transcribeSamples(audio, language, prompt, WHISPER_PORT, window, limit, stop);
    if (stop.stop_requested()) {
        return Error{Error::Kind::cancelled, {}};
    }
    if (raw) {
        pace_.answered(
            work,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    } else if (raw.error().kind == Error::Kind::transcriptionTimedOut) {
        pace_.timedOut(work, limit);
    }
    if (raw && !servers_->whisperIsOurs()) {
        log("Whisper: la respuesta no vino del servidor de Vozmo; se descarta");
        return Error{Error::Kind::transcriptionFailed, "servidor ajeno"};
    }
    return raw;
}

bool ServerPolish::ready() const {
    return servers_->llmReady();
}

PolishPlan ServerPolish::plan(std::string_view text, double limitSeconds) {
    return planPolish(*servers_->polishSpeed(), text, limitSeconds);
}

Result<std::string> ServerPolish::polish(std::string_view text,
                                         const std::vector<std::string>& vocabulary,
                                         std::stop_token stop) {
    return polishMeasured(*servers_->polishSpeed(), text, vocabulary, LLM_PORT, 0, std::move(stop),
                          servers_->llmApiKey());
}

bool DesktopTypist::trusted() {
    // Asking opens connections to the display server, which costs milliseconds on every
    // dictation; and what it offers does not go away while it runs, so a yes is kept.
    if (!trusted_) {
        trusted_ = env_.canListenAndType && env_.canListenAndType();
    }
    return trusted_;
}

bool DesktopTypist::needsLeadingSpace() {
    return env_.needsLeadingSpace && env_.needsLeadingSpace();
}

Outcome DesktopTypist::paste(const std::string& text) {
    if (!env_.paste) {
        return Error{Error::Kind::pasteFailed, "sin pegado"};
    }
    return env_.paste(text);
}

bool DesktopTypist::sendKey(const KeyStroke& stroke) {
    return env_.sendKey && env_.sendKey(stroke);
}

void DesktopTypist::prepare() {
    if (env_.preparePaste) {
        env_.preparePaste();
    }
}

void DesktopTypist::copy(const std::string& text) {
    if (env_.copyText) {
        env_.copyText(text);
    }
}

std::optional<TargetApp> DesktopTargets::focused() {
    return env_.focusedApp ? env_.focusedApp() : std::nullopt;
}

TargetApp DesktopTargets::own() {
    return env_.ownIdentity ? env_.ownIdentity() : TargetApp{};
}

void PanelHud::show(const HUDMode& mode) {
    HUD& hud = panel_();
    hud.view().setWindowTitle(describe(mode));
    hud.show(mode);
}

void PanelHud::flash(const HUDMode& mode, double seconds) {
    HUD& hud = panel_();
    hud.view().setWindowTitle(describe(mode));
    hud.flash(mode, seconds);
}

void PanelHud::hide(double seconds) {
    panel_().hide(seconds);
}

QtClock::QtClock() : timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        auto action = std::move(action_);
        action_ = nullptr;
        if (action) {
            action();
        }
    });
}

Clock::TimePoint QtClock::now() const {
    return std::chrono::steady_clock::now();
}

void QtClock::setAlarm(std::chrono::milliseconds after, std::function<void()> action) {
    action_ = std::move(action);
    timer_->start(after);
}

void QtClock::clearAlarm() {
    timer_->stop();
    action_ = nullptr;
}

void QtMainQueue::post(std::function<void()> work) {
    postToMain(std::move(work));
}

} // namespace vozmo
