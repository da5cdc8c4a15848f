#include "app_delegate.h"

#include "adapt.h"
#include "clean_whisper.h"
#include "config.h"
#include "find_binary.h"
#include "hotkey.h"
#include "hud.h"
#include "log.h"
#include "main_thread.h"
#include "model_catalog.h"
#include "model_files.h"
#include "notices.h"
#include "paste.h"
#include "polish_speed.h"
#include "polisher.h"
#include "prefs.h"
#include "recorder.h"
#include "servers.h"
#include "setup.h"
#include "setup_window.h"
#include "speech_window.h"
#include "status_icon.h"
#include "status_menu.h"
#include "transcribe.h"
#include "vocabulary.h"
#include "wav.h"

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace vozmo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTapThreshold = 0.3;
constexpr double kShortcutWindow = 1.5;
constexpr int kRecordingLimitMs = 300 * 1000;
constexpr double kSampleRate = 16000.0;
constexpr double kShortestRecording = 0.4;
constexpr float kQuietestPeak = 0.006f;
constexpr auto kSpeechServerWait = std::chrono::seconds(180);
constexpr size_t kLeadingSilence = 4800;
constexpr size_t kHistoryLength = 15;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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

// What the panel shows, in words: its window title, for screen readers and the window list.
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

// Everything a background run needs, copied on the main thread when the recording ends.
struct Job {
    std::int64_t generation = 0;
    std::vector<float> samples;
    std::string language;
    bool polish = true;
    bool fastTranscription = true;
    std::optional<TargetApp> target;
    double duration = 0;
};

} // namespace

AppDelegate::AppDelegate(AppEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)), servers_(std::make_shared<Servers>()),
      recorder_(std::make_unique<Recorder>(env_.makeAudioInput)),
      hotkey_(std::make_unique<Hotkey>(env_.makeKeyEvents)), downAt_(Clock::now()) {
    wasTrusted_ = env_.accessibilityTrusted && env_.accessibilityTrusted();

    SetupEnvironment setupEnv = desktopSetupEnvironment();
    setupEnv.micStatus = [this] {
        return env_.microphoneStatus ? static_cast<int>(env_.microphoneStatus()) : 0;
    };
    if (env_.accessibilityTrusted) {
        setupEnv.keyAccessOk = env_.accessibilityTrusted;
    }
    setupEnv.watchFnKey = [this](std::function<void()> onFnSeen) {
        fnWatcher_ = std::move(onFnSeen);
    };
    setup_ = std::make_unique<Setup>(std::move(setupEnv));
    // Checked while its window is open; the window turns this on.
    setup_->setChecking(false);
    setupWindow_ = std::make_unique<SetupWindowHost>(*setup_);
    notices_ = std::make_unique<Notices>(env_.notifier.get());

    maxTimer_ = new QTimer(this);
    maxTimer_->setSingleShot(true);
    maxTimer_->setInterval(kRecordingLimitMs);
    connect(maxTimer_, &QTimer::timeout, this, &AppDelegate::finish);
}

AppDelegate::~AppDelegate() = default;

HUD& AppDelegate::hud() {
    if (!hud_) {
        hud_ = std::make_unique<HUD>();
    }
    return *hud_;
}

void AppDelegate::show(const HUDMode& mode) {
    hud().view().setWindowTitle(describe(mode));
    hud().show(mode);
}

void AppDelegate::flash(const HUDMode& mode, double seconds) {
    hud().view().setWindowTitle(describe(mode));
    hud().flash(mode, seconds);
}

void AppDelegate::play(const std::string& name) {
    if (Prefs::sounds() && env_.sounds) {
        env_.sounds->play(name);
    }
}

void AppDelegate::updateIcon() {
    if (icon_) {
        Readiness readiness;
        readiness.whisperAvailable = servers_->whisperAvailable();
        readiness.whisperReady = servers_->whisperReady();
        readiness.llmAvailable = servers_->llmAvailable();
        readiness.llmReady = servers_->llmReady();
        icon_->update(state_, readiness);
    }
}

void AppDelegate::showSetup() {
    setupWindow_->showSetup();
}

// ---- Lifecycle ----

void AppDelegate::applicationDidFinishLaunching() {
    ensureSupport();

    menu_ = std::make_unique<StatusMenu>(
        makeLoginItem(config().autostartFile, config().executableDir / "vozmo"));
    menu_->readiness = [this] {
        Readiness readiness;
        readiness.whisperAvailable = servers_->whisperAvailable();
        readiness.whisperReady = servers_->whisperReady();
        readiness.llmAvailable = servers_->llmAvailable();
        readiness.llmReady = servers_->llmReady();
        readiness.polishTooSlow = servers_->polishSpeed()->tooSlow();
        readiness.fasterPolishModel = setup_->modelTier(ModelRole::polish) != ModelTier::fast;
        readiness.problem = setup_->serverProblem();
        return readiness;
    };
    menu_->history = [this] { return history_; };
    menu_->keyMonitorOk = [this] { return keyMonitorAvailable(); };
    menu_->pasteOk = [this] { return !env_.accessibilityTrusted || env_.accessibilityTrusted(); };
    menu_->onFlash = [this](const HUDMode& mode, double seconds) { flash(mode, seconds); };
    menu_->onShowSetup = [this] { showSetup(); };
    icon_ = std::make_unique<StatusIcon>();
    icon_->install(menu_->menu());
    updateIcon();
    if (!icon_->visibleInTray()) {
        // Nothing shows the icon: the setup window is the one way in, and it says so. It
        // leaves the focus alone: the user may already be typing somewhere.
        setupWindow_->setTrayMissing(true);
        setupWindow_->showSetupWithoutFocus();
        notices_->noTrayHost();
    }

    QPointer<AppDelegate> self(this);
    servers_->setOnChange([self] {
        if (self) {
            self->serversChanged();
        }
    });
    setup_->onModelsReady = [self] {
        if (self) {
            const SetupWindow* window = self->setupWindow_->window();
            self->notices_->modelsReady(window != nullptr && window->isVisible(),
                                        Prefs::hotkeyName());
            self->startServersIfPossible();
            // A model chosen anew replaces the file a running server loaded.
            self->servers_->reloadChangedModels();
        }
    };
    // Setup's own checks notice a program copied in while its window is open.
    connect(setup_.get(), &Setup::changed, this, [this] {
        if (setup_->modelsOK() && setup_->whisperServerFound() && !servers_->whisperLaunched()) {
            startServersIfPossible();
        }
    });
    watchServerFolders();
    startServersIfPossible();

    if (!setup_->ready() || !Prefs::boolForKey("setupShown")) {
        Prefs::setBool("setupShown", true);
        showSetup();
    }

    recorder_->onLevel = [self](float level) {
        // The capture thread must not touch the panel: hop to the main thread.
        postToMain([self, level] {
            if (self) {
                self->hud().push(level);
            }
        });
    };
    recorder_->onLost = [self](unsigned session, const std::string& why) {
        postToMain([self, session, why] {
            if (self) {
                self->recordingLost(session, why);
            }
        });
    };
    hotkey_->onDown = [self] {
        if (self) {
            self->keyDown();
        }
    };
    hotkey_->onUp = [self] {
        if (self) {
            self->keyUp();
        }
    };
    hotkey_->onOtherKey = [self] {
        if (self) {
            self->otherKey();
        }
    };
    hotkey_->onEscape = [self] {
        if (self) {
            self->cancel(false);
        }
    };
    hotkey_->install();

    accessibilityPoll_ = new QTimer(this);
    accessibilityPoll_->setInterval(2000);
    connect(accessibilityPoll_, &QTimer::timeout, this, &AppDelegate::pollAccessibility);
    accessibilityPoll_->start();

    log(std::string("Vozmo iniciado. Accesibilidad: ") + (wasTrusted_ ? "true" : "false"));
}

void AppDelegate::applicationWillTerminate() {
    ++generation_;
    worker_.request_stop();
    servers_->stop();
}

void AppDelegate::startServersIfPossible() {
    if (!usableModelsPresent()) {
        return;
    }
    const bool wasLaunched = servers_->whisperLaunched();
    // Starts whichever server is there and not running yet; the others stay as they are.
    servers_->start();
    if (!wasLaunched && servers_->whisperLaunched() && state_ == State::idle) {
        show(HUDMode::loading());
    }
    updateSetupServers();
}

void AppDelegate::updateSetupServers() {
    std::string problem;
    if (servers_->whisperPortBusy()) {
        problem = portBusyMessage(WHISPER_PORT);
    } else if (servers_->llmPortBusy()) {
        problem = portBusyMessage(LLM_PORT);
    }
    setup_->setServerProblem(problem);
}

// The programs and models may arrive while we run (a download, a copy into ~/.local/bin):
// watch the folders they are looked up in. A folder that does not exist yet is watched through
// its nearest existing parent, and the watch moves down as the folders appear.
void AppDelegate::watchServerFolders() {
    if (!folderWatch_) {
        folderWatch_ = new QFileSystemWatcher(this);
        connect(folderWatch_, &QFileSystemWatcher::directoryChanged, this, [this] {
            watchServerFolders();
            startServersIfPossible();
        });
    }
    const char* path = std::getenv("PATH");
    const char* home = std::getenv("HOME");
    auto folders = binarySearchFolders(config().executableDir, path ? path : "", home ? home : "");
    folders.push_back(config().modelsDir);
    QStringList wanted;
    for (auto folder : folders) {
        std::error_code ec;
        while (!folder.empty() && !std::filesystem::is_directory(folder, ec) &&
               folder != folder.root_path()) {
            folder = folder.parent_path();
        }
        const QString name = QString::fromStdString(folder.string());
        if (!folder.empty() && !wanted.contains(name)) {
            wanted.push_back(name);
        }
    }
    const QStringList watched = folderWatch_->directories();
    for (const auto& name : watched) {
        if (!wanted.contains(name)) {
            folderWatch_->removePath(name);
        }
    }
    for (const auto& name : wanted) {
        if (!watched.contains(name)) {
            folderWatch_->addPath(name);
        }
    }
}

void AppDelegate::serversChanged() {
    updateIcon();
    if (servers_->whisperGaveUp()) {
        notices_->speechServerGaveUp((config().logsDir / "whisper.log").string());
    }
    updateSetupServers();
    if (!servers_->whisperReady() || announcedReady_) {
        return;
    }
    announcedReady_ = true;
    if (state_ != State::idle) {
        return;
    }
    flash(HUDMode::done(QString::fromStdString("Listo · mantén " + Prefs::hotkeyName())), 2.2);
}

void AppDelegate::pollAccessibility() {
    bool trusted = env_.accessibilityTrusted && env_.accessibilityTrusted();
    if (trusted && !wasTrusted_) {
        hotkey_->install();
        flash(HUDMode::done(QStringLiteral("Permiso concedido")), 1.5);
    }
    wasTrusted_ = trusted;
}

// ---- Controller ----

void AppDelegate::keyDown() {
    if (ignorePressUntil_) {
        const bool ours = Clock::now() < *ignorePressUntil_;
        ignorePressUntil_.reset();
        if (ours) {
            return;
        }
    }
    if (fnWatcher_) {
        // The setup window is listening for the Fn key: this press answers it.
        auto seen = std::move(fnWatcher_);
        fnWatcher_ = nullptr;
        seen();
        return;
    }
    if (state_ == State::idle) {
        startRecording();
    } else if (state_ == State::recording && locked_) {
        finish();
    }
}

void AppDelegate::keyUp() {
    if (state_ != State::recording || locked_) {
        return;
    }
    if (secondsSince(downAt_) < kTapThreshold) {
        locked_ = true;
        show(HUDMode::listening(true));
        return;
    }
    finish();
}

void AppDelegate::otherKey() {
    if (state_ != State::recording || locked_) {
        return;
    }
    if (secondsSince(downAt_) < kShortcutWindow) {
        cancel(true);
    }
}

void AppDelegate::cancel(bool silent) {
    if (state_ == State::idle) {
        return;
    }
    if (state_ == State::recording) {
        maxTimer_->stop();
        recorder_->stop();
    }
    ++generation_;
    // The upload or the transcription in flight ends now: the speech server serves one request
    // at a time, and the next dictation must not queue behind this one.
    worker_.request_stop();
    state_ = State::idle;
    updateIcon();
    if (silent) {
        hud().hide(0);
    } else {
        flash(HUDMode::message(QStringLiteral("Cancelado"), HUDColors::grey), 0.9);
    }
}

void AppDelegate::startRecording() {
    if (!servers_->whisperAvailable()) {
        showSetup();
        return;
    }
    if (env_.microphoneStatus && env_.microphoneStatus() == MicrophoneStatus::denied) {
        flash(
            HUDMode::message(QStringLiteral("Permite el micrófono en Ajustes"), HUDColors::orange),
            3.0);
        if (env_.openMicrophoneSettings) {
            env_.openMicrophoneSettings();
        }
        return;
    }
    target_ = env_.frontmostApp ? env_.frontmostApp() : std::nullopt;
    if (auto error = recorder_->start()) {
        log("Error de micrófono: " + error->description);
        flash(HUDMode::message(QStringLiteral("No hay micrófono disponible"), HUDColors::orange),
              2.5);
        return;
    }
    state_ = State::recording;
    locked_ = false;
    downAt_ = Clock::now();
    play("Tink");
    updateIcon();
    show(HUDMode::listening(false));
    maxTimer_->start();
}

// The sound server went away mid-recording: the recording ends now, with a message, rather than
// running on in silence until the key is let go.
void AppDelegate::recordingLost(unsigned session, const std::string& why) {
    if (state_ != State::recording || session != recorder_->session()) {
        return;
    }
    maxTimer_->stop();
    recorder_->stop();
    state_ = State::idle;
    updateIcon();
    log("Error de micrófono: " + why);
    flash(HUDMode::message(QStringLiteral("Se perdió el micrófono"), HUDColors::orange), 2.5);
}

// ---- Pipeline ----

void AppDelegate::finish() {
    if (state_ != State::recording) {
        return;
    }
    maxTimer_->stop();
    Recorder::Recording recording = recorder_->stop();
    state_ = State::processing;
    updateIcon();
    play("Pop");
    const double duration = static_cast<double>(recording.samples.size()) / kSampleRate;
    if (duration < kShortestRecording || recording.peak < kQuietestPeak) {
        state_ = State::idle;
        updateIcon();
        flash(HUDMode::message(QStringLiteral("No te he oído"), HUDColors::orange), 1.2);
        return;
    }
    ++generation_;
    worker_.request_stop();
    // Waiting makes sense only for a server that is on its way up.
    if (!servers_->whisperReady() &&
        (!servers_->whisperLaunched() || servers_->whisperPortBusy())) {
        const std::string message = servers_->whisperPortBusy() ? portBusyMessage(WHISPER_PORT)
                                    : servers_->whisperGaveUp() ? "Error al transcribir"
                                                                : "Falta whisper-server";
        log("Dictado sin transcribir: " + message);
        fail(generation_, message);
        return;
    }
    Job job;
    job.generation = generation_;
    job.samples = std::move(recording.samples);
    job.language = Prefs::language();
    job.polish = Prefs::polish();
    job.fastTranscription = Prefs::fastTranscription();
    job.target = target_;
    job.duration = duration;
    show(servers_->whisperReady() ? HUDMode::transcribing() : HUDMode::loading());

    QPointer<AppDelegate> self(this);
    // Runs on the main thread only while the run is still the current dictation.
    auto whenCurrent = [self, generation = job.generation](auto action) {
        postToMain([self, generation, action = std::move(action)] {
            if (self && self->generation_ == generation) {
                action(*self);
            }
        });
    };
    // The previous run was told to stop above; its requests end at once, so this wait is short.
    worker_ = std::jthread([servers = servers_, job = std::move(job),
                            whenCurrent](std::stop_token stop) mutable {
        const auto waited = servers->waitForWhisper(stop, kSpeechServerWait);
        if (waited == Servers::Wait::stopped) {
            return;
        }
        if (waited == Servers::Wait::portBusy || waited == Servers::Wait::notLaunched) {
            const std::string message = waited == Servers::Wait::portBusy
                                            ? portBusyMessage(WHISPER_PORT)
                                            : "Falta whisper-server";
            whenCurrent([generation = job.generation, message](AppDelegate& app) {
                app.fail(generation, message);
            });
            return;
        }
        whenCurrent([](AppDelegate& app) { app.show(HUDMode::transcribing()); });

        const Vocabulary vocabulary = Vocabulary::load();
        std::vector<float> audio(kLeadingSilence, 0.0f);
        audio.insert(audio.end(), job.samples.begin(), job.samples.end());
        job.samples = {};
        const auto t0 = Clock::now();
        auto wav = wavData(audio);
        const std::size_t samples = audio.size();
        audio = {};
        std::optional<std::string> raw;
        if (wav) {
            const int window = job.fastTranscription ? speechWindowFrames(samples) : 0;
            const PolishSpeed::SpeechGuard speaking(servers->polishSpeed().get());
            raw = transcribe(*wav, job.language, vocabulary.whisperPrompt(), WHISPER_PORT, window,
                             stop);
        }
        if (stop.stop_requested()) {
            return;
        }
        if (!raw) {
            whenCurrent([generation = job.generation](AppDelegate& app) {
                app.fail(generation, "Error al transcribir");
            });
            return;
        }
        std::string text = vocabulary.apply(cleanWhisper(*raw));
        const double whisperTime = secondsSince(t0);
        if (text.empty()) {
            whenCurrent([generation = job.generation](AppDelegate& app) {
                app.fail(generation, "No he entendido nada");
            });
            return;
        }
        double iaTime = 0;
        std::string_view refusal; // a reason code, never the text
        if (job.polish && servers->llmReady() && spaceSeparatedWords(text) >= 3) {
            auto speed = servers->polishSpeed();
            const PolishPlan plan = planPolish(*speed, text, polishLimitSeconds());
            if (plan.outcome == PolishPlan::Outcome::polish) {
                whenCurrent([](AppDelegate& app) { app.show(HUDMode::polishing()); });
                const auto t1 = Clock::now();
                auto polished = polishMeasured(*speed, text, vocabulary.words, LLM_PORT, 0, stop);
                if (stop.stop_requested()) {
                    return;
                }
                if (polished) {
                    const Polisher::Verdict verdict = Polisher::judge(text, *polished);
                    if (verdict.accepted) {
                        text = vocabulary.apply(*polished);
                    }
                    refusal = verdict.reason;
                }
                iaTime = secondsSince(t1);
            } else {
                log(plan.logLine);
            }
        }
        text =
            adapt(text, job.target ? std::optional<std::string>(job.target->appId) : std::nullopt);
        char line[160];
        std::snprintf(line, sizeof line, "Dictado %.1f s · Whisper %.2f s · IA %.2f s%s%.*s",
                      job.duration, whisperTime, iaTime,
                      refusal.empty() ? "" : " · descartada: ", int(refusal.size()),
                      refusal.data());
        log(line);
        whenCurrent([text, target = job.target](AppDelegate& app) { app.deliver(text, target); });
    });
}

void AppDelegate::fail(std::int64_t generation, const std::string& message) {
    if (generation != generation_) {
        return;
    }
    state_ = State::idle;
    updateIcon();
    play("Basso");
    flash(HUDMode::message(QString::fromStdString(message), HUDColors::orange), 1.8);
}

void AppDelegate::deliver(const std::string& text, const std::optional<TargetApp>& target) {
    state_ = State::idle;
    updateIcon();
    history_.insert(history_.begin(), text);
    if (history_.size() > kHistoryLength) {
        history_.pop_back();
    }
    const bool trusted = env_.accessibilityTrusted && env_.accessibilityTrusted();
    const auto now = env_.frontmostApp ? env_.frontmostApp() : std::nullopt;
    const TargetApp own = env_.ownIdentity ? env_.ownIdentity() : TargetApp{};
    const bool targetIsUs = target && (target->pid == own.pid || target->appId == own.appId);
    if (trusted && target && now && sameApp(*target, *now) && !targetIsUs) {
        std::string typed = text;
        if (env_.needsLeadingSpace && env_.needsLeadingSpace()) {
            typed.insert(typed.begin(), ' ');
        }
        if (hotkey_->isDown) {
            ignorePressUntil_ = Clock::now() + std::chrono::seconds(1);
        }
        if (env_.paste) {
            env_.paste(typed);
        }
        hud().hide(0);
        return;
    }
    if (env_.copyText) {
        env_.copyText(text);
    }
    // The user pastes wherever the focus now is, so name that window's paste keys.
    const std::string keys = pasteKeysName(now);
    if (trusted) {
        notices_->leftOnClipboard(keys);
    }
    flash(HUDMode::done(trusted ? QString::fromStdString("Copiado: pega con " + keys)
                                : QStringLiteral("Copiado · falta permiso")),
          1.8);
}

} // namespace vozmo
